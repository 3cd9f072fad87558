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

TEST(ScmTool, CreateQcConfigNamesQueryAllAndDeleteAnswerAsScDoes)
{
    test::TestMachine m;
    scmtest::writeImage(m, "made.sys", "plain");
    auto created = m.tool({ "sc", m.dir(), "create", "MadeBySc", "binPath=", "System32\\drivers\\made.sys", "type=",
        "kernel", "start=", "demand", "DisplayName=", "Made By sc", "depend=", "Beep/+Base" });
    ASSERT_EQ(created.exitCode, 0) << created.out;
    EXPECT_EQ(created.out, "[SC] CreateService SUCCESS\n");

    auto qc = m.tool({ "sc", m.dir(), "qc", "madebysc" });
    EXPECT_EQ(qc.exitCode, 0) << qc.out;
    EXPECT_EQ(qc.out,
        "[SC] GetServiceConfig SUCCESS\n\n"
        "SERVICE_NAME: madebysc\n"
        "        TYPE               : 1  KERNEL_DRIVER\n"
        "        START_TYPE         : 3   DEMAND_START\n"
        "        ERROR_CONTROL      : 1   NORMAL\n"
        "        BINARY_PATH_NAME   : System32\\drivers\\made.sys\n"
        "        LOAD_ORDER_GROUP   : \n"
        "        TAG                : 0\n"
        "        DISPLAY_NAME       : Made By sc\n"
        "        DEPENDENCIES       : Beep\n"
        "                           : +Base\n"
        "        SERVICE_START_NAME : \n");

    auto config = m.tool({ "sc", m.dir(), "config", "MadeBySc", "start=", "disabled", "error=", "severe" });
    EXPECT_EQ(config.exitCode, 0) << config.out;
    EXPECT_EQ(config.out, "[SC] ChangeServiceConfig SUCCESS\n");
    EXPECT_NE(m.tool({ "sc", m.dir(), "qc", "MadeBySc" }).out.find("START_TYPE         : 4   DISABLED"), std::string::npos);
    // sc's exit status is the call's error, as much of it as an exit
    // status holds.
    auto disabled = m.tool({ "sc", m.dir(), "start", "MadeBySc" });
    EXPECT_EQ(disabled.exitCode, 1058 & 0xFF) << disabled.out;
    EXPECT_EQ(disabled.out.rfind("[SC] StartService FAILED 1058:", 0), 0u) << disabled.out;

    auto display = m.tool({ "sc", m.dir(), "getdisplayname", "madebysc" });
    EXPECT_EQ(display.out, "[SC] GetServiceDisplayName SUCCESS  Name = Made By sc\n");
    auto key = m.tool({ "sc", m.dir(), "getkeyname", "made by SC" });
    EXPECT_EQ(key.out, "[SC] GetServiceKeyName SUCCESS  Name = MadeBySc\n");
    auto unknown = m.tool({ "sc", m.dir(), "getkeyname", "Nobody's" });
    EXPECT_EQ(unknown.exitCode, 1060 & 0xFF);

    // Without a name: every driver of the machine, each with its display name.
    auto drivers = m.tool({ "sc", m.dir(), "query", "type=", "driver", "state=", "all" });
    EXPECT_EQ(drivers.exitCode, 0) << drivers.out;
    EXPECT_NE(drivers.out.find("\nSERVICE_NAME: MadeBySc\nDISPLAY_NAME: Made By sc\n        TYPE               : 1  KERNEL_DRIVER\n"),
        std::string::npos)
        << drivers.out;
    EXPECT_EQ(m.tool({ "sc", m.dir(), "query" }).out.find("MadeBySc"), std::string::npos) << "only running Win32 services";

    auto removed = m.tool({ "sc", m.dir(), "delete", "MadeBySc" });
    EXPECT_EQ(removed.out, "[SC] DeleteService SUCCESS\n");
    EXPECT_EQ(m.tool({ "sc", m.dir(), "qc", "MadeBySc" }).exitCode, 1060 & 0xFF);

    // Refusals of the command line: one line, status 2.
    auto noPath = m.tool({ "sc", m.dir(), "create", "X" });
    EXPECT_EQ(noPath.exitCode, 2);
    EXPECT_EQ(noPath.out, "ntsim: sc: create needs binPath= PATH (see ntsim sc --help)\n");
    auto badStart = m.tool({ "sc", m.dir(), "config", "X", "start=", "sometimes" });
    EXPECT_EQ(badStart.exitCode, 2);
    EXPECT_NE(badStart.out.find("start= sometimes is not one of sc's values"), std::string::npos) << badStart.out;
    auto help = m.tool({ "sc", "--help" });
    EXPECT_NE(help.out.find("getkeyname DISPLAYNAME"), std::string::npos) << help.out;
}
