#include "support/TestMachine.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char* const SampleInf = "[Version]\r\n"
                              "Signature = \"$Windows NT$\"\r\n"
                              "Class = Modem\r\n"
                              "[Models]\r\n"
                              "%Model% = Inst_Section, PCI\\VEN_1A7E&DEV_5C21\r\n"
                              "Second = Other, id2, extra\r\n"
                              "[Paths]\r\n"
                              "Binary = %12%\\mdm.sys, %11%, %10%, %17%, %18%, %24%\\Apps, %1%\r\n"
                              "Numbers = 42, 0x1F, -3, 12abc\r\n"
                              "[Strings]\r\n"
                              "Model = \"Brimlow 56K \"\"PCI\"\"\"\r\n";

HINF openSample(const test::TestMachine& m)
{
    m.write("C:\\MODEM\\SAMPLE.INF", SampleInf);
    UINT errorLine = 99;
    HINF inf = SetupOpenInfFileA("C:\\modem\\sample.inf", nullptr, INF_STYLE_WIN4, &errorLine);
    EXPECT_NE(inf, INVALID_HANDLE_VALUE);
    return inf;
}

std::string field(INFCONTEXT& context, DWORD index)
{
    char buffer[512] = {};
    EXPECT_TRUE(SetupGetStringFieldA(&context, index, buffer, sizeof buffer, nullptr)) << "field " << index;
    return buffer;
}

}

TEST(SetupapiInf, OpenErrors)
{
    test::TestMachine m;
    m.attach();
    UINT errorLine = 0;
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\NONE.INF", nullptr, INF_STYLE_WIN4, &errorLine), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SetupOpenInfFileA("C:\\NODIR\\X.INF", nullptr, INF_STYLE_WIN4, &errorLine), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(SetupOpenInfFileA("nowhere.inf", nullptr, INF_STYLE_WIN4, &errorLine), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    m.write("C:\\MODEM\\OLD.INF", "[Identification]\r\nOptionType = NetAdapter\r\n");
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\OLD.INF", nullptr, INF_STYLE_WIN4, &errorLine), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
    HINF old = SetupOpenInfFileA("C:\\MODEM\\OLD.INF", nullptr, INF_STYLE_OLDNT, &errorLine);
    ASSERT_NE(old, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(old);

    m.write("C:\\MODEM\\BAD.INF", "[Version]\r\nSignature=$Chicago$\r\n\r\n[Broken\r\n");
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\BAD.INF", nullptr, INF_STYLE_WIN4, &errorLine), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_SECTION_NAME_LINE));
    EXPECT_EQ(errorLine, 4u);

    m.write("C:\\MODEM\\LONG.INF", "[Version]\nSignature=$Chicago$\nk=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\LONG.INF", nullptr, INF_STYLE_WIN4, &errorLine), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GENERAL_SYNTAX));
    EXPECT_EQ(errorLine, 3u);

    HINF inf = openSample(m);
    EXPECT_EQ(SetupOpenInfFileA("C:\\MODEM\\SAMPLE.INF", "Ports", INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
    SetupCloseInfFile(inf);

    // A bare name is found in the INF directory.
    m.write("C:\\WINNT\\INF\\drv_meq.inf", SampleInf);
    inf = SetupOpenInfFileA("DRV_MEQ.INF", nullptr, INF_STYLE_WIN4, nullptr);
    EXPECT_NE(inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(inf);
}

TEST(SetupapiInf, Utf16File)
{
    test::TestMachine m;
    m.attach();
    std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[S]\r\nName = W\xE9rt\r\n";
    std::string bytes = "\xFF\xFE";
    for (unsigned char c : text) {
        bytes += static_cast<char>(c);
        bytes += '\0';
    }
    m.write("C:\\MODEM\\WIDE.INF", bytes);
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\WIDE.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "s", "NAME", &context));
    EXPECT_EQ(field(context, 1), "W\xE9rt"); // ANSI 1252
    SetupCloseInfFile(inf);
}

TEST(SetupapiInf, LinesAndFields)
{
    test::TestMachine m;
    m.attach();
    HINF inf = openSample(m);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);

    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "MODELS", nullptr, &context));
    EXPECT_EQ(field(context, 0), "Brimlow 56K \"PCI\"");
    EXPECT_EQ(field(context, 1), "Inst_Section");
    EXPECT_EQ(field(context, 2), "PCI\\VEN_1A7E&DEV_5C21");
    EXPECT_EQ(SetupGetFieldCount(&context), 2u);

    // Size queries and a buffer one short of the NUL.
    DWORD required = 0;
    EXPECT_TRUE(SetupGetStringFieldA(&context, 1, nullptr, 0, &required));
    EXPECT_EQ(required, 13u);
    char small[12];
    std::memset(small, 'Z', sizeof small);
    EXPECT_FALSE(SetupGetStringFieldA(&context, 1, small, sizeof small, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 13u);
    char exact[13];
    EXPECT_TRUE(SetupGetStringFieldA(&context, 1, exact, sizeof exact, &required));
    EXPECT_STREQ(exact, "Inst_Section");
    EXPECT_FALSE(SetupGetStringFieldA(&context, 3, exact, sizeof exact, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(SetupFindNextLine(&context, &context));
    EXPECT_EQ(field(context, 0), "Second");
    EXPECT_EQ(SetupGetFieldCount(&context), 3u);
    char text[64];
    EXPECT_TRUE(SetupGetLineTextA(&context, nullptr, nullptr, nullptr, text, sizeof text, &required));
    EXPECT_STREQ(text, "Other,id2,extra");
    EXPECT_EQ(required, 16u);
    char multi[64];
    EXPECT_TRUE(SetupGetMultiSzFieldA(&context, 2, multi, sizeof multi, &required));
    EXPECT_EQ(required, 11u);
    EXPECT_EQ(std::string(multi, 11), std::string("id2\0extra\0\0", 11));
    EXPECT_FALSE(SetupFindNextLine(&context, &context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));

    EXPECT_TRUE(SetupFindFirstLineA(inf, "models", "second", &context));
    EXPECT_FALSE(SetupFindFirstLineA(inf, "Models", "Third", &context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    // A missing section is reported as a missing line.
    EXPECT_FALSE(SetupFindFirstLineA(inf, "NoSuch", nullptr, &context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_FALSE(SetupFindFirstLineA(inf, "NoSuch", "second", &context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    EXPECT_EQ(SetupGetLineCountA(inf, "Models"), 2);
    EXPECT_EQ(SetupGetLineCountA(inf, "NoSuch"), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));

    ASSERT_TRUE(SetupFindFirstLineA(inf, "Paths", "Numbers", &context));
    INT n = 0;
    EXPECT_TRUE(SetupGetIntField(&context, 1, &n));
    EXPECT_EQ(n, 42);
    EXPECT_TRUE(SetupGetIntField(&context, 2, &n));
    EXPECT_EQ(n, 0x1F);
    EXPECT_TRUE(SetupGetIntField(&context, 3, &n));
    EXPECT_EQ(n, -3);
    EXPECT_FALSE(SetupGetIntField(&context, 4, &n));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    SetupCloseInfFile(inf);
    EXPECT_FALSE(SetupFindFirstLineA(inf, "Models", nullptr, &context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetupGetFieldCount(&context), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SetupapiInf, DirIds)
{
    test::TestMachine m;
    m.attach();
    HINF inf = openSample(m);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "Paths", "Binary", &context));
    EXPECT_EQ(field(context, 1), "C:\\WINNT\\system32\\drivers\\mdm.sys");
    EXPECT_EQ(field(context, 2), "C:\\WINNT\\system32");
    EXPECT_EQ(field(context, 3), "C:\\WINNT");
    EXPECT_EQ(field(context, 4), "C:\\WINNT\\INF");
    EXPECT_EQ(field(context, 5), "C:\\WINNT\\help");
    EXPECT_EQ(field(context, 6), "C:\\Apps");
    EXPECT_EQ(field(context, 7), "C:\\modem"); // as the INF was opened
    SetupCloseInfFile(inf);
}
