// Every way the Service Control Manager can refuse the driver's operations,
// each from a machine told to fail that call with that error, and the
// rights each operation asks for, against services that grant no more.
#include "driver/Driver.h"

#include "scm_helpers.h"
#include "support/DriverHarness.h"

#include <gtest/gtest.h>

using test::DriverHarness;
using test::Lines;
using test::join;

namespace {

struct Case {
    DWORD dwError;
    UINT uStatus;
    const char* line;
};

std::string Exit(const char* operation, UINT uStatus)
{
    return std::string(operation) + " exit with uRet " + std::to_string(uStatus);
}

}

TEST(DriverScmErrors, OpeningTheManagerOrTheService)
{
    {
        DriverHarness h({ { "OpenSCManagerA", "5" } });
        CDriver driver = test::harnessDriver();
        EXPECT_EQ(driver.Start(), ST_SCM_CANT_OPEN_SCMANAGER);
        EXPECT_EQ(h.newLogLines(), join({ test::nameReadLines(), {
            "open_service 17 (ST_SCM_CANT_OPEN_SCMANAGER)",
            "open_service exit with uRet 17",
            "Start exit with uRet 17",
        } }));
    }
    const Case cases[] = {
        { ERROR_ACCESS_DENIED, 18, "open_service 18 (ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED)" },
        { ERROR_INVALID_HANDLE, 20, "open_service 20 (ST_SCM_CANT_OPEN_SERVICE_INVALID_HANDLE)" },
        { ERROR_INVALID_NAME, 21, "open_service 21 (ST_SCM_CANT_OPEN_SERVICE_INVALID_NAME)" },
        { ERROR_SERVICE_DOES_NOT_EXIST, 19, "open_service 19 (ST_SCM_CANT_OPEN_SERVICE_DOES_NOT_EXIST)" },
        { ERROR_GEN_FAILURE, 22, "open_service 22 (ST_SCM_CANT_OPEN_SERVICE_REASON_UNKNOWN)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DriverHarness h({ { "OpenServiceA", std::to_string(c.dwError) } });
        CDriver driver = test::harnessDriver();
        EXPECT_EQ(driver.Start(), c.uStatus);
        EXPECT_EQ(h.newLogLines(), join({ test::nameReadLines(), {
            c.line,
            Exit("open_service", c.uStatus),
            Exit("Start", c.uStatus),
        } }));
    }
}

TEST(DriverScmErrors, GetInfoTurnsAnyOpenFailureIntoNotInstalled)
{
    DriverHarness h({ { "OpenSCManagerA", "5" } });
    CDriver driver = test::harnessDriver();
    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_NONE);
    EXPECT_EQ(h.newLogLines(), join({ test::nameReadLines(), {
        "open_service 17 (ST_SCM_CANT_OPEN_SCMANAGER)",
        "open_service exit with uRet 17",
        "GetInfo state 0 (DRV_S_NONE)",
        "GetInfo exit with uRet 0",
    } }));
}

TEST(DriverScmErrors, StartingTheService)
{
    const Case cases[] = {
        { ERROR_SERVICE_DATABASE_LOCKED, 24, "Start 24 (ST_SCM_CANT_START_SERVICE_DATABASE_LOCKED)" },
        { ERROR_SERVICE_ALREADY_RUNNING, 23, "Start 23 (ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING)" },
        { ERROR_SERVICE_DISABLED, 25, "Start 25 (ST_SCM_CANT_START_SERVICE_DISABLED)" },
        { ERROR_SERVICE_MARKED_FOR_DELETE, 26, "Start 26 (ST_SCM_CANT_START_SERVICE_MARKED_FOR_DELETE)" },
        { ERROR_FILE_NOT_FOUND, 27, "Start 27 (ST_SCM_CANT_START_SERVICE_REASON_UNKNOWN)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DriverHarness h({ { "StartServiceA", std::to_string(c.dwError) } });
        CDriver driver = test::harnessDriver();
        ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
        h.newLogLines();
        EXPECT_EQ(driver.Start(), c.uStatus);
        EXPECT_EQ(h.newLogLines(), join({ test::nameKnownLines(), {
            "open_service exit with uRet 0",
            c.line,
            Exit("Start", c.uStatus),
        } }));
    }
}

TEST(DriverScmErrors, ADisabledServiceIsRefusedByTheMachineItself)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverHarness::serviceKey(), 0, KEY_SET_VALUE, &hKey), ERROR_SUCCESS);
    DWORD disabled = SERVICE_DISABLED;
    ASSERT_EQ(RegSetValueExA(hKey, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&disabled), sizeof disabled), ERROR_SUCCESS);
    RegCloseKey(hKey);
    EXPECT_EQ(driver.Start(), ST_SCM_CANT_START_SERVICE_DISABLED);
}

TEST(DriverScmErrors, StoppingTheServiceLogsTheSystemError)
{
    const Case cases[] = {
        { ERROR_ACCESS_DENIED, 28, "Stop 5 (ST_SCM_CANT_STOP_SERVICE_ACCESS_DENIED)" },
        { ERROR_DEPENDENT_SERVICES_RUNNING, 30, "Stop 1051 (ST_SCM_CANT_STOP_SERVICE_DEPENDENT_SERVICES_RUNNING)" },
        { ERROR_INVALID_SERVICE_CONTROL, 31, "Stop 1052 (ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL)" },
        { ERROR_SERVICE_REQUEST_TIMEOUT, 34, "Stop 1053 (ST_SCM_CANT_STOP_SERVICE_REQUEST_TIMEOUT)" },
        { ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 29, "Stop 1061 (ST_SCM_CANT_STOP_SERVICE_CANNOT_ACCEPT_CTRL)" },
        { ERROR_SERVICE_NOT_ACTIVE, 32, "Stop 1062 (ST_SCM_CANT_STOP_SERVICE_NOT_ACTIVE)" },
        { ERROR_INVALID_PARAMETER, 33, "Stop 87 (ST_SCM_CANT_STOP_SERVICE_REASON_UNKNOWN)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DriverHarness h({ { "ControlService", std::to_string(c.dwError) } });
        CDriver driver = test::harnessDriver();
        ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
        ASSERT_EQ(driver.Start(), ST_SUCCESS);
        h.newLogLines();
        EXPECT_EQ(driver.Stop(), c.uStatus);
        EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 2 (DRV_S_STARTED)"), {
            "open_service exit with uRet 0",
            c.line,
            Exit("Stop", c.uStatus),
        } }));
    }
}

TEST(DriverScmErrors, EachOperationAsksForItsOwnRights)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    ASSERT_EQ(driver.Start(), ST_SUCCESS);
    const Lines denied = { "open_service 18 (ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED)", "open_service exit with uRet 18" };

    // A handle that keeps the right to change the DACL while it grants less.
    scmtest::Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    scmtest::Sc guard(OpenServiceA(manager.get(), "Qzvmdm", WRITE_DAC));
    ASSERT_TRUE(guard) << GetLastError();
    auto grant = [&](const char* sddl) { return scmtest::setServiceDacl(guard.get(), sddl); };

    // GetInfo needs the status query and nothing more.
    ASSERT_TRUE(grant("D:(A;;0x4;;;BA)(A;;0xf01ff;;;SY)")) << GetLastError();
    h.newLogLines();
    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_STARTED);
    EXPECT_EQ(h.newLogLines(), test::infoLines("GetInfo state 2 (DRV_S_STARTED)"));

    // Stop needs that and the stop right.
    EXPECT_EQ(driver.Stop(), ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED);
    EXPECT_EQ(h.newLogLines(), join({ test::infoLines("GetInfo state 2 (DRV_S_STARTED)"), denied,
                                    { "Stop exit with uRet 18" } }));
    ASSERT_TRUE(grant("D:(A;;0x24;;;BA)(A;;0xf01ff;;;SY)"));
    EXPECT_EQ(driver.Stop(), ST_SUCCESS);
    EXPECT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    h.newLogLines();

    // Start asks for every right of the service: starting alone is not enough.
    ASSERT_TRUE(grant("D:(A;;0xf00ff;;;BA)(A;;0xf01ff;;;SY)"));
    EXPECT_EQ(driver.Start(), ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED);
    EXPECT_EQ(h.newLogLines(), join({ test::nameKnownLines(), denied, { "Start exit with uRet 18" } }));
    EXPECT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    ASSERT_TRUE(grant("D:(A;;0xf01ff;;;BA)(A;;0xf01ff;;;SY)"));
    EXPECT_EQ(driver.Start(), ST_SUCCESS);
    EXPECT_EQ(test::harnessServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(DriverScmErrors, AUserWhoMayNotManageServicesSeesNoDriverAndInstallsNothing)
{
    DriverHarness h;
    CDriver driver = test::harnessDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    h.machine().remove(DriverHarness::driverFile());
    // A guest may query the service's state but not open the manager for all access.
    h.machine().set("user=guest");
    h.machine().attach("C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\SETUP.EXE -l");
    h.newLogLines();
    const Lines managerDenied = {
        "open_service 17 (ST_SCM_CANT_OPEN_SCMANAGER)",
        "open_service exit with uRet 17",
    };

    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_NONE);
    EXPECT_EQ(h.newLogLines(), join({ test::nameKnownLines(), managerDenied,
                                    { "GetInfo state 0 (DRV_S_NONE)", "GetInfo exit with uRet 0" } }));

    // Nor may a guest create under the services key.
    EXPECT_EQ(driver.Install(nullptr), ST_REG_CANT_OPEN_SERVICES_KEY);
    EXPECT_EQ(h.newLogLines(), join({ test::nameKnownLines(), managerDenied, {
        "GetInfo state 0 (DRV_S_NONE)",
        "GetInfo exit with uRet 0",
        "Install 16 (ST_REG_CANT_OPEN_SERVICES_KEY)",
        "Install exit with uRet 16",
    } }));
    EXPECT_FALSE(h.machine().exists(DriverHarness::driverFile()));
}
