// String comparison in the machine's locale and the lstr* helpers.
#include "machine/CodePage.h"

#include "machine/ApiCall.h"
#include "machine/Machine.h"
#include "machine/Unicode.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A character's weights at the three levels of NT's default sort: the
// letter (case and accents folded), the accent, the case.
struct Weight {
    uint32_t primary;
    uint32_t accent;
    uint32_t caseWeight;
    bool symbol;
};

// Base letters of Latin-1's accented letters, from U+00C0; '*' marks the
// two symbols among them.
constexpr const char* latin1Base = "AAAAAAACEEEEIIIIDNOOOOO*OUUUUYTSaaaaaaaceeeeiiiidnooooo*ouuuuyty";

Weight weightOf(char16_t c)
{
    enum : uint32_t { Symbol = 1, Digit = 2, Letter = 3, Other = 4 };
    char base = 0;
    bool accented = false;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
        base = static_cast<char>(c);
    } else if (c >= 0xC0 && c <= 0xFF && latin1Base[c - 0xC0] != '*') {
        base = latin1Base[c - 0xC0];
        accented = true;
    }
    if (base) {
        bool lower = base >= 'a' && base <= 'z';
        char upper = lower ? static_cast<char>(base - 'a' + 'A') : base;
        // Accented letters sort after their base letter, in code order.
        char16_t upperForm = c;
        if (accented && c >= 0xE0 && c != 0xFF)
            upperForm = static_cast<char16_t>(c - 0x20);
        return { (Letter << 16) | static_cast<uint32_t>(upper), accented ? upperForm : 0u, lower ? 0u : 1u, false };
    }
    if (c >= 0x100 && (ntsim::upperCase(c) != c || ntsim::lowerCase(c) != c)) {
        char16_t upper = ntsim::upperCase(c);
        return { (Other << 16) | upper, 0, c == upper ? 1u : 0u, false };
    }
    if (c >= '0' && c <= '9')
        return { (Digit << 16) | c, 0, 0, false };
    if (c < 0x80 || (c >= 0xA0 && c < 0xC0) || c == 0xD7 || c == 0xF7)
        return { (Symbol << 16) | c, 0, 0, true };
    return { (Other << 16) | c, 0, 0, false };
}

int compareWide(DWORD flags, const std::u16string& wa, const std::u16string& wb)
{
    auto weights = [flags](const std::u16string& s) {
        std::vector<Weight> out;
        for (char16_t c : s) {
            Weight w = weightOf(c);
            if (w.symbol && (flags & 0x4 /* NORM_IGNORESYMBOLS */))
                continue;
            out.push_back(w);
        }
        return out;
    };
    std::vector<Weight> x = weights(wa), y = weights(wb);
    auto level = [&](auto member) {
        size_t n = std::min(x.size(), y.size());
        for (size_t i = 0; i < n; ++i) {
            if (x[i].*member != y[i].*member)
                return x[i].*member < y[i].*member ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
        }
        if (x.size() != y.size())
            return x.size() < y.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
        return CSTR_EQUAL;
    };
    int result = level(&Weight::primary);
    if (result == CSTR_EQUAL && !(flags & 0x2 /* NORM_IGNORENONSPACE */))
        result = level(&Weight::accent);
    if (result == CSTR_EQUAL && !(flags & NORM_IGNORECASE))
        result = level(&Weight::caseWeight);
    return result;
}

int compareText(DWORD flags, const char* a, size_t aSize, const char* b, size_t bSize)
{
    unsigned codePage = ntsim::resolveCodePage(CP_ACP);
    std::u16string wa, wb;
    ntsim::decodeText(a, aSize, codePage, wa);
    ntsim::decodeText(b, bSize, codePage, wb);
    return compareWide(flags, wa, wb);
}

constexpr DWORD compareValidFlags = NORM_IGNORECASE | 0x2 /* NORM_IGNORENONSPACE */ | 0x4 /* NORM_IGNORESYMBOLS */
    | 0x1000 /* SORT_STRINGSORT */ | 0x10000 /* NORM_IGNOREKANATYPE */ | 0x20000 /* NORM_IGNOREWIDTH */;

}

extern "C" int WINAPI CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2, int cchCount2)
{
    ntsim::ApiCall call("CompareStringA", Locale, dwCmpFlags, lpString1, cchCount1, lpString2, cchCount2);
    if (!lpString1 || !lpString2 || cchCount1 < -1 || cchCount2 < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    if (dwCmpFlags & ~compareValidFlags) {
        SetLastError(ERROR_INVALID_FLAGS);
        return call.returns(0);
    }
    size_t size1 = cchCount1 == -1 ? std::strlen(lpString1) : static_cast<size_t>(cchCount1);
    size_t size2 = cchCount2 == -1 ? std::strlen(lpString2) : static_cast<size_t>(cchCount2);
    return call.returns(compareText(dwCmpFlags, lpString1, size1, lpString2, size2));
}

namespace {

// lstrcmp's order: a missing string before any other.
int lstrCompare(LPCSTR a, LPCSTR b, DWORD flags)
{
    if (!a || !b)
        return a == b ? 0 : (a ? 1 : -1);
    return compareText(flags, a, std::strlen(a), b, std::strlen(b)) - CSTR_EQUAL;
}

int lstrCompareWide(LPCWSTR a, LPCWSTR b, DWORD flags)
{
    if (!a || !b)
        return a == b ? 0 : (a ? 1 : -1);
    return compareWide(flags, std::u16string(a), std::u16string(b)) - CSTR_EQUAL;
}

}

extern "C" int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2)
{
    ntsim::ApiCall call("lstrcmpA", lpString1, lpString2);
    return call.returns(lstrCompare(lpString1, lpString2, 0));
}

extern "C" int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    ntsim::ApiCall call("lstrcmpW", lpString1, lpString2);
    return call.returns(lstrCompareWide(lpString1, lpString2, 0));
}

extern "C" int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2)
{
    ntsim::ApiCall call("lstrcmpiA", lpString1, lpString2);
    return call.returns(lstrCompare(lpString1, lpString2, NORM_IGNORECASE));
}

extern "C" int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    ntsim::ApiCall call("lstrcmpiW", lpString1, lpString2);
    return call.returns(lstrCompareWide(lpString1, lpString2, NORM_IGNORECASE));
}

extern "C" int WINAPI lstrlenA(LPCSTR lpString)
{
    ntsim::ApiCall call("lstrlenA", lpString);
    return call.returns(lpString ? static_cast<int>(std::strlen(lpString)) : 0);
}

extern "C" int WINAPI lstrlenW(LPCWSTR lpString)
{
    ntsim::ApiCall call("lstrlenW", lpString);
    return call.returns(lpString ? static_cast<int>(ntsim::wideLength(lpString)) : 0);
}

extern "C" LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2)
{
    ntsim::ApiCall call("lstrcpyA", lpString1, lpString2);
    if (!lpString1 || !lpString2)
        return call.returns(nullptr);
    std::memmove(lpString1, lpString2, std::strlen(lpString2) + 1);
    return call.returns(lpString1);
}

extern "C" LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    ntsim::ApiCall call("lstrcpynA", lpString1, lpString2, iMaxLength);
    if (!lpString1 || !lpString2)
        return call.returns(nullptr);
    if (iMaxLength <= 0)
        return call.returns(lpString1);
    size_t n = 0;
    while (n + 1 < static_cast<size_t>(iMaxLength) && lpString2[n])
        ++n;
    std::memmove(lpString1, lpString2, n);
    lpString1[n] = 0;
    return call.returns(lpString1);
}

extern "C" LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2)
{
    ntsim::ApiCall call("lstrcatA", lpString1, lpString2);
    if (!lpString1 || !lpString2)
        return call.returns(nullptr);
    std::memmove(lpString1 + std::strlen(lpString1), lpString2, std::strlen(lpString2) + 1);
    return call.returns(lpString1);
}
