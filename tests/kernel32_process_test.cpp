// Processes: starting programs of the machine, exit codes, waits, and
// named events shared between processes.
#include "kernel32_child.h"
#include "kernel32/Launch.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

struct Started {
    BOOL ok { FALSE };
    DWORD error { 0 };
    PROCESS_INFORMATION info {};
};

Started start(const char* application, std::string commandLine, const char* directory = nullptr)
{
    Started s;
    STARTUPINFOA si {};
    si.cb = sizeof si;
    s.ok = CreateProcessA(application, commandLine.empty() ? nullptr : commandLine.data(), nullptr, nullptr, FALSE,
        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, directory, &si, &s.info);
    s.error = s.ok ? 0 : GetLastError();
    return s;
}

DWORD finish(const Started& s)
{
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    DWORD code = 0xDEAD;
    EXPECT_TRUE(GetExitCodeProcess(s.info.hProcess, &code));
    EXPECT_TRUE(CloseHandle(s.info.hThread));
    EXPECT_TRUE(CloseHandle(s.info.hProcess));
    return code;
}

}

TEST(Kernel32Process, CreateProcessOfASystemProgramAndItsExitCode)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach("C:\\MODEM\\SETUP.EXE");

    // A bare name is found in system32, with ".exe" added.
    Started s = start(nullptr, "k32child exit 7");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_NE(s.info.dwProcessId, 0u);
    EXPECT_EQ(finish(s), 7u);

    s = start("C:\\WINNT\\system32\\K32CHILD.EXE", "K32CHILD.EXE exit 0");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(finish(s), 0u);

    // The child sees its command line and the directory it was given.
    s = start(nullptr, "K32CHILD.EXE report C:\\TEMP\\report.txt", "C:\\WINNT\\INF");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(finish(s), 0u);
    EXPECT_EQ(m.read("C:\\TEMP\\report.txt"), "K32CHILD.EXE report C:\\TEMP\\report.txt\nC:\\WINNT\\INF\n");

    // Without a directory it inherits ours.
    s = start(nullptr, "K32CHILD.EXE report C:\\TEMP\\report.txt");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(finish(s), 0u);
    EXPECT_EQ(m.read("C:\\TEMP\\report.txt"), "K32CHILD.EXE report C:\\TEMP\\report.txt\nC:\\MODEM\n");
}

TEST(Kernel32Process, CreateProcessErrors)
{
    test::TestMachine m;
    m.write("C:\\WINNT\\PEPROG.EXE", std::string("MZ\x90\0\3\0\0\0", 8));
    m.attach("C:\\MODEM\\SETUP.EXE");

    Started s = start(nullptr, "nosuchprogram.exe -x");
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, DWORD(ERROR_FILE_NOT_FOUND));
    s = start(nullptr, "C:\\NODIR\\prog.exe");
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, DWORD(ERROR_PATH_NOT_FOUND));
    // A Windows image is not a program this machine can run.
    s = start(nullptr, "peprog arg");
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, DWORD(ERROR_BAD_EXE_FORMAT));
    s = start(nullptr, "rundll32x.exe shell32.dll,Control_RunDLL x.cpl", "C:\\NOWHERE");
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, DWORD(ERROR_DIRECTORY));

    // The same lookup, as the ntsim tool uses it.
    uint32_t error = 0;
    EXPECT_EQ(ntsim::resolveProgram("", "peprog", "C:\\", error), "");
    EXPECT_EQ(error, uint32_t(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(ntsim::resolveProgram("", "\"C:\\NODIR\\a b.exe\" x", "C:\\", error), "");
    EXPECT_EQ(error, uint32_t(ERROR_PATH_NOT_FOUND));
}

TEST(Kernel32Process, TerminateAndTimeouts)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach("C:\\MODEM\\SETUP.EXE");

    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, "never-set");
    ASSERT_NE(never, nullptr);
    Started s = start(nullptr, "K32CHILD.EXE waitevent never-set");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, 0), DWORD(WAIT_TIMEOUT));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(s.info.hProcess, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_TRUE(TerminateProcess(s.info.hProcess, 0x1234));
    EXPECT_EQ(WaitForSingleObject(s.info.hThread, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(finish(s), 0x1234u);
    EXPECT_TRUE(CloseHandle(never));

    EXPECT_TRUE(GetExitCodeProcess(GetCurrentProcess(), &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7FF0), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Kernel32Process, NamedEventsAcrossProcesses)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach("C:\\MODEM\\SETUP.EXE");

    char name[32];
    std::snprintf(name, sizeof name, "push-me%x", GetCurrentProcessId());
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));

    // Another process opens it by name and sets it.
    Started s = start(nullptr, std::string("K32CHILD.EXE setevent ") + name);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(finish(s), 0u);
    // Manual reset: it stays set until reset.
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));

    // A second create opens the same event; names are case-sensitive.
    HANDLE again = CreateEventA(nullptr, FALSE, TRUE, name);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(SetEvent(again));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "PUSH-ME"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // A child waiting for an event ends when we set it.
    ResetEvent(event);
    s = start(nullptr, std::string("K32CHILD.EXE waitevent ") + name);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, 50), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(finish(s), 0u);

    // The event goes with its last handle.
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenEventA(EVENT_MODIFY_STATE, FALSE, name), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    s = start(nullptr, std::string("K32CHILD.EXE setevent ") + name);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(finish(s), 2u);
}

TEST(Kernel32Process, AutoResetEvents)
{
    test::TestMachine m;
    m.attach();

    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, "auto");
    ASSERT_NE(event, nullptr);
    // One satisfied wait takes the signal.
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
    HANDLE opened = OpenEventA(EVENT_MODIFY_STATE, FALSE, "auto");
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(SetEvent(opened));
    // Opened for setting only, it cannot be waited on.
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(opened);
    // Opened for waiting only, it can be neither set nor reset.
    HANDLE waitOnly = OpenEventA(SYNCHRONIZE, FALSE, "auto");
    ASSERT_NE(waitOnly, nullptr);
    EXPECT_FALSE(SetEvent(waitOnly));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ResetEvent(waitOnly));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(waitOnly);
    CloseHandle(event);

    // Unnamed events work inside the process.
    HANDLE local = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(WaitForSingleObject(local, 10), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(local));
    EXPECT_EQ(WaitForSingleObject(local, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(local));
    EXPECT_FALSE(SetEvent(local));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ResetEvent(local));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Kernel32Process, TheRunRecordsWhatAStartWasGivenAndWhatEachProcessHeldAtItsEnd)
{
    test::TestMachine m;
    test::installChildProgram(m);
    auto run = m.run({ "C:\\WINNT\\system32\\K32CHILD.EXE", "spawn", "0", "-", "leave", "all" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ASSERT_EQ(run.records.size(), 3u) << run.out;

    const ntsim::Json& started = run.records[0];
    EXPECT_EQ(ntsim::stringMember(started, "event"), "process");
    EXPECT_EQ(ntsim::stringMember(started, "command"), "C:\\WINNT\\system32\\K32CHILD.EXE leave all");
    EXPECT_TRUE(started["application"].is_null());
    EXPECT_EQ(started["inherit"], false);
    EXPECT_EQ(started["flags"], 0);
    EXPECT_EQ(started["startup"]["cb"], sizeof(STARTUPINFOA));
    EXPECT_EQ(started["startup"]["flags"], 0);
    EXPECT_TRUE(started["startup"]["desktop"].is_null());

    // Each process's end, in the run's order: the program, then the one it started.
    const ntsim::Json& parent = run.records[1];
    EXPECT_EQ(ntsim::stringMember(parent, "event"), "exit");
    EXPECT_EQ(ntsim::stringMember(parent, "program"), "C:\\WINNT\\system32\\K32CHILD.EXE");
    const ntsim::Json& child = run.records[2];
    EXPECT_EQ(ntsim::stringMember(child, "event"), "exit");
    EXPECT_EQ(child["handles"],
        ntsim::Json({ { "INF handles", 1 }, { "device information sets", 1 }, { "events", 2 }, { "files", 1 },
            { "find handles", 1 }, { "modules", 1 }, { "registry keys", 1 }, { "service handles", 1 },
            { "windows", 1 } }));
    EXPECT_EQ(parent["handles"], ntsim::Json::object()) << "spawn closes the handles of its child";
}
