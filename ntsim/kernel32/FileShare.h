// The machine's table of open files: every process's opens with their
// access and share modes, so that share modes hold across processes as
// they do on NT. Opens of processes that have ended are ignored.
#pragma once
#include <windows.h>

#include "machine/FileLock.h"

#include <cstdint>
#include <sys/stat.h>
#include <string>
#include <vector>

namespace ntsim {

struct FileId {
    uint64_t device { 0 };
    uint64_t inode { 0 };
    bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
};

struct OpenFile {
    int pid { 0 };
    uint64_t start { 0 }; // the process's start time, which tells it from a later one of its pid
    uint64_t serial { 0 };
    FileId id;
    DWORD access { 0 };
    DWORD share { 0 };
    bool deleteOnClose { false }; // the file goes when this open ends...
    bool deletePending { false }; // ...or when the last open of it ends
    bool image { false };         // the program file of a running process
    std::string hostPath;
};

// Holds the table's lock for its lifetime; changes are written by commit().
class FileShareTable {
public:
    FileShareTable();
    FileShareTable(const FileShareTable&) = delete;
    FileShareTable& operator=(const FileShareTable&) = delete;

    bool locked() const { return m_lock.held(); }

    // Whether an open with this access and share mode may coexist with the
    // file's existing opens (NT's share-access check). A running program's
    // image takes no part: NT's loader closes its handle once the image is
    // mapped, and the mapping guards the file instead (runsAsImage).
    bool allows(const FileId& id, DWORD access, DWORD share) const;
    bool deletePending(const FileId& id) const;
    // Open by a handle or as a running program's image: a pending delete waits for it.
    bool isOpen(const FileId& id) const;
    // A running program's image: it cannot be written (sharing violation)
    // nor deleted (access denied) while the program runs.
    bool runsAsImage(const FileId& id) const;
    // The start time of the running program pid, 0 when it is none.
    uint64_t programStart(int pid) const;

    void add(const OpenFile& open);
    // Ends an open; returns true if the file is to be deleted now.
    bool remove(int pid, uint64_t serial, OpenFile& removed);
    // Ends every open of a process that ends, its image among them; returns
    // the files to be deleted now.
    std::vector<OpenFile> removeProcess(int pid, uint64_t start);
    // Marks the file to go when its last open ends (DeleteFile of an open file).
    void markDeletePending(const FileId& id);
    void commit();

private:
    std::string m_path;
    FileLock m_lock;
    std::vector<OpenFile> m_opens;
};

// Deletes a file the table let go, if the path still names it.
void deleteIfSameFile(const std::string& hostPath, const FileId& id);
FileId fileIdOf(const struct stat& st);
uint64_t nextOpenSerial();

// The start time of a running program of the machine, 0 when pid is none.
uint64_t runningProgramStart(int pid);
// An open of this process, with its pid and start time filled in.
OpenFile openOfThisProcess();
// Records, as the process ends, that it holds nothing open any more.
void releaseProcessFiles();

}
