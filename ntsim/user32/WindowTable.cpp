#include "WindowTable.h"

#include "machine/Process.h"
#include "machine/RunStore.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <map>

namespace ntsim::user32 {

namespace {

// The first handle of a machine; handles step by 4 as NT's do.
constexpr uint64_t firstHandle = 0x10010;

WindowEntry entryOfRow(const RunStore::Query& row)
{
    WindowEntry e;
    e.handle = static_cast<uint64_t>(row.integer(0));
    e.parent = static_cast<uint64_t>(row.integer(1));
    e.pid = static_cast<int>(row.integer(2));
    e.processStart = static_cast<uint64_t>(row.integer(3));
    e.tid = static_cast<int>(row.integer(4));
    e.title = row.text(5);
    e.className = row.text(6);
    return e;
}

void removeOwner(const RunStore::Transaction& transaction, const ProcessIdentity& owner)
{
    RunStore::Query(transaction, "DELETE FROM window_entry WHERE pid = ?1 AND start = ?2")
        .bind(owner.pid)
        .bind(static_cast<int64_t>(owner.start))
        .run();
}

// The entries whose owners still run: an owner is looked at once, and the
// entries of one that ended go.
std::vector<WindowEntry> living(const RunStore::Transaction& transaction, std::vector<WindowEntry> entries)
{
    std::map<ProcessIdentity, bool> running;
    std::vector<WindowEntry> out;
    for (auto& e : entries) {
        ProcessIdentity owner { e.pid, e.processStart };
        auto [it, inserted] = running.try_emplace(owner, false);
        if (inserted) {
            it->second = processRunning(owner);
            if (!it->second)
                removeOwner(transaction, owner);
        }
        if (it->second)
            out.push_back(std::move(e));
    }
    return out;
}

}

uint64_t WindowTable::newHandle()
{
    RunStore::Transaction transaction;
    RunStore::Query next(transaction, "INSERT INTO counter (name, value) VALUES ('window handle', ?1) "
                                      "ON CONFLICT (name) DO UPDATE SET value = value + 4 RETURNING value");
    next.bind(static_cast<int64_t>(firstHandle));
    return next.next() ? static_cast<uint64_t>(next.integer(0)) : firstHandle;
}

void WindowTable::add(const WindowEntry& entry)
{
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "INSERT OR REPLACE INTO window_entry (handle, added, parent, pid, start, tid, title, class) "
                                 "VALUES (?1, (SELECT coalesce(max(added), 0) + 1 FROM window_entry), ?2, ?3, ?4, ?5, ?6, ?7)")
        .bind(static_cast<int64_t>(entry.handle))
        .bind(static_cast<int64_t>(entry.parent))
        .bind(entry.pid)
        .bind(static_cast<int64_t>(entry.processStart))
        .bind(entry.tid)
        .bindBytes(entry.title)
        .bindBytes(entry.className)
        .run();
}

void WindowTable::remove(uint64_t handle)
{
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "DELETE FROM window_entry WHERE handle = ?1").bind(static_cast<int64_t>(handle)).run();
}

void WindowTable::removeProcess(int pid)
{
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "DELETE FROM window_entry WHERE pid = ?1").bind(pid).run();
}

void WindowTable::setTitle(uint64_t handle, const std::string& title)
{
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "UPDATE window_entry SET title = ?2 WHERE handle = ?1")
        .bind(static_cast<int64_t>(handle))
        .bindBytes(title)
        .run();
}

std::vector<WindowEntry> WindowTable::list()
{
    RunStore::Transaction transaction;
    std::vector<WindowEntry> entries;
    {
        RunStore::Query rows(transaction, "SELECT handle, parent, pid, start, tid, title, class FROM window_entry "
                                          "ORDER BY added DESC");
        while (rows.next())
            entries.push_back(entryOfRow(rows));
    }
    return living(transaction, std::move(entries));
}

std::optional<WindowEntry> WindowTable::find(uint64_t handle)
{
    RunStore::Transaction transaction;
    std::vector<WindowEntry> entries;
    {
        RunStore::Query row(transaction, "SELECT handle, parent, pid, start, tid, title, class FROM window_entry "
                                         "WHERE handle = ?1");
        row.bind(static_cast<int64_t>(handle));
        if (row.next())
            entries.push_back(entryOfRow(row));
    }
    entries = living(transaction, std::move(entries));
    if (entries.empty())
        return std::nullopt;
    return entries.front();
}

int currentThreadId()
{
    return static_cast<int>(syscall(SYS_gettid));
}

}
