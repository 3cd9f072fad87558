// The machine's code pages: conversions between its ANSI and OEM code
// pages, UTF-16 and UTF-8, which every floor's A forms go through.
#pragma once
#include <string>

namespace ntsim {

// The machine's ANSI code page (GetACP).
unsigned ansiCodePage();

// The code page a Win32 code-page argument names (CP_ACP, CP_OEMCP, ...),
// or 0 when the machine has no tables for it.
unsigned resolveCodePage(unsigned codePage);

// False if some bytes are invalid in the code page; they become U+FFFD.
bool decodeText(const char* data, size_t size, unsigned codePage, std::u16string& out);
// False if some characters have no mapping; they become defaultChar.
bool encodeText(const char16_t* data, size_t size, unsigned codePage, const std::string& defaultChar, std::string& out);

// False when the text is not valid in its code page; out then holds what
// could be converted, with U+FFFD (or '?') for the rest.
bool toUtf16(const std::string& text, unsigned codePage, std::u16string& out);
bool fromUtf16(const std::u16string& text, unsigned codePage, std::string& out);

std::string ansiToUtf8(const std::string& text, unsigned codePage);
std::string utf8ToAnsi(const std::string& text, unsigned codePage);

}
