// The registry's SQLite database, registry/registry.db in WAL mode: its
// tables, the statements the store runs on them, and the checks that a
// file handed in is one of our registries before anything reads it.
//
// Keys and values are rows of two tables, indexed for the lookups the
// calls make: a key by its parent and upper-cased name (which is also NT's
// enumeration order), a key's values in the order they were first set.
// Each key carries its security descriptor as SDDL. A database is machine
// state a person may have handed in: its schema may hold nothing that runs,
// and a row that cannot be read is reported, never taken as something else.
#pragma once
#include <windows.h>

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ntsim::registry {

// What a failed statement or an unreadable row makes the call return.
struct Failure {
    LONG code;
    std::string problem;
};

// Throws the failure of a row that no registry of ours would hold.
[[noreturn]] void corrupt(const std::string& problem);

// The statements the store runs, each prepared once per process.
enum class Sql : unsigned {
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

class Database {
public:
    // Opens a registry database, or creates the empty one of a new machine
    // (the two roots alone); null with the error told, naming the file. The
    // machine's ANSI code page reads a registry of the first version.
    static std::unique_ptr<Database> open(const std::string& file, bool create, unsigned ansiCodePage, std::string& error);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::string& file() const { return m_file; }
    sqlite3_stmt* prepared(Sql sql);
    int64_t lastInsertId() const;
    int changes() const;
    bool inTransaction() const;
    // Ends an open transaction whatever state its statements left.
    void rollback();
    // A failure of the last statement, as the call reports it.
    Failure failure(int sqliteCode) const;

    // How long a call waits for another process's write transaction.
    static constexpr int busyTimeoutMs = 10000;

private:
    Database(sqlite3* db, std::string file);

    sqlite3* m_db;
    std::string m_file;
    std::vector<sqlite3_stmt*> m_statements;
};

// One use of a prepared statement: its parameters, its rows, its reset.
class Statement {
public:
    Statement(Database& db, Sql sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int64_t value);
    Statement& bindText(const std::string& text);
    // A non-null pointer keeps an empty blob from becoming NULL.
    Statement& bindBlob(const void* data, size_t size);
    Statement& bindBlob(const std::string& bytes) { return bindBlob(bytes.data(), bytes.size()); }

    // True while there is a row.
    bool step();
    void run();

    int64_t integer(int column) const;
    std::string bytes(int column) const;

private:
    Statement& check(int rc);

    Database& m_db;
    sqlite3_stmt* m_statement;
    int m_parameter { 0 };
};

}
