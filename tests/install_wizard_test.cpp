// The install as a person meets it: the setup program run whole on a fresh
// machine, its pages, boxes, log and what it leaves installed.
#include "support/SetupRun.h"

#include "machine/FileLock.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

using test::Lines;

namespace {

const std::string enumDevice = std::string("SYSTEM\\CurrentControlSet\\Enum\\Root\\") + test::modemHardwareId + "\\0000";
const std::string driverKey = std::string(test::modemClassKey) + "\\0000";

const char alreadyInstalled[] = "The wizard was unable to install the modem because it is already installed. Please "
                                "un-install the modem from the control panel Add/Remove Programs applet before "
                                "running this program again.";
const char badSetupInf[] = "The wizard was unable to continue because it could not locate a valid setup  INF file in "
                           "its local directory. The file might be missing, or it might contain entries the wizard "
                           "cannot understand.";
const char badModemInf[] = "The wizard was unable to continue because it could not locate a valid modem  INF file in "
                           "the system INF directory. The file might be missing, or it might contain entries the "
                           "wizard cannot understand.";

// The handle value FindOurControlClass logs is the machine's choice.
Lines withKeyHandleHidden(Lines lines)
{
    static const std::regex handle("FindOurControlClass returning key [0-9a-f]+");
    for (auto& line : lines) {
        if (std::regex_match(line, handle))
            line = "FindOurControlClass returning key *";
    }
    return lines;
}

// The driver's INF sections installed and its service started: what every
// install that gets past the driver logs first.
Lines driverInstalledAndStarted()
{
    return test::join({
        test::noServiceLines(test::nameReadLines()),
        { "Install exit with uRet 0" },
        test::nameKnownLines(),
        { "open_service exit with uRet 0", "Start exit with uRet 0" },
    });
}

Lines modemFoundAndRegistered()
{
    return test::join({
        { "GetDriverServiceName Qzvmdm" },
        test::nameKnownLines(),
        {
            "GetTheModemPlugAngPlayIdString Returning VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02",
            "GetTheModemPlugAngPlayIdString BOOLEAN bRet = 1",
            "SetPnPEnumID exit with VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02",
            "CInstDriverPage::GetTheInfFileDescription return with 1",
            "SetName exit with Brimlow 56K PCI Data Fax Modem",
            "GetPnPEnumID exit with VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02",
            "GetName exit with Brimlow 56K PCI Data Fax Modem",
            "InstallClassDevice exit with BOOLEAN 1",
            "FindOurControlClass returning key *",
        },
    });
}

Lines portAndCountry(const Lines& countryLines)
{
    return test::join({
        {
            "FetchAttachedTo RegOpenKeyEx found COM3",
            "FetchAttachedTo BOOLEAN bRet = 1",
            "AddAttachedToStringToRegistry added AttachedTo = COM3",
            "AddAttachedToStringToRegistry BOOLEAN bRet = 1",
        },
        countryLines,
        { "CInstDriverPage::InstallDrivers returning UINT 0" },
    });
}

// The success page asks the driver's state and lists its name.
Lines successPage()
{
    return test::join({ test::infoLines("GetInfo state 2 (DRV_S_STARTED)"),
        { "GetName exit with Brimlow 56K PCI Data Fax Modem" } });
}

const std::string setupInfBox = std::string("box none MB_OK Installation Error: ") + badSetupInf;

using test::buttonStates;
using test::pageOf;

}

TEST(InstallWizard, NextNextFinishInstallsTheModemAndTheAppletSetsTheCountry)
{
    test::TestMachine m;
    auto run = m.run({ test::setupProgram, "-l" },
        { "next", "next", "@\"Country Settings\" select united states", "@\"Country Settings\" finish", "finish" });
    EXPECT_EQ(run.exitCode, 0) << run.out;

    EXPECT_EQ(test::shownPath(run.transcript),
        (Lines { "page 101 next", "page 102 next", "page 10 select united states", "page 10 finish",
            "page 103 finish" }));
    const ntsim::Json* welcome = pageOf(run.transcript, 101);
    const ntsim::Json* driverPage = pageOf(run.transcript, 102);
    const ntsim::Json* success = pageOf(run.transcript, 103);
    ASSERT_TRUE(welcome && driverPage && success);
    EXPECT_EQ(ntsim::stringMember(*welcome, "title"), "Modem Board Installation Wizard");
    EXPECT_EQ(buttonStates(*welcome), "back:off next:on finish:hidden cancel:on");
    EXPECT_EQ(buttonStates(*driverPage), "back:on next:on finish:hidden cancel:on");
    EXPECT_EQ(test::listItems(*driverPage), Lines { "Brimlow PCI Data/Fax Modem" });
    EXPECT_EQ(buttonStates(*success), "back:off next:hidden finish:on cancel:off");
    EXPECT_EQ(test::controlText(*success, 1006), std::string(test::modemDescription) + "\r\n");
    EXPECT_TRUE(test::boxLines(run.transcript).empty());

    // The modem device installed quietly, and the applet started as the
    // Control Panel starts it: no handles handed down, default error mode,
    // normal priority, nothing asked of its window.
    auto installs = test::recordsOf(run, "device-install");
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(ntsim::stringMember(installs[0], "device"), std::string("Root\\") + test::modemHardwareId + "\\0000");
    EXPECT_NE(installs[0]["flags"].get<DWORD>() & DI_QUIETINSTALL, 0u);
    EXPECT_TRUE(installs[0]["owner"].is_null());
    auto starts = test::recordsOf(run, "process");
    ASSERT_EQ(starts.size(), 1u);
    const ntsim::Json& applet = starts[0];
    EXPECT_EQ(ntsim::stringMember(applet, "command"), "rundll32.exe shell32.dll,Control_RunDLL nyvcpl.cpl");
    EXPECT_TRUE(applet["application"].is_null());
    EXPECT_EQ(applet["inherit"], false);
    EXPECT_EQ(applet["flags"], CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS);
    EXPECT_TRUE(applet["directory"].is_null());
    EXPECT_EQ(applet["startup"]["cb"], sizeof(STARTUPINFOA));
    for (const char* field : { "reserved", "x", "y", "xsize", "ysize", "xcountchars", "ycountchars", "fillattribute",
             "flags", "showwindow", "cbreserved2", "reserved2", "stdinput", "stdoutput", "stderror" })
        EXPECT_EQ(applet["startup"][field], 0) << field;
    EXPECT_TRUE(applet["startup"]["desktop"].is_null() && applet["startup"]["title"].is_null());
    test::expectHandlesAtExit(run);

    EXPECT_EQ(withKeyHandleHidden(test::logLines(m)),
        test::join({ { "GetName exit with Brimlow PCI Data/Fax Modem" }, // the driver page's list
            driverInstalledAndStarted(), modemFoundAndRegistered(),
            portAndCountry({ "AddCurrentCountryStringToRegistry current country = 0",
                "AddCurrentCountryStringToRegistry BOOLEAN bRet = 0" }),
            successPage() }));

    for (const char* service : { "Qzvmdm", "Qzvtapi", "Qzvfax" })
        EXPECT_EQ(test::serviceState(m, service), "RUNNING") << service;
    std::string driver = test::registryValue(m, enumDevice, "Driver");
    EXPECT_EQ(driver, std::string("{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000") + '\0');
    EXPECT_EQ(test::registryValue(m, driverKey, "AttachedTo"), std::string("COM3") + '\0');
    // The applet's choice: the United States, T.35 code B5.
    EXPECT_EQ(test::registryValue(m, driverKey + "\\Country", "Current"), std::string("\xb5\x00", 2));
}

TEST(InstallWizard, TheSuccessPageNamesTheDriverOnlyWhileItRuns)
{
    test::TestMachine m;
    // The success page's state query is the program's first: the driver
    // reads as installed, not running.
    ASSERT_EQ(m.tool({ "fault", m.dir(), "QueryServiceStatus", "ERROR_ACCESS_DENIED", "--nth", "1" }).exitCode, 0);
    auto run = m.run({ test::setupProgram, "-l", "-h=us" }, { "next", "next", "finish" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const ntsim::Json* success = pageOf(run.transcript, 103);
    ASSERT_NE(success, nullptr) << run.out;
    EXPECT_EQ(test::controlText(*success, 1006), "");
    EXPECT_EQ(buttonStates(*success), "back:off next:hidden finish:on cancel:off");
    Lines log = test::logLines(m);
    EXPECT_NE(std::find(log.begin(), log.end(), "GetInfo state 1 (DRV_S_INSTALLED, odd case)"), log.end());
    test::expectHandlesAtExit(run);
}

TEST(InstallWizard, SilentWithACountryShowsNothingAndRecordsTheCountry)
{
    test::TestMachine m;
    auto run = m.run({ test::setupProgram, "-s", "-l", "-h=us" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.transcript.empty()) << "a silent install shows neither pages nor the applet";
    EXPECT_EQ(withKeyHandleHidden(test::logLines(m)),
        test::join({ driverInstalledAndStarted(), modemFoundAndRegistered(),
            portAndCountry({ "AddCurrentCountryStringToRegistry  added country b5",
                "AddCurrentCountryStringToRegistry current country = 181",
                "AddCurrentCountryStringToRegistry BOOLEAN bRet = 1" }) }));
    EXPECT_EQ(test::serviceState(m, "Qzvfax"), "RUNNING");
    EXPECT_EQ(test::registryValue(m, driverKey + "\\Country", "Current"), std::string("\xb5\x00", 2));
    EXPECT_EQ(test::registryValue(m, driverKey, "AttachedTo"), std::string("COM3") + '\0');
    auto installs = test::recordsOf(run, "device-install");
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_NE(installs[0]["flags"].get<DWORD>() & DI_QUIETINSTALL, 0u);
    test::expectHandlesAtExit(run);

    // Without a country the silent install still opens no applet.
    test::TestMachine unknown;
    run = unknown.run({ test::setupProgram, "-s" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.transcript.empty()) << run.transcript.front().dump();
    EXPECT_TRUE(test::recordsOf(run, "process").empty()) << "no applet started";
    EXPECT_EQ(test::registryValue(unknown, driverKey + "\\Country", "Current"), std::string("\x00\x01", 2));
    test::expectHandlesAtExit(run);
}

TEST(InstallWizard, AnInstalledModemIsSaidAndBackLeadsToTheDriverPageAgain)
{
    test::TestMachine m;
    ASSERT_EQ(m.run({ test::setupProgram, "-s", "-h=us" }).exitCode, 0);
    auto run = m.run({ test::setupProgram }, { "next", "next", "ok", "back", "next", "ok", "cancel" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    std::string box = std::string("messagebox ") + alreadyInstalled + " ok";
    EXPECT_EQ(test::shownPath(run.transcript),
        (Lines { "page 101 next", "page 102 next", box, "page 104 back", "page 102 next", box, "page 104 cancel" }));
    std::string sheetBox = std::string("box sheet MB_OK Installation Error: ") + alreadyInstalled + " -> ok";
    EXPECT_EQ(test::boxLines(run.transcript), (Lines { sheetBox, sheetBox }));
    const ntsim::Json* failure = pageOf(run.transcript, 104);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(buttonStates(*failure), "back:on next:hidden finish:on cancel:on");
    // The driver page again: its list emptied and filled anew, one line.
    std::vector<const ntsim::Json*> driverPages;
    for (auto& e : run.transcript)
        if (e.value("template", 0) == 102)
            driverPages.push_back(&e);
    ASSERT_EQ(driverPages.size(), 2u);
    EXPECT_EQ(test::listItems(*driverPages[1]), Lines { "Brimlow PCI Data/Fax Modem" });
    EXPECT_EQ(buttonStates(*driverPages[1]), "back:on next:on finish:hidden cancel:on");
    test::expectHandlesAtExit(run);
    // Nothing of the first install was undone.
    EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "RUNNING");
    EXPECT_EQ(test::registryValue(m, driverKey, "AttachedTo"), std::string("COM3") + '\0');
}

TEST(InstallWizard, EachFailureOfTheModemStepsHasItsBoxAndStatus)
{
    struct Case {
        const char* api;
        const char* error;
        unsigned nth;
        unsigned status;
        const char* text; // null: no box
    };
    const Case cases[] = {
        { "SetupDiCallClassInstaller", "ERROR_DI_DO_DEFAULT", 1, 14, badModemInf },
        { "RegEnumValueA", "ERROR_NO_MORE_ITEMS", 1, 12, badSetupInf },
        { "RegSetValueExA", "ERROR_ACCESS_DENIED", 1, 11, badModemInf },
        { "OpenSCManagerA", "ERROR_ACCESS_DENIED", 2, 17, nullptr },
        // The program's fourth key: the modem's device key, which leads to its class key.
        { "RegOpenKeyExA", "ERROR_ACCESS_DENIED", 4, 13, badModemInf },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api);
        test::TestMachine m;
        ASSERT_EQ(m.tool({ "fault", m.dir(), c.api, c.error, "--nth", std::to_string(c.nth) }).exitCode, 0);
        auto run = m.run({ test::setupProgram, "-l" }, c.text ? Lines { "next", "next", "ok", "finish" }
                                                             : Lines { "next", "next", "finish" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        Lines expected { "page 101 next", "page 102 next" };
        if (c.text)
            expected.push_back(std::string("messagebox ") + c.text + " ok");
        expected.push_back("page 104 finish");
        EXPECT_EQ(test::shownPath(run.transcript), expected);
        if (c.text) {
            EXPECT_EQ(test::boxLines(run.transcript),
                Lines { std::string("box sheet MB_OK Installation Error: ") + c.text + " -> ok" });
        }
        Lines log = test::logLines(m);
        std::string result = "CInstDriverPage::InstallDrivers returning UINT " + std::to_string(c.status);
        EXPECT_NE(std::find(log.begin(), log.end(), result), log.end()) << result;
        // The modem's class key, open across the steps, is closed on every way out.
        test::expectHandlesAtExit(run);
    }
}

TEST(InstallWizard, WithoutItsPciValuesOrWithAnIdNoModemInfListsTheModemCannotBeInstalled)
{
    const Lines installed = driverInstalledAndStarted();
    {
        SCOPED_TRACE("no Parameters key: the setup INF's id and name stay");
        test::TestMachine m;
        // The program's third key: the driver's Parameters key.
        ASSERT_EQ(m.tool({ "fault", m.dir(), "RegOpenKeyExA", "ERROR_FILE_NOT_FOUND", "--nth", "3" }).exitCode, 0);
        auto run = m.run({ test::setupProgram, "-s", "-l" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(run.transcript.empty()) << "a silent install shows no status box";
        EXPECT_EQ(test::logLines(m),
            test::join({ installed, { "GetDriverServiceName Qzvmdm" }, test::nameKnownLines(),
                { "GetTheModemPlugAngPlayIdString RegOpenKeyEx returned error 2",
                    "GetTheModemPlugAngPlayIdString BOOLEAN bRet = 0", "GetPnPEnumID exit with PCI&VEN_1A7E&DEV_5C21",
                    "GetName exit with Brimlow PCI Data/Fax Modem", "InstallClassDevice exit with BOOLEAN 0",
                    "CInstDriverPage::InstallDrivers returning UINT 14" } }));
        EXPECT_TRUE(test::recordsOf(run, "device-install").empty());
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("a revision no modem INF lists");
        test::TestMachine m;
        std::string config;
        ASSERT_TRUE(ntsim::readWholeFile(m.dir() + "/machine.json", config));
        size_t at = config.find("\"revision\": \"0x02\"");
        ASSERT_NE(at, std::string::npos) << config;
        config.replace(at, std::string("\"revision\": \"0x02\"").size(), "\"revision\": \"0x03\"");
        std::ofstream(m.dir() + "/machine.json", std::ios::trunc) << config;
        auto run = m.run({ test::setupProgram, "-l" }, { "next", "next", "ok", "cancel" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(test::boxLines(run.transcript),
            Lines { std::string("box sheet MB_OK Installation Error: ") + badModemInf + " -> ok" });
        const std::string otherId = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_03";
        EXPECT_EQ(test::logLines(m),
            test::join({ { "GetName exit with Brimlow PCI Data/Fax Modem" }, installed, { "GetDriverServiceName Qzvmdm" },
                test::nameKnownLines(),
                { "GetTheModemPlugAngPlayIdString Returning " + otherId, "GetTheModemPlugAngPlayIdString BOOLEAN bRet = 1",
                    "SetPnPEnumID exit with " + otherId, "CInstDriverPage::GetTheInfFileDescription return with 0",
                    "GetPnPEnumID exit with " + otherId, "GetName exit with Brimlow PCI Data/Fax Modem",
                    "InstallClassDevice exit with BOOLEAN 0", "CInstDriverPage::InstallDrivers returning UINT 14" } }));
        test::expectHandlesAtExit(run);
    }
}

TEST(InstallWizard, AnUnreadableSetupInfIsSaidBeforeAnyPageAndEndsTheRun)
{
    struct Case {
        const char* what;
        std::string from; // text of the setup INF replaced, empty to remove the file
        std::string to;
    };
    const Case cases[] = {
        { "no setup INF", "", "" },
        { "no Models section", "[Models]", "[Modelle]" },
        { "a Models line of two fields", "TAVRELIN_DATAFAX_QZV, PCI\\VEN_1A7E", "TAVRELIN_DATAFAX_QZV" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TestMachine m;
        if (c.from.empty()) {
            m.remove("C:\\MODEM\\DRV_MEQ.INF");
        } else {
            std::string inf = m.read("C:\\MODEM\\DRV_MEQ.INF");
            size_t at = inf.find(c.from);
            ASSERT_NE(at, std::string::npos) << c.from;
            inf.replace(at, c.from.size(), c.to);
            m.write("C:\\MODEM\\DRV_MEQ.INF", inf);
        }
        for (const char* mode : { "", "-s" }) {
            auto run = m.run({ test::setupProgram, "-l", mode }, { "ok" });
            EXPECT_EQ(run.exitCode, 0) << run.out;
            EXPECT_EQ(test::boxLines(run.transcript), Lines { setupInfBox + " -> ok" }) << mode;
            EXPECT_EQ(run.transcript.size(), 1u) << "no page: " << mode;
            test::expectHandlesAtExit(run);
        }
        EXPECT_TRUE(test::logLines(m).empty());
        EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "");
    }
}

namespace {

// The package with the copy "drv_meq.inf" taken from a file of the test's
// own, whose services section the install sequence reads; the package's
// own sections install as ever.
void copiedServicesSection(const test::TestMachine& m, const std::string& lines)
{
    std::string inf = m.read("C:\\MODEM\\DRV_MEQ.INF");
    for (auto [from, to] : { std::pair<std::string, std::string> { "drv_meq.inf, DRV_MEQ.INF", "drv_meq.inf, SERVICES.INF" },
             { "DRV_MEQ.INF = 1", "DRV_MEQ.INF = 1\r\nSERVICES.INF = 1" } }) {
        size_t at = inf.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        inf.replace(at, from.size(), to);
    }
    m.write("C:\\MODEM\\DRV_MEQ.INF", inf);
    m.write("C:\\MODEM\\SERVICES.INF",
        "[Version]\r\nSignature = \"$Windows NT$\"\r\n\r\n[TAVRELIN_DATAFAX_QZV.Services]\r\n" + lines);
}

// The service boxes: owned by no window, an error icon and OK alone.
Lines boxTexts(const std::vector<ntsim::Json>& transcript)
{
    Lines texts;
    const std::string prefix = "box none MB_OK|MB_ICONERROR ";
    for (auto& line : test::boxLines(transcript)) {
        EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
        texts.push_back(line.substr(prefix.size(), line.rfind(" -> ") - prefix.size()));
    }
    return texts;
}

}

TEST(InstallWizard, TheFurtherServicesAreTheCopiedSectionsLinesAfterTheFirst)
{
    const std::string driverLine = "AddService = Qzvmdm, 0x00000002, Qzvmdm.Service\r\n";
    {
        SCOPED_TRACE("the driver's line alone");
        test::TestMachine m;
        copiedServicesSection(m, driverLine);
        auto run = m.run({ test::setupProgram, "-s", "-h=us" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(boxTexts(run.transcript).empty());
        test::expectHandlesAtExit(run);
        EXPECT_EQ(test::serviceState(m, "Qzvmdm"), "RUNNING");
        EXPECT_EQ(test::serviceState(m, "Qzvtapi"), "STOPPED") << "installed by the package, started by nobody";
    }
    {
        SCOPED_TRACE("a line without a second field ends the list");
        test::TestMachine m;
        copiedServicesSection(m, driverLine + "AddService = Qzvtapi, 0\r\nAddService = Qzvnone\r\n"
                                              "AddService = Qzvfax, 0\r\n");
        auto run = m.run({ test::setupProgram, "-s", "-h=us" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(boxTexts(run.transcript).empty());
        EXPECT_EQ(test::serviceState(m, "Qzvtapi"), "RUNNING");
        EXPECT_EQ(test::serviceState(m, "Qzvfax"), "STOPPED");
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("fifty further services at most, each missing one told");
        test::TestMachine m;
        std::string lines = driverLine;
        for (int i = 1; i <= 55; ++i)
            lines += "AddService = Missing" + std::to_string(i) + ", 0\r\n";
        copiedServicesSection(m, lines);
        auto run = m.run({ test::setupProgram, "-s", "-h=us" }, Lines(60, "ok"));
        EXPECT_EQ(run.exitCode, 0) << run.out;
        Lines expected;
        for (int i = 1; i <= 50; ++i)
            expected.push_back("Modem Install Error: Could not open a handle to Missing" + std::to_string(i) + " service");
        EXPECT_EQ(boxTexts(run.transcript), expected);
        test::expectHandlesAtExit(run);
    }
    {
        SCOPED_TRACE("the service controller refused: one box for it, one for each service");
        test::TestMachine m;
        copiedServicesSection(m, driverLine + "AddService = Qzvtapi, 0\r\nAddService = Qzvfax, 0\r\n"
                                              "AddService = Qzvmdm, 0\r\n");
        // GetInfo and Start open the controller first.
        ASSERT_EQ(m.tool({ "fault", m.dir(), "OpenSCManagerA", "ERROR_ACCESS_DENIED", "--nth", "3" }).exitCode, 0);
        auto run = m.run({ test::setupProgram, "-s", "-h=us" }, { "ok", "ok", "ok", "ok" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(boxTexts(run.transcript),
            (Lines { "Modem Install Error: Could not open a handle to the Service Control Manager",
                "Modem Install Error: Could not open a handle to Qzvtapi service",
                "Modem Install Error: Could not open a handle to Qzvfax service",
                "Modem Install Error: Could not open a handle to Qzvmdm service" }));
        EXPECT_EQ(test::serviceState(m, "Qzvtapi"), "STOPPED");
        test::expectHandlesAtExit(run);
    }
}
