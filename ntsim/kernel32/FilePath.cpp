#include "FilePath.h"

#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

namespace ntsim {

bool resolvePath(LPCSTR name, ResolvedPath& out, bool allowWildcards)
{
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!*name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::string text = name;
    if (!allowWildcards && text.find_first_of("*?") != std::string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (text.size() >= 2 && text[1] == ':' && text[0] != 'c' && text[0] != 'C') {
        SetLastError(ERROR_PATH_NOT_FOUND); // the machine has drive C: alone
        return false;
    }
    std::string nt = fullNtPath(text, currentProcess().currentDirectory);
    if (nt.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    Machine::PathProblem problem;
    std::string host = Machine::current().hostPath(nt, problem);
    if (host.empty()) {
        // A host link in drive_c is nothing the machine may reach through.
        SetLastError(problem == Machine::PathProblem::HostLink ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
        return false;
    }
    out.nt = nt;
    out.host = host;
    return true;
}

bool resolveExisting(LPCSTR name, ResolvedPath& out, struct stat& st)
{
    if (!resolvePath(name, out))
        return false;
    if (stat(out.host.c_str(), &st) == 0)
        return true;
    SetLastError(missingFileError(out.host));
    return false;
}

DWORD missingFileError(const std::string& hostPath)
{
    std::string parent = hostPath.substr(0, hostPath.find_last_of('/'));
    struct stat st;
    if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

bool parentWritable(const std::string& hostPath)
{
    std::string parent = hostPath.substr(0, hostPath.find_last_of('/'));
    struct stat st;
    return stat(parent.c_str(), &st) == 0 && hostWritable(st);
}

FILETIME fileTimeOf(const struct timespec& ts)
{
    constexpr uint64_t secondsFrom1601To1970 = 11644473600ULL;
    uint64_t value = (static_cast<uint64_t>(ts.tv_sec) + secondsFrom1601To1970) * 10000000ULL
        + static_cast<uint64_t>(ts.tv_nsec) / 100;
    return { static_cast<DWORD>(value & 0xFFFFFFFF), static_cast<DWORD>(value >> 32) };
}

DWORD mapFileAccess(DWORD access)
{
    constexpr DWORD readAttributes = 0x0080, writeAttributes = 0x0100, readEa = 0x0008, writeEa = 0x0010;
    DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ)
        mapped |= READ_CONTROL | fileReadData | readAttributes | readEa | SYNCHRONIZE;
    if (access & GENERIC_WRITE)
        mapped |= READ_CONTROL | fileWriteData | writeAttributes | writeEa | fileAppendData | SYNCHRONIZE;
    if (access & GENERIC_EXECUTE)
        mapped |= READ_CONTROL | readAttributes | fileExecute | SYNCHRONIZE;
    if (access & GENERIC_ALL)
        mapped |= STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FF;
    return mapped;
}

}
