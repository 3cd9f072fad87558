// Code pages, the conversion calls' size semantics, and string comparison.
#include "support/TestMachine.h"
#include "machine/CodePage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

std::u16string toWide(UINT codePage, const std::string& bytes)
{
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
    return out;
}

std::string toBytes(UINT codePage, const std::u16string& wide, BOOL* usedDefault = nullptr)
{
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, usedDefault);
    std::string out(static_cast<size_t>(n), '\0');
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, usedDefault), n);
    return out;
}

}

TEST(Kernel32Text, CodePageRoundTrips)
{
    test::TestMachine m;
    m.attach();

    struct Case {
        UINT codePage;
        std::string bytes;
        std::u16string wide;
    };
    const Case cases[] = {
        { 1252, "Gr\xFC\xDF" "e \x80", u"Gr\u00FC\u00DFe \u20AC" },
        { 932, "\x83\x82\x83\x66\x83\x80 COM1", u"\u30E2\u30C7\u30E0 COM1" },
        { 936, "\xB5\xF7\xD6\xC6\xBD\xE2\xB5\xF7\xC6\xF7", u"\u8C03\u5236\u89E3\u8C03\u5668" },
        { 950, "\xBD\xD5\xC5\xDC\xB8\xD1\xBD\xD5\xBE\xB9", u"\u8ABF\u8B8A\u89E3\u8ABF\u5668" },
        { CP_UTF8, "\xE6\x97\xA5\xC3\xA9", u"\u65E5\u00E9" },
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        EXPECT_EQ(toWide(c.codePage, c.bytes), c.wide);
        BOOL usedDefault = TRUE;
        EXPECT_EQ(toBytes(c.codePage, c.wide, c.codePage == CP_UTF8 ? nullptr : &usedDefault), c.bytes);
        if (c.codePage != CP_UTF8) {
            EXPECT_FALSE(usedDefault);
        }
    }
    // The machine's ANSI code page is the default machine's 1252.
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(GetOEMCP(), 437u);
    EXPECT_EQ(ntsim::ansiCodePage(), 1252u);
    EXPECT_EQ(toWide(CP_ACP, "\xE9"), u"\u00E9");
    EXPECT_EQ(ntsim::ansiToUtf8("\xE9t\xE9", 1252), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ntsim::utf8ToAnsi("\xE2\x82\xAC", 1252), "\x80");
}

TEST(Kernel32Text, ConversionSizeSemantics)
{
    test::TestMachine m;
    m.attach();
    WCHAR wide[16];

    // -1 counts and converts the terminator.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 16), 4);
    EXPECT_EQ(wide[3], u'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 16), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", -1, wide, 16), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0x100, "abc", -1, wide, 16), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FLAGS));

    // A lead byte without its trail byte is invalid in 932.
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x83", 2, wide, 16), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3(", 2, wide, 16), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(932, 0, "a\x83", 2, wide, 16), 2);
    EXPECT_EQ(wide[0], u'a');

    // Characters the code page lacks become the default character.
    char bytes[16];
    BOOL usedDefault = FALSE;
    const WCHAR japanese[] = { 0x30E2, u'x', 0 };
    EXPECT_EQ(WideCharToMultiByte(1252, 0, japanese, -1, bytes, sizeof bytes, nullptr, &usedDefault), 3);
    EXPECT_STREQ(bytes, "?x");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, japanese, -1, bytes, sizeof bytes, "#", &usedDefault), 3);
    EXPECT_STREQ(bytes, "#x");
    EXPECT_EQ(WideCharToMultiByte(932, 0, japanese, -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(932, 0, japanese, -1, bytes, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, japanese, -1, bytes, sizeof bytes, nullptr, &usedDefault), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A size query tells of the default; a buffer too small gets what fits and is not told.
    usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, japanese, -1, nullptr, 0, nullptr, &usedDefault), 3);
    EXPECT_TRUE(usedDefault);
    usedDefault = 7;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, japanese, -1, bytes, 2, nullptr, &usedDefault), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(usedDefault, 7);
    EXPECT_EQ(std::string(bytes, 2), "?x");
    const WCHAR plain[] = { u'a', u'b', 0 };
    usedDefault = TRUE;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, plain, 2, bytes, sizeof bytes, nullptr, &usedDefault), 2);
    EXPECT_FALSE(usedDefault);
    wide[0] = wide[1] = wide[2] = 0;
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", 4, wide, 3), 0);
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[2], u'c');
}

TEST(Kernel32Text, ComparisonsAndStringHelpers)
{
    test::TestMachine m;
    m.attach();

    // lstrcmp is case-sensitive; lstrcmpi is not.
    EXPECT_NE(lstrcmpA("Control Panel", "control panel"), 0);
    EXPECT_GT(lstrcmpA("Control Panel", "control panel"), 0); // lower case sorts first
    EXPECT_EQ(lstrcmpA("Control Panel", "Control Panel"), 0);
    EXPECT_EQ(lstrcmpiA("Control Panel", "control panel"), 0);
    // Linguistic order: case decides only between otherwise equal strings.
    EXPECT_LT(lstrcmpA("apple", "Banana"), 0);
    EXPECT_LT(lstrcmpA("abc", "abcd"), 0);
    EXPECT_GT(lstrcmpA("b", "A"), 0);
    EXPECT_LT(lstrcmpA("\xE9t\xE9", "f"), 0); // accented letters sort with their base letter
    EXPECT_LT(lstrcmpA(nullptr, "a"), 0);
    EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);

    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "MODEM", -1, "modem", -1), CSTR_EQUAL);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "MODEM", -1, "modem", -1), CSTR_GREATER_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "modem1", 5, "modem2", 5), CSTR_EQUAL);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "a", -1, "b", -1), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, nullptr, -1, "b", -1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA("modem"), 5);
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(lstrcpynA(buffer, "abcdefghij", 4), buffer);
    EXPECT_STREQ(buffer, "abc");
    lstrcpyA(buffer, "ab");
    lstrcatA(buffer, "cd");
    EXPECT_STREQ(buffer, "abcd");

    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0409);
}

TEST(Kernel32Text, LocaleFollowsTheMachine)
{
    test::TestMachine m;
    m.set("locale=0411");
    m.attach();
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(GetThreadLocale(), 0x0411u);
    EXPECT_EQ(toWide(CP_ACP, "\x83\x82"), u"\u30E2");
}

TEST(Kernel32Text, WideComparisonsAgreeWithTheAnsiOnesAndFoldEveryScriptsCase)
{
    test::TestMachine m;
    m.attach();
    // The W forms order as the A forms do on the same text.
    const std::pair<const char*, const char16_t*> words[] = {
        { "Control Panel", u"Control Panel" }, { "control panel", u"control panel" }, { "apple", u"apple" },
        { "Banana", u"Banana" }, { "\xE9t\xE9", u"\u00e9t\u00e9" }, { "f", u"f" }, { "abcd", u"abcd" },
    };
    auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
    for (auto& a : words)
        for (auto& b : words) {
            EXPECT_EQ(sign(lstrcmpW(a.second, b.second)), sign(lstrcmpA(a.first, b.first))) << a.first << " " << b.first;
            EXPECT_EQ(sign(lstrcmpiW(a.second, b.second)), sign(lstrcmpiA(a.first, b.first))) << a.first << " " << b.first;
        }
    // Greek and Cyrillic have case too, which the A forms of 1252 cannot hold.
    EXPECT_EQ(lstrcmpiW(u"\u03A9\u03BC\u03B5\u03B3\u03B1", u"\u03C9\u039C\u0395\u0393\u0391"), 0);
    EXPECT_NE(lstrcmpW(u"\u03A9", u"\u03C9"), 0);
    EXPECT_EQ(lstrcmpiW(u"\u041C\u043E\u0434\u0435\u043C", u"\u043C\u041E\u0414\u0415\u041C"), 0);
    EXPECT_LT(lstrcmpW(nullptr, u"a"), 0);
    EXPECT_EQ(lstrcmpiW(nullptr, nullptr), 0);
    EXPECT_EQ(lstrlenW(u"modem"), 5);
    EXPECT_EQ(lstrlenW(nullptr), 0);
}
