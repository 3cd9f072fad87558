// The installer's and the file queue's calls against the platform's
// documented and measured behaviour, ANSI and wide forms against each
// other. Where the documentation is silent the fact was measured under
// Wine 8.0 and the test says so.
#include "support/DeskFiles.h"
#include "support/TestMachine.h"

#include <setupapi.h>
#include <winreg.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const Version = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";

std::string narrow(PCWSTR text)
{
    std::string out;
    for (size_t i = 0; text && text[i]; ++i)
        out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return text ? out : "<null>";
}

std::string narrow(PCSTR text)
{
    return text ? text : "<null>";
}

// What a callback was sent, one line a notification, the same for both forms.
struct Log {
    std::vector<std::string> lines;
    UINT needMedia { FILEOP_SKIP };
    std::string newPath;
    UINT startCopy { FILEOP_DOIT };
    UINT targetExists { TRUE };
};

template<typename Paths, typename Media>
UINT logNotification(Log& log, UINT notification, UINT_PTR param1, UINT_PTR param2, bool wide)
{
    std::string line = std::to_string(notification);
    switch (notification) {
    case SPFILENOTIFY_STARTQUEUE:
        break;
    case SPFILENOTIFY_STARTSUBQUEUE:
        line += " " + std::to_string(param1) + " " + std::to_string(param2);
        break;
    case SPFILENOTIFY_ENDSUBQUEUE:
    case SPFILENOTIFY_ENDQUEUE:
        line += " " + std::to_string(param1);
        break;
    case SPFILENOTIFY_NEEDMEDIA: {
        auto* media = reinterpret_cast<const Media*>(param1);
        line += " " + narrow(media->Description) + "|" + narrow(media->Tagfile) + "|" + narrow(media->SourcePath) + "|"
            + narrow(media->SourceFile);
        log.lines.push_back(line);
        if (log.needMedia == FILEOP_NEWPATH) {
            for (size_t i = 0; i <= log.newPath.size(); ++i) {
                if (wide)
                    reinterpret_cast<WCHAR*>(param2)[i] = static_cast<WCHAR>(log.newPath.c_str()[i]);
                else
                    reinterpret_cast<char*>(param2)[i] = log.newPath.c_str()[i];
            }
        }
        return log.needMedia;
    }
    default: {
        auto* paths = reinterpret_cast<const Paths*>(param1);
        line += " " + narrow(paths->Target) + " " + narrow(paths->Source) + " " + std::to_string(paths->Win32Error);
        if (notification == SPFILENOTIFY_STARTCOPY || notification == SPFILENOTIFY_STARTDELETE
            || notification == SPFILENOTIFY_STARTRENAME)
            line += " " + std::to_string(param2);
        break;
    }
    }
    log.lines.push_back(line);
    if (notification == SPFILENOTIFY_STARTCOPY)
        return log.startCopy;
    if (notification == SPFILENOTIFY_TARGETEXISTS || notification == SPFILENOTIFY_TARGETNEWER)
        return log.targetExists;
    if (notification == SPFILENOTIFY_COPYERROR || notification == SPFILENOTIFY_DELETEERROR
        || notification == SPFILENOTIFY_RENAMEERROR)
        return FILEOP_SKIP;
    return notification >= SPFILENOTIFY_STARTDELETE ? FILEOP_DOIT : TRUE;
}

UINT CALLBACK logA(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    return logNotification<FILEPATHS_A, SOURCE_MEDIA_A>(*static_cast<Log*>(context), notification, param1, param2,
        false);
}

UINT CALLBACK logW(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    return logNotification<FILEPATHS_W, SOURCE_MEDIA_W>(*static_cast<Log*>(context), notification, param1, param2,
        true);
}

std::string regString(HKEY root, const char* sub, const char* name, DWORD* type = nullptr)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, sub, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS)
        return "<no key>";
    char data[256] = {};
    DWORD size = sizeof data, t = 0;
    LONG status = RegQueryValueExA(k, name, nullptr, &t, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (status != ERROR_SUCCESS)
        return "<no value>";
    if (type)
        *type = t;
    return std::string(data, size);
}

const char* const FilesInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                             "[SourceDisksNames]\r\n1 = \"Disk\", tag.txt\r\n"
                             "[SourceDisksFiles]\r\na.txt = 1\r\n"
                             "[DestinationDirs]\r\nDefaultDestDir = -1, C:\\Q\r\n"
                             "[Inst]\r\nDelFiles = Del\r\nRenFiles = Ren\r\nCopyFiles = Copy\r\n"
                             "[CopyOnly]\r\nCopyFiles = Copy\r\n"
                             "[Del]\r\ndel.txt\r\n[Ren]\r\nnew.txt, old.txt\r\n[Copy]\r\na.txt\r\n";

void removeIfThere(const test::TestMachine& m, const std::string& ntPath)
{
    if (m.exists(ntPath))
        m.remove(ntPath);
}

void filesForQueue(const test::TestMachine& m)
{
    m.write("C:\\Q\\del.txt", "delete me");
    m.write("C:\\Q\\old.txt", "rename me");
    removeIfThere(m, "C:\\Q\\new.txt");
    removeIfThere(m, "C:\\Q\\a.txt");
    m.write("C:\\SRC\\a.txt", "copy me");
}

}

TEST(InstallConformance, QueueNotificationsComeInTheirDocumentedOrderToBothForms)
{
    test::TestMachine m;
    m.attach();
    auto commit = [&](bool wide) {
        filesForQueue(m);
        HSPFILEQ queue = SetupOpenFileQueue();
        EXPECT_NE(queue, INVALID_HANDLE_VALUE);
        // Queued copy first: the commit still deletes, renames, then copies.
        if (wide) {
            EXPECT_TRUE(SetupQueueCopyW(queue, u"C:\\SRC", nullptr, u"a.txt", u"Disk", u"tag.txt", u"C:\\Q", nullptr, 0));
            EXPECT_TRUE(SetupQueueRenameW(queue, u"C:\\Q", u"old.txt", nullptr, u"new.txt"));
            EXPECT_TRUE(SetupQueueDeleteW(queue, u"C:\\Q", u"del.txt"));
        } else {
            EXPECT_TRUE(SetupQueueCopyA(queue, "C:\\SRC", nullptr, "a.txt", "Disk", "tag.txt", "C:\\Q", nullptr, 0));
            EXPECT_TRUE(SetupQueueRenameA(queue, "C:\\Q", "old.txt", nullptr, "new.txt"));
            EXPECT_TRUE(SetupQueueDeleteA(queue, "C:\\Q\\del.txt", nullptr));
        }
        Log log;
        if (wide)
            EXPECT_TRUE(SetupCommitFileQueueW(nullptr, queue, logW, &log));
        else
            EXPECT_TRUE(SetupCommitFileQueueA(nullptr, queue, logA, &log));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
        EXPECT_TRUE(SetupCloseFileQueue(queue));
        EXPECT_EQ(m.read("C:\\Q\\a.txt"), "copy me");
        EXPECT_EQ(m.read("C:\\Q\\new.txt"), "rename me");
        EXPECT_FALSE(m.exists("C:\\Q\\del.txt"));
        return log.lines;
    };
    auto n = [](UINT notification) { return std::to_string(notification); };
    std::vector<std::string> expected {
        n(SPFILENOTIFY_STARTQUEUE),
        n(SPFILENOTIFY_STARTSUBQUEUE) + " 2 1",
        n(SPFILENOTIFY_STARTDELETE) + " C:\\Q\\del.txt <null> 0 2",
        n(SPFILENOTIFY_ENDDELETE) + " C:\\Q\\del.txt <null> 0",
        n(SPFILENOTIFY_ENDSUBQUEUE) + " 2",
        n(SPFILENOTIFY_STARTSUBQUEUE) + " 1 1",
        n(SPFILENOTIFY_STARTRENAME) + " C:\\Q\\new.txt C:\\Q\\old.txt 0 1",
        n(SPFILENOTIFY_ENDRENAME) + " C:\\Q\\new.txt C:\\Q\\old.txt 0",
        n(SPFILENOTIFY_ENDSUBQUEUE) + " 1",
        n(SPFILENOTIFY_STARTSUBQUEUE) + " 0 1",
        n(SPFILENOTIFY_STARTCOPY) + " C:\\Q\\a.txt C:\\SRC\\a.txt 0 0",
        n(SPFILENOTIFY_ENDCOPY) + " C:\\Q\\a.txt C:\\SRC\\a.txt 0",
        n(SPFILENOTIFY_ENDSUBQUEUE) + " 0",
        n(SPFILENOTIFY_ENDQUEUE) + " 1",
    };
    EXPECT_EQ(commit(false), expected);
    EXPECT_EQ(commit(true), expected);
}

TEST(InstallConformance, SetupInstallFromInfSectionCopiesThroughTheQueueAProgramCanBuild)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\SRC\\FILES.INF", FilesInf);
    HINF inf = SetupOpenInfFileA("C:\\SRC\\FILES.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);

    filesForQueue(m);
    Log section;
    ASSERT_TRUE(SetupInstallFromInfSectionW(nullptr, inf, u"Inst", SPINST_FILES, nullptr, nullptr, 0, logW, &section,
        nullptr, nullptr));

    filesForQueue(m);
    Log queued;
    HSPFILEQ queue = SetupOpenFileQueue();
    ASSERT_TRUE(SetupInstallFilesFromInfSectionA(inf, nullptr, queue, "Inst", nullptr, 0));
    ASSERT_TRUE(SetupCommitFileQueueA(nullptr, queue, logA, &queued));
    SetupCloseFileQueue(queue);
    EXPECT_EQ(section.lines, queued.lines);
    EXPECT_EQ(section.lines.size(), 14u);

    // The section calls each queue their own list.
    filesForQueue(m);
    Log lists;
    queue = SetupOpenFileQueue();
    ASSERT_TRUE(SetupQueueCopySectionW(queue, u"C:\\SRC", inf, nullptr, u"Copy", 0));
    ASSERT_TRUE(SetupQueueRenameSectionA(queue, inf, nullptr, "Ren"));
    ASSERT_TRUE(SetupQueueDeleteSectionW(queue, inf, inf, u"Del"));
    ASSERT_TRUE(SetupCommitFileQueueW(nullptr, queue, logW, &lists));
    EXPECT_EQ(lists.lines, section.lines);
    EXPECT_FALSE(SetupQueueCopySectionA(queue, "C:\\SRC", inf, nullptr, "NoSuch", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));
    SetupCloseFileQueue(queue);

    // A default copy goes to DefaultDestDir.
    filesForQueue(m);
    Log single;
    queue = SetupOpenFileQueue();
    ASSERT_TRUE(SetupQueueDefaultCopyA(queue, inf, "C:\\SRC", "a.txt", "b.txt", 0));
    ASSERT_TRUE(SetupCommitFileQueueA(nullptr, queue, logA, &single));
    EXPECT_EQ(m.read("C:\\Q\\b.txt"), "copy me");
    SetupCloseFileQueue(queue);
    SetupCloseInfFile(inf);
}

TEST(InstallConformance, AMissingSourceIsAskedForWithItsMediaAndANewPathIsTaken)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\SRC\\a.txt", "found there");
    for (bool wide : { false, true }) {
        removeIfThere(m, "C:\\Q\\a.txt");
        HSPFILEQ queue = SetupOpenFileQueue();
        ASSERT_TRUE(SetupQueueCopyA(queue, "C:\\NOWHERE", "sub", "a.txt", "The Disk", "tag.txt", "C:\\Q", nullptr,
            SP_COPY_NOSKIP));
        Log log;
        log.needMedia = FILEOP_NEWPATH;
        log.newPath = "C:\\SRC";
        ASSERT_TRUE(wide ? SetupCommitFileQueueW(nullptr, queue, logW, &log)
                         : SetupCommitFileQueueA(nullptr, queue, logA, &log));
        EXPECT_EQ(log.lines[2], std::to_string(SPFILENOTIFY_NEEDMEDIA) + " The Disk|tag.txt|C:\\NOWHERE\\sub|a.txt");
        EXPECT_EQ(log.lines[3], std::to_string(SPFILENOTIFY_STARTCOPY) + " C:\\Q\\a.txt C:\\SRC\\a.txt 0 0");
        EXPECT_EQ(m.read("C:\\Q\\a.txt"), "found there");
        SetupCloseFileQueue(queue);
    }

    // A callback that aborts without a reason cancels the commit, and the
    // queue still ends with ENDQUEUE saying so.
    HSPFILEQ queue = SetupOpenFileQueue();
    ASSERT_TRUE(SetupQueueCopyW(queue, u"C:\\SRC", nullptr, u"a.txt", nullptr, nullptr, u"C:\\Q", u"c.txt", 0));
    Log aborting;
    aborting.startCopy = FILEOP_ABORT;
    EXPECT_FALSE(SetupCommitFileQueueW(nullptr, queue, logW, &aborting));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(aborting.lines.back(), std::to_string(SPFILENOTIFY_ENDQUEUE) + " 0");
    EXPECT_FALSE(m.exists("C:\\Q\\c.txt"));
    SetupCloseFileQueue(queue);
}

TEST(InstallConformance, QueueCallsCheckTheirHandleAndArguments)
{
    test::TestMachine m;
    m.attach();
    HSPFILEQ queue = SetupOpenFileQueue();
    ASSERT_NE(queue, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetupQueueCopyA(queue, nullptr, nullptr, "a.txt", nullptr, nullptr, "C:\\Q", nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetupQueueCopyW(queue, u"C:\\SRC", nullptr, nullptr, nullptr, nullptr, u"C:\\Q", nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetupQueueDeleteW(queue, nullptr, u"x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetupCommitFileQueueA(nullptr, queue, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(SetupCloseFileQueue(queue));
    EXPECT_FALSE(SetupCloseFileQueue(queue));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetupQueueDeleteA(queue, "C:\\Q\\x", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    Log log;
    EXPECT_FALSE(SetupCommitFileQueueW(nullptr, queue, logW, &log));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(log.lines.empty());
}

TEST(InstallConformance, SetupInstallFileCopiesOneFileAndAVetoedCopyFailsWithNoError)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\SRC\\a.txt", "new");
    m.write("C:\\Q\\a.txt", "old");
    Log log;
    log.targetExists = FALSE;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupInstallFileA(nullptr, nullptr, "a.txt", "C:\\SRC", "C:\\Q\\a.txt", SP_COPY_NOOVERWRITE, logA, &log));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(log.lines, std::vector<std::string> { std::to_string(SPFILENOTIFY_TARGETEXISTS) + " C:\\Q\\a.txt C:\\SRC\\a.txt 0" });
    EXPECT_EQ(m.read("C:\\Q\\a.txt"), "old");
    EXPECT_FALSE(SetupInstallFileW(nullptr, nullptr, u"a.txt", u"C:\\SRC", u"C:\\Q\\a.txt", SP_COPY_FORCE_NOOVERWRITE,
        nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(m.read("C:\\Q\\a.txt"), "old");

    BOOL inUse = TRUE;
    EXPECT_TRUE(SetupInstallFileExW(nullptr, nullptr, u"a.txt", u"C:\\SRC", u"C:\\Q\\a.txt", 0, nullptr, nullptr, &inUse));
    EXPECT_EQ(m.read("C:\\Q\\a.txt"), "new");
    EXPECT_FALSE(inUse);
    EXPECT_FALSE(SetupInstallFileA(nullptr, nullptr, "none.txt", "C:\\SRC", "C:\\Q\\none.txt", 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetupInstallFileA(nullptr, nullptr, "a.txt", "C:\\SRC", nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // From a line of a copy list: its target and directory, the INF's layout.
    m.write("C:\\SRC\\FILES.INF", FilesInf);
    HINF inf = SetupOpenInfFileA("C:\\SRC\\FILES.INF", nullptr, INF_STYLE_WIN4, nullptr);
    INFCONTEXT c;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "Copy", nullptr, &c));
    m.remove("C:\\Q\\a.txt");
    EXPECT_TRUE(SetupInstallFileExA(inf, &c, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &inUse));
    EXPECT_EQ(m.read("C:\\Q\\a.txt"), "new");
    SetupCloseInfFile(inf);
}

TEST(InstallConformance, AppendOntoAnExistingRegSzFailsWithInvalidDataAndLeavesTheValue)
{
    test::TestMachine m;
    m.attach();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr),
        ERROR_SUCCESS);
    RegSetValueExA(key, "sz", 0, REG_SZ, reinterpret_cast<const BYTE*>("old"), 4);
    RegCloseKey(key);
    m.write("C:\\MODEM\\R.INF", std::string(Version)
            + "[Sz]\r\nAddReg = Sz.Reg\r\n[Sz.Reg]\r\nHKCU,Software\\Probe,sz,0x00010008,new\r\n"
              "[Multi]\r\nAddReg = Multi.Reg\r\n[Multi.Reg]\r\nHKCU,Software\\Probe,ms,0x00010008,a,b\r\n"
              "HKCU,Software\\Probe,ms,0x00010008,B,c\r\n"
              "[NotList]\r\nAddReg = NotList.Reg\r\n[NotList.Reg]\r\nHKCU,Software\\Probe,new,0x00000008,x\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\R.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Sz", SPINST_REGISTRY, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(SetupInstallFromInfSectionW(nullptr, inf, u"Sz", SPINST_REGISTRY, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    DWORD type = 0;
    EXPECT_EQ(regString(HKEY_CURRENT_USER, "Software\\Probe", "sz", &type), std::string("old\0", 4));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // Appending onto nothing makes the list; onto a list, adds what it lacks.
    ASSERT_TRUE(SetupInstallFromInfSectionW(nullptr, inf, u"Multi", SPINST_REGISTRY, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(regString(HKEY_CURRENT_USER, "Software\\Probe", "ms", &type), std::string("a\0b\0c\0\0", 7));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    // Only a list appends.
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "NotList", SPINST_REGISTRY, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(regString(HKEY_CURRENT_USER, "Software\\Probe", "new"), "<no value>");
    SetupCloseInfFile(inf);
}

TEST(InstallConformance, AddServiceWithAnEmptyNameAndAssocServiceSucceedsAndTheExFormGivesTheDeviceItsService)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\S.INF", std::string(Version)
            + "[Null]\r\nAddService = ,0x00000002\r\n"
              "[NoName]\r\nAddService = ,0\r\n"
              "[Real]\r\nAddService = ProbeSvc, 0x00000002, Probe.Service\r\n"
              "[Probe.Service]\r\nServiceType = 1\r\nStartType = 3\r\nErrorControl = 1\r\n"
              "ServiceBinary = %12%\\probe.sys\r\n"
              "[Empty]\r\n[Nothing]\r\nOther = 1\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\S.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Null", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(SetupInstallServicesFromInfSectionW(inf, u"Null", 0));
    EXPECT_FALSE(SetupInstallServicesFromInfSectionA(inf, "NoName", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_SERVICE_INSTALLSECT));
    // Measured under Wine: a section of no line is none; lines naming no
    // service are nothing to do.
    EXPECT_FALSE(SetupInstallServicesFromInfSectionW(inf, u"Empty", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Nothing", 0));
    EXPECT_FALSE(SetupInstallServicesFromInfSectionExW(inf, u"None", 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));

    // With a device, the marked service becomes the device's own.
    GUID modem = { 0x4D36E96D, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modem, nullptr);
    SP_DEVINFO_DATA device { sizeof device, {}, 0, 0 };
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, "PROBE", &modem, nullptr, nullptr, DICD_GENERATE_ID, &device));
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr));
    ASSERT_TRUE(SetupInstallServicesFromInfSectionExA(inf, "Real", 0, set, &device, nullptr, nullptr))
        << GetLastError();
    char service[64] = {};
    DWORD type = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, &type, reinterpret_cast<BYTE*>(service),
        sizeof service, nullptr));
    EXPECT_STREQ(service, "ProbeSvc");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE probe = OpenServiceA(manager, "ProbeSvc", SERVICE_QUERY_STATUS);
    EXPECT_NE(probe, nullptr);
    CloseServiceHandle(probe);
    CloseServiceHandle(manager);
    SetupDiDestroyDeviceInfoList(set);
    SetupCloseInfFile(inf);
}

TEST(InstallConformance, ThePromptsAnswerFromTheDeskAndTheirPathsFitTheBuffer)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\SRC\\a.txt", "here");
    test::DeskFiles desk(m, { "retry", "cancel", "skip", "skip", "retry" });

    // IDF_CHECKFIRST finds the file without asking anyone.
    char path[MAX_PATH];
    DWORD required = 0;
    EXPECT_EQ(SetupPromptForDiskA(nullptr, nullptr, "Disk", "C:\\SRC", "a.txt", nullptr, IDF_CHECKFIRST, path,
                  sizeof path, &required),
        static_cast<UINT>(DPROMPT_SUCCESS));
    EXPECT_STREQ(path, "C:\\SRC");
    EXPECT_EQ(required, 7u);
    EXPECT_TRUE(desk.transcript().empty());

    WCHAR wpath[4];
    EXPECT_EQ(SetupPromptForDiskW(nullptr, u"Need It", u"Disk", u"C:\\SRC", u"b.txt", nullptr, 0, wpath, 4, &required),
        static_cast<UINT>(DPROMPT_BUFFERTOOSMALL));
    EXPECT_EQ(required, 7u);
    EXPECT_EQ(SetupPromptForDiskA(nullptr, nullptr, nullptr, "C:\\SRC", "b.txt", nullptr, IDF_NOSKIP, path,
                  sizeof path, nullptr),
        static_cast<UINT>(DPROMPT_CANCEL));
    EXPECT_EQ(SetupCopyErrorW(nullptr, nullptr, nullptr, u"C:\\SRC", u"a.txt", u"C:\\Q\\a.txt", ERROR_ACCESS_DENIED, 0,
                  nullptr, 0, nullptr),
        static_cast<UINT>(DPROMPT_SKIPFILE));
    EXPECT_EQ(SetupDeleteErrorA(nullptr, nullptr, "C:\\Q\\x.txt", ERROR_ACCESS_DENIED, 0),
        static_cast<UINT>(DPROMPT_SKIPFILE));
    EXPECT_EQ(SetupRenameErrorW(nullptr, nullptr, u"C:\\Q\\x.txt", u"C:\\Q\\y.txt", ERROR_ACCESS_DENIED, 0),
        static_cast<UINT>(DPROMPT_SUCCESS));

    auto events = desk.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0]["kind"], "files-needed");
    EXPECT_EQ(events[0]["caption"], "Need It");
    EXPECT_EQ(events[0]["text"], "The file 'b.txt' on Disk is needed.\nType the path where the file is located, "
                                 "and then click OK.\nCopy files from: C:\\SRC");
    EXPECT_EQ(events[1]["caption"], "Files Needed");
    EXPECT_EQ(events[1]["buttons"], ntsim::Json::parse(R"(["retry","cancel"])"));
    EXPECT_EQ(events[2]["kind"], "copy-error");
    EXPECT_EQ(events[2]["source"], "C:\\SRC\\a.txt");
    EXPECT_EQ(events[3]["kind"], "deleting");
    EXPECT_EQ(events[4]["kind"], "renaming");
    EXPECT_EQ(events[4]["target"], "C:\\Q\\y.txt");

    // A queue with nothing in use needs no restart and asks nothing.
    HSPFILEQ queue = SetupOpenFileQueue();
    EXPECT_EQ(SetupPromptReboot(queue, nullptr, FALSE), 0);
    EXPECT_EQ(SetupPromptReboot(queue, nullptr, TRUE), 0);
    SetupCloseFileQueue(queue);
    EXPECT_EQ(SetupPromptReboot(queue, nullptr, FALSE), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetupPromptReboot(nullptr, nullptr, TRUE), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(desk.events().size(), 5u);
}

TEST(InstallConformance, TheDefaultCallbackAsksForAMissingSourceAlikeInBothForms)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\SRC\\FILES.INF", FilesInf);
    HINF inf = SetupOpenInfFileA("C:\\SRC\\FILES.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    test::DeskFiles desk(m, { "skip", "cancel" });
    PVOID context = SetupInitDefaultQueueCallback(nullptr);
    // Skipped, the copy is passed over; cancelled, the install fails.
    removeIfThere(m, "C:\\SRC\\a.txt");
    EXPECT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "CopyOnly", SPINST_FILES, nullptr, nullptr, 0,
        SetupDefaultQueueCallbackA, context, nullptr, nullptr));
    HSPFILEQ queue = SetupOpenFileQueue();
    ASSERT_TRUE(SetupQueueCopySectionW(queue, u"C:\\SRC", inf, nullptr, u"Copy", 0));
    EXPECT_FALSE(SetupCommitFileQueueW(nullptr, queue, SetupDefaultQueueCallbackW, context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    SetupCloseFileQueue(queue);
    SetupTermDefaultQueueCallback(context);
    auto events = desk.events();
    ASSERT_EQ(events.size(), 2u);
    for (auto& event : events) {
        EXPECT_EQ(event["kind"], "files-needed");
        EXPECT_EQ(event["text"], "The file 'a.txt' on Disk is needed.\nType the path where the file is located, "
                                 "and then click OK.\nCopy files from: C:\\SRC");
    }
    SetupCloseInfFile(inf);
}

TEST(InstallConformance, InstallHinfSectionInstallsASectionAndItsServicesAlikeInBothForms)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\H.INF", std::string(Version)
            + "[A]\r\nAddReg = A.Reg\r\n[A.Reg]\r\nHKLM, Software\\HinfA, Form, , \"ansi\"\r\n"
              "[W]\r\nAddReg = W.Reg\r\n[W.Reg]\r\nHKLM, Software\\HinfW, Form, , \"wide\"\r\n"
              "[W.Services]\r\nAddService = HinfSvc, 0, Hinf.Service\r\n"
              "[Hinf.Service]\r\nServiceType = 1\r\nStartType = 3\r\nErrorControl = 1\r\nServiceBinary = %12%\\h.sys\r\n");
    InstallHinfSectionA(nullptr, nullptr, "A 128 C:\\MODEM\\H.INF", SW_SHOWNORMAL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    InstallHinfSectionW(nullptr, nullptr, u"W 128 C:\\MODEM\\H.INF", SW_SHOWNORMAL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, "Software\\HinfA", "Form"), std::string("ansi\0", 5));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, "Software\\HinfW", "Form"), std::string("wide\0", 5));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, "HinfSvc", SERVICE_QUERY_STATUS);
    EXPECT_NE(service, nullptr);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}
