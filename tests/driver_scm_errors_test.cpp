// Every way the Service Control Manager can refuse the driver's operations,
// each from a machine told to fail that call with that error.
#include "driver/Driver.h"

#include "support/DriverHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Case {
    DWORD dwError;
    UINT uStatus;
    const char* line;
};

CDriver MakeDriver()
{
    return CDriver("Brimlow PCI Data/Fax Modem", test::DriverHarness::infPath(), "TAVRELIN_DATAFAX_QZV", "ID");
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}

TEST(DriverScmErrors, OpeningTheManagerOrTheService)
{
    {
        test::DriverHarness h({ { "OpenSCManagerA", "5" } });
        CDriver driver = MakeDriver();
        EXPECT_EQ(driver.Start(), ST_SCM_CANT_OPEN_SCMANAGER);
        auto lines = h.newLogLines();
        EXPECT_TRUE(Contains(lines, "open_service 17 (ST_SCM_CANT_OPEN_SCMANAGER)"));
        EXPECT_EQ(lines.back(), "Start exit with uRet 17");
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
        test::DriverHarness h({ { "OpenServiceA", std::to_string(c.dwError) } });
        CDriver driver = MakeDriver();
        EXPECT_EQ(driver.Start(), c.uStatus);
        auto lines = h.newLogLines();
        EXPECT_TRUE(Contains(lines, c.line));
        EXPECT_TRUE(Contains(lines, "open_service exit with uRet " + std::to_string(c.uStatus)));
    }
}

TEST(DriverScmErrors, GetInfoTurnsAnyOpenFailureIntoNotInstalled)
{
    test::DriverHarness h({ { "OpenSCManagerA", "5" } });
    CDriver driver = MakeDriver();
    UINT state = 99;
    EXPECT_EQ(driver.GetInfo(&state), ST_SUCCESS);
    EXPECT_EQ(state, DRV_S_NONE);
    auto lines = h.newLogLines();
    EXPECT_EQ(lines[lines.size() - 2], "GetInfo state 0 (DRV_S_NONE)");
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
        test::DriverHarness h({ { "StartServiceA", std::to_string(c.dwError) } });
        CDriver driver = MakeDriver();
        ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
        h.newLogLines();
        EXPECT_EQ(driver.Start(), c.uStatus);
        auto lines = h.newLogLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], c.line);
        EXPECT_EQ(lines.back(), "Start exit with uRet " + std::to_string(c.uStatus));
    }
}

TEST(DriverScmErrors, ADisabledServiceIsRefusedByTheMachineItself)
{
    test::DriverHarness h;
    CDriver driver = MakeDriver();
    ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Qzvmdm", 0, KEY_SET_VALUE, &hKey), ERROR_SUCCESS);
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
        test::DriverHarness h({ { "ControlService", std::to_string(c.dwError) } });
        CDriver driver = MakeDriver();
        ASSERT_EQ(driver.Install(nullptr), ST_SUCCESS);
        ASSERT_EQ(driver.Start(), ST_SUCCESS);
        h.newLogLines();
        EXPECT_EQ(driver.Stop(), c.uStatus);
        auto lines = h.newLogLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], c.line);
        EXPECT_EQ(lines.back(), "Stop exit with uRet " + std::to_string(c.uStatus));
    }
}
