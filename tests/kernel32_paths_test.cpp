// Paths, directories and find-file listings.
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> find(const char* pattern, DWORD& error)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return names;
    }
    do
        names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    error = GetLastError();
    EXPECT_TRUE(FindClose(h));
    return names;
}

}

TEST(Kernel32Paths, GetFullPathNameCases)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE");
    char buffer[MAX_PATH];
    char* part = nullptr;

    // A module path turned into a directory and a file part.
    DWORD n = GetFullPathNameA("C:\\MODEM\\SETUP.EXE", sizeof buffer, buffer, &part);
    EXPECT_EQ(std::string(buffer), "C:\\MODEM\\SETUP.EXE");
    EXPECT_EQ(n, 18u);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part - buffer, 9);
    EXPECT_STREQ(part, "SETUP.EXE");

    // Relative to the current directory, with dots and forward slashes.
    n = GetFullPathNameA("sub/../x.txt", sizeof buffer, buffer, &part);
    EXPECT_EQ(std::string(buffer, n), "C:\\MODEM\\x.txt");
    EXPECT_STREQ(part, "x.txt");
    GetFullPathNameA("..\\WINNT\\.\\system32", sizeof buffer, buffer, &part);
    EXPECT_STREQ(buffer, "C:\\WINNT\\system32");
    GetFullPathNameA("\\TEMP", sizeof buffer, buffer, &part);
    EXPECT_STREQ(buffer, "C:\\TEMP");

    // A trailing backslash has no file part.
    GetFullPathNameA("C:\\WINNT\\", sizeof buffer, buffer, &part);
    EXPECT_STREQ(buffer, "C:\\WINNT\\");
    EXPECT_EQ(part, nullptr);

    // Too small a buffer: the size needed, terminator included, and nothing written.
    char small[5] = "keep";
    EXPECT_EQ(GetFullPathNameA("C:\\MODEM\\SETUP.EXE", sizeof small, small, &part), 19u);
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(GetFullPathNameA("C:\\MODEM\\SETUP.EXE", 18, buffer, nullptr), 19u);
    EXPECT_EQ(GetFullPathNameA("C:\\MODEM\\SETUP.EXE", 19, buffer, nullptr), 18u);

    EXPECT_EQ(GetFullPathNameA("", sizeof buffer, buffer, &part), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
}

TEST(Kernel32Paths, DirectoriesAndTheSystemsOwn)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE");
    char buffer[MAX_PATH];

    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\WINNT");
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\WINNT\\system32");
    EXPECT_EQ(GetSystemDirectoryA(buffer, 17), 18u);
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\TEMP\\");

    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\MODEM");
    EXPECT_TRUE(SetCurrentDirectoryA("c:\\winnt\\SYSTEM32\\"));
    // NT keeps the spelling it was given.
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\winnt\\SYSTEM32");
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\NOWHERE"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    EXPECT_TRUE(CreateDirectoryA("C:\\TEMP\\New", nullptr));
    EXPECT_FALSE(CreateDirectoryA("C:\\temp\\NEW", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\TEMP\\a\\b", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    m.write("C:\\TEMP\\New\\f.txt", "x");
    EXPECT_FALSE(RemoveDirectoryA("C:\\TEMP\\New"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(DeleteFileA("C:\\TEMP\\New\\f.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\TEMP\\NEW"));
    EXPECT_FALSE(m.exists("C:\\TEMP\\New"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\TEMP\\New"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // A file is no directory; the current directory and the root stay.
    m.write("C:\\TEMP\\plain.txt", "x");
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\TEMP\\plain.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
    EXPECT_FALSE(RemoveDirectoryA("C:\\TEMP\\plain.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
    EXPECT_TRUE(CreateDirectoryA("C:\\TEMP\\Here", nullptr));
    EXPECT_TRUE(SetCurrentDirectoryA("C:\\TEMP\\Here\\"));
    EXPECT_FALSE(RemoveDirectoryA("c:\\temp\\here\\"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(SetCurrentDirectoryA("C:\\TEMP"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\TEMP\\Here\\"));
    EXPECT_FALSE(m.exists("C:\\TEMP\\Here"));
}

TEST(Kernel32Paths, FindFileMatchesWithoutRegardToCase)
{
    test::TestMachine m;
    m.write("C:\\TEMP\\find\\Modem1.INF", "a");
    m.write("C:\\TEMP\\find\\modem2.inf", "bb");
    m.write("C:\\TEMP\\find\\README", "ccc");
    m.write("C:\\TEMP\\find\\setup.exe", "d");
    m.attach();

    DWORD error = 0;
    std::vector<std::string> names = find("C:\\TEMP\\FIND\\*.inf", error);
    EXPECT_EQ(names, (std::vector<std::string> { "Modem1.INF", "modem2.inf" }));
    EXPECT_EQ(error, DWORD(ERROR_NO_MORE_FILES));

    names = find("c:\\temp\\find\\MODEM?.*", error);
    EXPECT_EQ(names, (std::vector<std::string> { "Modem1.INF", "modem2.inf" }));

    // "*.*" matches names without an extension; "." and ".." come first.
    names = find("C:\\TEMP\\find\\*.*", error);
    EXPECT_EQ(names, (std::vector<std::string> { ".", "..", "Modem1.INF", "modem2.inf", "README", "setup.exe" }));

    // A plain name finds the file in its own spelling, with its size.
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\TEMP\\FIND\\MODEM2.INF", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "modem2.inf");
    EXPECT_EQ(data.nFileSizeLow, 2u);
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    // A find handle is not closed by CloseHandle.
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    names = find("C:\\TEMP\\find\\*.sys", error);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
    names = find("C:\\TEMP\\nodir\\*.inf", error);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));

    // The root has no "." or "..".
    names = find("C:\\*", error);
    std::set<std::string> root(names.begin(), names.end());
    EXPECT_EQ(root.count("."), 0u);
    EXPECT_EQ(root.count("WINNT"), 1u);
}

TEST(Kernel32Paths, ProfileFiles)
{
    test::TestMachine m;
    m.write("C:\\TEMP\\test.ini", "; comment\r\n[Modem]\r\nPort = COM2 \r\nName=\"Soft Modem\"\r\n\r\n[Other]\r\nA=1\r\n");
    m.attach();
    char buffer[64];

    EXPECT_EQ(GetPrivateProfileStringA("modem", "PORT", "none", buffer, sizeof buffer, "C:\\TEMP\\test.ini"), 4u);
    EXPECT_STREQ(buffer, "COM2");
    GetPrivateProfileStringA("Modem", "Name", "", buffer, sizeof buffer, "C:\\TEMP\\test.ini");
    EXPECT_STREQ(buffer, "Soft Modem");
    EXPECT_EQ(GetPrivateProfileStringA("Modem", "Speed", "fast  ", buffer, sizeof buffer, "C:\\TEMP\\test.ini"), 4u);
    EXPECT_STREQ(buffer, "fast");
    EXPECT_EQ(GetPrivateProfileStringA("Nope", "Port", nullptr, buffer, sizeof buffer, "C:\\TEMP\\test.ini"), 0u);
    EXPECT_STREQ(buffer, "");
    // Too small: cut to fit.
    EXPECT_EQ(GetPrivateProfileStringA("Modem", "Name", "", buffer, 5, "C:\\TEMP\\test.ini"), 4u);
    EXPECT_STREQ(buffer, "Soft");

    // Enumerations: double-terminated lists.
    DWORD n = GetPrivateProfileStringA("Modem", nullptr, "", buffer, sizeof buffer, "C:\\TEMP\\test.ini");
    EXPECT_EQ(std::string(buffer, n + 1), std::string("Port\0Name\0\0", 11));
    n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, "C:\\TEMP\\test.ini");
    EXPECT_EQ(std::string(buffer, n + 1), std::string("Modem\0Other\0\0", 13));

    EXPECT_TRUE(WritePrivateProfileStringA("Modem", "Port", "COM3", "C:\\TEMP\\test.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("Modem", "Speed", "56000", "C:\\TEMP\\test.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("Other", nullptr, nullptr, "C:\\TEMP\\test.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("New", "K", "V", "C:\\TEMP\\test.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("Modem", "Name", nullptr, "C:\\TEMP\\test.ini"));
    EXPECT_EQ(m.read("C:\\TEMP\\test.ini"), "; comment\r\n[Modem]\r\nPort=COM3\r\nSpeed=56000\r\n\r\n[New]\r\nK=V\r\n");
}

TEST(Kernel32Paths, NamesMatchWithoutRegardToCaseAsTheDirectoryChanges)
{
    test::TestMachine m;
    m.write("C:\\TEMP\\names\\Kept.Txt", "kept");
    m.attach();
    auto exists = [](const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; };
    auto create = [](const char* path) {
        HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
        CloseHandle(h);
    };
    EXPECT_TRUE(exists("C:\\temp\\NAMES\\kept.txt"));
    EXPECT_FALSE(exists("C:\\TEMP\\names\\mixed.txt"));

    // What this process makes and removes is found, or not, in any case.
    create("C:\\TEMP\\names\\Mixed.Txt");
    EXPECT_TRUE(exists("C:\\TEMP\\NAMES\\MIXED.TXT"));
    EXPECT_EQ(CreateFileA("C:\\TEMP\\names\\mixed.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    ASSERT_TRUE(MoveFileA("C:\\TEMP\\names\\MIXED.txt", "C:\\TEMP\\names\\Moved.Txt"));
    EXPECT_FALSE(exists("C:\\TEMP\\names\\mixed.txt"));
    EXPECT_TRUE(exists("C:\\TEMP\\names\\MOVED.TXT"));
    ASSERT_TRUE(DeleteFileA("C:\\TEMP\\NAMES\\moved.txt"));
    EXPECT_FALSE(exists("C:\\TEMP\\names\\Moved.Txt"));
    ASSERT_TRUE(CreateDirectoryA("C:\\TEMP\\names\\Sub", nullptr));
    EXPECT_TRUE(exists("C:\\TEMP\\NAMES\\SUB"));

    // So is what another process makes and removes meanwhile.
    pid_t child = fork();
    if (child == 0) {
        HANDLE h = CreateFileA("C:\\TEMP\\names\\Other.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        bool ok = h != INVALID_HANDLE_VALUE && CloseHandle(h) && DeleteFileA("C:\\TEMP\\NAMES\\KEPT.TXT")
            && RemoveDirectoryA("C:\\TEMP\\names\\sub");
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(exists("C:\\TEMP\\NAMES\\other.txt"));
    EXPECT_FALSE(exists("C:\\temp\\names\\kept.txt"));
    EXPECT_FALSE(exists("C:\\TEMP\\names\\SUB"));
    DWORD error = 0;
    EXPECT_EQ(find("C:\\TEMP\\names\\*", error), (std::vector<std::string> { ".", "..", "Other.TXT" }));
}
