#include "support/TestMachine.h"

#include <setupapi.h>
#include <winreg.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <vector>

namespace {

const char* const InstallInf = "[Version]\r\n"
                               "Signature = \"$Windows NT$\"\r\n"
                               "[DestinationDirs]\r\n"
                               "DefaultDestDir = 11\r\n"
                               "Drivers.Copy = 12\r\n"
                               "Help.Copy = 18, Brimlow\r\n"
                               "[SourceDisksNames]\r\n"
                               "1 = \"Driver Disk\", disk1.tag, , \\disk\r\n"
                               "[SourceDisksFiles]\r\n"
                               "mdm.sys = 1, bin\r\n"
                               "[Inst]\r\n"
                               "CopyFiles = Drivers.Copy, Help.Copy, @tool.dll\r\n"
                               "AddReg = Inst.AddReg\r\n"
                               "DelReg = Inst.DelReg\r\n"
                               "[Drivers.Copy]\r\n"
                               "mdm.sys\r\n"
                               "[Help.Copy]\r\n"
                               "mdm.hlp, source.hlp\r\n"
                               "[Inst.AddReg]\r\n"
                               "HKR, , Type, 0x10001, 1\r\n"
                               "HKR, Parameters, Name, , \"%Desc%\"\r\n"
                               "HKR, Parameters, List, 0x10000, a, b\r\n"
                               "HKR, Parameters, List, 0x10008, b, c\r\n"
                               "HKR, Parameters, Bytes, 1, 0a, ff, 00\r\n"
                               "HKR, Parameters, Kept, 2, new\r\n"
                               "HKR, Parameters\\Empty\r\n"
                               "[Inst.DelReg]\r\n"
                               "HKR, Old\r\n"
                               "HKR, Parameters, Stale\r\n"
                               "[Strings]\r\n"
                               "Desc = \"Brimlow, modem\"\r\n";

struct Recorder {
    std::vector<UINT> notifications;
    std::vector<std::string> targets;
    UINT needMediaAnswer { FILEOP_ABORT };
};

UINT CALLBACK record(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    auto* r = static_cast<Recorder*>(context);
    r->notifications.push_back(notification);
    if (notification == SPFILENOTIFY_STARTCOPY)
        r->targets.push_back(reinterpret_cast<FILEPATHS_A*>(param1)->Target);
    if (notification == SPFILENOTIFY_NEEDMEDIA) {
        if (r->needMediaAnswer == FILEOP_ABORT)
            SetLastError(ERROR_CANCELLED);
        return r->needMediaAnswer;
    }
    return SetupDefaultQueueCallbackA(nullptr, notification, param1, param2);
}

void writePackage(const test::TestMachine& m)
{
    m.write("C:\\MODEM\\INST.INF", InstallInf);
    m.write("C:\\MODEM\\disk\\bin\\mdm.sys", "driver image");
    m.write("C:\\MODEM\\source.hlp", "help");
    m.write("C:\\MODEM\\tool.dll", "tool");
}

std::string regString(HKEY key, const char* sub, const char* name, DWORD* type = nullptr)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(key, sub, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS)
        return "<no key>";
    char data[256] = {};
    DWORD size = sizeof data;
    DWORD t = 0;
    LONG status = RegQueryValueExA(k, name, nullptr, &t, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (status != ERROR_SUCCESS)
        return "<no value>";
    if (type)
        *type = t;
    return std::string(data, size);
}

void setModified(const test::TestMachine& m, const std::string& ntPath, time_t seconds)
{
    struct timeval times[2] = { { seconds, 0 }, { seconds, 0 } };
    ASSERT_EQ(utimes(m.host(ntPath).c_str(), times), 0);
}

}

TEST(SetupapiInstall, CopyFilesAndNotifications)
{
    test::TestMachine m;
    m.attach();
    writePackage(m);
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\INST.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    Recorder r;
    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, "C:\\MODEM\\",
        SP_COPY_NEWER | SP_COPY_NOSKIP, record, &r, nullptr, nullptr))
        << GetLastError();
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\drivers\\mdm.sys"), "driver image");
    EXPECT_EQ(m.read("C:\\WINNT\\help\\Brimlow\\mdm.hlp"), "help");
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\tool.dll"), "tool");
    std::vector<UINT> expected { SPFILENOTIFY_STARTQUEUE, SPFILENOTIFY_STARTSUBQUEUE, SPFILENOTIFY_STARTCOPY,
        SPFILENOTIFY_ENDCOPY, SPFILENOTIFY_STARTCOPY, SPFILENOTIFY_ENDCOPY, SPFILENOTIFY_STARTCOPY,
        SPFILENOTIFY_ENDCOPY, SPFILENOTIFY_ENDSUBQUEUE, SPFILENOTIFY_ENDQUEUE };
    EXPECT_EQ(r.notifications, expected);
    EXPECT_EQ(r.targets, (std::vector<std::string> { "C:\\WINNT\\system32\\drivers\\mdm.sys",
                             "C:\\WINNT\\help\\Brimlow\\mdm.hlp", "C:\\WINNT\\system32\\tool.dll" }));

    // A newer target stays; an older one is replaced.
    m.write("C:\\WINNT\\system32\\drivers\\mdm.sys", "newer on the machine");
    setModified(m, "C:\\WINNT\\system32\\drivers\\mdm.sys", 2000000000);
    setModified(m, "C:\\MODEM\\disk\\bin\\mdm.sys", 1000000000);
    m.write("C:\\WINNT\\system32\\tool.dll", "older");
    setModified(m, "C:\\WINNT\\system32\\tool.dll", 900000000);
    setModified(m, "C:\\MODEM\\tool.dll", 1000000000);
    Recorder again;
    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, "C:\\MODEM\\",
        SP_COPY_NEWER, record, &again, nullptr, nullptr));
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\drivers\\mdm.sys"), "newer on the machine");
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\tool.dll"), "tool");
    EXPECT_EQ(again.notifications[2], static_cast<UINT>(SPFILENOTIFY_TARGETNEWER));

    // A missing source asks for the media; aborting fails the install.
    m.remove("C:\\MODEM\\source.hlp");
    m.remove("C:\\WINNT\\help\\Brimlow\\mdm.hlp");
    Recorder missing;
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, "C:\\MODEM\\",
        SP_COPY_NOSKIP, record, &missing, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(missing.notifications.back(), static_cast<UINT>(SPFILENOTIFY_ENDQUEUE));
    EXPECT_FALSE(m.exists("C:\\WINNT\\help\\Brimlow\\mdm.hlp"));

    missing = Recorder();
    missing.needMediaAnswer = FILEOP_SKIP;
    EXPECT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, "C:\\MODEM\\", 0, record,
        &missing, nullptr, nullptr));

    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Missing", SPINST_ALL, nullptr, nullptr, 0, record, &r,
        nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    SetupCloseInfFile(inf);
}

TEST(SetupapiInstall, AddRegAndDelRegUnderRelativeRoot)
{
    test::TestMachine m;
    m.attach();
    writePackage(m);
    HKEY root = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brimlow", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                  nullptr),
        ERROR_SUCCESS);
    HKEY old = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, "Old\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &old, nullptr), ERROR_SUCCESS);
    RegCloseKey(old);
    HKEY params = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, "Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &params, nullptr), ERROR_SUCCESS);
    RegSetValueExA(params, "Stale", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegSetValueExA(params, "Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>("old"), 4);
    RegCloseKey(params);

    HINF inf = SetupOpenInfFileA("C:\\MODEM\\INST.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_REGISTRY, root, nullptr, 0, nullptr, nullptr,
        nullptr, nullptr))
        << GetLastError();
    DWORD type = 0;
    EXPECT_EQ(regString(root, "", "Type", &type), std::string("\1\0\0\0", 4));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(regString(root, "Parameters", "Name", &type), std::string("Brimlow, modem\0", 15));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(regString(root, "Parameters", "List", &type), std::string("a\0b\0c\0\0", 7));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(regString(root, "Parameters", "Bytes", &type), std::string("\x0a\xff\x00", 3));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(regString(root, "Parameters", "Kept"), std::string("old\0", 4));
    EXPECT_EQ(regString(root, "Parameters", "Stale"), "<no value>");
    EXPECT_EQ(regString(root, "Old", "x"), "<no key>");
    HKEY empty = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, "Parameters\\Empty", 0, KEY_READ, &empty), ERROR_SUCCESS);
    RegCloseKey(empty);

    // HKR without a relative root is refused.
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_REGISTRY, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BADKEY));
    RegCloseKey(root);
    SetupCloseInfFile(inf);
}

TEST(SetupapiInstall, AddServiceAndDelService)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\SVC.INF", "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                                  "[Inst.Services]\r\n"
                                  "AddService = BrimMdm, 0, Svc.Install, Svc.EventLog\r\n"
                                  "[Svc.Install]\r\n"
                                  "DisplayName = %Name%\r\n"
                                  "ServiceType = 1\r\n"
                                  "StartType = 3\r\n"
                                  "ErrorControl = 1\r\n"
                                  "ServiceBinary = %12%\\brimmdm.sys\r\n"
                                  "LoadOrderGroup = Extended Base\r\n"
                                  "AddReg = Svc.AddReg\r\n"
                                  "[Svc.AddReg]\r\n"
                                  "HKR, Parameters, Level, 0x10001, 3\r\n"
                                  "[Svc.EventLog]\r\n"
                                  "AddReg = Log.AddReg\r\n"
                                  "[Log.AddReg]\r\n"
                                  "HKR, , TypesSupported, 0x10001, 7\r\n"
                                  "[Inst.Uninstall.Services]\r\n"
                                  "DelService = BrimMdm, 0x204\r\n"
                                  "[Nothing]\r\n"
                                  "Other = x\r\n"
                                  "[Empty]\r\n"
                                  "; a comment is no line\r\n"
                                  "[BadSvc]\r\n"
                                  "AddService = Bad, 0, Bad.Install\r\n"
                                  "[Bad.Install]\r\n"
                                  "ServiceType = 1\r\n"
                                  "[Strings]\r\nName = \"Brimlow Modem\"\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\SVC.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Inst.Services", 0)) << GetLastError();

    const char* key = "SYSTEM\\CurrentControlSet\\Services\\BrimMdm";
    DWORD type = 0;
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, key, "Type"), std::string("\1\0\0\0", 4));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, key, "Start"), std::string("\3\0\0\0", 4));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, key, "ErrorControl"), std::string("\1\0\0\0", 4));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, key, "Group"), std::string("Extended Base\0", 14));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, key, "DisplayName"), std::string("Brimlow Modem\0", 14));
    std::string image = regString(HKEY_LOCAL_MACHINE, key, "ImagePath", &type);
    EXPECT_NE(image.find("brimmdm.sys"), std::string::npos) << image;
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, (std::string(key) + "\\Parameters").c_str(), "Level"),
        std::string("\3\0\0\0", 4));
    const char* log = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\BrimMdm";
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, log, "TypesSupported"), std::string("\7\0\0\0", 4));

    // Installing again over the existing service succeeds.
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Inst.Services", 0)) << GetLastError();

    // Lines that name no service are nothing to do; a section without lines
    // is no section.
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Nothing", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_FALSE(SetupInstallServicesFromInfSectionA(inf, "Empty", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    EXPECT_FALSE(SetupInstallServicesFromInfSectionA(inf, "NoSuch", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    EXPECT_FALSE(SetupInstallServicesFromInfSectionA(inf, "BadSvc", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_SERVICE_INSTALLSECT));

    ASSERT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Inst.Uninstall.Services", 0)) << GetLastError();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(OpenServiceA(manager, "BrimMdm", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    CloseServiceHandle(manager);
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, log, "TypesSupported"), "<no key>");
    SetupCloseInfFile(inf);
}

namespace {

const char* const RemoveInf = "[Version]\r\n"
                              "Signature = \"$Windows NT$\"\r\n"
                              "[DestinationDirs]\r\n"
                              "DefaultDestDir = 11\r\n"
                              "NoSuch.Del = x\r\n"
                              "[Inst]\r\n"
                              "DelFiles = Old.Del, Missing.Del\r\n"
                              "RenFiles = Old.Ren\r\n"
                              "[Old.Del]\r\n"
                              "old.dll\r\n"
                              "gone.dll\r\n"
                              "[Old.Ren]\r\n"
                              "new.dll, prev.dll\r\n"
                              "next.dll, absent.dll\r\n"
                              "[BadDest]\r\n"
                              "DelFiles = NoSuch.Del\r\n";

// Answers every error with the next of `errorAnswers` (FILEOP_SKIP when they run out).
struct Script {
    std::vector<std::string> events;
    std::vector<UINT> errorAnswers;
    DWORD abortError { ERROR_ACCESS_DENIED };
    bool refuseSubqueue { false };
};

UINT CALLBACK scripted(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    auto* s = static_cast<Script*>(context);
    const auto* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
    switch (notification) {
    case SPFILENOTIFY_STARTSUBQUEUE:
        s->events.push_back("start sub " + std::to_string(param1) + " " + std::to_string(param2));
        if (s->refuseSubqueue)
            SetLastError(s->abortError);
        return s->refuseSubqueue ? FALSE : TRUE;
    case SPFILENOTIFY_ENDSUBQUEUE:
        s->events.push_back("end sub " + std::to_string(param1));
        return TRUE;
    case SPFILENOTIFY_STARTDELETE:
    case SPFILENOTIFY_STARTRENAME:
        s->events.push_back("start " + std::string(paths->Target) + " " + std::to_string(param2));
        return FILEOP_DOIT;
    case SPFILENOTIFY_DELETEERROR:
    case SPFILENOTIFY_RENAMEERROR: {
        s->events.push_back("error " + std::string(paths->Target) + " " + std::to_string(paths->Win32Error));
        UINT answer = FILEOP_SKIP;
        if (!s->errorAnswers.empty()) {
            answer = s->errorAnswers.front();
            s->errorAnswers.erase(s->errorAnswers.begin());
        }
        if (answer == FILEOP_ABORT)
            SetLastError(s->abortError);
        return answer;
    }
    case SPFILENOTIFY_ENDDELETE:
    case SPFILENOTIFY_ENDRENAME:
        s->events.push_back("end " + std::string(paths->Target) + " " + std::to_string(paths->Win32Error));
        return TRUE;
    default:
        s->events.push_back("note " + std::to_string(notification));
        return TRUE;
    }
}

}

TEST(SetupapiInstall, DelFilesAndRenFilesWithRetriesAndAborts)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\REMOVE.INF", RemoveInf);
    m.write("C:\\WINNT\\system32\\old.dll", "old");
    m.write("C:\\WINNT\\system32\\prev.dll", "prev");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\REMOVE.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);

    const std::string sys = "C:\\WINNT\\system32\\";
    const std::string del = std::to_string(FILEOP_DELETE);
    const std::string ren = std::to_string(FILEOP_RENAME);
    const std::string notFound = std::to_string(ERROR_FILE_NOT_FOUND);
    Script s;
    s.errorAnswers = { FILEOP_RETRY, FILEOP_SKIP, FILEOP_SKIP };
    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, nullptr, 0, scripted, &s,
        nullptr, nullptr))
        << GetLastError();
    std::vector<std::string> expected { "note " + std::to_string(SPFILENOTIFY_STARTQUEUE), "start sub " + del + " 2",
        "start " + sys + "old.dll " + del, "end " + sys + "old.dll 0", "start " + sys + "gone.dll " + del,
        "error " + sys + "gone.dll " + notFound, "error " + sys + "gone.dll " + notFound,
        "end " + sys + "gone.dll " + notFound, "end sub " + del, "start sub " + ren + " 2",
        "start " + sys + "new.dll " + ren, "end " + sys + "new.dll 0", "start " + sys + "next.dll " + ren,
        "error " + sys + "next.dll " + notFound, "end " + sys + "next.dll " + notFound, "end sub " + ren,
        "note " + std::to_string(SPFILENOTIFY_ENDQUEUE) };
    EXPECT_EQ(s.events, expected);
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\old.dll"));
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\prev.dll"));
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\new.dll"), "prev");

    // Aborting at an error ends the queue with the callback's error and no end of the sub-queue.
    m.write("C:\\WINNT\\system32\\old.dll", "old");
    Script aborted;
    aborted.errorAnswers = { FILEOP_ABORT };
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, nullptr, 0, scripted,
        &aborted, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::vector<std::string> abortedEvents { "note " + std::to_string(SPFILENOTIFY_STARTQUEUE),
        "start sub " + del + " 2", "start " + sys + "old.dll " + del, "end " + sys + "old.dll 0",
        "start " + sys + "gone.dll " + del, "error " + sys + "gone.dll " + notFound,
        "note " + std::to_string(SPFILENOTIFY_ENDQUEUE) };
    EXPECT_EQ(aborted.events, abortedEvents);
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\old.dll"));

    // A rename aborted without a reason is cancelled.
    m.write("C:\\WINNT\\system32\\old.dll", "old");
    m.write("C:\\WINNT\\system32\\prev.dll", "prev again");
    Script cancelled;
    cancelled.errorAnswers = { FILEOP_SKIP, FILEOP_ABORT };
    cancelled.abortError = NO_ERROR;
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, nullptr, 0, scripted,
        &cancelled, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(cancelled.events.back(), "note " + std::to_string(SPFILENOTIFY_ENDQUEUE));
    EXPECT_EQ(cancelled.events[cancelled.events.size() - 2], "error " + sys + "new.dll " + std::to_string(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\new.dll"), "prev");
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\old.dll"));

    // Refusing a sub-queue ends the queue before its first file.
    Script refused;
    refused.refuseSubqueue = true;
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_FILES, nullptr, nullptr, 0, scripted,
        &refused, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(refused.events, (std::vector<std::string> { "note " + std::to_string(SPFILENOTIFY_STARTQUEUE),
                                  "start sub " + del + " 2", "note " + std::to_string(SPFILENOTIFY_ENDQUEUE) }));

    // A list's destination is checked even when the list is not there.
    Script bad;
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "BadDest", SPINST_FILES, nullptr, nullptr, 0, scripted,
        &bad, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_TRUE(bad.events.empty());
    SetupCloseInfFile(inf);
}

TEST(SetupapiInstall, UpdateInisAndIni2Reg)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\WINNT\\modem.ini", "[Modem]\r\nOld=1\r\nSpeed=9600\r\n");
    m.write("C:\\MODEM\\INI.INF", "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                                  "[Inst]\r\n"
                                  "UpdateInis = Ini.Upd, Missing.Upd\r\n"
                                  "Ini2Reg = Ini.Reg\r\n"
                                  "[Ini.Upd]\r\n"
                                  "%10%\\modem.ini, Modem, \"Old = 1\", \"Port = COM2\"\r\n"
                                  "[Ini.Reg]\r\n"
                                  "%10%\\modem.ini, Modem, , HKLM, SOFTWARE\\Brimlow\\All\r\n"
                                  "%10%\\modem.ini, Modem, Speed, HKLM, SOFTWARE\\Brimlow\\One\r\n"
                                  "[Short]\r\n"
                                  "UpdateInis = Short.Upd\r\n"
                                  "[Short.Upd]\r\n"
                                  "%10%\\modem.ini\r\n"
                                  "[BadRoot]\r\n"
                                  "Ini2Reg = BadRoot.Reg\r\n"
                                  "[BadRoot.Reg]\r\n"
                                  "%10%\\modem.ini, Modem, Speed, HKXX, SOFTWARE\\Brimlow\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\INI.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Inst", SPINST_INIFILES | SPINST_INI2REG, nullptr, nullptr,
        0, nullptr, nullptr, nullptr, nullptr))
        << GetLastError();
    char value[64] = {};
    EXPECT_EQ(GetPrivateProfileStringA("Modem", "Old", "<none>", value, sizeof value, "C:\\WINNT\\modem.ini"), 6u);
    EXPECT_STREQ(value, "<none>");
    EXPECT_EQ(GetPrivateProfileStringA("Modem", "Port", "", value, sizeof value, "C:\\WINNT\\modem.ini"), 4u);
    EXPECT_STREQ(value, "COM2");
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brimlow\\All", "Speed"), std::string("9600\0", 5));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brimlow\\All", "Port"), std::string("COM2\0", 5));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brimlow\\One", "Speed"), std::string("9600\0", 5));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brimlow\\One", "Port"), "<no value>");

    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Short", SPINST_INIFILES, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "BadRoot", SPINST_INI2REG, nullptr, nullptr, 0, nullptr,
        nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BADKEY));
    SetupCloseInfFile(inf);
}

TEST(SetupapiInstall, LogConfigBelongsToADevice)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\LOG.INF", "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                                  "[Legacy]\r\n"
                                  "LogConfig = Legacy.NoSuchLog\r\n"
                                  "AddReg = Legacy.AddReg\r\n"
                                  "[Legacy.AddReg]\r\n"
                                  "HKR, , Installed, 0x10001, 1\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\LOG.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    HKEY root = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brimlow", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                  nullptr),
        ERROR_SUCCESS);

    // Without a device the directive is passed over, whatever it names.
    EXPECT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Legacy", SPINST_LOGCONFIG | SPINST_REGISTRY, root, nullptr,
        0, nullptr, nullptr, nullptr, nullptr))
        << GetLastError();
    EXPECT_EQ(regString(root, "", "Installed"), std::string("\1\0\0\0", 4));

    // For a device the sections it names must be there.
    GUID modemClass = { 0x4D36E96D, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemClass, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device {};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(set, u"PROBE", &modemClass, nullptr, nullptr, DICD_GENERATE_ID, &device))
        << GetLastError();
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "Legacy", SPINST_LOGCONFIG, root, nullptr, 0, nullptr,
        nullptr, set, &device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    SetupDiDestroyDeviceInfoList(set);
    RegCloseKey(root);
    SetupCloseInfFile(inf);
}
