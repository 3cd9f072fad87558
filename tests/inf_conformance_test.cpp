// The INF parser's calls against the platform's documented and measured
// behaviour, each fact checked in its ANSI and its wide form. Where the
// documentation is silent the fact was measured under Wine 8.0 (wine64,
// x86_64 build) and the test says so; where NT 4.0 and Wine differ, NT 4.0
// is followed and the test says that too.
#include "support/TestMachine.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* const Version = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";

struct Inf {
    HINF a { INVALID_HANDLE_VALUE };
    HINF w { INVALID_HANDLE_VALUE };
    ~Inf()
    {
        if (a != INVALID_HANDLE_VALUE)
            SetupCloseInfFile(a);
        if (w != INVALID_HANDLE_VALUE)
            SetupCloseInfFile(w);
    }
};

// The same file opened by both forms.
void openBoth(const test::TestMachine& m, const std::string& text, Inf& inf)
{
    m.write("C:\\MODEM\\T.INF", text);
    inf.a = SetupOpenInfFileA("C:\\MODEM\\T.INF", nullptr, INF_STYLE_WIN4, nullptr);
    inf.w = SetupOpenInfFileW(u"C:\\MODEM\\T.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf.a, INVALID_HANDLE_VALUE);
    ASSERT_NE(inf.w, INVALID_HANDLE_VALUE);
}

std::u16string wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::string narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Field `index` of the context's line by both forms: "<fail N>" for a
// failure with its error. The A context is for the A handle, the W one for W.
struct FieldPair {
    std::string a;
    std::string w;
};

FieldPair fields(INFCONTEXT& a, INFCONTEXT& w, DWORD index)
{
    FieldPair out;
    char ab[8192];
    WCHAR wb[8192];
    out.a = SetupGetStringFieldA(&a, index, ab, sizeof ab, nullptr) ? ab : "<fail " + std::to_string(GetLastError()) + ">";
    out.w = SetupGetStringFieldW(&w, index, wb, 8192, nullptr) ? narrow(wb) : "<fail " + std::to_string(GetLastError()) + ">";
    return out;
}

void findBoth(Inf& inf, const char* section, const char* key, INFCONTEXT& a, INFCONTEXT& w)
{
    ASSERT_TRUE(SetupFindFirstLineA(inf.a, section, key, &a)) << section;
    std::u16string s = wide(section), k = key ? wide(key) : std::u16string();
    ASSERT_TRUE(SetupFindFirstLineW(inf.w, s.c_str(), key ? k.c_str() : nullptr, &w)) << section;
}

}

TEST(InfConformance, ALineWithoutAKeyHasNoFieldZeroButASingleValueIsItsOwnKey)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version) + "[S]\r\nab,cd\r\nsingle\r\n", inf);
    INFCONTEXT a, w;
    findBoth(inf, "S", nullptr, a, w);
    std::string invalid = "<fail " + std::to_string(ERROR_INVALID_PARAMETER) + ">";
    EXPECT_EQ(fields(a, w, 0).a, invalid);
    EXPECT_EQ(fields(a, w, 0).w, invalid);
    EXPECT_EQ(fields(a, w, 1).a, "ab");
    EXPECT_EQ(fields(a, w, 1).w, "ab");
    EXPECT_EQ(fields(a, w, 2).a, "cd");
    EXPECT_EQ(fields(a, w, 2).w, "cd");
    EXPECT_EQ(SetupGetFieldCount(&a), 2u);
    EXPECT_EQ(SetupGetFieldCount(&w), 2u);
    // Measured under Wine: a line of one value answers field 0 with it and
    // is found by it as by a key; a line of several values is not.
    ASSERT_TRUE(SetupFindNextLine(&a, &a));
    ASSERT_TRUE(SetupFindNextLine(&w, &w));
    EXPECT_EQ(fields(a, w, 0).a, "single");
    EXPECT_EQ(fields(a, w, 0).w, "single");
    EXPECT_TRUE(SetupFindFirstLineA(inf.a, "S", "SINGLE", &a));
    EXPECT_FALSE(SetupFindFirstLineA(inf.a, "S", "ab", &a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupFindFirstLineW(inf.w, u"S", u"ab", &w));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
}

TEST(InfConformance, AFileWithoutVersionFailsWithWrongInfStyleAndErrorLineZeroWhateverTheStyleAsked)
{
    test::TestMachine m;
    m.attach();
    // Text, comments and blank lines before the first section are
    // tolerated; Wine 8.0 fails them with ERROR_EXPECTED_SECTION_NAME.
    for (const char* text : { "plain text\r\nmore text\r\n", "; comment\r\n\r\nabc\r\n[Section]\r\nkey = value\r\n" }) {
        m.write("C:\\MODEM\\T.INF", text);
        for (DWORD style : { DWORD(INF_STYLE_WIN4), DWORD(INF_STYLE_OLDNT), DWORD(INF_STYLE_OLDNT | INF_STYLE_WIN4) }) {
            UINT line = 99;
            EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\T.INF", nullptr, style, &line), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE)) << text << style;
            EXPECT_EQ(line, 0u);
            line = 99;
            EXPECT_EQ(SetupOpenInfFileW(u"C:\\MODEM\\T.INF", nullptr, style, &line), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
            EXPECT_EQ(line, 0u);
        }
    }
    // The same text after a [Version] opens, its leading text passed over.
    m.write("C:\\MODEM\\T.INF", std::string("junk before\r\n; c\r\n\r\n") + Version + "[S]\r\nk = v\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\T.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupGetLineCountA(inf, "S"), 1);
    SetupCloseInfFile(inf);
}

TEST(InfConformance, InfStylesClassesAndOpenErrorsAgreeInBothForms)
{
    test::TestMachine m;
    m.attach();
    // A legacy NT setup INF names its option type; it is no Windows INF.
    m.write("C:\\MODEM\\OLD.INF", "[Identification]\r\nOptionType = NetAdapter\r\n");
    EXPECT_EQ(SetupOpenInfFileW(u"C:\\MODEM\\OLD.INF", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
    HINF old = SetupOpenInfFileW(u"C:\\MODEM\\OLD.INF", nullptr, INF_STYLE_OLDNT, nullptr);
    ASSERT_NE(old, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(old);
    // A Windows INF is not opened as a legacy one.
    m.write("C:\\MODEM\\NEW.INF", std::string(Version) + "Class = Modem\r\n");
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\NEW.INF", nullptr, INF_STYLE_OLDNT, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\NEW.INF", nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // The class asked for is the INF's Class, case aside, or the class its
    // ClassGUID names on the machine.
    HINF modem = SetupOpenInfFileW(u"C:\\MODEM\\NEW.INF", u"MODEM", INF_STYLE_WIN4, nullptr);
    EXPECT_NE(modem, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(modem);
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\NEW.INF", "Ports", INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
    m.write("C:\\MODEM\\GUID.INF", std::string(Version) + "ClassGUID = {4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n");
    modem = SetupOpenInfFileA("C:\\MODEM\\GUID.INF", "Modem", INF_STYLE_WIN4, nullptr);
    EXPECT_NE(modem, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(modem);

    EXPECT_EQ(SetupOpenInfFileW(u"C:\\MODEM\\NONE.INF", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SetupOpenInfFileW(u"C:\\NODIR\\X.INF", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(SetupOpenInfFileW(nullptr, nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Measured under Wine: an empty file cannot be mapped to be read.
    m.write("C:\\MODEM\\EMPTY.INF", "");
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\EMPTY.INF", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
}

TEST(InfConformance, SectionNamesKeepTheirBlanksAndCtrlZEndsTheFile)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version) + "[  Test Section  ]\r\nx = 1\r\n[Cut]\r\nkept = 1\x1a\r\nlost = 2\r\n[Lost]\r\n", inf);
    INFCONTEXT c;
    EXPECT_TRUE(SetupFindFirstLineA(inf.a, "  Test Section  ", nullptr, &c));
    EXPECT_TRUE(SetupFindFirstLineW(inf.w, u"  test section  ", nullptr, &c));
    EXPECT_FALSE(SetupFindFirstLineA(inf.a, "Test Section", nullptr, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupFindFirstLineW(inf.w, u"Test Section", nullptr, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    // Nothing after the Ctrl-Z was read.
    EXPECT_EQ(SetupGetLineCountA(inf.a, "Cut"), 1);
    EXPECT_EQ(SetupGetLineCountW(inf.w, u"Lost"), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));

    // A Ctrl-Z inside a section name leaves the name without its bracket.
    m.write("C:\\MODEM\\Z.INF", std::string(Version) + "[Na\x1ame]\r\nx = 1\r\n");
    UINT line = 0;
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\Z.INF", nullptr, INF_STYLE_WIN4, &line), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_SECTION_NAME_LINE));
    EXPECT_EQ(line, 3u);
    line = 0;
    EXPECT_EQ(SetupOpenInfFileW(u"C:\\MODEM\\Z.INF", nullptr, INF_STYLE_WIN4, &line), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_SECTION_NAME_LINE));
    EXPECT_EQ(line, 3u);
}

TEST(InfConformance, KeysQuotesContinuationAndEmptyFieldsReadAsWineReadsThem)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    // Each line's fields as measured under Wine 8.0.
    openBoth(m, std::string(Version)
            + "[S]\r\n"
              "key = a , b,,\"q,\"\"x\"\"\" , \r\n"
              "\"k=q\" = v\r\n"
              "= onlyvalue\r\n"
              "novalue =\r\n"
              "a\"b\"c = d\"e\"f\r\n"
              "cont = one, \\\r\n two\r\n"
              "cont4 = a \\ ; comment\r\n  b\r\n"
              "unterm = \"abc, def\r\n"
              "spaces =   in  side   ,  \"  q  \"  \r\n"
              "lit = x \\ y\r\n",
        inf);
    struct Expect {
        const char* key;
        std::vector<std::string> fields;
    } lines[] = {
        { "key", { "a", "b", "", "q,\"x\"", "" } },
        { "k=q", { "v" } },
        { "", { "onlyvalue" } },
        { "novalue", { "" } },
        { "abc", { "def" } },
        { "cont", { "one", "two" } },
        { "cont4", { "ab" } },
        { "unterm", { "abc, def" } },
        { "spaces", { "in  side", "  q  " } },
        { "lit", { "x \\ y" } },
    };
    INFCONTEXT a, w;
    findBoth(inf, "S", nullptr, a, w);
    for (auto& expect : lines) {
        EXPECT_EQ(fields(a, w, 0).a, expect.key);
        EXPECT_EQ(fields(a, w, 0).w, expect.key);
        ASSERT_EQ(SetupGetFieldCount(&a), expect.fields.size()) << expect.key;
        EXPECT_EQ(SetupGetFieldCount(&w), expect.fields.size()) << expect.key;
        for (size_t i = 0; i < expect.fields.size(); ++i) {
            EXPECT_EQ(fields(a, w, static_cast<DWORD>(i + 1)).a, expect.fields[i]) << expect.key << i;
            EXPECT_EQ(fields(a, w, static_cast<DWORD>(i + 1)).w, expect.fields[i]) << expect.key << i;
        }
        SetupFindNextLine(&a, &a);
        SetupFindNextLine(&w, &w);
    }
    // The line's text is its fields, compact, with commas between.
    char text[64];
    DWORD required = 0;
    ASSERT_TRUE(SetupGetLineTextA(nullptr, inf.a, "S", "key", text, sizeof text, &required));
    EXPECT_STREQ(text, "a,b,,q,\"x\",");
    EXPECT_EQ(required, 12u);
    WCHAR wtext[64];
    ASSERT_TRUE(SetupGetLineTextW(nullptr, inf.w, u"S", u"KEY", wtext, 64, &required));
    EXPECT_EQ(std::u16string(wtext), u"a,b,,q,\"x\",");
    EXPECT_EQ(required, 12u);
}

TEST(InfConformance, StringsAreSubstitutedByKeyWithoutRegardToCaseAndDirIdsByNumber)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version)
            + "[S]\r\npct = %S1%, %%, %unknown%, 50%, %s1%x%S1%\r\n"
              "dirs = %12%\\m.sys, %11%, %10%, %17%, %24%\\Apps, %1%, %32768%\r\n"
              "[Strings]\r\nS1 = \"str, one\"\r\n",
        inf);
    INFCONTEXT a, w;
    findBoth(inf, "S", "pct", a, w);
    const char* pct[] = { "str, one", "%", "%unknown%", "50%", "str, onexstr, one" };
    for (DWORD i = 1; i <= 5; ++i) {
        EXPECT_EQ(fields(a, w, i).a, pct[i - 1]);
        EXPECT_EQ(fields(a, w, i).w, pct[i - 1]);
    }
    findBoth(inf, "S", "dirs", a, w);
    const char* dirs[] = { "C:\\WINNT\\system32\\drivers\\m.sys", "C:\\WINNT\\system32", "C:\\WINNT", "C:\\WINNT\\INF",
        "C:\\Apps", "C:\\MODEM", "%32768%" };
    for (DWORD i = 1; i <= 7; ++i) {
        EXPECT_EQ(fields(a, w, i).a, dirs[i - 1]);
        EXPECT_EQ(fields(a, w, i).w, dirs[i - 1]);
    }

    // A user DIRID from DIRID_USER on; lower ones are the system's.
    EXPECT_TRUE(SetupSetDirectoryIdA(inf.a, 32768, "C:\\Target"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(SetupSetDirectoryIdW(inf.w, 32768, u"C:\\Target"));
    EXPECT_EQ(fields(a, w, 7).a, "C:\\Target");
    EXPECT_EQ(fields(a, w, 7).w, "C:\\Target");
    EXPECT_FALSE(SetupSetDirectoryIdA(inf.a, 11, "C:\\Other"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetupSetDirectoryIdW(nullptr, 32768, u"C:\\Other"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A null directory forgets the id; id 0 forgets them all.
    EXPECT_TRUE(SetupSetDirectoryIdA(inf.a, 32768, nullptr));
    EXPECT_TRUE(SetupSetDirectoryIdW(inf.w, 0, nullptr));
    EXPECT_EQ(fields(a, w, 7).a, "%32768%");
    EXPECT_EQ(fields(a, w, 7).w, "%32768%");
}

TEST(InfConformance, IntegerFieldsAreSignedDecimalOrHexAndAnEmptyOneIsZero)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version) + "[S]\r\n431 = , 5, +5, -5, 0x1F, -0x10, 017, 0X1f, 5x, 0x, \" 7\"\r\n", inf);
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineA(inf.a, "S", nullptr, &c));
    struct Expect {
        DWORD field;
        bool ok;
        INT value;
    } expects[] = {
        { 0, true, 431 }, { 1, true, 0 }, { 2, true, 5 }, { 3, true, 5 }, { 4, true, -5 }, { 5, true, 31 },
        { 6, true, -16 }, { 7, true, 17 }, { 8, true, 31 }, { 9, false, 0 }, { 10, false, 0 }, { 11, true, 7 },
    };
    for (auto& e : expects) {
        INT value = 12345;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(SetupGetIntField(&c, e.field, &value), e.ok ? TRUE : FALSE) << e.field;
        if (e.ok) {
            EXPECT_EQ(value, e.value) << e.field;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR)) << e.field;
        } else {
            EXPECT_EQ(value, 12345) << e.field;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << e.field;
        }
    }
    EXPECT_FALSE(SetupGetIntField(&c, 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    INT value = 0;
    EXPECT_FALSE(SetupGetIntField(&c, 12, &value));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(InfConformance, BinaryAndMultiSzFieldsReadFromTheFieldToTheEndOfTheLine)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version) + "[S]\r\nb = 12, ab, 0, ff\r\nbad = 12, 100\r\nm = a, b, , c\r\n", inf);
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineA(inf.a, "S", "b", &c));
    BYTE bytes[8] = {};
    DWORD required = 0;
    ASSERT_TRUE(SetupGetBinaryField(&c, 1, bytes, sizeof bytes, &required));
    EXPECT_EQ(required, 4u);
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 4), (std::vector<BYTE> { 0x12, 0xab, 0x00, 0xff }));
    EXPECT_TRUE(SetupGetBinaryField(&c, 3, nullptr, 0, &required));
    EXPECT_EQ(required, 2u);
    EXPECT_FALSE(SetupGetBinaryField(&c, 1, bytes, 3, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 4u);
    EXPECT_FALSE(SetupGetBinaryField(&c, 0, bytes, sizeof bytes, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(SetupFindNextLine(&c, &c));
    EXPECT_FALSE(SetupGetBinaryField(&c, 1, bytes, sizeof bytes, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    // A list of strings ends at the first empty field (measured under Wine).
    INFCONTEXT a, w;
    findBoth(inf, "S", "m", a, w);
    char multi[32];
    ASSERT_TRUE(SetupGetMultiSzFieldA(&a, 1, multi, sizeof multi, &required));
    EXPECT_EQ(required, 5u);
    EXPECT_EQ(std::string(multi, 5), std::string("a\0b\0\0", 5));
    WCHAR wmulti[32];
    ASSERT_TRUE(SetupGetMultiSzFieldW(&w, 1, wmulti, 32, &required));
    EXPECT_EQ(required, 5u);
    EXPECT_EQ(std::u16string(wmulti, 5), std::u16string(u"a\0b\0\0", 5));
    ASSERT_TRUE(SetupGetMultiSzFieldA(&a, 4, multi, sizeof multi, &required));
    EXPECT_EQ(required, 3u);
    EXPECT_FALSE(SetupGetMultiSzFieldW(&w, 5, wmulti, 32, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetupGetMultiSzFieldA(&a, 0, multi, sizeof multi, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(InfConformance, ShortBuffersFailWithTheRequiredSizeInCharactersOfTheForm)
{
    test::TestMachine m;
    m.attach();
    // A UTF-16 file keeps what the ANSI code page (1252 here) has no
    // character for: W calls give it back, A calls give '?'.
    std::u16string text = u"\xFEFF[Version]\r\nSignature=\"$Windows NT$\"\r\n[S]\r\nk = \x4E2D\x6587, caf\xE9\r\n";
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    m.write("C:\\MODEM\\W.INF", bytes);
    HINF inf = SetupOpenInfFileW(u"C:\\MODEM\\W.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineW(inf, u"S", u"k", &c));
    WCHAR w[8];
    DWORD required = 0;
    ASSERT_TRUE(SetupGetStringFieldW(&c, 1, w, 8, &required));
    EXPECT_EQ(std::u16string(w), u"\x4E2D\x6587");
    EXPECT_EQ(required, 3u);
    char a[8];
    ASSERT_TRUE(SetupGetStringFieldA(&c, 1, a, sizeof a, &required));
    EXPECT_STREQ(a, "??");
    ASSERT_TRUE(SetupGetStringFieldA(&c, 2, a, sizeof a, &required));
    EXPECT_STREQ(a, "caf\xE9");
    EXPECT_EQ(required, 5u);

    // A null buffer asks for the size (measured under Wine, whatever size
    // comes with it); a short one fails.
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(SetupGetStringFieldA(&c, 2, nullptr, 0, &required));
    EXPECT_EQ(required, 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(SetupGetStringFieldW(&c, 2, nullptr, 5, &required));
    EXPECT_EQ(required, 5u);
    EXPECT_FALSE(SetupGetStringFieldA(&c, 2, a, 4, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 5u);
    EXPECT_FALSE(SetupGetStringFieldW(&c, 2, w, 4, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(SetupGetLineTextW(&c, nullptr, nullptr, nullptr, w, 4, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 8u);
    SetupCloseInfFile(inf);
}

TEST(InfConformance, FieldsOf4096CharactersAreReadWholeAndLongerOnesFailTheOpenAtTheirLine)
{
    test::TestMachine m;
    m.attach();
    std::string field(4096, 'v');
    Inf inf;
    openBoth(m, std::string(Version) + "[S]\r\nk=" + field + "\r\n", inf);
    INFCONTEXT a, w;
    findBoth(inf, "S", "k", a, w);
    DWORD required = 0;
    EXPECT_TRUE(SetupGetStringFieldA(&a, 1, nullptr, 0, &required));
    EXPECT_EQ(required, 4097u);
    EXPECT_EQ(fields(a, w, 1).a, field);
    EXPECT_EQ(fields(a, w, 1).w, field);

    m.write("C:\\MODEM\\LONG.INF", std::string(Version) + "[S]\r\nok = 1\r\nk=" + field + "v\r\n");
    UINT line = 0;
    EXPECT_EQ(SetupOpenInfFileW(u"C:\\MODEM\\LONG.INF", nullptr, INF_STYLE_WIN4, &line), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GENERAL_SYNTAX));
    EXPECT_EQ(line, 5u);
}

TEST(InfConformance, MissingSectionsLinesAndHandlesFailWithTheirErrors)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version) + "[S]\r\na = 1\r\nb = 2\r\n", inf);
    INFCONTEXT c;
    EXPECT_FALSE(SetupFindFirstLineW(inf.w, u"None", nullptr, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_EQ(SetupGetLineCountA(inf.a, "None"), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    EXPECT_TRUE(SetupGetLineByIndexA(inf.a, "S", 1, &c));
    EXPECT_EQ(c.Line, 1u);
    EXPECT_EQ(c.Inf, inf.a);
    EXPECT_EQ(c.CurrentInf, inf.a);
    EXPECT_FALSE(SetupGetLineByIndexW(inf.w, u"S", 2, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupGetLineByIndexW(inf.w, u"None", 0, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    ASSERT_TRUE(SetupFindFirstLineA(inf.a, "S", "a", &c));
    EXPECT_TRUE(SetupFindNextMatchLineW(&c, u"B", &c));
    EXPECT_FALSE(SetupFindNextMatchLineA(&c, "a", &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));

    EXPECT_FALSE(SetupFindFirstLineA(nullptr, "S", nullptr, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetupFindFirstLineW(inf.w, nullptr, nullptr, &c));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetupGetStringFieldA(nullptr, 1, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetupGetLineCountW(nullptr, u"S"), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetupGetFieldCount(nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(InfConformance, AnAppendedFileJoinsTheSectionsAndReadsItsOwnStrings)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\MAIN.INF", std::string(Version) + "LayoutFile = layout.inf\r\n[S]\r\nmain = %Who%\r\n"
                                                     "[Strings]\r\nWho = main\r\n");
    m.write("C:\\WINNT\\INF\\layout.inf", std::string(Version) + "[S]\r\nlayout = %Who%, %1%\r\n[Only]\r\nx = 1\r\n"
                                                                 "[Strings]\r\nWho = layout\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\MAIN.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    // No name appends the files [Version] names as LayoutFile.
    UINT line = 99;
    ASSERT_TRUE(SetupOpenAppendInfFileW(nullptr, inf, &line));
    EXPECT_EQ(line, 0u);
    EXPECT_EQ(SetupGetLineCountA(inf, "S"), 2);
    EXPECT_EQ(SetupGetLineCountA(inf, "Only"), 1);
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "layout", &c));
    EXPECT_EQ(c.Inf, inf);
    EXPECT_NE(c.CurrentInf, inf);
    char text[64];
    ASSERT_TRUE(SetupGetStringFieldA(&c, 1, text, sizeof text, nullptr));
    EXPECT_STREQ(text, "layout");
    ASSERT_TRUE(SetupGetStringFieldA(&c, 2, text, sizeof text, nullptr));
    EXPECT_STREQ(text, "C:\\WINNT\\INF");
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", nullptr, &c));
    EXPECT_EQ(c.CurrentInf, inf);
    ASSERT_TRUE(SetupGetStringFieldA(&c, 1, text, sizeof text, nullptr));
    EXPECT_STREQ(text, "main");
    ASSERT_TRUE(SetupFindNextLine(&c, &c));
    EXPECT_NE(c.CurrentInf, inf);

    // A file that is not there, or of the other style, is not appended.
    EXPECT_FALSE(SetupOpenAppendInfFileA("C:\\MODEM\\NONE.INF", inf, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    m.write("C:\\MODEM\\OLD.INF", "[Identification]\r\nOptionType = Other\r\n");
    EXPECT_FALSE(SetupOpenAppendInfFileA("C:\\MODEM\\OLD.INF", inf, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
    EXPECT_FALSE(SetupOpenAppendInfFileW(u"C:\\MODEM\\MAIN.INF", nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // The information of the set: both files, in order, with [Version].
    DWORD required = 0;
    ASSERT_TRUE(SetupGetInfInformationA(inf, INFINFO_INF_SPEC_IS_HINF, nullptr, 0, &required));
    std::vector<BYTE> buffer(required);
    auto* info = reinterpret_cast<PSP_INF_INFORMATION>(buffer.data());
    EXPECT_FALSE(SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, info, required - 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, info, required, nullptr));
    EXPECT_EQ(info->InfStyle, static_cast<DWORD>(INF_STYLE_WIN4));
    ASSERT_EQ(info->InfCount, 2u);
    ASSERT_TRUE(SetupQueryInfFileInformationA(info, 1, text, sizeof text, &required));
    EXPECT_STREQ(text, "C:\\WINNT\\INF\\layout.inf");
    EXPECT_EQ(required, 24u);
    WCHAR wtext[64];
    ASSERT_TRUE(SetupQueryInfFileInformationW(info, 0, wtext, 64, &required));
    EXPECT_EQ(std::u16string(wtext), u"C:\\MODEM\\MAIN.INF");
    EXPECT_FALSE(SetupQueryInfFileInformationA(info, 2, text, sizeof text, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(SetupQueryInfVersionInformationW(info, 0, u"LAYOUTFILE", wtext, 64, &required));
    EXPECT_EQ(std::u16string(wtext), u"layout.inf");
    // No key lists the keys, each with its NUL and one more at the end.
    ASSERT_TRUE(SetupQueryInfVersionInformationA(info, 0, nullptr, text, sizeof text, &required));
    EXPECT_EQ(std::string(text, required), std::string("Signature\0LayoutFile\0\0", 22));
    SetupCloseInfFile(inf);

    // By name, through the INF directory search.
    ASSERT_TRUE(SetupGetInfInformationA("layout.inf", INFINFO_DEFAULT_SEARCH, nullptr, 0, &required));
    EXPECT_FALSE(SetupGetInfInformationW(u"none.inf", INFINFO_DEFAULT_SEARCH, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetupGetInfInformationA("layout.inf", 9, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(InfConformance, SourceAndTargetLayoutComeFromTheirSectionsThePlatformDecorationFirst)
{
    test::TestMachine m;
    m.attach();
    Inf inf;
    openBoth(m, std::string(Version)
            + "[SourceDisksNames]\r\n1 = \"Disk One\", tag1.txt,, \\sub1\r\n2 = \"Disk Two\"\r\n"
              "[SourceDisksNames.x86]\r\n1 = \"Disk One x86\", tagx.txt,, \\x86\r\n"
              "[SourceDisksFiles]\r\nm.sys = 1, drivers\r\nn.dll = 2\r\n"
              "[DestinationDirs]\r\nList = 12\r\nAbs = -1, C:\\Abs\\Dir\r\nDefaultDestDir = 10, sub\r\n"
              "[List]\r\nm.sys\r\n",
        inf);
    char a[64];
    WCHAR w[64];
    DWORD required = 0;
    ASSERT_TRUE(SetupGetSourceInfoA(inf.a, 1, SRCINFO_DESCRIPTION, a, sizeof a, &required));
    EXPECT_STREQ(a, "Disk One x86");
    EXPECT_EQ(required, 13u);
    ASSERT_TRUE(SetupGetSourceInfoW(inf.w, 1, SRCINFO_TAGFILE, w, 64, nullptr));
    EXPECT_EQ(std::u16string(w), u"tagx.txt");
    ASSERT_TRUE(SetupGetSourceInfoA(inf.a, 1, SRCINFO_PATH, a, sizeof a, nullptr));
    EXPECT_STREQ(a, "\\x86");
    ASSERT_TRUE(SetupGetSourceInfoW(inf.w, 2, SRCINFO_PATH, w, 64, &required));
    EXPECT_EQ(std::u16string(w), u"");
    EXPECT_EQ(required, 1u);
    EXPECT_FALSE(SetupGetSourceInfoA(inf.a, 3, SRCINFO_PATH, a, sizeof a, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupGetSourceInfoW(inf.w, 1, 9, w, 64, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    UINT id = 0;
    ASSERT_TRUE(SetupGetSourceFileLocationA(inf.a, nullptr, "M.SYS", &id, a, sizeof a, &required));
    EXPECT_EQ(id, 1u);
    EXPECT_STREQ(a, "drivers");
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineW(inf.w, u"List", nullptr, &c));
    id = 0;
    ASSERT_TRUE(SetupGetSourceFileLocationW(inf.w, &c, nullptr, &id, w, 64, nullptr));
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(std::u16string(w), u"drivers");
    EXPECT_FALSE(SetupGetSourceFileLocationA(inf.a, nullptr, "none.sys", &id, a, sizeof a, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));

    // A list's directory, a line's section's, an absolute one, the default.
    ASSERT_TRUE(SetupGetTargetPathA(inf.a, nullptr, "List", a, sizeof a, &required));
    EXPECT_STREQ(a, "C:\\WINNT\\system32\\drivers");
    EXPECT_EQ(required, 26u);
    ASSERT_TRUE(SetupGetTargetPathW(inf.w, &c, nullptr, w, 64, nullptr));
    EXPECT_EQ(std::u16string(w), u"C:\\WINNT\\system32\\drivers");
    ASSERT_TRUE(SetupGetTargetPathA(inf.a, nullptr, "Abs", a, sizeof a, nullptr));
    EXPECT_STREQ(a, "C:\\Abs\\Dir");
    ASSERT_TRUE(SetupGetTargetPathW(inf.w, nullptr, u"Other", w, 64, nullptr));
    EXPECT_EQ(std::u16string(w), u"C:\\WINNT\\sub");
    ASSERT_TRUE(SetupGetTargetPathA(inf.a, nullptr, nullptr, a, sizeof a, nullptr));
    EXPECT_STREQ(a, "C:\\WINNT\\sub");
    EXPECT_FALSE(SetupGetTargetPathA(inf.a, nullptr, "List", a, 5, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(InfConformance, FileCompressionInfoFindsTheCompressedNameAndReadsItsHeader)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\PLAIN.TXT", "0123456789");
    // An LZ file: "SZDD", its magic, the mode, the missing letter, the size.
    std::string lz = std::string("SZDD\x88\xF0\x27\x33", 8) + "A" + "x" + std::string("\x40\x00\x00\x00", 4) + "data";
    m.write("C:\\MODEM\\DRIVER.SY_", lz);

    PSTR actual = nullptr;
    DWORD sourceSize = 0, targetSize = 0;
    UINT type = 99;
    ASSERT_EQ(SetupGetFileCompressionInfoA("C:\\MODEM\\PLAIN.TXT", &actual, &sourceSize, &targetSize, &type),
        static_cast<DWORD>(NO_ERROR));
    EXPECT_STREQ(actual, "C:\\MODEM\\PLAIN.TXT");
    EXPECT_EQ(sourceSize, 10u);
    EXPECT_EQ(targetSize, 10u);
    EXPECT_EQ(type, static_cast<UINT>(FILE_COMPRESSION_NONE));
    LocalFree(actual);

    PWSTR wideActual = nullptr;
    ASSERT_EQ(SetupGetFileCompressionInfoW(u"C:\\MODEM\\DRIVER.SYS", &wideActual, &sourceSize, &targetSize, &type),
        static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(std::u16string(wideActual), u"C:\\MODEM\\DRIVER.SY_");
    EXPECT_EQ(sourceSize, static_cast<DWORD>(lz.size()));
    EXPECT_EQ(targetSize, 0x40u);
    EXPECT_EQ(type, static_cast<UINT>(FILE_COMPRESSION_WINLZA));
    LocalFree(wideActual);

    EXPECT_EQ(SetupGetFileCompressionInfoA("C:\\MODEM\\NONE.DLL", &actual, &sourceSize, &targetSize, &type),
        static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SetupGetFileCompressionInfoA("C:\\MODEM\\PLAIN.TXT", nullptr, &sourceSize, &targetSize, &type),
        static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(InfConformance, AnsiSizesCountTheBytesOfTheMachinesCodePage)
{
    test::TestMachine m;
    m.set("locale=0411");
    m.attach();
    std::u16string text = u"\xFEFF[Version]\r\nSignature=\"$Windows NT$\"\r\n[S]\r\nk = \x4E2D\x6587\r\n";
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    m.write("C:\\MODEM\\W.INF", bytes);
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\W.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "S", "k", &c));
    // Two characters: four bytes of code page 932 and their NUL.
    DWORD required = 0;
    ASSERT_TRUE(SetupGetStringFieldA(&c, 1, nullptr, 0, &required));
    EXPECT_EQ(required, 5u);
    char a[8];
    ASSERT_TRUE(SetupGetStringFieldA(&c, 1, a, sizeof a, nullptr));
    EXPECT_STREQ(a, "\x92\x86\x95\xB6");
    EXPECT_FALSE(SetupGetStringFieldA(&c, 1, a, 4, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(SetupGetStringFieldW(&c, 1, nullptr, 0, &required));
    EXPECT_EQ(required, 3u);
    // A key of the ANSI form finds the line as the wide one does.
    EXPECT_TRUE(SetupFindFirstLineW(inf, u"S", u"K", &c));
    SetupCloseInfFile(inf);
}
