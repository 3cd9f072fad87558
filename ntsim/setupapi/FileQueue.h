// The file queue of one section install: deletes, renames and copies,
// committed in that order with the notifications of the caller's callback.
#pragma once
#include <setupapi.h>

#include <functional>
#include <string>
#include <vector>

namespace ntsim::setupapi {

struct CopyOperation {
    std::string sourceDir;   // full NT path
    std::string sourceFile;
    std::string targetDir;
    std::string targetFile;
    std::string description; // of the source disk, for the prompt
    std::string tagFile;
    DWORD style { 0 };       // SP_COPY_* flags
};

struct DeleteOperation {
    std::string targetDir;
    std::string targetFile;
};

struct RenameOperation {
    std::string dir;
    std::string oldName;
    std::string newName;
};

class FileQueue {
public:
    void copy(CopyOperation op) { m_copies.push_back(std::move(op)); }
    void remove(DeleteOperation op) { m_deletes.push_back(std::move(op)); }
    void rename(RenameOperation op) { m_renames.push_back(std::move(op)); }
    bool empty() const { return m_copies.empty() && m_deletes.empty() && m_renames.empty(); }
    const std::vector<CopyOperation>& copies() const { return m_copies; }

    // NO_ERROR, or the error the commit ended with (ERROR_CANCELLED when
    // the callback aborted without saying why).
    DWORD commit(HWND owner, PSP_FILE_CALLBACK_A callback, PVOID context);

private:
    // The notifications of one kind of file operation.
    struct FileNotifications {
        UINT operation; // FILEOP_*
        UINT start;
        UINT error;
        UINT end;
    };

    UINT notify(UINT notification, UINT_PTR param1, UINT_PTR param2);
    DWORD abortError() const;
    // Whether the callback's answer aborts the queue; keeps the error if so.
    bool stopsOn(UINT answer);
    // Runs `count` operations between the sub-queue's notifications; false
    // when the callback aborts.
    bool runSubqueue(UINT operation, size_t count, const std::function<bool(size_t)>& runOne);
    // Starts, attempts for as long as the callback asks for a retry, and ends one operation.
    bool runFileOperation(const FileNotifications& notes, FILEPATHS_A& paths, const std::function<BOOL()>& attempt);
    bool runDeletes();
    bool runRenames();
    bool runCopies();
    bool copyOne(const CopyOperation& op);

    std::vector<CopyOperation> m_copies;
    std::vector<DeleteOperation> m_deletes;
    std::vector<RenameOperation> m_renames;

    PSP_FILE_CALLBACK_A m_callback { nullptr };
    PVOID m_context { nullptr };
    DWORD m_error { NO_ERROR };
};

}
