// The uninstall as a person meets it: the setup program run with -u on a
// machine where it installed the modem, and what is left afterwards.
#include "support/SetupRun.h"

#include "machine/FileLock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <regex>

using test::Lines;

namespace {

const std::string enumDevice = std::string("SYSTEM\\CurrentControlSet\\Enum\\Root\\") + test::modemHardwareId;
const std::string driverKey = std::string(test::modemClassKey) + "\\0000";
const std::string responsesKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific\\"
                                 "Brimlow 56K PCI Data Fax Modem::Brimlow::Brimlow";
const char enumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";
const char htreeRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";
const char eventLog[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System";
const std::string restartPrompt = "prompt reboot page 106 System Settings Change: You must restart your computer "
                                  "before the new settings will take effect.\\n\\nDo you want to restart your "
                                  "computer now?";
const char noAccess[] = "The wizard cannot proceed because it does not have access to the system data files. You "
                        "must be logged in as a system administrator to run this program.";

void installSilently(const test::TestMachine& m)
{
    auto run = m.run({ test::setupProgram, "-s", "-h=us" });
    ASSERT_EQ(run.exitCode, 0) << run.out;
    ASSERT_EQ(test::serviceState(m, "Qzvmdm"), "RUNNING");
}

std::string sddl(const test::TestMachine& m, const std::string& key)
{
    auto result = m.tool({ "reg", "sddl", m.dir(), "HKLM\\" + key });
    EXPECT_EQ(result.exitCode, 0) << result.out;
    std::string text = result.out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string ownerOf(const std::string& sddlText)
{
    return sddlText.substr(0, sddlText.find("G:"));
}

// The lines of one operation's result, in the order they were written.
Lines resultLines(const Lines& log)
{
    static const std::regex result("(Stop|Uninstall) exit with uRet [0-9]+|RemoveEnumRootDriverKey bRet [0-9]+|"
                                   "RemoveEnumHtreeDriverString returning BOOLEAN [0-9]+|"
                                   "RemoveEventLogDriverKey bRet [0-9]+|CUninstIntroPage::UninstallDrivers returning UINT [0-9]+|"
                                   "RemoveUnimodemResponses bRet [0-9]+|UnInstallClassDevice exit with [0-9]+");
    Lines picked;
    std::copy_if(log.begin(), log.end(), std::back_inserter(picked),
        [](const std::string& line) { return std::regex_match(line, result); });
    return picked;
}

}

TEST(UninstallWizard, NextFinishYesRemovesTheModemTheDriverAndTheProgram)
{
    test::TestMachine m;
    installSilently(m);
    std::string attachedBefore = test::registryValue(m, htreeRoot, "AttachedComponents");
    // The install's driver start left its traces for the uninstall to take.
    ASSERT_NE(attachedBefore.find(std::string("Root\\LEGACY_QZVMDM\\0000") + '\0'), std::string::npos);
    ASSERT_TRUE(test::registryKeyExists(m, std::string(enumRoot) + "\\LEGACY_QZVMDM\\0000"));
    std::string ownersBefore = ownerOf(sddl(m, enumRoot)) + ownerOf(sddl(m, htreeRoot)) + ownerOf(sddl(m, eventLog));

    auto run = m.run({ test::setupProgram, "-u", "-l" }, { "next", "finish", "yes" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    Lines path = test::shownPath(run.transcript);
    ASSERT_EQ(path.size(), 4u) << ::testing::PrintToString(path);
    EXPECT_EQ(path[0], "page 105 next");
    EXPECT_EQ(path[1], "page 106 finish");
    EXPECT_EQ(path[3], "reboot");
    // The restart prompt belongs to the report page.
    EXPECT_EQ(test::boxLines(run.transcript), Lines { restartPrompt + " -> yes" });
    const ntsim::Json* first = test::pageOf(run.transcript, 105);
    const ntsim::Json* report = test::pageOf(run.transcript, 106);
    ASSERT_TRUE(first && report);
    EXPECT_EQ(ntsim::stringMember(*first, "title"), "Modem Board Uninstallation Wizard");
    EXPECT_EQ(test::buttonStates(*first), "back:off next:on finish:hidden cancel:on");
    EXPECT_EQ(test::listItems(*first), Lines { "Brimlow PCI Data/Fax Modem" });
    EXPECT_EQ(test::buttonStates(*report), "back:off next:hidden finish:on cancel:off");
    EXPECT_EQ(test::controlText(*report, 1006), "Brimlow PCI Data/Fax Modem\r\n");
    test::expectHandlesAtExit(run);

    EXPECT_EQ(resultLines(test::logLines(m)),
        (Lines { "Stop exit with uRet 0", "Uninstall exit with uRet 0", "RemoveEnumRootDriverKey bRet 1",
            "RemoveEnumHtreeDriverString returning BOOLEAN 1", "RemoveEventLogDriverKey bRet 1",
            "CUninstIntroPage::UninstallDrivers returning UINT 0", "RemoveUnimodemResponses bRet 1",
            "UnInstallClassDevice exit with 1" }));

    // The legacy clean-up of the driver stage, line by line.
    Lines log = test::logLines(m);
    auto from = std::find(log.begin(), log.end(), "Uninstall exit with uRet 0");
    auto to = std::find(log.begin(), log.end(), "CUninstIntroPage::UninstallDrivers returning UINT 0");
    ASSERT_TRUE(from != log.end() && to != log.end() && from < to);
    auto access = [](const std::string& key) {
        return Lines { "KillThisKeyAndAllItsSubkeys requesting access to " + key,
            "AllowAccessToKey opening " + key + " for WRITE_DAC access", "KillThisKeyAndAllItsSubkeys opening " + key };
    };
    EXPECT_EQ(Lines(from + 1, to + 1),
        test::join({
            { "GetDriverServiceName Qzvmdm", "GetDriverServiceName got Qzvmdm", "GetDriverServiceName exit with uRet 0",
                "RemoveEnumRootDriverKey Asking Permission to open SYSTEM\\CurrentControlSet\\Enum\\Root\\",
                "AllowAccessToKey opening SYSTEM\\CurrentControlSet\\Enum\\Root\\ for WRITE_DAC access",
                "RemoveEnumRootDriverKey Opening SYSTEM\\CurrentControlSet\\Enum\\Root\\",
                "RemoveEnumRootDriverKey removing LEGACY_QZVMDM and all subkeys" },
            access("LEGACY_QZVMDM"),
            { "KillThisKeyAndAllItsSubkeys RegEnumKeyEx found 0000" },
            access("0000"),
            { "KillThisKeyAndAllItsSubkeys deleting 0000", "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                "KillThisKeyAndAllItsSubkeys deleting LEGACY_QZVMDM", "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                "RemoveEnumRootDriverKey bRet 1",
                "RemoveEnumHtreeDriverString Asking Permission to open SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0",
                "AllowAccessToKey opening SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0 for WRITE_DAC access",
                "RemoveEnumHtreeDriverString Opening SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0",
                "RemoveEnumHtreeDriverString Sizing AttachedComponents",
                "RemoveEnumHtreeDriverString Size is " + std::to_string(attachedBefore.size()) + " bytes",
                "RemoveEnumHtreeDriverString Reading AttachedComponents",
                "RemoveEnumHtreeDriverString Writing AttachedComponents",
                "RemoveEnumHtreeDriverString returning BOOLEAN 1",
                "RemoveEventLogDriverKey Asking Permission to open SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\",
                "AllowAccessToKey opening SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ for WRITE_DAC access",
                "RemoveEventLogDriverKey Opening SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\",
                "RemoveEventLogDriverKey removing Qzvmdm and all subkeys" },
            access("Qzvmdm"),
            { "KillThisKeyAndAllItsSubkeys deleting Qzvmdm", "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                "RemoveEventLogDriverKey bRet 1", "CUninstIntroPage::UninstallDrivers returning UINT 0" },
        }));

    for (const char* service : { "Qzvmdm", "Qzvtapi", "Qzvfax" })
        EXPECT_EQ(test::serviceState(m, service), "") << service << " is still installed";
    for (const char* file : { "C:\\WINNT\\system32\\drivers\\QZVMDM.SYS", "C:\\WINNT\\system32\\drivers\\QZVTAPI.SYS",
             "C:\\WINNT\\system32\\drivers\\QZVFAX.SYS", "C:\\WINNT\\INF\\drv_meq.inf", "C:\\WINNT\\INF\\MDMQZV.INF",
             "C:\\WINNT\\system32\\nyvcpl.cpl", "C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\setupres.dll",
             "C:\\WINNT\\ISDEL.EXE" })
        EXPECT_FALSE(m.exists(file)) << file;
    EXPECT_TRUE(m.exists("C:\\MODEM\\SETUP.TXT")) << "the log stays with -l";
    EXPECT_TRUE(m.exists("C:\\MODEM\\DRV_MEQ.INF")) << "only the program's own files go";

    for (const std::string& key : { enumDevice, driverKey, responsesKey, std::string(enumRoot) + "\\LEGACY_QZVMDM",
             std::string(eventLog) + "\\Qzvmdm", std::string("SYSTEM\\CurrentControlSet\\Services\\Qzvmdm") })
        EXPECT_FALSE(test::registryKeyExists(m, key)) << key;
    EXPECT_TRUE(test::registryKeyExists(m, std::string(enumRoot) + "\\LEGACY_SERIAL\\0000")) << "others' traces stay";
    std::string attachedAfter = test::registryValue(m, htreeRoot, "AttachedComponents");
    EXPECT_EQ(attachedAfter.find("QZVMDM"), std::string::npos);
    EXPECT_NE(attachedAfter.find(std::string("Root\\LEGACY_SERIAL\\0000") + '\0'), std::string::npos);
    EXPECT_LE(attachedAfter.size(), attachedBefore.size());

    // Each parent key: the two entries alone, in order, its owner kept.
    for (const char* key : { enumRoot, htreeRoot, eventLog }) {
        std::string text = sddl(m, key);
        EXPECT_EQ(text.substr(text.find("D:")), "D:(A;;KR;;;IU)(A;;KA;;;BA)") << key;
    }
    EXPECT_EQ(ownerOf(sddl(m, enumRoot)) + ownerOf(sddl(m, htreeRoot)) + ownerOf(sddl(m, eventLog)), ownersBefore);
}

TEST(UninstallWizard, SilentRemovesTheDriverAloneAndOffersNoRestart)
{
    test::TestMachine m;
    installSilently(m);
    auto run = m.run({ test::setupProgram, "-u", "-s", "-l" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.transcript.empty()) << "no page, no box, no restart prompt";
    EXPECT_TRUE(test::recordsOf(run, "process").empty()) << "no ISDEL.EXE";
    test::expectHandlesAtExit(run);
    EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "");
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\drivers\\QZVMDM.SYS"));
    EXPECT_TRUE(test::registryKeyExists(m, enumDevice + "\\0000"));
    EXPECT_TRUE(test::registryKeyExists(m, responsesKey));
    for (const char* file : { "C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\setupres.dll", "C:\\WINNT\\ISDEL.EXE" })
        EXPECT_TRUE(m.exists(file)) << file;
    Lines results = resultLines(test::logLines(m));
    EXPECT_EQ(results.back(), "CUninstIntroPage::UninstallDrivers returning UINT 0");
}

TEST(UninstallWizard, AStopRefusedForRightsIsSaidTwiceOtherStopFailuresNotAtAll)
{
    struct Case {
        const char* error;
        unsigned status;
        bool boxes;
    };
    for (const Case& c : { Case { "ERROR_ACCESS_DENIED", 28, true }, Case { "ERROR_DEPENDENT_SERVICES_RUNNING", 30, false },
             Case { "ERROR_SERVICE_REQUEST_TIMEOUT", 34, false } }) {
        SCOPED_TRACE(c.error);
        test::TestMachine m;
        installSilently(m);
        ASSERT_EQ(m.tool({ "fault", m.dir(), "ControlService", c.error, "--nth", "1" }).exitCode, 0);
        Lines script = c.boxes ? Lines { "next", "ok", "ok", "finish", "no" } : Lines { "next", "finish", "no" };
        auto run = m.run({ test::setupProgram, "-u", "-l" }, script);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        Lines expected { "page 105 next" };
        if (c.boxes) {
            expected.push_back(std::string("messagebox ") + noAccess + " ok");
            expected.push_back(std::string("messagebox ") + noAccess + " ok");
        }
        expected.push_back("page 106 finish");
        Lines path = test::shownPath(run.transcript);
        ASSERT_GE(path.size(), expected.size());
        EXPECT_EQ(Lines(path.begin(), path.begin() + static_cast<long>(expected.size())), expected);
        // The driver stage's box and the page's, both the sheet's; the
        // device goes at Finish and the restart is offered, but the
        // program's files stay while the driver's service is there.
        Lines boxes;
        if (c.boxes)
            boxes = Lines(2, std::string("box sheet MB_OK Installation Error: ") + noAccess + " -> ok");
        boxes.push_back(restartPrompt + " -> no");
        EXPECT_EQ(test::boxLines(run.transcript), boxes);
        const ntsim::Json* report = test::pageOf(run.transcript, 106);
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(test::controlText(*report, 1006), "Brimlow PCI Data/Fax Modem\r\n");
        EXPECT_TRUE(test::recordsOf(run, "process").empty()) << "ISDEL.EXE is not started";
        for (const char* file : { "C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\setupres.dll", "C:\\WINNT\\ISDEL.EXE" })
            EXPECT_TRUE(m.exists(file)) << file;
        test::expectHandlesAtExit(run);
        Lines log = test::logLines(m);
        std::string stage = "CUninstIntroPage::UninstallDrivers returning UINT " + std::to_string(c.status);
        std::string next = "CUninstIntroPage::OnWizardNext UninstallDrivers returned UINT " + std::to_string(c.status);
        EXPECT_NE(std::find(log.begin(), log.end(), stage), log.end()) << stage;
        EXPECT_NE(std::find(log.begin(), log.end(), next), log.end()) << next;
        EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "RUNNING") << "a driver that would not stop stays";
        EXPECT_TRUE(test::registryKeyExists(m, std::string(eventLog) + "\\Qzvmdm"));
    }
}

TEST(UninstallWizard, InstallUninstallInstallAgainLogsTheSameInstall)
{
    test::TestMachine m;
    auto first = m.run({ test::setupProgram, "-s", "-l", "-h=us" });
    ASSERT_EQ(first.exitCode, 0) << first.out;
    Lines firstLog = test::logLines(m);
    auto uninstall = m.run({ test::setupProgram, "-u" }, { "next", "finish", "no" });
    ASSERT_EQ(uninstall.exitCode, 0) << uninstall.out;
    test::expectHandlesAtExit(uninstall);
    ASSERT_FALSE(m.exists(test::setupProgram));
    // The package again, as from its disk.
    for (const char* file : { "SETUP.EXE", "setupres.dll" }) {
        std::string contents;
        ASSERT_TRUE(ntsim::readWholeFile(test::buildDir() + "/package/" + file, contents)) << file;
        m.write(std::string("C:\\MODEM\\") + file, contents);
    }
    ASSERT_EQ(chmod(m.host(test::setupProgram).c_str(), 0755), 0);
    m.remove("C:\\MODEM\\SETUP.TXT");
    auto second = m.run({ test::setupProgram, "-s", "-l", "-h=us" });
    EXPECT_EQ(second.exitCode, 0) << second.out;
    EXPECT_EQ(test::logLines(m), firstLog);
    test::expectHandlesAtExit(second);
    EXPECT_EQ(test::serviceState(m, "Qzvfax"), "RUNNING");
    EXPECT_EQ(test::registryValue(m, driverKey, "AttachedTo"), std::string("COM3") + '\0');
}

TEST(UninstallWizard, TheProgramAndItsLibraryGoToIsdelOrStayWithoutIt)
{
    test::TestMachine m;
    installSilently(m);
    auto run = m.run({ test::setupProgram, "-u", "-l" }, { "next", "finish", "no" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    Lines log = test::logLines(m);
    auto at = std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("CreateEvent ok for push-me", 0) == 0; });
    ASSERT_NE(at, log.end());
    std::string pid = at->substr(std::string("CreateEvent ok for push-me").size());
    std::string commandLine = "C:\\WINNT\\ISDEL.EXE " + pid + " C:\\MODEM\\SETUP.EXE C:\\MODEM\\setupres.dll";
    ASSERT_EQ(log.end() - at, 6) << ::testing::PrintToString(Lines(at, log.end()));
    EXPECT_EQ(*(at + 1), "CreateFile ok for C:\\WINNT\\ISDEL.EXE");
    EXPECT_EQ(*(at + 2), "allocated command line of " + std::to_string(commandLine.size()) + " bytes");
    EXPECT_EQ((at + 3)->rfind("waiting for ", 0), 0u) << *(at + 3);
    // What ISDEL.EXE did, appended once the program had ended.
    EXPECT_EQ(*(at + 4), "ISDEL deleted C:\\MODEM\\SETUP.EXE");
    EXPECT_EQ(*(at + 5), "ISDEL deleted C:\\MODEM\\setupres.dll");
    // Started with the setup program's handles to inherit, no creation
    // flags, and no busy cursor.
    auto starts = test::recordsOf(run, "process");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(ntsim::stringMember(starts[0], "command"), commandLine);
    EXPECT_TRUE(starts[0]["application"].is_null());
    EXPECT_EQ(starts[0]["inherit"], true);
    EXPECT_EQ(starts[0]["flags"], 0);
    EXPECT_EQ(starts[0]["startup"]["cb"], sizeof(STARTUPINFOA));
    EXPECT_EQ(starts[0]["startup"]["flags"], STARTF_FORCEOFFFEEDBACK);
    for (const char* field : { "reserved", "x", "y", "xsize", "ysize", "showwindow", "stdinput", "stdoutput" })
        EXPECT_EQ(starts[0]["startup"][field], 0) << field;
    test::expectHandlesAtExit(run);

    // A run without the log asks ISDEL.EXE to write none, and the program's
    // directory goes with its files.
    test::TestMachine quiet;
    installSilently(quiet);
    run = quiet.run({ test::setupProgram, "-u" }, { "next", "finish", "no" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    starts = test::recordsOf(run, "process");
    ASSERT_EQ(starts.size(), 1u);
    std::string quietCommand = ntsim::stringMember(starts[0], "command");
    EXPECT_EQ(quietCommand.substr(quietCommand.find(" C:\\MODEM")),
        " C:\\MODEM\\SETUP.EXE C:\\MODEM\\setupres.dll -L");
    EXPECT_FALSE(quiet.exists("C:\\MODEM\\SETUP.EXE"));
    EXPECT_FALSE(quiet.exists("C:\\MODEM\\SETUP.TXT"));
    test::expectHandlesAtExit(run);

    // Without the delete program the files stay; the restart is offered still.
    test::TestMachine bare;
    installSilently(bare);
    bare.remove("C:\\WINNT\\ISDEL.EXE");
    run = bare.run({ test::setupProgram, "-u", "-l" }, { "next", "finish", "no" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(test::boxLines(run.transcript), Lines { restartPrompt + " -> no" });
    EXPECT_TRUE(test::recordsOf(run, "process").empty());
    test::expectHandlesAtExit(run);
    EXPECT_TRUE(bare.exists(test::setupProgram));
    EXPECT_TRUE(bare.exists("C:\\MODEM\\setupres.dll"));
    log = test::logLines(bare);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("CreateFile ok", 0) == 0; }), 0);
}

namespace {

// The finish stage's lines: from the report page's Finish to the class
// device's removal.
Lines finishStage(const Lines& log)
{
    auto startsWith = [](const char* text) { return [text](const std::string& l) { return l.rfind(text, 0) == 0; }; };
    auto stage = std::find_if(log.begin(), log.end(), startsWith("CUninstIntroPage::UninstallDrivers returning"));
    auto from = std::find_if(stage, log.end(), startsWith("GetPnPEnumID exit with"));
    auto to = std::find_if(from, log.end(), startsWith("UnInstallClassDevice exit"));
    if (to == log.end())
        return { "(no finish stage)" };
    return Lines(from, to + 1);
}

// A wizard uninstall (Next, Finish, No) of a silent install, the registry
// changed in between as the REGEDIT4 text says.
test::RunResult uninstallAfterInstall(const test::TestMachine& m, const std::string& change = "")
{
    installSilently(m);
    if (!change.empty())
        test::importRegistry(m, change);
    auto run = m.run({ test::setupProgram, "-u", "-l" }, { "next", "finish", "no" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    return run;
}

Lines responsesLookup(const std::string& hardwareId)
{
    return { "GetPnPEnumID exit with " + hardwareId,
        "FetchOurModemResponses Opening SYSTEM\\CurrentControlSet\\Enum\\Root\\" + hardwareId + "\\0000" };
}

}

TEST(UninstallWizard, TheFinishStageGoesOnWithoutTheResponsesAndStopsWhereTheDeviceStays)
{
    const std::string id = test::modemHardwareId;
    const std::string classKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000";
    {
        SCOPED_TRACE("the responses are found and removed before the device");
        test::TestMachine m;
        auto run = uninstallAfterInstall(m);
        const std::string name = "Brimlow 56K PCI Data Fax Modem::Brimlow::Brimlow";
        Lines stage = finishStage(test::logLines(m));
        ASSERT_GE(stage.size(), 9u) << ::testing::PrintToString(stage);
        EXPECT_EQ(Lines(stage.begin(), stage.begin() + 9),
            test::join({ responsesLookup(id),
                { "FetchOurModemResponses Opening Driver", "FetchOurModemResponses Opening " + classKey,
                    "FetchOurModemResponses Opening ResponsesKeyName", "FetchOurModemResponses Got " + name,
                    "FetchOurModemResponses bRet 1",
                    "RemoveUnimodemResponses Opening SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific",
                    "RemoveUnimodemResponses removing " + name + " and all subkeys" } }));
        EXPECT_EQ(stage.back(), "UnInstallClassDevice exit with 1");
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("no ResponsesKeyName: the device goes all the same");
        test::TestMachine m;
        auto run = uninstallAfterInstall(m, "[HKEY_LOCAL_MACHINE\\" + driverKey + "]\n\"ResponsesKeyName\"=-\n");
        EXPECT_EQ(finishStage(test::logLines(m)),
            test::join({ responsesLookup(id),
                { "FetchOurModemResponses Opening Driver", "FetchOurModemResponses Opening " + classKey,
                    "FetchOurModemResponses Opening ResponsesKeyName", "FetchOurModemResponses RegQueryValueEx returned 2",
                    "FetchOurModemResponses bRet 0", "UnInstallClassDevice SetupDiGetClassDevs found " + id,
                    "UnInstallClassDevice SetupDiDeleteDevRegKey failed for " + id, "UnInstallClassDevice exit with 1" } }));
        EXPECT_FALSE(test::registryKeyExists(m, enumDevice + "\\0000"));
        EXPECT_TRUE(test::registryKeyExists(m, responsesKey)) << "nothing named it";
        EXPECT_EQ(test::recordsOf(run, "process").size(), 1u) << "ISDEL.EXE";
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("an empty ResponsesKeyName takes no other modem's responses");
        test::TestMachine m;
        auto run = uninstallAfterInstall(m, "[HKEY_LOCAL_MACHINE\\" + driverKey + "]\n\"ResponsesKeyName\"=\"\"\n");
        Lines stage = finishStage(test::logLines(m));
        EXPECT_NE(std::find(stage.begin(), stage.end(), "RemoveUnimodemResponses bRet 0"), stage.end());
        EXPECT_TRUE(test::registryKeyExists(m, responsesKey));
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("the hardware id not found: the setup INF's id finds nothing");
        test::TestMachine m;
        installSilently(m);
        // The uninstall's second key: the driver's Parameters key.
        ASSERT_EQ(m.tool({ "fault", m.dir(), "RegOpenKeyExA", "ERROR_FILE_NOT_FOUND", "--nth", "2" }).exitCode, 0);
        auto run = m.run({ test::setupProgram, "-u", "-l" }, { "next", "finish", "no" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(finishStage(test::logLines(m)),
            test::join({ responsesLookup("PCI&VEN_1A7E&DEV_5C21"),
                { "FetchOurModemResponses RegOpenKeyEx returned 2", "FetchOurModemResponses bRet 0",
                    "UnInstallClassDevice exit with 1" } }));
        EXPECT_TRUE(test::registryKeyExists(m, enumDevice + "\\0000")) << "the modem device stays";
        EXPECT_TRUE(test::registryKeyExists(m, responsesKey));
        EXPECT_EQ(test::boxLines(run.transcript), Lines { restartPrompt + " -> no" });
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("the device cannot be removed: no ISDEL.EXE, no restart");
        test::TestMachine m;
        installSilently(m);
        ASSERT_EQ(m.tool({ "fault", m.dir(), "SetupDiCallClassInstaller", "ERROR_ACCESS_DENIED", "--nth", "1" }).exitCode, 0);
        auto run = m.run({ test::setupProgram, "-u", "-l" }, { "next", "finish" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(test::shownPath(run.transcript), (Lines { "page 105 next", "page 106 finish" }));
        Lines stage = finishStage(test::logLines(m));
        ASSERT_GE(stage.size(), 2u);
        EXPECT_EQ(Lines(stage.end() - 2, stage.end()),
            (Lines { "UnInstallClassDevice SetupDiCallClassInstaller failed for " + id, "UnInstallClassDevice exit with 0" }));
        Lines log = test::logLines(m);
        EXPECT_EQ(log.back(), "UnInstallClassDevice exit with 0") << "nothing after it: no GetInfo, no ISDEL.EXE";
        EXPECT_TRUE(test::recordsOf(run, "process").empty());
        for (const char* file : { "C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\setupres.dll", "C:\\WINNT\\ISDEL.EXE" })
            EXPECT_TRUE(m.exists(file)) << file;
        test::expectHandlesAtExit(run);
    }
}
