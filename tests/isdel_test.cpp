// ISDEL.EXE: its command line, and the deferred delete with a stand-in
// setup program (K32CHILD.EXE setup ...) that does what the setup program
// does: the event, ISDEL.EXE held open with delete-on-close, the start, the
// wait, the handles closed.
#include "kernel32_child.h"
#include "support/RunState.h"
#include "support/SetupRun.h"

#include "isdel/DeleteRequest.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <dirent.h>

#include <cstdio>

namespace {

const char standIn[] = "C:\\MODEM\\K32CHILD.EXE";

// A machine with the stand-in setup program in C:\MODEM, a file of its own.
struct IsdelMachine {
    test::TestMachine m;
    IsdelMachine()
    {
        test::installChildProgram(m, standIn, test::ChildFile::Copy);
        test::installChildProgram(m);
    }
    test::RunResult setup(const std::string& extra, const std::string& logFlag, unsigned holdMs = 0)
    {
        return m.run({ standIn, "setup", extra, logFlag, std::to_string(holdMs) });
    }
};

}

TEST(Isdel, CommandLineOfTheSetupProgram)
{
    test::TestMachine m;
    m.attach();
    const std::string own = "C:\\WINNT\\ISDEL.EXE";
    DeleteRequest r;
    ASSERT_TRUE(ParseDeleteRequest(own + " 1a4 C:\\MODEM\\SETUP.EXE C:\\MODEM\\setupres.dll -L", own, r));
    EXPECT_EQ(r.setupProcessId, 0x1A4u);
    EXPECT_EQ(r.files, (std::vector<std::string> { "C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\setupres.dll" }));
    EXPECT_TRUE(r.noLog);

    // Paths are not quoted: a blank belongs to a path unless a full path follows it.
    r = {};
    ASSERT_TRUE(ParseDeleteRequest(own + " ffffffff C:\\Program Files\\Modem\\SETUP.EXE", own, r));
    EXPECT_EQ(r.setupProcessId, 0xFFFFFFFFu);
    EXPECT_EQ(r.files, (std::vector<std::string> { "C:\\Program Files\\Modem\\SETUP.EXE" }));
    EXPECT_FALSE(r.noLog);
    r = {};
    ASSERT_TRUE(ParseDeleteRequest("C:\\WINNT\\ISDEL.EXE 2c \\\\srv\\share\\SETUP.EXE D:\\x y\\setupres.dll", own, r));
    EXPECT_EQ(r.files, (std::vector<std::string> { "\\\\srv\\share\\SETUP.EXE", "D:\\x y\\setupres.dll" }));

    for (const char* bad : { "C:\\WINNT\\ISDEL.EXE", "C:\\WINNT\\ISDEL.EXE 1a4", "C:\\WINNT\\ISDEL.EXE 0 C:\\S.EXE",
             "C:\\WINNT\\ISDEL.EXE 1g4 C:\\S.EXE", "C:\\WINNT\\ISDEL.EXE 123456789 C:\\S.EXE",
             "C:\\WINNT\\ISDEL.EXE 1a4 SETUP.EXE", "C:\\WINNT\\ISDEL.EXE 1a4 -L",
             "C:\\WINNT\\ISDEL.EXE 1a4 C:\\A.EXE C:\\B.DLL C:\\C.DLL" }) {
        DeleteRequest ignored;
        EXPECT_FALSE(ParseDeleteRequest(bad, own, ignored)) << bad;
    }

    // Only files directly in the setup program's directory or ours, named plainly.
    EXPECT_TRUE(MayDelete("C:\\MODEM\\setupres.dll", "C:\\MODEM\\", own));
    EXPECT_TRUE(MayDelete("c:\\modem\\SETUP.EXE", "C:\\MODEM\\", own));
    EXPECT_TRUE(MayDelete("C:\\WINNT\\setupres.dll", "C:\\MODEM\\", own));
    EXPECT_FALSE(MayDelete("C:\\WINNT\\ISDEL.EXE", "C:\\MODEM\\", own));
    EXPECT_FALSE(MayDelete("C:\\WINNT\\system32\\setupres.dll", "C:\\MODEM\\", own));
    EXPECT_FALSE(MayDelete("C:\\MODEM\\LANG\\setupres.dll", "C:\\MODEM\\", own));
    EXPECT_FALSE(MayDelete("C:\\MODEM\\..\\WINNT\\win.ini", "C:\\MODEM\\", own));
    EXPECT_FALSE(MayDelete("C:\\TEMP\\x.dll", "C:\\MODEM\\", own));
    EXPECT_FALSE(MayDelete("setupres.dll", "C:\\MODEM\\", own));
}

TEST(Isdel, DeletesTheFilesAfterTheSetupProgramAndGoesItself)
{
    IsdelMachine s;
    s.m.write("C:\\MODEM\\SETUP.TXT", "the run's log\r\n");
    test::RunResult r = s.setup("C:\\MODEM\\setupres.dll", "log");
    EXPECT_EQ(r.exitCode, 0) << r.out; // the event, not ISDEL.EXE's end, ended the wait
    test::expectHandlesAtExit(r);
    EXPECT_FALSE(s.m.exists(standIn));
    EXPECT_FALSE(s.m.exists("C:\\MODEM\\setupres.dll"));
    EXPECT_FALSE(s.m.exists("C:\\WINNT\\ISDEL.EXE"));
    // A logged run's log says what was done, and stays with its directory.
    EXPECT_EQ(s.m.read("C:\\MODEM\\SETUP.TXT"), "the run's log\r\n"
                                                "ISDEL deleted C:\\MODEM\\K32CHILD.EXE\r\n"
                                                "ISDEL deleted C:\\MODEM\\setupres.dll\r\n");
    EXPECT_TRUE(s.m.exists("C:\\MODEM\\DRV_MEQ.INF"));
    // No named event is left behind.
    EXPECT_EQ(test::runStateNumber(s.m, "SELECT count(*) FROM event"), 0);
    EXPECT_EQ(test::runStateNumber(s.m, "SELECT count(*) FROM event_holder"), 0);
}

TEST(Isdel, WithoutALogTheEmptiedDirectoryGoesToo)
{
    IsdelMachine s;
    // Only the setup program and its resource library are left of the package.
    DIR* dir = opendir(s.m.host("C:\\MODEM").c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && name != "K32CHILD.EXE" && name != "setupres.dll")
            s.m.remove("C:\\MODEM\\" + name);
    }
    closedir(dir);
    test::RunResult r = s.setup("C:\\MODEM\\setupres.dll", "-L");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    test::expectHandlesAtExit(r);
    EXPECT_FALSE(s.m.exists("C:\\MODEM"));
    EXPECT_FALSE(s.m.exists("C:\\WINNT\\ISDEL.EXE"));

    // Something else left in the directory keeps it; no log is written.
    IsdelMachine t;
    test::RunResult r2 = t.setup("-", "-L");
    EXPECT_EQ(r2.exitCode, 0) << r2.out;
    EXPECT_FALSE(t.m.exists(standIn));
    EXPECT_TRUE(t.m.exists("C:\\MODEM\\setupres.dll"));
    EXPECT_TRUE(t.m.exists("C:\\MODEM\\DRV_MEQ.INF"));
    EXPECT_FALSE(t.m.exists("C:\\MODEM\\SETUP.TXT"));
}

TEST(Isdel, FileHeldOpenIsTriedAgainThenLeft)
{
    // Released within the retry time: deleted.
    IsdelMachine s;
    s.m.write("C:\\MODEM\\SETUP.TXT", "");
    test::RunResult r = s.setup("C:\\MODEM\\setupres.dll", "log", 1000);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    test::expectHandlesAtExit(r);
    EXPECT_FALSE(s.m.exists("C:\\MODEM\\setupres.dll"));
    EXPECT_EQ(s.m.read("C:\\MODEM\\SETUP.TXT"), "ISDEL deleted C:\\MODEM\\K32CHILD.EXE\r\n"
                                                "ISDEL deleted C:\\MODEM\\setupres.dll\r\n");

    // Held longer: left, with the sharing violation in the log.
    IsdelMachine t;
    t.m.write("C:\\MODEM\\SETUP.TXT", "");
    test::RunResult r2 = t.setup("C:\\MODEM\\setupres.dll", "log", 8000);
    EXPECT_EQ(r2.exitCode, 0) << r2.out;
    EXPECT_TRUE(t.m.exists("C:\\MODEM\\setupres.dll"));
    EXPECT_FALSE(t.m.exists(standIn));
    EXPECT_FALSE(t.m.exists("C:\\WINNT\\ISDEL.EXE"));
    EXPECT_EQ(t.m.read("C:\\MODEM\\SETUP.TXT"), "ISDEL deleted C:\\MODEM\\K32CHILD.EXE\r\n"
                                                "ISDEL could not delete C:\\MODEM\\setupres.dll: error 32\r\n");
}

TEST(Isdel, PathsOutsideTheSetupProgramsDirectoryAreRefused)
{
    IsdelMachine s;
    s.m.write("C:\\TEMP\\keep.dll", "keep");
    s.m.write("C:\\MODEM\\SETUP.TXT", "");
    test::RunResult r = s.setup("C:\\TEMP\\keep.dll", "log");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    test::expectHandlesAtExit(r);
    EXPECT_EQ(s.m.read("C:\\TEMP\\keep.dll"), "keep");
    EXPECT_FALSE(s.m.exists(standIn));
    EXPECT_EQ(s.m.read("C:\\MODEM\\SETUP.TXT"),
        "ISDEL refused C:\\TEMP\\keep.dll: not a file of the setup program's directory\r\n"
        "ISDEL deleted C:\\MODEM\\K32CHILD.EXE\r\n");

    IsdelMachine t;
    t.m.write("C:\\MODEM\\SETUP.TXT", "");
    test::RunResult r2 = t.setup("C:\\MODEM\\..\\WINNT\\win.ini", "log");
    EXPECT_EQ(r2.exitCode, 0) << r2.out;
    EXPECT_TRUE(t.m.exists("C:\\WINNT\\system32\\K32CHILD.EXE"));
    EXPECT_EQ(t.m.read("C:\\MODEM\\SETUP.TXT"),
        "ISDEL refused C:\\MODEM\\..\\WINNT\\win.ini: not a file of the setup program's directory\r\n"
        "ISDEL deleted C:\\MODEM\\K32CHILD.EXE\r\n");
}

TEST(Isdel, NothingHappensWithoutASetupProgramWaiting)
{
    IsdelMachine s;
    // A program of the machine runs, but made no event "push-me<pid>":
    // nobody asked, nothing is touched.
    s.m.attach();
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    char sleeper[] = "K32CHILD.EXE sleep 2000";
    ASSERT_TRUE(CreateProcessA(nullptr, sleeper, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    char pid[16];
    std::snprintf(pid, sizeof pid, "%lx", static_cast<unsigned long>(pi.dwProcessId));
    test::RunResult r = s.m.run({ "C:\\WINNT\\ISDEL.EXE", pid, "C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\setupres.dll" });
    EXPECT_EQ(r.exitCode, 3) << r.out;
    test::expectHandlesAtExit(r);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_TRUE(s.m.exists("C:\\MODEM\\SETUP.EXE"));
    EXPECT_TRUE(s.m.exists("C:\\MODEM\\setupres.dll"));
    EXPECT_TRUE(s.m.exists("C:\\WINNT\\ISDEL.EXE"));
    EXPECT_EQ(s.m.run({ "C:\\WINNT\\ISDEL.EXE", "nonsense" }).exitCode, 2);

    // No ISDEL.EXE: the setup program starts nothing and its files stay.
    s.m.remove("C:\\WINNT\\ISDEL.EXE");
    test::RunResult r2 = s.setup("C:\\MODEM\\setupres.dll", "-L");
    EXPECT_EQ(r2.exitCode, 10) << r2.out;
    EXPECT_TRUE(s.m.exists(standIn));
    EXPECT_TRUE(s.m.exists("C:\\MODEM\\setupres.dll"));
}

TEST(Isdel, ADeleteProgramThatNeverAnswersEndsTheWaitByEnding)
{
    IsdelMachine s;
    // In ISDEL.EXE's place, a program that sets no event and ends.
    test::installChildProgram(s.m, "C:\\WINNT\\ISDEL.EXE", test::ChildFile::Copy);
    test::RunResult r = s.setup("C:\\MODEM\\setupres.dll", "-L");
    EXPECT_EQ(r.exitCode, 1) << r.out; // WAIT_OBJECT_0 + 1: the process
    EXPECT_TRUE(s.m.exists(standIn));
    EXPECT_TRUE(s.m.exists("C:\\MODEM\\setupres.dll"));
    // Its file went with the last of the delete-on-close handle and its image.
    EXPECT_FALSE(s.m.exists("C:\\WINNT\\ISDEL.EXE"));
}
