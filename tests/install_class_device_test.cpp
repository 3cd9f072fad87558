// The modem class device of the program: installing it through the
// device installer and the machine's Modem class installer, and removing
// it, on fresh machines, with every trace line of both functions.
#include "install/ClassDevice.h"

#include "support/RegistryProbe.h"
#include "support/DriverHarness.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>

using Lines = std::vector<std::string>;

using test::KeyExists;

namespace {

const char hardwareId[] = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02";
const char description[] = "Brimlow 56K PCI Data Fax Modem";
const char modemClass[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char enumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
const char deviceSpecific[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific\\";

std::u16string W(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

const WCHAR* Modem()
{
    static const std::u16string name = u"Modem";
    return name.c_str();
}

// A machine whose INF directory holds the package's modem INF, as the
// driver's install section leaves it.
class ModemMachine : public test::DriverHarness {
public:
    explicit ModemMachine(std::initializer_list<test::Fault> faults = {})
        : DriverHarness(faults)
    {
        machine().write("C:\\WINNT\\INF\\MDMQZV.INF", machine().read("C:\\MODEM\\MDMQZV.INF"));
    }

    BOOL Install(const std::string& name, const std::string& text, BOOL match = TRUE)
    {
        return InstallClassDevice(Modem(), W(name).c_str(), W(text).c_str(), match);
    }
    BOOL Remove(const std::string& fragment) { return UnInstallClassDevice(Modem(), W(fragment).c_str()); }
};

struct Value {
    DWORD type { REG_NONE };
    std::string data;
    bool found { false };
};

Value Read(const std::string& key, const std::string& name)
{
    Value v;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return v;
    char data[1024];
    DWORD size = sizeof data;
    v.found = RegQueryValueExA(h, name.c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS;
    RegCloseKey(h);
    if (v.found)
        v.data.assign(data, size);
    return v;
}

std::string Text(const std::string& key, const std::string& name)
{
    Value v = Read(key, name);
    if (!v.found)
        return "<none>";
    return v.data.substr(0, v.data.find('\0'));
}

DWORD ValueCount(const std::string& key)
{
    HKEY h;
    DWORD count = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return 0;
    RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return count;
}

std::string Size(size_t bytes)
{
    return std::to_string(bytes);
}

}

TEST(InstallClassDevice, InstallsTheModemWithItsDriverKeyCountryAndResponses)
{
    ModemMachine m;
    ASSERT_TRUE(m.Install(hardwareId, description));
    EXPECT_EQ(m.newLogLines(), Lines { "InstallClassDevice exit with BOOLEAN 1" });

    std::string device = std::string(enumRoot) + hardwareId + "\\0000";
    EXPECT_EQ(Text(device, "Driver"), "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000");
    EXPECT_EQ(Text(device, "ClassGUID"), "{4D36E96D-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(Text(device, "Class"), "Modem");
    EXPECT_EQ(Text(device, "DeviceDesc"), description);
    EXPECT_EQ(Text(device, "Mfg"), "Brimlow");

    std::string driver = std::string(modemClass) + "\\0000";
    std::string responsesName = std::string(description) + "::Brimlow::Brimlow";
    EXPECT_EQ(Text(driver, "DriverDesc"), description);
    EXPECT_EQ(Text(driver, "ProviderName"), "Brimlow");
    EXPECT_EQ(Text(driver, "InfPath"), "MDMQZV.INF");
    EXPECT_EQ(Text(driver, "InfSection"), "Modem56");
    EXPECT_EQ(Text(driver, "MatchingDeviceId"), hardwareId);
    EXPECT_EQ(Text(driver, "Manufacturer"), "Brimlow");
    EXPECT_EQ(Text(driver, "Model"), description);
    EXPECT_EQ(Text(driver, "ResponsesKeyName"), responsesName);
    // The model's install section ran with HKR at the driver key.
    EXPECT_EQ(Text(driver + "\\Init", "2"), "AT&FE0V1&C1&D2S0=0<cr>");
    EXPECT_EQ(Text(driver + "\\Settings", "Compression_On"), "%C1");
    Value country = Read(driver + "\\Country", "Current");
    EXPECT_EQ(country.type, DWORD(REG_BINARY));
    EXPECT_EQ(country.data, std::string("\x00\x01", 2));
    // The responses moved to the key the models of this name share.
    EXPECT_FALSE(KeyExists(driver + "\\Responses"));
    Value ok = Read(std::string(deviceSpecific) + responsesName + "\\Responses", "<cr><lf>OK<cr><lf>");
    EXPECT_EQ(ok.type, DWORD(REG_BINARY));
    EXPECT_EQ(ok.data, std::string(10, '\0'));
    EXPECT_EQ(ValueCount(std::string(deviceSpecific) + responsesName + "\\Responses"), 13u);

    // A second modem of the same id is the next instance, with its own driver key.
    ASSERT_TRUE(m.Install(hardwareId, description));
    EXPECT_EQ(Text(std::string(enumRoot) + hardwareId + "\\0001", "Driver"),
        "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001");
}

TEST(InstallClassDevice, CountryOfTheInfIsKept)
{
    ModemMachine m;
    std::string inf = m.machine().read("C:\\WINNT\\INF\\MDMQZV.INF");
    size_t at = inf.find("[Modem56.AddReg]\r\n");
    ASSERT_NE(at, std::string::npos);
    inf.insert(at + 18, "HKR, Country, Current, 1, b5, 00\r\n");
    m.machine().write("C:\\WINNT\\INF\\MDMQZV.INF", inf);
    ASSERT_TRUE(m.Install(hardwareId, description));
    EXPECT_EQ(Read(std::string(modemClass) + "\\0000\\Country", "Current").data, std::string("\xb5\x00", 2));
}

struct FailingStep {
    const char* api;
    unsigned nth;
    std::string line; // empty: the step writes none of its own
    bool registered;  // the device stays registered
};

TEST(InstallClassDevice, EveryFailingStepWritesItsLineAndEndsWithFalse)
{
    const std::string forDevice = std::string(" failed for ") + hardwareId;
    const std::string forDescription = std::string(" failed for ") + description;
    const FailingStep steps[] = {
        { "GlobalAlloc", 1, "InstallClassDevice cannot allocate " + Size(sizeof(SP_DEVINFO_DATA)) + " bytes (PSP_DEVINFO_DATA)", false },
        { "GlobalAlloc", 2, "InstallClassDevice cannot allocate " + Size(sizeof(SP_DRVINFO_DATA_V1_W)) + " bytes (PSP_DRVINFO_DATA)", false },
        { "SetupDiClassGuidsFromNameW", 1, "InstallClassDevice SetupDiClassGuidsFromName failed for Modem5", false },
        { "SetupDiCreateDeviceInfoList", 1, "InstallClassDevice SetupDiCreateDeviceInfoList 0", false },
        { "SetupDiCreateDeviceInfoW", 1, "InstallClassDevice SetupDiCreateDeviceInfo" + forDevice, false },
        { "SetupDiBuildDriverInfoList", 1, "InstallClassDevice SetupDiBuildDriverInfoList" + forDevice, false },
        { "SetupDiEnumDriverInfoW", 1, "", false },
        { "SetupDiGetDeviceInstallParamsW", 1, "InstallClassDevice SetupDiGetDeviceInstallParams" + forDescription, false },
        { "SetupDiSetDeviceInstallParamsW", 1, "InstallClassDevice SetupDiSetDeviceInstallParams" + forDescription, false },
        { "SetupDiSetSelectedDevice", 1, "InstallClassDevice SetupDiSetSelectedDevice" + forDescription, false },
        { "SetupDiSetSelectedDriverW", 1, "InstallClassDevice SetupDiSetSelectedDriver" + forDescription, false },
        { "SetupDiRegisterDeviceInfo", 1, "InstallClassDevice SetupDiRegisterDeviceInfo" + forDescription, false },
        { "SetupDiCallClassInstaller", 1, "InstallClassDevice SetupDiCallClassInstaller" + forDescription, true },
    };
    for (const FailingStep& step : steps) {
        SCOPED_TRACE(std::string(step.api) + " #" + std::to_string(step.nth));
        ModemMachine m({ { step.api, "5", step.nth } });
        EXPECT_FALSE(m.Install(hardwareId, description));
        Lines expected;
        if (!step.line.empty())
            expected.push_back(step.line);
        expected.push_back("InstallClassDevice exit with BOOLEAN 0");
        EXPECT_EQ(m.newLogLines(), expected);
        // Nothing is rolled back once the device is registered.
        EXPECT_EQ(KeyExists(std::string(enumRoot) + hardwareId + "\\0000"), step.registered);
        EXPECT_FALSE(KeyExists(std::string(modemClass) + "\\0000"));
    }
}

TEST(InstallClassDevice, WithoutTheModemClassBothReportSuccessAndTouchNoDevice)
{
    ModemMachine m;
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, modemClass), ERROR_SUCCESS);
    EXPECT_TRUE(m.Install(hardwareId, description));
    EXPECT_TRUE(m.Remove(hardwareId));
    EXPECT_EQ(m.newLogLines(), (Lines {
        "InstallClassDevice SetupDiClassGuidsFromName RequiredSize 0 (should be 1)",
        "InstallClassDevice exit with BOOLEAN 1",
        "UnInstallClassDevice SetupDiClassGuidsFromName RequiredSize 0 (should be 1)",
        "UnInstallClassDevice exit with 1",
    }));
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + hardwareId));
}

TEST(InstallClassDevice, ChoosesTheDriverByItsExactDescription)
{
    ModemMachine m;
    // No class driver has this description: only the exit line.
    EXPECT_FALSE(m.Install(hardwareId, "brimlow 56K PCI Data Fax Modem"));
    EXPECT_EQ(m.newLogLines(), Lines { "InstallClassDevice exit with BOOLEAN 0" });
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + hardwareId));

    // Without matching, the first class driver, whatever the description given.
    EXPECT_TRUE(m.Install(hardwareId, "no such model", FALSE));
    EXPECT_EQ(Text(std::string(modemClass) + "\\0000", "DriverDesc"), description);
    EXPECT_EQ(Text(std::string(enumRoot) + hardwareId + "\\0000", "DeviceDesc"), description);

    EXPECT_TRUE(m.Install("OTHERMODEM", "Brimlow 33.6K PCI Data Fax Modem"));
    EXPECT_EQ(Text(std::string(modemClass) + "\\0001", "InfSection"), "Modem33");
}

TEST(InstallClassDevice, OfTwoDriversWithOneDescriptionTheFirstIsChosen)
{
    ModemMachine m;
    m.machine().write("C:\\WINNT\\INF\\TWINS.INF",
        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n"
        "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\nProvider=Twins\r\n"
        "[Manufacturer]\r\nTwins=TwinModels\r\n"
        "[TwinModels]\r\n\"Twin Modem\" = First, TWIN\\1\r\n\"Twin Modem\" = Second, TWIN\\2\r\n"
        "[First]\r\nAddReg=FirstReg\r\n[FirstReg]\r\nHKR,,Which,,first\r\n"
        "[Second]\r\nAddReg=SecondReg\r\n[SecondReg]\r\nHKR,,Which,,second\r\n");
    ASSERT_TRUE(m.Install("TWIN", "Twin Modem"));
    std::string driver = std::string(modemClass) + "\\0000";
    EXPECT_EQ(Text(driver, "InfSection"), "First");
    EXPECT_EQ(Text(driver, "Which"), "first");
    EXPECT_EQ(Text(driver, "ResponsesKeyName"), "Twin Modem::Twins::Twins");
}

TEST(UnInstallClassDevice, RemovesTheFirstDeviceWhoseIdHoldsTheFragment)
{
    ModemMachine m;
    ASSERT_TRUE(m.Install("MODEMA", description));
    ASSERT_TRUE(m.Install("MODEMB", description));
    m.newLogLines();

    // No present device holds it: nothing to remove, and no line but the last.
    EXPECT_TRUE(m.Remove("MODEMC"));
    EXPECT_EQ(m.newLogLines(), Lines { "UnInstallClassDevice exit with 1" });

    // The removal takes the device and its keys, so that deleting them
    // afterwards finds no device: the removal still counts as done.
    EXPECT_TRUE(m.Remove("DEMB"));
    EXPECT_EQ(m.newLogLines(), (Lines {
        "UnInstallClassDevice SetupDiGetClassDevs found DEMB",
        "UnInstallClassDevice SetupDiDeleteDevRegKey failed for DEMB",
        "UnInstallClassDevice exit with 1",
    }));
    EXPECT_TRUE(KeyExists(std::string(enumRoot) + "MODEMA\\0000"));
    EXPECT_TRUE(KeyExists(std::string(modemClass) + "\\0000"));
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + "MODEMB"));
    EXPECT_FALSE(KeyExists(std::string(modemClass) + "\\0001"));

    // The match is case-sensitive.
    EXPECT_TRUE(m.Remove("modema"));
    EXPECT_TRUE(KeyExists(std::string(enumRoot) + "MODEMA\\0000"));
}

TEST(UnInstallClassDevice, EveryFailingStepWritesItsLineAndEndsWithFalse)
{
    const std::string forId = std::string(" failed for ") + hardwareId;
    const FailingStep steps[] = {
        { "GlobalAlloc", 1, "UnInstallClassDevice cannot allocate " + Size(sizeof(SP_DEVINFO_DATA)) + " bytes (PSP_DEVINFO_DATA)", true },
        { "GlobalAlloc", 2, "UnInstallClassDevice cannot allocate " + Size(sizeof(SP_DRVINFO_DATA_V1_W)) + " bytes (PSP_DRVINFO_DATA)", true },
        { "SetupDiClassGuidsFromNameW", 1, "UnInstallClassDevice SetupDiClassGuidsFromName failed for Modem5", true },
        { "SetupDiGetClassDevsW", 1, "UnInstallClassDevice SetupDiGetClassDevs failed for Modem", true },
        { "SetupDiSetSelectedDevice", 1, "UnInstallClassDevice SetupDiSetSelectedDevice" + forId, true },
        { "SetupDiRegisterDeviceInfo", 1, "UnInstallClassDevice SetupDiRegisterDeviceInfo" + forId, true },
        { "SetupDiCallClassInstaller", 1, "UnInstallClassDevice SetupDiCallClassInstaller" + forId, true },
        // A failure other than a device already gone stays a failure.
        { "SetupDiDeleteDevRegKey", 1, "UnInstallClassDevice SetupDiDeleteDevRegKey" + forId, false },
    };
    for (const FailingStep& step : steps) {
        SCOPED_TRACE(std::string(step.api) + " #" + std::to_string(step.nth));
        // The install makes the first calls; the removal's are counted after them.
        unsigned nth = step.nth;
        if (std::string(step.api) == "GlobalAlloc")
            nth += 2;
        else if (std::string(step.api) != "SetupDiGetClassDevsW" && std::string(step.api) != "SetupDiDeleteDevRegKey")
            nth += 1;
        ModemMachine m({ { step.api, "5", nth } });
        ASSERT_TRUE(m.Install(hardwareId, description));
        m.newLogLines();
        EXPECT_FALSE(m.Remove(hardwareId));
        Lines expected;
        if (step.api == std::string("SetupDiSetSelectedDevice") || step.api == std::string("SetupDiRegisterDeviceInfo")
            || step.api == std::string("SetupDiCallClassInstaller") || step.api == std::string("SetupDiDeleteDevRegKey"))
            expected.push_back(std::string("UnInstallClassDevice SetupDiGetClassDevs found ") + hardwareId);
        expected.push_back(step.line);
        expected.push_back("UnInstallClassDevice exit with 0");
        EXPECT_EQ(m.newLogLines(), expected);
        EXPECT_EQ(KeyExists(std::string(enumRoot) + hardwareId + "\\0000"), step.registered);
    }
}
