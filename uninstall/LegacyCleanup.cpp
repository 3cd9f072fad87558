#include "LegacyCleanup.h"

#include "KeyAccess.h"

#include "app/SetupLog.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr char enumRootKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
constexpr char htreeKey[] = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";
constexpr char eventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\";
constexpr char attachedComponents[] = "AttachedComponents";

struct CleanupLines {
    LPCSTR lpszAsking;
    LPCSTR lpszOpening;
    LPCSTR lpszOpenFailed;
    LPCSTR lpszRemoving;
    LPCSTR lpszResult;
};

const CleanupLines enumRootLines = {
    "RemoveEnumRootDriverKey Asking Permission to open %s\n",
    "RemoveEnumRootDriverKey Opening %s\n",
    "RemoveEnumRootDriverKey RegSetValueEx returned %x\n",
    "RemoveEnumRootDriverKey removing %s and all subkeys\n",
    "RemoveEnumRootDriverKey bRet %u\n",
};

const CleanupLines eventLogLines = {
    "RemoveEventLogDriverKey Asking Permission to open %s\n",
    "RemoveEventLogDriverKey Opening %s\n",
    "RemoveEventLogDriverKey RegSetValueEx returned %x\n",
    "RemoveEventLogDriverKey removing %s and all subkeys\n",
    "RemoveEventLogDriverKey bRet %u\n",
};

// Takes over the parent key, then deletes the named subkey with its tree.
// A key name that does not fit its buffer is never cut into another name.
BOOLEAN RemoveSubtreeOf(LPCSTR lpszParent, LPCSTR lpszKeyName, bool bNameFits, const CleanupLines& lines)
{
    BOOLEAN bRet = FALSE;
    LogTrace(lines.lpszAsking, lpszParent);
    if (AllowAccessToKey(HKEY_LOCAL_MACHINE, lpszParent)) {
        LogTrace(lines.lpszOpening, lpszParent);
        HKEY hParent = nullptr;
        LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, lpszParent, 0, KEY_ALL_ACCESS, &hParent);
        if (lError != ERROR_SUCCESS) {
            LogTrace(lines.lpszOpenFailed, static_cast<UINT>(lError));
        } else {
            if (bNameFits) {
                LogTrace(lines.lpszRemoving, lpszKeyName);
                bRet = KillThisKeyAndAllItsSubkeys(hParent, lpszKeyName);
            }
            RegCloseKey(hParent);
        }
    }
    LogTrace(lines.lpszResult, static_cast<UINT>(bRet));
    return bRet;
}

// Drops every string of a multi-string that contains the upper-case target
// (compared upper-cased); returns the size to write back.
DWORD DropMatchingStrings(const BYTE* pInput, DWORD cbInput, const std::string& target, BYTE* pOutput)
{
    DWORD cbDropped = 0;
    DWORD nOut = 0;
    DWORD nPos = 0;
    while (nPos < cbInput && pInput[nPos] != 0) {
        // A value that is not properly terminated ends at its last byte.
        const char* pString = reinterpret_cast<const char*>(pInput + nPos);
        DWORD nLength = static_cast<DWORD>(strnlen(pString, cbInput - nPos));
        std::string upper(pString, nLength);
        CharUpperBuffA(&upper[0], nLength);
        if (upper.find(target) != std::string::npos) {
            cbDropped += nLength + 1;
        } else {
            std::memcpy(pOutput + nOut, pString, nLength);
            nOut += nLength;
            pOutput[nOut++] = 0;
        }
        nPos += nLength + 1;
    }
    pOutput[nOut] = 0;
    return cbDropped < cbInput ? cbInput - cbDropped : 0;
}

// An empty name counts as none: it would name the parent key itself.
bool NoService(LPCSTR lpszServiceName)
{
    return !lpszServiceName || !lpszServiceName[0];
}

}

BOOLEAN RemoveEnumRootDriverKey(LPCSTR lpszServiceName)
{
    if (NoService(lpszServiceName)) {
        LogTrace(enumRootLines.lpszResult, 0u);
        return FALSE;
    }
    char szKeyName[256];
    int n = std::snprintf(szKeyName, sizeof szKeyName, "LEGACY_%s", lpszServiceName);
    CharUpperA(szKeyName);
    return RemoveSubtreeOf(enumRootKey, szKeyName, n >= 0 && static_cast<size_t>(n) < sizeof szKeyName, enumRootLines);
}

BOOLEAN RemoveEventLogDriverKey(LPCSTR lpszServiceName)
{
    if (NoService(lpszServiceName)) {
        LogTrace(eventLogLines.lpszResult, 0u);
        return FALSE;
    }
    return RemoveSubtreeOf(eventLogKey, lpszServiceName, true, eventLogLines);
}

BOOLEAN RemoveEnumHtreeDriverString(LPCSTR lpszServiceName)
{
    BOOLEAN bRet = FALSE;
    if (NoService(lpszServiceName)) {
        LogTrace("RemoveEnumHtreeDriverString returning BOOLEAN %u\n", static_cast<UINT>(bRet));
        return bRet;
    }
    LogTrace("RemoveEnumHtreeDriverString Asking Permission to open %s\n", htreeKey);
    if (!AllowAccessToKey(HKEY_LOCAL_MACHINE, htreeKey)) {
        LogTrace("RemoveEnumHtreeDriverString returning BOOLEAN %u\n", static_cast<UINT>(bRet));
        return bRet;
    }
    LogTrace("RemoveEnumHtreeDriverString Opening %s\n", htreeKey);
    HKEY hKey = nullptr;
    LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, htreeKey, 0, KEY_ALL_ACCESS, &hKey);
    if (lError != ERROR_SUCCESS) {
        LogTrace("RemoveEnumHtreeDriverString RegOpenKeyEx returned %x\n", static_cast<UINT>(lError));
        LogTrace("RemoveEnumHtreeDriverString returning BOOLEAN %u\n", static_cast<UINT>(bRet));
        return bRet;
    }

    LogTrace("RemoveEnumHtreeDriverString Sizing %s\n", attachedComponents);
    DWORD dwType = 0;
    DWORD cbValue = 0;
    lError = RegQueryValueExA(hKey, attachedComponents, nullptr, &dwType, nullptr, &cbValue);
    if (lError != ERROR_SUCCESS) {
        LogTrace("RemoveEnumHtreeDriverString RegQueryValueEx returned %x\n", static_cast<UINT>(lError));
    } else {
        LogTrace("RemoveEnumHtreeDriverString Size is %u bytes\n", static_cast<UINT>(cbValue));
        BYTE* pInput = new (std::nothrow) BYTE[cbValue ? cbValue : 1];
        if (pInput) {
            LogTrace("RemoveEnumHtreeDriverString Reading %s\n", attachedComponents);
            lError = RegQueryValueExA(hKey, attachedComponents, nullptr, &dwType, pInput, &cbValue);
            if (lError != ERROR_SUCCESS) {
                LogTrace("RemoveEnumHtreeDriverString RegQueryValueEx returned %x\n", static_cast<UINT>(lError));
            } else {
                // Room for the terminators a malformed value lacks.
                BYTE* pOutput = new (std::nothrow) BYTE[cbValue + 2]();
                if (pOutput) {
                    std::string target = lpszServiceName;
                    CharUpperBuffA(&target[0], static_cast<DWORD>(target.size()));
                    DWORD cbWrite = DropMatchingStrings(pInput, cbValue, target, pOutput);
                    LogTrace("RemoveEnumHtreeDriverString Writing %s\n", attachedComponents);
                    lError = RegSetValueExA(hKey, attachedComponents, 0, dwType, pOutput, cbWrite);
                    if (lError != ERROR_SUCCESS)
                        LogTrace("RemoveEnumHtreeDriverString RegSetValueEx returned %x\n", static_cast<UINT>(lError));
                    else
                        bRet = TRUE;
                    delete[] pOutput;
                }
            }
            delete[] pInput;
        }
    }
    RegCloseKey(hKey);
    LogTrace("RemoveEnumHtreeDriverString returning BOOLEAN %u\n", static_cast<UINT>(bRet));
    return bRet;
}
