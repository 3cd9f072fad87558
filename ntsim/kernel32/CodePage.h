// Conversions between the machine's ANSI code pages, UTF-16 and UTF-8.
#pragma once
#include <string>

namespace ntsim {

// The machine's ANSI code page (GetACP).
unsigned ansiCodePage();

// False when the text is not valid in its code page; out then holds what
// could be converted, with U+FFFD (or '?') for the rest.
bool toUtf16(const std::string& text, unsigned codePage, std::u16string& out);
bool fromUtf16(const std::u16string& text, unsigned codePage, std::string& out);

std::string ansiToUtf8(const std::string& text, unsigned codePage);
std::string utf8ToAnsi(const std::string& text, unsigned codePage);

}
