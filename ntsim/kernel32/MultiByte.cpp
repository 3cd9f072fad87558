// MultiByteToWideChar and WideCharToMultiByte.
#include "machine/CodePage.h"
#include "machine/ApiCall.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD mbValidFlags = MB_PRECOMPOSED | 0x2 /* MB_COMPOSITE */ | 0x4 /* MB_USEGLYPHCHARS */ | MB_ERR_INVALID_CHARS;
constexpr DWORD wcValidFlags = 0x10 /* WC_DISCARDNS */ | 0x20 /* WC_SEPCHARS */ | 0x40 /* WC_DEFAULTCHAR */
    | 0x200 /* WC_COMPOSITECHECK */ | 0x400 /* WC_NO_BEST_FIT_CHARS */;

int failWith(DWORD error)
{
    SetLastError(error);
    return 0;
}

// Copies a converted text out: with no room given, only its length; with
// too little, as much as fits and ERROR_INSUFFICIENT_BUFFER.
template <typename Text, typename Char>
int copyConverted(const Text& text, Char* buffer, int capacity)
{
    static_assert(sizeof(Char) == sizeof(typename Text::value_type));
    if (capacity == 0)
        return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(capacity)) {
        std::memcpy(buffer, text.data(), static_cast<size_t>(capacity) * sizeof(Char));
        return failWith(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(Char));
    return static_cast<int>(text.size());
}

size_t wideLength(LPCWSTR s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

}

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
    LPWSTR lpWideCharStr, int cchWideChar)
{
    ntsim::ApiCall call("MultiByteToWideChar", CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
    if (call.faulted())
        return call.returns(0);
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0
        || (cchWideChar > 0 && !lpWideCharStr)
        || static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    if (dwFlags & ~mbValidFlags)
        return call.returns(failWith(ERROR_INVALID_FLAGS));
    unsigned codePage = ntsim::resolveCodePage(CodePage);
    if (!codePage)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    // -1: the terminator is converted too and counted.
    size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    std::u16string wide;
    bool valid = ntsim::decodeText(lpMultiByteStr, size, codePage, wide);
    if (!valid && (dwFlags & MB_ERR_INVALID_CHARS))
        return call.returns(failWith(ERROR_NO_UNICODE_TRANSLATION));
    return call.returns(copyConverted(wide, lpWideCharStr, cchWideChar));
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
    LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    ntsim::ApiCall call("WideCharToMultiByte", CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
    if (call.faulted())
        return call.returns(0);
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0
        || (cbMultiByte > 0 && !lpMultiByteStr)
        || static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    unsigned codePage = ntsim::resolveCodePage(CodePage);
    if (!codePage)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    if (codePage == CP_UTF8) {
        // UTF-8 has a mapping for everything: no flags, no default character.
        if (dwFlags)
            return call.returns(failWith(ERROR_INVALID_FLAGS));
        if (lpDefaultChar || lpUsedDefaultChar)
            return call.returns(failWith(ERROR_INVALID_PARAMETER));
    } else if (dwFlags & ~wcValidFlags) {
        return call.returns(failWith(ERROR_INVALID_FLAGS));
    }
    size_t size = cchWideChar == -1 ? wideLength(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    std::string defaultChar = lpDefaultChar && *lpDefaultChar ? std::string(lpDefaultChar, 1) : std::string("?");
    std::string bytes;
    bool mapped = ntsim::encodeText(lpWideCharStr, size, codePage, defaultChar, bytes);
    // Whether a default was used is told unless the buffer is too small.
    bool fits = cbMultiByte == 0 || bytes.size() <= static_cast<size_t>(cbMultiByte);
    if (lpUsedDefaultChar && fits)
        *lpUsedDefaultChar = mapped ? FALSE : TRUE;
    return call.returns(copyConverted(bytes, lpMultiByteStr, cbMultiByte));
}
