// The driver's operations on fresh machines: the INF's sections, the
// service, every status code and the trace lines in their order.
#include "driver/Driver.h"
#include "driver/DriverList.h"

#include "support/RegistryProbe.h"
#include "support/DriverHarness.h"

#include "machine/Machine.h"

#include <algorithm>

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

using test::KeyExists;

namespace {

const char installSection[] = "TAVRELIN_DATAFAX_QZV";
const char driverFile[] = "C:\\WINNT\\system32\\drivers\\QZVMDM.SYS";
const char serviceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Qzvmdm";

CDriver MakeDriver()
{
    return CDriver("Brimlow PCI Data/Fax Modem", test::DriverHarness::infPath(), installSection, "PCI\\VEN_1A7E\\DEV_5C21");
}

const Lines serviceNameLines = {
    "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
    "GetDriverServiceName looking for TAVRELIN_DATAFAX_QZV.Services",
    "GetDriverServiceName got Qzvmdm",
    "GetDriverServiceName exit with uRet 0",
};

const Lines cachedNameLines = {
    "GetDriverServiceName got Qzvmdm",
    "GetDriverServiceName exit with uRet 0",
};

Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

bool ReadDword(HKEY root, const std::string& key, const char* value, DWORD& out)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof out, type = 0;
    LONG r = RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(&out), &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS && type == REG_DWORD;
}

std::string ReadString(HKEY root, const std::string& key, const char* value)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    char data[256] = "";
    DWORD size = sizeof data, type = 0;
    LONG r = RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS ? data : "<no value>";
}

}

TEST(DriverOperations, AFirstInstallOnACleanMachineTracesEachStepAndCreatesTheService)
{
    test::DriverHarness h;
    // A line for the relative root, which the program makes the service key.
    std::string inf = h.machine().read(test::DriverHarness::infPath());
    size_t at = inf.find("[TAVRELIN_DATAFAX_QZV.AddReg]\r\n");
    ASSERT_NE(at, std::string::npos);
    inf.insert(at + 31, "HKR, Parameters, Relative, 0x00010001, 7\r\n");
    h.machine().write(test::DriverHarness::infPath(), inf);
    CDriver driver = MakeDriver();
    ASSERT_FALSE(h.machine().exists(driverFile));

    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), Join({ serviceNameLines, {
        "open_service 19 (ST_SCM_CANT_OPEN_SERVICE_DOES_NOT_EXIST)",
        "open_service exit with uRet 19",
        "GetInfo state 0 (DRV_S_NONE)",
        "GetInfo exit with uRet 0",
        "Install exit with uRet 0",
    } }));

    EXPECT_EQ(h.machine().read(driverFile), h.machine().read("C:\\MODEM\\QZVMDM.SYS"));
    DWORD type = 0, start = 0, bufferSize = 0, relative = 0;
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, serviceKey, "Type", type));
    EXPECT_EQ(type, 1u);
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, serviceKey, "Start", start));
    EXPECT_EQ(start, 3u);
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, std::string(serviceKey) + "\\Parameters", "BufferSize", bufferSize));
    EXPECT_EQ(bufferSize, 4096u);
    // The install section's HKR is the service key.
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, std::string(serviceKey) + "\\Parameters", "Relative", relative));
    EXPECT_EQ(relative, 7u);

    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_INSTALLED);
    EXPECT_EQ(h.newLogLines(), Join({ cachedNameLines, {
        "open_service exit with uRet 0",
        "GetInfo state 1 (DRV_S_INSTALLED)",
        "GetInfo exit with uRet 0",
    } })) << "the service name is read from the INF once";
}

TEST(DriverOperations, StartRunsTheSoftModemDriverAndStopRemovesItsPort)
{
    test::DriverHarness h;
    CDriverList list(test::DriverHarness::infPath(), "Models");
    POSITION position;
    ASSERT_TRUE(list.Rewind(position));
    ASSERT_TRUE(list.Next(position));
    ASSERT_EQ(list.InstallAndStart(position, nullptr), ST_SUCCESS);

    UINT state = 99;
    EXPECT_EQ(list.GetInfo(position, &state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_STARTED);

    // The driver found the machine's modem (machine.json) and gave it a port.
    const ntsim::PciDevice& modem = ntsim::Machine::current().config().pci.at(0);
    std::string parameters = std::string(serviceKey) + "\\Parameters\\Qzvmdm0";
    DWORD vendor = 0, device = 0, subsystem = 0, subsystemVendor = 0, revision = 0;
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, parameters, "PciVendorID", vendor));
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, parameters, "PciDeviceID", device));
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, parameters, "PciSubsystemID", subsystem));
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, parameters, "PciSubsystemVendorID", subsystemVendor));
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, parameters, "PciRevision", revision));
    EXPECT_EQ(vendor, modem.vendorId);
    EXPECT_EQ(device, modem.deviceId);
    EXPECT_EQ(subsystem, modem.subsystemId);
    EXPECT_EQ(subsystemVendor, modem.subsystemVendorId);
    EXPECT_EQ(revision, modem.revision);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Qzvmdm0"), "COM3");

    h.newLogLines();
    EXPECT_EQ(list.StopAndUninstall(position, nullptr), ST_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Qzvmdm0"), "<no value>");
    EXPECT_FALSE(h.machine().exists(driverFile));
    EXPECT_FALSE(KeyExists(serviceKey));
}

TEST(DriverOperations, InstallOfARunningDriverRefusesAndCopiesNothing)
{
    test::DriverHarness h;
    CDriver driver = MakeDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
    h.machine().remove(driverFile);
    h.newLogLines();

    EXPECT_EQ(driver.Install(nullptr), ST_DRV_CANT_INSTALL_ALREADY_INSTALLED);
    EXPECT_EQ(h.newLogLines(), Join({ cachedNameLines, {
        "open_service exit with uRet 0",
        "GetInfo state 2 (DRV_S_STARTED)",
        "GetInfo exit with uRet 0",
        "Install 1 (ST_DRV_CANT_INSTALL_ALREADY_INSTALLED)",
        "Install exit with uRet 1",
    } }));
    EXPECT_FALSE(h.machine().exists(driverFile));

    EXPECT_EQ(driver.Start(), ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(driver.Uninstall(nullptr), ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING);
    Lines lines = h.newLogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Start 23 (ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING)"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Uninstall 2 (ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING"), lines.end());

    // A stopped driver is installed again over its service.
    ASSERT_EQ(driver.Stop(), ST_SUCCESS);
    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_TRUE(h.machine().exists(driverFile));
}

TEST(DriverOperations, TheServiceNameIsCopiedOutOnlyWhenItFits)
{
    test::DriverHarness h;
    CDriver driver = MakeDriver();
    EXPECT_EQ(driver.GetDriverServiceName(nullptr, 0), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), serviceNameLines) << "no buffer, no line naming it";

    char small[7] = "unset";
    EXPECT_EQ(driver.GetDriverServiceName(small, 6), ST_SUCCESS);
    EXPECT_STREQ(small, "unset") << "six characters do not fit in six";
    EXPECT_EQ(h.newLogLines(), cachedNameLines);

    char fits[7] = "";
    EXPECT_EQ(driver.GetDriverServiceName(fits, 7), ST_SUCCESS);
    EXPECT_STREQ(fits, "Qzvmdm");
    EXPECT_EQ(h.newLogLines(), Join({ { "GetDriverServiceName Qzvmdm" }, cachedNameLines }));
}

TEST(DriverOperations, AServiceSectionWithoutAddServiceFailsEveryOperationWithNine)
{
    test::DriverHarness h;
    std::string inf = h.machine().read(test::DriverHarness::infPath());
    size_t at = inf.find("AddService = ");
    ASSERT_NE(at, std::string::npos);
    // No line of the section has AddService for its key any longer.
    for (; at != std::string::npos; at = inf.find("AddService = ", at))
        inf.replace(at, 3, "Xdd");
    h.machine().write(test::DriverHarness::infPath(), inf);

    CDriver driver = MakeDriver();
    UINT state = 77;
    EXPECT_EQ(driver.GetDriverServiceName(nullptr, 0), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), (Lines {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName looking for TAVRELIN_DATAFAX_QZV.Services",
        "GetDriverServiceName 9 (ST_INF_NO_ADDSERVICE_KEY)",
        "GetDriverServiceName exit with uRet 9",
    }));
    EXPECT_EQ(driver.GetInfo(&state), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(state, 77u) << "the state is written only on success";
    EXPECT_EQ(driver.Install(nullptr), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(driver.Uninstall(nullptr), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(driver.Start(), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(driver.Stop(), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_FALSE(h.machine().exists(driverFile));
    Lines lines = h.newLogLines();
    EXPECT_EQ(lines.back(), "Stop exit with uRet 9");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF"), 5)
        << "a failed read is tried again by each operation";
}

TEST(DriverOperations, AMissingOrBrokenSetupInf)
{
    test::DriverHarness h;
    h.machine().remove(test::DriverHarness::infPath());
    CDriver missing = MakeDriver();
    EXPECT_EQ(missing.GetDriverServiceName(nullptr, 0), ST_INF_FILE_NOT_FOUND);
    EXPECT_EQ(h.newLogLines(), (Lines {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName 8 (ST_INF_FILE_NOT_FOUND)",
        "GetDriverServiceName exit with uRet 8",
    }));

    h.machine().write(test::DriverHarness::infPath(), "; no [Version] signature: not an INF of the asked style\r\n[Models]\r\n");
    CDriver wrongStyle = MakeDriver();
    EXPECT_EQ(wrongStyle.GetDriverServiceName(nullptr, 0), ST_INF_CANT_OPEN_INF_FILE);
    EXPECT_EQ(h.newLogLines()[1], "GetDriverServiceName 5 (ST_INF_CANT_OPEN_INF_FILE)");
}

TEST(DriverOperations, StopOfAStoppedDriverOnlyAsksItsState)
{
    test::DriverHarness h;
    CDriver driver = MakeDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    h.newLogLines();
    EXPECT_EQ(driver.Stop(), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), Join({ cachedNameLines, {
        "open_service exit with uRet 0",
        "GetInfo state 1 (DRV_S_INSTALLED)",
        "GetInfo exit with uRet 0",
        "Stop exit with uRet 0",
    } }));
}

TEST(DriverOperations, StopOfADriverThatRefusesTheControl)
{
    test::DriverHarness h;
    h.machine().write("C:\\MODEM\\QZVMDM.SYS", "NTSIM DRIVER IMAGE\r\nBehaviour: refuse-stop\r\n");
    CDriver driver = MakeDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
    h.newLogLines();
    EXPECT_EQ(driver.Stop(), ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL);
    Lines lines = h.newLogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Stop 1052 (ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL)");
    EXPECT_EQ(lines.back(), "Stop exit with uRet 31");
}

TEST(DriverOperations, APausedDriverCountsAsStartedAndAPendingStopAsInstalled)
{
    test::DriverHarness h;
    h.machine().write("C:\\MODEM\\QZVMDM.SYS", "NTSIM DRIVER IMAGE\r\nBehaviour: stop-pending\r\n");
    CDriver driver = MakeDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
    EXPECT_EQ(driver.Stop(), ST_SUCCESS) << "the request was accepted";
    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_INSTALLED);
}

TEST(DriverOperations, UninstallWithAFailingServiceSectionStillClosesThePanelAndRemovesTheFiles)
{
    test::DriverHarness h;
    CDriver driver = MakeDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_TRUE(h.machine().exists(driverFile));

    for (const char* title : { "Control Panel", "control panel", "Control Panel" }) {
        auto window = h.machine().tool({ "window", h.machine().dir(), "--title", title });
        ASSERT_EQ(window.exitCode, 0) << window.out;
    }
    // Without its uninstall service section, that section cannot be installed.
    std::string inf = h.machine().read(test::DriverHarness::infPath());
    size_t at = inf.find("[TAVRELIN_DATAFAX_QZV.Uninstall.Services]");
    ASSERT_NE(at, std::string::npos);
    inf.replace(at, 1, "[Gone_");
    h.machine().write(test::DriverHarness::infPath(), inf);
    h.newLogLines();

    EXPECT_EQ(driver.Uninstall(nullptr), ST_INF_CANT_UNINSTALL_SERVICE);
    EXPECT_EQ(h.newLogLines(), Join({ cachedNameLines, {
        "open_service exit with uRet 0",
        "GetInfo state 1 (DRV_S_INSTALLED)",
        "GetInfo exit with uRet 0",
        "Uninstall 7 (ST_INF_CANT_UNINSTALL_SERVICE)",
        "Uninstall exit with uRet 7",
    } }));
    EXPECT_FALSE(h.machine().exists(driverFile)) << "the files go all the same";

    std::vector<std::string> titles;
    EnumWindows([](HWND hWnd, LPARAM lParam) -> BOOL {
        char title[256] = "";
        GetWindowTextA(hWnd, title, sizeof title);
        reinterpret_cast<std::vector<std::string>*>(lParam)->push_back(title);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&titles));
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, (std::vector<std::string> { "Control Panel", "control panel" }))
        << "one of the two Control Panel windows closed, the lower-case one kept";
    for (HWND hWnd = FindWindowA(nullptr, "Control Panel"); hWnd; hWnd = FindWindowA(nullptr, "Control Panel"))
        SendMessageA(hWnd, WM_CLOSE, 0, 0);
    if (HWND hWnd = FindWindowA(nullptr, "control panel"))
        SendMessageA(hWnd, WM_CLOSE, 0, 0);
}
