// File queues: deletes, renames and copies, committed in that order with
// the notifications of the caller's callback. SetupOpenFileQueue hands one
// to a program; a section install builds its own the same way.
#pragma once
#include "Text.h"

#include <setupapi.h>

#include <memory>
#include <string>
#include <vector>

namespace ntsim::setupapi {

// A queue callback in the form its caller gave it: what it is sent is built
// in that form, FILEPATHS_A or FILEPATHS_W and so on.
class QueueCallback {
public:
    QueueCallback() = default;
    static QueueCallback ansi(PSP_FILE_CALLBACK_A function, PVOID context);
    static QueueCallback wide(PSP_FILE_CALLBACK_W function, PVOID context);

    explicit operator bool() const { return m_ansi || m_wide; }
    Charset charset() const { return m_wide ? Charset::Wide : Charset::Ansi; }

    // Sends a notification whose parameters are already in the callback's
    // form, as code of the program unless the callback is the platform's.
    UINT send(UINT notification, UINT_PTR param1, UINT_PTR param2) const;

private:
    PSP_FILE_CALLBACK_A m_ansi { nullptr };
    PSP_FILE_CALLBACK_W m_wide { nullptr };
    PVOID m_context { nullptr };
};

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
    std::string sourceDir;
    std::string oldName;
    std::string targetDir;
    std::string newName;
};

// Whether a copy goes ahead once its source is found: the target checks
// its style asks for, the callback asked where the style says so (without
// one, the target is kept). False leaves the target as it is.
bool copyWanted(const CopyOperation& op, const std::string& source, const std::string& target,
    const QueueCallback* callback);
// Copies a file as a queue does: the target's directories made, the
// source deleted after when the style asks. NO_ERROR or the copy's error.
DWORD copyNow(const std::string& source, const std::string& target, DWORD style);

class FileQueue {
public:
    void copy(CopyOperation op) { m_copies.push_back(std::move(op)); }
    void remove(DeleteOperation op) { m_deletes.push_back(std::move(op)); }
    void rename(RenameOperation op) { m_renames.push_back(std::move(op)); }
    bool empty() const { return m_copies.empty() && m_deletes.empty() && m_renames.empty(); }
    const std::vector<CopyOperation>& copies() const { return m_copies; }

    // NO_ERROR, or the error the commit ended with (ERROR_CANCELLED when
    // the callback aborted without saying why).
    DWORD commit(HWND owner, const QueueCallback& callback);

    // The handle table of the queues programs open.
    static HSPFILEQ add(std::shared_ptr<FileQueue> queue);
    static std::shared_ptr<FileQueue> fromHandle(HSPFILEQ handle);
    static bool close(HSPFILEQ handle);

private:
    // The notifications of one kind of file operation.
    struct FileNotifications {
        UINT operation; // FILEOP_*
        UINT start;
        UINT error;
        UINT end;
    };
    struct Paths;

    UINT notify(UINT notification, UINT_PTR param1, UINT_PTR param2);
    UINT notifyPaths(UINT notification, const Paths& paths, UINT_PTR param2);
    DWORD abortError() const;
    // Whether the callback's answer aborts the queue; keeps the error if so.
    bool stopsOn(UINT answer);
    // Runs `count` operations between the sub-queue's notifications; false
    // when the callback aborts.
    template<typename RunOne>
    bool runSubqueue(UINT operation, size_t count, RunOne runOne);
    // Starts, attempts for as long as the callback asks for a retry, and
    // ends one operation.
    template<typename Attempt>
    bool runFileOperation(const FileNotifications& notes, Paths& paths, Attempt attempt);
    bool runDeletes();
    bool runRenames();
    bool runCopies();
    bool copyOne(const CopyOperation& op);
    // Asks the callback for a source that is not there; false when it
    // aborts, with skip set when it gives the file up.
    bool findSource(const CopyOperation& op, std::string& sourceDir, bool& skip);

    std::vector<CopyOperation> m_copies;
    std::vector<DeleteOperation> m_deletes;
    std::vector<RenameOperation> m_renames;

    QueueCallback m_callback;
    DWORD m_error { NO_ERROR };
};

}
