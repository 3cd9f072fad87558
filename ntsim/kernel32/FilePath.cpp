#include "FilePath.h"

#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

namespace ntsim {

namespace {

// A name the Win32 layer takes for a device wherever it stands as the last
// component, with or without an extension: CON, PRN, AUX, NUL, COM1-9, LPT1-9.
bool isDeviceName(std::string name)
{
    name = upperAscii(name.substr(0, name.find('.')));
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL")
        return true;
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) && name[3] >= '1'
        && name[3] <= '9';
}

// What NT refuses in a name of drive C: characters no file system of NT
// takes, and ':', which names a stream: the machine's drive keeps none.
bool validComponents(const std::string& nt)
{
    for (size_t i = 3; i < nt.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(nt[i]);
        if (c < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|')
            return false;
    }
    return true;
}

}

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
    if (nt.empty() || !validComponents(nt)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // A device is no file of the drive: the console is not a GUI program's
    // (ERROR_INVALID_HANDLE, as Wine answers), and the machine gives its
    // programs no other device, the null device among them.
    if (isDeviceName(nt.substr(nt.find_last_of('\\') + 1))) {
        SetLastError(upperAscii(nt.substr(nt.find_last_of('\\') + 1, 3)) == "CON" ? ERROR_INVALID_HANDLE
                                                                                   : ERROR_FILE_NOT_FOUND);
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
