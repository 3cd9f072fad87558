// The traces a driver that is not Plug and Play leaves in the Enum tree and
// in its service key when the service controller starts it.
#include "scm_helpers.h"

#include "registry/Keys.h"
#include "machine/Token.h"

#include <gtest/gtest.h>

using scmtest::Sc;
using scmtest::valueOf;

namespace {

const std::string legacyRoot = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_";
const char htree[] = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";
const char enumSddl[] = ";sddl=O:BAG:SYD:(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n";

// The two strings of the default machine's list, with their terminators.
const std::string defaultComponents("Root\\LEGACY_SERIAL\\0000\0Root\\LEGACY_BEEP\\0000\0", 46);

std::string exportOf(const test::TestMachine& m, const std::string& key, int* exitCode = nullptr)
{
    auto r = m.tool({ "reg", "export", m.dir(), key });
    if (exitCode)
        *exitCode = r.exitCode;
    else
        EXPECT_EQ(r.exitCode, 0) << key << ": " << r.out;
    return r.out;
}

bool keyListed(const test::TestMachine& m, const std::string& key)
{
    int exitCode = 0;
    exportOf(m, key, &exitCode);
    return exitCode == 0;
}

std::string deviceExport(const std::string& upper, const std::string& service, const std::string& description)
{
    const std::string key = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_" + upper;
    return "REGEDIT4\n\n" + key + "]\n" + enumSddl + "\"NextInstance\"=dword:00000001\n\n" + key + "\\0000]\n" + enumSddl
        + "\"Service\"=\"" + service + "\"\n\"Legacy\"=dword:00000001\n\"ConfigFlags\"=dword:00000000\n"
          "\"Class\"=\"LegacyDriver\"\n\"ClassGUID\"=\"{8ECC055D-047F-11D1-A537-0000F8753ED1}\"\n"
          "\"DeviceDesc\"=\""
        + description + "\"\n\n";
}

std::string attachedComponents()
{
    auto v = valueOf(htree, "AttachedComponents");
    EXPECT_EQ(v.type, DWORD(REG_MULTI_SZ));
    return std::string(v.data.begin(), v.data.end());
}

void installPackage(const test::TestMachine& m)
{
    auto install = m.run({ "rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV", "128",
                           "C:\\MODEM\\DRV_MEQ.INF" });
    ASSERT_EQ(install.exitCode, 0) << install.out;
}

void import(const test::TestMachine& m, const std::string& text)
{
    std::string file = m.host("C:\\import.reg");
    m.write("C:\\import.reg", "REGEDIT4\n\n" + text);
    auto r = m.tool({ "reg", "import", m.dir(), file });
    ASSERT_EQ(r.exitCode, 0) << r.out;
}

}

TEST(LegacyTraces, StartingThePackageDriverRecordsItsRootDeviceOnceAndStopOrDeleteLeaveIt)
{
    test::TestMachine m;
    installPackage(m);
    // The event-log source is the INF's own work, before any start.
    std::string source = exportOf(m, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Qzvmdm");
    EXPECT_NE(source.find("\"EventMessageFile\"=hex(2):"), std::string::npos) << source;
    EXPECT_FALSE(keyListed(m, legacyRoot + "QZVMDM"));
    EXPECT_FALSE(keyListed(m, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm\\Enum"));

    auto start = m.tool({ "sc", m.dir(), "start", "Qzvmdm" });
    ASSERT_EQ(start.exitCode, 0) << start.out;

    EXPECT_EQ(exportOf(m, legacyRoot + "QZVMDM"), deviceExport("QZVMDM", "Qzvmdm", "Brimlow Soft-Modem Controller"));
    EXPECT_EQ(exportOf(m, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm\\Enum"),
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm\\Enum]\n"
        ";sddl=O:BAG:SYD:(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n"
        "\"0\"=\"Root\\\\LEGACY_QZVMDM\\\\0000\"\n\"Count\"=dword:00000001\n\"NextInstance\"=dword:00000001\n\n");
    for (const char* key : { "", "\\0000" })
        EXPECT_EQ(m.tool({ "reg", "sddl", m.dir(), legacyRoot + "QZVMDM" + key }).out,
            "O:BAG:SYD:(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n")
            << key;

    m.attach();
    const std::string listed = defaultComponents + std::string("Root\\LEGACY_QZVMDM\\0000\0\0", 25);
    EXPECT_EQ(attachedComponents(), listed);
    // Administrators own these keys but may only read them.
    for (const char* key : { "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_QZVMDM",
             "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_QZVMDM\\0000" }) {
        HKEY handle = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &handle), ERROR_ACCESS_DENIED) << key;
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key), ERROR_ACCESS_DENIED) << key;
    }

    // A stop and a second start add nothing: no second instance, no second entry.
    const std::string afterFirst = exportOf(m, "HKLM\\SYSTEM");
    ASSERT_EQ(m.tool({ "sc", m.dir(), "stop", "Qzvmdm" }).exitCode, 0);
    EXPECT_EQ(exportOf(m, "HKLM\\SYSTEM"), afterFirst);
    ASSERT_EQ(m.tool({ "sc", m.dir(), "start", "Qzvmdm" }).exitCode, 0);
    EXPECT_EQ(exportOf(m, "HKLM\\SYSTEM"), afterFirst);
    EXPECT_EQ(attachedComponents(), listed);

    // The service goes; the device it left stays, as the setup program expects.
    ASSERT_EQ(m.tool({ "sc", m.dir(), "stop", "Qzvmdm" }).exitCode, 0);
    {
        Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        Sc service(OpenServiceA(manager.get(), "Qzvmdm", DELETE));
        ASSERT_TRUE(service) << GetLastError();
        ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
    }
    EXPECT_FALSE(keyListed(m, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Qzvmdm"));
    EXPECT_EQ(exportOf(m, legacyRoot + "QZVMDM"), deviceExport("QZVMDM", "Qzvmdm", "Brimlow Soft-Modem Controller"));
    EXPECT_EQ(attachedComponents(), listed);
}

TEST(LegacyTraces, AFailedStartLeavesNoTrace)
{
    test::TestMachine m;
    installPackage(m);
    const std::string before = exportOf(m, "HKLM\\SYSTEM");
    const std::string driver = "C:\\WINNT\\system32\\drivers\\QZVMDM.SYS";
    const std::string image = m.read(driver);

    // The driver's own start fails.
    m.write(driver, "NTSIM DRIVER IMAGE\nBehaviour: fail-start\nError: 31\n");
    auto failed = m.tool({ "sc", m.dir(), "start", "Qzvmdm" });
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_NE(failed.out.find("[SC] StartService FAILED 31:"), std::string::npos) << failed.out;
    EXPECT_EQ(exportOf(m, "HKLM\\SYSTEM"), before);

    // The driver's file is missing.
    m.remove(driver);
    auto missing = m.tool({ "sc", m.dir(), "start", "Qzvmdm" });
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.out.find("[SC] StartService FAILED 2:"), std::string::npos) << missing.out;
    EXPECT_EQ(exportOf(m, "HKLM\\SYSTEM"), before);

    // The same image starts once it is back.
    m.write(driver, image);
    ASSERT_EQ(m.tool({ "sc", m.dir(), "start", "Qzvmdm" }).exitCode, 0);
    EXPECT_TRUE(keyListed(m, legacyRoot + "QZVMDM\\0000"));
}

TEST(LegacyTraces, WhatIsThereAlreadyStaysAndTheRootListIsKeptWhateverItHolds)
{
    test::TestMachine m;
    // Traces of an earlier life of the service, written differently.
    import(m, "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_OLDDRV\\0000]\n"
              "\"Service\"=\"OldDrv\"\n\"DeviceDesc\"=\"Named before\"\n\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0]\n"
              "\"AttachedComponents\"=hex(7):52,6f,6f,74,5c,6c,65,67,61,63,79,5f,6f,6c,64,64,72,76,5c,30,30,30,30,00,00\n");
    m.attach();
    scmtest::writeImage(m, "olddrv.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc old(CreateServiceA(manager.get(), "OldDrv", "Old Driver", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "System32\\drivers\\olddrv.sys", nullptr, nullptr, nullptr, nullptr,
        nullptr));
    ASSERT_TRUE(old) << GetLastError();
    const std::string device = "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_OLDDRV";
    ASSERT_TRUE(StartServiceA(old.get(), 0, nullptr)) << GetLastError();
    // What was written stays; what was missing is added.
    EXPECT_EQ(valueOf(device + "\\0000", "DeviceDesc").text(), "Named before");
    EXPECT_EQ(valueOf(device + "\\0000", "Class").text(), "LegacyDriver");
    EXPECT_EQ(valueOf(device, "NextInstance").dword(), 1u);
    // The list names it already, in other letters.
    EXPECT_EQ(attachedComponents(), std::string("Root\\legacy_olddrv\\0000\0\0", 25));

    // The root device's list as other writers may have left it: unterminated,
    // of another type, missing.
    auto setList = [&](DWORD type, const std::string& bytes) {
        ntsim::AsSystem system;
        HKEY root = nullptr;
        ASSERT_EQ(ntsim::registry::openKey(HKEY_LOCAL_MACHINE, htree, KEY_SET_VALUE, &root), ERROR_SUCCESS);
        if (type == REG_NONE)
            EXPECT_EQ(ntsim::registry::deleteValue(root, "AttachedComponents"), ERROR_SUCCESS);
        else
            EXPECT_EQ(ntsim::registry::setValue(root, "AttachedComponents", type,
                          reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size())),
                ERROR_SUCCESS);
        ntsim::registry::closeKey(root);
    };
    auto startNew = [&](const char* name, DWORD type) {
        scmtest::writeImage(m, std::string(name) + ".sys", "plain");
        Sc service(CreateServiceA(manager.get(), name, nullptr, SERVICE_ALL_ACCESS, type, SERVICE_DEMAND_START,
            SERVICE_ERROR_NORMAL, (std::string("System32\\drivers\\") + name + ".sys").c_str(), nullptr, nullptr,
            nullptr, nullptr, nullptr));
        ASSERT_TRUE(service) << GetLastError();
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    };
    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, KEY_SET_VALUE, &root), ERROR_ACCESS_DENIED)
        << "the root device is the system's";

    setList(REG_MULTI_SZ, "Root\\LEGACY_SERIAL\\0000");
    startNew("NewDrv", SERVICE_FILE_SYSTEM_DRIVER);
    EXPECT_EQ(attachedComponents(), std::string("Root\\LEGACY_SERIAL\\0000\0Root\\LEGACY_NEWDRV\\0000\0\0", 49));
    // Without a display name the device is described by the service's name.
    EXPECT_EQ(valueOf("SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_NEWDRV\\0000", "DeviceDesc").text(), "NewDrv");
    EXPECT_EQ(valueOf("SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_NEWDRV\\0000", "Service").text(), "NewDrv");

    setList(REG_SZ, "Root\\Other");
    startNew("SzDrv", SERVICE_KERNEL_DRIVER);
    auto kept = valueOf(htree, "AttachedComponents");
    EXPECT_EQ(kept.type, DWORD(REG_SZ));
    // Read back with the terminator RegQueryValueEx adds to a bare string.
    EXPECT_EQ(std::string(kept.data.begin(), kept.data.end()), std::string("Root\\Other\0", 11));
    EXPECT_EQ(valueOf("SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_SZDRV\\0000", "Service").text(), "SzDrv");

    setList(REG_NONE, "");
    startNew("LastDrv", SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(attachedComponents(), std::string("Root\\LEGACY_LASTDRV\\0000\0\0", 26));
}
