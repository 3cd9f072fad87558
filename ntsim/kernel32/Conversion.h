// The code-page conversions behind MultiByteToWideChar and
// WideCharToMultiByte, with the details the API reports.
#pragma once
#include <string>

namespace ntsim {

// The code page a Win32 code-page argument names (CP_ACP, CP_OEMCP, ...),
// or 0 when the machine has no tables for it.
unsigned resolveCodePage(unsigned codePage);

// False if some bytes are invalid in the code page; they become U+FFFD.
bool decodeText(const char* data, size_t size, unsigned codePage, std::u16string& out);
// False if some characters have no mapping; they become defaultChar.
bool encodeText(const char16_t* data, size_t size, unsigned codePage, const std::string& defaultChar, std::string& out);

}
