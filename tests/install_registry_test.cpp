// The modem's registry data: the hardware id from the PCI values, the
// model description from the INFs beside the program, the driver key, the
// COM port and the two values the install writes.
#include "install/ModemRegistry.h"
#include "wizard/InstDriverPage.h"

#include "support/DriverHarness.h"
#include "support/SetupRun.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

using test::importRegistry;

namespace {

std::string Binary(HKEY root, const std::string& key, const char* value)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    BYTE data[16];
    DWORD size = sizeof data, type = 0;
    LONG r = RegQueryValueExA(h, value, nullptr, &type, data, &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS)
        return "<no value>";
    std::string out = type == REG_BINARY ? "binary:" : "type " + std::to_string(type) + ":";
    char hex[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", data[i]);
        out += (i ? " " : "") + std::string(hex);
    }
    return out;
}

const char pciKey[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Xyz\\Parameters\\Xyz0]\n";

}

TEST(ModemRegistry, HardwareIdIsBuiltFromTheFivePciValuesInUpperCaseHex)
{
    test::DriverHarness h;
    // A decoy at the service's own Parameters key: only ...\Parameters\Xyz0 counts.
    importRegistry(h.machine(),
        std::string(pciKey)
            + "\"PciVendorID\"=dword:0000abcd\n\"PciDeviceID\"=dword:00005678\n\"PciSubsystemID\"=dword:00009abc\n"
              "\"PciSubsystemVendorID\"=dword:00001234\n\"PciRevision\"=dword:0000000b\n\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Xyz\\Parameters]\n"
              "\"PciVendorID\"=dword:00001111\n");
    h.newLogLines();
    char id[256] = "";
    EXPECT_TRUE(GetTheModemPlugAngPlayIdString("Xyz", id, sizeof id));
    EXPECT_STREQ(id, "VEN_ABCD&DEV_5678&SUBSYS_9ABC1234&REV_0B");
    EXPECT_EQ(h.newLogLines(), (Lines { "GetTheModemPlugAngPlayIdString Returning VEN_ABCD&DEV_5678&SUBSYS_9ABC1234&REV_0B",
                                   "GetTheModemPlugAngPlayIdString BOOLEAN bRet = 1" }));

    // A value beyond 16 bits prints all its digits.
    importRegistry(h.machine(), std::string(pciKey) + "\"PciDeviceID\"=dword:00012345\n");
    EXPECT_TRUE(GetTheModemPlugAngPlayIdString("Xyz", id, sizeof id));
    EXPECT_STREQ(id, "VEN_ABCD&DEV_12345&SUBSYS_9ABC1234&REV_0B");
}

TEST(ModemRegistry, AMissingPciValueStopsTheIdWhereItFailed)
{
    test::DriverHarness h;
    importRegistry(h.machine(), std::string(pciKey) + "\"PciVendorID\"=dword:00001234\n\"PciDeviceID\"=dword:00005678\n"
                                              "\"PciSubsystemVendorID\"=dword:00001234\n\"PciRevision\"=dword:00000002\n");
    h.newLogLines();
    char id[256] = "";
    EXPECT_FALSE(GetTheModemPlugAngPlayIdString("Xyz", id, sizeof id));
    EXPECT_STREQ(id, "VEN_1234&DEV_5678");
    EXPECT_EQ(h.newLogLines(), (Lines { "GetTheModemPlugAngPlayIdString RegQueryValueEx returned error 2 for PciSubsystemID",
                                   "GetTheModemPlugAngPlayIdString BOOLEAN bRet = 0" }));

    char none[256] = "";
    EXPECT_FALSE(GetTheModemPlugAngPlayIdString("Nothing", none, sizeof none));
    EXPECT_STREQ(none, "");
    EXPECT_EQ(h.newLogLines(), (Lines { "GetTheModemPlugAngPlayIdString RegOpenKeyEx returned error 2",
                                   "GetTheModemPlugAngPlayIdString BOOLEAN bRet = 0" }));
}

TEST(ModemRegistry, DescriptionComesFromTheFirstInfThatListsTheId)
{
    test::DriverHarness h;
    test::TestMachine& m = h.machine();
    m.write("C:\\MODEM\\AAA.INF", "[Version]\nSignature=\"$Windows NT$\"\n[Models]\n"
                                  "\"Other Modem\" = Other, VEN_0000&DEV_0000\n"
                                  "\"First Modem\" = First, ven_1234&dev_5678\n");
    m.write("C:\\MODEM\\bbb.inf", "[Version]\nSignature=\"$Windows NT$\"\n[Models]\n"
                                  "\"Second Modem\" = Second, VEN_1234&DEV_5678\n");
    // Which file the directory search reports first decides, whatever its name.
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA("C:\\MODEM\\*.INF", &found);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    std::string expected;
    do {
        std::string name = found.cFileName;
        if (name == "AAA.INF" || name == "bbb.inf") {
            expected = name == "AAA.INF" ? "First Modem" : "Second Modem";
            break;
        }
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
    ASSERT_FALSE(expected.empty());

    CInstDriverPage page;
    h.newLogLines();
    char description[256] = "";
    EXPECT_TRUE(page.GetTheInfFileDescription("VEN_1234&DEV_5678", description, sizeof description));
    EXPECT_EQ(std::string(description), expected);
    EXPECT_EQ(h.newLogLines(), (Lines { "CInstDriverPage::GetTheInfFileDescription return with 1" }));

    // A description that does not fit is passed over, with its line.
    char tiny[5] = "keep";
    EXPECT_FALSE(page.GetTheInfFileDescription("VEN_1234&DEV_5678", tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "keep");
    EXPECT_EQ(h.newLogLines(), (Lines { "CInstDriverPage::GetTheInfFileDescription user buffer too small 5",
                                   "CInstDriverPage::GetTheInfFileDescription user buffer too small 5",
                                   "CInstDriverPage::GetTheInfFileDescription return with 0" }));
}

TEST(ModemRegistry, AModelsLineWithoutAnIdEndsThatFile)
{
    test::DriverHarness h;
    test::TestMachine& m = h.machine();
    m.write("C:\\MODEM\\ONLY.INF", "[Version]\nSignature=\"$Windows NT$\"\n[Models]\n"
                                   "\"No Id\" = NoId\n"
                                   "\"Late Modem\" = Late, VEN_4321&DEV_8765\n");
    CInstDriverPage page;
    char description[256] = "";
    EXPECT_FALSE(page.GetTheInfFileDescription("VEN_4321&DEV_8765", description, sizeof description));
    EXPECT_STREQ(description, "");
}

TEST(ModemRegistry, FindOurControlClassFollowsTheDeviceDriverValue)
{
    test::DriverHarness h;
    importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\VEN_1&DEV_2\\0000]\n"
                        "\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0007\"\n\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0007]\n"
                        "\"DriverDesc\"=\"Seeded\"\n\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\VEN_1&DEV_3\\0000]\n"
                        "\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0099\"\n\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\VEN_1&DEV_4\\0000]\n");
    CInstDriverPage page;
    h.newLogLines();

    HKEY hKey = page.FindOurControlClass("VEN_1&DEV_2");
    ASSERT_NE(hKey, nullptr);
    char desc[32] = "";
    DWORD size = sizeof desc;
    EXPECT_EQ(RegQueryValueExA(hKey, "DriverDesc", nullptr, nullptr, reinterpret_cast<BYTE*>(desc), &size), ERROR_SUCCESS);
    EXPECT_STREQ(desc, "Seeded");
    // Opened for full access: the install writes into it.
    EXPECT_EQ(RegSetValueExA(hKey, "AttachedTo", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM9"), 5), ERROR_SUCCESS);
    char handle[32];
    std::snprintf(handle, sizeof handle, "%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(hKey)));
    EXPECT_EQ(h.newLogLines(), (Lines { std::string("FindOurControlClass returning key ") + handle }));
    RegCloseKey(hKey);

    EXPECT_EQ(page.FindOurControlClass("VEN_9&DEV_9"), nullptr);
    EXPECT_EQ(h.newLogLines(), (Lines { "FindOurControlClass RegOpenKeyEx returned error 2",
                                   "FindOurControlClass for key SYSTEM\\CurrentControlSet\\Enum\\Root\\VEN_9&DEV_9\\0000",
                                   "FindOurControlClass returning key 0" }));
    EXPECT_EQ(page.FindOurControlClass("VEN_1&DEV_3"), nullptr);
    EXPECT_EQ(h.newLogLines(), (Lines { "FindOurControlClass RegOpenKeyEx returned error 2",
                                   "FindOurControlClass for key {4D36E96D-E325-11CE-BFC1-08002BE10318}\\0099",
                                   "FindOurControlClass returning key 0" }));
    EXPECT_EQ(page.FindOurControlClass("VEN_1&DEV_4"), nullptr);
    EXPECT_EQ(h.newLogLines(), (Lines { "FindOurControlClass RegQueryValueEx returned error 2",
                                   "FindOurControlClass for key Driver", "FindOurControlClass returning key 0" }));
}

TEST(ModemRegistry, FetchAttachedToTakesTheFirstPortWhoseNameHoldsTheService)
{
    test::DriverHarness h;
    importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                        "\"\\\\Device\\\\Other0\"=\"COM3\"\n"
                        "\"\\\\Device\\\\Modem2Port\"=\"COM4\"\n"
                        "\"\\\\Device\\\\Xyz0\"=\"COM5\"\n");
    CInstDriverPage page;
    h.newLogLines();
    char port[256] = "";
    EXPECT_TRUE(page.FetchAttachedTo("Xyz", port));
    EXPECT_STREQ(port, "COM5");
    EXPECT_EQ(h.newLogLines(), (Lines { "FetchAttachedTo RegOpenKeyEx found COM5", "FetchAttachedTo BOOLEAN bRet = 1" }));
    EXPECT_TRUE(page.FetchAttachedTo("Modem", port));
    EXPECT_STREQ(port, "COM4");
    h.newLogLines();
    // Case counts.
    char none[256] = "";
    EXPECT_FALSE(page.FetchAttachedTo("xyz", none));
    EXPECT_STREQ(none, "");
    EXPECT_EQ(h.newLogLines(), (Lines { "FetchAttachedTo BOOLEAN bRet = 0" }));
}

TEST(ModemRegistry, AttachedToAndCountryAreWrittenAndTheCountryReadBack)
{
    test::DriverHarness h;
    const std::string driverKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0003";
    importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\" + driverKey + "\\Country]\n\"Current\"=hex:00,01\n\n"
                        "[HKEY_LOCAL_MACHINE\\" + driverKey + "0]\n");
    CInstDriverPage page;
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, driverKey.c_str(), 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
    h.newLogLines();

    EXPECT_TRUE(page.AddAttachedToStringToRegistry(hKey, "COM3"));
    EXPECT_EQ(h.newLogLines(), (Lines { "AddAttachedToStringToRegistry added AttachedTo = COM3",
                                   "AddAttachedToStringToRegistry BOOLEAN bRet = 1" }));
    char port[8] = "";
    DWORD size = sizeof port, type = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "AttachedTo", nullptr, &type, reinterpret_cast<BYTE*>(port), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 5u);

    // No country given: the stored 256 decides.
    EXPECT_FALSE(page.AddCurrentCountryStringToRegistry(hKey, FALSE, 181));
    EXPECT_EQ(h.newLogLines(), (Lines { "AddCurrentCountryStringToRegistry current country = 0",
                                   "AddCurrentCountryStringToRegistry BOOLEAN bRet = 0" }));
    EXPECT_EQ(Binary(HKEY_LOCAL_MACHINE, driverKey + "\\Country", "Current"), "binary:00 01");

    EXPECT_TRUE(page.AddCurrentCountryStringToRegistry(hKey, TRUE, 181));
    EXPECT_EQ(h.newLogLines(), (Lines { "AddCurrentCountryStringToRegistry  added country b5",
                                   "AddCurrentCountryStringToRegistry current country = 181",
                                   "AddCurrentCountryStringToRegistry BOOLEAN bRet = 1" }));
    EXPECT_EQ(Binary(HKEY_LOCAL_MACHINE, driverKey + "\\Country", "Current"), "binary:B5 00");

    // Japan's code is 0, and still a country.
    EXPECT_TRUE(page.AddCurrentCountryStringToRegistry(hKey, TRUE, 0));
    EXPECT_EQ(Binary(HKEY_LOCAL_MACHINE, driverKey + "\\Country", "Current"), "binary:00 00");
    RegCloseKey(hKey);

    // A driver key without Country: never created here.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (driverKey + "0").c_str(), 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
    h.newLogLines();
    EXPECT_FALSE(page.AddCurrentCountryStringToRegistry(hKey, TRUE, 181));
    EXPECT_EQ(h.newLogLines(), (Lines { "AddCurrentCountryStringToRegistry RegOpenKeyEx returned error 2",
                                   "AddCurrentCountryStringToRegistry BOOLEAN bRet = 0" }));
    HKEY hCountry;
    EXPECT_EQ(RegOpenKeyExA(hKey, "Country", 0, KEY_READ, &hCountry), ERROR_FILE_NOT_FOUND);
    RegCloseKey(hKey);
}
