#include "RunStore.h"

#include "Database.h"
#include "FileLock.h"
#include "Machine.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <vector>

namespace ntsim {

namespace {

// "NTRS" in the database header, and the version of the tables below.
constexpr int applicationId = 0x4E545253;
constexpr int schemaVersion = 1;

// What each table holds and who uses it: docs/run-state.md. The tables
// hold tens of rows: a change touches one page, with no index to keep.
const char* const schema[] = {
    "CREATE TABLE service (upper TEXT PRIMARY KEY, record TEXT NOT NULL) STRICT, WITHOUT ROWID",
    "CREATE TABLE scm_lock (lock INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL, "
    "owner TEXT NOT NULL, since INTEGER NOT NULL) STRICT",
    "CREATE TABLE open_file (pid INTEGER NOT NULL, start INTEGER NOT NULL, serial INTEGER NOT NULL, "
    "device INTEGER NOT NULL, inode INTEGER NOT NULL, access INTEGER NOT NULL, share INTEGER NOT NULL, "
    "delete_on_close INTEGER NOT NULL, delete_pending INTEGER NOT NULL, image INTEGER NOT NULL, path BLOB NOT NULL, "
    "PRIMARY KEY (pid, start, serial)) STRICT, WITHOUT ROWID",
    "CREATE TABLE event (name BLOB PRIMARY KEY, manual INTEGER NOT NULL, signaled INTEGER NOT NULL) STRICT, WITHOUT ROWID",
    "CREATE TABLE event_holder (name BLOB NOT NULL, pid INTEGER NOT NULL, start INTEGER NOT NULL, "
    "handles INTEGER NOT NULL, PRIMARY KEY (name, pid, start)) STRICT, WITHOUT ROWID",
    "CREATE TABLE window_entry (handle INTEGER PRIMARY KEY, added INTEGER NOT NULL, parent INTEGER NOT NULL, "
    "pid INTEGER NOT NULL, start INTEGER NOT NULL, tid INTEGER NOT NULL, title BLOB NOT NULL, class BLOB NOT NULL) STRICT",
    "CREATE TABLE exit_code (pid INTEGER PRIMARY KEY, code INTEGER NOT NULL) STRICT",
    "CREATE TABLE call_count (api TEXT PRIMARY KEY, calls INTEGER NOT NULL) STRICT, WITHOUT ROWID",
    "CREATE TABLE counter (name TEXT PRIMARY KEY, value INTEGER NOT NULL) STRICT, WITHOUT ROWID",
    "CREATE TABLE desk_taken (run TEXT NOT NULL, position INTEGER NOT NULL, PRIMARY KEY (run, position)) STRICT, "
    "WITHOUT ROWID",
    "CREATE TABLE desk_line (run TEXT NOT NULL, position INTEGER NOT NULL, place TEXT NOT NULL, "
    "sequence INTEGER NOT NULL, line TEXT NOT NULL) STRICT",
    "CREATE TABLE desk_unanswered (run TEXT NOT NULL, message TEXT NOT NULL) STRICT",
};

constexpr size_t wakeFileSize = 4096;

// The reads that happen at hundreds a second stay in the mapped file.
constexpr const char* pragmas = "PRAGMA synchronous = OFF; PRAGMA mmap_size = 16777216; PRAGMA temp_store = MEMORY";

// What the file is: ours (empty problem), new (nothing in it yet), or something else.
struct Identity {
    bool isNew { false };
    std::string problem;
};

Identity identify(sqlite3* db)
{
    Identity out;
    database::Identity found = database::identify(db);
    if (!found.readable)
        out.problem = "not the machine's run state (" + found.error + ")";
    else if (found.applicationId == 0 && found.version == 0 && !found.hasTables)
        out.isNew = true;
    else if (found.applicationId != applicationId)
        out.problem = "not the machine's run state";
    else if (found.version != schemaVersion)
        out.problem = "run state of version " + std::to_string(found.version) + ", not " + std::to_string(schemaVersion);
    else if (found.tables != database::joined(schema, std::size(schema)))
        out.problem = "its tables are not the run state's";
    return out;
}

bool exec(sqlite3* db, const std::string& sql, std::string& problem)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    problem = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

// Makes the tables of a new store, unless another process made them first.
bool create(sqlite3* db, std::string& problem)
{
    // The journal's mode is kept in the file: set once, by its maker.
    if (!exec(db, "PRAGMA journal_mode = WAL", problem) || !exec(db, "BEGIN IMMEDIATE", problem))
        return false;
    Identity again = identify(db);
    if (!again.isNew) {
        exec(db, "COMMIT", problem);
        problem = again.problem;
        return problem.empty();
    }
    std::string sql = "PRAGMA application_id = " + std::to_string(applicationId)
        + "; PRAGMA user_version = " + std::to_string(schemaVersion) + ";";
    for (const char* statement : schema)
        sql += std::string(statement) + ";";
    if (!exec(db, sql, problem) || !exec(db, "COMMIT", problem)) {
        std::string ignored;
        exec(db, "ROLLBACK", ignored);
        return false;
    }
    return true;
}

}

RunStore::RunStore(sqlite3* db, std::string file, int wakeFd, uint32_t* wake)
    : m_db(db)
    , m_file(std::move(file))
    , m_wakeFd(wakeFd)
    , m_wake(wake)
{
}

RunStore::~RunStore()
{
    for (auto& [sql, statement] : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
    munmap(m_wake, wakeFileSize);
    ::close(m_wakeFd);
}

std::unique_ptr<RunStore> RunStore::open(const std::string& runDir, std::string& error)
{
    // run/ is the machine's own: a link there could lead the store anywhere.
    struct stat st;
    if (lstat(runDir.c_str(), &st) != 0 && (errno != ENOENT || (mkdir(runDir.c_str(), 0755) != 0 && errno != EEXIST))) {
        error = runDir + ": " + std::strerror(errno);
        return nullptr;
    }
    if (lstat(runDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = runDir + ": not a directory";
        return nullptr;
    }
    std::string file = runDir + "/" + fileName;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    std::string problem;
    sqlite3* db = database::open(file, flags, busyTimeoutMs, problem);
    auto refuse = [&](const std::string& what) -> std::unique_ptr<RunStore> {
        error = file + ": " + what;
        sqlite3_close(db);
        return nullptr;
    };
    if (!db)
        return refuse(problem);
    Identity identity = identify(db);
    if (!identity.problem.empty())
        return refuse(identity.problem);
    if (!exec(db, pragmas, problem))
        return refuse(problem);
    // Processes that find no store make it at once: the one that turns the
    // file to WAL holds it briefly, and SQLite answers the others busy
    // without waiting, so they wait here and look again.
    for (int waited = 0; identity.isNew && !create(db, problem); ++waited) {
        if (sqlite3_errcode(db) != SQLITE_BUSY || waited >= busyTimeoutMs)
            return refuse(problem);
        usleep(1000);
        identity = identify(db);
        if (!identity.problem.empty())
            return refuse(identity.problem);
    }
    int wakeFd = -1;
    auto* wake = static_cast<uint32_t*>(mapSharedFile(runDir + "/" + wakeFileName, wakeFileSize, "wake-up file", wakeFd, error));
    if (!wake) {
        sqlite3_close(db);
        return nullptr;
    }
    return std::unique_ptr<RunStore>(new RunStore(db, file, wakeFd, wake));
}

namespace {

std::mutex currentMutex;
RunStore* currentStore = nullptr;
std::string currentRoot; // the machine whose store currentStore is

// A connection must not cross a fork: the child leaves the parent's
// alone, never closed and still reachable, and opens its own.
void forgetParentsStore()
{
    static auto* inherited = new std::vector<RunStore*>();
    if (currentStore)
        inherited->push_back(currentStore);
    currentStore = nullptr;
}

}

RunStore* RunStore::tryCurrent(std::string& error)
{
    static std::once_flag forkHandler;
    std::call_once(forkHandler, [] { pthread_atfork(nullptr, nullptr, forgetParentsStore); });
    const std::string& root = Machine::current().root();
    std::lock_guard<std::mutex> guard(currentMutex);
    if (currentStore && currentRoot == root)
        return currentStore;
    // Tests attach one machine after another; a program has one.
    delete currentStore;
    // Never closed: a process ends with its store open, so that what runs
    // at its exit (in whatever order) still finds it; the system closes it.
    currentStore = open(root + "/run", error).release();
    currentRoot = root;
    return currentStore;
}

RunStore& RunStore::current()
{
    std::string error;
    RunStore* store = tryCurrent(error);
    if (!store) {
        std::fprintf(stderr, "ntsim: %s\n", error.c_str());
        std::fflush(nullptr);
        _exit(70);
    }
    return *store;
}

void RunStore::fail(const std::string& problem) const
{
    std::fprintf(stderr, "ntsim: %s: %s\n", m_file.c_str(), problem.c_str());
    // Nothing more of the machine's shared state may be touched: the
    // process's exit handlers would meet the same store.
    std::fflush(nullptr);
    _exit(70);
}

sqlite3_stmt* RunStore::prepared(const char* sql)
{
    sqlite3_stmt*& statement = m_statements[sql];
    if (!statement && sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
        fail(sqlite3_errmsg(m_db));
    return statement;
}

void RunStore::execute(const char* sql)
{
    sqlite3_stmt* statement = prepared(sql);
    int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc == SQLITE_BUSY)
        fail("another process held the run state longer than " + std::to_string(busyTimeoutMs / 1000) + " s");
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(sqlite3_errmsg(m_db));
}

void RunStore::begin()
{
    execute("BEGIN IMMEDIATE");
}

void RunStore::end()
{
    execute("COMMIT");
    if (m_announce) {
        m_announce = false;
        announceChange();
    }
}

uint32_t RunStore::changes() const
{
    return __atomic_load_n(m_wake, __ATOMIC_ACQUIRE);
}

void RunStore::awaitChange(uint32_t seen, int milliseconds) const
{
    struct timespec timeout { milliseconds / 1000, (milliseconds % 1000) * 1000000L };
    // Shared between processes: the futex is keyed by the file's page, not
    // by this process's address space.
    syscall(SYS_futex, m_wake, FUTEX_WAIT, seen, &timeout, nullptr, 0);
}

void RunStore::announceChange()
{
    __atomic_add_fetch(m_wake, 1, __ATOMIC_ACQ_REL);
    syscall(SYS_futex, m_wake, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

RunStore::Transaction::Transaction(RunStore& store)
    : m_store(store)
    , m_exceptions(std::uncaught_exceptions())
{
    store.m_mutex.lock();
    if (store.m_depth++ == 0)
        store.begin();
}

RunStore::Transaction::~Transaction()
{
    if (--m_store.m_depth == 0) {
        // An exception on its way out leaves the store as the transaction found it.
        if (std::uncaught_exceptions() > m_exceptions) {
            m_store.m_announce = false;
            m_store.execute("ROLLBACK");
        } else {
            m_store.end();
        }
    }
    m_store.m_mutex.unlock();
}

RunStore::Query::Query(const Transaction& transaction, const char* sql)
    : m_store(transaction.store())
    , m_statement(m_store.prepared(sql))
{
}

RunStore::Query::~Query()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

RunStore::Query& RunStore::Query::bind(int64_t value)
{
    if (sqlite3_bind_int64(m_statement, ++m_parameter, value) != SQLITE_OK)
        m_store.fail(sqlite3_errmsg(m_store.m_db));
    return *this;
}

RunStore::Query& RunStore::Query::bind(std::string_view text)
{
    if (sqlite3_bind_text(m_statement, ++m_parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT)
        != SQLITE_OK)
        m_store.fail(sqlite3_errmsg(m_store.m_db));
    return *this;
}

RunStore::Query& RunStore::Query::bindBytes(std::string_view bytes)
{
    // A non-null pointer keeps an empty blob from becoming NULL.
    if (sqlite3_bind_blob(m_statement, ++m_parameter, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
            SQLITE_TRANSIENT)
        != SQLITE_OK)
        m_store.fail(sqlite3_errmsg(m_store.m_db));
    return *this;
}

bool RunStore::Query::next()
{
    int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_store.fail(sqlite3_errmsg(m_store.m_db));
    return false;
}

void RunStore::Query::run()
{
    while (next()) { }
}

int64_t RunStore::Query::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string RunStore::Query::text(int column) const
{
    const void* data = sqlite3_column_blob(m_statement, column);
    int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

}
