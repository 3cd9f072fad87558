#include "app/SetupLog.h"

#include "support/TestMachine.h"

#include <gtest/gtest.h>

namespace {

const char logPath[] = "C:\\MODEM\\SETUP.TXT";

}

TEST(AppLog, OffUntilEnabledAndThenAppendsCrLfLinesBesideTheProgram)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE", "SETUP.EXE");

    CSetupLog log;
    log.SetFileName("SETUP.TXT");
    EXPECT_FALSE(log.Open());
    log.Write("lost\n");
    EXPECT_FALSE(m.exists(logPath)) << "a log that is off touches no file";

    log.Enable();
    ASSERT_TRUE(log.Open());
    log.Write("first line\n");
    log.Close();
    EXPECT_EQ(m.read(logPath), "first line\r\n");

    // Between lines the file is closed: another program can open it alone.
    HANDLE h = CreateFileA(logPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    CloseHandle(h);

    log.Write("second\n");
    log.Write("two\nlines\n");
    EXPECT_EQ(m.read(logPath), "first line\r\nsecond\r\ntwo\r\nlines\r\n");
}

TEST(AppLog, ASecondRunAppendsWithNothingBetween)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE", "SETUP.EXE");
    m.write(logPath, "earlier run\r\n");

    CSetupLog log;
    log.Enable();
    log.SetFileName("SETUP.TXT");
    log.Write("this run\n");
    EXPECT_EQ(m.read(logPath), "earlier run\r\nthis run\r\n");
}

TEST(AppLog, ALineIsLostWhileAnotherProgramHoldsTheFileAndTheNextOneLands)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE", "SETUP.EXE");
    CSetupLog log;
    log.Enable();
    log.SetFileName("SETUP.TXT");
    log.Write("one\n");

    HANDLE holder = CreateFileA(logPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(log.Open()) << "the log opens its file without sharing";
    log.Write("lost while held\n");
    CloseHandle(holder);

    log.Write("two\n");
    EXPECT_EQ(m.read(logPath), "one\r\ntwo\r\n") << "the held file was neither cut nor written";
}

TEST(AppLog, TraceLinesAreCutToTheLineBufferAndStillEndTheLine)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE", "SETUP.EXE");
    theLog.Enable();
    theLog.SetFileName("SETUP.TXT");

    std::string longName(400, 'x');
    LogTrace("Install looking at %s\n", longName.c_str());
    LogTrace("Install exit with uRet %u\n", 0u);
    std::string text = m.read(logPath);
    std::string first = "Install looking at " + std::string(255 - 1 - 19, 'x') + "\r\n";
    EXPECT_EQ(text, first + "Install exit with uRet 0\r\n");
}

TEST(AppLog, TheFileIsBesideTheProgramWhateverTheCurrentDirectory)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE", "SETUP.EXE -l", "C:\\WINNT\\system32");
    char cwd[MAX_PATH] = "";
    ASSERT_GT(GetCurrentDirectoryA(sizeof cwd, cwd), 0u);
    ASSERT_STREQ(cwd, "C:\\WINNT\\system32");

    // Two runs, each with its own log object, append to the one file.
    for (const char* line : { "run one\n", "run two\n" }) {
        CSetupLog log;
        log.Enable();
        log.SetFileName("SETUP.TXT");
        log.Write(line);
    }
    EXPECT_EQ(m.read(logPath), "run one\r\nrun two\r\n");
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\SETUP.TXT"));
}
