// CharUpper and CharLower with their Buff forms: upper or lower case in
// place by NT's case tables (machine/Unicode.h). The A forms go through the
// machine's ANSI code page a character at a time, so that the byte count
// stays: a character whose other case the code page lacks stays as it is.
#include <windows.h>

#include "machine/ApiCall.h"
#include "machine/CodePage.h"
#include "machine/Unicode.h"

#include <string>

namespace {

using CaseMap = char16_t (*)(char16_t);

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

void mapAnsi(char* text, size_t size, CaseMap map)
{
    unsigned codePage = ntsim::resolveCodePage(CP_ACP);
    size_t pos = 0;
    while (pos < size) {
        size_t n = characterLength(text + pos, size - pos, codePage);
        std::u16string wide;
        if (ntsim::decodeText(text + pos, n, codePage, wide) && wide.size() == 1) {
            char16_t mapped = map(wide[0]);
            std::string encoded;
            if (mapped != wide[0] && ntsim::encodeText(&mapped, 1, codePage, "", encoded) && encoded.size() == n)
                encoded.copy(text + pos, n);
        }
        pos += n;
    }
}

void mapWide(WCHAR* text, size_t size, CaseMap map)
{
    for (size_t i = 0; i < size; ++i)
        text[i] = map(text[i]);
}

// A pointer whose high word is zero carries one character in its low word
// (its low byte for the A form) and gets it back mapped.
bool isCharacter(const void* pointer)
{
    return reinterpret_cast<ULONG_PTR>(pointer) <= 0xFFFF;
}

LPSTR mapStringA(LPSTR text, CaseMap map)
{
    if (isCharacter(text)) {
        char c = static_cast<char>(reinterpret_cast<ULONG_PTR>(text) & 0xFF);
        mapAnsi(&c, 1, map);
        return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<unsigned char>(c)));
    }
    mapAnsi(text, std::char_traits<char>::length(text), map);
    return text;
}

LPWSTR mapStringW(LPWSTR text, CaseMap map)
{
    if (isCharacter(text)) {
        WCHAR c = static_cast<WCHAR>(reinterpret_cast<ULONG_PTR>(text) & 0xFFFF);
        return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(map(c)));
    }
    mapWide(text, ntsim::wideLength(text), map);
    return text;
}

void mapText(char* text, size_t size, CaseMap map)
{
    mapAnsi(text, size, map);
}

void mapText(WCHAR* text, size_t size, CaseMap map)
{
    mapWide(text, size, map);
}

// The Buff forms: length characters, whatever they hold; how many.
template<typename Char>
DWORD mapBuffer(Char* text, DWORD length, CaseMap map)
{
    if (!text)
        return 0;
    mapText(text, length, map);
    return length;
}

}

extern "C" LPSTR WINAPI CharUpperA(LPSTR lpsz)
{
    ntsim::ApiCall call("CharUpperA", lpsz);
    return call.returns(mapStringA(lpsz, ntsim::upperCase));
}

extern "C" LPWSTR WINAPI CharUpperW(LPWSTR lpsz)
{
    ntsim::ApiCall call("CharUpperW", lpsz);
    return call.returns(mapStringW(lpsz, ntsim::upperCase));
}

extern "C" LPSTR WINAPI CharLowerA(LPSTR lpsz)
{
    ntsim::ApiCall call("CharLowerA", lpsz);
    return call.returns(mapStringA(lpsz, ntsim::lowerCase));
}

extern "C" LPWSTR WINAPI CharLowerW(LPWSTR lpsz)
{
    ntsim::ApiCall call("CharLowerW", lpsz);
    return call.returns(mapStringW(lpsz, ntsim::lowerCase));
}

extern "C" DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength)
{
    ntsim::ApiCall call("CharUpperBuffA", lpsz, cchLength);
    return call.returns(mapBuffer(lpsz, cchLength, ntsim::upperCase));
}

extern "C" DWORD WINAPI CharUpperBuffW(LPWSTR lpsz, DWORD cchLength)
{
    ntsim::ApiCall call("CharUpperBuffW", lpsz, cchLength);
    return call.returns(mapBuffer(lpsz, cchLength, ntsim::upperCase));
}

extern "C" DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength)
{
    ntsim::ApiCall call("CharLowerBuffA", lpsz, cchLength);
    return call.returns(mapBuffer(lpsz, cchLength, ntsim::lowerCase));
}

extern "C" DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength)
{
    ntsim::ApiCall call("CharLowerBuffW", lpsz, cchLength);
    return call.returns(mapBuffer(lpsz, cchLength, ntsim::lowerCase));
}
