// Install, Uninstall and GetDriverServiceName failing in the setup INF's
// sections or the registry, each from a machine that really fails there:
// the status, the lines and what stays behind.
#include "driver/Driver.h"

#include "scm_helpers.h"
#include "support/DriverHarness.h"

#include <gtest/gtest.h>

using test::DriverHarness;
using test::Lines;
using test::join;

namespace {

// Even administrators may not write below Enum: NT's own protection.
const char blockedAddReg[] = "HKLM, SYSTEM\\CurrentControlSet\\Enum\\Root\\Blocked, Value, 0x00010001, 1\r\n";

bool ServiceExists()
{
    scmtest::Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    scmtest::Sc service(OpenServiceA(manager.get(), "Qzvmdm", SERVICE_QUERY_STATUS));
    return static_cast<bool>(service);
}

const Lines firstInstallStart = test::noServiceLines(test::nameReadLines());

}

TEST(DriverInfErrors, AnInstallSectionThatFailsStopsBeforeTheServices)
{
    DriverHarness h;
    h.writeInf(DriverHarness::setupInfWith("[TAVRELIN_DATAFAX_QZV.AddReg]\r\n",
        std::string("[TAVRELIN_DATAFAX_QZV.AddReg]\r\n") + blockedAddReg));
    CDriver driver = test::harnessDriver();
    EXPECT_EQ(driver.Install(nullptr), ST_INF_CANT_INSTALL_FILES);
    EXPECT_EQ(h.newLogLines(), join({ firstInstallStart, {
        "Install 3 (ST_INF_CANT_INSTALL_FILES)",
        "Install exit with uRet 3",
    } }));
    EXPECT_FALSE(ServiceExists()) << "the service section did not run";
    // What came before the failure stays: the service key and the copied file.
    EXPECT_TRUE(scmtest::keyExists(DriverHarness::serviceKey()));
    EXPECT_TRUE(h.machine().exists(DriverHarness::driverFile()));
}

TEST(DriverInfErrors, AServiceSectionThatFailsLeavesTheInstalledFiles)
{
    DriverHarness h;
    h.writeInf(DriverHarness::setupInfWith("ServiceBinary = %12%\\QZVMDM.SYS\r\n", ""));
    CDriver driver = test::harnessDriver();
    EXPECT_EQ(driver.Install(nullptr), ST_INF_CANT_INSTALL_SERVICE);
    EXPECT_EQ(h.newLogLines(), join({ firstInstallStart, {
        "Install 4 (ST_INF_CANT_INSTALL_SERVICE)",
        "Install exit with uRet 4",
    } }));
    EXPECT_FALSE(ServiceExists());
    EXPECT_TRUE(h.machine().exists(DriverHarness::driverFile()));
    EXPECT_EQ(scmtest::valueOf(std::string(DriverHarness::serviceKey()) + "\\Parameters", "BufferSize").dword(), 4096u);
}

TEST(DriverInfErrors, AnUninstallSectionThatFailsAfterTheServiceWentGivesSix)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    const std::string failingUninstall = "[TAVRELIN_DATAFAX_QZV.Uninstall]\r\n"
                                         "DelFiles = TAVRELIN_DATAFAX_QZV.CopyFiles\r\n"
                                         "AddReg = Blocked.AddReg\r\n"
                                         "[Blocked.AddReg]\r\n"
        + std::string(blockedAddReg);
    h.writeInf(DriverHarness::setupInfWith(
        "[TAVRELIN_DATAFAX_QZV.Uninstall]\r\nDelFiles = TAVRELIN_DATAFAX_QZV.CopyFiles\r\n", failingUninstall));
    h.newLogLines();

    EXPECT_EQ(driver.Uninstall(nullptr), ST_INF_CANT_UNINSTALL_FILES);
    EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 1 (DRV_S_INSTALLED)"), {
        "Uninstall 6 (ST_INF_CANT_UNINSTALL_FILES)",
        "Uninstall exit with uRet 6",
    } }));
    EXPECT_FALSE(ServiceExists());
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile())) << "deleted before the registry failed";

    // With the service section failing as well, the first failure stands alone.
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    std::string inf = DriverHarness::setupInfWith(
        "[TAVRELIN_DATAFAX_QZV.Uninstall]\r\nDelFiles = TAVRELIN_DATAFAX_QZV.CopyFiles\r\n", failingUninstall);
    const std::string serviceSection = "[TAVRELIN_DATAFAX_QZV.Uninstall.Services]";
    inf.replace(inf.find(serviceSection), serviceSection.size(), "[Gone]");
    h.writeInf(inf);
    h.newLogLines();
    EXPECT_EQ(driver.Uninstall(nullptr), ST_INF_CANT_UNINSTALL_SERVICE);
    EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 1 (DRV_S_INSTALLED)"), {
        "Uninstall 7 (ST_INF_CANT_UNINSTALL_SERVICE)",
        "Uninstall exit with uRet 7",
    } }));
}

TEST(DriverInfErrors, AnAddServiceLineWithoutAName)
{
    for (const char* line : { "AddService = , 0x00000002, Qzvmdm.Service", "AddService =" }) {
        SCOPED_TRACE(line);
        DriverHarness h;
        h.writeInf(DriverHarness::setupInfWith("AddService = Qzvmdm, 0x00000002, Qzvmdm.Service", line));
        const Lines failedRead = {
            "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
            "GetDriverServiceName looking for TAVRELIN_DATAFAX_QZV.Services",
            "GetDriverServiceName 10 (ST_INF_NO_ADDSERVICE_NAME)",
        };
        CDriver driver = test::harnessDriver();
        char name[16] = "unset";
        EXPECT_EQ(driver.GetDriverServiceName(name, sizeof name), ST_INF_NO_ADDSERVICE_NAME);
        EXPECT_STREQ(name, "") << "the empty name fits and is copied out";
        EXPECT_EQ(h.newLogLines(), join({ failedRead, {
            "GetDriverServiceName ",
            "GetDriverServiceName exit with uRet 10",
        } }));
        EXPECT_EQ(driver.Install(nullptr), ST_INF_NO_ADDSERVICE_NAME);
        EXPECT_EQ(h.newLogLines(), join({ failedRead, {
            "GetDriverServiceName exit with uRet 10",
            "GetInfo exit with uRet 10",
            "Install exit with uRet 10",
        } }));
        EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
    }
}

TEST(DriverInfErrors, AServiceKeyThatMayNotBeOpenedForAllAccessGivesFifteen)
{
    DriverHarness h;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, DriverHarness::serviceKey(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(test::setKeyDacl(DriverHarness::serviceKey(), "D:(A;CI;KR;;;BA)(A;CI;KA;;;SY)"), ERROR_SUCCESS);

    CDriver driver = test::harnessDriver();
    EXPECT_EQ(driver.Install(nullptr), ST_REG_CANT_CREATE_SERVICE_ROOT_KEY);
    EXPECT_EQ(h.newLogLines(), join({ firstInstallStart, {
        "Install 15 (ST_REG_CANT_CREATE_SERVICE_ROOT_KEY)",
        "Install exit with uRet 15",
    } }));
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
    EXPECT_FALSE(ServiceExists());
}

TEST(DriverInfErrors, TheServicesKeyIsOpenedOnlyToCreateUnderIt)
{
    DriverHarness h;
    const char services[] = "SYSTEM\\CurrentControlSet\\Services";
    // Administrators may create under it, and do no more than Install asks.
    ASSERT_EQ(test::setKeyDacl(services, "D:(A;;0xf0004;;;BA)(A;CI;KA;;;SY)(A;CIIO;KA;;;CO)"), ERROR_SUCCESS);
    CDriver driver = test::harnessDriver();
    EXPECT_EQ(driver.Install(nullptr), ST_SUCCESS);
    EXPECT_TRUE(ServiceExists());
    ASSERT_EQ(driver.Uninstall(nullptr), ST_SUCCESS);
    h.newLogLines();

    // Without the right to change its owner, the key does not open for Install.
    ASSERT_EQ(test::setKeyDacl(services, "D:(A;;0x70004;;;BA)(A;CI;KA;;;SY)(A;CIIO;KA;;;CO)"), ERROR_SUCCESS);
    EXPECT_EQ(driver.Install(nullptr), ST_REG_CANT_OPEN_SERVICES_KEY);
    EXPECT_EQ(h.newLogLines(), join({ test::noServiceLines(test::nameKnownLines()), {
        "Install 16 (ST_REG_CANT_OPEN_SERVICES_KEY)",
        "Install exit with uRet 16",
    } }));
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
    EXPECT_FALSE(scmtest::keyExists(DriverHarness::serviceKey()));
}
