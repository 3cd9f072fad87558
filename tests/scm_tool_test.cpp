#include "scm_helpers.h"

#include "machine/Machine.h"

#include <gtest/gtest.h>

using scmtest::Sc;

TEST(ScmTool, AnotherProcessSeesAndDrivesTheSameServices)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "shared.sys", "softmodem");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(scmtest::createDriver(manager.get(), "Shared", scmtest::driverPath("shared.sys")));
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();

    auto query = m.tool({ "sc", m.dir(), "query", "Shared" });
    EXPECT_EQ(query.exitCode, 0) << query.out;
    EXPECT_EQ(query.out,
        "\nSERVICE_NAME: Shared\n"
        "        TYPE               : 1  KERNEL_DRIVER\n"
        "        STATE              : 4  RUNNING\n"
        "                                (STOPPABLE,NOT_PAUSABLE,IGNORES_SHUTDOWN)\n"
        "        WIN32_EXIT_CODE    : 0  (0x0)\n"
        "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
        "        CHECKPOINT         : 0x0\n"
        "        WAIT_HINT          : 0x0\n");

    auto again = m.tool({ "sc", m.dir(), "start", "Shared" });
    EXPECT_NE(again.exitCode, 0);
    EXPECT_EQ(again.out, "[SC] StartService FAILED 1056:\n\nAn instance of the service is already running.\n\n");

    auto stop = m.tool({ "sc", m.dir(), "stop", "shared" });
    EXPECT_EQ(stop.exitCode, 0) << stop.out;
    EXPECT_NE(stop.out.find("STATE              : 1  STOPPED"), std::string::npos) << stop.out;
    EXPECT_EQ(scmtest::statusOf(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(scmtest::valueOf("HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Shared0").type,
        static_cast<DWORD>(REG_NONE)) << "the other process's stop unloaded the driver";

    auto start = m.tool({ "sc", m.dir(), "start", "Shared" });
    EXPECT_EQ(start.exitCode, 0) << start.out;
    EXPECT_EQ(scmtest::statusOf(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    auto missing = m.tool({ "sc", m.dir(), "query", "NoSuch" });
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_EQ(missing.out, "[SC] OpenService FAILED 1060:\n\nThe specified service does not exist as an installed service.\n\n");
    EXPECT_NE(m.tool({ "sc", m.dir(), "restart", "Shared" }).exitCode, 0);
}

TEST(ScmTool, FaultsAreSetByNameOrNumberAndCounted)
{
    test::TestMachine m;
    scmtest::writeImage(m, "f.sys", "plain");
    {
        m.attach();
        Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        Sc service(scmtest::createDriver(manager.get(), "Faulty", scmtest::driverPath("f.sys")));
        ASSERT_TRUE(service);
    }
    auto set = m.tool({ "fault", m.dir(), "StartServiceA", "ERROR_SERVICE_DATABASE_LOCKED", "--nth", "2" });
    EXPECT_EQ(set.exitCode, 0) << set.out;
    EXPECT_EQ(set.out, "fault: call 2 of StartServiceA fails with 1055 (ERROR_SERVICE_DATABASE_LOCKED)\n");
    auto hex = m.tool({ "fault", m.dir(), "OpenSCManagerA", "0x5" });
    EXPECT_EQ(hex.out, "fault: call 1 of OpenSCManagerA fails with 5 (ERROR_ACCESS_DENIED)\n");
    EXPECT_NE(m.tool({ "fault", m.dir(), "StartServiceA", "ERROR_NO_SUCH_THING" }).exitCode, 0);
    EXPECT_NE(m.tool({ "fault", m.dir(), "StartServiceA", "5", "--nth", "0" }).exitCode, 0);

    m.attach();
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager) << "only the first call fails";
    Sc service(OpenServiceA(manager.get(), "Faulty", SERVICE_ALL_ACCESS));
    SERVICE_STATUS status {};
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
    EXPECT_EQ(scmtest::statusOf(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

    auto clear = m.tool({ "fault", m.dir(), "--clear" });
    EXPECT_EQ(clear.out, "cleared 2 faults\n");
    ntsim::Machine machine;
    std::string error;
    ASSERT_TRUE(ntsim::Machine::open(m.dir(), machine, error));
    EXPECT_TRUE(machine.config().faults.empty());
}
