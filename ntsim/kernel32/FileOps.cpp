// Deleting, copying and renaming files, and their attributes.
#include "FileAttributeStore.h"
#include "FilePath.h"
#include "FileShare.h"
#include "Handles.h"
#include "Kernel32Calls.h"

#include "registry/Keys.h"

#include "registry/Keys.h"
#include "machine/ApiCall.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Token.h"

#include <windows.h>
#include <winreg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Attributes the host file keeps itself.
constexpr DWORD hostAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD settableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
    | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY;

DWORD attributesOf(const ntsim::ResolvedPath& path, const struct stat& st)
{
    bool directory = S_ISDIR(st.st_mode);
    DWORD attributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (auto stored = ntsim::storedAttributes(path.nt))
        attributes = (*stored & ~hostAttributes) | (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    // A directory's read-only attribute is only a mark, as on NT.
    if (directory) {
        if (auto stored = ntsim::storedAttributes(path.nt); stored && (*stored & FILE_ATTRIBUTE_READONLY))
            attributes |= FILE_ATTRIBUTE_READONLY;
    } else if (!ntsim::hostWritable(st)) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

std::string nativeRenamePath(const std::string& ntPath)
{
    return "\\??\\" + ntPath;
}

// Records a rename for the next start, as the session manager reads it:
// pairs of source and target, "!" before a target that may be replaced,
// an empty target for a delete.
BOOL delayRename(const std::string& source, const std::string* target, bool replace)
{
    if (!ntsim::Token::effective().admin)
        return fail(ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    LONG status = ntsim::registry::createKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", nullptr,
        0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return fail(static_cast<DWORD>(status));
    std::string value;
    DWORD type = 0, size = 0;
    const char* name = "PendingFileRenameOperations";
    if (ntsim::registry::queryValue(key, name, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ && size) {
        value.resize(size);
        if (ntsim::registry::queryValue(key, name, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
            size = 0;
        value.resize(size);
        // Drop the list's closing empty string, and only that: an empty
        // target before it is a pending delete.
        if (value.size() >= 2 && value.back() == '\0' && value[value.size() - 2] == '\0')
            value.pop_back();
        else if (!value.empty() && value.back() != '\0')
            value += '\0';
    }
    value += nativeRenamePath(source) + '\0';
    if (target)
        value += (replace ? "!" : "") + nativeRenamePath(*target);
    value += '\0';
    value += '\0';
    status = ntsim::registry::setValue(key, name, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()));
    ntsim::registry::closeKey(key);
    if (status != ERROR_SUCCESS)
        return fail(static_cast<DWORD>(status));
    return TRUE;
}

bool copyContents(int from, int to)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!ntsim::writeAll(to, buffer, static_cast<size_t>(n)))
            return false;
    }
}

}

BOOL ntsim::kernel32::deleteFile(LPCSTR lpFileName)
{
    ntsim::ResolvedPath path;
    if (!ntsim::resolvePath(lpFileName, path))
        return FALSE;
    ntsim::FileShareTable table;
    struct stat st;
    if (lstat(path.host.c_str(), &st) != 0 || (table.settle(ntsim::fileIdOf(st)) && lstat(path.host.c_str(), &st) != 0))
        return fail(ntsim::missingFileError(path.host));
    if (S_ISDIR(st.st_mode) || !ntsim::hostWritable(st) || !ntsim::parentWritable(path.host))
        return fail(ERROR_ACCESS_DENIED);
    ntsim::FileId id = ntsim::fileIdOf(st);
    if (!table.allows(id, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    if (table.runsAsImage(id))
        return fail(ERROR_ACCESS_DENIED); // NT's STATUS_CANNOT_DELETE
    if (table.isOpen(id)) {
        // Open with delete sharing: the name goes with the last handle.
        table.markDeletePending(id);
    } else if (unlink(path.host.c_str()) != 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    ntsim::noteHostChange(path.host);
    ntsim::forgetAttributes(path.nt);
    return TRUE;
}

BOOL ntsim::kernel32::copyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    ntsim::ResolvedPath source, target;
    if (!ntsim::resolvePath(lpExistingFileName, source) || !ntsim::resolvePath(lpNewFileName, target))
        return FALSE;
    HANDLE in = createFile(source.nt.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (in == INVALID_HANDLE_VALUE)
        return FALSE;
    struct stat st;
    stat(source.host.c_str(), &st);
    HANDLE out = createFile(target.nt.c_str(), GENERIC_WRITE, 0, bFailIfExists ? CREATE_NEW : CREATE_ALWAYS, 0);
    if (out == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ntsim::removeHandle(in);
        return fail(error);
    }
    int inFd = ::open(source.host.c_str(), O_RDONLY | O_CLOEXEC);
    int outFd = ::open(target.host.c_str(), O_WRONLY | O_CLOEXEC);
    bool copied = inFd >= 0 && outFd >= 0 && copyContents(inFd, outFd);
    if (copied) {
        struct timespec times[2] = { st.st_atim, st.st_mtim };
        futimens(outFd, times);
        fchmod(outFd, st.st_mode & 0777);
    }
    if (inFd >= 0)
        ::close(inFd);
    if (outFd >= 0)
        ::close(outFd);
    ntsim::removeHandle(out);
    ntsim::removeHandle(in);
    if (!copied) {
        unlink(target.host.c_str());
        ntsim::noteHostChange(target.host);
        return fail(ERROR_DISK_FULL);
    }
    ntsim::forgetAttributes(target.nt);
    if (auto stored = ntsim::storedAttributes(source.nt))
        ntsim::storeAttributes(target.nt, *stored);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ntsim::kernel32::moveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    if (dwFlags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_DELAY_UNTIL_REBOOT | 0x8 /* MOVEFILE_WRITE_THROUGH */))
        return fail(ERROR_INVALID_PARAMETER);
    bool delay = dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT;
    if (delay && (dwFlags & MOVEFILE_COPY_ALLOWED))
        return fail(ERROR_INVALID_PARAMETER);
    ntsim::ResolvedPath source, target;
    if (!ntsim::resolvePath(lpExistingFileName, source))
        return FALSE;
    if (!lpNewFileName && !delay)
        return fail(ERROR_INVALID_PARAMETER);
    if (lpNewFileName && !ntsim::resolvePath(lpNewFileName, target))
        return FALSE;
    if (delay)
        return delayRename(source.nt, lpNewFileName ? &target.nt : nullptr, dwFlags & MOVEFILE_REPLACE_EXISTING);

    ntsim::FileShareTable table;
    struct stat from;
    if (lstat(source.host.c_str(), &from) != 0 || (table.settle(ntsim::fileIdOf(from)) && lstat(source.host.c_str(), &from) != 0))
        return fail(ntsim::missingFileError(source.host));
    if (!ntsim::parentWritable(source.host))
        return fail(ERROR_ACCESS_DENIED);
    if (!table.allows(ntsim::fileIdOf(from), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    struct stat to;
    bool targetExists = lstat(target.host.c_str(), &to) == 0;
    bool sameFile = targetExists && ntsim::fileIdOf(to) == ntsim::fileIdOf(from);
    if (targetExists && !sameFile) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING))
            return fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(to.st_mode) || S_ISDIR(from.st_mode) || !ntsim::hostWritable(to))
            return fail(ERROR_ACCESS_DENIED);
        if (table.isOpen(ntsim::fileIdOf(to)))
            return fail(ERROR_SHARING_VIOLATION);
    } else if (!targetExists) {
        if (ntsim::missingFileError(target.host) == ERROR_PATH_NOT_FOUND)
            return fail(ERROR_PATH_NOT_FOUND);
        if (!ntsim::parentWritable(target.host))
            return fail(ERROR_ACCESS_DENIED);
    }
    // A new case of the same name: the host name is the one to change.
    std::string hostTarget = sameFile ? target.host.substr(0, target.host.find_last_of('/') + 1) + target.nt.substr(ntsim::fileNamePart(target.nt))
                                      : target.host;
    if (std::rename(source.host.c_str(), hostTarget.c_str()) != 0)
        return fail(errno == EXDEV ? ERROR_NOT_SUPPORTED : ERROR_ACCESS_DENIED);
    ntsim::noteHostChange(source.host);
    ntsim::noteHostChange(hostTarget);
    ntsim::moveAttributes(source.nt, target.nt);
    return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    ntsim::ApiCall call("DeleteFileA", lpFileName);
    if (auto fault = call.fault())
        return call.returns(fail(*fault));
    return call.returns(ntsim::kernel32::deleteFile(lpFileName));
}

extern "C" BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    ntsim::ApiCall call("CopyFileA", lpExistingFileName, lpNewFileName, bFailIfExists);
    if (auto fault = call.fault())
        return call.returns(fail(*fault));
    return call.returns(ntsim::kernel32::copyFile(lpExistingFileName, lpNewFileName, bFailIfExists));
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    ntsim::ApiCall call("MoveFileExA", lpExistingFileName, lpNewFileName, dwFlags);
    if (auto fault = call.fault())
        return call.returns(fail(*fault));
    return call.returns(ntsim::kernel32::moveFile(lpExistingFileName, lpNewFileName, dwFlags));
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName)
{
    ntsim::ApiCall call("MoveFileA", lpExistingFileName, lpNewFileName);
    if (auto fault = call.fault())
        return call.returns(fail(*fault));
    return call.returns(ntsim::kernel32::moveFile(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED));
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    ntsim::ApiCall call("GetFileAttributesA", lpFileName);
    if (call.faulted())
        return call.returns(DWORD(INVALID_FILE_ATTRIBUTES));
    ntsim::ResolvedPath path;
    struct stat st;
    if (!ntsim::resolveExisting(lpFileName, path, st))
        return call.returns(INVALID_FILE_ATTRIBUTES);
    return call.returns(attributesOf(path, st));
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    ntsim::ApiCall call("SetFileAttributesA", lpFileName, dwFileAttributes);
    if (call.faulted())
        return call.returns(FALSE);
    ntsim::ResolvedPath path;
    struct stat st;
    if (!ntsim::resolveExisting(lpFileName, path, st))
        return call.returns(FALSE);
    DWORD attributes = dwFileAttributes & settableAttributes;
    if (attributes & ~FILE_ATTRIBUTE_NORMAL)
        attributes &= ~FILE_ATTRIBUTE_NORMAL;
    if (!S_ISDIR(st.st_mode)) {
        mode_t mode = st.st_mode & 0777;
        mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
        if (chmod(path.host.c_str(), mode) != 0)
            return call.returns(fail(ERROR_ACCESS_DENIED));
        attributes &= ~FILE_ATTRIBUTE_READONLY;
    }
    if (attributes == (S_ISDIR(st.st_mode) ? 0u : DWORD(FILE_ATTRIBUTE_ARCHIVE)))
        ntsim::forgetAttributes(path.nt);
    else
        ntsim::storeAttributes(path.nt, attributes);
    return call.returns(TRUE);
}
