// The registry's store: what one process writes another sees, killed
// writers lose nothing they reported, several writers at once, any key
// name, and a database that is not sound is refused.
#include "support/TestMachine.h"

#include "registry/Store.h"
#include "machine/FileLock.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<BYTE> payload(DWORD i)
{
    std::vector<BYTE> data(1000);
    for (size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<BYTE>(i * 7 + k);
    return data;
}

HKEY createTestKey(const char* path = "SOFTWARE\\NtsimTest")
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    return key;
}

int waitFor(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Runs f against a store opened afresh, as another process would.
LONG withFreshStore(const test::TestMachine& m, const std::function<LONG(ntsim::registry::Store&)>& f)
{
    std::string error;
    auto store = ntsim::registry::Store::open(m.dir() + "/registry", 1252, error);
    if (!store) {
        ADD_FAILURE() << error;
        return ERROR_REGISTRY_CORRUPT;
    }
    return store->read([&] { return f(*store); });
}

// A child that writes value after value below key and reports each one
// done on the pipe, until it is killed.
pid_t startWriter(HKEY key, int reportFd, DWORD first)
{
    pid_t child = fork();
    if (child == 0) {
        for (DWORD i = first;; ++i) {
            std::string name = "v" + std::to_string(i);
            auto data = payload(i);
            if (RegSetValueExA(key, name.c_str(), 0, REG_BINARY, data.data(), DWORD(data.size())) != ERROR_SUCCESS)
                _exit(1);
            if (write(reportFd, &i, sizeof i) != sizeof i)
                _exit(2);
        }
    }
    return child;
}

void executeSql(const test::TestMachine& m, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((m.dir() + "/registry/registry.db").c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
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

    // And the other way: the child deletes what this process made, and a
    // handle this process holds on it sees the key gone.
    HKEY held = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, "ChildKey", 0, KEY_READ, &held), ERROR_SUCCESS);
    child = fork();
    if (child == 0)
        _exit(RegDeleteKeyA(key, "ChildKey") == ERROR_SUCCESS ? 0 : 1);
    ASSERT_EQ(waitFor(child), 0);
    EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegQueryValueExA(held, nullptr, nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    // A key made again under the old name is another key.
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExA(key, "ChildKey", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(held, nullptr, nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(held), ERROR_SUCCESS);
    RegCloseKey(again);
    RegCloseKey(key);
}

TEST(RegistryStore, WritersKilledAtRandomMomentsLoseNoReportedWrite)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createTestKey();
    std::mt19937 random(12345);
    DWORD next = 0;
    const int kills = 60;
    for (int round = 0; round < kills; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t child = startWriter(key, fds[1], next);
        close(fds[1]);
        // Once it has reported a write (so that a busy machine still sees
        // every round write), let it write on for 0 to 20 ms, then kill it
        // mid-write.
        DWORD reported = next, i = 0;
        bool any = read(fds[0], &i, sizeof i) == ssize_t(sizeof i);
        if (any)
            reported = i;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        int status = waitFor(child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself, status " << status;
        while (read(fds[0], &i, sizeof i) == ssize_t(sizeof i)) {
            reported = i;
            any = true;
        }
        close(fds[0]);
        // A process that opens the registry afresh finds every reported
        // write, and at most the one the writer was in beyond them.
        DWORD last = any ? reported : next;
        LONG found = withFreshStore(m, [&](ntsim::registry::Store& store) -> LONG {
            auto k = store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\NtsimTest");
            if (!k)
                return ERROR_FILE_NOT_FOUND;
            for (DWORD n = 0; any && n <= last; ++n) {
                auto v = store.value(k->id, "v" + std::to_string(n));
                if (!v || v->data != payload(n)) {
                    ADD_FAILURE() << "round " << round << ": write " << n << " of " << last << " is lost";
                    return ERROR_INVALID_DATA;
                }
            }
            auto beyond = store.value(k->id, "v" + std::to_string(last + 2));
            return beyond ? ERROR_INVALID_DATA : ERROR_SUCCESS;
        });
        ASSERT_EQ(found, ERROR_SUCCESS) << "round " << round;
        // So does this process, which read the values before the writer began.
        if (any) {
            std::vector<BYTE> data(1000);
            DWORD size = DWORD(data.size());
            ASSERT_EQ(RegQueryValueExA(key, ("v" + std::to_string(last)).c_str(), nullptr, nullptr, data.data(), &size),
                ERROR_SUCCESS)
                << "round " << round;
            EXPECT_EQ(data, payload(last));
        }
        DWORD missing = 0;
        EXPECT_EQ(RegQueryValueExA(key, ("v" + std::to_string(last + 2)).c_str(), nullptr, nullptr, nullptr, &missing),
            ERROR_FILE_NOT_FOUND);
        next = any ? last + 1 : next;
        // The next writer starts where this one was sure to have ended.
        if (any) {
            auto data = payload(next);
            ASSERT_EQ(RegSetValueExA(key, ("v" + std::to_string(next)).c_str(), 0, REG_BINARY, data.data(), 1000), ERROR_SUCCESS);
            ++next;
        }
    }
    EXPECT_GT(next, DWORD(kills)) << "the writers wrote something";
    // The machine is whole: its tool reads it and this process writes on.
    auto exported = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE\\NtsimTest" });
    EXPECT_EQ(exported.exitCode, 0) << exported.out;
    const BYTE one[] = { 1 };
    EXPECT_EQ(RegSetValueExA(key, "after", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(RegistryStore, SeveralProcessesWriteAtOnceAndNothingIsLost)
{
    test::TestMachine m;
    m.attach();
    HKEY key = createTestKey();
    const int writers = 4, each = 150;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        pid_t child = fork();
        if (child == 0) {
            for (int i = 0; i < each; ++i) {
                // All make the one shared key; each fills its own values.
                HKEY shared = nullptr;
                DWORD disposition = 0;
                if (RegCreateKeyExA(key, "Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &shared, &disposition) != ERROR_SUCCESS)
                    _exit(1);
                std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
                DWORD v = static_cast<DWORD>(w * 1000 + i);
                if (RegSetValueExA(shared, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS)
                    _exit(2);
                RegCloseKey(shared);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = waitFor(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    HKEY shared = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, "Shared", 0, KEY_READ, &shared), ERROR_SUCCESS);
    DWORD subkeys = 9, values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(shared, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, DWORD(writers * each));
    for (int w = 0; w < writers; ++w) {
        for (int i = 0; i < each; i += 37) {
            DWORD v = 0, size = 4;
            std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
            ASSERT_EQ(RegQueryValueExA(shared, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
            EXPECT_EQ(v, DWORD(w * 1000 + i));
        }
    }
    RegCloseKey(shared);
    RegCloseKey(key);
}

TEST(RegistryStore, AnyNameButABackslashIsStoredAndReadBackWhole)
{
    test::TestMachine m;
    m.set("user=guest");
    m.attach();
    const std::string names[] = {
        "line\nbreak",
        "[bracket]",
        "]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Evil]",
        "quote\"d",
        ";sddl=D:NO_ACCESS_CONTROL",
        std::string("control\x01\x1f\x7f", 10),
        "-[minus",
        "tab\there\r",
    };
    HKEY user = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Odd", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user, nullptr),
        ERROR_SUCCESS);
    for (auto& name : names) {
        // A backslash is the separator: the bracketed name makes a path.
        if (name.find('\\') != std::string::npos)
            continue;
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyExA(user, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS)
            << name;
        ASSERT_EQ(RegSetValueExA(sub, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                      DWORD(name.size() + 1)),
            ERROR_SUCCESS);
        RegCloseKey(sub);
    }
    // A long session of writes after them.
    for (int i = 0; i < 600; ++i) {
        std::vector<BYTE> data = payload(DWORD(i));
        ASSERT_EQ(RegSetValueExA(user, "fill", 0, REG_BINARY, data.data(), DWORD(data.size())), ERROR_SUCCESS);
    }

    // Another process reads every name back as it was written.
    pid_t child = fork();
    if (child == 0) {
        int found = 0;
        for (DWORD i = 0;; ++i) {
            char name[64];
            DWORD length = sizeof name;
            if (RegEnumKeyExA(user, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            HKEY sub = nullptr;
            char data[64];
            DWORD size = sizeof data;
            if (RegOpenKeyExA(user, name, 0, KEY_READ, &sub) != ERROR_SUCCESS
                || RegQueryValueExA(sub, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS
                || std::string(data) != std::string(name, length))
                _exit(10 + int(i));
            RegCloseKey(sub);
            ++found;
        }
        _exit(found);
    }
    int status = waitFor(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7) << "every name but the one with a backslash";

    // The machine stays whole for every command.
    auto sc = m.tool({ "sc", m.dir(), "query", "EventLog" });
    EXPECT_EQ(sc.exitCode, 0) << sc.out;
    auto exported = m.tool({ "reg", "export", m.dir(), "HKU\\S-1-5-21-1004336348-1177238915-682003330-501\\Software\\Odd" });
    ASSERT_EQ(exported.exitCode, 0) << exported.out;
    EXPECT_EQ(exported.out.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Evil]"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("; the key HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-501\\Software\\Odd\\line<0A>break "
                                "is not written, nor what is below it: its name holds a control character"),
        std::string::npos)
        << exported.out;
    EXPECT_NE(exported.out.find("[HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-501\\Software\\Odd\\[bracket]]\n"),
        std::string::npos);
    EXPECT_NE(exported.out.find("\"quote\\\"d\"=\"quote\\\"d\"\n"), std::string::npos);
    // What the export wrote loads again: no line of it is read as another key.
    test::TestMachine other;
    std::string file = other.dir() + "/../odd.reg";
    std::ofstream(file) << exported.out;
    auto imported = other.tool({ "reg", "import", other.dir(), file });
    EXPECT_EQ(imported.exitCode, 0) << imported.out;
    EXPECT_EQ(other.tool({ "reg", "export", other.dir(), "HKLM\\SOFTWARE\\Evil" }).exitCode, 1);
    RegCloseKey(user);
}

TEST(RegistryStore, UnsoundDatabaseIsRefusedNamingTheFileAndTheProblem)
{
    const std::string query = "HKLM\\SOFTWARE\\Microsoft";
    struct Case {
        const char* sql;
        const char* problem;
    };
    const Case cases[] = {
        { "UPDATE key SET sddl = '' WHERE name = CAST('Microsoft' AS BLOB)", "unreadable security descriptor ''" },
        { "UPDATE key SET sddl = 'O:BA' WHERE name = CAST('Microsoft' AS BLOB)", "unreadable security descriptor 'O:BA'" },
        { "PRAGMA application_id = 7", "not a registry database" },
        { "PRAGMA user_version = 99", "a registry of version 99, not 2" },
        { "CREATE TRIGGER t AFTER INSERT ON value BEGIN DELETE FROM key; END", "its tables are not the registry's" },
    };
    for (auto& c : cases) {
        test::TestMachine m;
        executeSql(m, c.sql);
        auto r = m.tool({ "reg", "export", m.dir(), query });
        EXPECT_EQ(r.exitCode, 1) << c.sql;
        EXPECT_NE(r.out.find(m.dir() + "/registry/registry.db: "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.problem), std::string::npos) << r.out;
        // A program meets it as a failing call, never as a key without
        // protection or an empty registry.
        m.attach();
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT) << c.sql;
        EXPECT_EQ(key, nullptr);
    }
    // A database the machine cannot open at all: nothing runs on it.
    test::TestMachine broken;
    executeSql(broken, "PRAGMA application_id = 7");
    auto run = broken.run({ "C:\\MODEM\\SETUP.EXE" });
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("registry.db: not a registry database"), std::string::npos) << run.out;

    test::TestMachine garbage;
    std::ofstream(garbage.dir() + "/registry/registry.db", std::ios::trunc) << std::string(8192, 'x');
    auto r = garbage.tool({ "reg", "sddl", garbage.dir(), query });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("registry.db: file is not a database"), std::string::npos) << r.out;
}

TEST(RegistryStore, ARegistryOfTheFirstVersionIsBroughtToUnicodeInTheMachinesCodePage)
{
    // The first version kept names and string data as the A calls gave
    // them, in the machine's ANSI code page (here 1252).
    test::TestMachine m;
    executeSql(m,
        "INSERT INTO key (parent, name, upper, class, sddl, written) SELECT id, CAST(x'436166e9' AS BLOB), "
        "CAST(x'434146e9' AS BLOB), CAST(x'e9' AS BLOB), sddl, written FROM key WHERE name = CAST('SOFTWARE' AS BLOB); "
        "INSERT INTO value (key, upper, position, name, type, data) SELECT id, CAST(x'c9' AS BLOB), 1, "
        "CAST(x'e9' AS BLOB), 1, x'636166e900' FROM key WHERE name = x'436166e9'; "
        "PRAGMA user_version = 1;");
    m.attach();
    HKEY key = nullptr;
    // NT's case tables fold the é the first version could not.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\CAF\u00c9", 0, KEY_READ, &key), ERROR_SUCCESS);
    WCHAR data[8];
    DWORD size = sizeof data;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"\u00c9", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::u16string(data), u"caf\u00e9");
    WCHAR klass[4];
    DWORD classLength = 4;
    ASSERT_EQ(RegQueryInfoKeyW(key, klass, &classLength, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(klass), u"\u00e9");
    char ansi[8];
    size = sizeof ansi;
    ASSERT_EQ(RegQueryValueExA(key, "\xe9", nullptr, nullptr, reinterpret_cast<BYTE*>(ansi), &size), ERROR_SUCCESS);
    EXPECT_STREQ(ansi, "caf\xe9");
    RegCloseKey(key);
    auto version = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE\\Caf\u00e9" });
    EXPECT_EQ(version.exitCode, 0) << version.out;

    // Two names that only NT's tables make one cannot be brought over.
    test::TestMachine clash;
    executeSql(clash,
        "INSERT INTO key (parent, name, upper, class, sddl, written) SELECT id, CAST(x'e9' AS BLOB), "
        "CAST(x'e9' AS BLOB), x'', sddl, written FROM key WHERE name = CAST('SOFTWARE' AS BLOB); "
        "INSERT INTO key (parent, name, upper, class, sddl, written) SELECT id, CAST(x'c9' AS BLOB), "
        "CAST(x'c9' AS BLOB), x'', sddl, written FROM key WHERE name = CAST('SOFTWARE' AS BLOB); "
        "PRAGMA user_version = 1;");
    auto refused = clash.tool({ "reg", "export", clash.dir(), "HKLM\\SOFTWARE" });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("registry.db: cannot bring the registry to version 2"), std::string::npos) << refused.out;
}
