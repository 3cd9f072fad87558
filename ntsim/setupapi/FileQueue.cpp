#include "FileQueue.h"

#include "InfFile.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <sys/stat.h>

#include <cstring>
#include <optional>

namespace ntsim::setupapi {

namespace {

bool hostExists(const std::string& ntPath)
{
    struct stat st;
    std::string host = Machine::current().hostPath(ntPath);
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file version of a PE image's version resource, if it has one.
std::optional<uint64_t> fileVersion(const std::string& ntPath)
{
    std::string host = Machine::current().hostPath(ntPath);
    FILE* f = fopen(host.c_str(), "rb");
    if (!f)
        return std::nullopt;
    char magic[2] = {};
    bool pe = fread(magic, 1, 2, f) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    fclose(f);
    if (!pe)
        return std::nullopt;
    HMODULE module = LoadLibraryExA(ntPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return std::nullopt;
    std::optional<uint64_t> version;
    if (HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(1), RT_VERSION)) {
        DWORD size = SizeofResource(module, info);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
        // VS_FIXEDFILEINFO begins with its signature, DWORD-aligned.
        for (DWORD off = 0; data && off + 16 <= size; off += 4) {
            uint32_t words[4];
            std::memcpy(words, data + off, sizeof words);
            if (words[0] == 0xFEEF04BD) {
                version = (static_cast<uint64_t>(words[2]) << 32) | words[3];
                break;
            }
        }
    }
    FreeLibrary(module);
    return version;
}

int64_t modifiedTime(const std::string& ntPath)
{
    struct stat st;
    if (stat(Machine::current().hostPath(ntPath).c_str(), &st) != 0)
        return 0;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Whether the target is newer than the source, by version resources when
// both have one, else by their times.
bool targetIsNewer(const std::string& source, const std::string& target)
{
    auto sourceVersion = fileVersion(source);
    auto targetVersion = fileVersion(target);
    if (sourceVersion && targetVersion)
        return *targetVersion > *sourceVersion;
    return modifiedTime(target) > modifiedTime(source);
}

bool makeNtDirectories(const std::string& dir)
{
    if (dir.size() <= 3 || GetFileAttributesA(dir.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    if (!makeNtDirectories(ntParent(dir)))
        return false;
    return CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}

UINT FileQueue::notify(UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    SetLastError(NO_ERROR);
    return m_callback(m_context, notification, param1, param2);
}

DWORD FileQueue::abortError() const
{
    DWORD error = GetLastError();
    return error != NO_ERROR ? error : ERROR_CANCELLED;
}

DWORD FileQueue::commit(HWND owner, PSP_FILE_CALLBACK_A callback, PVOID context)
{
    m_callback = callback;
    m_context = context;
    m_error = NO_ERROR;
    if (!callback)
        return ERROR_INVALID_PARAMETER;
    if (!notify(SPFILENOTIFY_STARTQUEUE, reinterpret_cast<UINT_PTR>(owner), 0))
        return abortError();
    bool ok = runDeletes() && runRenames() && runCopies();
    notify(SPFILENOTIFY_ENDQUEUE, ok ? TRUE : FALSE, 0);
    return ok ? NO_ERROR : m_error;
}

bool FileQueue::runDeletes()
{
    if (m_deletes.empty())
        return true;
    if (!notify(SPFILENOTIFY_STARTSUBQUEUE, FILEOP_DELETE, m_deletes.size())) {
        m_error = abortError();
        return false;
    }
    for (auto& op : m_deletes) {
        std::string target = joinNtPath(op.targetDir, op.targetFile);
        FILEPATHS_A paths { target.c_str(), nullptr, NO_ERROR, 0 };
        UINT answer = notify(SPFILENOTIFY_STARTDELETE, reinterpret_cast<UINT_PTR>(&paths), FILEOP_DELETE);
        if (answer == FILEOP_ABORT) {
            m_error = abortError();
            return false;
        }
        if (answer == FILEOP_SKIP)
            continue;
        for (;;) {
            if (DeleteFileA(target.c_str())) {
                paths.Win32Error = NO_ERROR;
                break;
            }
            paths.Win32Error = GetLastError();
            answer = notify(SPFILENOTIFY_DELETEERROR, reinterpret_cast<UINT_PTR>(&paths), 0);
            if (answer == FILEOP_ABORT) {
                m_error = abortError();
                return false;
            }
            if (answer != FILEOP_RETRY)
                break;
        }
        notify(SPFILENOTIFY_ENDDELETE, reinterpret_cast<UINT_PTR>(&paths), 0);
    }
    notify(SPFILENOTIFY_ENDSUBQUEUE, FILEOP_DELETE, 0);
    return true;
}

bool FileQueue::runRenames()
{
    if (m_renames.empty())
        return true;
    if (!notify(SPFILENOTIFY_STARTSUBQUEUE, FILEOP_RENAME, m_renames.size())) {
        m_error = abortError();
        return false;
    }
    for (auto& op : m_renames) {
        std::string from = joinNtPath(op.dir, op.oldName);
        std::string to = joinNtPath(op.dir, op.newName);
        FILEPATHS_A paths { to.c_str(), from.c_str(), NO_ERROR, 0 };
        UINT answer = notify(SPFILENOTIFY_STARTRENAME, reinterpret_cast<UINT_PTR>(&paths), FILEOP_RENAME);
        if (answer == FILEOP_ABORT) {
            m_error = abortError();
            return false;
        }
        if (answer == FILEOP_SKIP)
            continue;
        for (;;) {
            if (MoveFileA(from.c_str(), to.c_str())) {
                paths.Win32Error = NO_ERROR;
                break;
            }
            paths.Win32Error = GetLastError();
            answer = notify(SPFILENOTIFY_RENAMEERROR, reinterpret_cast<UINT_PTR>(&paths), 0);
            if (answer == FILEOP_ABORT) {
                m_error = abortError();
                return false;
            }
            if (answer != FILEOP_RETRY)
                break;
        }
        notify(SPFILENOTIFY_ENDRENAME, reinterpret_cast<UINT_PTR>(&paths), 0);
    }
    notify(SPFILENOTIFY_ENDSUBQUEUE, FILEOP_RENAME, 0);
    return true;
}

bool FileQueue::runCopies()
{
    if (m_copies.empty())
        return true;
    if (!notify(SPFILENOTIFY_STARTSUBQUEUE, FILEOP_COPY, m_copies.size())) {
        m_error = abortError();
        return false;
    }
    for (auto& op : m_copies)
        if (!copyOne(op))
            return false;
    notify(SPFILENOTIFY_ENDSUBQUEUE, FILEOP_COPY, 0);
    return true;
}

bool FileQueue::copyOne(const CopyOperation& op)
{
    std::string sourceDir = op.sourceDir;
    std::string source = joinNtPath(sourceDir, op.sourceFile);
    std::string target = joinNtPath(op.targetDir, op.targetFile);

    // The source is not there: ask for the media until it is, or the
    // callback gives up on the file or the whole queue.
    while (!hostExists(source)) {
        SOURCE_MEDIA_A media { nullptr, op.tagFile.c_str(), op.description.c_str(), sourceDir.c_str(),
            op.sourceFile.c_str(), op.style };
        char newPath[MAX_PATH] = {};
        UINT answer = notify(SPFILENOTIFY_NEEDMEDIA, reinterpret_cast<UINT_PTR>(&media), reinterpret_cast<UINT_PTR>(newPath));
        if (answer == FILEOP_ABORT) {
            m_error = abortError();
            return false;
        }
        if (answer == FILEOP_SKIP)
            return true;
        if (answer == FILEOP_NEWPATH && newPath[0]) {
            newPath[MAX_PATH - 1] = 0;
            sourceDir = newPath;
            source = joinNtPath(sourceDir, op.sourceFile);
        }
    }

    bool targetExists = hostExists(target);
    if (targetExists && (op.style & SP_COPY_NOOVERWRITE))
        return true;
    if (!targetExists && (op.style & SP_COPY_REPLACEONLY))
        return true;
    FILEPATHS_A paths { target.c_str(), source.c_str(), NO_ERROR, 0 };
    if (targetExists && (op.style & SP_COPY_NEWER) && targetIsNewer(source, target)) {
        // The callback decides whether an older file may replace a newer one.
        if (!notify(SPFILENOTIFY_TARGETNEWER, reinterpret_cast<UINT_PTR>(&paths), 0))
            return true;
    }

    UINT answer = notify(SPFILENOTIFY_STARTCOPY, reinterpret_cast<UINT_PTR>(&paths), FILEOP_COPY);
    if (answer == FILEOP_ABORT) {
        m_error = abortError();
        return false;
    }
    if (answer == FILEOP_SKIP)
        return true;
    std::string targetDir = op.targetDir;
    for (;;) {
        if (makeNtDirectories(targetDir) && CopyFileA(source.c_str(), target.c_str(), FALSE)) {
            paths.Win32Error = NO_ERROR;
            break;
        }
        paths.Win32Error = GetLastError();
        char newPath[MAX_PATH] = {};
        answer = notify(SPFILENOTIFY_COPYERROR, reinterpret_cast<UINT_PTR>(&paths), reinterpret_cast<UINT_PTR>(newPath));
        if (answer == FILEOP_ABORT) {
            m_error = abortError();
            return false;
        }
        if (answer == FILEOP_SKIP)
            break;
        if (answer == FILEOP_NEWPATH && newPath[0]) {
            newPath[MAX_PATH - 1] = 0;
            source = joinNtPath(newPath, op.sourceFile);
            paths.Source = source.c_str();
        }
    }
    notify(SPFILENOTIFY_ENDCOPY, reinterpret_cast<UINT_PTR>(&paths), 0);
    return true;
}

}
