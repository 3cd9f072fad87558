#include "scm_helpers.h"

#include "advapi32/DriverRuntime.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <cstdio>

using scmtest::Sc;
using scmtest::valueOf;

namespace {

const char serialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string parametersKey(const std::string& service)
{
    return std::string(scmtest::servicesKey()) + "\\" + service + "\\Parameters\\" + service + "0";
}

const ntsim::PciDevice* softModem()
{
    for (auto& d : ntsim::Machine::current().config().pci)
        if (d.kind == "softmodem")
            return &d;
    return nullptr;
}

void removePciDevices(const test::TestMachine& m)
{
    ntsim::Machine machine;
    std::string error;
    ASSERT_TRUE(ntsim::Machine::open(m.dir(), machine, error)) << error;
    machine.config().pci.clear();
    ASSERT_TRUE(machine.saveConfig(error)) << error;
}

}

TEST(ScmDriver, SoftModemWritesItsPciValuesAndTakesTheFirstFreePort)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "xyz.sys", "softmodem");
    const ntsim::PciDevice* modem = softModem();
    ASSERT_NE(modem, nullptr) << "the default machine has a soft modem";

    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(scmtest::createDriver(manager.get(), "Xyz", "\\SystemRoot\\System32\\drivers\\xyz.sys"));
    ASSERT_TRUE(service) << GetLastError();
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();

    std::string key = parametersKey("Xyz");
    const std::pair<const char*, DWORD> expected[] = {
        { "PciVendorID", modem->vendorId },
        { "PciDeviceID", modem->deviceId },
        { "PciSubsystemID", modem->subsystemId },
        { "PciSubsystemVendorID", modem->subsystemVendorId },
        { "PciRevision", modem->revision },
    };
    for (auto& [name, value] : expected) {
        auto v = valueOf(key, name);
        EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD)) << name;
        EXPECT_EQ(v.data.size(), 4u) << name;
        EXPECT_EQ(v.dword(), value) << name;
    }
    // The hardware id the setup program builds from them.
    char id[128];
    std::snprintf(id, sizeof id, "VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X", valueOf(key, "PciVendorID").dword(),
        valueOf(key, "PciDeviceID").dword(), valueOf(key, "PciSubsystemID").dword(),
        valueOf(key, "PciSubsystemVendorID").dword(), valueOf(key, "PciRevision").dword());
    char fromMachine[128];
    std::snprintf(fromMachine, sizeof fromMachine, "VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X", modem->vendorId,
        modem->deviceId, modem->subsystemId, modem->subsystemVendorId, modem->revision);
    EXPECT_STREQ(id, fromMachine);

    // COM1 and COM2 are the machine's own ports.
    EXPECT_EQ(valueOf(serialComm, "\\Device\\Xyz0").type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(valueOf(serialComm, "\\Device\\Xyz0").text(), "COM3");

    SERVICE_STATUS status = scmtest::statusOf(service.get());
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(valueOf(serialComm, "\\Device\\Xyz0").type, static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(valueOf(key, "PciDeviceID").dword(), static_cast<DWORD>(modem->deviceId)) << "parameters stay";
    EXPECT_EQ(scmtest::statusOf(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(ScmDriver, SoftModemWithoutItsDeviceFailsAsNoSuchDevice)
{
    test::TestMachine m;
    removePciDevices(m);
    m.attach();
    scmtest::writeImage(m, "xyz.sys", "softmodem");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(scmtest::createDriver(manager.get(), "Xyz", scmtest::driverPath("xyz.sys")));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SERVICE_STATUS status = scmtest::statusOf(service.get());
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(scmtest::keyExists(parametersKey("Xyz")));
    EXPECT_EQ(valueOf(serialComm, "\\Device\\Xyz0").type, static_cast<DWORD>(REG_NONE));
}

TEST(ScmDriver, TwoModemsTakeSuccessivePortsAndAStoppedOneFreesItsPort)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "a.sys", "softmodem");
    scmtest::writeImage(m, "b.sys", "softmodem");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc a(scmtest::createDriver(manager.get(), "ModemA", scmtest::driverPath("a.sys")));
    Sc b(scmtest::createDriver(manager.get(), "ModemB", scmtest::driverPath("b.sys")));
    ASSERT_TRUE(StartServiceA(a.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(StartServiceA(b.get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(valueOf(serialComm, "\\Device\\ModemA0").text(), "COM3");
    EXPECT_EQ(valueOf(serialComm, "\\Device\\ModemB0").text(), "COM4");
    SERVICE_STATUS status {};
    ASSERT_TRUE(ControlService(a.get(), SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(ControlService(b.get(), SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(StartServiceA(b.get(), 0, nullptr));
    EXPECT_EQ(valueOf(serialComm, "\\Device\\ModemB0").text(), "COM3");
    EXPECT_EQ(valueOf(serialComm, "COM1").type, static_cast<DWORD>(REG_NONE)) << "ports are data, not names";
}

TEST(ScmDriver, ImagesThatDoNotLoadFailTheStartAsNtReportsIt)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\WINNT\\system32\\drivers\\junk.sys", "MZ this is no driver image\n");
    m.write("C:\\WINNT\\system32\\drivers\\nobehaviour.sys", "NTSIM DRIVER IMAGE\nBehaviour: dances\n");
    scmtest::writeImage(m, "fails.sys", "fail-start");
    scmtest::writeImage(m, "fails1114.sys", "fail-start", "Error: 1114\n");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    struct Case {
        const char* name;
        const char* path;
        DWORD error;
    };
    const Case cases[] = {
        { "Missing", "System32\\drivers\\missing.sys", ERROR_FILE_NOT_FOUND },
        { "NoDir", "System32\\nodir\\missing.sys", ERROR_PATH_NOT_FOUND },
        { "Junk", "System32\\drivers\\junk.sys", ERROR_BAD_EXE_FORMAT },
        { "NoBehaviour", "System32\\drivers\\nobehaviour.sys", ERROR_BAD_EXE_FORMAT },
        { "Fails", "System32\\drivers\\fails.sys", ERROR_GEN_FAILURE },
        { "Fails1114", "System32\\drivers\\fails1114.sys", 1114 },
    };
    for (auto& c : cases) {
        Sc service(scmtest::createDriver(manager.get(), c.name, c.path));
        ASSERT_TRUE(service) << c.name << " " << GetLastError();
        SetLastError(0);
        EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr)) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        SERVICE_STATUS status = scmtest::statusOf(service.get());
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED)) << c.name;
        EXPECT_EQ(status.dwWin32ExitCode, c.error) << c.name;
    }
}

TEST(ScmDriver, ImagePathsResolveAsTheLoaderDoes)
{
    test::TestMachine m;
    m.attach();
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "", true), "C:\\WINNT\\system32\\drivers\\Xyz.sys");
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "\\SystemRoot\\System32\\drivers\\x.sys", true),
        "C:\\WINNT\\System32\\drivers\\x.sys");
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "System32\\drivers\\x.sys", true), "C:\\WINNT\\System32\\drivers\\x.sys");
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "%SystemRoot%\\System32\\drivers\\x.sys", true),
        "C:\\WINNT\\System32\\drivers\\x.sys");
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "\\??\\C:\\MODEM\\x.sys", true), "C:\\MODEM\\x.sys");
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "C:\\MODEM\\x.sys", true), "C:\\MODEM\\x.sys");
    EXPECT_EQ(ntsim::serviceImagePath("Xyz", "\\Device\\Thing", true), "");
    EXPECT_EQ(ntsim::serviceImagePath("Help", "\"C:\\Program Files\\help.exe\" -service", false),
        "C:\\Program Files\\help.exe");
    EXPECT_EQ(ntsim::serviceImagePath("Help", "%SystemRoot%\\System32\\help.exe -x", false),
        "C:\\WINNT\\System32\\help.exe");

    // The same image found through each form starts.
    scmtest::writeImage(m, "forms.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    int n = 0;
    for (const char* path : { "\\SystemRoot\\System32\\drivers\\forms.sys", "System32\\DRIVERS\\Forms.sys",
             "%SystemRoot%\\System32\\drivers\\forms.sys", "C:\\WINNT\\system32\\drivers\\forms.sys" }) {
        std::string name = "Forms" + std::to_string(n++);
        Sc service(scmtest::createDriver(manager.get(), name, path));
        EXPECT_TRUE(StartServiceA(service.get(), 0, nullptr)) << path << " " << GetLastError();
    }
}

TEST(ScmDriver, ServiceProgramsStartFromTheirImageLine)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\WINNT\\system32\\helper.exe", "NTSIM DRIVER IMAGE\nBehaviour: plain\n");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc helper(CreateServiceA(manager.get(), "Helper", "Modem Helper", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "\"%SystemRoot%\\System32\\helper.exe\" -service", nullptr, nullptr,
        nullptr, nullptr, nullptr));
    ASSERT_TRUE(helper) << GetLastError();
    ASSERT_TRUE(StartServiceA(helper.get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS status = scmtest::statusOf(helper.get());
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    // An ordinary program never answers the controller.
    ASSERT_TRUE(m.exists("C:\\WINNT\\system32\\rundll32.exe"));
    Sc program(CreateServiceA(manager.get(), "NotAService", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\WINNT\\system32\\rundll32.exe", nullptr, nullptr, nullptr,
        nullptr, nullptr));
    EXPECT_FALSE(StartServiceA(program.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
}
