// CreateFileA and the calls on an open file.
#include "File.h"
#include "FilePath.h"
#include "Kernel32Calls.h"

#include "machine/ApiCall.h"
#include "machine/Machine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ntsim {

File::File(int fd, std::string hostPath, DWORD access, const FileId& id, uint64_t serial)
    : KernelObject(Type::File)
    , m_fd(fd)
    , m_hostPath(std::move(hostPath))
    , m_access(access)
    , m_id(id)
    , m_serial(serial)
{
}

std::string File::traceName() const
{
    return Machine::current().ntPath(m_hostPath);
}

File::~File()
{
    ::close(m_fd);
    FileShareTable table;
    OpenFile removed;
    if (table.remove(thisProcess(), m_serial, removed))
        deleteIfSameFile(removed.hostPath, removed.id);
}

}

namespace {

using ntsim::File;

constexpr DWORD backupSemantics = 0x02000000; // FILE_FLAG_BACKUP_SEMANTICS

std::shared_ptr<File> fileOf(HANDLE handle)
{
    auto file = ntsim::lookupHandleOf<File>(handle, ntsim::KernelObject::Type::File);
    if (!file)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

// The file of a handle opened with one of `access`, or null with the last error set.
std::shared_ptr<File> fileWith(HANDLE handle, DWORD access)
{
    auto file = fileOf(handle);
    if (file && !(file->access() & access)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return file;
}

// The file a read or write goes to, or null with the last error set. The
// count is cleared first, so that it is zero whenever the call fails here.
std::shared_ptr<File> transferFile(HANDLE handle, LPDWORD count, LPOVERLAPPED overlapped, DWORD access, DWORD bytes,
    const void* buffer)
{
    if (count)
        *count = 0;
    auto file = fileOf(handle);
    if (!file)
        return nullptr;
    DWORD error = NO_ERROR;
    if (overlapped)
        error = ERROR_NOT_SUPPORTED;
    else if (!(file->access() & access))
        error = ERROR_ACCESS_DENIED;
    else if (bytes && !buffer)
        error = ERROR_INVALID_PARAMETER;
    if (error == NO_ERROR)
        return file;
    SetLastError(error);
    return nullptr;
}

HANDLE failWith(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

DWORD errorOfErrno(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_GEN_FAILURE;
    }
}

// A host call's 0 as TRUE, else FALSE with the NT error of errno.
BOOL hostResult(int result)
{
    if (result == 0)
        return TRUE;
    SetLastError(errorOfErrno(errno));
    return FALSE;
}

}

HANDLE ntsim::kernel32::createFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
    DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes)
{
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING
        || (dwShareMode & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        || (dwCreationDisposition == TRUNCATE_EXISTING && !(dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL))))
        return failWith(ERROR_INVALID_PARAMETER);
    ntsim::ResolvedPath path;
    if (!ntsim::resolvePath(lpFileName, path))
        return INVALID_HANDLE_VALUE;

    DWORD access = ntsim::mapFileAccess(dwDesiredAccess);
    bool deleteOnClose = dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE;
    if (deleteOnClose)
        access |= DELETE;
    bool truncates = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    bool wantsWrite = access & (ntsim::fileWriteData | ntsim::fileAppendData | DELETE);

    ntsim::FileShareTable table;
    struct stat st;
    bool existed = stat(path.host.c_str(), &st) == 0;
    // Opens that ended processes left may have held the file for deletion.
    if (existed && table.settle(ntsim::fileIdOf(st)))
        existed = stat(path.host.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode) && !(dwFlagsAndAttributes & backupSemantics))
            return failWith(ERROR_ACCESS_DENIED);
        if (dwCreationDisposition == CREATE_NEW)
            return failWith(ERROR_FILE_EXISTS);
        if (!ntsim::hostWritable(st) && !S_ISDIR(st.st_mode) && (wantsWrite || truncates))
            return failWith(ERROR_ACCESS_DENIED);
        if (table.deletePending(ntsim::fileIdOf(st)))
            return failWith(ERROR_ACCESS_DENIED);
        // A running program's image: NT's file systems refuse to delete it
        // and to write it (the image section cannot be flushed).
        if (table.runsAsImage(ntsim::fileIdOf(st))) {
            if (deleteOnClose)
                return failWith(ERROR_ACCESS_DENIED);
            if ((access & (ntsim::fileWriteData | ntsim::fileAppendData)) || truncates)
                return failWith(ERROR_SHARING_VIOLATION);
        }
    } else {
        if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
            return failWith(ntsim::missingFileError(path.host));
        DWORD missing = ntsim::missingFileError(path.host);
        if (missing == ERROR_PATH_NOT_FOUND)
            return failWith(missing);
        if (!ntsim::parentWritable(path.host))
            return failWith(ERROR_ACCESS_DENIED);
    }

    bool reads = access & (ntsim::fileReadData | ntsim::fileExecute);
    bool writes = access & (ntsim::fileWriteData | ntsim::fileAppendData);
    int flags = O_CLOEXEC | (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY);
    if (existed && S_ISDIR(st.st_mode))
        flags = O_CLOEXEC | O_RDONLY | O_DIRECTORY;
    else if (!existed)
        flags |= O_CREAT | O_EXCL;
    int fd = ::open(path.host.c_str(), flags, 0644);
    if (fd < 0)
        return failWith(errorOfErrno(errno));
    if (!existed)
        ntsim::noteHostChange(path.host);
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return failWith(ERROR_GEN_FAILURE);
    }
    ntsim::FileId id = ntsim::fileIdOf(st);
    if (!table.allows(id, access, dwShareMode)) {
        ::close(fd);
        if (!existed) {
            ::unlink(path.host.c_str());
            ntsim::noteHostChange(path.host);
        }
        return failWith(ERROR_SHARING_VIOLATION);
    }
    if (existed && truncates && ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        return failWith(errorOfErrno(error));
    }
    // The creating handle may still write a file it creates read-only.
    if (!existed && (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY))
        fchmod(fd, 0444);

    ntsim::OpenFile open = ntsim::openOfThisProcess();
    open.id = id;
    open.access = access;
    open.share = dwShareMode;
    open.deleteOnClose = deleteOnClose;
    open.hostPath = path.host;
    table.add(open);
    HANDLE handle = ntsim::insertHandle(std::make_shared<File>(fd, path.host, access, id, open.serial));
    bool reportsExisting = existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    ntsim::ApiCall call("CreateFileA", lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
    if (auto fault = call.fault())
        return call.returns(failWith(*fault));
    return call.returns(ntsim::kernel32::createFile(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
        dwFlagsAndAttributes));
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
    LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped)
{
    ntsim::ApiCall call("ReadFile", hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    if (call.faulted())
        return call.returns(FALSE);
    auto file = transferFile(hFile, lpNumberOfBytesRead, lpOverlapped, ntsim::fileReadData, nNumberOfBytesToRead, lpBuffer);
    if (!file)
        return call.returns(FALSE);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t n = pread(file->fd(), static_cast<char*>(lpBuffer) + done, nNumberOfBytesToRead - done, file->position());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastError(errorOfErrno(errno));
            return call.returns(FALSE);
        }
        if (n == 0)
            break;
        done += static_cast<DWORD>(n);
        file->setPosition(file->position() + n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    return call.returns(TRUE);
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
    LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped)
{
    ntsim::ApiCall call("WriteFile", hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    auto file = transferFile(hFile, lpNumberOfBytesWritten, lpOverlapped, ntsim::fileWriteData | ntsim::fileAppendData,
        nNumberOfBytesToWrite, lpBuffer);
    if (!file)
        return call.returns(FALSE);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(FALSE);
    }
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = pwrite(file->fd(), static_cast<const char*>(lpBuffer) + done, nNumberOfBytesToWrite - done, file->position());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = done;
            SetLastError(errorOfErrno(errno));
            return call.returns(FALSE);
        }
        done += static_cast<DWORD>(n);
        file->setPosition(file->position() + n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return call.returns(TRUE);
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod)
{
    ntsim::ApiCall call("SetFilePointer", hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
    if (call.faulted())
        return call.returns(DWORD(INVALID_SET_FILE_POINTER));
    auto file = fileOf(hFile);
    if (!file)
        return call.returns(INVALID_SET_FILE_POINTER);
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
        distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32)
            | static_cast<uint32_t>(lDistanceToMove));
    int64_t base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT:
        base = file->position();
        break;
    case FILE_END: {
        struct stat st;
        if (fstat(file->fd(), &st) != 0) {
            SetLastError(ERROR_GEN_FAILURE);
            return call.returns(INVALID_SET_FILE_POINTER);
        }
        base = st.st_size;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(INVALID_SET_FILE_POINTER);
    }
    int64_t target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return call.returns(INVALID_SET_FILE_POINTER);
    }
    if (!lpDistanceToMoveHigh && target > 0xFFFFFFFE) {
        // Without the high part the caller could not tell this from failure.
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(INVALID_SET_FILE_POINTER);
    }
    file->setPosition(target);
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    SetLastError(NO_ERROR);
    return call.returns(static_cast<DWORD>(target & 0xFFFFFFFF));
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile)
{
    ntsim::ApiCall call("SetEndOfFile", hFile);
    if (call.faulted())
        return call.returns(FALSE);
    auto file = fileWith(hFile, ntsim::fileWriteData);
    if (!file)
        return call.returns(FALSE);
    return call.returns(hostResult(ftruncate(file->fd(), file->position())));
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    ntsim::ApiCall call("GetFileSize", hFile, lpFileSizeHigh);
    if (call.faulted())
        return call.returns(DWORD(INVALID_FILE_SIZE));
    auto file = fileOf(hFile);
    if (!file)
        return call.returns(INVALID_FILE_SIZE);
    struct stat st;
    if (fstat(file->fd(), &st) != 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return call.returns(INVALID_FILE_SIZE);
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(NO_ERROR);
    return call.returns(static_cast<DWORD>(size & 0xFFFFFFFF));
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile)
{
    ntsim::ApiCall call("FlushFileBuffers", hFile);
    if (call.faulted())
        return call.returns(FALSE);
    auto file = fileWith(hFile, ntsim::fileWriteData | ntsim::fileAppendData);
    if (!file)
        return call.returns(FALSE);
    return call.returns(hostResult(fsync(file->fd())));
}

extern "C" BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime)
{
    ntsim::ApiCall call("GetFileTime", hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime);
    if (call.faulted())
        return call.returns(FALSE);
    auto file = fileOf(hFile);
    if (!file)
        return call.returns(FALSE);
    struct stat st;
    if (fstat(file->fd(), &st) != 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return call.returns(FALSE);
    }
    // The host keeps no creation time everywhere; the last change stands in.
    if (lpCreationTime)
        *lpCreationTime = ntsim::fileTimeOf(st.st_ctim);
    if (lpLastAccessTime)
        *lpLastAccessTime = ntsim::fileTimeOf(st.st_atim);
    if (lpLastWriteTime)
        *lpLastWriteTime = ntsim::fileTimeOf(st.st_mtim);
    return call.returns(TRUE);
}
