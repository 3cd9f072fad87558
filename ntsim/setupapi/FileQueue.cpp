#include "FileQueue.h"

#include "InfFile.h"
#include "kernel32/Kernel32Calls.h"
#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <sys/stat.h>

#include <cstring>
#include <optional>

namespace ntsim::setupapi {

namespace {

HandleTable<std::shared_ptr<FileQueue>>& queues()
{
    static auto* table = new HandleTable<std::shared_ptr<FileQueue>>(0x5F000);
    return *table;
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
    HMODULE module = kernel32::loadLibrary(toAnsi(ntPath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
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

// A path a callback wrote into the buffer of Param2, in its form.
std::string pathFromBuffer(Charset charset, const void* buffer)
{
    if (charset == Charset::Ansi) {
        const char* text = static_cast<const char*>(buffer);
        return fromAnsi(std::string_view(text, strnlen(text, MAX_PATH - 1)));
    }
    const WCHAR* text = static_cast<const WCHAR*>(buffer);
    size_t length = 0;
    while (length < MAX_PATH - 1 && text[length])
        ++length;
    return fromWide(std::u16string_view(text, length));
}

// A buffer of MAX_PATH characters for a callback's new path.
struct PathBuffer {
    char ansi[MAX_PATH] = {};
    WCHAR wide[MAX_PATH] = {};
    void* in(Charset charset) { return charset == Charset::Ansi ? static_cast<void*>(ansi) : wide; }
};

}

QueueCallback QueueCallback::ansi(PSP_FILE_CALLBACK_A function, PVOID context)
{
    QueueCallback out;
    out.m_ansi = function;
    out.m_context = context;
    return out;
}

QueueCallback QueueCallback::wide(PSP_FILE_CALLBACK_W function, PVOID context)
{
    QueueCallback out;
    out.m_wide = function;
    out.m_context = context;
    return out;
}

UINT QueueCallback::send(UINT notification, UINT_PTR param1, UINT_PTR param2) const
{
    SetLastError(NO_ERROR);
    // The default callback is the platform's own code: called as such, it
    // spares the look-up of whose code a callback is, once a file.
    if (m_ansi == SetupDefaultQueueCallbackA || m_wide == SetupDefaultQueueCallbackW)
        return m_wide ? m_wide(m_context, notification, param1, param2)
                      : m_ansi(m_context, notification, param1, param2);
    if (m_wide)
        return ProgramCode::call(m_wide, m_context, notification, param1, param2);
    return ProgramCode::call(m_ansi, m_context, notification, param1, param2);
}

// A FILEPATHS record's texts, sent in the callback's form.
struct FileQueue::Paths {
    std::string target;
    std::optional<std::string> source;
    UINT win32Error { NO_ERROR };
};

namespace {

// Sends what a FILEPATHS record holds in the callback's form.
UINT sendPaths(const QueueCallback& callback, UINT notification, const std::string& target,
    const std::optional<std::string>& source, UINT error, UINT_PTR param2)
{
    if (callback.charset() == Charset::Ansi) {
        std::string t = toAnsi(target), s = source ? toAnsi(*source) : std::string();
        FILEPATHS_A paths { t.c_str(), source ? s.c_str() : nullptr, error, 0 };
        return callback.send(notification, reinterpret_cast<UINT_PTR>(&paths), param2);
    }
    std::u16string t = toWide(target), s = source ? toWide(*source) : std::u16string();
    FILEPATHS_W paths { t.c_str(), source ? s.c_str() : nullptr, error, 0 };
    return callback.send(notification, reinterpret_cast<UINT_PTR>(&paths), param2);
}

}

bool copyWanted(const CopyOperation& op, const std::string& source, const std::string& target,
    const QueueCallback* callback)
{
    bool targetExists = isFileOnMachine(target);
    if (!targetExists)
        return !(op.style & SP_COPY_REPLACEONLY);
    if (op.style & SP_COPY_FORCE_NOOVERWRITE)
        return false;
    auto ask = [&](UINT notification) {
        return callback && sendPaths(*callback, notification, target, source, NO_ERROR, 0) != FALSE;
    };
    if ((op.style & SP_COPY_NOOVERWRITE) && !ask(SPFILENOTIFY_TARGETEXISTS))
        return false;
    if (op.style & (SP_COPY_NEWER | SP_COPY_FORCE_NEWER)) {
        if (!targetIsNewer(source, target))
            return true;
        // The callback decides whether an older file may replace a newer one.
        if ((op.style & SP_COPY_FORCE_NEWER) || !ask(SPFILENOTIFY_TARGETNEWER))
            return false;
    }
    return true;
}

DWORD copyNow(const std::string& source, const std::string& target, DWORD style)
{
    std::string sourceAnsi = toAnsi(source), targetAnsi = toAnsi(target);
    if (!makeNtDirectories(toAnsi(ntParent(target))) || !kernel32::copyFile(sourceAnsi.c_str(), targetAnsi.c_str(), FALSE))
        return GetLastError();
    if (style & SP_COPY_DELETESOURCE)
        kernel32::deleteFile(sourceAnsi.c_str());
    return NO_ERROR;
}

UINT FileQueue::notify(UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    return m_callback.send(notification, param1, param2);
}

UINT FileQueue::notifyPaths(UINT notification, const Paths& paths, UINT_PTR param2)
{
    return sendPaths(m_callback, notification, paths.target, paths.source, paths.win32Error, param2);
}

DWORD FileQueue::abortError() const
{
    DWORD error = GetLastError();
    return error != NO_ERROR ? error : ERROR_CANCELLED;
}

DWORD FileQueue::commit(HWND owner, const QueueCallback& callback)
{
    m_callback = callback;
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

template<typename RunOne>
bool FileQueue::runSubqueue(UINT operation, size_t count, RunOne runOne)
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

template<typename Attempt>
bool FileQueue::runFileOperation(const FileNotifications& notes, Paths& paths, Attempt attempt)
{
    UINT answer = notifyPaths(notes.start, paths, notes.operation);
    if (stopsOn(answer))
        return false;
    if (answer == FILEOP_SKIP)
        return true;
    for (;;) {
        paths.win32Error = attempt();
        if (paths.win32Error == NO_ERROR)
            break;
        PathBuffer newPath;
        answer = notifyPaths(notes.error, paths, reinterpret_cast<UINT_PTR>(newPath.in(m_callback.charset())));
        if (stopsOn(answer))
            return false;
        if (answer == FILEOP_NEWPATH && notes.operation == FILEOP_COPY) {
            std::string dir = pathFromBuffer(m_callback.charset(), newPath.in(m_callback.charset()));
            if (!dir.empty())
                paths.source = joinNtPath(dir, paths.source->substr(fileNamePart(*paths.source)));
            continue;
        }
        if (answer != FILEOP_RETRY)
            break;
    }
    notifyPaths(notes.end, paths, 0);
    return true;
}

bool FileQueue::runDeletes()
{
    static constexpr FileNotifications notes { FILEOP_DELETE, SPFILENOTIFY_STARTDELETE, SPFILENOTIFY_DELETEERROR,
        SPFILENOTIFY_ENDDELETE };
    return runSubqueue(FILEOP_DELETE, m_deletes.size(), [this](size_t i) {
        Paths paths { joinNtPath(m_deletes[i].targetDir, m_deletes[i].targetFile), std::nullopt };
        return runFileOperation(notes, paths, [&]() -> DWORD {
            return kernel32::deleteFile(toAnsi(paths.target).c_str()) ? NO_ERROR : GetLastError();
        });
    });
}

bool FileQueue::runRenames()
{
    static constexpr FileNotifications notes { FILEOP_RENAME, SPFILENOTIFY_STARTRENAME, SPFILENOTIFY_RENAMEERROR,
        SPFILENOTIFY_ENDRENAME };
    return runSubqueue(FILEOP_RENAME, m_renames.size(), [this](size_t i) {
        const RenameOperation& op = m_renames[i];
        Paths paths { joinNtPath(op.targetDir, op.newName), joinNtPath(op.sourceDir, op.oldName) };
        return runFileOperation(notes, paths, [&]() -> DWORD {
            return kernel32::moveFile(toAnsi(*paths.source).c_str(), toAnsi(paths.target).c_str(), MOVEFILE_COPY_ALLOWED)
                ? NO_ERROR
                : GetLastError();
        });
    });
}

bool FileQueue::runCopies()
{
    return runSubqueue(FILEOP_COPY, m_copies.size(), [this](size_t i) { return copyOne(m_copies[i]); });
}

bool FileQueue::findSource(const CopyOperation& op, std::string& sourceDir, bool& skip)
{
    skip = false;
    // The source is not there: ask for the media until it is, or the
    // callback gives up on the file or the whole queue.
    while (!isFileOnMachine(joinNtPath(sourceDir, op.sourceFile))) {
        PathBuffer newPath;
        UINT answer;
        if (m_callback.charset() == Charset::Ansi) {
            std::string tag = toAnsi(op.tagFile), description = toAnsi(op.description), path = toAnsi(sourceDir),
                        file = toAnsi(op.sourceFile);
            SOURCE_MEDIA_A media { nullptr, tag.c_str(), description.c_str(), path.c_str(), file.c_str(), op.style };
            answer = notify(SPFILENOTIFY_NEEDMEDIA, reinterpret_cast<UINT_PTR>(&media), reinterpret_cast<UINT_PTR>(newPath.ansi));
        } else {
            std::u16string tag = toWide(op.tagFile), description = toWide(op.description), path = toWide(sourceDir),
                           file = toWide(op.sourceFile);
            SOURCE_MEDIA_W media { nullptr, tag.c_str(), description.c_str(), path.c_str(), file.c_str(), op.style };
            answer = notify(SPFILENOTIFY_NEEDMEDIA, reinterpret_cast<UINT_PTR>(&media), reinterpret_cast<UINT_PTR>(newPath.wide));
        }
        if (stopsOn(answer))
            return false;
        if (answer == FILEOP_SKIP) {
            skip = true;
            return true;
        }
        if (answer == FILEOP_NEWPATH) {
            std::string dir = pathFromBuffer(m_callback.charset(), newPath.in(m_callback.charset()));
            if (!dir.empty())
                sourceDir = dir;
        }
    }
    return true;
}

bool FileQueue::copyOne(const CopyOperation& op)
{
    std::string sourceDir = op.sourceDir;
    bool skip = false;
    if (!findSource(op, sourceDir, skip))
        return false;
    if (skip)
        return true;
    std::string source = joinNtPath(sourceDir, op.sourceFile);
    std::string target = joinNtPath(op.targetDir, op.targetFile);
    if (!copyWanted(op, source, target, &m_callback))
        return true;
    static constexpr FileNotifications notes { FILEOP_COPY, SPFILENOTIFY_STARTCOPY, SPFILENOTIFY_COPYERROR,
        SPFILENOTIFY_ENDCOPY };
    Paths paths { target, source };
    return runFileOperation(notes, paths, [&]() { return copyNow(*paths.source, paths.target, op.style); });
}

HSPFILEQ FileQueue::add(std::shared_ptr<FileQueue> queue)
{
    return reinterpret_cast<HSPFILEQ>(queues().insert(std::move(queue)));
}

std::shared_ptr<FileQueue> FileQueue::fromHandle(HSPFILEQ handle)
{
    return queues().find(reinterpret_cast<uintptr_t>(handle)).value_or(nullptr);
}

bool FileQueue::close(HSPFILEQ handle)
{
    return queues().take(reinterpret_cast<uintptr_t>(handle)).has_value();
}

}
