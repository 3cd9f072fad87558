// ntsim devcon and ntsim snapshot/diff, run as a person runs them, on
// fresh machines.
#include "support/SetupRun.h"
#include "support/TestMachine.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

namespace {

const char modemInf[] = "C:\\MODEM\\MDMQZV.INF";
const char hardwareId[] = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02";

test::RunResult Devcon(const test::TestMachine& m, std::vector<std::string> args)
{
    args.insert(args.begin(), { "devcon", m.dir() });
    return m.tool(args);
}

std::string Export(const test::TestMachine& m, const std::string& key)
{
    return m.tool({ "reg", "export", m.dir(), key }).out;
}

// The lines of a text, without the blank ones.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        if (end > pos)
            out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::string SnapshotPath(const test::TestMachine& m, const char* name)
{
    return m.dir() + "/../" + name;
}

}

TEST(DevconTool, InstallsFindsShowsAndRemovesARootModem)
{
    test::TestMachine m;
    auto find = Devcon(m, { "find", "*" });
    ASSERT_EQ(find.exitCode, 0) << find.out;
    EXPECT_EQ(Lines(find.out), (std::vector<std::string> {
        "ROOT\\LEGACY_BEEP\\0000                                       : Beep",
        "ROOT\\LEGACY_SERIAL\\0000                                     : Serial",
        "2 matching device(s) found.",
    }));

    auto install = Devcon(m, { "install", modemInf, hardwareId });
    ASSERT_EQ(install.exitCode, 0) << install.out;
    EXPECT_EQ(Lines(install.out), (std::vector<std::string> {
        "Device node created: Root\\Modem\\0000. Install is complete when drivers are installed...",
        std::string("Updating drivers for ") + hardwareId + " from " + modemInf + ".",
        "Drivers installed successfully.",
    }));
    std::string device = Export(m, "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem\\0000");
    EXPECT_NE(device.find("\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0000\""), std::string::npos) << device;
    std::string driver = Export(m, "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000");
    EXPECT_NE(driver.find("\"InfSection\"=\"Modem56\""), std::string::npos) << driver;
    EXPECT_NE(driver.find("\"InfPath\"=\"C:\\\\MODEM\\\\MDMQZV.INF\""), std::string::npos) << driver;

    auto status = Devcon(m, { "status", "=Modem" });
    EXPECT_EQ(Lines(status.out), (std::vector<std::string> {
        "ROOT\\MODEM\\0000",
        "    Name: Brimlow 56K PCI Data Fax Modem",
        "    Driver is running.",
        "1 matching device(s) found.",
    }));
    auto legacy = Devcon(m, { "status", "@root\\legacy_beep\\*" });
    EXPECT_NE(legacy.out.find("Device is currently stopped."), std::string::npos) << legacy.out;

    m.write("C:\\WINNT\\INF\\MDMQZV.INF", m.read(modemInf));
    auto nodes = Devcon(m, { "drivernodes", "VEN_1A7E*" });
    EXPECT_EQ(Lines(nodes.out), (std::vector<std::string> {
        "ROOT\\MODEM\\0000",
        "    Name: Brimlow 56K PCI Data Fax Modem",
        "    Driver node #0:",
        "        Inf file is C:\\WINNT\\INF\\MDMQZV.INF",
        "        Inf section is Modem56",
        "        Driver description is Brimlow 56K PCI Data Fax Modem",
        "        Manufacturer name is Brimlow",
        "        Provider name is Brimlow",
        "        Driver node rank is 0",
        "1 matching device(s) found.",
    }));

    // A hardware id the INF has no model for leaves no device behind.
    auto wrong = Devcon(m, { "install", modemInf, "NO&SUCH&MODEM" });
    EXPECT_EQ(wrong.exitCode, 1) << wrong.out;
    EXPECT_NE(wrong.out.find("ERROR_NO_COMPAT_DRIVERS"), std::string::npos) << wrong.out;
    EXPECT_EQ(Devcon(m, { "find", "=Modem" }).out.find("ROOT\\MODEM\\0001"), std::string::npos);

    // A guest may look but not change.
    m.set("user=guest");
    auto denied = Devcon(m, { "remove", "@Root\\Modem\\0000" });
    EXPECT_EQ(denied.exitCode, 1) << denied.out;
    EXPECT_NE(denied.out.find("ROOT\\MODEM\\0000: Remove failed: ERROR_ACCESS_DENIED"), std::string::npos) << denied.out;
    m.set("user=administrator");
    auto remove = Devcon(m, { "remove", "@Root\\Modem\\0000" });
    ASSERT_EQ(remove.exitCode, 0) << remove.out;
    EXPECT_EQ(Lines(remove.out), (std::vector<std::string> { "ROOT\\MODEM\\0000: Removed", "1 device(s) were removed." }));
    EXPECT_EQ(Devcon(m, { "find", "=Modem" }).out, "No matching devices found.\n");
    EXPECT_EQ(m.tool({ "reg", "export", m.dir(), "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000" }).exitCode, 1);
}

TEST(DevconTool, ListsClassesAndExplainsItself)
{
    test::TestMachine m;
    auto classes = Devcon(m, { "classes" });
    ASSERT_EQ(classes.exitCode, 0) << classes.out;
    EXPECT_NE(classes.out.find("\nModem               : Modem\n"), std::string::npos) << classes.out;
    EXPECT_NE(classes.out.find("\nPorts               : Ports (COM & LPT)\n"), std::string::npos) << classes.out;

    auto help = m.tool({ "devcon", "--help" });
    EXPECT_EQ(help.exitCode, 0);
    for (const char* verb : { "find", "status", "classes", "drivernodes", "install", "remove", "hwids", "driverfiles",
             "stack", "enable", "disable", "restart", "rescan" })
        EXPECT_NE(help.out.find(std::string("  ") + verb), std::string::npos) << verb;
    auto verbHelp = Devcon(m, { "install", "--help" });
    EXPECT_EQ(verbHelp.exitCode, 0);
    EXPECT_NE(verbHelp.out.find("installed with the INF's best driver"), std::string::npos) << verbHelp.out;
    EXPECT_NE(verbHelp.out.find("INF"), std::string::npos) << verbHelp.out;
    EXPECT_EQ(Devcon(m, { "frobnicate" }).exitCode, 2);
    EXPECT_EQ(Devcon(m, { "install", modemInf }).exitCode, 2);
    EXPECT_EQ(Devcon(m, { "remove" }).exitCode, 2);
}

TEST(DevconTool, ShowsIdsFilesAndStacksAndEnablesDisablesAndRestartsAsDevconDoes)
{
    test::TestMachine m;
    ASSERT_EQ(m.run({ "rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV", "128",
                  "C:\\MODEM\\DRV_MEQ.INF" }).exitCode, 0);
    ASSERT_EQ(Devcon(m, { "install", modemInf, hardwareId }).exitCode, 0);

    EXPECT_EQ(Lines(Devcon(m, { "hwids", "=Modem" }).out), (std::vector<std::string> {
        "ROOT\\MODEM\\0000",
        "    Name: Brimlow 56K PCI Data Fax Modem",
        "    Hardware ID's:",
        std::string("        ") + hardwareId,
        "1 matching device(s) found.",
    }));
    // The modem's section copies nothing; a legacy driver has no INF at all.
    EXPECT_EQ(Lines(Devcon(m, { "driverfiles", "@root\\*" }).out), (std::vector<std::string> {
        "ROOT\\LEGACY_BEEP\\0000", "    Name: Beep", "    No driver information available for the device.",
        "ROOT\\LEGACY_SERIAL\\0000", "    Name: Serial", "    No driver information available for the device.",
        "ROOT\\MODEM\\0000", "    Name: Brimlow 56K PCI Data Fax Modem",
        "    Driver installed from C:\\MODEM\\MDMQZV.INF [Modem56]. The driver is not using any files.",
        "3 matching device(s) found.",
    }));
    // A section that copies files lists where they went.
    importRegistry(m, "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000]\n"
                      "\"InfPath\"=\"C:\\\\MODEM\\\\DRV_MEQ.INF\"\n\"InfSection\"=\"TAVRELIN_DATAFAX_QZV\"\n");
    auto files = Lines(Devcon(m, { "driverfiles", "=Modem" }).out);
    ASSERT_GE(files.size(), 5u);
    EXPECT_EQ(files[2], "    Driver installed from C:\\MODEM\\DRV_MEQ.INF [TAVRELIN_DATAFAX_QZV]. 6 file(s) used by driver:");
    EXPECT_EQ(files[3], "        C:\\WINNT\\system32\\drivers\\QZVMDM.SYS");

    EXPECT_EQ(Lines(Devcon(m, { "stack", "=Modem" }).out), (std::vector<std::string> {
        "ROOT\\MODEM\\0000",
        "    Name: Brimlow 56K PCI Data Fax Modem",
        "    Setup Class: {4D36E96D-E325-11CE-BFC1-08002BE10318} Modem",
        "    Controlling service:",
        "        (none)",
        "1 matching device(s) found.",
    }));
    EXPECT_NE(Devcon(m, { "stack", "@ROOT\\LEGACY_SERIAL\\0000" }).out.find("    Controlling service:\n        Serial\n"),
        std::string::npos);

    // Disabling sets the device's ConfigFlags; status says so until it is enabled.
    auto disable = Devcon(m, { "disable", "=Modem" });
    EXPECT_EQ(disable.exitCode, 0) << disable.out;
    EXPECT_EQ(Lines(disable.out), (std::vector<std::string> { "ROOT\\MODEM\\0000: Disabled", "1 device(s) disabled." }));
    EXPECT_EQ(test::registryValue(m, "SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem\\0000", "ConfigFlags"),
        std::string("\x01\0\0\0", 4));
    EXPECT_NE(Devcon(m, { "status", "=Modem" }).out.find("    Device is disabled.\n"), std::string::npos);
    auto restartDisabled = Devcon(m, { "restart", "=Modem" });
    EXPECT_EQ(restartDisabled.exitCode, 1);
    EXPECT_NE(restartDisabled.out.find("ROOT\\MODEM\\0000: Restart failed: ERROR_NOT_READY"), std::string::npos)
        << restartDisabled.out;
    m.set("user=guest");
    auto denied = Devcon(m, { "enable", "=Modem" });
    EXPECT_EQ(denied.exitCode, 1);
    EXPECT_NE(denied.out.find("ROOT\\MODEM\\0000: Enable failed: ERROR_ACCESS_DENIED"), std::string::npos) << denied.out;
    EXPECT_NE(denied.out.find("0 device(s) are enabled."), std::string::npos) << denied.out;
    m.set("user=administrator");
    EXPECT_EQ(Lines(Devcon(m, { "enable", "=Modem" }).out),
        (std::vector<std::string> { "ROOT\\MODEM\\0000: Enabled", "1 device(s) are enabled." }));
    EXPECT_EQ(test::registryValue(m, "SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem\\0000", "ConfigFlags"),
        std::string("\0\0\0\0", 4));
    EXPECT_NE(Devcon(m, { "status", "=Modem" }).out.find("    Driver is running.\n"), std::string::npos);

    // A device with a service: its driver is stopped and started.
    ASSERT_EQ(m.tool({ "sc", m.dir(), "start", "Qzvmdm" }).exitCode, 0);
    test::importRegistry(m, "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem\\0000]\n\"Service\"=\"Qzvmdm\"\n");
    auto restart = Devcon(m, { "restart", "=Modem" });
    EXPECT_EQ(Lines(restart.out), (std::vector<std::string> { "ROOT\\MODEM\\0000: Restarted", "1 device(s) restarted." }))
        << restart.out;
    EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "RUNNING");
    ASSERT_EQ(Devcon(m, { "disable", "=Modem" }).exitCode, 0);
    EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "STOPPED");
    ASSERT_EQ(Devcon(m, { "enable", "=Modem" }).exitCode, 0);
    EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "RUNNING");

    EXPECT_EQ(Lines(Devcon(m, { "rescan" }).out), (std::vector<std::string> { "Scanning for new hardware.", "Scanning completed." }));
    for (const char* verb : { "find", "hwids", "driverfiles", "stack", "status", "enable", "disable", "restart", "remove" }) {
        auto refused = Devcon(m, { verb });
        EXPECT_EQ(refused.exitCode, 2) << verb;
        EXPECT_EQ(refused.out.rfind(std::string("ntsim: devcon ") + verb + ": no device given", 0), 0u) << refused.out;
    }
}

TEST(DevconTool, ItsCallsDoNotSpendAProgramsInjectedFaults)
{
    test::TestMachine m;
    ASSERT_EQ(m.tool({ "fault", m.dir(), "SetupDiGetClassDevsW", "5" }).exitCode, 0);
    ASSERT_EQ(m.tool({ "fault", m.dir(), "SetupDiCallClassInstaller", "5" }).exitCode, 0);
    ASSERT_EQ(Devcon(m, { "install", modemInf, hardwareId }).exitCode, 0);
    ASSERT_EQ(Devcon(m, { "find", "*" }).exitCode, 0);
    // The program's first calls still fail.
    m.attach();
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);
}

TEST(SnapshotDiff, ShowsWhatARunChangedAsPeopleReadIt)
{
    test::TestMachine m;
    std::string before = SnapshotPath(m, "before.snapshot");
    auto snap = m.tool({ "snapshot", m.dir(), before });
    ASSERT_EQ(snap.exitCode, 0) << snap.out;
    auto none = m.tool({ "diff", m.dir(), "--since", before });
    EXPECT_EQ(none.out, "No changes since " + before + ".\n");

    ASSERT_EQ(m.run({ "rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV", "128",
                  "C:\\MODEM\\DRV_MEQ.INF" }).exitCode, 0);
    ASSERT_EQ(m.tool({ "sc", m.dir(), "start", "Qzvmdm" }).exitCode, 0);
    ASSERT_EQ(Devcon(m, { "install", modemInf, hardwareId }).exitCode, 0);
    m.remove("C:\\MODEM\\QZVFAX.SYS");
    std::string inf = m.read("C:\\MODEM\\DRV_MEQ.INF");
    m.write("C:\\MODEM\\DRV_MEQ.INF", inf + "; changed\r\n");
    auto diff = m.tool({ "diff", m.dir(), "--since", before, "--reg" });
    ASSERT_EQ(diff.exitCode, 0) << diff.out;
    auto lines = Lines(diff.out);
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_EQ(lines.at(0), "Registry:");
    EXPECT_EQ(lines.at(1), "REGEDIT4");
    EXPECT_TRUE(has("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm]")) << diff.out;
    EXPECT_TRUE(has("\"DisplayName\"=\"Brimlow Soft-Modem Controller\"")) << diff.out;
    EXPECT_TRUE(has("\"\\\\Device\\\\Qzvmdm0\"=\"COM3\"")) << diff.out;
    EXPECT_TRUE(has("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Country]"));
    EXPECT_TRUE(has("\"Current\"=hex:00,01")) << diff.out;
    EXPECT_TRUE(has("Files:"));
    EXPECT_TRUE(has("  + C:\\WINNT\\INF\\MDMQZV.INF (" + std::to_string(m.read(modemInf).size()) + " bytes)")) << diff.out;
    EXPECT_TRUE(has("  ~ C:\\MODEM\\DRV_MEQ.INF (" + std::to_string(inf.size()) + " -> " + std::to_string(inf.size() + 11)
        + " bytes)")) << diff.out;
    EXPECT_TRUE(has("  - C:\\MODEM\\QZVFAX.SYS (" + std::to_string(m.read("C:\\WINNT\\system32\\drivers\\QZVFAX.SYS").size())
        + " bytes)")) << diff.out;
    EXPECT_TRUE(has("Services:"));
    EXPECT_TRUE(has("  + Qzvmdm (kernel driver, demand start): RUNNING")) << diff.out;
    EXPECT_TRUE(has("  + Qzvfax (kernel driver, demand start): STOPPED")) << diff.out;
    EXPECT_TRUE(has("Devices:"));
    EXPECT_TRUE(has("  + ROOT\\MODEM\\0000 (Modem: Brimlow 56K PCI Data Fax Modem): Driver is running.")) << diff.out;

    // Changes and removals against a later snapshot.
    std::string middle = SnapshotPath(m, "middle.snapshot");
    ASSERT_EQ(m.tool({ "snapshot", m.dir(), middle }).exitCode, 0);
    ASSERT_EQ(m.tool({ "sc", m.dir(), "stop", "Qzvmdm" }).exitCode, 0);
    ASSERT_EQ(Devcon(m, { "remove", "=Modem" }).exitCode, 0);
    m.attach();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Qzvmdm\\Parameters", 0,
                  KEY_SET_VALUE, &key), ERROR_SUCCESS);
    DWORD size = 8192;
    RegSetValueExA(key, "BufferSize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&size), sizeof size);
    RegDeleteValueA(key, "Version");
    RegCloseKey(key);
    diff = m.tool({ "diff", m.dir(), "--since", middle, "--reg" });
    lines = Lines(diff.out);
    EXPECT_TRUE(has("[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem]")) << diff.out;
    // A removed subtree is named once, at its top.
    EXPECT_FALSE(has("[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem\\0000]")) << diff.out;
    EXPECT_TRUE(has("; was \"BufferSize\"=dword:00001000")) << diff.out;
    EXPECT_TRUE(has("\"BufferSize\"=dword:00002000")) << diff.out;
    EXPECT_TRUE(has("\"Version\"=-")) << diff.out;
    EXPECT_TRUE(has("  ~ Qzvmdm: RUNNING -> STOPPED")) << diff.out;
    EXPECT_TRUE(has("  - ROOT\\MODEM\\0000 (Modem: Brimlow 56K PCI Data Fax Modem): Driver is running.")) << diff.out;

    // For a person: a summary per area, then the values as text, the old ones after "was".
    auto summary = m.tool({ "diff", m.dir(), "--since", middle, "--summary" });
    EXPECT_EQ(Lines(summary.out), (std::vector<std::string> {
        "Summary of the changes since " + middle + ":",
        // The stopped driver gave its port back; the modem's class key had six subkeys.
        "  Registry: 2 keys changed, 9 removed",
        "    HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM: 1 changed",
        "    HKLM\\SYSTEM\\CurrentControlSet\\Control: 7 removed",
        "    HKLM\\SYSTEM\\CurrentControlSet\\Enum: 2 removed",
        "    HKLM\\SYSTEM\\CurrentControlSet\\Services: 1 changed",
        "  Services: 1 changed (~Qzvmdm)",
        "  Devices: 1 changed, 1 removed (~ROOT\\LEGACY_QZVMDM\\0000 -ROOT\\MODEM\\0000)",
    })) << summary.out;
    auto details = m.tool({ "diff", m.dir(), "--since", before, "--details" });
    lines = Lines(details.out);
    EXPECT_EQ(lines.at(0), "Registry:");
    EXPECT_TRUE(has("  + HKLM\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm")) << details.out;
    EXPECT_TRUE(has("      ImagePath = \"C:\\WINNT\\system32\\drivers\\QZVMDM.SYS\"  [REG_EXPAND_SZ]")) << details.out;
    EXPECT_TRUE(has("    ~ AttachedComponents = \"Root\\LEGACY_SERIAL\\0000\", \"Root\\LEGACY_BEEP\\0000\", "
                    "\"Root\\LEGACY_QZVMDM\\0000\"  [REG_MULTI_SZ]")) << details.out;
    EXPECT_TRUE(has("        was \"Root\\LEGACY_SERIAL\\0000\", \"Root\\LEGACY_BEEP\\0000\"")) << details.out;
    EXPECT_TRUE(has("      NextInstance = 0x00000001 (1)  [REG_DWORD]")) << details.out;
    EXPECT_TRUE(has("  + Qzvmdm (kernel driver, demand start): STOPPED")) << details.out;
    EXPECT_EQ(details.out.find("hex("), std::string::npos) << details.out;
    auto both = m.tool({ "diff", m.dir(), "--since", middle });
    EXPECT_EQ(both.out.rfind(summary.out + "\nRegistry:\n", 0), 0u) << both.out;
    EXPECT_NE(both.out.find("  - HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\Modem (with all below it)\n"), std::string::npos)
        << both.out;
    EXPECT_NE(both.out.find("    - Version = \"1.0.0.1\"  [REG_SZ]\n"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("    - \\Device\\Qzvmdm0 = \"COM3\"  [REG_SZ]\n"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("    ~ BufferSize = 0x00002000 (8192)  [REG_DWORD]\n        was 0x00001000 (4096)\n"),
        std::string::npos) << both.out;

    m.write("C:\\TEMP\\bogus.snapshot", "NOT A SNAPSHOT\n");
    auto bogus = m.tool({ "diff", m.dir(), "--since", m.host("C:\\TEMP\\bogus.snapshot") });
    EXPECT_EQ(bogus.exitCode, 1);
    EXPECT_NE(bogus.out.find("is not a snapshot of this ntsim"), std::string::npos) << bogus.out;
    EXPECT_EQ(m.tool({ "diff", m.dir(), before }).exitCode, 2);
    unlink(before.c_str());
    unlink(middle.c_str());
}
