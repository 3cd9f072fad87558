// `ntsim fault ... --nth N` names a program's N-th call: the calls the
// platform makes inside its own work (the INF installer opening the service
// controller, the controller writing its database, a copy opening its
// files) are never counted.
#include "support/TestMachine.h"

#include "machine/Faults.h"
#include "machine/Machine.h"
#include "machine/RunStore.h"

#include <setupapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace {

const char countingInf[] = "[Version]\r\n"
                           "Signature = \"$Windows NT$\"\r\n"
                           "[SourceDisksNames]\r\n"
                           "1 = \"Disk\",,\r\n"
                           "[SourceDisksFiles]\r\n"
                           "count.sys = 1\r\n"
                           "[DestinationDirs]\r\n"
                           "DefaultDestDir = 12\r\n"
                           "Count.Copy = 12, Count\r\n"
                           "[Count]\r\n"
                           "CopyFiles = Count.Copy\r\n"
                           "AddReg = Count.AddReg\r\n"
                           "DelReg = Count.DelReg\r\n"
                           "[Count.Copy]\r\n"
                           "count.sys\r\n"
                           "[Count.AddReg]\r\n"
                           "HKLM, SOFTWARE\\Counting, Value, 0x00010001, 1\r\n"
                           "HKLM, SOFTWARE\\Counting\\Sub, Text, 0, \"x\"\r\n"
                           "[Count.DelReg]\r\n"
                           "HKLM, SOFTWARE\\Counting, Gone\r\n"
                           "[Count.Services]\r\n"
                           "AddService = Counting, 0x00000002, Counting.Service, Counting.EventLog\r\n"
                           "[Counting.Service]\r\n"
                           "ServiceType = 1\r\n"
                           "StartType = 3\r\n"
                           "ErrorControl = 1\r\n"
                           "ServiceBinary = %12%\\Count\\count.sys\r\n"
                           "[Counting.EventLog]\r\n"
                           "AddReg = Counting.EventLog.AddReg\r\n"
                           "[Counting.EventLog.AddReg]\r\n"
                           "HKR,, TypesSupported, 0x00010001, 7\r\n"
                           "[Count.Uninstall.Services]\r\n"
                           "DelService = Counting, 0x00000204\r\n";

const char infPath[] = "C:\\MODEM\\COUNT.INF";

// Every call a machine can be told to fail.
const char* const faultableCalls[] = {
    "OpenSCManagerA", "OpenServiceA", "CreateServiceA", "DeleteService", "QueryServiceConfigA",
    "ChangeServiceConfigA", "StartServiceA", "ControlService", "QueryServiceStatus", "CloseServiceHandle",
    "AllocateAndInitializeSid", "InitializeAcl", "AddAccessAllowedAce", "AddAccessDeniedAce",
    "InitializeSecurityDescriptor", "SetSecurityDescriptorDacl", "RegOpenKeyExA", "RegOpenKeyA", "RegCreateKeyExA",
    "RegCreateKeyA", "RegCloseKey", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA", "RegDeleteKeyA",
    "RegEnumKeyExA", "RegEnumKeyA", "RegEnumValueA", "RegQueryInfoKeyA", "RegFlushKey", "RegGetKeySecurity",
    "RegSetKeySecurity", "SetupOpenInfFileA", "SetupInstallFromInfSectionA", "SetupInstallServicesFromInfSectionA",
    "DeleteFileA", "CopyFileA", "MoveFileExA", "MoveFileA", "CreateEventA", "FindResourceA", "FindResourceExA",
    "GetModuleFileNameA", "LoadLibraryExA", "LoadLibraryA", "CreateProcessA", "CreateFileA", "WriteFile",
    "CreateDirectoryA", "LoadStringA", "MessageBoxA", "GlobalAlloc",
};

const GUID modemClass = { 0x4D36E96D, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };

void setFaults(const test::TestMachine& m, const std::vector<ntsim::FaultSpec>& faults)
{
    ntsim::Machine machine;
    std::string error;
    ASSERT_TRUE(ntsim::Machine::open(m.dir(), machine, error)) << error;
    machine.config().faults = faults;
    ASSERT_TRUE(machine.saveConfig(error)) << error;
}

// How often the machine has counted a call so far.
unsigned counted(const test::TestMachine& m, const std::string& api)
{
    std::string error;
    auto store = ntsim::RunStore::open(m.dir() + "/run", error);
    EXPECT_TRUE(store) << error;
    return store ? ntsim::countedCalls(*store, api) : 0;
}

}

TEST(NtsimFaultCounting, TheNthCallIsTheProgramsOwnWhateverThePlatformDoesInside)
{
    test::TestMachine m;
    m.write(infPath, countingInf);
    m.write("C:\\MODEM\\count.sys", "NTSIM DRIVER IMAGE\r\nBehaviour: plain\r\n");
    setFaults(m, { { "OpenSCManagerA", ERROR_SERVICE_DISABLED, 2 }, { "RegCreateKeyExA", ERROR_ACCESS_DENIED, 2 },
                     { "CreateFileA", ERROR_SHARING_VIOLATION, 2 } });
    m.attach();

    // The installer opens the controller, creates keys and copies files.
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, &errorLine);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    PVOID context = SetupInitDefaultQueueCallback(nullptr);
    EXPECT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Count", SPINST_ALL, nullptr, "C:\\MODEM", SP_COPY_NEWER,
        SetupDefaultQueueCallbackA, context, nullptr, nullptr))
        << GetLastError();
    SetupTermDefaultQueueCallback(context);
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Count.Services", 0)) << GetLastError();
    SetupCloseInfFile(inf);
    EXPECT_TRUE(CopyFileA("C:\\MODEM\\count.sys", "C:\\MODEM\\copy.sys", FALSE)) << GetLastError();

    SC_HANDLE first = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(first, nullptr) << "the program's first call";
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED)) << "the program's second call";
    CloseServiceHandle(first);

    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Mine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Mine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);

    HANDLE file = CreateFileA("C:\\MODEM\\copy.sys", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(CreateFileA("C:\\MODEM\\copy.sys", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(NtsimFaultCounting, EveryCounterHoldsOnlyTheProgramsOwnCalls)
{
    test::TestMachine m;
    m.write(infPath, countingInf);
    m.write("C:\\MODEM\\count.sys", "NTSIM DRIVER IMAGE\r\nBehaviour: plain\r\n");
    m.write("C:\\MODEM\\old.txt", "old");
    std::vector<ntsim::FaultSpec> faults;
    for (const char* api : faultableCalls)
        faults.push_back({ api, ERROR_GEN_FAILURE, 1000000 }); // counted, never reached
    setFaults(m, faults);
    m.attach();

    std::map<std::string, unsigned> made; // the program's own calls, by name
    auto call = [&made](const char* api) { ++made[api]; };

    UINT errorLine = 0;
    call("SetupOpenInfFileA");
    HINF inf = SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, &errorLine);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    PVOID context = SetupInitDefaultQueueCallback(nullptr);
    call("SetupInstallFromInfSectionA");
    EXPECT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "Count", SPINST_ALL, nullptr, "C:\\MODEM", SP_COPY_NEWER,
        SetupDefaultQueueCallbackA, context, nullptr, nullptr))
        << GetLastError();
    SetupTermDefaultQueueCallback(context);
    call("SetupInstallServicesFromInfSectionA");
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Count.Services", 0)) << GetLastError();
    EXPECT_TRUE(m.exists("C:\\WINNT\\system32\\drivers\\Count\\count.sys"));

    call("OpenSCManagerA");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    call("OpenServiceA");
    SC_HANDLE service = OpenServiceA(manager, "Counting", SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr) << GetLastError();
    call("StartServiceA");
    EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status {};
    call("ControlService");
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    call("CloseServiceHandle");
    CloseServiceHandle(service);
    call("CloseServiceHandle");
    CloseServiceHandle(manager);

    call("MoveFileExA");
    EXPECT_TRUE(MoveFileExA("C:\\MODEM\\old.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
    call("MoveFileA");
    EXPECT_TRUE(MoveFileA("C:\\MODEM\\old.txt", "C:\\MODEM\\new.txt")) << GetLastError();
    call("CopyFileA");
    EXPECT_TRUE(CopyFileA("C:\\MODEM\\new.txt", "C:\\MODEM\\copy.txt", TRUE)) << GetLastError();
    call("LoadLibraryA");
    HMODULE library = LoadLibraryA("C:\\MODEM\\setupres.dll");
    ASSERT_NE(library, nullptr) << GetLastError();
    char text[256] = "";
    call("LoadStringA");
    EXPECT_GT(LoadStringA(library, 1, text, sizeof text), 0) << GetLastError();
    FreeLibrary(library);

    // The device installer writes below Enum and Control\Class itself.
    HDEVINFO devices = SetupDiCreateDeviceInfoList(&modemClass, nullptr);
    SP_DEVINFO_DATA device {};
    device.cbSize = sizeof device;
    EXPECT_TRUE(SetupDiCreateDeviceInfoW(devices, u"COUNTING", &modemClass, u"A modem", nullptr, DICD_GENERATE_ID,
        &device)) << GetLastError();
    EXPECT_TRUE(SetupDiRegisterDeviceInfo(devices, &device, 0, nullptr, nullptr, nullptr)) << GetLastError();
    EXPECT_TRUE(SetupDiRemoveDevice(devices, &device)) << GetLastError();
    SetupDiDestroyDeviceInfoList(devices);

    // The tool and rundll32 work through the platform's own calls.
    EXPECT_EQ(m.tool({ "sc", m.dir(), "start", "Counting" }).exitCode, 0);
    EXPECT_EQ(m.tool({ "sc", m.dir(), "stop", "Counting" }).exitCode, 0);
    test::RunResult rundll = m.run({ "C:\\WINNT\\system32\\rundll32.exe", "setupapi.dll,InstallHinfSection", "Count",
                                       "128", infPath });
    EXPECT_EQ(rundll.exitCode, 0) << rundll.out;
    test::RunResult failing = m.run({ "C:\\WINNT\\system32\\rundll32.exe", "setupapi.dll,InstallHinfSection", "Count",
                                        "128", "C:\\MODEM\\NONE.INF" },
        { "ok" });
    ASSERT_EQ(failing.transcript.size(), 1u) << failing.out;
    EXPECT_EQ(ntsim::stringMember(failing.transcript[0], "caption"), "Installation Failed");

    call("SetupInstallServicesFromInfSectionA");
    EXPECT_TRUE(SetupInstallServicesFromInfSectionA(inf, "Count.Uninstall.Services", 0)) << GetLastError();
    SetupCloseInfFile(inf);

    std::map<std::string, unsigned> seen;
    for (const char* api : faultableCalls)
        if (unsigned n = counted(m, api))
            seen[api] = n;
    EXPECT_EQ(seen, made);
}
