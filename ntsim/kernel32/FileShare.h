// The machine's table of open files: every process's opens with their
// access and share modes, so that share modes hold across processes as
// they do on NT. The opens live in the run store; those a process left
// when it ended without closing them (killed) are let go when they next
// decide something: when the same file is opened, deleted or renamed.
#pragma once
#include <windows.h>

#include "machine/Process.h"
#include "machine/RunStore.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ntsim {

struct FileId {
    uint64_t device { 0 };
    uint64_t inode { 0 };
    bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
    bool operator<(const FileId& other) const { return device != other.device ? device < other.device : inode < other.inode; }
};

struct OpenFile {
    ProcessIdentity owner;
    uint64_t serial { 0 };
    FileId id;
    DWORD access { 0 };
    DWORD share { 0 };
    bool deleteOnClose { false }; // the file goes when this open ends...
    bool deletePending { false }; // ...or when the last open of it ends
    bool image { false };         // the program file of a running process
    std::string hostPath;
};

// Holds the run store's write lock for its lifetime.
class FileShareTable {
public:
    FileShareTable();
    FileShareTable(const FileShareTable&) = delete;
    FileShareTable& operator=(const FileShareTable&) = delete;

    const RunStore::Transaction& transaction() const { return m_transaction; }

    // Lets go of the file's opens that ended processes left; true if any
    // went (a file they were to delete may be gone now). The questions
    // below ask it first.
    bool settle(const FileId& id);

    // Whether an open with this access and share mode may coexist with the
    // file's existing opens (NT's share-access check). A running program's
    // image takes no part: NT's loader closes its handle once the image is
    // mapped, and the mapping guards the file instead (runsAsImage).
    bool allows(const FileId& id, DWORD access, DWORD share);
    bool deletePending(const FileId& id);
    // Open by a handle or as a running program's image: a pending delete waits for it.
    bool isOpen(const FileId& id);
    // A running program's image: it cannot be written (sharing violation)
    // nor deleted (access denied) while the program runs.
    bool runsAsImage(const FileId& id);
    // The start time of the running program pid, 0 when it is none.
    uint64_t programStart(int pid);

    void add(const OpenFile& open);
    // Ends an open; returns true if the file is to be deleted now.
    bool remove(const ProcessIdentity& owner, uint64_t serial, OpenFile& removed);
    // Marks the file to go when its last open ends (DeleteFile of an open file).
    void markDeletePending(const FileId& id);
    // Lets go of the opens of every process that has ended.
    void settleAll();

private:
    // The file's opens, settled first; rowsOf as they are stored. Both are
    // kept until the table changes them.
    const std::vector<OpenFile>& opensOf(const FileId& id);
    const std::vector<OpenFile>& rowsOf(const FileId& id);
    bool running(const ProcessIdentity& process);
    void forget(const ProcessIdentity& owner);

    RunStore::Transaction m_transaction;
    std::set<FileId> m_settled;
    std::map<FileId, std::vector<OpenFile>> m_rows;
    std::map<ProcessIdentity, bool> m_running;
};

// Ends every open of a process that ended, its image among them: a file
// it was to delete goes now unless another open holds it, which then
// deletes it as the last.
void releaseOpens(const RunStore::Transaction& transaction, const ProcessIdentity& process);

// Deletes a file the table let go, if the path still names it.
void deleteIfSameFile(const std::string& hostPath, const FileId& id);
FileId fileIdOf(const struct stat& st);
uint64_t nextOpenSerial();

// The start time of a running program of the machine, 0 when pid is none.
uint64_t runningProgramStart(int pid);
// An open of this process, with its owner filled in.
OpenFile openOfThisProcess();

}
