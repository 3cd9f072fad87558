// The setup program's own files handed to ISDEL.EXE, which removes them
// once this process has ended.
#include "app/SetupLog.h"
#include "driver/DriverList.h"
#include "wizard/UninstReportOKPage.h"
#include "wizard/WizPropSheet.h"

#include <cstdio>
#include <cstring>
#include <new>

// The record CreateProcessA reads as the 32-bit program fills it, and as the
// same layout comes out where pointers are eight bytes.
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "STARTUPINFOA");

void CUninstReportOKPage::StartDeferredFileRemoval(CDriverList* pDriverList)
{
    POSITION position = nullptr;
    if (!pDriverList->Rewind(position) || !pDriverList->Next(position))
        return;
    // Only once the driver's service is gone: its files are still in use
    // otherwise.
    UINT uState = DRV_S_NONE;
    if (pDriverList->GetInfo(position, &uState) != ST_SUCCESS || uState != DRV_S_NONE)
        return;

    char szResourceLibrary[260] = "";
    DWORD n = GetModuleFileNameA(m_pSheet->m_hResLib, szResourceLibrary, sizeof szResourceLibrary);
    if (n >= sizeof szResourceLibrary)
        szResourceLibrary[0] = 0;

    char szSystem[512];
    char szIsDel[512];
    LPSTR lpszFilePart = nullptr;
    n = GetSystemDirectoryA(szSystem, sizeof szSystem);
    if (n == 0 || n >= sizeof szSystem)
        return;
    n = GetFullPathNameA(szSystem, sizeof szIsDel, szIsDel, &lpszFilePart);
    char* pSlash = n && n < sizeof szIsDel ? std::strrchr(szIsDel, '\\') : nullptr;
    static const char isdelName[] = "ISDEL.EXE";
    if (!pSlash || static_cast<size_t>(pSlash + 1 - szIsDel) + sizeof isdelName > sizeof szIsDel)
        return;
    std::strcpy(pSlash + 1, isdelName);

    SpawnIsDel(szIsDel, szResourceLibrary);
}

void CUninstReportOKPage::SpawnIsDel(LPCSTR lpszIsDelPath, LPCSTR lpszExtraPath)
{
    char szEvent[32];
    std::snprintf(szEvent, sizeof szEvent, "push-me%x", static_cast<UINT>(GetCurrentProcessId()));
    HANDLE hEvent = CreateEventA(nullptr, TRUE, FALSE, szEvent);
    if (!hEvent)
        return;
    LogTrace("CreateEvent ok for %s\n", szEvent);

    // Held until ISDEL.EXE answers: the file goes when its last handle,
    // the running image among them, is closed.
    HANDLE hFile = CreateFileA(lpszIsDelPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        CloseHandle(hEvent);
        return;
    }
    LogTrace("CreateFile ok for %s\n", lpszIsDelPath);

    size_t nExtra = lpszExtraPath ? std::strlen(lpszExtraPath) : 0;
    // Two spaces, eight hex digits, a module path, a space, " -L", the end.
    size_t cchCommandLine = std::strlen(lpszIsDelPath) + nExtra + 2 + 8 + 260 + 1 + 3 + 1;
    char* pszCommandLine = new (std::nothrow) char[cchCommandLine]();
    if (pszCommandLine) {
        char szModule[260] = "";
        DWORD n = GetModuleFileNameA(nullptr, szModule, sizeof szModule);
        if (n >= sizeof szModule)
            szModule[sizeof szModule - 1] = 0;
        int nUsed = std::snprintf(pszCommandLine, cchCommandLine, "%s %x %s", lpszIsDelPath,
            static_cast<UINT>(GetCurrentProcessId()), szModule);
        if (nExtra && nUsed > 0)
            nUsed += std::snprintf(pszCommandLine + nUsed, cchCommandLine - nUsed, " %s", lpszExtraPath);
        if (!m_pSheet->m_bLog && nUsed > 0)
            std::snprintf(pszCommandLine + nUsed, cchCommandLine - nUsed, " -L");
        LogTrace("allocated command line of %u bytes\n", static_cast<UINT>(std::strlen(pszCommandLine)));

        STARTUPINFOA startupInfo;
        std::memset(&startupInfo, 0, sizeof startupInfo);
        startupInfo.cb = sizeof startupInfo;
        startupInfo.dwFlags = STARTF_FORCEOFFFEEDBACK;
        PROCESS_INFORMATION processInfo;
        if (CreateProcessA(nullptr, pszCommandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startupInfo,
                &processInfo)) {
            CloseHandle(processInfo.hThread);
            LogTrace("waiting for %x\n", static_cast<UINT>(reinterpret_cast<UINT_PTR>(hEvent)));
            // ISDEL.EXE's end also ends the wait, should it never set the
            // event.
            HANDLE waitFor[2] = { hEvent, processInfo.hProcess };
            WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
            CloseHandle(processInfo.hProcess);
        }
        delete[] pszCommandLine;
    }
    CloseHandle(hFile);
    CloseHandle(hEvent);
}
