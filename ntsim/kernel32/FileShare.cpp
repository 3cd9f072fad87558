#include "FileShare.h"
#include "FilePath.h"
#include "ProcessEnd.h"

#include "machine/Machine.h"

#include <unistd.h>

#include <atomic>
#include <optional>

namespace ntsim {

namespace {

bool readsData(DWORD access) { return access & (fileReadData | fileExecute); }
bool writesData(DWORD access) { return access & (fileWriteData | fileAppendData); }
bool deletes(DWORD access) { return access & DELETE; }
bool countsForSharing(DWORD access) { return readsData(access) || writesData(access) || deletes(access); }

OpenFile openOfRow(const RunStore::Query& row)
{
    OpenFile open;
    open.owner = { static_cast<int>(row.integer(0)), static_cast<uint64_t>(row.integer(1)) };
    open.serial = static_cast<uint64_t>(row.integer(2));
    open.id = { static_cast<uint64_t>(row.integer(3)), static_cast<uint64_t>(row.integer(4)) };
    open.access = static_cast<DWORD>(row.integer(5));
    open.share = static_cast<DWORD>(row.integer(6));
    open.deleteOnClose = row.integer(7);
    open.deletePending = row.integer(8);
    open.image = row.integer(9);
    open.hostPath = row.text(10);
    return open;
}

bool anyOpen(const RunStore::Transaction& transaction, const FileId& id)
{
    RunStore::Query open(transaction, "SELECT 1 FROM open_file WHERE device = ?1 AND inode = ?2 LIMIT 1");
    open.bind(static_cast<int64_t>(id.device)).bind(static_cast<int64_t>(id.inode));
    return open.next();
}

void markPending(const RunStore::Transaction& transaction, const FileId& id)
{
    RunStore::Query(transaction, "UPDATE open_file SET delete_pending = 1 WHERE device = ?1 AND inode = ?2")
        .bind(static_cast<int64_t>(id.device))
        .bind(static_cast<int64_t>(id.inode))
        .run();
}

// After an open ended: whether its file goes now (nobody else has it
// open), else a delete-on-close passes to the opens that remain.
bool endsFile(const RunStore::Transaction& transaction, const OpenFile& ended)
{
    bool doomed = ended.deleteOnClose || ended.deletePending;
    if (!anyOpen(transaction, ended.id))
        return doomed;
    if (ended.deleteOnClose)
        markPending(transaction, ended.id);
    return false;
}

}

FileId fileIdOf(const struct stat& st)
{
    return { static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino) };
}

uint64_t nextOpenSerial()
{
    static std::atomic<uint64_t> serial { 1 };
    return serial++;
}

OpenFile openOfThisProcess()
{
    OpenFile open;
    open.owner = thisProcess();
    open.serial = nextOpenSerial();
    return open;
}

uint64_t runningProgramStart(int pid)
{
    FileShareTable table;
    return table.programStart(pid);
}

void deleteIfSameFile(const std::string& hostPath, const FileId& id)
{
    struct stat st;
    if (stat(hostPath.c_str(), &st) == 0 && fileIdOf(st) == id) {
        unlink(hostPath.c_str());
        noteHostChange(hostPath);
    }
}

void releaseOpens(const RunStore::Transaction& transaction, const ProcessIdentity& process)
{
    std::vector<OpenFile> ended;
    {
        RunStore::Query rows(transaction, "DELETE FROM open_file WHERE pid = ?1 AND start = ?2 RETURNING "
                                          "pid, start, serial, device, inode, access, share, delete_on_close, "
                                          "delete_pending, image, path");
        rows.bind(process.pid).bind(static_cast<int64_t>(process.start));
        while (rows.next())
            ended.push_back(openOfRow(rows));
    }
    for (auto& open : ended)
        if (endsFile(transaction, open))
            deleteIfSameFile(open.hostPath, open.id);
}

FileShareTable::FileShareTable() = default;

bool FileShareTable::running(const ProcessIdentity& process)
{
    auto [it, inserted] = m_running.try_emplace(process, false);
    if (inserted)
        it->second = processRunning(process);
    return it->second;
}

const std::vector<OpenFile>& FileShareTable::opensOf(const FileId& id)
{
    settle(id);
    return rowsOf(id);
}

const std::vector<OpenFile>& FileShareTable::rowsOf(const FileId& id)
{
    auto [it, inserted] = m_rows.try_emplace(id);
    if (!inserted)
        return it->second;
    RunStore::Query rows(m_transaction, "SELECT pid, start, serial, device, inode, access, share, delete_on_close, "
                                        "delete_pending, image, path FROM open_file WHERE device = ?1 AND inode = ?2");
    rows.bind(static_cast<int64_t>(id.device)).bind(static_cast<int64_t>(id.inode));
    while (rows.next())
        it->second.push_back(openOfRow(rows));
    return it->second;
}

bool FileShareTable::settle(const FileId& id)
{
    if (!m_settled.insert(id).second)
        return false;
    std::set<ProcessIdentity> owners;
    for (auto& open : rowsOf(id))
        owners.insert(open.owner);
    bool released = false;
    for (auto& owner : owners) {
        if (running(owner))
            continue;
        forget(owner);
        released = true;
    }
    return released;
}

void FileShareTable::forget(const ProcessIdentity& owner)
{
    forgetProcess(m_transaction, owner);
    m_rows.clear();
}

void FileShareTable::settleAll()
{
    std::set<ProcessIdentity> owners;
    {
        RunStore::Query rows(m_transaction, "SELECT DISTINCT pid, start FROM open_file");
        while (rows.next())
            owners.insert({ static_cast<int>(rows.integer(0)), static_cast<uint64_t>(rows.integer(1)) });
    }
    for (auto& owner : owners)
        if (!running(owner))
            forget(owner);
}

bool FileShareTable::allows(const FileId& id, DWORD access, DWORD share)
{
    if (!countsForSharing(access))
        return true;
    for (auto& open : opensOf(id)) {
        if (open.image || !countsForSharing(open.access))
            continue;
        if ((readsData(access) && !(open.share & FILE_SHARE_READ))
            || (writesData(access) && !(open.share & FILE_SHARE_WRITE))
            || (deletes(access) && !(open.share & FILE_SHARE_DELETE))
            || (readsData(open.access) && !(share & FILE_SHARE_READ))
            || (writesData(open.access) && !(share & FILE_SHARE_WRITE))
            || (deletes(open.access) && !(share & FILE_SHARE_DELETE)))
            return false;
    }
    return true;
}

bool FileShareTable::deletePending(const FileId& id)
{
    for (auto& open : opensOf(id))
        if (open.deletePending)
            return true;
    return false;
}

bool FileShareTable::isOpen(const FileId& id)
{
    return !opensOf(id).empty();
}

bool FileShareTable::runsAsImage(const FileId& id)
{
    for (auto& open : opensOf(id))
        if (open.image)
            return true;
    return false;
}

uint64_t FileShareTable::programStart(int pid)
{
    std::optional<ProcessIdentity> program;
    {
        RunStore::Query image(m_transaction, "SELECT start FROM open_file WHERE pid = ?1 AND image = 1 LIMIT 1");
        image.bind(pid);
        if (image.next())
            program = ProcessIdentity { pid, static_cast<uint64_t>(image.integer(0)) };
    }
    if (!program)
        return 0;
    if (running(*program))
        return program->start;
    forget(*program);
    return 0;
}

void FileShareTable::add(const OpenFile& open)
{
    m_rows.erase(open.id);
    RunStore::Query(m_transaction, "INSERT INTO open_file (pid, start, serial, device, inode, access, share, "
                                   "delete_on_close, delete_pending, image, path) "
                                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)")
        .bind(open.owner.pid)
        .bind(static_cast<int64_t>(open.owner.start))
        .bind(static_cast<int64_t>(open.serial))
        .bind(static_cast<int64_t>(open.id.device))
        .bind(static_cast<int64_t>(open.id.inode))
        .bind(open.access)
        .bind(open.share)
        .bind(open.deleteOnClose)
        .bind(open.deletePending)
        .bind(open.image)
        .bindBytes(open.hostPath)
        .run();
}

bool FileShareTable::remove(const ProcessIdentity& owner, uint64_t serial, OpenFile& removed)
{
    m_rows.clear();
    {
        RunStore::Query row(m_transaction, "DELETE FROM open_file WHERE pid = ?1 AND start = ?2 AND serial = ?3 "
                                           "RETURNING pid, start, serial, device, inode, access, share, "
                                           "delete_on_close, delete_pending, image, path");
        row.bind(owner.pid).bind(static_cast<int64_t>(owner.start)).bind(static_cast<int64_t>(serial));
        if (!row.next())
            return false;
        removed = openOfRow(row);
    }
    return endsFile(m_transaction, removed);
}

void FileShareTable::markDeletePending(const FileId& id)
{
    m_rows.erase(id);
    markPending(m_transaction, id);
}

}
