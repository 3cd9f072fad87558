#include "support/TestMachine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char testRoot[] = "SOFTWARE\\NtsimTest";

HKEY createKey(HKEY parent, const char* path, REGSAM sam = KEY_ALL_ACCESS, DWORD* disposition = nullptr)
{
    HKEY key = nullptr;
    LONG e = RegCreateKeyExA(parent, path, 0, nullptr, 0, sam, nullptr, &key, disposition);
    EXPECT_EQ(e, ERROR_SUCCESS) << path;
    return key;
}

LONG setString(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

}

TEST(RegistryApi, CreateOpenIsCaseInsensitiveAndCasePreserving)
{
    test::TestMachine m;
    m.attach();

    DWORD disposition = 0;
    HKEY key = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest\\MixedCase\\Deeper", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    key = createKey(HKEY_LOCAL_MACHINE, "software\\ntsimtest\\MIXEDCASE\\deeper", KEY_READ, &disposition);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);

    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NTSIMTEST", 0, KEY_READ, &parent), ERROR_SUCCESS);
    char name[256];
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MixedCase");
    EXPECT_EQ(length, 9u);
    RegCloseKey(parent);

    // A trailing backslash is accepted; a leading one is a bad path.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SYSTEM", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NoSuchKey", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x4444), "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x4444)), ERROR_INVALID_HANDLE);
    // Nothing may be created straight below the machine's root.
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "NewHive", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_ACCESS_DENIED);
}

TEST(RegistryApi, ValuesKeepTypeBytesAndReportSizes)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createKey(HKEY_LOCAL_MACHINE, testRoot);

    ASSERT_EQ(setString(key, "Text", "hello"), ERROR_SUCCESS);
    DWORD dword = 0x12345678;
    ASSERT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dword), 4), ERROR_SUCCESS);
    const BYTE multi[] = { 'a', 0, 'b', 'c', 0, 0 };
    ASSERT_EQ(RegSetValueExA(key, "List", 0, REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    // A string stored without its terminator comes back with one.
    ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, nullptr, "default"), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 6u);
    char small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    char text[16];
    size = sizeof text;
    ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "hello");

    BYTE bare[8] = { 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE };
    size = sizeof bare;
    ASSERT_EQ(RegQueryValueExA(key, "Bare", nullptr, &type, bare, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(bare[3], 0);
    EXPECT_EQ(bare[4], 0xEE);

    DWORD read = 0;
    size = 4;
    ASSERT_EQ(RegQueryValueExA(key, "Number", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(read, 0x12345678u);

    size = sizeof text;
    ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "default");

    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", &reserved, &type, nullptr, &size), ERROR_INVALID_PARAMETER);

    // Values enumerate in the order they were first set; a rewrite keeps its place.
    ASSERT_EQ(setString(key, "TEXT", "again"), ERROR_SUCCESS);
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD nameLength = sizeof name;
        BYTE data[64];
        DWORD dataSize = sizeof data;
        LONG e = RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataSize);
        if (e == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        EXPECT_EQ(nameLength, std::strlen(name));
        names.push_back(name);
        if (names.size() == 1) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "again");
            EXPECT_EQ(dataSize, 6u);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string> { "Text", "Number", "List", "Bare", "" }));
    char name[3];
    DWORD nameLength = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    BYTE tiny[2];
    DWORD tinySize = sizeof tiny;
    char wide[64];
    nameLength = sizeof wide;
    EXPECT_EQ(RegEnumValueA(key, 0, wide, &nameLength, nullptr, nullptr, tiny, &tinySize), ERROR_MORE_DATA);
    EXPECT_EQ(tinySize, 6u);

    DWORD subkeys = 9, values = 0, maxName = 0, maxData = 0, sdSize = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &maxName, &maxData,
                  &sdSize, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 5u);
    EXPECT_EQ(maxName, 6u);
    // Data as stored: strings in UTF-16, "default" and its terminator.
    EXPECT_EQ(maxData, 16u);
    EXPECT_GT(sdSize, 20u);

    ASSERT_EQ(RegDeleteValueA(key, "number"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Number"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    RegCloseKey(key);
}

TEST(RegistryApi, SubkeysEnumerateSortedAndDeleteOnlyWhenEmpty)
{
    test::TestMachine m;
    m.attach();
    HKEY root = createKey(HKEY_LOCAL_MACHINE, testRoot);
    for (const char* name : { "beta", "Alpha", "gamma\\child" })
        RegCloseKey(createKey(root, name));

    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0; RegEnumKeyA(root, i, name, sizeof name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string> { "Alpha", "beta", "gamma" }));
    char shortName[4];
    DWORD shortLength = sizeof shortName;
    EXPECT_EQ(RegEnumKeyExA(root, 0, shortName, &shortLength, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(root, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);

    // NT 4.0 refuses to delete a key that still has subkeys.
    EXPECT_EQ(RegDeleteKeyA(root, "gamma"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(root, "nothing"), ERROR_FILE_NOT_FOUND);

    HKEY child = nullptr;
    ASSERT_EQ(RegOpenKeyExA(root, "gamma\\child", 0, KEY_ALL_ACCESS, &child), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(root, "GAMMA\\CHILD"), ERROR_SUCCESS);
    // The open handle now names a deleted key.
    EXPECT_EQ(setString(child, "x", "y"), ERROR_KEY_DELETED);
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyA(child, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    // A key of the same name made again is a new key; the old handle stays dead.
    ASSERT_EQ(RegOpenKeyExA(root, "gamma", 0, KEY_ALL_ACCESS, &child), ERROR_SUCCESS);
    RegCloseKey(createKey(child, "child"));
    RegCloseKey(child);

    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED) << "a hive's root stays";
    RegCloseKey(root);
}

TEST(RegistryApi, PredefinedRootsMapAsOnNt)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createKey(HKEY_CLASSES_ROOT, ".ntsimtest");
    ASSERT_EQ(setString(key, nullptr, "ntsimfile"), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.NTSIMTEST", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    // HKCU is the administrator's own hive below HKU.
    key = createKey(HKEY_CURRENT_USER, "Software\\NtsimTest");
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "S-1-5-21-1004336348-1177238915-682003330-500\\Software\\NtsimTest", 0, KEY_READ,
                  &key),
        ERROR_SUCCESS);
    RegCloseKey(key);

    char version[16];
    DWORD size = sizeof version;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExA(key, "CurrentVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(version), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(version, "4.0");
    RegCloseKey(key);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST(RegistryApi, DefaultMachineHasTheKeysSetupMeets)
{
    test::TestMachine m;
    m.attach();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key), ERROR_SUCCESS);
    char port[16];
    DWORD size = sizeof port;
    ASSERT_EQ(RegQueryValueExA(key, "\\Device\\Serial1", nullptr, nullptr, reinterpret_cast<BYTE*>(port), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(port, "COM2");
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    DWORD type = 0;
    BYTE list[256];
    size = sizeof list;
    ASSERT_EQ(RegQueryValueExA(key, "AttachedComponents", nullptr, &type, list, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list)), "Root\\LEGACY_SERIAL\\0000");
    EXPECT_EQ(list[size - 1], 0);
    EXPECT_EQ(list[size - 2], 0);
    RegCloseKey(key);

    for (const char* path : { "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}",
             "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System", "SYSTEM\\CurrentControlSet\\Services\\Serial",
             "SYSTEM\\CurrentControlSet\\Enum\\Root",
             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific" }) {
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS) << path;
        RegCloseKey(key);
    }
}
