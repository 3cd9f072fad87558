// UTF-16 text the way NT 4.0 treats it: code units one at a time (NT 4.0
// knows no surrogate pairs), upper and lower case by its case tables, and
// carried in std::string as UTF-8 where the machine keeps text itself.
#pragma once
#include <string>
#include <type_traits>

namespace ntsim {

// NT's case tables, for the scripts the machine's code pages carry (Latin,
// Greek, Cyrillic, Armenian, full-width forms); others stay as they are.
char16_t upperCase(char16_t c);
char16_t lowerCase(char16_t c);

// UTF-16 as UTF-8, a code unit at a time: a lone surrogate is kept (as
// its three bytes), and the bytes sort as the units do.
std::string utf16ToUtf8(const char16_t* text, size_t length);
std::string utf16ToUtf8(const std::u16string& text);
// And back; bytes that are no UTF-8 become U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
// How many UTF-16 units the UTF-8 text holds.
size_t utf16Length(const std::string& text);

// The upper-case form of UTF-8 text, unit by unit.
std::string upperUtf8(const std::string& text);
bool equalsNoCaseUtf8(const std::string& a, const std::string& b);

// A zero-terminated UTF-16 string's length.
size_t wideLength(const char16_t* text);

// Whether text is ASCII alone, which every code page of the machine, UTF-8
// and UTF-16 keep as it is.
template<typename Char>
bool isAscii(const Char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (static_cast<std::make_unsigned_t<Char>>(text[i]) >= 0x80)
            return false;
    return true;
}

}
