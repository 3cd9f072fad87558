// The sample package's driver installed from the command line, as a person
// would try the INF: rundll32, then the service started and stopped with sc.
#include "support/TestMachine.h"

#include <gtest/gtest.h>

namespace {

std::string Export(const test::TestMachine& m, const std::string& key)
{
    auto result = m.tool({ "reg", "export", m.dir(), key });
    EXPECT_EQ(result.exitCode, 0) << result.out;
    return result.out;
}

}

TEST(PackageInstall, RundllInstallsTheDriverAndScStartsAndStopsIt)
{
    test::TestMachine m;
    auto install = m.run({ "rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV", "128",
                           "C:\\MODEM\\DRV_MEQ.INF" });
    ASSERT_EQ(install.exitCode, 0) << install.out;
    EXPECT_TRUE(install.transcript.empty()) << "128: no prompt and no restart box";
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\drivers\\QZVMDM.SYS"), m.read("C:\\MODEM\\QZVMDM.SYS"));

    std::string service = Export(m, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm");
    EXPECT_NE(service.find("\"Type\"=dword:00000001"), std::string::npos) << service;
    EXPECT_NE(service.find("\"Start\"=dword:00000003"), std::string::npos) << service;
    EXPECT_NE(service.find("\"DisplayName\"=\"Brimlow Soft-Modem Controller\""), std::string::npos) << service;

    auto start = m.tool({ "sc", m.dir(), "start", "Qzvmdm" });
    ASSERT_EQ(start.exitCode, 0) << start.out;
    auto query = m.tool({ "sc", m.dir(), "query", "Qzvmdm" });
    EXPECT_NE(query.out.find("RUNNING"), std::string::npos) << query.out;

    std::string parameters = Export(m, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm\\Parameters\\Qzvmdm0");
    // The values of the machine's soft modem, as the default machine has it.
    EXPECT_NE(parameters.find("\"PciVendorID\"=dword:00001a7e"), std::string::npos) << parameters;
    EXPECT_NE(parameters.find("\"PciDeviceID\"=dword:00005c21"), std::string::npos) << parameters;
    EXPECT_NE(parameters.find("\"PciSubsystemID\"=dword:00000410"), std::string::npos) << parameters;
    EXPECT_NE(parameters.find("\"PciSubsystemVendorID\"=dword:00001a7e"), std::string::npos) << parameters;
    EXPECT_NE(parameters.find("\"PciRevision\"=dword:00000002"), std::string::npos) << parameters;
    std::string ports = Export(m, "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    EXPECT_NE(ports.find("\"\\\\Device\\\\Qzvmdm0\"=\"COM3\""), std::string::npos) << ports;

    auto stop = m.tool({ "sc", m.dir(), "stop", "Qzvmdm" });
    ASSERT_EQ(stop.exitCode, 0) << stop.out;
    ports = Export(m, "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    EXPECT_EQ(ports.find("Qzvmdm0"), std::string::npos) << ports;
    EXPECT_NE(ports.find("COM1"), std::string::npos) << ports;
}

TEST(PackageInstall, TheInstallSectionCopiesTheInfsAndAddsTheFurtherServicesWhichTheUninstallRemoves)
{
    test::TestMachine m;
    auto install = m.run({ "rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV", "128",
                           "C:\\MODEM\\DRV_MEQ.INF" });
    ASSERT_EQ(install.exitCode, 0) << install.out;
    // The copy of the setup INF is found by its bare name in the INF directory.
    EXPECT_EQ(m.read("C:\\WINNT\\INF\\drv_meq.inf"), m.read("C:\\MODEM\\DRV_MEQ.INF"));
    EXPECT_EQ(m.read("C:\\WINNT\\INF\\MDMQZV.INF"), m.read("C:\\MODEM\\MDMQZV.INF"));
    for (const char* file : { "QZVTAPI.SYS", "QZVFAX.SYS" })
        EXPECT_EQ(m.read(std::string("C:\\WINNT\\system32\\drivers\\") + file), m.read(std::string("C:\\MODEM\\") + file));

    for (const char* service : { "Qzvtapi", "Qzvfax" }) {
        SCOPED_TRACE(service);
        std::string key = Export(m, std::string("HKLM\\SYSTEM\\CurrentControlSet\\Services\\") + service);
        EXPECT_NE(key.find("\"Type\"=dword:00000001"), std::string::npos) << key;
        EXPECT_NE(key.find("\"Start\"=dword:00000003"), std::string::npos) << key;
        auto start = m.tool({ "sc", m.dir(), "start", service });
        ASSERT_EQ(start.exitCode, 0) << start.out;
        EXPECT_NE(start.out.find("RUNNING"), std::string::npos) << start.out;
        auto stop = m.tool({ "sc", m.dir(), "stop", service });
        ASSERT_EQ(stop.exitCode, 0) << stop.out;
        EXPECT_NE(stop.out.find("STOPPED"), std::string::npos) << stop.out;
    }

    // The uninstall stops what runs and takes the services, the files and the INF copies.
    ASSERT_EQ(m.tool({ "sc", m.dir(), "start", "Qzvfax" }).exitCode, 0);
    auto uninstall = m.run({ "rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV.Uninstall",
                             "128", "C:\\MODEM\\DRV_MEQ.INF" });
    ASSERT_EQ(uninstall.exitCode, 0) << uninstall.out;
    for (const char* service : { "Qzvmdm", "Qzvtapi", "Qzvfax" }) {
        auto query = m.tool({ "sc", m.dir(), "query", service });
        EXPECT_NE(query.out.find("1060"), std::string::npos) << service << ": " << query.out;
    }
    for (const char* file : { "C:\\WINNT\\system32\\drivers\\QZVMDM.SYS", "C:\\WINNT\\system32\\drivers\\QZVTAPI.SYS",
             "C:\\WINNT\\system32\\drivers\\QZVFAX.SYS", "C:\\WINNT\\INF\\drv_meq.inf", "C:\\WINNT\\INF\\MDMQZV.INF" })
        EXPECT_FALSE(m.exists(file)) << file;
}
