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
    uint64_t serial { 0 };
    FileId id;
    DWORD access { 0 };
    DWORD share { 0 };
    bool deleteOnClose { false }; // the file goes when this open ends...
    bool deletePending { false }; // ...or when the last open of it ends
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
    // file's existing opens (NT's share-access check).
    bool allows(const FileId& id, DWORD access, DWORD share) const;
    bool deletePending(const FileId& id) const;
    bool isOpen(const FileId& id) const;

    void add(const OpenFile& open);
    // Ends an open; returns true if the file is to be deleted now.
    bool remove(int pid, uint64_t serial, OpenFile& removed);
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

}
