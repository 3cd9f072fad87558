#include "Store.h"

#include "ChangeCounter.h"
#include "Database.h"
#include "ReadCache.h"

#include "machine/Machine.h"
#include "machine/CodePage.h"
#include "machine/NtPath.h"
#include "machine/Unicode.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace ntsim::registry {

namespace {

// NT nests keys at most 512 deep; a longer chain of parents is a loop.
constexpr int maxDepth = 512;

}

Store::Store(std::unique_ptr<Database> db, std::shared_ptr<ChangeCounter> counter)
    : m_db(std::move(db))
    , m_counter(std::move(counter))
    , m_cache(std::make_unique<ReadCache>())
{
}

Store::~Store() = default;

const std::string& Store::file() const
{
    return m_db->file();
}

std::unique_ptr<Store> Store::openFile(const std::string& file, bool create, unsigned ansiCodePage, std::string& error)
{
    auto db = Database::open(file, create, ansiCodePage, error);
    if (!db)
        return nullptr;
    auto counter = ChangeCounter::open(file + "-writes", error);
    if (!counter)
        return nullptr;
    return std::unique_ptr<Store>(new Store(std::move(db), std::move(counter)));
}

std::unique_ptr<Store> Store::open(const std::string& registryDir, unsigned ansiCodePage, std::string& error)
{
    std::string file = registryDir + "/" + fileName;
    if (access(file.c_str(), F_OK) != 0) {
        error = file + ": no registry database";
        return nullptr;
    }
    return openFile(file, false, ansiCodePage, error);
}

std::unique_ptr<Store> Store::create(const std::string& registryDir, std::string& error)
{
    std::string file = registryDir + "/" + fileName;
    if (access(file.c_str(), F_OK) == 0) {
        error = file + ": a registry is there already";
        return nullptr;
    }
    return openFile(file, true, 0, error);
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
    if (currentStore && currentStore->file() != dir + "/" + fileName)
        currentStore.reset();
    if (!currentStore) {
        std::string error;
        currentStore = open(dir, ansiCodePage(), error);
        if (!currentStore && currentFailedFor != dir) {
            std::fprintf(stderr, "ntsim: %s\n", error.c_str());
            currentFailedFor = dir;
        }
    }
    return currentStore.get();
}

Statement Store::statement(Sql sql)
{
    beginSql();
    return Statement(*m_db, sql);
}

void Store::beginSql()
{
    if (m_sqlOpen || m_depth == 0)
        return;
    m_sqlOpen = true;
    Statement(*m_db, m_writing ? Sql::BeginImmediate : Sql::Begin).run();
    if (m_writing || !m_useCache)
        return;
    // The transaction now reads one state of the database: the cached one
    // unless a write began since the call looked at the counts.
    Statement(*m_db, Sql::Snapshot).run();
    if (m_counter->begun() != m_cache->tag) {
        if (m_answeredFromCache)
            throw CacheOutdated {};
        m_useCache = false;
    }
}

LONG Store::runBody(const std::function<LONG()>& body)
{
    m_sqlOpen = false;
    m_answeredFromCache = false;
    m_changes.clear();
    LONG result = body();
    if (m_sqlOpen)
        Statement(*m_db, result == ERROR_SUCCESS || !m_writing ? Sql::Commit : Sql::Rollback).run();
    m_sqlOpen = false;
    if (result == ERROR_SUCCESS && !m_changes.empty())
        m_counter->log(m_changes);
    m_changes.clear();
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
    if (write && !m_counter->beginWrite(Database::busyTimeoutMs))
        return ERROR_REGISTRY_IO_FAILED;
    m_depth = 1;
    m_writing = write;
    m_useCache = false;
    if (!write && m_counter->ended() == m_counter->begun()) {
        m_useCache = true;
        if (m_cache->tag != m_counter->begun()) {
            m_cache->clear();
            m_cache->tag = m_counter->begun();
        }
    }
    LONG result = ERROR_SUCCESS;
    for (bool again = true; again;) {
        again = false;
        try {
            result = runBody(body);
        } catch (const CacheOutdated&) {
            m_db->rollback();
            m_useCache = false;
            again = true;
        } catch (const Failure& f) {
            m_db->rollback();
            if (f.code == ERROR_REGISTRY_CORRUPT)
                std::fprintf(stderr, "ntsim: %s: %s\n", file().c_str(), f.problem.c_str());
            result = f.code;
        }
    }
    if (write)
        m_counter->endWrite();
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

ValueRecord Store::readValue(Statement& row)
{
    ValueRecord v;
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
    Statement row = statement(Sql::KeyById);
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
        cacheKey = ReadCache::lookupKey(parent, upperUtf8(name));
        auto it = m_cache->names.find(cacheKey);
        if (it != m_cache->names.end()) {
            m_answeredFromCache = true;
            return it->second ? key(*it->second) : std::nullopt;
        }
    }
    Statement row = statement(Sql::KeyByName);
    row.bind(parent).bindBlob(upperUtf8(name));
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



std::vector<SubkeyItem> Store::loadSubkeys(KeyId parent, const SubkeyItem* after, size_t from)
{
    std::vector<SubkeyItem> items;
    size_t limit = m_useCache ? pageSize : 1;
    Statement row = statement(after ? Sql::SubkeysAfter : Sql::SubkeysFrom);
    row.bind(parent);
    if (after)
        row.bindBlob(after->upper);
    else
        row.bind(static_cast<int64_t>(from));
    row.bind(static_cast<int64_t>(limit));
    while (row.step())
        items.push_back({ readKey(row), row.bytes(6) });
    return items;
}

std::optional<KeyRecord> Store::subkeyAt(KeyId parent, size_t index)
{
    if (!m_useCache) {
        auto items = loadSubkeys(parent, nullptr, index);
        return items.empty() ? std::nullopt : std::optional<KeyRecord>(items.front().key);
    }
    Page<SubkeyItem>& page = m_cache->subkeys[parent];
    bool loaded = false;
    const SubkeyItem* item = itemAt(page, index,
        [this, parent](const SubkeyItem* after, size_t from) { return loadSubkeys(parent, after, from); }, loaded);
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
    Statement row = statement(Sql::Subkeys);
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

std::optional<ValueRecord> Store::value(KeyId key, const std::string& name)
{
    std::string cacheKey;
    if (m_useCache) {
        cacheKey = ReadCache::lookupKey(key, upperUtf8(name));
        auto it = m_cache->values.find(cacheKey);
        if (it != m_cache->values.end()) {
            m_answeredFromCache = true;
            return it->second;
        }
    }
    Statement row = statement(Sql::ValueByName);
    row.bind(key).bindBlob(upperUtf8(name));
    std::optional<ValueRecord> found;
    if (row.step())
        found = readValue(row);
    if (m_useCache) {
        m_cache->reserve(1, cacheKey.size() + (found ? found->name.size() + found->data.size() : 0));
        m_cache->values.emplace(cacheKey, found);
    }
    return found;
}

std::vector<ValueItem> Store::loadValues(KeyId key, const ValueItem* after, size_t from)
{
    std::vector<ValueItem> items;
    size_t limit = m_useCache ? pageSize : 1;
    Statement row = statement(after ? Sql::ValuesAfter : Sql::ValuesFrom);
    row.bind(key).bind(after ? after->position : static_cast<int64_t>(from)).bind(static_cast<int64_t>(limit));
    while (row.step())
        items.push_back({ readValue(row), row.integer(3) });
    return items;
}

std::optional<ValueRecord> Store::valueAt(KeyId key, size_t index)
{
    if (!m_useCache) {
        auto items = loadValues(key, nullptr, index);
        return items.empty() ? std::nullopt : std::optional<ValueRecord>(items.front().value);
    }
    Page<ValueItem>& page = m_cache->valueLists[key];
    bool loaded = false;
    const ValueItem* item = itemAt(page, index,
        [this, key](const ValueItem* after, size_t from) { return loadValues(key, after, from); }, loaded);
    auto found = item ? std::optional<ValueRecord>(item->value) : std::nullopt;
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

std::vector<ValueRecord> Store::values(KeyId key)
{
    std::vector<ValueRecord> out;
    Statement row = statement(Sql::Values);
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
        Statement row = statement(Sql::SubkeyCounts);
        row.bind(key);
        if (row.step()) {
            c.subkeys = static_cast<size_t>(row.integer(0));
            c.maxSubkeyName = static_cast<size_t>(row.integer(1));
            c.maxClass = static_cast<size_t>(row.integer(2));
        }
    }
    Statement row = statement(Sql::ValueCounts);
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

void Store::noteChange(KeyId key, uint32_t filter)
{
    if (!m_counter->watched())
        return;
    m_changes.push_back({ key, filter, true });
    std::optional<KeyRecord> above = this->key(key);
    for (int depth = 0; above && above->parent != 0 && depth < maxDepth; ++depth) {
        m_changes.push_back({ above->parent, filter, false });
        above = this->key(above->parent);
    }
}

void Store::touch(KeyId key, uint64_t time)
{
    statement(Sql::Touch).bind(key).bind(static_cast<int64_t>(time)).run();
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
    statement(Sql::InsertKey)
        .bind(parent.id)
        .bindBlob(name)
        .bindBlob(upperUtf8(name))
        .bindBlob(className)
        .bindText(sddl)
        .bind(static_cast<int64_t>(key.lastWrite))
        .run();
    key.id = m_db->lastInsertId();
    touch(parent.id, key.lastWrite);
    noteChange(parent.id, REG_NOTIFY_CHANGE_NAME);
    return key;
}

void Store::deleteTree(const KeyRecord& key)
{
    if (m_counter->watched())
        m_changes.push_back({ key.id, keyDeleted, true });
    statement(Sql::DeleteTreeValues).bind(key.id).run();
    statement(Sql::DeleteTreeKeys).bind(key.id).run();
    touch(key.parent, fileTimeNow());
    noteChange(key.parent, REG_NOTIFY_CHANGE_NAME);
}

void Store::setValue(KeyId key, const std::string& name, DWORD type, const BYTE* data, size_t size)
{
    std::string upper = upperUtf8(name);
    statement(Sql::UpdateValue).bind(key).bindBlob(upper).bind(type).bindBlob(data, size).run();
    if (m_db->changes() == 0)
        statement(Sql::InsertValue).bind(key).bindBlob(upper).bindBlob(name).bind(type).bindBlob(data, size).run();
    touch(key, fileTimeNow());
    noteChange(key, REG_NOTIFY_CHANGE_LAST_SET);
}

bool Store::deleteValue(KeyId key, const std::string& name)
{
    statement(Sql::DeleteValue).bind(key).bindBlob(upperUtf8(name)).run();
    if (m_db->changes() == 0)
        return false;
    touch(key, fileTimeNow());
    noteChange(key, REG_NOTIFY_CHANGE_LAST_SET);
    return true;
}

void Store::setSecurity(KeyId key, const security::SecurityDescriptor& sd)
{
    statement(Sql::SetSecurity).bind(key).bindText(sd.toSddl()).bind(static_cast<int64_t>(fileTimeNow())).run();
    noteChange(key, REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES);
}

bool Store::flush()
{
    // The committed transactions are in the write-ahead log or, once
    // checkpointed, in the database: both go to the disk itself.
    bool ok = true;
    for (const std::string& name : { file() + "-wal", file() }) {
        int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
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
