// Files: creation dispositions, share modes across processes, appending,
// delete-on-close, deleting, renaming and attributes.
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winreg.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

HANDLE openFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0)
{
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

std::string readAll(HANDLE h)
{
    std::string out;
    char buffer[256];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n)
        out.append(buffer, n);
    return out;
}

// A forked child that opens a file as asked, reports the result through a
// pipe and then waits to be killed.
pid_t holdOpenInChild(const char* path, DWORD access, DWORD share, DWORD& childResult)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        HANDLE h = openFile(path, access, share, OPEN_EXISTING);
        DWORD result = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (write(fds[1], &result, sizeof result) != sizeof result)
            _exit(1);
        for (;;)
            pause();
    }
    close(fds[1]);
    childResult = 0xFFFFFFFF;
    if (read(fds[0], &childResult, sizeof childResult) != sizeof childResult)
        childResult = 0xFFFFFFFF;
    close(fds[0]);
    return pid;
}

void killChild(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}

TEST(Kernel32Files, CreationDispositionsAndTheirErrors)
{
    test::TestMachine m;
    m.attach();

    // Missing file, missing directory.
    EXPECT_EQ(openFile("C:\\MODEM\\NOPE.TXT", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(openFile("C:\\NODIR\\X.TXT", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(openFile("C:\\MODEM\\NOPE.TXT", GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // CREATE_NEW creates, then refuses.
    HANDLE h = openFile("C:\\TEMP\\a.txt", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(openFile("C:\\TEMP\\A.TXT", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));

    // OPEN_ALWAYS on an existing file keeps it and says so; matching ignores case.
    h = openFile("c:\\temp\\A.TXT", GENERIC_READ, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(readAll(h), "hello");
    EXPECT_TRUE(CloseHandle(h));

    // CREATE_ALWAYS truncates and says it existed; on a new file it does not.
    h = openFile("C:\\TEMP\\a.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    EXPECT_TRUE(CloseHandle(h));
    h = openFile("C:\\TEMP\\b.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(m.exists("C:\\TEMP\\b.txt"));

    // Read-only files refuse writers; directories refuse file opens.
    m.write("C:\\TEMP\\ro.txt", "fixed");
    ASSERT_TRUE(SetFileAttributesA("C:\\TEMP\\ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\ro.txt"), DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(openFile("C:\\TEMP\\ro.txt", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(openFile("C:\\TEMP\\ro.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    h = openFile("C:\\TEMP\\ro.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    char c;
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
    EXPECT_EQ(c, 'f');
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(openFile("C:\\WINNT", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    // Bad arguments.
    EXPECT_EQ(openFile("C:\\TEMP\\a.txt", GENERIC_READ, 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(openFile("C:\\TEMP\\*.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));

    // Closed and made-up handles.
    h = openFile("C:\\TEMP\\a.txt", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Kernel32Files, ShareModesHoldAcrossProcessesUntilTheHolderDies)
{
    test::TestMachine m;
    m.write("C:\\MODEM\\SETUP.TXT", "old line\r\n");
    m.attach();

    DWORD childResult = 0;
    pid_t child = holdOpenInChild("C:\\MODEM\\SETUP.TXT", GENERIC_WRITE, 0, childResult);
    ASSERT_GT(child, 0);
    ASSERT_EQ(childResult, 0u);

    EXPECT_EQ(openFile("C:\\MODEM\\SETUP.TXT", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    // Even a reader that shares everything: the holder shares nothing.
    EXPECT_EQ(openFile("C:\\MODEM\\setup.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    // CREATE_ALWAYS must not truncate a file it may not open.
    EXPECT_EQ(openFile("C:\\MODEM\\SETUP.TXT", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(m.read("C:\\MODEM\\SETUP.TXT"), "old line\r\n");
    EXPECT_FALSE(DeleteFileA("C:\\MODEM\\SETUP.TXT"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));

    killChild(child);
    HANDLE h = openFile("C:\\MODEM\\SETUP.TXT", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
}

TEST(Kernel32Files, ShareModesCheckBothDirections)
{
    test::TestMachine m;
    m.write("C:\\TEMP\\s.txt", "data");
    m.attach();

    // The reader allows other readers only.
    HANDLE reader = openFile("C:\\TEMP\\s.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE second = openFile("C:\\TEMP\\s.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openFile("C:\\TEMP\\s.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    // A new reader must itself share reading with the existing ones.
    EXPECT_EQ(openFile("C:\\TEMP\\s.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    CloseHandle(second);
    CloseHandle(reader);

    // In another process, a holder sharing reading lets a reader in but no writer.
    DWORD childResult = 0;
    pid_t child = holdOpenInChild("C:\\TEMP\\s.txt", GENERIC_READ, FILE_SHARE_READ, childResult);
    ASSERT_GT(child, 0);
    ASSERT_EQ(childResult, 0u);
    reader = openFile("C:\\TEMP\\s.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_EQ(openFile("C:\\TEMP\\s.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    killChild(child);
}

TEST(Kernel32Files, AppendingToATextLog)
{
    test::TestMachine m;
    m.attach();
    const char* log = "C:\\MODEM\\SETUP.TXT";

    // As a log does it: open without creating, and create only when that fails.
    EXPECT_EQ(openFile(log, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    const char* lines[] = { "first\r\n", "second\r\n", "third\r\n" };
    for (const char* line : lines) {
        HANDLE h = openFile(log, GENERIC_WRITE, 0, OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE)
            h = openFile(log, GENERIC_WRITE, 0, CREATE_ALWAYS);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD end = SetFilePointer(h, 0, nullptr, FILE_END);
        EXPECT_NE(end, INVALID_SET_FILE_POINTER);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, line, static_cast<DWORD>(strlen(line)), &n, nullptr));
        EXPECT_TRUE(FlushFileBuffers(h));
        EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_EQ(m.read(log), "first\r\nsecond\r\nthird\r\n");

    // The file pointer: relative moves, a negative seek, the end of the file.
    HANDLE h = openFile(log, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(h, 7, nullptr, FILE_BEGIN), 7u);
    EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), 8u);
    EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 8u);
    char buffer[6] = {};
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(h, buffer, 5, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "econd");
    EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
    EXPECT_TRUE(SetEndOfFile(h));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 5u);
    EXPECT_EQ(high, 0u);
    // Reading at the end succeeds with nothing read.
    ASSERT_TRUE(ReadFile(h, buffer, 5, &n, nullptr));
    EXPECT_EQ(n, 0u);
    FILETIME written {};
    EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
    EXPECT_NE(written.dwHighDateTime, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(m.read(log), "first");
}

TEST(Kernel32Files, DeleteOnCloseAndDeleting)
{
    test::TestMachine m;
    m.write("C:\\WINNT\\ISDEL.EXE", "program");
    m.attach();

    HANDLE h = openFile("C:\\WINNT\\ISDEL.EXE", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Others may read, as the handle shares reading, but not write or delete.
    HANDLE reader = openFile("C:\\WINNT\\ISDEL.EXE", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\ISDEL.EXE"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(h));
    // The name stays while another handle is open, but new opens are refused.
    EXPECT_TRUE(m.exists("C:\\WINNT\\ISDEL.EXE"));
    EXPECT_EQ(openFile("C:\\WINNT\\ISDEL.EXE", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_FALSE(m.exists("C:\\WINNT\\ISDEL.EXE"));

    // DeleteFile's own errors.
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\ISDEL.EXE"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("C:\\NODIR\\X"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\INF"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    m.write("C:\\TEMP\\ro.txt", "x");
    ASSERT_TRUE(SetFileAttributesA("C:\\TEMP\\ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(DeleteFileA("C:\\TEMP\\ro.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(SetFileAttributesA("C:\\TEMP\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\temp\\RO.TXT"));
    EXPECT_FALSE(m.exists("C:\\TEMP\\ro.txt"));

    // A delete-on-close file whose holder dies goes too.
    m.write("C:\\TEMP\\doomed.txt", "x");
    pid_t pid = fork();
    if (pid == 0) {
        HANDLE d = openFile("C:\\TEMP\\doomed.txt", GENERIC_READ, 0, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE);
        _exit(d == INVALID_HANDLE_VALUE ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(openFile("C:\\TEMP\\doomed.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Kernel32Files, CopyMoveAndAttributes)
{
    test::TestMachine m;
    m.write("C:\\TEMP\\src.txt", "contents");
    m.write("C:\\TEMP\\other.txt", "other");
    m.attach();

    EXPECT_TRUE(CopyFileA("C:\\TEMP\\SRC.TXT", "C:\\TEMP\\copy.txt", TRUE));
    EXPECT_EQ(m.read("C:\\TEMP\\copy.txt"), "contents");
    EXPECT_FALSE(CopyFileA("C:\\TEMP\\src.txt", "C:\\TEMP\\copy.txt", TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_TRUE(CopyFileA("C:\\TEMP\\other.txt", "C:\\TEMP\\copy.txt", FALSE));
    EXPECT_EQ(m.read("C:\\TEMP\\copy.txt"), "other");
    EXPECT_FALSE(CopyFileA("C:\\TEMP\\none.txt", "C:\\TEMP\\copy2.txt", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    EXPECT_FALSE(MoveFileA("C:\\TEMP\\src.txt", "C:\\TEMP\\copy.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA("C:\\TEMP\\src.txt", "C:\\TEMP\\copy.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(m.exists("C:\\TEMP\\src.txt"));
    EXPECT_EQ(m.read("C:\\TEMP\\copy.txt"), "contents");
    EXPECT_TRUE(MoveFileA("C:\\TEMP\\copy.txt", "C:\\MODEM\\moved.txt"));
    EXPECT_EQ(m.read("C:\\MODEM\\moved.txt"), "contents");
    EXPECT_FALSE(MoveFileA("C:\\TEMP\\gone.txt", "C:\\TEMP\\x.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    // An open file without delete sharing cannot be renamed.
    HANDLE h = CreateFileA("C:\\TEMP\\other.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileA("C:\\TEMP\\other.txt", "C:\\TEMP\\other2.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    CloseHandle(h);

    // Attributes the host cannot hold are kept, and travel with a rename.
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\other.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA("C:\\WINNT"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    ASSERT_TRUE(SetFileAttributesA("C:\\TEMP\\other.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\OTHER.TXT"), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(MoveFileA("C:\\TEMP\\other.txt", "C:\\TEMP\\renamed.txt"));
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\renamed.txt"), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesA("C:\\TEMP\\renamed.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\renamed.txt"), DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\missing.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Kernel32Files, AttributesAnotherProcessSetAreSeenAtOnce)
{
    test::TestMachine m;
    m.write("C:\\TEMP\\shared.txt", "x");
    m.attach();
    // This process reads the attributes first, and keeps what it read.
    ASSERT_TRUE(SetFileAttributesA("C:\\TEMP\\shared.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\shared.txt"), DWORD(FILE_ATTRIBUTE_HIDDEN));
    for (DWORD attributes : { DWORD(FILE_ATTRIBUTE_SYSTEM), DWORD(FILE_ATTRIBUTE_ARCHIVE) }) {
        pid_t pid = fork();
        if (pid == 0)
            _exit(SetFileAttributesA("C:\\TEMP\\shared.txt", attributes) ? 0 : 1);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(GetFileAttributesA("C:\\TEMP\\shared.txt"), attributes);
    }
}

TEST(Kernel32Files, RenamesDelayedUntilRestart)
{
    test::TestMachine m;
    m.write("C:\\MODEM\\SETUP.EXE.OLD", "x");
    m.attach();

    ASSERT_TRUE(MoveFileExA("C:\\MODEM\\SETUP.EXE.OLD", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\TEMP\\a.new", "C:\\TEMP\\a.sys", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    // Nothing moves now.
    EXPECT_TRUE(m.exists("C:\\MODEM\\SETUP.EXE.OLD"));
    EXPECT_FALSE(MoveFileExA("C:\\TEMP\\a", "C:\\TEMP\\b", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE, &key),
        ERROR_SUCCESS);
    char value[256] = {};
    DWORD type = 0, size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    std::string expected("\\??\\C:\\MODEM\\SETUP.EXE.OLD\0\0\\??\\C:\\TEMP\\a.new\0!\\??\\C:\\TEMP\\a.sys\0\0", 66);
    EXPECT_EQ(std::string(value, size), expected);
}

TEST(Kernel32Files, DelayedRenamesNeedAnAdministrator)
{
    test::TestMachine m;
    m.set("user=guest");
    m.attach();
    EXPECT_FALSE(MoveFileExA("C:\\TEMP\\x", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(Kernel32Files, ReadsAndWritesRefusedBeforeTheyStart)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\TEMP\\io.txt", "data");
    HANDLE reader = openFile("C:\\TEMP\\io.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE writer = openFile("C:\\TEMP\\io.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    // Only its presence matters: the simulated machine has no overlapped I/O.
    alignas(8) unsigned char overlappedStorage[32] = {};
    auto* overlapped = reinterpret_cast<LPOVERLAPPED>(overlappedStorage);

    // The count is cleared whenever the call is refused.
    DWORD n = 99;
    EXPECT_FALSE(ReadFile(reader, buffer, sizeof buffer, &n, overlapped));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(n, 0u);
    n = 99;
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(n, 0u);
    n = 99;
    EXPECT_FALSE(ReadFile(reader, nullptr, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(n, 0u);
    // Overlapped is refused before the access is looked at.
    EXPECT_FALSE(WriteFile(reader, "x", 1, &n, overlapped));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    n = 99;
    EXPECT_FALSE(WriteFile(writer, nullptr, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(n, 0u);
    n = 99;
    EXPECT_FALSE(WriteFile(nullptr, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(n, 0u);

    // Nothing to move needs no buffer.
    EXPECT_TRUE(ReadFile(reader, nullptr, 0, &n, nullptr));
    EXPECT_TRUE(WriteFile(writer, nullptr, 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(readAll(reader), "data");
    // Truncating and flushing want a handle that writes.
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(FlushFileBuffers(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(FlushFileBuffers(writer));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(writer));
}
