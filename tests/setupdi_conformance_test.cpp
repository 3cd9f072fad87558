// The device installer's calls against the platform's documented
// behaviour, ANSI and wide forms against each other, on root-enumerated
// devices as NT 4.0 has them.
#include "support/TestMachine.h"

#include <setupapi.h>
#include <winreg.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const GUID ModemClass = { 0x4D36E96D, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };
const GUID PortsClass = { 0x4D36E978, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };
const char* const ModemInf = "C:\\MODEM\\MDMQZV.INF";
const char* const Model = "Brimlow 56K PCI Data Fax Modem";

// The records keep the sizes the product relies on in its 32-bit build.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA");
static_assert(sizeof(void*) != 4 || sizeof(SP_DRVINFO_DATA_V1_W) == 1548, "SP_DRVINFO_DATA_V1_W");
static_assert(sizeof(void*) != 4 || sizeof(SP_DRVINFO_DATA_V1_A) == 780, "SP_DRVINFO_DATA_V1_A");
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINSTALL_PARAMS_W) == 556, "SP_DEVINSTALL_PARAMS_W");
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "SP_DEVINSTALL_PARAMS_A");
static_assert(sizeof(void*) != 4 || sizeof(SP_DRVINFO_DETAIL_DATA_A) == 800, "SP_DRVINFO_DETAIL_DATA_A");
static_assert(sizeof(void*) != 4 || sizeof(SP_DRVINFO_DETAIL_DATA_W) == 1572, "SP_DRVINFO_DETAIL_DATA_W");
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8, "SP_CLASSINSTALL_HEADER");

// The names of a registry key's values.
std::set<std::string> valueNames(const char* path)
{
    std::set<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    RegCloseKey(key);
    return names;
}

// A modem device of a new set, registered, its class drivers those of
// the package's modem INF.
struct ModemDevice {
    HDEVINFO set { INVALID_HANDLE_VALUE };
    SP_DEVINFO_DATA data { sizeof(SP_DEVINFO_DATA), {}, 0, 0 };

    explicit ModemDevice(const char* name = "MODEM")
    {
        set = SetupDiCreateDeviceInfoList(&ModemClass, nullptr);
        EXPECT_TRUE(SetupDiCreateDeviceInfoA(set, name, &ModemClass, nullptr, nullptr, DICD_GENERATE_ID, &data));
        EXPECT_TRUE(SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr));
        SP_DEVINSTALL_PARAMS_A params { sizeof params, 0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0, {} };
        EXPECT_TRUE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
        params.Flags |= DI_ENUMSINGLEINF;
        std::strcpy(params.DriverPath, ModemInf);
        EXPECT_TRUE(SetupDiSetDeviceInstallParamsA(set, &data, &params));
        EXPECT_TRUE(SetupDiBuildDriverInfoList(set, &data, SPDIT_CLASSDRIVER));
    }
    ~ModemDevice() { SetupDiDestroyDeviceInfoList(set); }

    void selectModel()
    {
        SP_DRVINFO_DATA_A driver {};
        driver.cbSize = sizeof driver;
        driver.DriverType = SPDIT_CLASSDRIVER;
        std::strcpy(driver.Description, Model);
        std::strcpy(driver.MfgName, "Brimlow");
        std::strcpy(driver.ProviderName, "Brimlow");
        EXPECT_TRUE(SetupDiSetSelectedDriverA(set, &data, &driver)) << GetLastError();
    }
};

}

TEST(SetupDiConformance, RegisteringAnElementOfAnotherSetFailsWithInvalidParameter)
{
    test::TestMachine m;
    m.attach();
    HDEVINFO a = SetupDiCreateDeviceInfoList(&ModemClass, nullptr);
    HDEVINFO b = SetupDiCreateDeviceInfoList(&ModemClass, nullptr);
    SP_DEVINFO_DATA data { sizeof data, {}, 0, 0 };
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(a, u"PROBE", &ModemClass, nullptr, nullptr, DICD_GENERATE_ID, &data));
    EXPECT_FALSE(SetupDiRegisterDeviceInfo(b, &data, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    char id[MAX_DEVICE_ID_LEN];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(b, &data, id, sizeof id, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(valueNames("SYSTEM\\CurrentControlSet\\Enum\\Root\\PROBE\\0000").empty());
    EXPECT_FALSE(SetupDiRegisterDeviceInfo(a, &data, 0x8, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_TRUE(SetupDiRegisterDeviceInfo(a, &data, SPRDI_FIND_DUPS, nullptr, nullptr, nullptr));
    SetupDiDestroyDeviceInfoList(a);
    SetupDiDestroyDeviceInfoList(b);
}

TEST(SetupDiConformance, ARootDeviceTheDefaultInstallerInstallsCarriesNoHardwareId)
{
    test::TestMachine m;
    m.attach();
    ModemDevice device;
    device.selectModel();
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, device.set, &device.data)) << GetLastError();
    // What NT's installer writes of a device the caller gave no ids: the
    // class, the model's description and maker, the driver key, its flags.
    EXPECT_EQ(valueNames("SYSTEM\\CurrentControlSet\\Enum\\Root\\MODEM\\0000"),
        (std::set<std::string> { "Class", "ClassGUID", "ConfigFlags", "DeviceDesc", "Driver", "Mfg" }));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(device.set, &device.data, SPDRP_HARDWAREID, nullptr, nullptr, 0,
        &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    // A caller that names the ids gives the device its HardwareID.
    ModemDevice named("NAMED");
    const char ids[] = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02\0";
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(named.set, &named.data, SPDRP_HARDWAREID,
        reinterpret_cast<const BYTE*>(ids), sizeof ids));
    named.selectModel();
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, named.set, &named.data));
    EXPECT_EQ(valueNames("SYSTEM\\CurrentControlSet\\Enum\\Root\\NAMED\\0000").count("HardwareID"), 1u);
}

TEST(SetupDiConformance, ClassNamesAndGuidsGoBothWaysInBothForms)
{
    test::TestMachine m;
    m.attach();
    GUID guids[2] = {};
    DWORD required = 0;
    ASSERT_TRUE(SetupDiClassGuidsFromNameA("mOdEm", guids, 2, &required));
    EXPECT_EQ(required, 1u);
    EXPECT_EQ(std::memcmp(&guids[0], &ModemClass, sizeof(GUID)), 0);
    ASSERT_TRUE(SetupDiClassGuidsFromNameW(u"MODEM", guids, 2, &required));
    EXPECT_EQ(required, 1u);
    EXPECT_FALSE(SetupDiClassGuidsFromNameA("Modem", nullptr, 1, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(u"NoSuchClass", guids, 2, &required));
    EXPECT_EQ(required, 0u);
    EXPECT_FALSE(SetupDiClassGuidsFromNameA(nullptr, guids, 2, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    char name[MAX_CLASS_NAME_LEN];
    WCHAR wname[MAX_CLASS_NAME_LEN];
    ASSERT_TRUE(SetupDiClassNameFromGuidA(&ModemClass, name, sizeof name, &required));
    EXPECT_STREQ(name, "Modem");
    EXPECT_EQ(required, 6u);
    ASSERT_TRUE(SetupDiClassNameFromGuidW(&PortsClass, wname, MAX_CLASS_NAME_LEN, &required));
    EXPECT_EQ(std::u16string(wname), u"Ports");
    // SetupDi calls fail a question of size as a short buffer.
    EXPECT_FALSE(SetupDiClassNameFromGuidW(&ModemClass, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 6u);
    EXPECT_FALSE(SetupDiClassNameFromGuidA(&ModemClass, name, 5, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(SetupDiClassNameFromGuidA(&ModemClass, nullptr, 5, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    GUID unknown = { 1, 2, 3, { 4, 5, 6, 7, 8, 9, 10, 11 } };
    EXPECT_FALSE(SetupDiClassNameFromGuidW(&unknown, wname, MAX_CLASS_NAME_LEN, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_CLASS));
    char description[LINE_LEN];
    WCHAR wdescription[LINE_LEN];
    ASSERT_TRUE(SetupDiGetClassDescriptionA(&ModemClass, description, sizeof description, nullptr));
    ASSERT_TRUE(SetupDiGetClassDescriptionW(&ModemClass, wdescription, LINE_LEN, nullptr));
    EXPECT_EQ(std::string(description), std::string(wdescription, wdescription + std::char_traits<char16_t>::length(wdescription)));

    // An INF's class: Class and ClassGUID, either found from the other.
    GUID found {};
    ASSERT_TRUE(SetupDiGetINFClassA(ModemInf, &found, name, sizeof name, &required));
    EXPECT_STREQ(name, "Modem");
    EXPECT_EQ(std::memcmp(&found, &ModemClass, sizeof(GUID)), 0);
    m.write("C:\\MODEM\\GUIDONLY.INF", "[Version]\r\nSignature=$Chicago$\r\nClassGUID={4D36E978-E325-11CE-BFC1-08002BE10318}\r\n");
    ASSERT_TRUE(SetupDiGetINFClassW(u"C:\\MODEM\\GUIDONLY.INF", &found, wname, MAX_CLASS_NAME_LEN, &required));
    EXPECT_EQ(std::u16string(wname), u"Ports");
    m.write("C:\\MODEM\\NAMEONLY.INF", "[Version]\r\nSignature=$Chicago$\r\nClass=ports\r\n");
    ASSERT_TRUE(SetupDiGetINFClassA("C:\\MODEM\\NAMEONLY.INF", &found, name, sizeof name, &required));
    EXPECT_STREQ(name, "ports");
    EXPECT_EQ(std::memcmp(&found, &PortsClass, sizeof(GUID)), 0);
    EXPECT_FALSE(SetupDiGetINFClassA("C:\\MODEM\\NONE.INF", &found, name, sizeof name, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // The class key, and the root of all of them.
    HKEY key = SetupDiOpenClassRegKey(&ModemClass, KEY_READ);
    ASSERT_NE(key, static_cast<HKEY>(INVALID_HANDLE_VALUE));
    char value[32] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, "Class", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
    EXPECT_STREQ(value, "Modem");
    RegCloseKey(key);
    key = SetupDiOpenClassRegKeyExW(nullptr, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    ASSERT_NE(key, static_cast<HKEY>(INVALID_HANDLE_VALUE));
    HKEY modem = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, "{4D36E96D-E325-11CE-BFC1-08002BE10318}", 0, KEY_READ, &modem), ERROR_SUCCESS);
    RegCloseKey(modem);
    RegCloseKey(key);
    EXPECT_EQ(SetupDiOpenClassRegKeyExA(&ModemClass, KEY_READ, DIOCR_INTERFACE, nullptr, nullptr),
        static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_CLASS));
    EXPECT_EQ(SetupDiOpenClassRegKeyExA(&ModemClass, KEY_READ, 0, nullptr, nullptr),
        static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_EQ(SetupDiOpenClassRegKey(&unknown, KEY_READ), static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_CLASS));
}

TEST(SetupDiConformance, ElementsAreCreatedOpenedEnumeratedAndDeletedFromTheirSet)
{
    test::TestMachine m;
    m.attach();
    {
        ModemDevice registered("OPENME");
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&ModemClass, nullptr);
    GUID guid {};
    ASSERT_TRUE(SetupDiGetDeviceInfoListClass(set, &guid));
    EXPECT_EQ(std::memcmp(&guid, &ModemClass, sizeof guid), 0);
    SP_DEVINFO_DATA opened { sizeof opened, {}, 0, 0 };
    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, "root\\openme\\0000", nullptr, 0, &opened));
    SP_DEVINFO_DATA again { sizeof again, {}, 0, 0 };
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, u"ROOT\\OPENME\\0000", nullptr, 0, &again));
    EXPECT_EQ(again.Reserved, opened.Reserved);
    EXPECT_EQ(again.DevInst, opened.DevInst);
    WCHAR id[MAX_DEVICE_ID_LEN];
    DWORD required = 0;
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &opened, id, MAX_DEVICE_ID_LEN, &required));
    EXPECT_EQ(std::u16string(id), u"Root\\OPENME\\0000");
    EXPECT_EQ(required, 17u);
    char aid[8];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set, &opened, aid, sizeof aid, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 17u);
    EXPECT_FALSE(SetupDiOpenDeviceInfoA(set, "Root\\NOSUCH\\0000", nullptr, 0, &opened));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    EXPECT_FALSE(SetupDiOpenDeviceInfoA(set, "Root\\OPENME\\0000", nullptr, 0x80, &opened));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    HDEVINFO ports = SetupDiCreateDeviceInfoList(&PortsClass, nullptr);
    EXPECT_FALSE(SetupDiOpenDeviceInfoA(ports, "Root\\OPENME\\0000", nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
    SetupDiDestroyDeviceInfoList(ports);

    SP_DEVINFO_DATA selected { sizeof selected, {}, 0, 0 };
    EXPECT_FALSE(SetupDiGetSelectedDevice(set, &selected));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DEVICE_SELECTED));
    ASSERT_TRUE(SetupDiSetSelectedDevice(set, &opened));
    ASSERT_TRUE(SetupDiGetSelectedDevice(set, &selected));
    EXPECT_EQ(selected.Reserved, opened.Reserved);

    // Deleted from the set, the element is gone from it, not from the machine.
    ASSERT_TRUE(SetupDiDeleteDeviceInfo(set, &opened));
    SP_DEVINFO_DATA enumerated { sizeof enumerated, {}, 0, 0 };
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &enumerated));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(SetupDiGetSelectedDevice(set, &selected));
    EXPECT_FALSE(SetupDiDeleteDeviceInfo(set, &opened));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(valueNames("SYSTEM\\CurrentControlSet\\Enum\\Root\\OPENME\\0000").empty());

    HDEVINFO all = SetupDiGetClassDevsA(&ModemClass, "Root", nullptr, DIGCF_PRESENT);
    ASSERT_NE(all, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetupDiEnumDeviceInfo(all, 0, &enumerated));
    HDEVINFO every = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    EXPECT_FALSE(SetupDiGetDeviceInfoListClass(every, &guid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATED_CLASS));
    SetupDiDestroyDeviceInfoList(every);
    EXPECT_EQ(SetupDiGetClassDevsA(&ModemClass, "NoBus", nullptr, 0), INVALID_HANDLE_VALUE);
    SetupDiDestroyDeviceInfoList(all);
    SetupDiDestroyDeviceInfoList(set);
}

TEST(SetupDiConformance, PropertiesAreGivenInTheFormsOfTheirCallsWithTheirTypesAndSizes)
{
    test::TestMachine m;
    m.attach();
    ModemDevice device;
    const WCHAR ids[] = u"ID_ONE\0ID_TWO\0";
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(device.set, &device.data, SPDRP_HARDWAREID,
        reinterpret_cast<const BYTE*>(ids), sizeof ids));
    DWORD type = 0, required = 0;
    BYTE buffer[128];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_HARDWAREID, &type, buffer,
        sizeof buffer, &required));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(required, 15u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), required), std::string("ID_ONE\0ID_TWO\0\0", 15));
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(device.set, &device.data, SPDRP_HARDWAREID, &type, buffer,
        sizeof buffer, &required));
    EXPECT_EQ(required, 30u);
    EXPECT_EQ(std::memcmp(buffer, ids, 30), 0);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(device.set, &device.data, SPDRP_HARDWAREID, &type, buffer, 29,
        &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 30u);

    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_FRIENDLYNAME,
        reinterpret_cast<const BYTE*>("Friendly"), 9));
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(device.set, &device.data, SPDRP_FRIENDLYNAME, &type, buffer,
        sizeof buffer, &required));
    EXPECT_EQ(std::u16string(reinterpret_cast<WCHAR*>(buffer)), u"Friendly");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    DWORD flags = 0x20;
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_CONFIGFLAGS,
        reinterpret_cast<const BYTE*>(&flags), sizeof flags));
    EXPECT_FALSE(SetupDiSetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_CONFIGFLAGS,
        reinterpret_cast<const BYTE*>(&flags), 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    // What the system keeps cannot be set; what a root device lacks cannot be read.
    EXPECT_FALSE(SetupDiSetDeviceRegistryPropertyW(device.set, &device.data, SPDRP_CLASS, buffer, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_REG_PROPERTY));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_MAXIMUM_PROPERTY, &type, buffer,
        sizeof buffer, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_REG_PROPERTY));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_CAPABILITIES, &type, buffer,
        sizeof buffer, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_CLASS, &type, buffer,
        sizeof buffer, &required));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Modem");
}

TEST(SetupDiConformance, InstallParamsAndClassInstallParamsKeepWhatTheCallerGave)
{
    test::TestMachine m;
    m.attach();
    ModemDevice device;
    SP_DEVINSTALL_PARAMS_W wide {};
    wide.cbSize = sizeof wide;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(device.set, &device.data, &wide));
    EXPECT_EQ(std::u16string(wide.DriverPath), u"C:\\MODEM\\MDMQZV.INF");
    EXPECT_TRUE(wide.Flags & DI_ENUMSINGLEINF);
    EXPECT_TRUE(wide.Flags & DI_DIDCLASS);
    wide.cbSize = sizeof wide - 1;
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsW(device.set, &device.data, &wide));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    SP_DEVINSTALL_PARAMS_A ansi {};
    ansi.cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
    EXPECT_FALSE(SetupDiSetDeviceInstallParamsA(device.set, &device.data, &ansi));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    // The set's own parameters are apart from its devices'.
    ansi.cbSize = sizeof ansi;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(device.set, nullptr, &ansi));
    EXPECT_STREQ(ansi.DriverPath, "");

    SP_REMOVEDEVICE_PARAMS remove {};
    remove.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    remove.Scope = DI_REMOVEDEVICE_GLOBAL;
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetClassInstallParamsA(device.set, &device.data, &remove.ClassInstallHeader, sizeof remove,
        &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS));
    ASSERT_TRUE(SetupDiSetClassInstallParamsW(device.set, &device.data, &remove.ClassInstallHeader, sizeof remove));
    wide.cbSize = sizeof wide;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(device.set, &device.data, &wide));
    EXPECT_TRUE(wide.Flags & DI_CLASSINSTALLPARAMS);
    SP_REMOVEDEVICE_PARAMS back {};
    back.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    EXPECT_FALSE(SetupDiGetClassInstallParamsW(device.set, &device.data, &back.ClassInstallHeader, 8, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, static_cast<DWORD>(sizeof remove));
    ASSERT_TRUE(SetupDiGetClassInstallParamsA(device.set, &device.data, &back.ClassInstallHeader, sizeof back, &required));
    EXPECT_EQ(back.ClassInstallHeader.InstallFunction, static_cast<DI_FUNCTION>(DIF_REMOVE));
    EXPECT_EQ(back.Scope, static_cast<DWORD>(DI_REMOVEDEVICE_GLOBAL));
    remove.ClassInstallHeader.cbSize = 12;
    EXPECT_FALSE(SetupDiSetClassInstallParamsA(device.set, &device.data, &remove.ClassInstallHeader, sizeof remove));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    ASSERT_TRUE(SetupDiSetClassInstallParamsA(device.set, &device.data, nullptr, 0));
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(device.set, &device.data, &wide));
    EXPECT_FALSE(wide.Flags & DI_CLASSINSTALLPARAMS);
}

TEST(SetupDiConformance, DriverListsGiveTheirNodesDetailsAndSelectionInBothForms)
{
    test::TestMachine m;
    m.attach();
    ModemDevice device;
    SP_DRVINFO_DATA_A a {};
    a.cbSize = sizeof a;
    SP_DRVINFO_DATA_W w {};
    w.cbSize = sizeof w;
    std::vector<std::string> names;
    for (DWORD i = 0; SetupDiEnumDriverInfoA(device.set, &device.data, SPDIT_CLASSDRIVER, i, &a); ++i) {
        ASSERT_TRUE(SetupDiEnumDriverInfoW(device.set, &device.data, SPDIT_CLASSDRIVER, i, &w));
        EXPECT_EQ(std::string(a.Description),
            std::string(w.Description, w.Description + std::char_traits<char16_t>::length(w.Description)));
        EXPECT_EQ(a.Reserved, w.Reserved);
        names.push_back(a.Description);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], Model);
    // The record of NT 4.0 alone is known: a larger one is refused.
    w.cbSize = sizeof w + 16;
    EXPECT_FALSE(SetupDiEnumDriverInfoW(device.set, &device.data, SPDIT_CLASSDRIVER, 0, &w));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    w.cbSize = sizeof w;

    ASSERT_TRUE(SetupDiEnumDriverInfoA(device.set, &device.data, SPDIT_CLASSDRIVER, 0, &a));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDriverInfoDetailA(device.set, &device.data, &a, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::string hardwareId = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02";
    EXPECT_EQ(required, static_cast<DWORD>(offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID) + hardwareId.size() + 2));
    std::vector<BYTE> detailBuffer(required);
    auto* detail = reinterpret_cast<PSP_DRVINFO_DETAIL_DATA_A>(detailBuffer.data());
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_A);
    ASSERT_TRUE(SetupDiGetDriverInfoDetailA(device.set, &device.data, &a, detail, required, &required));
    EXPECT_STREQ(detail->SectionName, "Modem56");
    EXPECT_STREQ(detail->InfFileName, ModemInf);
    EXPECT_STREQ(detail->DrvDescription, Model);
    EXPECT_STREQ(detail->HardwareID, hardwareId.c_str());
    EXPECT_EQ(detail->CompatIDsLength, 0u);
    ASSERT_TRUE(SetupDiEnumDriverInfoW(device.set, &device.data, SPDIT_CLASSDRIVER, 0, &w));
    DWORD wideRequired = 0;
    EXPECT_FALSE(SetupDiGetDriverInfoDetailW(device.set, &device.data, &w, nullptr, 0, &wideRequired));
    EXPECT_EQ(wideRequired,
        static_cast<DWORD>(offsetof(SP_DRVINFO_DETAIL_DATA_W, HardwareID) + (hardwareId.size() + 2) * sizeof(WCHAR)));
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    EXPECT_FALSE(SetupDiGetDriverInfoDetailA(device.set, &device.data, &a, detail, required, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    SP_DRVINSTALL_PARAMS params { sizeof params, 7, 0, 0, 0 };
    ASSERT_TRUE(SetupDiGetDriverInstallParamsW(device.set, &device.data, &w, &params));
    EXPECT_EQ(params.Rank, 0u);
    EXPECT_EQ(params.Flags, static_cast<DWORD>(DNF_CLASS_DRIVER));
    params.Flags |= DNF_EXCLUDEFROMLIST;
    ASSERT_TRUE(SetupDiSetDriverInstallParamsA(device.set, &device.data, &a, &params));
    params.Flags = 0;
    ASSERT_TRUE(SetupDiGetDriverInstallParamsA(device.set, &device.data, &a, &params));
    EXPECT_EQ(params.Flags, static_cast<DWORD>(DNF_CLASS_DRIVER | DNF_EXCLUDEFROMLIST));

    // Selected in one form, the driver reads back in the other.
    EXPECT_FALSE(SetupDiGetSelectedDriverW(device.set, &device.data, &w));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DRIVER_SELECTED));
    ASSERT_TRUE(SetupDiSetSelectedDriverA(device.set, &device.data, &a));
    SP_DRVINFO_DATA_W selected {};
    selected.cbSize = sizeof selected;
    ASSERT_TRUE(SetupDiGetSelectedDriverW(device.set, &device.data, &selected));
    EXPECT_EQ(selected.Reserved, a.Reserved);
    ASSERT_TRUE(SetupDiDestroyDriverInfoList(device.set, &device.data, SPDIT_CLASSDRIVER));
    EXPECT_FALSE(SetupDiGetSelectedDriverA(device.set, &device.data, &a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DRIVER_SELECTED));
}

TEST(SetupDiConformance, TheDefaultHandlersInstallAndRemoveAndTheDeviceKeysFollow)
{
    test::TestMachine m;
    m.attach();
    ModemDevice device;
    // The compatible list of a device with ids, and its best driver.
    const char ids[] = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_01\0";
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(device.set, &device.data, SPDRP_HARDWAREID,
        reinterpret_cast<const BYTE*>(ids), sizeof ids));
    EXPECT_FALSE(SetupDiSelectBestCompatDrv(device.set, &device.data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_COMPAT_DRIVERS));
    ASSERT_TRUE(SetupDiBuildDriverInfoList(device.set, &device.data, SPDIT_COMPATDRIVER));
    ASSERT_TRUE(SetupDiSelectBestCompatDrv(device.set, &device.data));
    SP_DRVINFO_DATA_A best {};
    best.cbSize = sizeof best;
    ASSERT_TRUE(SetupDiGetSelectedDriverA(device.set, &device.data, &best));
    EXPECT_STREQ(best.Description, "Brimlow 56K PCI Data Fax Modem (early revision)");
    EXPECT_EQ(best.DriverType, static_cast<DWORD>(SPDIT_COMPATDRIVER));

    EXPECT_EQ(SetupDiOpenDevRegKey(device.set, &device.data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ),
        static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));
    ASSERT_TRUE(SetupDiInstallDevice(device.set, &device.data)) << GetLastError();
    HKEY key = SetupDiOpenDevRegKey(device.set, &device.data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    ASSERT_NE(key, static_cast<HKEY>(INVALID_HANDLE_VALUE));
    char text[128] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(RegQueryValueExA(key, "InfSection", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "Modem56");
    RegCloseKey(key);
    EXPECT_EQ(SetupDiOpenDevRegKey(device.set, &device.data, DICS_FLAG_GLOBAL, 0, DIREG_BOTH, KEY_READ),
        static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    // A section installed into the driver key through its HKR.
    m.write("C:\\MODEM\\EXTRA.INF", "[Version]\r\nSignature=$Chicago$\r\n[Extra]\r\nAddReg = Extra.Reg\r\n"
                                    "[Extra.Reg]\r\nHKR,, Extra, , \"yes\"\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\EXTRA.INF", nullptr, INF_STYLE_WIN4, nullptr);
    key = SetupDiCreateDevRegKeyW(device.set, &device.data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, inf, u"Extra");
    ASSERT_NE(key, static_cast<HKEY>(INVALID_HANDLE_VALUE)) << GetLastError();
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExA(key, "Extra", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "yes");
    RegCloseKey(key);
    SetupCloseInfFile(inf);

    // A hardware key the PnP manager makes, opened with the caller's rights:
    // the Enum tree is not the administrators' to write.
    EXPECT_EQ(SetupDiCreateDevRegKeyA(device.set, &device.data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr),
        static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SetupDiOpenDevRegKey(device.set, &device.data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
        static_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));

    ASSERT_TRUE(SetupDiRemoveDevice(device.set, &device.data));
    EXPECT_TRUE(valueNames("SYSTEM\\CurrentControlSet\\Enum\\Root\\MODEM\\0000").empty());
    EXPECT_FALSE(SetupDiInstallDevice(device.set, &device.data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    EXPECT_FALSE(SetupDiRemoveDevice(device.set, &device.data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
}

TEST(SetupDiConformance, TheActualSectionToInstallCarriesThePlatformsDecoration)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\DEC.INF", "[Version]\r\nSignature=$Chicago$\r\n[A]\r\n[A.NT]\r\n[A.NTx86]\r\n[B]\r\n[B.NT]\r\n[C]\r\n");
    HINF inf = SetupOpenInfFileA("C:\\MODEM\\DEC.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    char a[32];
    PSTR extension = nullptr;
    DWORD required = 0;
    ASSERT_TRUE(SetupDiGetActualSectionToInstallA(inf, "a", a, sizeof a, &required, &extension));
    EXPECT_STREQ(a, "A.NTx86");
    EXPECT_EQ(required, 8u);
    EXPECT_EQ(extension, a + 1);
    WCHAR w[32];
    PWSTR wideExtension = nullptr;
    ASSERT_TRUE(SetupDiGetActualSectionToInstallW(inf, u"B", w, 32, &required, &wideExtension));
    EXPECT_EQ(std::u16string(w), u"B.NT");
    EXPECT_EQ(wideExtension, w + 1);
    ASSERT_TRUE(SetupDiGetActualSectionToInstallA(inf, "C", a, sizeof a, &required, &extension));
    EXPECT_STREQ(a, "C");
    EXPECT_EQ(extension, nullptr);
    EXPECT_FALSE(SetupDiGetActualSectionToInstallA(inf, "A", a, 4, &required, &extension));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(SetupDiGetActualSectionToInstallW(nullptr, u"A", w, 32, &required, &wideExtension));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetupCloseInfFile(inf);
}

TEST(SetupDiConformance, CoInstallersOfTheSelectedDriverAreRegisteredInItsDriverKey)
{
    test::TestMachine m;
    m.attach();
    m.write("C:\\MODEM\\CO.INF", "[Version]\r\nSignature=$Chicago$\r\nClass=Modem\r\nProvider=Maker\r\n"
                                 "[Manufacturer]\r\nMaker = Models\r\n[Models]\r\nCo Modem = Co, CO_MODEM\r\n"
                                 "[Co]\r\n[Co.NT]\r\nAddReg = Co.Reg\r\n[Co.Reg]\r\nHKR,, Decorated, , \"yes\"\r\n"
                                 "[Co.NT.CoInstallers]\r\nAddReg = Co.Add\r\n"
                                 "[Co.Add]\r\nHKR,, CoInstallers32, 0x00010000, \"coinst.dll,CoEntry\"\r\n");
    HDEVINFO set = SetupDiCreateDeviceInfoList(&ModemClass, nullptr);
    SP_DEVINFO_DATA data { sizeof data, {}, 0, 0 };
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(set, u"CO", &ModemClass, nullptr, nullptr, DICD_GENERATE_ID, &data));
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr));
    SP_DEVINSTALL_PARAMS_W params {};
    params.cbSize = sizeof params;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &data, &params));
    params.Flags |= DI_ENUMSINGLEINF;
    std::u16string path = u"C:\\MODEM\\CO.INF";
    std::copy(path.begin(), path.end(), params.DriverPath);
    ASSERT_TRUE(SetupDiSetDeviceInstallParamsW(set, &data, &params));
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &data, SPDIT_CLASSDRIVER));
    SP_DRVINFO_DATA_W driver {};
    driver.cbSize = sizeof driver;
    ASSERT_TRUE(SetupDiEnumDriverInfoW(set, &data, SPDIT_CLASSDRIVER, 0, &driver));
    ASSERT_TRUE(SetupDiSetSelectedDriverW(set, &data, &driver));
    ASSERT_TRUE(SetupDiRegisterCoDeviceInstallers(set, &data)) << GetLastError();
    // The driver key is made for them, and the install later keeps it.
    HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    ASSERT_NE(key, static_cast<HKEY>(INVALID_HANDLE_VALUE));
    char value[64] = {};
    DWORD size = sizeof value, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "CoInstallers32", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_STREQ(value, "coinst.dll,CoEntry");
    RegCloseKey(key);
    // The decorated install section is the one installed.
    ASSERT_TRUE(SetupDiInstallDevice(set, &data)) << GetLastError();
    key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    ASSERT_NE(key, static_cast<HKEY>(INVALID_HANDLE_VALUE));
    size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, "Decorated", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
        ERROR_SUCCESS);
    size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, "CoInstallers32", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(valueNames("SYSTEM\\CurrentControlSet\\Enum\\Root\\CO\\0000").count("Driver"), 1u);
    SetupDiDestroyDeviceInfoList(set);
}
