// Full path names and the temporary directory.
#include "FilePath.h"

#include "machine/ApiCall.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <sys/stat.h>

extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart)
{
    ntsim::ApiCall call("GetFullPathNameA", lpFileName, nBufferLength, lpBuffer, lpFilePart);
    if (call.faulted())
        return call.returns(DWORD(0));
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    if (!*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return call.returns(0);
    }
    std::string input = lpFileName;
    std::string full;
    if (input.size() >= 3 && input[1] == ':' && (input[2] == '\\' || input[2] == '/') && input[0] != 'c' && input[0] != 'C') {
        // Another drive: the path is only tidied, as NT does for a drive it lacks.
        full = ntsim::fullNtPath("C:" + input.substr(2), "C:\\");
        if (!full.empty())
            full[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(input[0])));
    } else {
        full = ntsim::fullNtPath(input, ntsim::currentProcess().currentDirectory);
    }
    if (full.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return call.returns(0);
    }
    DWORD result = ntsim::copyPathOut(full, lpBuffer, nBufferLength);
    if (result == full.size() && lpFilePart) {
        size_t part = ntsim::fileNamePart(full);
        *lpFilePart = part < full.size() ? lpBuffer + part : nullptr;
    }
    return call.returns(result);
}

extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    ntsim::ApiCall call("GetTempPathA", nBufferLength, lpBuffer);
    if (call.faulted())
        return call.returns(DWORD(0));
    // The machine's user has TEMP at C:\TEMP; without it NT falls back to
    // the Windows directory.
    std::string temp = "C:\\TEMP\\";
    struct stat st;
    std::string host = ntsim::Machine::current().hostPath("C:\\TEMP");
    if (host.empty() || stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        temp = "C:\\WINNT\\";
    return call.returns(ntsim::copyPathOut(temp, lpBuffer, nBufferLength));
}
