#include "Store.h"

#include "machine/Database.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <unordered_map>

namespace ntsim::registry {

namespace {

// "NTRG" in the database header, and the version of the tables below.
constexpr int applicationId = 0x4E545247;
constexpr int schemaVersion = 1;

// A key's rows and a value's rows; names are stored byte for byte, with
// their upper-case form for lookups and NT's order.
const char* const schema[] = {
    "CREATE TABLE key (id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name BLOB NOT NULL, "
    "upper BLOB NOT NULL, class BLOB NOT NULL, sddl TEXT NOT NULL, written INTEGER NOT NULL) STRICT",
    "CREATE UNIQUE INDEX key_by_name ON key (parent, upper)",
    "CREATE TABLE value (key INTEGER NOT NULL, upper BLOB NOT NULL, position INTEGER NOT NULL, name BLOB NOT NULL, "
    "type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY (key, upper)) STRICT, WITHOUT ROWID",
    "CREATE UNIQUE INDEX value_by_position ON value (key, position)",
};

const char rootSddl[] = "O:SYG:SYD:(A;;KR;;;WD)(A;;KA;;;SY)(A;;KA;;;BA)";

// NT nests keys at most 512 deep; a longer chain of parents is a loop.
constexpr int maxDepth = 512;

// What a failed statement or an unreadable row makes the call return.
struct Failure {
    LONG code;
    std::string problem;
};

[[noreturn]] void corrupt(const std::string& problem) { throw Failure { ERROR_REGISTRY_CORRUPT, problem }; }

// A read call answered partly from the cache met a database that changed
// meanwhile: it runs again, from the database alone.
struct Restart { };

// How many subkeys or values enumeration reads at a time.
constexpr size_t pageSize = 256;
// The cache is dropped whole when it holds more than this.
constexpr size_t cacheEntries = 20000;
constexpr size_t cacheBytes = 16 * 1024 * 1024;

std::string nameKey(KeyId owner, const std::string& name)
{
    return std::to_string(owner) + "\\" + upperAscii(name);
}

LONG errorOf(int sqliteCode)
{
    switch (sqliteCode & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
        return ERROR_REGISTRY_CORRUPT;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

}

// The SQL the store runs, each prepared once per process.
enum class Store::Sql : unsigned {
    Begin,
    BeginImmediate,
    Commit,
    Rollback,
    Snapshot,
    KeyById,
    KeyByName,
    SubkeysAfter,
    SubkeysFrom,
    Subkeys,
    SubkeyCounts,
    ValueCounts,
    ValueByName,
    ValuesAfter,
    ValuesFrom,
    Values,
    InsertKey,
    Touch,
    DeleteTreeValues,
    DeleteTreeKeys,
    UpdateValue,
    InsertValue,
    DeleteValue,
    SetSecurity,
    Count
};

namespace {

const char* const sqlText[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id FROM key WHERE id = 1",
    "SELECT id, parent, name, class, written, sddl FROM key WHERE id = ?1",
    "SELECT id, parent, name, class, written, sddl FROM key WHERE parent = ?1 AND upper = ?2",
    "SELECT id, parent, name, class, written, sddl, upper FROM key WHERE parent = ?1 AND upper > ?2 ORDER BY upper LIMIT ?3",
    "SELECT id, parent, name, class, written, sddl, upper FROM key WHERE parent = ?1 ORDER BY upper LIMIT ?3 OFFSET ?2",
    "SELECT id, parent, name, class, written, sddl FROM key WHERE parent = ?1 ORDER BY upper",
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(class)), 0) FROM key WHERE parent = ?1",
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) FROM value WHERE key = ?1",
    "SELECT name, type, data FROM value WHERE key = ?1 AND upper = ?2",
    "SELECT name, type, data, position FROM value WHERE key = ?1 AND position > ?2 ORDER BY position LIMIT ?3",
    "SELECT name, type, data, position FROM value WHERE key = ?1 ORDER BY position LIMIT ?3 OFFSET ?2",
    "SELECT name, type, data FROM value WHERE key = ?1 ORDER BY position",
    "INSERT INTO key (parent, name, upper, class, sddl, written) VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
    "UPDATE key SET written = ?2 WHERE id = ?1",
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT key.id FROM key JOIN tree ON key.parent = tree.id) "
    "DELETE FROM value WHERE key IN tree",
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT key.id FROM key JOIN tree ON key.parent = tree.id) "
    "DELETE FROM key WHERE id IN tree",
    "UPDATE value SET type = ?3, data = ?4 WHERE key = ?1 AND upper = ?2",
    "INSERT INTO value (key, upper, position, name, type, data) VALUES "
    "(?1, ?2, (SELECT coalesce(max(position), 0) + 1 FROM value WHERE key = ?1), ?3, ?4, ?5)",
    "DELETE FROM value WHERE key = ?1 AND upper = ?2",
    "UPDATE key SET sddl = ?2, written = ?3 WHERE id = ?1",
};

}

// The machine's count of write transactions begun and ended, two numbers
// in a small file beside the database that every process maps. Writers
// take the file's lock around their transaction, so that counts a killed
// writer left unequal are mended by the next one.
class Store::WriteCounts {
public:
    static std::unique_ptr<WriteCounts> open(const std::string& path, std::string& error)
    {
        int fd = -1;
        void* map = mapSharedFile(path, size, "file of write counts", fd, error);
        if (!map)
            return nullptr;
        return std::unique_ptr<WriteCounts>(new WriteCounts(fd, static_cast<uint64_t*>(map)));
    }

    ~WriteCounts()
    {
        munmap(m_counts, size);
        ::close(m_fd);
    }

    uint64_t begun() const { return __atomic_load_n(&m_counts[0], __ATOMIC_ACQUIRE); }
    uint64_t ended() const { return __atomic_load_n(&m_counts[1], __ATOMIC_ACQUIRE); }

    // Waits at most timeoutMs for the writers' lock.
    bool beginWrite(int timeoutMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        // Holding the lock, no other writer is between its two counts.
        if (ended() != begun())
            __atomic_store_n(&m_counts[1], begun(), __ATOMIC_RELEASE);
        __atomic_add_fetch(&m_counts[0], 1, __ATOMIC_ACQ_REL);
        return true;
    }

    void endWrite()
    {
        __atomic_add_fetch(&m_counts[1], 1, __ATOMIC_ACQ_REL);
        flock(m_fd, LOCK_UN);
    }

private:
    static constexpr size_t size = 2 * sizeof(uint64_t);

    WriteCounts(int fd, uint64_t* counts)
        : m_fd(fd)
        , m_counts(counts)
    {
    }

    int m_fd;
    uint64_t* m_counts;
};

// A run of a key's subkeys or values in their order, as enumeration reads
// them one index after the other.
template<typename Item>
struct Page {
    size_t first { 0 };
    std::vector<Item> items;
    bool end { false }; // the last of them is in it
};

struct SubkeyItem {
    KeyRecord key;
    std::string upper;
};

struct ValueItem {
    StoredValue value;
    int64_t position { 0 };
};

// What this process read while the machine's write counts were at tag.
struct Store::Cache {
    uint64_t tag { 0 };
    size_t entries { 0 };
    size_t bytes { 0 };
    std::unordered_map<KeyId, std::optional<KeyRecord>> keys;
    std::unordered_map<std::string, std::optional<KeyId>> names;  // by parent and upper-cased name
    std::unordered_map<std::string, std::optional<StoredValue>> values; // by key and upper-cased name
    std::unordered_map<KeyId, KeyCounts> counts;
    std::unordered_map<KeyId, Page<SubkeyItem>> subkeys;
    std::unordered_map<KeyId, Page<ValueItem>> valueLists;

    void clear()
    {
        keys.clear();
        names.clear();
        values.clear();
        counts.clear();
        subkeys.clear();
        valueLists.clear();
        entries = 0;
        bytes = 0;
    }

    // Makes room for what is about to be added.
    void reserve(size_t moreEntries, size_t moreBytes)
    {
        if (entries + moreEntries > cacheEntries || bytes + moreBytes > cacheBytes)
            clear();
        entries += moreEntries;
        bytes += moreBytes;
    }
};

// One use of a prepared statement: its parameters, its rows, its reset.
class Store::Statement {
public:
    Statement(Store& store, Sql sql)
        : m_store(store)
    {
        store.beginSql();
        m_statement = store.prepared(sql);
    }
    ~Statement()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int64_t value) { return check(sqlite3_bind_int64(m_statement, ++m_parameter, value)); }
    Statement& bindText(const std::string& text)
    {
        return check(sqlite3_bind_text(m_statement, ++m_parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    }
    // A non-null pointer keeps an empty blob from becoming NULL.
    Statement& bindBlob(const void* data, size_t size)
    {
        return check(sqlite3_bind_blob(m_statement, ++m_parameter, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT));
    }
    Statement& bindBlob(const std::string& bytes) { return bindBlob(bytes.data(), bytes.size()); }

    // True while there is a row.
    bool step()
    {
        int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw Failure { errorOf(rc), sqlite3_errmsg(m_store.m_db) };
    }
    void run()
    {
        while (step()) { }
    }

    int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    std::string bytes(int column) const
    {
        const void* data = sqlite3_column_blob(m_statement, column);
        int size = sqlite3_column_bytes(m_statement, column);
        return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
    }

private:
    Statement& check(int rc)
    {
        if (rc != SQLITE_OK)
            throw Failure { errorOf(rc), sqlite3_errmsg(m_store.m_db) };
        return *this;
    }

    Store& m_store;
    sqlite3_stmt* m_statement { nullptr };
    int m_parameter { 0 };
};

Store::Store(sqlite3* db, std::string file, std::unique_ptr<WriteCounts> counts)
    : m_db(db)
    , m_file(std::move(file))
    , m_counts(std::move(counts))
    , m_cache(std::make_unique<Cache>())
    , m_statements(static_cast<size_t>(Sql::Count), nullptr)
{
}

Store::~Store()
{
    for (sqlite3_stmt* statement : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

std::unique_ptr<Store> Store::openFile(const std::string& file, bool create, std::string& error)
{
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    std::string opening;
    sqlite3* db = database::open(file, flags, busyTimeoutMs, opening);
    auto fail = [&](const std::string& problem) -> std::unique_ptr<Store> {
        error = file + ": " + problem;
        sqlite3_close(db);
        return nullptr;
    };
    if (!db)
        return fail(opening);
    // In WAL mode a commit is in the file system when it returns; a power
    // loss is what RegFlushKey guards against.
    if (sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(sqlite3_errmsg(db));
    if (create) {
        std::string sql = "PRAGMA journal_mode = WAL; BEGIN; PRAGMA application_id = " + std::to_string(applicationId)
            + "; PRAGMA user_version = " + std::to_string(schemaVersion) + ";";
        for (const char* statement : schema)
            sql += std::string(statement) + ";";
        uint64_t now = fileTimeNow();
        for (KeyId root : { machineRoot, usersRoot }) {
            const char* name = root == machineRoot ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS";
            sql += "INSERT INTO key (id, parent, name, upper, class, sddl, written) VALUES (" + std::to_string(root)
                + ", 0, CAST('" + name + "' AS BLOB), CAST('" + name + "' AS BLOB), x'', '" + rootSddl + "', "
                + std::to_string(now) + ");";
        }
        sql += "COMMIT;";
        char* message = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string problem = message ? message : "cannot create the registry";
            sqlite3_free(message);
            return fail(problem);
        }
    }

    // Only our own tables, as we made them, are a registry.
    database::Identity identity = database::identify(db);
    std::string problem;
    if (!identity.readable) {
        problem = "not a registry database (" + identity.error + ")";
    } else if (identity.applicationId != applicationId) {
        problem = "not a registry database";
    } else if (identity.version != schemaVersion) {
        problem = "a registry of version " + std::to_string(identity.version) + ", not " + std::to_string(schemaVersion);
    } else if (identity.tables != database::joined(schema, sizeof schema / sizeof schema[0])) {
        problem = "its tables are not the registry's";
    }
    if (!problem.empty())
        return fail(problem);
    auto counts = WriteCounts::open(file + "-writes", error);
    if (!counts) {
        sqlite3_close(db);
        return nullptr;
    }
    return std::unique_ptr<Store>(new Store(db, file, std::move(counts)));
}

std::unique_ptr<Store> Store::open(const std::string& registryDir, std::string& error)
{
    std::string file = registryDir + "/" + fileName;
    if (access(file.c_str(), F_OK) != 0) {
        error = file + ": no registry database";
        return nullptr;
    }
    return openFile(file, false, error);
}

std::unique_ptr<Store> Store::create(const std::string& registryDir, std::string& error)
{
    std::string file = registryDir + "/" + fileName;
    if (access(file.c_str(), F_OK) == 0) {
        error = file + ": a registry is there already";
        return nullptr;
    }
    return openFile(file, true, error);
}

namespace {

std::mutex currentMutex;
std::unique_ptr<Store> currentStore;
std::string currentFailedFor;

// A connection must not cross a fork: the child leaves the parent's alone,
// never closed and still reachable, and opens its own.
void forgetParentsStore()
{
    static auto* inherited = new std::vector<Store*>();
    if (currentStore)
        inherited->push_back(currentStore.release());
    currentFailedFor.clear();
}

}

Store* Store::current()
{
    static std::once_flag forkHandler;
    std::call_once(forkHandler, [] { pthread_atfork(nullptr, nullptr, forgetParentsStore); });
    std::lock_guard<std::mutex> guard(currentMutex);
    std::string dir = Machine::current().registryDir();
    if (currentStore && currentStore->m_file != dir + "/" + fileName)
        currentStore.reset();
    if (!currentStore) {
        std::string error;
        currentStore = open(dir, error);
        if (!currentStore && currentFailedFor != dir) {
            std::fprintf(stderr, "ntsim: %s\n", error.c_str());
            currentFailedFor = dir;
        }
    }
    return currentStore.get();
}

sqlite3_stmt* Store::prepared(Sql sql)
{
    static_assert(sizeof sqlText / sizeof sqlText[0] == static_cast<size_t>(Sql::Count), "one text a statement");
    sqlite3_stmt*& statement = m_statements[static_cast<size_t>(sql)];
    if (!statement) {
        int rc = sqlite3_prepare_v3(m_db, sqlText[static_cast<size_t>(sql)], -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (rc != SQLITE_OK) {
            statement = nullptr;
            throw Failure { errorOf(rc), sqlite3_errmsg(m_db) };
        }
    }
    return statement;
}

void Store::execute(Sql sql)
{
    Statement(*this, sql).run();
}

void Store::beginSql()
{
    if (m_sqlOpen || m_depth == 0)
        return;
    m_sqlOpen = true;
    execute(m_writing ? Sql::BeginImmediate : Sql::Begin);
    if (m_writing || !m_useCache)
        return;
    // The transaction now reads one state of the database: the cached one
    // unless a write began since the call looked at the counts.
    execute(Sql::Snapshot);
    if (m_counts->begun() != m_cache->tag) {
        if (m_answeredFromCache)
            throw Restart {};
        m_useCache = false;
    }
}

LONG Store::runBody(const std::function<LONG()>& body)
{
    m_sqlOpen = false;
    m_answeredFromCache = false;
    LONG result = body();
    if (m_sqlOpen)
        execute(result == ERROR_SUCCESS || !m_writing ? Sql::Commit : Sql::Rollback);
    m_sqlOpen = false;
    return result;
}

LONG Store::transact(bool write, const std::function<LONG()>& body)
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    // A call made from inside another (the tool's import) joins the
    // transaction that is open.
    if (m_depth > 0) {
        if (write && !m_writing)
            return ERROR_REGISTRY_IO_FAILED;
        ++m_depth;
        LONG result = body();
        --m_depth;
        return result;
    }
    if (write && !m_counts->beginWrite(busyTimeoutMs))
        return ERROR_REGISTRY_IO_FAILED;
    m_depth = 1;
    m_writing = write;
    m_useCache = false;
    if (!write && m_counts->ended() == m_counts->begun()) {
        m_useCache = true;
        if (m_cache->tag != m_counts->begun()) {
            m_cache->clear();
            m_cache->tag = m_counts->begun();
        }
    }
    LONG result = ERROR_SUCCESS;
    for (bool again = true; again;) {
        again = false;
        try {
            result = runBody(body);
        } catch (const Restart&) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            m_useCache = false;
            again = true;
        } catch (const Failure& f) {
            if (!sqlite3_get_autocommit(m_db))
                sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            if (f.code == ERROR_REGISTRY_CORRUPT)
                std::fprintf(stderr, "ntsim: %s: %s\n", m_file.c_str(), f.problem.c_str());
            result = f.code;
        }
    }
    if (write)
        m_counts->endWrite();
    m_depth = 0;
    m_writing = false;
    m_sqlOpen = false;
    return result;
}

std::shared_ptr<const security::SecurityDescriptor> Store::descriptor(const std::string& sddl)
{
    auto it = m_descriptors.find(sddl);
    if (it != m_descriptors.end())
        return it->second;
    auto parsed = security::SecurityDescriptor::fromSddl(sddl);
    if (!parsed)
        return nullptr;
    // Bounded: a registry of a million distinct descriptors costs lookups, not memory.
    if (m_descriptors.size() >= 1024)
        m_descriptors.clear();
    auto sd = std::make_shared<const security::SecurityDescriptor>(std::move(*parsed));
    m_descriptors.emplace(sddl, sd);
    return sd;
}

KeyRecord Store::readKey(Statement& row)
{
    KeyRecord key;
    key.id = row.integer(0);
    key.parent = row.integer(1);
    key.name = row.bytes(2);
    key.className = row.bytes(3);
    key.lastWrite = static_cast<uint64_t>(row.integer(4));
    std::string sddl = row.bytes(5);
    key.security = descriptor(sddl);
    if (!key.security)
        corrupt("key " + std::to_string(key.id) + " has an unreadable security descriptor '" + sddl + "'");
    if (key.name.empty() || key.name.find('\\') != std::string::npos)
        corrupt("key " + std::to_string(key.id) + " has a name no key may have");
    return key;
}

StoredValue Store::readValue(Statement& row)
{
    StoredValue v;
    v.name = row.bytes(0);
    int64_t type = row.integer(1);
    if (type < 0 || type > 0xFFFFFFFF)
        corrupt("value '" + v.name + "' has the type " + std::to_string(type));
    v.type = static_cast<DWORD>(type);
    std::string data = row.bytes(2);
    v.data.assign(data.begin(), data.end());
    return v;
}

std::optional<KeyRecord> Store::key(KeyId id)
{
    if (m_useCache) {
        auto it = m_cache->keys.find(id);
        if (it != m_cache->keys.end()) {
            m_answeredFromCache = true;
            return it->second;
        }
    }
    Statement row(*this, Sql::KeyById);
    row.bind(id);
    std::optional<KeyRecord> key;
    if (row.step())
        key = readKey(row);
    if (m_useCache) {
        m_cache->reserve(1, key ? key->name.size() + key->className.size() : 0);
        m_cache->keys.emplace(id, key);
    }
    return key;
}

std::optional<KeyRecord> Store::subkey(KeyId parent, const std::string& name)
{
    std::string cacheKey;
    if (m_useCache) {
        cacheKey = nameKey(parent, name);
        auto it = m_cache->names.find(cacheKey);
        if (it != m_cache->names.end()) {
            m_answeredFromCache = true;
            return it->second ? key(*it->second) : std::nullopt;
        }
    }
    Statement row(*this, Sql::KeyByName);
    row.bind(parent).bindBlob(upperAscii(name));
    std::optional<KeyRecord> found;
    if (row.step())
        found = readKey(row);
    if (m_useCache) {
        m_cache->reserve(2, cacheKey.size() + (found ? found->name.size() + found->className.size() : 0));
        m_cache->names.emplace(cacheKey, found ? std::optional<KeyId>(found->id) : std::nullopt);
        if (found)
            m_cache->keys.emplace(found->id, found);
    }
    return found;
}

std::optional<KeyRecord> Store::find(const std::string& fullPath)
{
    auto names = splitKeyPath(fullPath);
    if (names.empty())
        return std::nullopt;
    std::optional<KeyRecord> key;
    if (equalsNoCase(names[0], "HKEY_LOCAL_MACHINE"))
        key = this->key(machineRoot);
    else if (equalsNoCase(names[0], "HKEY_USERS"))
        key = this->key(usersRoot);
    for (size_t i = 1; key && i < names.size(); ++i)
        key = subkey(key->id, names[i]);
    return key;
}

namespace {

// The item at index of a paged list: from the page held, the page after it
// when enumeration goes on, or a page read from index on. loaded says
// whether the database was read.
template<typename Item, typename Load>
const Item* itemAt(Page<Item>& page, size_t index, Load load, bool& loaded)
{
    size_t next = page.first + page.items.size();
    loaded = false;
    if (index >= page.first && index < next)
        return &page.items[index - page.first];
    if (page.end && index >= next)
        return nullptr;
    bool following = !page.items.empty() && index == next;
    std::vector<Item> items = load(following ? &page.items.back() : nullptr, index);
    loaded = true;
    page.first = index;
    page.end = items.size() < pageSize;
    page.items = std::move(items);
    return page.items.empty() ? nullptr : &page.items.front();
}

}

std::optional<KeyRecord> Store::subkeyAt(KeyId parent, size_t index)
{
    auto load = [&](const SubkeyItem* after, size_t from) {
        std::vector<SubkeyItem> items;
        size_t limit = m_useCache ? pageSize : 1;
        Statement row(*this, after ? Sql::SubkeysAfter : Sql::SubkeysFrom);
        row.bind(parent);
        if (after)
            row.bindBlob(after->upper);
        else
            row.bind(static_cast<int64_t>(from));
        row.bind(static_cast<int64_t>(limit));
        while (row.step())
            items.push_back({ readKey(row), row.bytes(6) });
        return items;
    };
    if (!m_useCache) {
        auto items = load(nullptr, index);
        return items.empty() ? std::nullopt : std::optional<KeyRecord>(items.front().key);
    }
    Page<SubkeyItem>& page = m_cache->subkeys[parent];
    bool loaded = false;
    const SubkeyItem* item = itemAt(page, index, load, loaded);
    auto found = item ? std::optional<KeyRecord>(item->key) : std::nullopt;
    // Counted after the copy: making room may drop the page.
    if (loaded)
        m_cache->reserve(page.items.size(), 0);
    else
        m_answeredFromCache = true;
    return found;
}

std::vector<KeyRecord> Store::subkeys(KeyId parent)
{
    std::vector<KeyRecord> out;
    Statement row(*this, Sql::Subkeys);
    row.bind(parent);
    while (row.step())
        out.push_back(readKey(row));
    return out;
}

std::string Store::path(const KeyRecord& key)
{
    std::string path = key.name;
    KeyId parent = key.parent;
    for (int depth = 0; parent != 0; ++depth) {
        auto above = this->key(parent);
        if (!above || depth > maxDepth)
            corrupt("key " + std::to_string(key.id) + " is not below a root");
        path = above->name + "\\" + path;
        parent = above->parent;
    }
    return path;
}

std::optional<StoredValue> Store::value(KeyId key, const std::string& name)
{
    std::string cacheKey;
    if (m_useCache) {
        cacheKey = nameKey(key, name);
        auto it = m_cache->values.find(cacheKey);
        if (it != m_cache->values.end()) {
            m_answeredFromCache = true;
            return it->second;
        }
    }
    Statement row(*this, Sql::ValueByName);
    row.bind(key).bindBlob(upperAscii(name));
    std::optional<StoredValue> found;
    if (row.step())
        found = readValue(row);
    if (m_useCache) {
        m_cache->reserve(1, cacheKey.size() + (found ? found->name.size() + found->data.size() : 0));
        m_cache->values.emplace(cacheKey, found);
    }
    return found;
}

std::optional<StoredValue> Store::valueAt(KeyId key, size_t index)
{
    auto load = [&](const ValueItem* after, size_t from) {
        std::vector<ValueItem> items;
        size_t limit = m_useCache ? pageSize : 1;
        Statement row(*this, after ? Sql::ValuesAfter : Sql::ValuesFrom);
        row.bind(key).bind(after ? after->position : static_cast<int64_t>(from)).bind(static_cast<int64_t>(limit));
        while (row.step())
            items.push_back({ readValue(row), row.integer(3) });
        return items;
    };
    if (!m_useCache) {
        auto items = load(nullptr, index);
        return items.empty() ? std::nullopt : std::optional<StoredValue>(items.front().value);
    }
    Page<ValueItem>& page = m_cache->valueLists[key];
    bool loaded = false;
    const ValueItem* item = itemAt(page, index, load, loaded);
    auto found = item ? std::optional<StoredValue>(item->value) : std::nullopt;
    // Counted after the copy: making room may drop the page.
    if (loaded) {
        size_t bytes = 0;
        for (auto& v : page.items)
            bytes += v.value.name.size() + v.value.data.size();
        m_cache->reserve(page.items.size(), bytes);
    } else {
        m_answeredFromCache = true;
    }
    return found;
}

std::vector<StoredValue> Store::values(KeyId key)
{
    std::vector<StoredValue> out;
    Statement row(*this, Sql::Values);
    row.bind(key);
    while (row.step())
        out.push_back(readValue(row));
    return out;
}

KeyCounts Store::counts(KeyId key)
{
    if (m_useCache) {
        auto it = m_cache->counts.find(key);
        if (it != m_cache->counts.end()) {
            m_answeredFromCache = true;
            return it->second;
        }
    }
    KeyCounts c;
    {
        Statement row(*this, Sql::SubkeyCounts);
        row.bind(key);
        if (row.step()) {
            c.subkeys = static_cast<size_t>(row.integer(0));
            c.maxSubkeyName = static_cast<size_t>(row.integer(1));
            c.maxClass = static_cast<size_t>(row.integer(2));
        }
    }
    Statement row(*this, Sql::ValueCounts);
    row.bind(key);
    if (row.step()) {
        c.values = static_cast<size_t>(row.integer(0));
        c.maxValueName = static_cast<size_t>(row.integer(1));
        c.maxValueData = static_cast<size_t>(row.integer(2));
    }
    if (m_useCache) {
        m_cache->reserve(1, 0);
        m_cache->counts.emplace(key, c);
    }
    return c;
}

void Store::touch(KeyId key, uint64_t time)
{
    Statement(*this, Sql::Touch).bind(key).bind(static_cast<int64_t>(time)).run();
}

KeyRecord Store::createKey(const KeyRecord& parent, const std::string& name, const security::SecurityDescriptor& sd,
    const std::string& className)
{
    KeyRecord key;
    key.parent = parent.id;
    key.name = name;
    key.className = className;
    key.lastWrite = fileTimeNow();
    std::string sddl = sd.toSddl();
    key.security = descriptor(sddl);
    Statement(*this, Sql::InsertKey)
        .bind(parent.id)
        .bindBlob(name)
        .bindBlob(upperAscii(name))
        .bindBlob(className)
        .bindText(sddl)
        .bind(static_cast<int64_t>(key.lastWrite))
        .run();
    key.id = sqlite3_last_insert_rowid(m_db);
    touch(parent.id, key.lastWrite);
    return key;
}

void Store::deleteTree(const KeyRecord& key)
{
    Statement(*this, Sql::DeleteTreeValues).bind(key.id).run();
    Statement(*this, Sql::DeleteTreeKeys).bind(key.id).run();
    touch(key.parent, fileTimeNow());
}

void Store::setValue(KeyId key, const std::string& name, DWORD type, const BYTE* data, size_t size)
{
    std::string upper = upperAscii(name);
    Statement(*this, Sql::UpdateValue).bind(key).bindBlob(upper).bind(type).bindBlob(data, size).run();
    if (sqlite3_changes(m_db) == 0)
        Statement(*this, Sql::InsertValue).bind(key).bindBlob(upper).bindBlob(name).bind(type).bindBlob(data, size).run();
    touch(key, fileTimeNow());
}

bool Store::deleteValue(KeyId key, const std::string& name)
{
    Statement(*this, Sql::DeleteValue).bind(key).bindBlob(upperAscii(name)).run();
    if (sqlite3_changes(m_db) == 0)
        return false;
    touch(key, fileTimeNow());
    return true;
}

void Store::setSecurity(KeyId key, const security::SecurityDescriptor& sd)
{
    Statement(*this, Sql::SetSecurity).bind(key).bindText(sd.toSddl()).bind(static_cast<int64_t>(fileTimeNow())).run();
}

bool Store::flush()
{
    // The committed transactions are in the write-ahead log or, once
    // checkpointed, in the database: both go to the disk itself.
    bool ok = true;
    for (const std::string& file : { m_file + "-wal", m_file }) {
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ok = fdatasync(fd) == 0 && ok;
        ::close(fd);
    }
    return ok;
}

std::vector<std::string> splitKeyPath(const std::string& path)
{
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('\\', pos);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > pos)
            names.push_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return names;
}

uint64_t fileTimeNow()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

}
