// The driver's operations on fresh machines: the INF's sections, the
// service, every status code and the trace lines in their order.
#include "driver/Driver.h"
#include "driver/DriverList.h"

#include "scm_helpers.h"
#include "support/DriverHarness.h"

#include "machine/Machine.h"

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

using test::DriverHarness;
using test::Lines;
using test::join;

namespace {

const char packagedDriver[] = "C:\\MODEM\\QZVMDM.SYS";

// Installs and starts the driver from an image of the given behaviour.
void RunDriver(DriverHarness& h, CDriver& driver, const char* behaviour)
{
    h.machine().write(packagedDriver, std::string("NTSIM DRIVER IMAGE\r\nBehaviour: ") + behaviour + "\r\n");
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
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

BOOL ControlDriver(DWORD control)
{
    scmtest::Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    scmtest::Sc service(OpenServiceA(manager.get(), "Qzvmdm", SERVICE_PAUSE_CONTINUE | SERVICE_STOP));
    SERVICE_STATUS status {};
    return service && ControlService(service.get(), control, &status);
}

std::vector<std::string> TopLevelTitles()
{
    std::vector<std::string> titles;
    EnumWindows([](HWND hWnd, LPARAM lParam) -> BOOL {
        char title[256] = "";
        GetWindowTextA(hWnd, title, sizeof title);
        reinterpret_cast<std::vector<std::string>*>(lParam)->push_back(title);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&titles));
    std::sort(titles.begin(), titles.end());
    return titles;
}

}

TEST(DriverOperations, AFirstInstallOnACleanMachineTracesEachStepAndCreatesTheService)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_FALSE(h.machine().exists(DriverHarness::driverFile()));

    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), join({ test::noServiceLines(test::nameReadLines()), { "Install exit with uRet 0" } }));

    EXPECT_EQ(h.machine().read(DriverHarness::driverFile()), h.machine().read(packagedDriver));
    DWORD type = 0, start = 0, bufferSize = 0;
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, DriverHarness::serviceKey(), "Type", type));
    EXPECT_EQ(type, 1u);
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, DriverHarness::serviceKey(), "Start", start));
    EXPECT_EQ(start, 3u);
    // The install section's HKR is the service key.
    EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, std::string(DriverHarness::serviceKey()) + "\\Parameters", "BufferSize",
        bufferSize));
    EXPECT_EQ(bufferSize, 4096u);
    EXPECT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_STOPPED)) << "Install does not start the service";

    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_INSTALLED);
    EXPECT_EQ(h.newLogLines(), test::infoLines("GetInfo state 1 (DRV_S_INSTALLED)"))
        << "the service name is read from the INF once";
}

TEST(DriverOperations, StartRunsTheSoftModemDriverAndStopRemovesItsPort)
{
    DriverHarness h;
    CDriverList list(DriverHarness::infPath(), "Models");
    POSITION position;
    ASSERT_TRUE(list.Rewind(position));
    ASSERT_TRUE(list.Next(position));
    ASSERT_EQ(list.InstallAndStart(position, nullptr), ST_SUCCESS);

    UINT state = 99;
    EXPECT_EQ(list.GetInfo(position, &state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_STARTED);

    // The driver found the machine's modem (machine.json) and gave it a port.
    const ntsim::PciDevice& modem = ntsim::Machine::current().config().pci.at(0);
    std::string parameters = std::string(DriverHarness::serviceKey()) + "\\Parameters\\Qzvmdm0";
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
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
    EXPECT_FALSE(scmtest::keyExists(DriverHarness::serviceKey()));
}

TEST(DriverOperations, ARunningDriverIsNeitherInstalledNorStartedNorUninstalled)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
    h.machine().remove(DriverHarness::driverFile());
    h.newLogLines();
    const Lines started = test::infoLines("GetInfo state 2 (DRV_S_STARTED)");

    EXPECT_EQ(driver.Install(nullptr), ST_DRV_CANT_INSTALL_ALREADY_INSTALLED);
    EXPECT_EQ(h.newLogLines(), join({ started, {
        "Install 1 (ST_DRV_CANT_INSTALL_ALREADY_INSTALLED)",
        "Install exit with uRet 1",
    } }));
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));

    EXPECT_EQ(driver.Start(), ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(h.newLogLines(), join({ test::nameKnownLines(), {
        "open_service exit with uRet 0",
        "Start 23 (ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING)",
        "Start exit with uRet 23",
    } })) << "Start asks the SCM, not GetInfo";

    EXPECT_EQ(driver.Uninstall(nullptr), ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING);
    EXPECT_EQ(h.newLogLines(), join({ started, {
        "Uninstall 2 (ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING",
        "Uninstall exit with uRet 2",
    } }));
    EXPECT_TRUE(scmtest::keyExists(DriverHarness::serviceKey()));

    // A stopped driver is installed again over its service.
    ASSERT_EQ(driver.Stop(), ST_SUCCESS);
    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_TRUE(h.machine().exists(DriverHarness::driverFile()));
}

TEST(DriverOperations, TheServiceNameIsCopiedOutOnlyWhenItFits)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    EXPECT_EQ(driver.GetDriverServiceName(nullptr, 0), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), test::nameReadLines()) << "no buffer, no line naming it";

    char small[7] = "unset";
    EXPECT_EQ(driver.GetDriverServiceName(small, 6), ST_SUCCESS);
    EXPECT_STREQ(small, "unset") << "six characters do not fit in six";
    EXPECT_EQ(h.newLogLines(), test::nameKnownLines());

    char fits[7] = "";
    EXPECT_EQ(driver.GetDriverServiceName(fits, 7), ST_SUCCESS);
    EXPECT_STREQ(fits, "Qzvmdm");
    EXPECT_EQ(h.newLogLines(), join({ { "GetDriverServiceName Qzvmdm" }, test::nameKnownLines() }));
}

TEST(DriverOperations, AServiceSectionWithoutAddServiceFailsEveryOperationWithNine)
{
    DriverHarness h;
    h.writeInf(DriverHarness::setupInfWith("AddService = Qzvmdm", "XddService = Qzvmdm"));
    const Lines failedRead = {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName looking for TAVRELIN_DATAFAX_QZV.Services",
        "GetDriverServiceName 9 (ST_INF_NO_ADDSERVICE_KEY)",
        "GetDriverServiceName exit with uRet 9",
    };

    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    UINT state = 77;
    EXPECT_EQ(driver.GetDriverServiceName(nullptr, 0), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), failedRead);
    EXPECT_EQ(driver.GetInfo(&state), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(state, 77u) << "the state is written only on success";
    EXPECT_EQ(h.newLogLines(), join({ failedRead, { "GetInfo exit with uRet 9" } }));
    EXPECT_EQ(driver.Install(nullptr), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), join({ failedRead, { "GetInfo exit with uRet 9", "Install exit with uRet 9" } }));
    EXPECT_EQ(driver.Uninstall(nullptr), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), join({ failedRead, { "GetInfo exit with uRet 9", "Uninstall exit with uRet 9" } }));
    EXPECT_EQ(driver.Start(), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), join({ failedRead, { "Start exit with uRet 9" } }));
    EXPECT_EQ(driver.Stop(), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), join({ failedRead, { "GetInfo exit with uRet 9", "Stop exit with uRet 9" } }))
        << "a failed read is tried again by each operation";
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
}

TEST(DriverOperations, AMissingOrBrokenSetupInf)
{
    DriverHarness h;
    h.machine().remove(DriverHarness::infPath());
    CDriver missing = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    EXPECT_EQ(missing.GetDriverServiceName(nullptr, 0), ST_INF_FILE_NOT_FOUND);
    EXPECT_EQ(h.newLogLines(), (Lines {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName 8 (ST_INF_FILE_NOT_FOUND)",
        "GetDriverServiceName exit with uRet 8",
    }));

    h.writeInf("; no [Version] signature: not an INF of the asked style\r\n[Models]\r\n");
    CDriver wrongStyle = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    EXPECT_EQ(wrongStyle.GetDriverServiceName(nullptr, 0), ST_INF_CANT_OPEN_INF_FILE);
    EXPECT_EQ(h.newLogLines(), (Lines {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName 5 (ST_INF_CANT_OPEN_INF_FILE)",
        "GetDriverServiceName exit with uRet 5",
    }));
}

TEST(DriverOperations, StopOfAStoppedDriverOnlyAsksItsState)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    h.newLogLines();
    EXPECT_EQ(driver.Stop(), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 1 (DRV_S_INSTALLED)"), { "Stop exit with uRet 0" } }));
}

TEST(DriverOperations, StopOfADriverThatRefusesTheControl)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_NO_FATAL_FAILURE(RunDriver(h, driver, "refuse-stop"));
    h.newLogLines();
    EXPECT_EQ(driver.Stop(), ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 2 (DRV_S_STARTED)"), {
        "open_service exit with uRet 0",
        "Stop 1052 (ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL)",
        "Stop exit with uRet 31",
    } }));
    EXPECT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(DriverOperations, APausedDriverCountsAsStarted)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_NO_FATAL_FAILURE(RunDriver(h, driver, "pauses"));
    ASSERT_TRUE(ControlDriver(SERVICE_CONTROL_PAUSE)) << GetLastError();
    ASSERT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_PAUSED));
    h.newLogLines();
    const Lines started = test::infoLines("GetInfo state 2 (DRV_S_STARTED)");

    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_STARTED);
    EXPECT_EQ(h.newLogLines(), started);
    EXPECT_EQ(driver.Install(nullptr), ST_DRV_CANT_INSTALL_ALREADY_INSTALLED);
    EXPECT_EQ(driver.Uninstall(nullptr), ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING);
    h.newLogLines();

    // Stop sends the paused driver its stop.
    EXPECT_EQ(driver.Stop(), ST_SUCCESS);
    EXPECT_EQ(h.newLogLines(), join({ started, { "open_service exit with uRet 0", "Stop exit with uRet 0" } }));
    EXPECT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(DriverOperations, ADriverLeftStopPendingCountsAsInstalled)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_NO_FATAL_FAILURE(RunDriver(h, driver, "stop-pending"));
    EXPECT_EQ(driver.Stop(), ST_SUCCESS) << "the request was accepted";
    ASSERT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    h.newLogLines();
    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_INSTALLED);
    EXPECT_EQ(h.newLogLines(), test::infoLines("GetInfo state 1 (DRV_S_INSTALLED)"));
}

TEST(DriverOperations, AStatusThatCannotBeReadCountsAsInstalled)
{
    // Only the first status query fails: Install and Start make none.
    DriverHarness h({ { "QueryServiceStatus", "ERROR_INVALID_HANDLE" } });
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
    h.newLogLines();
    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_INSTALLED) << "running, but its status could not be read";
    EXPECT_EQ(h.newLogLines(), test::infoLines("GetInfo state 1 (DRV_S_INSTALLED, odd case)"));
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_STARTED);
}

TEST(DriverOperations, TheCopyKeepsANewerDriverOfTheMachineAndReplacesAnOlderOne)
{
    DriverHarness h;
    std::string target = h.machine().host(DriverHarness::driverFile());
    auto writeTarget = [&](const char* contents, time_t modified) {
        h.machine().write(DriverHarness::driverFile(), contents);
        utimbuf times { modified, modified };
        ASSERT_EQ(utime(target.c_str(), &times), 0);
    };
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");

    writeTarget("NTSIM DRIVER IMAGE\r\nBehaviour: plain\r\nDescription: newer\r\n", time(nullptr) + 86400);
    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_EQ(h.machine().read(DriverHarness::driverFile()),
        "NTSIM DRIVER IMAGE\r\nBehaviour: plain\r\nDescription: newer\r\n");

    writeTarget("older", 946684800); // 2000-01-01
    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_EQ(h.machine().read(DriverHarness::driverFile()), h.machine().read(packagedDriver));
}

TEST(DriverOperations, AMissingDriverFileCannotBeSkipped)
{
    DriverHarness h;
    h.machine().remove(packagedDriver);
    std::string base = h.machine().dir() + "/../desk";
    std::ofstream(base + ".script") << "cancel\n";
    setenv("NTSIM_SCRIPT", (base + ".script").c_str(), 1);
    setenv("NTSIM_TRANSCRIPT", (base + ".jsonl").c_str(), 1);
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    UINT status = driver.Install(nullptr);
    unsetenv("NTSIM_SCRIPT");
    unsetenv("NTSIM_TRANSCRIPT");

    EXPECT_EQ(status, ST_INF_CANT_INSTALL_FILES);
    std::ifstream in(base + ".jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(in, line)) << "the person was asked for the file";
    ntsim::Json prompt;
    std::string error;
    ASSERT_TRUE(ntsim::parseJson(line, prompt, error)) << error;
    EXPECT_EQ(ntsim::stringMember(prompt, "kind"), "files-needed");
    EXPECT_EQ(ntsim::stringMember(prompt, "file"), "QZVMDM.SYS");
    std::vector<std::string> buttons;
    for (auto& b : ntsim::member(prompt, "buttons"))
        buttons.push_back(b.is_string() ? b.get<std::string>() : "?");
    EXPECT_EQ(buttons, (std::vector<std::string> { "retry", "cancel" })) << "no skip";
    EXPECT_FALSE(std::getline(in, line)) << "one prompt only";
}

TEST(DriverOperations, UninstallWithAFailingServiceSectionStillClosesThePanelAndRemovesTheFiles)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_TRUE(h.machine().exists(DriverHarness::driverFile()));

    for (const char* title : { "Control Panel", "control panel", "Control Panel" }) {
        auto window = h.machine().tool({ "window", h.machine().dir(), "--title", title });
        ASSERT_EQ(window.exitCode, 0) << window.out;
    }
    // Without its uninstall service section, that section cannot be installed.
    h.writeInf(DriverHarness::setupInfWith("[TAVRELIN_DATAFAX_QZV.Uninstall.Services]", "[Gone]"));
    h.newLogLines();

    EXPECT_EQ(driver.Uninstall(nullptr), ST_INF_CANT_UNINSTALL_SERVICE);
    EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 1 (DRV_S_INSTALLED)"), {
        "Uninstall 7 (ST_INF_CANT_UNINSTALL_SERVICE)",
        "Uninstall exit with uRet 7",
    } }));
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile())) << "the files go all the same";
    EXPECT_TRUE(scmtest::keyExists(DriverHarness::serviceKey()));

    EXPECT_EQ(TopLevelTitles(), (std::vector<std::string> { "Control Panel", "control panel" }))
        << "one of the two Control Panel windows closed, the lower-case one kept";
    for (HWND hWnd = FindWindowA(nullptr, "Control Panel"); hWnd; hWnd = FindWindowA(nullptr, "Control Panel"))
        SendMessageA(hWnd, WM_CLOSE, 0, 0);
    if (HWND hWnd = FindWindowA(nullptr, "control panel"))
        SendMessageA(hWnd, WM_CLOSE, 0, 0);
}

namespace {

// What the machine looked like when the Control Panel was asked to close.
struct AtClose {
    bool closed { false };
    bool serviceKey { false };
    bool driverFile { false };
};
AtClose atClose;
std::string driverHostPath;

LRESULT CALLBACK PanelProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        struct stat st;
        atClose.closed = true;
        atClose.serviceKey = scmtest::keyExists(DriverHarness::serviceKey());
        atClose.driverFile = stat(driverHostPath.c_str(), &st) == 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

}

TEST(DriverOperations, ThePanelClosesAfterTheServiceGoesAndBeforeTheFilesDo)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    driverHostPath = h.machine().host(DriverHarness::driverFile());
    WNDCLASSA cls {};
    cls.lpfnWndProc = PanelProc;
    cls.lpszClassName = "TestPanel";
    ASSERT_NE(RegisterClassA(&cls), 0);
    HWND panel = CreateWindowExA(0, "TestPanel", "Control Panel", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
        nullptr, nullptr);
    ASSERT_NE(panel, nullptr);

    EXPECT_EQ(driver.Uninstall(nullptr), ST_SUCCESS);
    EXPECT_TRUE(atClose.closed);
    EXPECT_FALSE(atClose.serviceKey) << "the uninstall service section ran first";
    EXPECT_TRUE(atClose.driverFile) << "the uninstall section runs after";
    EXPECT_FALSE(IsWindow(panel));
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
}

TEST(DriverOperations, AReadOnlyProgramDirectoryLosesTheLogAndNothingElse)
{
    DriverHarness h;
    std::string programDir = h.machine().host("C:\\MODEM");
    ASSERT_EQ(chmod(programDir.c_str(), 0555), 0);
    CDriver driver = test::harnessDriver("PCI\\VEN_1A7E\\DEV_5C21");
    UINT status = driver.Install(nullptr);
    UINT state = 99;
    UINT infoStatus = driver.GetInfo(&state);
    chmod(programDir.c_str(), 0755);

    EXPECT_EQ(status, ST_SUCCESS);
    EXPECT_EQ(infoStatus, ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_INSTALLED);
    EXPECT_EQ(h.machine().read(DriverHarness::driverFile()), h.machine().read(packagedDriver));
    EXPECT_FALSE(h.machine().exists("C:\\MODEM\\SETUP.TXT"));
    EXPECT_TRUE(h.newLogLines().empty());
}
