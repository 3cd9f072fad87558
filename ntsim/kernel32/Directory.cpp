// Directories: creating, removing, the current directory and the system's own.
#include "FileAttributeStore.h"
#include "FilePath.h"
#include "Kernel32Calls.h"

#include "machine/ApiCall.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <windows.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// An existing directory a call names, its NT path without trailing
// separators; false with the last error set.
bool resolveDirectory(LPCSTR name, ntsim::ResolvedPath& out)
{
    struct stat st;
    if (!ntsim::resolveExisting(name, out, st))
        return false;
    if (!S_ISDIR(st.st_mode))
        return fail(ERROR_DIRECTORY);
    while (out.nt.size() > 3 && out.nt.back() == '\\')
        out.nt.pop_back();
    return true;
}

bool isEmptyDirectory(const std::string& hostPath)
{
    DIR* d = opendir(hostPath.c_str());
    if (!d)
        return false;
    bool empty = true;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(d);
    return empty;
}

}

namespace ntsim {

DWORD copyPathOut(const std::string& value, LPSTR buffer, DWORD size)
{
    if (!buffer || size < value.size() + 1)
        return static_cast<DWORD>(value.size() + 1);
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<DWORD>(value.size());
}

}

BOOL ntsim::kernel32::createDirectory(LPCSTR lpPathName)
{
    ntsim::ResolvedPath path;
    if (!ntsim::resolvePath(lpPathName, path))
        return FALSE;
    struct stat st;
    if (stat(path.host.c_str(), &st) == 0)
        return fail(ERROR_ALREADY_EXISTS);
    if (ntsim::missingFileError(path.host) == ERROR_PATH_NOT_FOUND)
        return fail(ERROR_PATH_NOT_FOUND);
    if (!ntsim::parentWritable(path.host) || mkdir(path.host.c_str(), 0755) != 0)
        return fail(ERROR_ACCESS_DENIED);
    ntsim::noteHostChange(path.host);
    return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    ntsim::ApiCall call("CreateDirectoryA", lpPathName, lpSecurityAttributes);
    if (auto fault = call.fault())
        return call.returns(fail(*fault));
    return call.returns(ntsim::kernel32::createDirectory(lpPathName));
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName)
{
    ntsim::ApiCall call("RemoveDirectoryA", lpPathName);
    if (call.faulted())
        return call.returns(FALSE);
    ntsim::ResolvedPath path;
    if (!resolveDirectory(lpPathName, path))
        return call.returns(FALSE);
    if (!isEmptyDirectory(path.host))
        return call.returns(fail(ERROR_DIR_NOT_EMPTY));
    if (path.nt.size() <= 3 || !ntsim::parentWritable(path.host))
        return call.returns(fail(ERROR_ACCESS_DENIED));
    // A process's current directory is in use, as on NT.
    if (ntsim::upperAscii(ntsim::currentProcess().currentDirectory) == ntsim::upperAscii(path.nt))
        return call.returns(fail(ERROR_SHARING_VIOLATION));
    if (rmdir(path.host.c_str()) != 0)
        return call.returns(fail(ERROR_ACCESS_DENIED));
    ntsim::noteHostChange(path.host);
    ntsim::forgetAttributes(path.nt);
    return call.returns(TRUE);
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer)
{
    ntsim::ApiCall call("GetCurrentDirectoryA", nBufferLength, lpBuffer);
    return call.returns(ntsim::copyPathOut(ntsim::currentProcess().currentDirectory, lpBuffer, nBufferLength));
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName)
{
    ntsim::ApiCall call("SetCurrentDirectoryA", lpPathName);
    if (call.faulted())
        return call.returns(FALSE);
    ntsim::ResolvedPath path;
    if (!resolveDirectory(lpPathName, path))
        return call.returns(FALSE);
    ntsim::currentProcess().currentDirectory = path.nt;
    return call.returns(TRUE);
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    ntsim::ApiCall call("GetWindowsDirectoryA", lpBuffer, uSize);
    if (call.faulted())
        return call.returns(UINT(0));
    return call.returns(ntsim::copyPathOut("C:\\WINNT", lpBuffer, uSize));
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    ntsim::ApiCall call("GetSystemDirectoryA", lpBuffer, uSize);
    if (call.faulted())
        return call.returns(UINT(0));
    return call.returns(ntsim::copyPathOut("C:\\WINNT\\system32", lpBuffer, uSize));
}
