// The modem's control-panel applet, run as the install sequence starts it:
// rundll32 shell32.dll,Control_RunDLL nyvcpl.cpl on a machine whose modem
// the package installed.
#include "support/Reaper.h"
#include "support/SetupRun.h"
#include "support/TestMachine.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

const char countryKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Country";

const std::vector<std::string> appletCommand = { "rundll32.exe", "shell32.dll,Control_RunDLL", "nyvcpl.cpl" };

// What the package's install leaves: the applet in the system directory,
// the setup INF's copy, the driver's PCI values, the modem device and its
// driver key with no country yet.
void installModem(const test::TestMachine& m, bool withDevice = true)
{
    m.write("C:\\WINNT\\system32\\nyvcpl.cpl", m.read("C:\\MODEM\\nyvcpl.cpl"));
    m.write("C:\\WINNT\\INF\\drv_meq.inf", m.read("C:\\MODEM\\DRV_MEQ.INF"));
    std::string reg = "REGEDIT4\n\n"
                      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm\\Parameters\\Qzvmdm0]\n"
                      "\"PciVendorID\"=dword:00001a7e\n\"PciDeviceID\"=dword:00005c21\n"
                      "\"PciSubsystemID\"=dword:00000410\n\"PciSubsystemVendorID\"=dword:00001a7e\n"
                      "\"PciRevision\"=dword:00000002\n\n"
                      "[HKEY_LOCAL_MACHINE\\"
        + std::string(countryKey) + "]\n\"Current\"=hex:00,01\n\n";
    if (withDevice) {
        reg += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02\\0000]\n"
               "\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0000\"\n";
    }
    std::string file = m.dir() + "/../modem.reg";
    std::ofstream(file) << reg;
    auto result = m.tool({ "reg", "import", m.dir(), file });
    ASSERT_EQ(result.exitCode, 0) << result.out;
}

// The bytes of the driver key's Country\Current, read in this process.
std::string currentCountry(const test::TestMachine& m)
{
    m.attach();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, countryKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE data[8] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Current", nullptr, &type, data, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    return std::string(reinterpret_cast<char*>(data), size);
}

}

TEST(Applet, ChosenCountryIsWrittenByteForByte)
{
    test::TestMachine m;
    installModem(m);
    auto run = m.run(appletCommand, { "select united states", "finish" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(currentCountry(m), std::string("\xB5\x00", 2));
    test::expectHandlesAtExit(run);
    ASSERT_EQ(run.transcript.size(), 2u);
    const ntsim::Json& page = run.transcript[0];
    EXPECT_EQ(ntsim::stringMember(page, "event"), "page");
    EXPECT_EQ(ntsim::stringMember(page, "title"), "Country Settings");
    const ntsim::Json& list = ntsim::member(page, "controls").at(1);
    EXPECT_EQ(ntsim::stringMember(list, "class"), "ListBox");
    std::vector<std::string> items;
    for (auto& item : ntsim::member(list, "items"))
        items.push_back(item.get<std::string>());
    EXPECT_EQ(items, (std::vector<std::string> { "Canada", "Japan", "Mexico", "Taiwan", "United States" }));
    // No country known: nothing chosen and Finish shown but disabled.
    EXPECT_EQ(ntsim::intMember(list, "selected"), -1);
    EXPECT_FALSE(ntsim::boolMember(ntsim::member(ntsim::member(page, "buttons"), "finish"), "enabled"));
    EXPECT_TRUE(ntsim::boolMember(ntsim::member(ntsim::member(run.transcript[1], "buttons"), "finish"), "enabled"));

    // Japan's code is 0: written as such, not taken for "no country".
    run = m.run(appletCommand, { "select japan", "finish" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(currentCountry(m), std::string("\x00\x00", 2));
    // A known country is chosen already when the page opens.
    run = m.run(appletCommand, { "finish" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ASSERT_EQ(run.transcript.size(), 1u);
    EXPECT_EQ(ntsim::intMember(ntsim::member(run.transcript[0], "controls")[1], "selected"), 1);
    EXPECT_EQ(currentCountry(m), std::string("\x00\x00", 2));
    run = m.run(appletCommand, { "select canada", "finish" });
    EXPECT_EQ(currentCountry(m), std::string("\x20\x00", 2));
    run = m.run(appletCommand, { "select mexico", "finish" });
    EXPECT_EQ(currentCountry(m), std::string("\x73\x00", 2));
    run = m.run(appletCommand, { "select taiwan", "finish" });
    EXPECT_EQ(currentCountry(m), std::string("\xFE\x00", 2));
}

TEST(Applet, CancelWritesNothing)
{
    test::TestMachine m;
    installModem(m);
    auto run = m.run(appletCommand, { "select canada", "cancel" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(currentCountry(m), std::string("\x00\x01", 2));
    ASSERT_EQ(run.transcript.size(), 2u);
    EXPECT_EQ(ntsim::stringMember(run.transcript[1], "answer"), "cancel");
    test::expectHandlesAtExit(run);
}

TEST(Applet, MissingModemOrAppletIsSaid)
{
    test::TestMachine m;
    installModem(m, false);
    auto run = m.run(appletCommand, { "ok" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ASSERT_EQ(run.transcript.size(), 1u);
    EXPECT_EQ(ntsim::stringMember(run.transcript[0], "event"), "messagebox");
    EXPECT_EQ(ntsim::stringMember(run.transcript[0], "caption"), "Country Settings");
    EXPECT_EQ(ntsim::stringMember(run.transcript[0], "text"),
        "The modem of this driver package is not installed, so there is no country to set.");
    EXPECT_EQ(currentCountry(m), std::string("\x00\x01", 2));

    run = m.run({ "rundll32.exe", "shell32.dll,Control_RunDLL", "nothere.cpl" });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Control Panel: cannot load nothere.cpl (error 126)"), std::string::npos) << run.out;
    EXPECT_TRUE(run.transcript.empty());
}

TEST(Applet, ControlPanelWindowEndsTheAppletWhenClosed)
{
    test::TestMachine m;
    installModem(m);
    // No script: the applet's page waits at a terminal where nobody types.
    test::Reaper reaper;
    pid_t child = forkpty(&reaper.master, nullptr, nullptr, nullptr);
    if (child == 0) {
        int nul = ::open("/dev/null", O_RDWR);
        dup2(nul, 1);
        dup2(nul, 2);
        setenv("TERM", "dumb", 1);
        execl(test::ntsimTool().c_str(), "ntsim", "run", m.dir().c_str(), "--", "rundll32.exe",
            "shell32.dll,Control_RunDLL", "nyvcpl.cpl", nullptr);
        _exit(127);
    }
    ASSERT_GT(child, 0) << "forkpty failed";
    // What the desk draws is read away, so that it never blocks on a full terminal.
    fcntl(reaper.master, F_SETFL, O_NONBLOCK);
    auto drain = [&] {
        char buffer[4096];
        while (::read(reaper.master, buffer, sizeof buffer) > 0) {
        }
    };
    reaper.pid = child;
    m.attach();
    HWND panel = nullptr;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!panel && std::chrono::steady_clock::now() < deadline) {
        panel = FindWindowA(nullptr, "Control Panel");
        if (!panel) {
            drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ASSERT_NE(panel, nullptr) << "the applet shows no Control Panel window";
    // The sheet is up, owned by the Control Panel window, waiting.
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FindWindowA("#32770", "Country Settings") && std::chrono::steady_clock::now() < deadline) {
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(FindWindowA("#32770", "Country Settings"), nullptr);

    // As the uninstall closes it: a synchronous WM_CLOSE from elsewhere.
    SetLastError(0);
    EXPECT_EQ(SendMessageA(panel, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(GetLastError(), 0u);
    int status = -1;
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the applet did not end when its window was closed";
    reaper.pid = -1;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(FindWindowA(nullptr, "Control Panel"), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "Country Settings"), nullptr);
    EXPECT_EQ(currentCountry(m), std::string("\x00\x01", 2));
}
