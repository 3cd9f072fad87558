// The machine as a sandbox: host symbolic links inside drive_c lead
// nowhere, whether a program's file calls, an INF's CopyFiles and DelFiles
// or a program start meet them.
#include "support/TestMachine.h"

#include "machine/FileLock.h"

#include <setupapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

bool hostExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

const char* const LinkInf = "[Version]\r\n"
                            "Signature = \"$Windows NT$\"\r\n"
                            "[DestinationDirs]\r\n"
                            "Out.Copy = -1, C:\\LINKS\\out\r\n"
                            "In.Copy = -1, C:\\TEMP\r\n"
                            "Out.Del = -1, C:\\LINKS\\out\r\n"
                            "[Inst]\r\n"
                            "CopyFiles = Out.Copy, In.Copy\r\n"
                            "DelFiles = Out.Del\r\n"
                            "[Out.Copy]\r\n"
                            "planted.txt, plain.txt\r\n"
                            "[In.Copy]\r\n"
                            "stolen.txt, LINKS\\secret.txt\r\n"
                            "[Out.Del]\r\n"
                            "victim.txt\r\n";

// Skips every file the queue cannot handle, and counts them.
UINT CALLBACK skipErrors(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR)
{
    auto* errors = static_cast<std::vector<DWORD>*>(context);
    switch (notification) {
    case SPFILENOTIFY_NEEDMEDIA:
    case SPFILENOTIFY_COPYERROR:
    case SPFILENOTIFY_DELETEERROR:
    case SPFILENOTIFY_RENAMEERROR:
        errors->push_back(notification == SPFILENOTIFY_NEEDMEDIA ? 0 : reinterpret_cast<FILEPATHS_A*>(param1)->Win32Error);
        return FILEOP_SKIP;
    default:
        return FILEOP_DOIT;
    }
}

}

TEST(NtsimSandbox, HostLinksInDriveCAreNeverFollowed)
{
    test::TestMachine m;
    std::string outside = m.dir() + "/../outside";
    ASSERT_TRUE(ntsim::makeDirectories(outside));
    ASSERT_TRUE(ntsim::writeFileAtomically(outside + "/secret.txt", "secret"));
    ASSERT_TRUE(ntsim::writeFileAtomically(outside + "/victim.txt", "victim"));
    m.write("C:\\LINKS\\plain.txt", "plain");
    std::string links = m.host("C:\\LINKS");
    ASSERT_EQ(symlink(outside.c_str(), (links + "/out").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), (links + "/secret.txt").c_str()), 0);
    // Even a link that stays inside the machine is not followed.
    ASSERT_EQ(symlink(m.host("C:\\MODEM\\SETUP.EXE").c_str(), (links + "/setup.exe").c_str()), 0);
    m.attach();

    SetLastError(0);
    EXPECT_EQ(CreateFileA("C:\\LINKS\\secret.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CreateFileA("C:\\links\\OUT\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(hostExists(outside + "/new.txt"));
    EXPECT_FALSE(DeleteFileA("C:\\LINKS\\out\\victim.txt"));
    EXPECT_FALSE(CopyFileA("C:\\LINKS\\secret.txt", "C:\\TEMP\\copy.txt", FALSE));
    EXPECT_FALSE(MoveFileA("C:\\LINKS\\plain.txt", "C:\\LINKS\\out\\moved.txt"));
    EXPECT_FALSE(CreateDirectoryA("C:\\LINKS\\out\\dir", nullptr));
    EXPECT_EQ(GetFileAttributesA("C:\\LINKS\\out"), INVALID_FILE_ATTRIBUTES);

    // A listing shows the machine's files alone.
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA("C:\\LINKS\\*", &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(find, &found));
    FindClose(find);
    EXPECT_EQ(names, (std::vector<std::string> { ".", "..", "plain.txt" }));

    // Nor does an INF: no file planted outside, none deleted, none read in.
    m.write("C:\\LINKS\\LINK.INF", LinkInf);
    HINF inf = SetupOpenInfFileA("C:\\LINKS\\LINK.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    std::vector<DWORD> errors;
    EXPECT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, "C:\\", 0, skipErrors, &errors,
        nullptr, nullptr))
        << GetLastError();
    SetupCloseInfFile(inf);
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_FALSE(hostExists(outside + "/planted.txt"));
    EXPECT_TRUE(hostExists(outside + "/victim.txt"));
    EXPECT_FALSE(m.exists("C:\\TEMP\\stolen.txt"));

    // Nor a program start.
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    EXPECT_FALSE(CreateProcessA("C:\\LINKS\\setup.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    auto run = m.run({ "C:\\LINKS\\setup.exe" });
    EXPECT_EQ(run.exitCode, 127) << run.out;
    EXPECT_NE(run.out.find("cannot start C:\\LINKS\\setup.exe"), std::string::npos) << run.out;

    // The outside is as it was.
    std::string text;
    ASSERT_TRUE(ntsim::readWholeFile(outside + "/victim.txt", text));
    EXPECT_EQ(text, "victim");
    EXPECT_EQ(m.read("C:\\LINKS\\plain.txt"), "plain");
}
