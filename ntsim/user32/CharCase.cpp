// CharUpperA and CharUpperBuffA: upper case in the machine's ANSI code
// page, in place, a character at a time so that the byte count stays.
#include <windows.h>

#include "kernel32/Conversion.h"
#include "machine/ApiCall.h"

#include <string>

namespace {

char16_t upperOf(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) // Greek
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) // Cyrillic
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) // full-width Latin
        return static_cast<char16_t>(c - 0x20);
    return c;
}

// One character (one or two bytes) at p; how many bytes it takes.
size_t characterLength(const char* p, size_t left, unsigned codePage)
{
    if (left < 2)
        return left;
    std::u16string one;
    // A lead byte decodes only together with its trail byte.
    if (ntsim::decodeText(p, 1, codePage, one) && one.size() == 1 && one[0] != 0xFFFD)
        return 1;
    return 2;
}

void upperInPlace(char* text, size_t size)
{
    unsigned codePage = ntsim::resolveCodePage(CP_ACP);
    size_t pos = 0;
    while (pos < size) {
        size_t n = characterLength(text + pos, size - pos, codePage);
        std::u16string wide;
        if (ntsim::decodeText(text + pos, n, codePage, wide) && wide.size() == 1) {
            char16_t upper = upperOf(wide[0]);
            std::string encoded;
            if (upper != wide[0] && ntsim::encodeText(&upper, 1, codePage, "", encoded) && encoded.size() == n)
                encoded.copy(text + pos, n);
        }
        pos += n;
    }
}

}

extern "C" LPSTR WINAPI CharUpperA(LPSTR lpsz)
{
    ntsim::ApiCall call("CharUpperA", lpsz);
    // A pointer whose high word is zero carries one character in its low byte.
    if (reinterpret_cast<ULONG_PTR>(lpsz) <= 0xFFFF) {
        char c = static_cast<char>(reinterpret_cast<ULONG_PTR>(lpsz) & 0xFF);
        upperInPlace(&c, 1);
        return call.returns(reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<unsigned char>(c))));
    }
    upperInPlace(lpsz, std::char_traits<char>::length(lpsz));
    return call.returns(lpsz);
}

extern "C" DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength)
{
    ntsim::ApiCall call("CharUpperBuffA", lpsz, cchLength);
    if (!lpsz)
        return call.returns(0);
    upperInPlace(lpsz, cchLength);
    return call.returns(cchLength);
}
