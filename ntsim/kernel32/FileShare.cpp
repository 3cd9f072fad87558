#include "FileShare.h"
#include "FilePath.h"

#include "machine/Machine.h"
#include "machine/Process.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <sstream>

namespace ntsim {

namespace {

std::string tableDir()
{
    std::string dir = Machine::current().runDir() + "/files";
    makeDirectories(dir);
    return dir;
}

// A zombie has ended for every purpose but its parent's wait; a later
// process of the same pid is another one.
bool processAlive(const OpenFile& open)
{
    return open.start != 0 && processStartTime(open.pid) == open.start;
}

bool readsData(DWORD access) { return access & (fileReadData | fileExecute); }
bool writesData(DWORD access) { return access & (fileWriteData | fileAppendData); }
bool deletes(DWORD access) { return access & DELETE; }
bool countsForSharing(DWORD access) { return readsData(access) || writesData(access) || deletes(access); }

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
    // A forked process is another one: the start time is looked up per pid.
    static std::mutex mutex;
    static int knownPid = 0;
    static uint64_t knownStart = 0;
    OpenFile open;
    open.pid = getpid();
    {
        std::lock_guard lock(mutex);
        if (knownPid != open.pid) {
            knownStart = processStartTime(open.pid);
            knownPid = open.pid;
        }
        open.start = knownStart;
    }
    open.serial = nextOpenSerial();
    return open;
}

uint64_t runningProgramStart(int pid)
{
    FileShareTable table;
    return table.programStart(pid);
}

void releaseProcessFiles()
{
    OpenFile self = openOfThisProcess();
    std::vector<OpenFile> doomed;
    {
        FileShareTable table;
        doomed = table.removeProcess(self.pid, self.start);
        table.commit();
    }
    for (auto& open : doomed)
        deleteIfSameFile(open.hostPath, open.id);
}

void deleteIfSameFile(const std::string& hostPath, const FileId& id)
{
    struct stat st;
    if (stat(hostPath.c_str(), &st) == 0 && fileIdOf(st) == id) {
        unlink(hostPath.c_str());
        noteHostChange(hostPath);
    }
}

FileShareTable::FileShareTable()
    : m_path(tableDir() + "/opens")
    , m_lock(tableDir() + "/opens.lock", FileLock::Mode::Exclusive)
{
    std::string text;
    if (!readLockedState(m_path, text))
        return;
    std::istringstream in(text);
    std::string line;
    std::vector<OpenFile> ended;
    bool changed = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        OpenFile open;
        int doc = 0, pending = 0, image = 0;
        fields >> open.pid >> open.start >> open.serial >> open.id.device >> open.id.inode >> open.access >> open.share
            >> doc >> pending >> image;
        if (!fields)
            continue;
        fields.get();
        std::getline(fields, open.hostPath);
        open.deleteOnClose = doc;
        open.deletePending = pending;
        open.image = image;
        if (processAlive(open)) {
            m_opens.push_back(open);
        } else {
            ended.push_back(open);
            changed = true;
        }
    }
    // A process that ended closed its handles: its delete-on-close files go
    // once nobody else has them open.
    for (auto& open : ended) {
        if ((open.deleteOnClose || open.deletePending) && !isOpen(open.id))
            deleteIfSameFile(open.hostPath, open.id);
        else if (open.deleteOnClose)
            markDeletePending(open.id);
    }
    if (changed)
        commit();
}

bool FileShareTable::allows(const FileId& id, DWORD access, DWORD share) const
{
    if (!countsForSharing(access))
        return true;
    for (auto& open : m_opens) {
        if (!(open.id == id) || open.image || !countsForSharing(open.access))
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

bool FileShareTable::deletePending(const FileId& id) const
{
    for (auto& open : m_opens)
        if (open.id == id && open.deletePending)
            return true;
    return false;
}

bool FileShareTable::isOpen(const FileId& id) const
{
    for (auto& open : m_opens)
        if (open.id == id)
            return true;
    return false;
}

uint64_t FileShareTable::programStart(int pid) const
{
    for (auto& open : m_opens)
        if (open.pid == pid && open.image)
            return open.start;
    return 0;
}

bool FileShareTable::runsAsImage(const FileId& id) const
{
    for (auto& open : m_opens)
        if (open.id == id && open.image)
            return true;
    return false;
}

void FileShareTable::add(const OpenFile& open)
{
    m_opens.push_back(open);
}

bool FileShareTable::remove(int pid, uint64_t serial, OpenFile& removed)
{
    for (auto it = m_opens.begin(); it != m_opens.end(); ++it) {
        if (it->pid != pid || it->serial != serial)
            continue;
        removed = *it;
        m_opens.erase(it);
        bool doomed = removed.deleteOnClose || removed.deletePending;
        if (!isOpen(removed.id))
            return doomed;
        if (removed.deleteOnClose)
            markDeletePending(removed.id);
        return false;
    }
    return false;
}

std::vector<OpenFile> FileShareTable::removeProcess(int pid, uint64_t start)
{
    std::vector<OpenFile> doomed;
    std::vector<OpenFile> ended;
    for (auto it = m_opens.begin(); it != m_opens.end();) {
        if (it->pid == pid && it->start == start) {
            ended.push_back(*it);
            it = m_opens.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& open : ended) {
        if (!(open.deleteOnClose || open.deletePending))
            continue;
        if (!isOpen(open.id))
            doomed.push_back(open);
        else if (open.deleteOnClose)
            markDeletePending(open.id);
    }
    return doomed;
}

void FileShareTable::markDeletePending(const FileId& id)
{
    for (auto& open : m_opens)
        if (open.id == id)
            open.deletePending = true;
}

void FileShareTable::commit()
{
    std::string text;
    for (auto& open : m_opens) {
        char head[200];
        std::snprintf(head, sizeof head, "%d %llu %llu %llu %llu %u %u %d %d %d ", open.pid,
            static_cast<unsigned long long>(open.start), static_cast<unsigned long long>(open.serial),
            static_cast<unsigned long long>(open.id.device), static_cast<unsigned long long>(open.id.inode),
            open.access, open.share, open.deleteOnClose ? 1 : 0, open.deletePending ? 1 : 0, open.image ? 1 : 0);
        text += head + open.hostPath + "\n";
    }
    writeLockedState(m_path, text);
}

}
