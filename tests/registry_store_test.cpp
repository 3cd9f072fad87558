#include "support/TestMachine.h"

#include "advapi32/RegistryStore.h"
#include "machine/FileLock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> payload(DWORD i)
{
    std::vector<BYTE> data(1000);
    for (size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<BYTE>(i * 7 + k);
    return data;
}

HKEY createTestKey()
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    return key;
}

int waitFor(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

}

TEST(RegistryStore, AnotherProcessSeesEachCompletedChangeAtItsNextCall)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createTestKey();
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "FromChild", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

    pid_t child = fork();
    if (child == 0) {
        HKEY sub = nullptr;
        LONG a = RegCreateKeyExA(key, "ChildKey", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
        DWORD v = 42;
        LONG b = RegSetValueExA(key, "FromChild", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
        _exit(a == ERROR_SUCCESS && b == ERROR_SUCCESS ? 0 : 1);
    }
    ASSERT_EQ(waitFor(child), 0);
    DWORD value = 0;
    size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(key, "FromChild", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 42u);
    char name[32];
    ASSERT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "ChildKey");

    // And the other way: the child deletes what this process made.
    child = fork();
    if (child == 0)
        _exit(RegDeleteKeyA(key, "ChildKey") == ERROR_SUCCESS ? 0 : 1);
    ASSERT_EQ(waitFor(child), 0);
    EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST(RegistryStore, WriterKilledMidRunLeavesEveryReportedWrite)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createTestKey();
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        for (DWORD i = 0;; ++i) {
            std::string name = "v" + std::to_string(i);
            auto data = payload(i);
            if (RegSetValueExA(key, name.c_str(), 0, REG_BINARY, data.data(), DWORD(data.size())) != ERROR_SUCCESS)
                _exit(1);
            if (write(pipeFds[1], &i, sizeof i) != sizeof i)
                _exit(2);
        }
    }
    close(pipeFds[1]);
    // Enough writes for the journal to be folded into the hives more than once.
    DWORD last = 0;
    bool any = false;
    while (!any || last < 1200) {
        DWORD i;
        ASSERT_EQ(read(pipeFds[0], &i, sizeof i), ssize_t(sizeof i));
        last = i;
        any = true;
    }
    kill(child, SIGKILL);
    int status = waitFor(child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself, status " << status;
    DWORD i;
    while (read(pipeFds[0], &i, sizeof i) == ssize_t(sizeof i))
        last = i;
    close(pipeFds[0]);

    // A process that loads the registry from scratch finds every reported write.
    ntsim::registry::Store fresh(m.dir() + "/registry");
    LONG result = fresh.read([&]() -> LONG {
        auto k = fresh.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\NtsimTest");
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        for (DWORD n = 0; n <= last; ++n) {
            auto v = k->value("v" + std::to_string(n));
            if (!v || v->data != payload(n)) {
                ADD_FAILURE() << "write " << n << " of " << last << " is lost";
                return ERROR_INVALID_DATA;
            }
        }
        return ERROR_SUCCESS;
    });
    EXPECT_EQ(result, ERROR_SUCCESS);
    // So does this process through its open handle, and it can write on.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, ("v" + std::to_string(last)).c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1000u);
    const BYTE one[] = { 1 };
    EXPECT_EQ(RegSetValueExA(key, "after", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(RegistryStore, TornJournalTailIsNeverAppliedAndIsCutBeforeTheNextWrite)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createTestKey();
    const BYTE one[] = { 1 };
    ASSERT_EQ(RegSetValueExA(key, "before", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
    std::string journal = m.dir() + "/registry/journal";
    {
        std::ofstream out(journal, std::ios::app | std::ios::binary);
        out << "0badc0de 1 V HKEY_LOCAL_MACHINE\\SOFTWARE\\NtsimTest torn 3 01"; // no newline: a writer died here
    }
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "torn", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegSetValueExA(key, "after", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
    std::string text;
    ASSERT_TRUE(ntsim::readWholeFile(journal, text));
    EXPECT_EQ(text.find("torn"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');

    ntsim::registry::Store fresh(m.dir() + "/registry");
    EXPECT_EQ(fresh.read([&]() -> LONG {
        auto k = fresh.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\NtsimTest");
        return k && k->value("before") && k->value("after") && !k->value("torn") ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    }),
        ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(RegistryStore, CompactionWritesReadableHivesAndKeepsHandles)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createTestKey();
    const char text[] = "C:\\MODEM";
    ASSERT_EQ(RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
    ASSERT_TRUE(ntsim::registry::Store::current().compact());

    std::string hive, journal;
    ASSERT_TRUE(ntsim::readWholeFile(m.dir() + "/registry/SOFTWARE.reg", hive));
    EXPECT_NE(hive.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\NtsimTest]\n;sddl=O:BAG:SYD:(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n"
                        "\"Path\"=\"C:\\\\MODEM\"\n"),
        std::string::npos);
    ASSERT_TRUE(ntsim::readWholeFile(m.dir() + "/registry/journal", journal));
    EXPECT_EQ(journal, "NTSIM-REGISTRY-JOURNAL epoch=2\n");

    char read[16];
    DWORD size = sizeof read;
    ASSERT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(read), &size), ERROR_SUCCESS);
    EXPECT_STREQ(read, text);
    // A process that missed the compaction reloads and keeps its handles.
    pid_t child = fork();
    if (child == 0) {
        ntsim::registry::Store other(m.dir() + "/registry");
        bool ok = other.compact();
        _exit(ok ? 0 : 1);
    }
    ASSERT_EQ(waitFor(child), 0);
    size = sizeof read;
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(read), &size), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    RegCloseKey(key);
}
