// user32's LoadStringA: a string of the string tables, in the machine's
// ANSI code page.
#include "LoadString.h"

#include "machine/CodePage.h"
#include "kernel32/Kernel32Calls.h"
#include "machine/ApiCall.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

// String id n is the (n % 16)-th string of block n / 16 + 1; each string is
// a count of UTF-16 units followed by the units.
bool stringOfBlock(const BYTE* data, DWORD size, unsigned index, std::u16string& out)
{
    DWORD offset = 0;
    for (unsigned i = 0;; ++i) {
        if (size < 2 || offset > size - 2)
            return false;
        DWORD length = data[offset] | data[offset + 1] << 8;
        offset += 2;
        if (length * 2 > size - offset)
            return false;
        if (i == index) {
            out.resize(length);
            for (DWORD k = 0; k < length; ++k)
                out[k] = static_cast<char16_t>(data[offset + 2 * k] | data[offset + 2 * k + 1] << 8);
            return true;
        }
        offset += length * 2;
    }
}

// The text cut to at most limit bytes without splitting a character.
std::string fitted(const std::u16string& text, unsigned codePage, size_t limit)
{
    std::string whole;
    ntsim::fromUtf16(text, codePage, whole);
    if (whole.size() <= limit)
        return whole;
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t units = (text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size()) ? 2 : 1;
        std::string one;
        ntsim::fromUtf16(text.substr(i, units), codePage, one);
        if (out.size() + one.size() > limit)
            break;
        out += one;
        i += units;
    }
    return out;
}

// The string in UTF-16, or nothing for a missing or empty one.
bool wideString(HINSTANCE instance, UINT id, std::u16string& text, DWORD& error)
{
    WORD block = static_cast<WORD>((LOWORD(id) >> 4) + 1);
    DWORD size = 0;
    const BYTE* data = ntsim::kernel32::resourceData(instance, RT_STRING, MAKEINTRESOURCEA(block), size, error);
    return data && stringOfBlock(data, size, id & 15, text) && !text.empty();
}

}

namespace ntsim::user32 {

bool loadString(HINSTANCE instance, UINT id, std::string& text)
{
    std::u16string wide;
    DWORD error = ERROR_SUCCESS;
    if (!wideString(instance, id, wide, error))
        return false;
    fromUtf16(wide, ansiCodePage(), text);
    return true;
}

}

extern "C" int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    ntsim::ApiCall call("LoadStringA", hInstance, uID, lpBuffer, cchBufferMax);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(0);
    }
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    lpBuffer[0] = 0;
    std::u16string text;
    DWORD error = ERROR_SUCCESS;
    if (!wideString(hInstance, uID, text, error)) {
        // A missing table says why; a missing or empty string in one does not.
        if (error != ERROR_SUCCESS)
            SetLastError(error);
        return call.returns(0);
    }
    std::string ansi = fitted(text, ntsim::ansiCodePage(), static_cast<size_t>(cchBufferMax) - 1);
    std::memcpy(lpBuffer, ansi.data(), ansi.size());
    lpBuffer[ansi.size()] = 0;
    return call.returns(static_cast<int>(ansi.size()));
}
