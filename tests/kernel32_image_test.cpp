// A running program's image as an open of its file, delete-on-close across
// processes, OpenProcess, and waiting for several objects at once.
#include "kernel32_child.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <unistd.h>

#include <string>

namespace {

const char program[] = "C:\\TEMP\\K32CHILD.EXE";

struct Child {
    PROCESS_INFORMATION info {};
    BOOL ok { FALSE };
    DWORD error { 0 };
};

// Started as the setup program starts ISDEL.EXE: handles inherited, no
// flags, start-up information zero but its size and the feedback flag.
Child start(const std::string& arguments)
{
    Child c;
    STARTUPINFOA si {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_FORCEOFFFEEDBACK;
    std::string commandLine = std::string(program) + " " + arguments;
    c.ok = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &c.info);
    c.error = c.ok ? 0 : GetLastError();
    return c;
}

void end(const Child& c)
{
    EXPECT_EQ(WaitForSingleObject(c.info.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    CloseHandle(c.info.hThread);
    CloseHandle(c.info.hProcess);
}

HANDLE open(DWORD access, DWORD share, DWORD flags = 0)
{
    return CreateFileA(program, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

// The last error of a call that failed, 0 if it succeeded.
DWORD errorOf(HANDLE h)
{
    if (h != INVALID_HANDLE_VALUE && h) {
        CloseHandle(h);
        return 0;
    }
    return GetLastError();
}

DWORD errorOf(BOOL ok)
{
    return ok ? 0 : GetLastError();
}

}

TEST(Kernel32Image, DeleteOnCloseWaitsForTheRunningImage)
{
    test::TestMachine m;
    test::installChildProgram(m, program, test::ChildFile::Copy);
    m.attach();

    // What the setup program does before it starts the delete program.
    HANDLE holder = open(GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "go");
    Child c = start("waitevent go");
    ASSERT_TRUE(c.ok) << c.error;

    // The holder lets go; the running program keeps the file.
    EXPECT_TRUE(CloseHandle(holder));
    EXPECT_TRUE(m.exists(program));
    // It is deleted already, for everyone else.
    EXPECT_EQ(errorOf(open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorOf(DeleteFileA(program)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(WaitForSingleObject(c.info.hProcess, 20), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(m.exists(program));

    // The file goes when the program ends.
    SetEvent(go);
    end(c);
    EXPECT_FALSE(m.exists(program));
    CloseHandle(go);
}

TEST(Kernel32Image, RunningImageCannotBeWrittenOrDeleted)
{
    test::TestMachine m;
    test::installChildProgram(m, program, test::ChildFile::Copy);
    m.attach();

    // NT's loader will not map a file that someone writes without sharing.
    HANDLE writer = open(GENERIC_WRITE, FILE_SHARE_READ);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    Child refused = start("exit 0");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, DWORD(ERROR_SHARING_VIOLATION));
    CloseHandle(writer);

    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "go");
    Child c = start("waitevent go");
    ASSERT_TRUE(c.ok) << c.error;
    // Writing the image is a sharing violation, deleting it is refused.
    EXPECT_EQ(errorOf(open(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)),
        DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(errorOf(CopyFileA("C:\\MODEM\\DRV_MEQ.INF", program, FALSE)), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(errorOf(DeleteFileA(program)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorOf(open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_FLAG_DELETE_ON_CLOSE)),
        DWORD(ERROR_ACCESS_DENIED));
    // Reading it is no conflict, whatever the sharing; renaming it is allowed.
    EXPECT_EQ(errorOf(open(GENERIC_READ, 0)), 0u);
    EXPECT_EQ(errorOf(MoveFileA(program, "C:\\TEMP\\RENAMED.EXE")), 0u);
    EXPECT_EQ(errorOf(DeleteFileA("C:\\TEMP\\RENAMED.EXE")), DWORD(ERROR_ACCESS_DENIED));

    SetEvent(go);
    end(c);
    EXPECT_EQ(errorOf(DeleteFileA("C:\\TEMP\\RENAMED.EXE")), 0u);
    CloseHandle(go);

    // A file whose delete is pending does not start.
    test::installChildProgram(m, program, test::ChildFile::Copy);
    HANDLE reader = open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileA(program));
    Child pending = start("exit 0");
    EXPECT_FALSE(pending.ok);
    EXPECT_EQ(pending.error, DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
    EXPECT_FALSE(m.exists(program));
}

TEST(Kernel32Image, OpenProcessWaitsForAnotherProgram)
{
    test::TestMachine m;
    test::installChildProgram(m, program, test::ChildFile::Copy);
    m.attach();

    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "go");
    Child c = start("waitevent go");
    ASSERT_TRUE(c.ok) << c.error;
    HANDLE waiter = OpenProcess(SYNCHRONIZE, FALSE, c.info.dwProcessId);
    ASSERT_NE(waiter, nullptr) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(waiter, 0), DWORD(WAIT_TIMEOUT));
    // Opened for waiting only: NT's answers to the other uses.
    DWORD code = 0;
    EXPECT_EQ(errorOf(GetExitCodeProcess(waiter, &code)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorOf(TerminateProcess(waiter, 1)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, c.info.dwProcessId), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    // Only the machine's processes can be opened.
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(getppid())), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    HANDLE signal = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE both[2] = { signal, waiter };
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20), DWORD(WAIT_TIMEOUT));
    SetEvent(go);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), DWORD(WAIT_OBJECT_0 + 1));
    EXPECT_EQ(WaitForSingleObject(waiter, 0), DWORD(WAIT_OBJECT_0));
    end(c);
    EXPECT_TRUE(CloseHandle(waiter));
    // An ended process cannot be opened any more.
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, c.info.dwProcessId), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    CloseHandle(signal);
    CloseHandle(go);
}

TEST(Kernel32Image, WaitForMultipleObjects)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach();

    HANDLE a = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, TRUE, "b");
    HANDLE ab[2] = { a, b };
    // Any: the lowest index that is set, and only that one is taken.
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, 0), DWORD(WAIT_OBJECT_0 + 1));
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, 10), DWORD(WAIT_TIMEOUT));
    // All: nothing is taken until all are set.
    SetEvent(a);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, TRUE, 10), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(a, 0), DWORD(WAIT_OBJECT_0));
    SetEvent(a);
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, TRUE, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(a, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(b, 0), DWORD(WAIT_TIMEOUT));

    // All of an event set by another process and of that process.
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    char commandLine[] = "K32CHILD.EXE setevent b";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HANDLE childAndEvent[2] = { pi.hProcess, b };
    EXPECT_EQ(WaitForMultipleObjects(2, childAndEvent, TRUE, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(b, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // NT's refusals.
    auto refusal = [](DWORD count, const HANDLE* handles, BOOL all) {
        SetLastError(0);
        return WaitForMultipleObjects(count, handles, all, 0) == WAIT_FAILED ? GetLastError() : 0;
    };
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (auto& h : many)
        h = a;
    EXPECT_EQ(refusal(0, ab, FALSE), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(refusal(MAXIMUM_WAIT_OBJECTS + 1, many, FALSE), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(refusal(MAXIMUM_WAIT_OBJECTS, many, FALSE), 0u); // the same handle may recur in a wait for any
    HANDLE sameTwice[2] = { a, a };
    EXPECT_EQ(refusal(2, sameTwice, TRUE), DWORD(ERROR_INVALID_PARAMETER));
    HANDLE bAgain = OpenEventA(SYNCHRONIZE, FALSE, "b");
    HANDLE oneObject[2] = { b, bAgain };
    EXPECT_EQ(refusal(2, oneObject, TRUE), DWORD(ERROR_INVALID_PARAMETER));
    HANDLE bad[2] = { a, reinterpret_cast<HANDLE>(0x7FF0) };
    EXPECT_EQ(refusal(2, bad, FALSE), DWORD(ERROR_INVALID_HANDLE));
    HANDLE setOnly = OpenEventA(EVENT_MODIFY_STATE, FALSE, "b");
    HANDLE noSync[2] = { a, setOnly };
    EXPECT_EQ(refusal(2, noSync, FALSE), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(setOnly);
    CloseHandle(bAgain);
    CloseHandle(a);
    CloseHandle(b);
}

TEST(Kernel32Image, ProcessIdsAndTheSystemDirectory)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach();
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));

    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    char commandLine[] = "K32CHILD.EXE whoami C:\\TEMP\\who.txt";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(m.read("C:\\TEMP\\who.txt"), std::to_string(pi.dwProcessId) + "\nC:\\WINNT\\system32\n");

    // The parent of the system directory holds ISDEL.EXE.
    char system[512];
    EXPECT_EQ(GetSystemDirectoryA(system, 5), 18u);
    EXPECT_EQ(GetSystemDirectoryA(system, sizeof system), 17u);
    EXPECT_TRUE(m.exists(std::string(system).substr(0, 9) + "ISDEL.EXE"));
}
