// The machine's registry as the calls see it: keys and values read and
// written in transactions of the one database the machine's processes
// share (Database.h). A call runs in one transaction: a changing call's
// transaction is on disk when it returns, so a killed process loses none.
// A read call may answer from what this process read before, as long as
// no write has begun anywhere on the machine since (ChangeCounter.h,
// ReadCache.h).
#pragma once
#include "machine/SecurityDescriptor.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ntsim::registry {

class ChangeCounter;
struct KeyChange;
class Database;
class ReadCache;
class Statement;
enum class Sql : unsigned;
struct SubkeyItem;
struct ValueItem;

using KeyId = int64_t;
// The two roots are not in a hive: the hives are their subkeys.
constexpr KeyId machineRoot = 1; // HKEY_LOCAL_MACHINE
constexpr KeyId usersRoot = 2;   // HKEY_USERS

// Names here are UTF-8 (machine/Unicode.h); a value's data is as stored,
// strings in UTF-16LE.
struct KeyRecord {
    KeyId id { 0 };
    KeyId parent { 0 };
    std::string name;
    std::string className;
    uint64_t lastWrite { 0 }; // FILETIME ticks
    std::shared_ptr<const security::SecurityDescriptor> security;

    bool inHive() const { return parent != 0; }
    bool isHiveRoot() const { return parent == machineRoot || parent == usersRoot; }
};

struct ValueRecord {
    std::string name; // empty: the key's default value
    DWORD type { REG_NONE };
    std::vector<BYTE> data;
};

struct KeyCounts {
    size_t subkeys { 0 };
    size_t maxSubkeyName { 0 };
    size_t maxClass { 0 };
    size_t values { 0 };
    size_t maxValueName { 0 };
    size_t maxValueData { 0 };
};

class Store {
public:
    static constexpr const char* fileName = "registry.db";

    // Opens the registry of a machine; a missing database, one that is not
    // a machine registry or one of another version is an error naming it.
    // A registry of the first version, which kept text in the machine's
    // ANSI code page, is brought to the present one.
    static std::unique_ptr<Store> open(const std::string& registryDir, unsigned ansiCodePage, std::string& error);
    // Makes the empty database of a new machine: the two roots alone.
    static std::unique_ptr<Store> create(const std::string& registryDir, std::string& error);
    // The store of this process's machine, opened at its first use; null
    // (and said once on standard error) when it cannot be opened.
    static Store* current();

    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& file() const;

    // Runs body in a read or a write transaction and returns its result. A
    // write commits when body returns ERROR_SUCCESS and rolls back
    // otherwise. A read body may run twice (when another process writes
    // while it reads): it reads the store before it writes out anything. A database that fails makes the call fail with
    // ERROR_REGISTRY_CORRUPT or ERROR_REGISTRY_IO_FAILED; a writer that
    // holds the database longer than the busy timeout, with the latter.
    LONG read(const std::function<LONG()>& body) { return transact(false, body); }
    LONG write(const std::function<LONG()>& body) { return transact(true, body); }

    // Inside a transaction.
    std::optional<KeyRecord> key(KeyId id);
    std::optional<KeyRecord> subkey(KeyId parent, const std::string& name);
    // "HKEY_LOCAL_MACHINE\SYSTEM\..." in any case.
    std::optional<KeyRecord> find(const std::string& fullPath);
    // In NT's enumeration order.
    std::optional<KeyRecord> subkeyAt(KeyId parent, size_t index);
    std::vector<KeyRecord> subkeys(KeyId parent);
    // The full path as the names are spelled.
    std::string path(const KeyRecord& key);
    std::optional<ValueRecord> value(KeyId key, const std::string& name);
    std::optional<ValueRecord> valueAt(KeyId key, size_t index);
    std::vector<ValueRecord> values(KeyId key);
    KeyCounts counts(KeyId key);

    // Inside a write transaction.
    KeyRecord createKey(const KeyRecord& parent, const std::string& name, const security::SecurityDescriptor& sd,
        const std::string& className);
    // Deletes the key and everything below it.
    void deleteTree(const KeyRecord& key);
    void setValue(KeyId key, const std::string& name, DWORD type, const BYTE* data, size_t size);
    bool deleteValue(KeyId key, const std::string& name);
    void setSecurity(KeyId key, const security::SecurityDescriptor& sd);

    // Makes every committed change durable against a power loss.
    bool flush();

    // The machine's count of writes and log of changes, for watches.
    std::shared_ptr<ChangeCounter> changeLog() const { return m_counter; }

private:
    Store(std::unique_ptr<Database> db, std::shared_ptr<ChangeCounter> counter);
    static std::unique_ptr<Store> openFile(const std::string& file, bool create, unsigned ansiCodePage, std::string& error);

    LONG transact(bool write, const std::function<LONG()>& body);
    LONG runBody(const std::function<LONG()>& body);
    // Opens the SQL transaction at the call's first statement.
    void beginSql();
    // A statement of the call's transaction.
    Statement statement(Sql sql);
    KeyRecord readKey(Statement& row);
    ValueRecord readValue(Statement& row);
    std::vector<SubkeyItem> loadSubkeys(KeyId parent, const SubkeyItem* after, size_t from);
    std::vector<ValueItem> loadValues(KeyId key, const ValueItem* after, size_t from);
    std::shared_ptr<const security::SecurityDescriptor> descriptor(const std::string& sddl);
    void touch(KeyId key, uint64_t time);
    // Notes a change for the watches, at the key and, not direct, at each
    // key above it; only while some process watches.
    void noteChange(KeyId key, uint32_t filter);

    std::unique_ptr<Database> m_db;
    std::shared_ptr<ChangeCounter> m_counter;
    std::vector<KeyChange> m_changes;
    std::unique_ptr<ReadCache> m_cache;
    std::recursive_mutex m_mutex;
    int m_depth { 0 };
    bool m_writing { false };
    bool m_sqlOpen { false };
    // Whether this call may answer from the cache, and whether it did.
    bool m_useCache { false };
    bool m_answeredFromCache { false };
    // Parsed descriptors by their SDDL: keys share a few dozen of them.
    std::unordered_map<std::string, std::shared_ptr<const security::SecurityDescriptor>> m_descriptors;
};

// Splits "a\b\c" into its names; empty names (doubled or trailing
// backslashes) are skipped.
std::vector<std::string> splitKeyPath(const std::string& path);

// The current time as FILETIME ticks.
uint64_t fileTimeNow();

}
