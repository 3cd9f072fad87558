// The registry calls against the platform's documentation and, where it
// is silent, what was measured on Windows or tried under Wine (said so at
// the check). Each fact is checked in both forms, the A form against the
// W form.
#include "support/TestMachine.h"

#include "registry/Keys.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::u16string greek = u"\u03A9\u03B1x"; // Omega, alpha, x

HKEY create(HKEY parent, const char* path, REGSAM sam = KEY_ALL_ACCESS)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, sam, nullptr, &key, nullptr), ERROR_SUCCESS) << path;
    return key;
}

HKEY createW(HKEY parent, const std::u16string& path)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
}

std::vector<BYTE> bytes(const char* text, size_t size)
{
    return std::vector<BYTE>(text, text + size);
}

std::vector<BYTE> wideBytes(const std::u16string& text, size_t units)
{
    std::vector<BYTE> out;
    for (size_t i = 0; i < units; ++i) {
        out.push_back(static_cast<BYTE>(text[i] & 0xFF));
        out.push_back(static_cast<BYTE>(text[i] >> 8));
    }
    return out;
}

// Queries a value into a buffer of capacity bytes filled with 0xEE; gives
// the status, the size told and the buffer.
struct Query {
    LONG status;
    DWORD size;
    std::vector<BYTE> buffer;
};

Query queryA(HKEY key, const char* name, DWORD capacity)
{
    Query q { 0, capacity, std::vector<BYTE>(capacity + 4, 0xEE) };
    q.status = RegQueryValueExA(key, name, nullptr, nullptr, q.buffer.data(), &q.size);
    return q;
}

Query queryW(HKEY key, const char16_t* name, DWORD capacity)
{
    Query q { 0, capacity, std::vector<BYTE>(capacity + 4, 0xEE) };
    q.status = RegQueryValueExW(key, name, nullptr, nullptr, q.buffer.data(), &q.size);
    return q;
}

std::vector<BYTE> head(const Query& q, size_t n)
{
    return std::vector<BYTE>(q.buffer.begin(), q.buffer.begin() + static_cast<long>(n));
}

DWORD sizeA(HKEY key, const char* name)
{
    DWORD size = 77;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    return size;
}

DWORD sizeW(HKEY key, const char16_t* name)
{
    DWORD size = 77;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    return size;
}

bool signaled(HANDLE event, DWORD ms)
{
    return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

}

TEST(RegistryConformance, QueryValueTerminatesStringsStoredWithoutTheirZeroAsMeasuredOnWindows)
{
    test::TestMachine m;
    m.attach();
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    // Three of "abcd"'s bytes: no terminator is stored.
    ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcd"), 3), ERROR_SUCCESS);

    // The size without a data buffer leaves room for the zero.
    EXPECT_EQ(sizeA(key, "Bare"), 4u);
    EXPECT_EQ(sizeW(key, u"Bare"), 8u);

    // A buffer of exactly the data's size is too small; nothing is written.
    Query a = queryA(key, "Bare", 3);
    EXPECT_EQ(a.status, ERROR_MORE_DATA);
    EXPECT_EQ(a.size, 4u);
    EXPECT_EQ(head(a, 4), std::vector<BYTE>(4, 0xEE));
    Query w = queryW(key, u"Bare", 6);
    EXPECT_EQ(w.status, ERROR_MORE_DATA);
    EXPECT_EQ(w.size, 8u);
    EXPECT_EQ(head(w, 8), std::vector<BYTE>(8, 0xEE));

    // With room, a zero follows the data.
    a = queryA(key, "Bare", 10);
    EXPECT_EQ(a.status, ERROR_SUCCESS);
    EXPECT_EQ(a.size, 4u);
    EXPECT_EQ(head(a, 5), (std::vector<BYTE> { 'a', 'b', 'c', 0, 0xEE }));
    w = queryW(key, u"Bare", 20);
    EXPECT_EQ(w.status, ERROR_SUCCESS);
    EXPECT_EQ(w.size, 8u);
    EXPECT_EQ(head(w, 9), (std::vector<BYTE> { 'a', 0, 'b', 0, 'c', 0, 0, 0, 0xEE }));

    // A multi-string gets both its terminators, an expandable string its one.
    ASSERT_EQ(RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0bc"), 3), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "Multi"), 5u);
    EXPECT_EQ(sizeW(key, u"Multi"), 10u);
    a = queryA(key, "Multi", 16);
    EXPECT_EQ(head(a, 6), (std::vector<BYTE> { 'a', 0, 'b', 0, 0, 0xEE }));
    ASSERT_EQ(RegSetValueExA(key, "OneEnd", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0b\0"), 4), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "OneEnd"), 5u);
    ASSERT_EQ(RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%x%"), 3), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "Expand"), 4u);

    // Binary data and strings stored whole are handed out as they are.
    ASSERT_EQ(RegSetValueExA(key, "Bytes", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "Bytes"), 3u);
    ASSERT_EQ(RegSetValueExA(key, "Whole", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 4), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "Whole"), 4u);
    EXPECT_EQ(sizeW(key, u"Whole"), 8u);
    // An empty value stays empty.
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "Empty"), 0u);
    RegCloseKey(key);
}

TEST(RegistryConformance, QueryValueOfAMissingValueSetsTheSizeToZeroOnlyWithoutDataAsMeasured)
{
    test::TestMachine m;
    m.attach();
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");

    DWORD size = 77;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);
    size = 77;
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);
    // With a data buffer the size is left as it was (tried under Wine).
    BYTE data[8];
    size = 77;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 77u);
    size = 77;
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 77u);
    // NT leaves the A form's type undefined on failure (tried under Wine:
    // REG_NONE); the W form leaves it alone.
    DWORD type = 55;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, DWORD(REG_NONE));
    type = 55;
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 55u);

    // The type and the size may be one variable: the size is read first and
    // written last.
    ASSERT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("hello"), 6), ERROR_SUCCESS);
    DWORD both = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &both, data, &both), ERROR_MORE_DATA);
    EXPECT_EQ(both, 6u);
    BYTE room[40];
    both = sizeof room;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &both, room, &both), ERROR_SUCCESS);
    EXPECT_EQ(both, 6u);
    both = sizeof room;
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &both, room, &both), ERROR_SUCCESS);
    EXPECT_EQ(both, 12u);

    // Documented refusals: data without a size, a reserved pointer.
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"Text", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);

    // Too small for a DWORD: the size needed, the buffer untouched.
    DWORD number = 5;
    ASSERT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4), ERROR_SUCCESS);
    Query a = queryA(key, "Number", 2);
    EXPECT_EQ(a.status, ERROR_MORE_DATA);
    EXPECT_EQ(a.size, 4u);
    EXPECT_EQ(head(a, 2), std::vector<BYTE>(2, 0xEE));
    Query w = queryW(key, u"Number", 2);
    EXPECT_EQ(w.status, ERROR_MORE_DATA);
    EXPECT_EQ(w.size, 4u);
    RegCloseKey(key);
}

TEST(RegistryConformance, SetValueKeepsWideDataAsGivenAndConvertsAnsiStrings)
{
    test::TestMachine m;
    m.attach();
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");

    // NT keeps strings in Unicode: the A form's "caf\xe9" (code page 1252)
    // is U+00E9 for the W form, and back.
    ASSERT_EQ(RegSetValueExA(key, "Ansi", 0, REG_SZ, reinterpret_cast<const BYTE*>("caf\xe9"), 5), ERROR_SUCCESS);
    Query w = queryW(key, u"Ansi", 20);
    EXPECT_EQ(w.size, 10u);
    EXPECT_EQ(head(w, 10), wideBytes(u"caf\u00e9", 5));
    ASSERT_EQ(RegSetValueExW(key, u"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"\u00e9t\u00e9"), 8), ERROR_SUCCESS);
    Query a = queryA(key, "Wide", 20);
    EXPECT_EQ(a.size, 4u);
    EXPECT_EQ(head(a, 4), bytes("\xe9t\xe9", 4));
    // A character the code page lacks comes to the A form as '?'.
    ASSERT_EQ(RegSetValueExW(key, greek.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(greek.c_str()), 8), ERROR_SUCCESS);
    w = queryW(key, greek.c_str(), 20);
    EXPECT_EQ(head(w, 8), wideBytes(greek, 4));
    char name[8];
    DWORD nameLength = sizeof name;
    BYTE data[16];
    DWORD size = sizeof data;
    ASSERT_EQ(RegEnumValueA(key, 2, name, &nameLength, nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_STREQ(name, "??x");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("??x", 4));

    // Other types are bytes to both forms; a W string's odd byte is kept.
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"xyz"), 5), ERROR_SUCCESS);
    EXPECT_EQ(sizeW(key, u"Odd"), 5u);
    ASSERT_EQ(RegSetValueExA(key, "Own", 0, 0x12345, reinterpret_cast<const BYTE*>("\xe9\x01"), 2), ERROR_SUCCESS);
    EXPECT_EQ(sizeW(key, u"Own"), 2u);

    // Data missing with a size is an access fault (documented); none with
    // no size stores an empty value.
    EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Null", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(sizeA(key, "Null"), 0u);
    RegCloseKey(key);
}

TEST(RegistryConformance, WideNamesKeepEveryCharacterAndCompareWithoutCaseByNtsTables)
{
    test::TestMachine m;
    m.attach();
    HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    HKEY sub = createW(root, greek);
    RegCloseKey(sub);

    // Another case of the same Greek name is the same key.
    HKEY again = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(root, u"\u03C9\u0391X", 0, nullptr, 0, KEY_READ, nullptr, &again, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);

    // The W form enumerates the name as it was given; the A form sees it
    // through code page 1252.
    WCHAR wide[16];
    DWORD length = 16;
    ASSERT_EQ(RegEnumKeyExW(root, 0, wide, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::u16string(wide), greek);
    char narrow[16];
    length = 16;
    ASSERT_EQ(RegEnumKeyExA(root, 0, narrow, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(narrow, "??x");

    // Lengths count characters, the same in both forms.
    DWORD maxA = 0, maxW = 0;
    ASSERT_EQ(RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, nullptr, &maxA, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, nullptr, &maxW, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(maxA, 3u);
    EXPECT_EQ(maxW, 3u);

    // The machine's code page decides what the A form's bytes are: 932's
    // two bytes for U+3042 make one character of the W form's.
    RegCloseKey(root);
    m.set("locale=0411");
    m.attach();
    root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    HKEY kana = create(root, "\x82\xa0");
    RegCloseKey(kana);
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(root, u"\u3042", 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    RegCloseKey(root);
}

TEST(RegistryConformance, KeyNamesOf255CharactersAreTheLongestNtTakes)
{
    test::TestMachine m;
    m.attach();
    HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    std::string longest(255, 'k');
    std::string tooLong(256, 'k');
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, longest.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExA(root, tooLong.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);
    std::u16string wideTooLong(256, u'k');
    EXPECT_EQ(RegCreateKeyExW(root, wideTooLong.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
        ERROR_INVALID_PARAMETER);
    // No such key can be opened.
    EXPECT_EQ(RegOpenKeyExA(root, tooLong.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(root, wideTooLong.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

    // Value names go to 16,383 characters.
    std::string valueName(16383, 'v');
    EXPECT_EQ(RegSetValueExA(root, valueName.c_str(), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    valueName += 'v';
    EXPECT_EQ(RegSetValueExA(root, valueName.c_str(), 0, REG_BINARY, nullptr, 0), ERROR_INVALID_PARAMETER);
    DWORD maxName = 0;
    ASSERT_EQ(RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(maxName, 16383u);
    RegCloseKey(root);
}

TEST(RegistryConformance, EnumerationWithTooSmallBuffersChangesNothingButTellsTheDataSize)
{
    test::TestMachine m;
    m.attach();
    HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    HKEY sub = nullptr;
    char className[] = "MyClass";
    ASSERT_EQ(RegCreateKeyExA(root, "Sub", 0, className, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
    RegCloseKey(sub);
    ASSERT_EQ(RegSetValueExA(root, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>("data"), 5), ERROR_SUCCESS);

    // A name needs room for its zero; too little leaves buffer and length.
    char name[8];
    std::memset(name, 'Z', sizeof name);
    DWORD length = 2;
    EXPECT_EQ(RegEnumKeyExA(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(name[0], 'Z');
    WCHAR wide[8] = {};
    length = 3;
    EXPECT_EQ(RegEnumKeyExW(root, 0, wide, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(wide[0], 0);
    length = 4;
    EXPECT_EQ(RegEnumKeyExA(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(name, "Sub");
    EXPECT_EQ(RegEnumKeyA(root, 0, name, 3), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyW(root, 0, wide, 4), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wide), u"Sub");

    // The class: its length alone, or too little room for it.
    char klass[16];
    DWORD classLength = 0;
    length = 8;
    EXPECT_EQ(RegEnumKeyExA(root, 0, name, &length, nullptr, nullptr, &classLength, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(classLength, 7u);
    classLength = 3;
    EXPECT_EQ(RegEnumKeyExA(root, 0, name, &length, nullptr, klass, &classLength, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(classLength, 3u);
    WCHAR wideClass[16];
    classLength = 16;
    length = 8;
    EXPECT_EQ(RegEnumKeyExW(root, 0, wide, &length, nullptr, wideClass, &classLength, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wideClass), u"MyClass");
    EXPECT_EQ(RegEnumKeyExA(root, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    DWORD reserved = 0;
    EXPECT_EQ(RegEnumKeyExW(root, 0, wide, &length, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);

    // A value name too long for its buffer still tells the data's size
    // (tried under Wine); data too long tells it too.
    BYTE data[16];
    DWORD size = sizeof data;
    length = 2;
    EXPECT_EQ(RegEnumValueA(root, 0, name, &length, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(size, 5u);
    size = sizeof data;
    length = 2;
    EXPECT_EQ(RegEnumValueW(root, 0, wide, &length, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    size = 1;
    length = 8;
    EXPECT_EQ(RegEnumValueA(root, 0, name, &length, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    DWORD type = 0;
    size = 0;
    length = 8;
    EXPECT_EQ(RegEnumValueW(root, 0, wide, &length, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wide), u"Value");
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(RegEnumValueA(root, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(root);
}

TEST(RegistryConformance, QueryInfoKeyTellsTheClassLengthItNeedsAndTheSameCountsInBothForms)
{
    test::TestMachine m;
    m.attach();
    HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    HKEY sub = nullptr;
    char className[] = "MyClass";
    ASSERT_EQ(RegCreateKeyExA(root, "Sub", 0, className, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
    char klass[16];
    DWORD length = 3;
    EXPECT_EQ(RegQueryInfoKeyA(sub, klass, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_MORE_DATA);
    EXPECT_EQ(length, 7u);
    WCHAR wideClass[16];
    length = 7;
    EXPECT_EQ(RegQueryInfoKeyW(sub, wideClass, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_MORE_DATA);
    length = 8;
    EXPECT_EQ(RegQueryInfoKeyW(sub, wideClass, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wideClass), u"MyClass");
    EXPECT_EQ(length, 7u);
    RegCloseKey(sub);

    ASSERT_EQ(RegSetValueExA(root, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("hello"), 6), ERROR_SUCCESS);
    DWORD counts[2][6];
    ASSERT_EQ(RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &counts[0][0], &counts[0][1], &counts[0][2],
                  &counts[0][3], &counts[0][4], &counts[0][5], nullptr, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, &counts[1][0], &counts[1][1], &counts[1][2],
                  &counts[1][3], &counts[1][4], &counts[1][5], nullptr, nullptr),
        ERROR_SUCCESS);
    // One subkey "Sub" of class "MyClass", one value "Text" of 12 bytes as
    // stored (tried under Wine: the A form too tells the stored size).
    const DWORD expected[6] = { 1, 3, 7, 1, 4, 12 };
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(counts[0][i], expected[i]) << i;
        EXPECT_EQ(counts[1][i], expected[i]) << i;
    }
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryInfoKeyW(root, nullptr, nullptr, &reserved, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryInfoKeyA(root, klass, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_INVALID_PARAMETER);
    RegCloseKey(root);
}

TEST(RegistryConformance, TheWindows31CallsWorkOnTheDefaultValueOfASubkey)
{
    test::TestMachine m;
    m.attach();
    HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");

    // RegSetValue takes REG_SZ alone, creates the subkey and counts the
    // string, not the size given.
    EXPECT_EQ(RegSetValueA(root, "Old", REG_DWORD, "x", 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueA(root, "Old", REG_SZ, "oldtext", 2), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueW(root, u"Wide", REG_SZ, u"w\u00e9", 0), ERROR_SUCCESS);

    LONG size = 0;
    EXPECT_EQ(RegQueryValueA(root, "Old", nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8);
    char text[16];
    size = 3;
    EXPECT_EQ(RegQueryValueA(root, "Old", text, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8);
    size = sizeof text;
    EXPECT_EQ(RegQueryValueA(root, "Old", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "oldtext");
    WCHAR wide[16];
    size = sizeof wide;
    EXPECT_EQ(RegQueryValueW(root, u"Wide", wide, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(std::u16string(wide), u"w\u00e9");
    size = sizeof text;
    EXPECT_EQ(RegQueryValueA(root, "Wide", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "w\xe9");

    // A key without a default value gives an empty string (tried under Wine).
    HKEY empty = create(root, "NoDefault");
    RegCloseKey(empty);
    size = sizeof text;
    EXPECT_EQ(RegQueryValueA(root, "NoDefault", text, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1);
    EXPECT_STREQ(text, "");
    size = sizeof wide;
    EXPECT_EQ(RegQueryValueW(root, u"NoDefault", wide, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(RegQueryValueA(root, "NoSuch", text, &size), ERROR_FILE_NOT_FOUND);
    // No subkey: the key's own default value.
    EXPECT_EQ(RegSetValueA(root, nullptr, REG_SZ, "mine", 0), ERROR_SUCCESS);
    size = sizeof text;
    EXPECT_EQ(RegQueryValueA(root, "", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "mine");

    // RegOpenKey without a subkey gives back the handle itself; RegCreateKey
    // opens the key anew.
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(root, nullptr, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, root);
    EXPECT_EQ(RegOpenKeyW(root, u"", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, root);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyW(root, nullptr, &created), ERROR_SUCCESS);
    EXPECT_NE(created, root);
    RegCloseKey(created);
    EXPECT_EQ(RegCreateKeyA(root, "Made\\Deeper", &created), ERROR_SUCCESS);
    RegCloseKey(created);
    EXPECT_EQ(RegOpenKeyA(root, "made\\DEEPER", &created), ERROR_SUCCESS);
    RegCloseKey(created);
    EXPECT_EQ(RegOpenKeyA(root, "Old", nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(root);
}

TEST(RegistryConformance, QueryMultipleValuesPacksEachValueAfterTheOther)
{
    test::TestMachine m;
    m.attach();
    HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    DWORD number = 7;
    ASSERT_EQ(RegSetValueExA(root, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("hello"), 6), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(root, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4), ERROR_SUCCESS);

    VALENTA list[2] = {};
    list[0].ve_valuename = const_cast<LPSTR>("Text");
    list[1].ve_valuename = const_cast<LPSTR>("Number");
    // No buffer, or too small a one: the size all of them take.
    DWORD total = 0;
    EXPECT_EQ(RegQueryMultipleValuesA(root, list, 2, nullptr, &total), ERROR_MORE_DATA);
    EXPECT_EQ(total, 10u);
    char buffer[32];
    total = 5;
    EXPECT_EQ(RegQueryMultipleValuesA(root, list, 2, buffer, &total), ERROR_MORE_DATA);
    EXPECT_EQ(total, 10u);
    total = sizeof buffer;
    ASSERT_EQ(RegQueryMultipleValuesA(root, list, 2, buffer, &total), ERROR_SUCCESS);
    EXPECT_EQ(total, 10u);
    EXPECT_EQ(list[0].ve_valueptr, reinterpret_cast<DWORD_PTR>(buffer));
    EXPECT_EQ(list[0].ve_valuelen, 6u);
    EXPECT_EQ(list[0].ve_type, DWORD(REG_SZ));
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(list[1].ve_valueptr, reinterpret_cast<DWORD_PTR>(buffer + 6));
    EXPECT_EQ(list[1].ve_type, DWORD(REG_DWORD));

    // The W form takes the data as stored.
    VALENTW wideList[2] = {};
    wideList[0].ve_valuename = const_cast<LPWSTR>(u"Text");
    wideList[1].ve_valuename = const_cast<LPWSTR>(u"Number");
    WCHAR wideBuffer[16];
    total = sizeof wideBuffer;
    ASSERT_EQ(RegQueryMultipleValuesW(root, wideList, 2, wideBuffer, &total), ERROR_SUCCESS);
    EXPECT_EQ(total, 16u);
    EXPECT_EQ(std::u16string(wideBuffer), u"hello");

    // One missing value fails them all (tried under Wine).
    list[1].ve_valuename = const_cast<LPSTR>("Missing");
    total = sizeof buffer;
    EXPECT_EQ(RegQueryMultipleValuesA(root, list, 2, buffer, &total), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryMultipleValuesA(root, list, 2, buffer, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(root);
}

TEST(RegistryConformance, HandlesOfOtherKindsAndPredefinedKeysAreTakenAsNtTakesThem)
{
    test::TestMachine m;
    m.attach();
    HKEY key = nullptr;
    // An event's handle, a closed key's handle: no keys.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(event), "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(event)), ERROR_INVALID_HANDLE);
    CloseHandle(event);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(RegFlushKey(reinterpret_cast<HKEY>(manager)), ERROR_INVALID_HANDLE);
    CloseServiceHandle(manager);
    HKEY closed = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(closed, u"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

    // Predefined keys need no open and no close; NT 4.0's performance data
    // and Windows 95's dynamic data are no keys here.
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, nullptr, 0, KEY_READ, &key), ERROR_INVALID_HANDLE);

    // A key deleted behind an open handle.
    HKEY doomed = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance\\Doomed");
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Conformance\\Doomed"), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(doomed, "x", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
    RegCloseKey(doomed);

    // NT 4.0 deletes only keys without subkeys, never a hive's root.
    HKEY parent = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance\\Parent\\Child");
    RegCloseKey(parent);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance\\Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
}

TEST(RegistryConformance, OpenChecksTheRightsAskedForAndLeavesNoHandleWhenItFails)
{
    test::TestMachine m;
    m.set("user=guest");
    m.attach();
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    // A guest reads HKLM\SOFTWARE but may not write it.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    // A right no key has is not granted.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ | 0x40, &key), ERROR_ACCESS_DENIED);
    // The most the caller may have, which lets it read but not write.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, MAXIMUM_ALLOWED, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_BINARY, nullptr, 0), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);

    // Registry calls report through their status: the last error stays
    // (tried under Wine).
    SetLastError(1234);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"NoSuchKey", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), 1234u);
    RegCloseKey(key);
}

TEST(RegistryConformance, ConnectRegistryReachesThisMachineByItsNameOnlyAndNoOther)
{
    test::TestMachine m;
    m.attach();
    char computer[64];
    DWORD length = sizeof computer;
    HKEY names = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", 0,
                  KEY_READ, &names),
        ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExA(names, "ComputerName", nullptr, nullptr, reinterpret_cast<BYTE*>(computer), &length),
        ERROR_SUCCESS);
    RegCloseKey(names);
    std::string own = computer;
    std::string lower = own;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    std::string withBackslashes = "\\\\" + lower;
    for (const char* name : { static_cast<const char*>(nullptr), "", own.c_str(), withBackslashes.c_str() }) {
        HKEY key = nullptr;
        ASSERT_EQ(RegConnectRegistryA(name, HKEY_LOCAL_MACHINE, &key), ERROR_SUCCESS) << (name ? name : "(null)");
        HKEY software = nullptr;
        EXPECT_EQ(RegOpenKeyExA(key, "SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
        RegCloseKey(software);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    HKEY users = nullptr;
    EXPECT_EQ(RegConnectRegistryW(u"", HKEY_USERS, &users), ERROR_SUCCESS);
    RegCloseKey(users);
    // Only the machine's two roots are reached this way.
    HKEY key = nullptr;
    EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_CURRENT_USER, &key), ERROR_INVALID_HANDLE);
    // No network: another machine's name is a path nothing answers (tried
    // under Wine).
    EXPECT_EQ(RegConnectRegistryA("\\\\ELSEWHERE", HKEY_LOCAL_MACHINE, &key), ERROR_BAD_NETPATH);
    EXPECT_EQ(RegConnectRegistryW(u"ELSEWHERE", HKEY_LOCAL_MACHINE, &key), ERROR_BAD_NETPATH);
}

TEST(RegistryConformance, NotifyChangeSetsItsEventOnceForTheChangesItsFilterNames)
{
    test::TestMachine m;
    m.attach();
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance");
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    // A value set wakes a LAST_SET watch, not a NAME one.
    ASSERT_EQ(RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME, event, TRUE), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_FALSE(signaled(event, 100));
    HKEY sub = create(key, "Sub");
    EXPECT_TRUE(signaled(event, 2000));
    ResetEvent(event);
    // One change, one notice: the next one needs a new call.
    ASSERT_EQ(RegSetValueExA(key, "w", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    HKEY other = create(key, "Other");
    RegCloseKey(other);
    EXPECT_FALSE(signaled(event, 100));

    // Below the key only with the subtree.
    ASSERT_EQ(RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(sub, "v", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_FALSE(signaled(event, 100));
    HKEY watched = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Conformance", 0, KEY_NOTIFY, &watched), ERROR_SUCCESS);
    HANDLE below = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(watched, TRUE, REG_NOTIFY_CHANGE_LAST_SET, below, TRUE), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(sub, "w", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_TRUE(signaled(below, 2000));

    // Another process's change.
    ResetEvent(below);
    ASSERT_EQ(RegNotifyChangeKeyValue(watched, TRUE, REG_NOTIFY_CHANGE_LAST_SET, below, TRUE), ERROR_SUCCESS);
    pid_t child = fork();
    if (child == 0)
        _exit(RegSetValueExA(sub, "fromChild", 0, REG_BINARY, nullptr, 0) == ERROR_SUCCESS ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(signaled(below, 2000));

    // Closing the handle a watch was set on sets its event (documented).
    HANDLE closing = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_SECURITY, closing, TRUE), ERROR_SUCCESS);
    EXPECT_FALSE(signaled(closing, 50));
    RegCloseKey(watched);
    EXPECT_TRUE(signaled(closing, 2000));

    // What NT refuses: an unknown filter bit, no event for an asynchronous
    // watch, a handle without KEY_NOTIFY.
    EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, 0x10, event, TRUE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME, nullptr, TRUE), ERROR_INVALID_HANDLE);
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Conformance", 0, KEY_QUERY_VALUE, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(RegNotifyChangeKeyValue(readOnly, FALSE, REG_NOTIFY_CHANGE_NAME, event, TRUE), ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);

    // Waiting in the call: it returns once another thread changes the key.
    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        RegSetValueExA(key, "late", 0, REG_BINARY, nullptr, 0);
    });
    EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE), ERROR_SUCCESS);
    changer.join();

    RegCloseKey(sub);
    RegCloseKey(key);
    CloseHandle(event);
    CloseHandle(below);
    CloseHandle(closing);
    EXPECT_EQ(ntsim::registry::openKeyCount(), 0u);
}

TEST(RegistryConformance, ExportCarriesWideNamesAndStringsToAnotherMachineUnchanged)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\" + greek);
    ASSERT_EQ(RegSetValueExW(key, greek.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(greek.c_str()), 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(u"\u00e9\0b\0"), 10), ERROR_SUCCESS);
    // Data UTF-8 cannot carry: an odd byte and a lone surrogate.
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"\xD800z"), 3), ERROR_SUCCESS);
    RegCloseKey(key);

    auto exported = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE\\\u03A9\u03B1x" });
    ASSERT_EQ(exported.exitCode, 0) << exported.out;
    EXPECT_NE(exported.out.find("\"\u03A9\u03B1x\"=\"\u03A9\u03B1x\"\n"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("\"List\"=hex(7):c3,a9,00,62,00,00\n"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find(";stored\n\"Odd\"=hex(1):00,d8,7a\n"), std::string::npos) << exported.out;

    test::TestMachine other;
    std::string file = other.dir() + "/../wide.reg";
    std::ofstream(file) << exported.out;
    ASSERT_EQ(other.tool({ "reg", "import", other.dir(), file }).exitCode, 0);
    EXPECT_EQ(other.tool({ "reg", "export", other.dir(), "HKLM\\SOFTWARE\\\u03A9\u03B1x" }).out, exported.out);
    other.attach();
    HKEY copy = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (u"SOFTWARE\\" + greek).c_str(), 0, KEY_READ, &copy), ERROR_SUCCESS);
    Query w = queryW(copy, u"Odd", 8);
    EXPECT_EQ(w.size, 3u);
    EXPECT_EQ(head(w, 3), (std::vector<BYTE> { 0x00, 0xD8, 'z' }));
    RegCloseKey(copy);

    // A REGEDIT4 file in the machine's code page, as regedit writes it.
    std::ofstream(file, std::ios::trunc) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9]\n\"Name\"=\"\xe9t\xe9\"\n";
    ASSERT_EQ(other.tool({ "reg", "import", other.dir(), file }).exitCode, 0);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Caf\u00e9", 0, KEY_READ, &copy), ERROR_SUCCESS);
    w = queryW(copy, u"Name", 16);
    EXPECT_EQ(head(w, 8), wideBytes(u"\u00e9t\u00e9", 4));
    RegCloseKey(copy);
}
