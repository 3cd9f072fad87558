// A string of a module's string tables in the machine's ANSI code page, for
// the system's own use (LoadStringA without counting as a program's call).
#pragma once
#include <windows.h>

#include <string>

namespace ntsim::user32 {

bool loadString(HINSTANCE instance, UINT id, std::string& text);

}
