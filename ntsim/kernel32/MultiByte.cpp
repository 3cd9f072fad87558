// MultiByteToWideChar and WideCharToMultiByte.
#include "Conversion.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD mbValidFlags = MB_PRECOMPOSED | 0x2 /* MB_COMPOSITE */ | 0x4 /* MB_USEGLYPHCHARS */ | MB_ERR_INVALID_CHARS;
constexpr DWORD wcValidFlags = 0x10 /* WC_DISCARDNS */ | 0x20 /* WC_SEPCHARS */ | 0x40 /* WC_DEFAULTCHAR */
    | 0x200 /* WC_COMPOSITECHECK */ | 0x400 /* WC_NO_BEST_FIT_CHARS */;

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
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0
        || (cchWideChar > 0 && !lpWideCharStr)
        || static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwFlags & ~mbValidFlags) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    unsigned codePage = ntsim::resolveCodePage(CodePage);
    if (!codePage) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the terminator is converted too and counted.
    size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    std::u16string wide;
    bool valid = ntsim::decodeText(lpMultiByteStr, size, codePage, wide);
    if (!valid && (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchWideChar == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        std::memcpy(lpWideCharStr, wide.data(), static_cast<size_t>(cchWideChar) * sizeof(WCHAR));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
    LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0
        || (cbMultiByte > 0 && !lpMultiByteStr)
        || static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    unsigned codePage = ntsim::resolveCodePage(CodePage);
    if (!codePage) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (codePage == CP_UTF8) {
        // UTF-8 has a mapping for everything: no flags, no default character.
        if (dwFlags) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (lpDefaultChar || lpUsedDefaultChar) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    } else if (dwFlags & ~wcValidFlags) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t size = cchWideChar == -1 ? wideLength(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    std::string defaultChar = lpDefaultChar && *lpDefaultChar ? std::string(lpDefaultChar, 1) : std::string("?");
    std::string bytes;
    bool mapped = ntsim::encodeText(lpWideCharStr, size, codePage, defaultChar, bytes);
    if (cbMultiByte == 0) {
        if (lpUsedDefaultChar)
            *lpUsedDefaultChar = mapped ? FALSE : TRUE;
        return static_cast<int>(bytes.size());
    }
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
        std::memcpy(lpMultiByteStr, bytes.data(), static_cast<size_t>(cbMultiByte));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = mapped ? FALSE : TRUE;
    return static_cast<int>(bytes.size());
}
