#include "Database.h"

#include "Store.h"

#include "machine/CodePage.h"
#include "machine/Database.h"
#include "machine/Unicode.h"

namespace ntsim::registry {

namespace {

// "NTRG" in the database header, and the version of what the tables hold.
// Version 1 held names and string data in the machine's ANSI code page; a
// registry of it is brought to version 2 when it is opened.
constexpr int applicationId = 0x4E545247;
constexpr int schemaVersion = 2;

// A key's rows and a value's rows. Names (of keys, values and classes) are
// UTF-16 as NT keeps them, written as UTF-8 a code unit at a time
// (machine/Unicode.h), with their upper-case form for lookups and NT's
// order; a value's data is as the W calls see it, strings in UTF-16LE.
const char* const schema[] = {
    "CREATE TABLE key (id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name BLOB NOT NULL, "
    "upper BLOB NOT NULL, class BLOB NOT NULL, sddl TEXT NOT NULL, written INTEGER NOT NULL) STRICT",
    "CREATE UNIQUE INDEX key_by_name ON key (parent, upper)",
    "CREATE TABLE value (key INTEGER NOT NULL, upper BLOB NOT NULL, position INTEGER NOT NULL, name BLOB NOT NULL, "
    "type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY (key, upper)) STRICT, WITHOUT ROWID",
    "CREATE UNIQUE INDEX value_by_position ON value (key, position)",
};

const char rootSddl[] = "O:SYG:SYD:(A;;KR;;;WD)(A;;KA;;;SY)(A;;KA;;;BA)";

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
    "SELECT count(*), coalesce(max(units(name)), 0), coalesce(max(units(class)), 0) FROM key WHERE parent = ?1",
    "SELECT count(*), coalesce(max(units(name)), 0), coalesce(max(length(data)), 0) FROM value WHERE key = ?1",
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
static_assert(sizeof sqlText / sizeof sqlText[0] == static_cast<size_t>(Sql::Count), "one text a statement");

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

// The tables and the two roots of a new machine's registry.
bool createTables(sqlite3* db, std::string& problem)
{
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
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    problem = message ? message : "cannot create the registry";
    sqlite3_free(message);
    return false;
}

// Text of version 1, in the ANSI code page, as version 2 keeps it.
std::string nameFromAnsi(const std::string& bytes, unsigned codePage)
{
    std::u16string wide;
    decodeText(bytes.data(), bytes.size(), codePage, wide);
    return utf16ToUtf8(wide);
}

std::string dataFromAnsi(const std::string& bytes, unsigned codePage)
{
    std::u16string wide;
    decodeText(bytes.data(), bytes.size(), codePage, wide);
    std::string out;
    for (char16_t c : wide) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string columnBytes(sqlite3_stmt* row, int column)
{
    const void* data = sqlite3_column_blob(row, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(sqlite3_column_bytes(row, column)))
                : std::string();
}

void bindBytes(sqlite3_stmt* statement, int parameter, const std::string& bytes)
{
    sqlite3_bind_blob(statement, parameter, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// The statements of one rewrite of a table, finalized when it ends.
struct Rewrite {
    sqlite3_stmt* rows { nullptr };
    sqlite3_stmt* update { nullptr };

    Rewrite(sqlite3* db, const char* select, const char* change)
    {
        if (sqlite3_prepare_v2(db, select, -1, &rows, nullptr) != SQLITE_OK
            || sqlite3_prepare_v2(db, change, -1, &update, nullptr) != SQLITE_OK) {
            sqlite3_finalize(rows);
            rows = nullptr;
        }
    }
    ~Rewrite()
    {
        sqlite3_finalize(rows);
        sqlite3_finalize(update);
    }
    Rewrite(const Rewrite&) = delete;
    Rewrite& operator=(const Rewrite&) = delete;

    bool apply()
    {
        bool ok = sqlite3_step(update) == SQLITE_DONE;
        sqlite3_reset(update);
        return ok;
    }
};

// Rows are read whole before any is rewritten: the rewrite changes the
// upper-case forms the rows are indexed (values: kept) by.
bool upgradeKeys(sqlite3* db, unsigned codePage)
{
    struct Row {
        int64_t id;
        std::string name;
        std::string className;
    };
    std::vector<Row> rows;
    Rewrite keys(db, "SELECT id, name, class FROM key", "UPDATE key SET name = ?1, upper = ?2, class = ?3 WHERE id = ?4");
    if (!keys.rows)
        return false;
    int rc;
    while ((rc = sqlite3_step(keys.rows)) == SQLITE_ROW)
        rows.push_back({ sqlite3_column_int64(keys.rows, 0), columnBytes(keys.rows, 1), columnBytes(keys.rows, 2) });
    if (rc != SQLITE_DONE)
        return false;
    for (const Row& row : rows) {
        std::string name = nameFromAnsi(row.name, codePage);
        bindBytes(keys.update, 1, name);
        bindBytes(keys.update, 2, upperUtf8(name));
        bindBytes(keys.update, 3, nameFromAnsi(row.className, codePage));
        sqlite3_bind_int64(keys.update, 4, row.id);
        if (!keys.apply())
            return false;
    }
    return true;
}

bool upgradeValues(sqlite3* db, unsigned codePage)
{
    struct Row {
        int64_t key;
        int64_t position;
        std::string name;
        int64_t type;
        std::string data;
    };
    std::vector<Row> rows;
    Rewrite values(db, "SELECT key, position, name, type, data FROM value",
        "UPDATE value SET name = ?1, upper = ?2, data = ?3 WHERE key = ?4 AND position = ?5");
    if (!values.rows)
        return false;
    int rc;
    while ((rc = sqlite3_step(values.rows)) == SQLITE_ROW)
        rows.push_back({ sqlite3_column_int64(values.rows, 0), sqlite3_column_int64(values.rows, 1),
            columnBytes(values.rows, 2), sqlite3_column_int64(values.rows, 3), columnBytes(values.rows, 4) });
    if (rc != SQLITE_DONE)
        return false;
    for (const Row& row : rows) {
        std::string name = nameFromAnsi(row.name, codePage);
        bool text = row.type == REG_SZ || row.type == REG_EXPAND_SZ || row.type == REG_MULTI_SZ;
        bindBytes(values.update, 1, name);
        bindBytes(values.update, 2, upperUtf8(name));
        bindBytes(values.update, 3, text ? dataFromAnsi(row.data, codePage) : row.data);
        sqlite3_bind_int64(values.update, 4, row.key);
        sqlite3_bind_int64(values.update, 5, row.position);
        if (!values.apply())
            return false;
    }
    return true;
}

// Version 1 kept names and string data in the machine's ANSI code page:
// they become UTF-16, in one transaction. The upper-case forms step aside
// first, so that no row meets another's old form on the way; names that
// NT's case tables make equal where ASCII folding did not are a registry
// that cannot be brought over.
std::string upgradeFromVersion1(sqlite3* db, unsigned codePage)
{
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::string("cannot bring the registry to version 2 (") + sqlite3_errmsg(db) + ")";
    // Another process may have brought it over while this one waited.
    sqlite3_stmt* version = nullptr;
    sqlite3_prepare_v2(db, "SELECT user_version FROM pragma_user_version", -1, &version, nullptr);
    bool still = version && sqlite3_step(version) == SQLITE_ROW && sqlite3_column_int(version, 0) == 1;
    sqlite3_finalize(version);
    if (!still) {
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        return {};
    }
    bool ok = sqlite3_exec(db,
                  "UPDATE key SET upper = CAST(char(0) || id AS BLOB); "
                  "UPDATE value SET upper = CAST(char(0) || position AS BLOB);",
                  nullptr, nullptr, nullptr)
            == SQLITE_OK
        && upgradeKeys(db, codePage) && upgradeValues(db, codePage)
        && sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(schemaVersion)).c_str(), nullptr, nullptr, nullptr)
            == SQLITE_OK
        && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok)
        return {};
    std::string problem = std::string("cannot bring the registry to version 2 (") + sqlite3_errmsg(db) + ")";
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return problem;
}

// units(name): how many UTF-16 units a stored name holds.
void countUnits(sqlite3_context* context, int, sqlite3_value** arguments)
{
    const void* blob = sqlite3_value_blob(arguments[0]);
    size_t size = static_cast<size_t>(sqlite3_value_bytes(arguments[0]));
    std::string text = blob ? std::string(static_cast<const char*>(blob), size) : std::string();
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(utf16Length(text)));
}

// Only our own tables, as we made them, are a registry: empty when they
// are, else what is wrong. A registry of version 1 is brought to this one
// first.
std::string schemaProblem(sqlite3* db, unsigned ansiCodePage)
{
    database::Identity identity = database::identify(db);
    std::string problem;
    if (!identity.readable) {
        problem = "not a registry database (" + identity.error + ")";
    } else if (identity.applicationId != applicationId) {
        problem = "not a registry database";
    } else if (identity.tables != database::joined(schema, sizeof schema / sizeof schema[0])) {
        problem = "its tables are not the registry's";
    } else if (identity.version != schemaVersion && identity.version != 1) {
        problem = "a registry of version " + std::to_string(identity.version) + ", not " + std::to_string(schemaVersion);
    }
    if (problem.empty() && identity.version == 1)
        problem = upgradeFromVersion1(db, ansiCodePage);
    return problem;
}

}

void corrupt(const std::string& problem)
{
    throw Failure { ERROR_REGISTRY_CORRUPT, problem };
}

std::unique_ptr<Database> Database::open(const std::string& file, bool create, unsigned ansiCodePage, std::string& error)
{
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    std::string opening;
    sqlite3* db = database::open(file, flags, busyTimeoutMs, opening);
    auto fail = [&](const std::string& problem) -> std::unique_ptr<Database> {
        error = file + ": " + problem;
        sqlite3_close(db);
        return nullptr;
    };
    if (!db)
        return fail(opening);
    sqlite3_create_function_v2(db, "units", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, countUnits, nullptr, nullptr, nullptr);
    // In WAL mode a commit is in the file system when it returns; a power
    // loss is what RegFlushKey guards against.
    if (sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(sqlite3_errmsg(db));
    std::string problem;
    if (create && !createTables(db, problem))
        return fail(problem);
    problem = schemaProblem(db, ansiCodePage);
    if (!problem.empty())
        return fail(problem);
    return std::unique_ptr<Database>(new Database(db, file));
}

Database::Database(sqlite3* db, std::string file)
    : m_db(db)
    , m_file(std::move(file))
    , m_statements(static_cast<size_t>(Sql::Count), nullptr)
{
}

Database::~Database()
{
    for (sqlite3_stmt* statement : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

sqlite3_stmt* Database::prepared(Sql sql)
{
    sqlite3_stmt*& statement = m_statements[static_cast<size_t>(sql)];
    if (!statement) {
        int rc = sqlite3_prepare_v3(m_db, sqlText[static_cast<size_t>(sql)], -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (rc != SQLITE_OK) {
            statement = nullptr;
            throw failure(rc);
        }
    }
    return statement;
}

int64_t Database::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int Database::changes() const
{
    return sqlite3_changes(m_db);
}

bool Database::inTransaction() const
{
    return !sqlite3_get_autocommit(m_db);
}

void Database::rollback()
{
    if (inTransaction())
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Failure Database::failure(int sqliteCode) const
{
    return Failure { errorOf(sqliteCode), sqlite3_errmsg(m_db) };
}

Statement::Statement(Database& db, Sql sql)
    : m_db(db)
    , m_statement(db.prepared(sql))
{
}

Statement::~Statement()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

Statement& Statement::bind(int64_t value)
{
    return check(sqlite3_bind_int64(m_statement, ++m_parameter, value));
}

Statement& Statement::bindText(const std::string& text)
{
    return check(sqlite3_bind_text(m_statement, ++m_parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
}

Statement& Statement::bindBlob(const void* data, size_t size)
{
    return check(sqlite3_bind_blob(m_statement, ++m_parameter, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT));
}

bool Statement::step()
{
    int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw m_db.failure(rc);
}

void Statement::run()
{
    while (step()) { }
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string Statement::bytes(int column) const
{
    const void* data = sqlite3_column_blob(m_statement, column);
    int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

Statement& Statement::check(int rc)
{
    if (rc != SQLITE_OK)
        throw m_db.failure(rc);
    return *this;
}

}
