// What lives only while the machine is on, shared by its processes: one
// SQLite database, run/state.db, and one lock discipline. Every change is
// made inside a Transaction, which holds the database's one write lock
// from its start to its end; a Transaction begun while this thread is
// inside another joins it. The tables and who uses each are described in
// docs/run-state.md.
//
// The state is volatile: the database is kept in WAL mode without syncs
// (a commit is in the page cache, never forced to the disk), since a power
// loss ends the machine's processes and with them everything the store
// holds. A process killed in a transaction leaves the last commit whole.
//
// Besides the database the store keeps a word in a small shared file
// (run/state.wake) that a change others wait for bumps, so that a waiting
// process sleeps on it (a futex) instead of polling.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace ntsim {

class RunStore {
public:
    static constexpr const char* fileName = "state.db";
    static constexpr const char* wakeFileName = "state.wake";

    // The store of the run directory, made when it is missing. A file that
    // is not this store (another database, another version, unreadable) is
    // refused: null, with error naming the file and the problem.
    static std::unique_ptr<RunStore> open(const std::string& runDir, std::string& error);

    // The store of this process's machine, opened at its first use (anew
    // in a forked child). When it cannot be opened or fails later, the
    // process ends with status 70 and the file and the problem on standard
    // error: the machine's shared state cannot be trusted, and reading it
    // as empty would tell running drivers stopped and open files closed.
    static RunStore& current();
    // The same for the tool, which reports the problem itself: null and the error.
    static RunStore* tryCurrent(std::string& error);

    ~RunStore();
    RunStore(const RunStore&) = delete;
    RunStore& operator=(const RunStore&) = delete;

    const std::string& file() const { return m_file; }

    // Ends the process with the store's file and the problem named.
    [[noreturn]] void fail(const std::string& problem) const;

    class Transaction;
    class Query;

    // The count of changes others may wait for, and the wait for the next.
    uint32_t changes() const;
    // Sleeps until the count differs from seen or milliseconds pass.
    void awaitChange(uint32_t seen, int milliseconds) const;
    // Bumps the count and wakes every process waiting on it.
    void announceChange();

    // How long a transaction waits for another process's, at most.
    static constexpr int busyTimeoutMs = 30000;

private:
    RunStore(sqlite3* db, std::string file, int wakeFd, uint32_t* wake);
    sqlite3_stmt* prepared(const char* sql);
    void execute(const char* sql);
    void begin();
    void end();

    sqlite3* m_db;
    std::string m_file;
    int m_wakeFd;
    uint32_t* m_wake;
    // Statements by their text's address: each is a literal, prepared once.
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
    std::recursive_mutex m_mutex;
    int m_depth { 0 };
    bool m_announce { false };
};

// The store's write lock for a scope. Changes are committed when the
// outermost transaction of the thread ends.
class RunStore::Transaction {
public:
    explicit Transaction(RunStore& store = RunStore::current());
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    RunStore& store() const { return m_store; }
    // Wakes the waiting processes once the change is committed.
    void announceOnCommit() { m_store.m_announce = true; }

private:
    RunStore& m_store;
    int m_exceptions;
};

// One use of a statement inside a transaction: parameters bound from 1 in
// order, rows stepped through. The statement is prepared once per process
// and kept; sql must be a literal.
class RunStore::Query {
public:
    Query(const Transaction& transaction, const char* sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int64_t value);
    Query& bind(std::string_view text);
    // A blob: bytes as they are, for names the store must not read as text.
    Query& bindBytes(std::string_view bytes);

    // True while there is a row.
    bool next();
    // Runs a statement to its end.
    void run();

    int64_t integer(int column) const;
    std::string text(int column) const;

private:
    RunStore& m_store;
    sqlite3_stmt* m_statement;
    int m_parameter { 0 };
};

}
