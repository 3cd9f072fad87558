#include "resources_helpers.h"
#include "support/Bytes.h"
#include "support/TestMachine.h"

#include "kernel32/ModuleList.h"
#include "machine/Process.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace restest;
using test::le32;
using test::putLe32;

namespace {


// File offset of the resource directory of a PE file whose sections lie
// at their file offsets plus a fixed delta, as the linker writes them.
size_t resourceDirectoryOffset(const std::string& dll)
{
    size_t pe = le32(dll, 0x3C);
    size_t optional = pe + 24;
    DWORD rva = le32(dll, optional + 96 + 2 * 8);
    size_t sections = optional + (static_cast<BYTE>(dll[pe + 20]) | static_cast<BYTE>(dll[pe + 21]) << 8);
    unsigned count = static_cast<BYTE>(dll[pe + 6]);
    for (unsigned i = 0; i < count; ++i) {
        size_t s = sections + 40 * i;
        DWORD va = le32(dll, s + 12);
        DWORD raw = le32(dll, s + 20);
        if (rva >= va && rva < va + le32(dll, s + 16))
            return raw + (rva - va);
    }
    return 0;
}

void expectLoadFails(const char* path, DWORD error)
{
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(path), nullptr) << path;
    EXPECT_EQ(GetLastError(), error) << path;
}

}

TEST(ResourcesLoader, LoadLibraryRejectsMissingAndMalformedFiles)
{
    test::TestMachine m;
    std::string dll = readHostFile(m.host("C:\\MODEM\\setupres.dll"));
    ASSERT_GT(dll.size(), 4096u);
    m.write("C:\\MODEM\\TRUNC.DLL", dll.substr(0, dll.size() / 2));
    m.write("C:\\MODEM\\HEADERS.DLL", dll.substr(0, 0x90));
    m.write("C:\\MODEM\\TEXT.DLL", "This is not a program.\r\n");
    m.write("C:\\MODEM\\EMPTY.DLL", "");
    m.write("C:\\MODEM\\HOST.DLL", readHostFile(m.host("C:\\MODEM\\SETUP.EXE")));
    std::string farHeader = dll;
    putLe32(farHeader, 0x3C, 0x7FFFFFF0);
    m.write("C:\\MODEM\\FAR.DLL", farHeader);
    std::string hugeImage = dll;
    putLe32(hugeImage, le32(dll, 0x3C) + 24 + 56, 0xFFFFF000);
    m.write("C:\\MODEM\\HUGE.DLL", hugeImage);
    // A resource directory that claims far more entries than it holds.
    std::string entries = dll;
    size_t rsrc = resourceDirectoryOffset(dll);
    ASSERT_NE(rsrc, 0u);
    entries[rsrc + 14] = '\xFF';
    entries[rsrc + 15] = '\xFF';
    m.write("C:\\MODEM\\ENTRIES.DLL", entries);
    // A subdirectory offset pointing outside the section.
    std::string outside = dll;
    putLe32(outside, rsrc + 16 + 4, 0x80000000u | 0x7FFFFF00u);
    m.write("C:\\MODEM\\OUTSIDE.DLL", outside);
    m.attach();

    expectLoadFails("NOSUCH.DLL", ERROR_MOD_NOT_FOUND);
    expectLoadFails("C:\\NOWHERE\\setupres.dll", ERROR_MOD_NOT_FOUND);
    expectLoadFails("C:\\MODEM\\TRUNC.DLL", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("C:\\MODEM\\HEADERS.DLL", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("TEXT", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("EMPTY.DLL", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("FAR.DLL", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("HUGE.DLL", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("ENTRIES.DLL", ERROR_BAD_EXE_FORMAT);
    expectLoadFails("OUTSIDE.DLL", ERROR_BAD_EXE_FORMAT);
    // The machine's programs are host executables, not PE images; the
    // running image itself is already loaded.
    expectLoadFails("HOST.DLL", ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(LoadLibraryA("C:\\MODEM\\SETUP.EXE"), GetModuleHandleA(nullptr));
    expectLoadFails(nullptr, ERROR_INVALID_PARAMETER);
    // Nothing of the failed loads stays behind.
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("TRUNC.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ResourcesLoader, SearchOrderAndReferenceCounts)
{
    test::TestMachine m;
    std::string dll = readHostFile(m.host("C:\\MODEM\\setupres.dll"));
    // A good copy where an earlier directory of the search has a bad one
    // shows which directory the loader took.
    m.write("C:\\WORK\\CWDFIRST.DLL", dll);
    m.write("C:\\WINNT\\system32\\CWDFIRST.DLL", "bad");
    m.write("C:\\MODEM\\APPFIRST.DLL", dll);
    m.write("C:\\WORK\\APPFIRST.DLL", "bad");
    m.write("C:\\WINNT\\system32\\SYSONLY.DLL", dll);
    m.write("C:\\WINNT\\system\\OLDSYS.DLL", dll);
    m.write("C:\\WINNT\\WINONLY.DLL", dll);
    m.attach();
    ntsim::currentProcess().currentDirectory = "C:\\WORK";

    char path[MAX_PATH];
    struct Case {
        const char* name;
        const char* expected;
    };
    for (auto c : { Case { "cwdfirst.dll", "C:\\WORK\\cwdfirst.dll" }, Case { "APPFIRST", "C:\\MODEM\\APPFIRST.dll" },
             Case { "SysOnly.DLL", "C:\\WINNT\\system32\\SysOnly.DLL" }, Case { "oldsys", "C:\\WINNT\\system\\oldsys.dll" },
             Case { "WINONLY.DLL", "C:\\WINNT\\WINONLY.DLL" } }) {
        HMODULE h = LoadLibraryA(c.name);
        ASSERT_NE(h, nullptr) << c.name << " " << GetLastError();
        EXPECT_EQ(GetModuleFileNameA(h, path, sizeof path), std::strlen(c.expected)) << c.name;
        EXPECT_STREQ(path, c.expected);
        EXPECT_TRUE(FreeLibrary(h));
    }

    // One module for every spelling; it goes with the last reference.
    HMODULE first = LoadLibraryA("setupres");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(LoadLibraryA("C:\\modem\\SETUPRES.DLL"), first);
    EXPECT_EQ(LoadLibraryExA("SETUPRES.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE), first);
    EXPECT_EQ(GetModuleHandleA("SetupRes"), first);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(GetModuleHandleA("setupres.dll"), first);
    EXPECT_TRUE(FreeLibrary(first));
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("setupres.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    // A handle of a freed module finds no resources any more.
    SetLastError(0);
    EXPECT_EQ(FindResourceA(first, MAKEINTRESOURCEA(110), RT_BITMAP), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST(ResourcesLoader, SystemLibrariesAndProcedures)
{
    test::TestMachine m;
    m.attach();
    HMODULE kernel32 = GetModuleHandleA("KERNEL32");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(LoadLibraryA("kernel32.dll"), kernel32);
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), kernel32);
    for (const char* name : { "user32.dll", "advapi32.dll", "setupapi.dll", "comctl32" })
        EXPECT_NE(GetModuleHandleA(name), nullptr) << name;
    EXPECT_NE(GetModuleHandleA("user32"), kernel32);
    char path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(kernel32, path, sizeof path), 30u);
    EXPECT_STREQ(path, "C:\\WINNT\\system32\\kernel32.dll");

    EXPECT_EQ(GetProcAddress(kernel32, "GetLastError"), reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&GetLastError)));
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("user32"), "LoadStringA"),
        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&LoadStringA)));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(kernel32, "getlasterror"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(kernel32, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    HMODULE library = LoadLibraryA("setupres.dll");
    ASSERT_NE(library, nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(library, "DllMain"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    FreeLibrary(library);
}

TEST(ResourcesLoader, ModuleFileNameTruncatesLikeNt4)
{
    test::TestMachine m;
    m.attach("C:\\MODEM\\SETUP.EXE");
    const std::string image = "C:\\MODEM\\SETUP.EXE";
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), image.size());
    EXPECT_EQ(std::string(buffer), image);
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, sizeof buffer), image.size());
    EXPECT_EQ(GetModuleHandleA("setup.exe"), GetModuleHandleA(nullptr));

    // Exactly as long as the buffer: cut, with no room for the terminator.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(image.size())), image.size());
    EXPECT_EQ(std::string(buffer, image.size()), image);
    EXPECT_EQ(buffer[image.size()], 'x');
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 5), 5u);
    EXPECT_EQ(std::string(buffer, 6), "C:\\MOx");
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 0), 0u);

    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(buffer), buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ResourcesLoader, ResourceCallsCheckTheirArguments)
{
    test::TestMachine m;
    m.attach();
    HMODULE library = LoadLibraryA("setupres.dll");
    ASSERT_NE(library, nullptr);
    struct Case {
        LPCSTR name;
        LPCSTR type;
        DWORD error;
    };
    for (auto c : { Case { MAKEINTRESOURCEA(999), RT_DIALOG, ERROR_RESOURCE_NAME_NOT_FOUND },
             Case { MAKEINTRESOURCEA(101), RT_MENU, ERROR_RESOURCE_TYPE_NOT_FOUND },
             Case { "NOSUCH", RT_BITMAP, ERROR_RESOURCE_NAME_NOT_FOUND } }) {
        SetLastError(0);
        EXPECT_EQ(FindResourceA(library, c.name, c.type), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    // "#110" names the id 110.
    HRSRC bitmap = FindResourceA(library, "#110", RT_BITMAP);
    EXPECT_EQ(bitmap, FindResourceA(library, MAKEINTRESOURCEA(110), RT_BITMAP));
    ASSERT_NE(bitmap, nullptr);
    // A language the library lacks.
    SetLastError(0);
    EXPECT_EQ(FindResourceExA(library, RT_DIALOG, MAKEINTRESOURCEA(101), 0x0419), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
    // German with a sublanguage finds the primary language's table.
    EXPECT_EQ(FindResourceExA(library, RT_DIALOG, MAKEINTRESOURCEA(101), 0x0407),
        FindResourceExA(library, RT_DIALOG, MAKEINTRESOURCEA(101), 0x0007));

    // The data lies inside the mapped image.
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(library, bitmap)));
    auto* base = reinterpret_cast<const BYTE*>(library);
    EXPECT_GT(data, base);
    EXPECT_EQ(SizeofResource(library, bitmap), 40u + 64 + 80 * 278);
    EXPECT_FALSE(FreeResource(LoadResource(library, bitmap)));
    // A handle of another module, or none, is refused.
    SetLastError(0);
    EXPECT_EQ(LoadResource(nullptr, bitmap), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(SizeofResource(library, reinterpret_cast<HRSRC>(&library)), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    FreeLibrary(library);
}

TEST(ResourcesLoader, ImageResourcesFromResData)
{
    test::TestMachine m;
    m.attach();
    static const std::string res = readHostFile(test::buildDir() + "/setup_res_embedded.res");
    ASSERT_GT(res.size(), 64u);
    // Cut short, the data gives the image no resources at all.
    static const std::string cut = res.substr(0, res.size() / 3);
    ntsim_set_image_resources(reinterpret_cast<const unsigned char*>(cut.data()), cut.size());
    SetLastError(0);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_STRING), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    // A header size that runs past the end.
    static std::string longHeader = res;
    putLe32(longHeader, 36, 0xFFFFFFF0);
    ntsim_set_image_resources(reinterpret_cast<const unsigned char*>(longHeader.data()), longHeader.size());
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_STRING), nullptr);

    ntsim_set_image_resources(reinterpret_cast<const unsigned char*>(res.data()), res.size());
    char buffer[64];
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 1, buffer, sizeof buffer), 18);
    EXPECT_STREQ(buffer, "Installation Error");
}
