#include "FileQueue.h"

#include "InfFile.h"
#include "kernel32/Kernel32Calls.h"
#include "machine/ApiCall.h"
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
    HMODULE module = kernel32::loadLibrary(ntPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return std::nullopt;
    std::optional<uint64_t> version;
    if (HRSRC info = kernel32::findResource(module, RT_VERSION, MAKEINTRESOURCEA(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL))) {
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
    return kernel32::createDirectory(dir.c_str()) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}

UINT FileQueue::notify(UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    SetLastError(NO_ERROR);
    return ProgramCode::call(m_callback, m_context, notification, param1, param2);
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

bool FileQueue::stopsOn(UINT answer)
{
    if (answer != FILEOP_ABORT)
        return false;
    m_error = abortError();
    return true;
}

bool FileQueue::runSubqueue(UINT operation, size_t count, const std::function<bool(size_t)>& runOne)
{
    if (count == 0)
        return true;
    if (!notify(SPFILENOTIFY_STARTSUBQUEUE, operation, count)) {
        m_error = abortError();
        return false;
    }
    for (size_t i = 0; i < count; ++i)
        if (!runOne(i))
            return false;
    notify(SPFILENOTIFY_ENDSUBQUEUE, operation, 0);
    return true;
}

bool FileQueue::runFileOperation(const FileNotifications& notes, FILEPATHS_A& paths, const std::function<BOOL()>& attempt)
{
    UINT answer = notify(notes.start, reinterpret_cast<UINT_PTR>(&paths), notes.operation);
    if (stopsOn(answer))
        return false;
    if (answer == FILEOP_SKIP)
        return true;
    for (;;) {
        if (attempt()) {
            paths.Win32Error = NO_ERROR;
            break;
        }
        paths.Win32Error = GetLastError();
        answer = notify(notes.error, reinterpret_cast<UINT_PTR>(&paths), 0);
        if (stopsOn(answer))
            return false;
        if (answer != FILEOP_RETRY)
            break;
    }
    notify(notes.end, reinterpret_cast<UINT_PTR>(&paths), 0);
    return true;
}

bool FileQueue::runDeletes()
{
    static constexpr FileNotifications notes { FILEOP_DELETE, SPFILENOTIFY_STARTDELETE, SPFILENOTIFY_DELETEERROR,
        SPFILENOTIFY_ENDDELETE };
    return runSubqueue(FILEOP_DELETE, m_deletes.size(), [this](size_t i) {
        std::string target = joinNtPath(m_deletes[i].targetDir, m_deletes[i].targetFile);
        FILEPATHS_A paths { target.c_str(), nullptr, NO_ERROR, 0 };
        return runFileOperation(notes, paths, [&] { return kernel32::deleteFile(target.c_str()); });
    });
}

bool FileQueue::runRenames()
{
    static constexpr FileNotifications notes { FILEOP_RENAME, SPFILENOTIFY_STARTRENAME, SPFILENOTIFY_RENAMEERROR,
        SPFILENOTIFY_ENDRENAME };
    return runSubqueue(FILEOP_RENAME, m_renames.size(), [this](size_t i) {
        const RenameOperation& op = m_renames[i];
        std::string from = joinNtPath(op.dir, op.oldName);
        std::string to = joinNtPath(op.dir, op.newName);
        FILEPATHS_A paths { to.c_str(), from.c_str(), NO_ERROR, 0 };
        return runFileOperation(notes, paths, [&] { return kernel32::moveFile(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED); });
    });
}

bool FileQueue::runCopies()
{
    return runSubqueue(FILEOP_COPY, m_copies.size(), [this](size_t i) { return copyOne(m_copies[i]); });
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
        if (stopsOn(answer))
            return false;
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
    if (stopsOn(answer))
        return false;
    if (answer == FILEOP_SKIP)
        return true;
    std::string targetDir = op.targetDir;
    for (;;) {
        if (makeNtDirectories(targetDir) && kernel32::copyFile(source.c_str(), target.c_str(), FALSE)) {
            paths.Win32Error = NO_ERROR;
            break;
        }
        paths.Win32Error = GetLastError();
        char newPath[MAX_PATH] = {};
        answer = notify(SPFILENOTIFY_COPYERROR, reinterpret_cast<UINT_PTR>(&paths), reinterpret_cast<UINT_PTR>(newPath));
        if (stopsOn(answer))
            return false;
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
