// user32's calls as the platform itself makes them (an installer's error
// box). Only a program's call enters through the public entry point, which
// alone consults the faults a machine injects, so the platform's own work
// never counts toward a program's n-th call.
#pragma once
#include <windows.h>

namespace ntsim::user32 {

int messageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}
