// The device installer's calls on fresh machines: records checked by their
// sizes, NT's error codes, root-enumerated devices below Enum\Root, class
// driver lists and the registry's protection of the Enum tree.
#include "support/RegistryProbe.h"
#include "support/TestMachine.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>

using test::KeyExists;

namespace {

const GUID modemGuid = { 0x4D36E96D, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };
const GUID portsGuid = { 0x4D36E978, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };
const char enumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";

std::string Narrow(const WCHAR* text)
{
    std::string out;
    for (; *text; ++text)
        out += static_cast<char>(*text);
    return out;
}

SP_DEVINFO_DATA DevInfo()
{
    SP_DEVINFO_DATA data {};
    data.cbSize = sizeof data;
    return data;
}

std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    WCHAR id[260];
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, 260, nullptr))
        return "<error " + std::to_string(GetLastError()) + ">";
    return Narrow(id);
}

std::string Text(const std::string& key, const char* name)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    char data[512] = "";
    DWORD size = sizeof data;
    LONG r = RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS ? std::string(data, size) : "<no value>";
}

// Calls a SetupDi function expecting it to fail with the given error.
#define EXPECT_FAILS_WITH(call, error)                                                        \
    do {                                                                                      \
        SetLastError(0xDEAD);                                                                 \
        EXPECT_FALSE(call);                                                                   \
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(error)) << #call;                        \
    } while (0)

class DevInstTest : public ::testing::Test {
protected:
    void SetUp() override { m.attach("C:\\MODEM\\SETUP.EXE"); }
    // A device of the Modem class, not yet registered.
    SP_DEVINFO_DATA Create(HDEVINFO set, const char16_t* name, DWORD flags = DICD_GENERATE_ID)
    {
        SP_DEVINFO_DATA device = DevInfo();
        EXPECT_TRUE(SetupDiCreateDeviceInfoW(set, name, &modemGuid, u"A modem", nullptr, flags, &device))
            << GetLastError();
        return device;
    }

    test::TestMachine m;
};

}

TEST_F(DevInstTest, RecordsAreCheckedByTheirSizesAndHandlesByTheirTable)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device = DevInfo();
    device.cbSize = sizeof device - 4;
    EXPECT_FAILS_WITH(SetupDiCreateDeviceInfoW(set, u"PROBE", &modemGuid, nullptr, nullptr, DICD_GENERATE_ID, &device),
        ERROR_INVALID_USER_BUFFER);
    // The refused call created nothing.
    EXPECT_FAILS_WITH(SetupDiEnumDeviceInfo(set, 0, &device), ERROR_INVALID_USER_BUFFER);
    device = DevInfo();
    EXPECT_FAILS_WITH(SetupDiEnumDeviceInfo(set, 0, &device), ERROR_NO_MORE_ITEMS);

    device = Create(set, u"PROBE");
    SP_DEVINSTALL_PARAMS_W params {};
    params.cbSize = sizeof params + 1;
    EXPECT_FAILS_WITH(SetupDiGetDeviceInstallParamsW(set, &device, &params), ERROR_INVALID_USER_BUFFER);
    params.cbSize = sizeof params;
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(set, &device, &params));
    EXPECT_EQ(params.Flags, 0u);

    SP_DRVINFO_DATA_V1_W driver {};
    driver.cbSize = 1548;
    if (sizeof(void*) != 4)
        EXPECT_FAILS_WITH(SetupDiEnumDriverInfoW(set, &device, SPDIT_CLASSDRIVER, 0, &driver), ERROR_INVALID_USER_BUFFER);
    driver.cbSize = sizeof driver;
    EXPECT_FAILS_WITH(SetupDiEnumDriverInfoW(set, &device, SPDIT_CLASSDRIVER, 0, &driver), ERROR_NO_MORE_ITEMS);

    // A record that names no device of this set.
    SP_DEVINFO_DATA stranger = device;
    stranger.Reserved ^= 0x10;
    EXPECT_FAILS_WITH(SetupDiSetSelectedDevice(set, &stranger), ERROR_INVALID_PARAMETER);

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FAILS_WITH(SetupDiDestroyDeviceInfoList(set), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(SetupDiEnumDeviceInfo(set, 0, &device), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE), ERROR_INVALID_HANDLE);
}

TEST_F(DevInstTest, RootDevicesGetGeneratedIdsAndAreRegisteredBelowEnumRoot)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    SP_DEVINFO_DATA first = Create(set, u"PROBEDEV");
    SP_DEVINFO_DATA second = Create(set, u"PROBEDEV");
    EXPECT_EQ(InstanceId(set, first), "Root\\PROBEDEV\\0000");
    EXPECT_EQ(InstanceId(set, second), "Root\\PROBEDEV\\0001");
    EXPECT_NE(first.DevInst, second.DevInst);
    EXPECT_EQ(std::memcmp(&first.ClassGuid, &modemGuid, sizeof modemGuid), 0);

    WCHAR small[5];
    DWORD required = 0;
    EXPECT_FAILS_WITH(SetupDiGetDeviceInstanceIdW(set, &first, small, 5, &required), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 19u);

    SP_DEVINFO_DATA other = DevInfo();
    EXPECT_FAILS_WITH(SetupDiCreateDeviceInfoW(set, u"A\\B", &modemGuid, nullptr, nullptr, DICD_GENERATE_ID, &other),
        ERROR_INVALID_DEVINST_NAME);
    EXPECT_FAILS_WITH(SetupDiCreateDeviceInfoW(set, u"PROBEDEV", &portsGuid, nullptr, nullptr, DICD_GENERATE_ID, &other),
        ERROR_CLASS_MISMATCH);
    EXPECT_FAILS_WITH(SetupDiCreateDeviceInfoW(set, u"Root\\PROBEDEV\\0001", &modemGuid, nullptr, nullptr, 0, &other),
        ERROR_DEVINST_ALREADY_EXISTS);

    // Registering writes the key the installer's rights allow, not the user's.
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &first, 0, nullptr, nullptr, nullptr)) << GetLastError();
    EXPECT_TRUE(SetupDiRegisterDeviceInfo(set, &first, 0, nullptr, nullptr, nullptr));
    std::string key = std::string(enumRoot) + "PROBEDEV\\0000";
    EXPECT_EQ(Text(key, "ClassGUID"), std::string("{4D36E96D-E325-11CE-BFC1-08002BE10318}") + '\0');
    EXPECT_EQ(Text(key, "Class"), std::string("Modem") + '\0');
    EXPECT_EQ(Text(key, "DeviceDesc"), std::string("A modem") + '\0');
    HKEY own = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(enumRoot) + "PROBEDEV\\0009").c_str(), 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &own, nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + "PROBEDEV\\0001"));
    SetupDiDestroyDeviceInfoList(set);

    // A new set numbers after what the registry holds.
    set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    SP_DEVINFO_DATA next = Create(set, u"PROBEDEV");
    EXPECT_EQ(InstanceId(set, next), "Root\\PROBEDEV\\0001");
    EXPECT_FAILS_WITH(SetupDiCreateDeviceInfoW(set, u"ROOT\\probedev\\0000", &modemGuid, nullptr, nullptr, 0, &other),
        ERROR_DEVINST_ALREADY_EXISTS);
    SetupDiDestroyDeviceInfoList(set);

    // The present devices of the class, and none of another class.
    set = SetupDiGetClassDevsW(&modemGuid, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA found = DevInfo();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &found));
    EXPECT_EQ(InstanceId(set, found), "Root\\PROBEDEV\\0000");
    EXPECT_FAILS_WITH(SetupDiEnumDeviceInfo(set, 1, &found), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
    set = SetupDiGetClassDevsW(&portsGuid, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_FAILS_WITH(SetupDiEnumDeviceInfo(set, 0, &found), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetupDiGetClassDevsW(&modemGuid, u"PCI", nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
}

TEST_F(DevInstTest, AGuestCannotRegisterOrRemoveDevices)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    SP_DEVINFO_DATA device = Create(set, u"GUESTDEV");
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr));
    m.set("user=guest");
    m.attach("C:\\MODEM\\SETUP.EXE");
    SP_DEVINFO_DATA second = Create(set, u"GUESTDEV");
    EXPECT_FAILS_WITH(SetupDiRegisterDeviceInfo(set, &second, 0, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(SetupDiRemoveDevice(set, &device), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(SetupDiCallClassInstaller(DIF_REMOVE, set, &device), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(KeyExists(std::string(enumRoot) + "GUESTDEV\\0000"));
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + "GUESTDEV\\0001"));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevInstTest, PropertiesComeFromTheDeviceKeyAndWaitForRegistration)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    SP_DEVINFO_DATA device = Create(set, u"PROPDEV");
    const char16_t ids[] = u"HW\\ONE\0HW\\TWO\0";
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids),
        sizeof ids));
    EXPECT_FAILS_WITH(SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_CLASS, reinterpret_cast<const BYTE*>(u"X"), 4),
        ERROR_INVALID_REG_PROPERTY);
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + "PROPDEV"));
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(Text(std::string(enumRoot) + "PROPDEV\\0000", "HardwareID"), std::string("HW\\ONE\0HW\\TWO\0\0", 15));

    BYTE buffer[64];
    DWORD type = 0, required = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, &type, buffer, sizeof buffer, &required));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(required, sizeof u"A modem");
    EXPECT_EQ(std::memcmp(buffer, u"A modem", sizeof u"A modem"), 0);
    EXPECT_FAILS_WITH(SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_CLASS, &type, buffer, 4, &required),
        ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, sizeof u"Modem");
    EXPECT_FAILS_WITH(SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_MFG, &type, buffer, sizeof buffer, &required),
        ERROR_INVALID_DATA);
    EXPECT_FAILS_WITH(SetupDiGetDeviceRegistryPropertyW(set, &device, 999, &type, buffer, sizeof buffer, &required),
        ERROR_INVALID_REG_PROPERTY);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevInstTest, RemovalTakesTheDeviceAndItsKeys)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    SP_DEVINFO_DATA device = Create(set, u"GONEDEV");
    EXPECT_FAILS_WITH(SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0xFFFFFFFF, DIREG_BOTH),
        ERROR_DEVINFO_NOT_REGISTERED);
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr));
    EXPECT_FAILS_WITH(SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_CONFIGGENERAL, 0, DIREG_DRV), ERROR_INVALID_FLAGS);
    EXPECT_FAILS_WITH(SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, 9), ERROR_INVALID_FLAGS);
    // A device without driver and hardware keys has nothing to delete.
    EXPECT_FAILS_WITH(SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0xFFFFFFFF, DIREG_BOTH),
        ERROR_FILE_NOT_FOUND);

    ASSERT_TRUE(SetupDiRemoveDevice(set, &device)) << GetLastError();
    EXPECT_FALSE(KeyExists(std::string(enumRoot) + "GONEDEV"));
    EXPECT_FAILS_WITH(SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0xFFFFFFFF, DIREG_BOTH),
        ERROR_NO_SUCH_DEVINST);
    WCHAR id[260];
    EXPECT_FAILS_WITH(SetupDiGetDeviceInstanceIdW(set, &device, id, 260, nullptr), ERROR_NO_SUCH_DEVINST);
    EXPECT_FAILS_WITH(SetupDiRemoveDevice(set, &device), ERROR_NO_SUCH_DEVINST);
    EXPECT_FAILS_WITH(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr), ERROR_NO_SUCH_DEVINST);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevInstTest, ClassesAreFoundByNameAndGuid)
{
    GUID guids[4];
    DWORD required = 77;
    ASSERT_TRUE(SetupDiClassGuidsFromNameW(u"modem", guids, 4, &required));
    EXPECT_EQ(required, 1u);
    EXPECT_EQ(std::memcmp(&guids[0], &modemGuid, sizeof modemGuid), 0);
    // A class the machine does not have is no error: there are none of it.
    ASSERT_TRUE(SetupDiClassGuidsFromNameW(u"Nonesuch", guids, 4, &required));
    EXPECT_EQ(required, 0u);
    EXPECT_FAILS_WITH(SetupDiClassGuidsFromNameW(u"Modem", nullptr, 0, &required), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 1u);

    WCHAR name[MAX_CLASS_NAME_LEN];
    ASSERT_TRUE(SetupDiClassNameFromGuidW(&portsGuid, name, MAX_CLASS_NAME_LEN, &required));
    EXPECT_EQ(Narrow(name), "Ports");
    WCHAR text[64];
    ASSERT_TRUE(SetupDiGetClassDescriptionW(&portsGuid, text, 64, &required));
    EXPECT_EQ(Narrow(text), "Ports (COM & LPT)");
    GUID unknown = modemGuid;
    unknown.Data1 = 1;
    EXPECT_FAILS_WITH(SetupDiClassNameFromGuidW(&unknown, name, MAX_CLASS_NAME_LEN, &required), ERROR_INVALID_CLASS);

    // Every class key, but one the machine marks as not for use.
    HKEY classes, hidden;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Class", 0, KEY_ALL_ACCESS, &classes),
        ERROR_SUCCESS);
    DWORD keys = 0;
    RegQueryInfoKeyA(classes, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr);
    ASSERT_EQ(RegCreateKeyA(classes, "{11111111-2222-3333-4444-555555555555}", &hidden), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(hidden, "NoUseClass", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1), ERROR_SUCCESS);
    RegCloseKey(hidden);
    RegCloseKey(classes);
    GUID all[64];
    ASSERT_TRUE(SetupDiBuildClassInfoList(0, all, 64, &required));
    EXPECT_EQ(required, keys);
    EXPECT_FAILS_WITH(SetupDiBuildClassInfoList(0, all, 3, &required), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FAILS_WITH(SetupDiBuildClassInfoList(0x100, all, 64, &required), ERROR_INVALID_FLAGS);
}

TEST_F(DevInstTest, ClassDriversAreTheModelsOfTheClassInfs)
{
    m.write("C:\\WINNT\\INF\\MDMQZV.INF", m.read("C:\\MODEM\\MDMQZV.INF"));
    // An INF of another class adds nothing.
    m.write("C:\\WINNT\\INF\\PORTS.INF", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
                                         "[Manufacturer]\r\nX=M\r\n[M]\r\n\"A port\"=P,X\\1\r\n[P]\r\n");
    HDEVINFO set = SetupDiCreateDeviceInfoList(&modemGuid, nullptr);
    SP_DEVINFO_DATA device = Create(set, u"LISTDEV");
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_CLASSDRIVER));
    std::vector<std::string> found;
    SP_DRVINFO_DATA_V1_W driver {};
    driver.cbSize = sizeof driver;
    for (DWORD i = 0; SetupDiEnumDriverInfoW(set, &device, SPDIT_CLASSDRIVER, i, &driver); ++i) {
        EXPECT_EQ(driver.DriverType, DWORD(SPDIT_CLASSDRIVER));
        found.push_back(Narrow(driver.Description) + "|" + Narrow(driver.MfgName) + "|" + Narrow(driver.ProviderName));
    }
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(found, (std::vector<std::string> {
        "Brimlow 56K PCI Data Fax Modem|Brimlow|Brimlow",
        "Brimlow 56K PCI Data Fax Modem (early revision)|Brimlow|Brimlow",
        "Brimlow 33.6K PCI Data Fax Modem|Brimlow|Brimlow",
    }));
    SP_DEVINSTALL_PARAMS_W params {};
    params.cbSize = sizeof params;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &device, &params));
    EXPECT_TRUE(params.Flags & DI_DIDCLASS);

    // Installing needs a selected driver and a registered device.
    EXPECT_FAILS_WITH(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device), ERROR_NO_DRIVER_SELECTED);
    SP_DRVINFO_DATA_V1_W foreign = driver;
    foreign.Reserved = 0x7777;
    EXPECT_FAILS_WITH(SetupDiSetSelectedDriverW(set, &device, &foreign), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(SetupDiEnumDriverInfoW(set, &device, SPDIT_CLASSDRIVER, 2, &driver));
    ASSERT_TRUE(SetupDiSetSelectedDriverW(set, &device, &driver));
    EXPECT_FAILS_WITH(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device), ERROR_DEVINFO_NOT_REGISTERED);
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device)) << std::hex << GetLastError();
    EXPECT_EQ(Text(std::string(enumRoot) + "LISTDEV\\0000", "DeviceDesc"),
        std::string("Brimlow 33.6K PCI Data Fax Modem") + '\0');

    // Destroying the list drops the selection with it.
    ASSERT_TRUE(SetupDiDestroyDriverInfoList(set, &device, SPDIT_CLASSDRIVER));
    EXPECT_FAILS_WITH(SetupDiGetSelectedDriverW(set, &device, &driver), ERROR_NO_DRIVER_SELECTED);
    EXPECT_FAILS_WITH(SetupDiEnumDriverInfoW(set, &device, SPDIT_CLASSDRIVER, 0, &driver), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
}
