#include "scm_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using scmtest::Sc;

TEST(ScmManager, OpensTheLocalActiveDatabaseAndRefusesOthers)
{
    test::TestMachine m;
    m.attach();

    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_TRUE(manager) << GetLastError();
    Sc named(OpenSCManagerA("", SERVICES_ACTIVE_DATABASEA, SC_MANAGER_CONNECT));
    EXPECT_TRUE(named) << GetLastError();

    SetLastError(0);
    EXPECT_EQ(OpenSCManagerA(nullptr, SERVICES_FAILED_DATABASEA, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATABASE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenSCManagerA(nullptr, "Elsewhere", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(OpenSCManagerA("\\\\NOSUCHHOST", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

TEST(ScmManager, AGuestConnectsToReadButGetsNoFullAccess)
{
    test::TestMachine m;
    m.set("user=guest");
    m.attach();

    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    Sc manager(OpenSCManagerA(nullptr, nullptr,
        SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS));
    ASSERT_TRUE(manager) << GetLastError();
    Sc generic(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    EXPECT_TRUE(generic) << GetLastError();

    // The read-only handle cannot create.
    EXPECT_EQ(scmtest::createDriver(manager.get(), "GuestMade", scmtest::driverPath("g.sys")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ScmManager, HandlesAreCheckedForKindAndLife)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "kind.sys", "plain");

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    Sc service(scmtest::createDriver(manager, "Kind", scmtest::driverPath("kind.sys")));
    ASSERT_TRUE(service) << GetLastError();

    // A service handle is no manager and a manager handle no service.
    EXPECT_EQ(OpenServiceA(service.get(), "Kind", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SERVICE_STATUS status {};
    EXPECT_FALSE(QueryServiceStatus(manager, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(StartServiceA(manager, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_FALSE(CloseServiceHandle(manager));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenServiceA(manager, "Kind", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseServiceHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseServiceHandle(reinterpret_cast<SC_HANDLE>(0x1234)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ScmManager, ServiceCallsRefuseAManagerHandleAndOneWithoutTheirRight)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "rights.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager) << GetLastError();
    Sc created(scmtest::createDriver(manager.get(), "Rights", scmtest::driverPath("rights.sys")));
    ASSERT_TRUE(created) << GetLastError();
    Sc interrogateOnly(OpenServiceA(manager.get(), "Rights", SERVICE_INTERROGATE));
    ASSERT_TRUE(interrogateOnly) << GetLastError();

    SERVICE_STATUS status {};
    DWORD needed = 0;
    auto refusals = [&](SC_HANDLE handle) {
        std::vector<DWORD> errors;
        auto record = [&](BOOL ok) { errors.push_back(ok ? DWORD(ERROR_SUCCESS) : GetLastError()); };
        record(StartServiceA(handle, 0, nullptr));
        record(QueryServiceStatus(handle, &status));
        record(QueryServiceConfigA(handle, nullptr, 0, &needed));
        record(ChangeServiceConfigA(handle, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
            nullptr, nullptr, nullptr, nullptr, nullptr));
        record(DeleteService(handle));
        record(ControlService(handle, SERVICE_CONTROL_STOP, &status));
        return errors;
    };
    const DWORD badHandle = ERROR_INVALID_HANDLE, denied = ERROR_ACCESS_DENIED;
    EXPECT_EQ(refusals(manager.get()), std::vector<DWORD>(6, badHandle));
    EXPECT_EQ(refusals(interrogateOnly.get()), std::vector<DWORD>(6, denied));
    EXPECT_EQ(ControlService(interrogateOnly.get(), 0x1234, &status), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "an unknown control before the right";

    auto config = scmtest::valueOf(std::string(scmtest::servicesKey()) + "\\Rights", "Start");
    EXPECT_EQ(config.dword(), static_cast<DWORD>(SERVICE_DEMAND_START)) << "nothing changed";
    EXPECT_EQ(scmtest::statusOf(created.get()).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(ScmManager, ClosingOneHandleFromManyThreadsClosesItOnce)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "twice.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager) << GetLastError();
    Sc kept(scmtest::createDriver(manager.get(), "Twice", scmtest::driverPath("twice.sys")));
    ASSERT_TRUE(kept) << GetLastError();
    ASSERT_TRUE(DeleteService(kept.get())) << GetLastError();

    for (int round = 0; round < 20; ++round) {
        SC_HANDLE shared = OpenServiceA(manager.get(), "Twice", SERVICE_QUERY_STATUS);
        ASSERT_NE(shared, nullptr) << GetLastError();
        std::atomic<int> closed { 0 };
        std::vector<std::thread> closers;
        for (int i = 0; i < 4; ++i)
            closers.emplace_back([&] {
                if (CloseServiceHandle(shared))
                    ++closed;
            });
        for (auto& t : closers)
            t.join();
        EXPECT_EQ(closed.load(), 1) << "round " << round;
        // The other handle still holds the service marked for delete.
        ASSERT_TRUE(scmtest::keyExists(std::string(scmtest::servicesKey()) + "\\Twice")) << "round " << round;
    }
    EXPECT_TRUE(CloseServiceHandle(kept.release()));
    EXPECT_FALSE(scmtest::keyExists(std::string(scmtest::servicesKey()) + "\\Twice"));
}
