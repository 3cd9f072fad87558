#include "scm_helpers.h"

#include <gtest/gtest.h>

using scmtest::Sc;

namespace {

SC_HANDLE startedDriver(const test::TestMachine& m, SC_HANDLE manager, const std::string& name,
    const std::string& behaviour)
{
    scmtest::writeImage(m, name + ".sys", behaviour);
    SC_HANDLE service = scmtest::createDriver(manager, name, scmtest::driverPath(name + ".sys"));
    EXPECT_NE(service, nullptr) << GetLastError();
    EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << name << " " << GetLastError();
    return service;
}

}

TEST(ScmControl, ARefusedStopKeepsTheDriverRunning)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(startedDriver(m, manager.get(), "Stubborn", "refuse-stop"));
    SERVICE_STATUS status {};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING)) << "the record is filled all the same";
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_EQ(scmtest::statusOf(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
}

TEST(ScmControl, AStopPendingDriverStaysPendingAndTakesNoMoreControls)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(startedDriver(m, manager.get(), "Slow", "stop-pending"));
    SERVICE_STATUS status {};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(scmtest::statusOf(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
}

TEST(ScmControl, PauseAndContinueOnlyWhereTheDriverTakesThem)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc pauses(startedDriver(m, manager.get(), "Pauser", "pauses"));
    Sc plain(startedDriver(m, manager.get(), "Plain", "plain"));
    SERVICE_STATUS status {};

    EXPECT_EQ(scmtest::statusOf(pauses.get()).dwControlsAccepted,
        static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE));
    ASSERT_TRUE(ControlService(pauses.get(), SERVICE_CONTROL_PAUSE, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
    EXPECT_EQ(scmtest::statusOf(pauses.get()).dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
    EXPECT_FALSE(StartServiceA(pauses.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    ASSERT_TRUE(ControlService(pauses.get(), SERVICE_CONTROL_CONTINUE, &status));
    EXPECT_EQ(scmtest::statusOf(pauses.get()).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(pauses.get(), SERVICE_CONTROL_PAUSE, &status));
    ASSERT_TRUE(ControlService(pauses.get(), SERVICE_CONTROL_STOP, &status)) << "a paused driver stops";
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

    EXPECT_FALSE(ControlService(plain.get(), SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_FALSE(ControlService(plain.get(), 200, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_FALSE(ControlService(plain.get(), SERVICE_CONTROL_SHUTDOWN, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ControlService(plain.get(), 0, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ScmControl, StopNeedsARunningServiceAndTheRight)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "idle.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(scmtest::createDriver(manager.get(), "Idle", scmtest::driverPath("idle.sys")));
    SERVICE_STATUS status {};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));

    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
    Sc queryOnly(OpenServiceA(manager.get(), "Idle", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(ControlService(queryOnly.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ControlService(queryOnly.get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    Sc stopOnly(OpenServiceA(manager.get(), "Idle", SERVICE_STOP));
    EXPECT_FALSE(QueryServiceStatus(stopOnly.get(), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ControlService(stopOnly.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(ScmControl, DependenciesStartFirstAndHoldTheirStop)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    scmtest::writeImage(m, "base.sys", "plain");
    scmtest::writeImage(m, "top.sys", "plain");
    scmtest::writeImage(m, "broken.sys", "fail-start");
    Sc base(scmtest::createDriver(manager.get(), "Base", scmtest::driverPath("base.sys")));
    Sc top(scmtest::createDriver(manager.get(), "Top", scmtest::driverPath("top.sys"), "Base\0"));
    ASSERT_TRUE(base && top);

    ASSERT_TRUE(StartServiceA(top.get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(scmtest::statusOf(base.get()).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    SERVICE_STATUS status {};
    EXPECT_FALSE(ControlService(base.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING));
    ASSERT_TRUE(ControlService(top.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(ControlService(base.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();

    Sc broken(scmtest::createDriver(manager.get(), "Broken", scmtest::driverPath("broken.sys")));
    Sc onBroken(scmtest::createDriver(manager.get(), "OnBroken", scmtest::driverPath("top.sys"), "Broken\0"));
    EXPECT_FALSE(StartServiceA(onBroken.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DEPENDENCY_FAIL));
    EXPECT_EQ(scmtest::statusOf(onBroken.get()).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

    Sc onNothing(scmtest::createDriver(manager.get(), "OnNothing", scmtest::driverPath("top.sys"), "Nothing\0"));
    EXPECT_FALSE(StartServiceA(onNothing.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DEPENDENCY_DELETED));

    Sc onGroup(scmtest::createDriver(manager.get(), "OnGroup", scmtest::driverPath("top.sys"), "+NoSuchGroup\0"));
    EXPECT_FALSE(StartServiceA(onGroup.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DEPENDENCY_FAIL));
}
