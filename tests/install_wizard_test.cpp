// The install as a person meets it: the setup program run whole on a fresh
// machine, its pages, boxes, log and what it leaves installed.
#include "support/SetupRun.h"

#include <gtest/gtest.h>

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

const ntsim::Json* pageOf(const std::vector<ntsim::Json>& transcript, int id)
{
    for (auto& e : transcript) {
        if (ntsim::stringMember(e, "event") == "page" && e.value("template", 0) == id)
            return &e;
    }
    return nullptr;
}

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
    const ntsim::Json* driverPage = pageOf(run.transcript, 102);
    ASSERT_NE(driverPage, nullptr);
    bool listed = false;
    for (auto& c : (*driverPage)["controls"]) {
        if (c.value("id", 0) == 9000)
            listed = c["items"] == ntsim::Json::array({ "Brimlow PCI Data/Fax Modem" });
    }
    EXPECT_TRUE(listed) << driverPage->dump();
    const ntsim::Json* success = pageOf(run.transcript, 103);
    ASSERT_NE(success, nullptr);
    EXPECT_EQ(test::controlText(*success, 1006), std::string(test::modemDescription) + "\r\n");
    EXPECT_FALSE(test::buttonEnabled(*success, "back"));
    EXPECT_FALSE(test::buttonEnabled(*success, "cancel"));
    EXPECT_TRUE(test::buttonEnabled(*success, "finish"));

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

    // Without a country the silent install still opens no applet.
    test::TestMachine unknown;
    run = unknown.run({ test::setupProgram, "-s" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.transcript.empty()) << run.transcript.front().dump();
    EXPECT_EQ(test::registryValue(unknown, driverKey + "\\Country", "Current"), std::string("\x00\x01", 2));
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
    for (auto& e : run.transcript) {
        if (ntsim::stringMember(e, "event") == "messagebox") {
            EXPECT_EQ(ntsim::stringMember(e, "caption"), "Installation Error");
        }
    }
    const ntsim::Json* failure = pageOf(run.transcript, 104);
    ASSERT_NE(failure, nullptr);
    EXPECT_TRUE(test::buttonEnabled(*failure, "back"));
    EXPECT_FALSE(test::buttonEnabled(*failure, "next"));
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api);
        test::TestMachine m;
        ASSERT_EQ(m.tool({ "fault", m.dir(), c.api, c.error, "--nth", std::to_string(c.nth) }).exitCode, 0);
        auto run = m.run({ test::setupProgram, "-l" }, c.text ? Lines { "next", "next", "ok", "cancel" }
                                                             : Lines { "next", "next", "cancel" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        Lines expected { "page 101 next", "page 102 next" };
        if (c.text)
            expected.push_back(std::string("messagebox ") + c.text + " ok");
        expected.push_back("page 104 cancel");
        EXPECT_EQ(test::shownPath(run.transcript), expected);
        Lines log = test::logLines(m);
        std::string result = "CInstDriverPage::InstallDrivers returning UINT " + std::to_string(c.status);
        EXPECT_NE(std::find(log.begin(), log.end(), result), log.end()) << result;
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

Lines boxTexts(const std::vector<ntsim::Json>& transcript)
{
    Lines texts;
    for (auto& e : transcript) {
        if (ntsim::stringMember(e, "event") == "messagebox")
            texts.push_back(ntsim::stringMember(e, "caption") + ": " + ntsim::stringMember(e, "text"));
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
    }
}
