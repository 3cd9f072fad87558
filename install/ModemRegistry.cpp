// The modem's registry data: its hardware id and model description, the
// driver key the modem class installer made, the COM port its driver
// serves, and the two values the install writes into the driver key.
#include "ModemRegistry.h"

#include "app/SetupLog.h"
#include "wizard/InstDriverPage.h"

#include <setupapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr char enumRootKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
constexpr char classKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
constexpr char serialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Formats a registry path into its fixed buffer. A path that does not fit
// is refused rather than cut into the name of some other key.
bool FormatKeyPath(char (&szPath)[256], LPCSTR lpszFormat, ...) __attribute__((format(printf, 2, 3)));
bool FormatKeyPath(char (&szPath)[256], LPCSTR lpszFormat, ...)
{
    va_list args;
    va_start(args, lpszFormat);
    int n = std::vsnprintf(szPath, sizeof szPath, lpszFormat, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < sizeof szPath;
}

LONG OpenKey(HKEY hRoot, LPCSTR lpszPath, bool bFits, REGSAM samDesired, HKEY* phKey)
{
    if (!bFits)
        return ERROR_INSUFFICIENT_BUFFER;
    return RegOpenKeyExA(hRoot, lpszPath, 0, samDesired, phKey);
}

struct PciValue {
    LPCSTR lpszName;
    LPCSTR lpszFormat;
    LPCSTR lpszFailure;
};

const PciValue pciValues[] = {
    { "PciVendorID", "VEN_%04X", "GetTheModemPlugAngPlayIdString RegQueryValueEx returned error %x for PciVendorID\n" },
    { "PciDeviceID", "&DEV_%04X", "GetTheModemPlugAngPlayIdString RegQueryValueEx returned error %x for PciDeviceID\n" },
    { "PciSubsystemID", "&SUBSYS_%04X", "GetTheModemPlugAngPlayIdString RegQueryValueEx returned error %x for PciSubsystemID\n" },
    { "PciSubsystemVendorID", "%04X", "GetTheModemPlugAngPlayIdString RegQueryValueEx returned error %x for PciSubsystemVendorID\n" },
    { "PciRevision", "&REV_%02X", "GetTheModemPlugAngPlayIdString RegQueryValueEx returned error %x for PciRevision\n" },
};

// The program's directory with its trailing backslash, from its own path.
bool ProgramDirectory(char (&szDirectory)[512])
{
    char szModule[512];
    DWORD n = GetModuleFileNameA(nullptr, szModule, sizeof szModule);
    if (n == 0 || n >= sizeof szModule)
        return false;
    LPSTR lpszFilePart = nullptr;
    n = GetFullPathNameA(szModule, sizeof szDirectory, szDirectory, &lpszFilePart);
    if (n == 0 || n >= sizeof szDirectory)
        return false;
    char* pSlash = std::strrchr(szDirectory, '\\');
    if (!pSlash)
        return false;
    pSlash[1] = 0;
    return true;
}

}

BOOL GetTheModemPlugAngPlayIdString(LPCSTR lpszServiceName, LPSTR lpszId, UINT nLength)
{
    BOOL bRet = FALSE;
    char szKey[256];
    bool bFits = FormatKeyPath(szKey, "SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters\\%s0", lpszServiceName,
        lpszServiceName);
    HKEY hKey = nullptr;
    LONG lError = OpenKey(HKEY_LOCAL_MACHINE, szKey, bFits, KEY_READ, &hKey);
    if (lError != ERROR_SUCCESS) {
        LogTrace("GetTheModemPlugAngPlayIdString RegOpenKeyEx returned error %x\n", static_cast<UINT>(lError));
    } else {
        bRet = TRUE;
        size_t nUsed = 0;
        for (const PciValue& value : pciValues) {
            DWORD dwValue = 0;
            DWORD cbValue = sizeof dwValue;
            lError = RegQueryValueExA(hKey, value.lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&dwValue),
                &cbValue);
            if (lError != ERROR_SUCCESS) {
                LogTrace(value.lpszFailure, static_cast<UINT>(lError));
                bRet = FALSE;
                break;
            }
            // The id never comes near the callers' 256 characters; the
            // length only keeps an odd caller's buffer from overflowing.
            if (nUsed + 1 < nLength) {
                std::snprintf(lpszId + nUsed, nLength - nUsed, value.lpszFormat, dwValue);
                nUsed = std::strlen(lpszId);
            }
        }
        if (bRet)
            LogTrace("GetTheModemPlugAngPlayIdString Returning %s\n", lpszId);
        RegCloseKey(hKey);
    }
    LogTrace("GetTheModemPlugAngPlayIdString BOOLEAN bRet = %u\n", static_cast<UINT>(bRet));
    return bRet;
}

BOOL CInstDriverPage::GetTheInfFileDescription(LPCSTR lpszHardwareId, LPSTR lpszDescription, UINT nLength)
{
    BOOL bRet = FALSE;
    char szDirectory[512];
    char szPattern[512];
    WIN32_FIND_DATAA findData;
    HANDLE hFind = INVALID_HANDLE_VALUE;
    if (ProgramDirectory(szDirectory)
        && std::snprintf(szPattern, sizeof szPattern, "%s*.INF", szDirectory) < static_cast<int>(sizeof szPattern))
        hFind = FindFirstFileA(szPattern, &findData);

    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            char szInf[512];
            if (std::snprintf(szInf, sizeof szInf, "%s%s", szDirectory, findData.cFileName)
                >= static_cast<int>(sizeof szInf))
                continue;
            UINT nErrorLine = 0;
            HINF hInf = SetupOpenInfFileA(szInf, nullptr, INF_STYLE_WIN4, &nErrorLine);
            if (hInf == INVALID_HANDLE_VALUE)
                continue;
            INFCONTEXT context;
            BOOL bLine = SetupFindFirstLineA(hInf, "Models", nullptr, &context);
            while (bLine) {
                char szDescription[132];
                char szId[132];
                if (!SetupGetStringFieldA(&context, 0, szDescription, sizeof szDescription, nullptr)
                    || !SetupGetStringFieldA(&context, 2, szId, sizeof szId, nullptr))
                    break;
                if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, szId, -1, lpszHardwareId, -1) == CSTR_EQUAL) {
                    if (std::strlen(szDescription) < nLength) {
                        std::strcpy(lpszDescription, szDescription);
                        bRet = TRUE;
                        break;
                    }
                    LogTrace("CInstDriverPage::GetTheInfFileDescription user buffer too small %u\n", nLength);
                }
                bLine = SetupFindNextLine(&context, &context);
            }
            SetupCloseInfFile(hInf);
        } while (!bRet && FindNextFileA(hFind, &findData));
        FindClose(hFind);
    }
    LogTrace("CInstDriverPage::GetTheInfFileDescription return with %X\n", static_cast<UINT>(bRet));
    return bRet;
}

HKEY CInstDriverPage::FindOurControlClass(LPCSTR lpszHardwareId)
{
    HKEY hResult = nullptr;
    char szEnumKey[256];
    bool bFits = FormatKeyPath(szEnumKey, "%s%s\\0000", enumRootKey, lpszHardwareId);
    HKEY hEnum = nullptr;
    LONG lError = OpenKey(HKEY_LOCAL_MACHINE, szEnumKey, bFits, KEY_READ, &hEnum);
    if (lError != ERROR_SUCCESS) {
        LogTrace("FindOurControlClass RegOpenKeyEx returned error %x\n", static_cast<UINT>(lError));
        LogTrace("FindOurControlClass for key %s\n", szEnumKey);
    } else {
        // One byte beyond the value's 256, so that a value stored without
        // its terminator still reads as a string.
        char szDriver[257] = "";
        DWORD cbDriver = 256;
        lError = RegQueryValueExA(hEnum, "Driver", nullptr, nullptr, reinterpret_cast<BYTE*>(szDriver), &cbDriver);
        if (lError != ERROR_SUCCESS) {
            LogTrace("FindOurControlClass RegQueryValueEx returned error %x\n", static_cast<UINT>(lError));
            LogTrace("FindOurControlClass for key %s\n", "Driver");
        } else {
            HKEY hClass = nullptr;
            lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, classKey, 0, KEY_READ, &hClass);
            if (lError != ERROR_SUCCESS) {
                LogTrace("FindOurControlClass RegOpenKeyEx returned error %x\n", static_cast<UINT>(lError));
                LogTrace("FindOurControlClass for key %s\n", classKey);
            } else {
                lError = RegOpenKeyExA(hClass, szDriver, 0, KEY_ALL_ACCESS, &hResult);
                if (lError != ERROR_SUCCESS) {
                    hResult = nullptr;
                    LogTrace("FindOurControlClass RegOpenKeyEx returned error %x\n", static_cast<UINT>(lError));
                    LogTrace("FindOurControlClass for key %s\n", szDriver);
                }
                RegCloseKey(hClass);
            }
        }
        RegCloseKey(hEnum);
    }
    LogTrace("FindOurControlClass returning key %x\n", static_cast<UINT>(reinterpret_cast<UINT_PTR>(hResult)));
    return hResult;
}

BOOL CInstDriverPage::FetchAttachedTo(LPCSTR lpszServiceName, LPSTR lpszComPort)
{
    BOOL bRet = FALSE;
    HKEY hKey = nullptr;
    LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, serialCommKey, 0, KEY_READ, &hKey);
    if (lError != ERROR_SUCCESS) {
        LogTrace("FetchAttachedTo RegOpenKeyEx returned error %x\n", static_cast<UINT>(lError));
    } else {
        for (DWORD dwIndex = 0;; ++dwIndex) {
            char szName[256];
            char szData[257] = ""; // a port name stored without its terminator still ends
            DWORD cchName = 256;
            DWORD cbData = 256;
            DWORD dwType = 0;
            if (RegEnumValueA(hKey, dwIndex, szName, &cchName, nullptr, &dwType, reinterpret_cast<BYTE*>(szData),
                    &cbData)
                != ERROR_SUCCESS)
                break;
            if (std::strstr(szName, lpszServiceName)) {
                std::strcpy(lpszComPort, szData);
                LogTrace("FetchAttachedTo RegOpenKeyEx found %s\n", lpszComPort);
                bRet = TRUE;
                break;
            }
        }
        RegCloseKey(hKey);
    }
    LogTrace("FetchAttachedTo BOOLEAN bRet = %u\n", static_cast<UINT>(bRet));
    return bRet;
}

BOOL CInstDriverPage::AddAttachedToStringToRegistry(HKEY hClassKey, LPCSTR lpszComPort)
{
    BOOL bRet = FALSE;
    LONG lError = RegSetValueExA(hClassKey, "AttachedTo", 0, REG_SZ, reinterpret_cast<const BYTE*>(lpszComPort),
        static_cast<DWORD>(std::strlen(lpszComPort) + 1));
    if (lError != ERROR_SUCCESS) {
        LogTrace("AddAttachedToStringToRegistry RegSetValueEx returned error %x\n", static_cast<UINT>(lError));
    } else {
        LogTrace("AddAttachedToStringToRegistry added AttachedTo = %s\n", lpszComPort);
        bRet = TRUE;
    }
    LogTrace("AddAttachedToStringToRegistry BOOLEAN bRet = %u\n", static_cast<UINT>(bRet));
    return bRet;
}

BOOL CInstDriverPage::AddCurrentCountryStringToRegistry(HKEY hClassKey, BOOL bCountryGiven, WORD wCountry)
{
    BOOL bRet = FALSE;
    HKEY hCountry = nullptr;
    LONG lError = RegOpenKeyExA(hClassKey, "Country", 0, KEY_ALL_ACCESS, &hCountry);
    if (lError != ERROR_SUCCESS) {
        LogTrace("AddCurrentCountryStringToRegistry RegOpenKeyEx returned error %x\n", static_cast<UINT>(lError));
    } else {
        if (bCountryGiven) {
            const BYTE code[2] = { LOBYTE(wCountry), HIBYTE(wCountry) };
            lError = RegSetValueExA(hCountry, "Current", 0, REG_BINARY, code, sizeof code);
            if (lError != ERROR_SUCCESS)
                LogTrace("AddCurrentCountryStringToRegistry RegSetValueEx returned error %x\n", static_cast<UINT>(lError));
            else
                LogTrace("AddCurrentCountryStringToRegistry  added country %x\n", static_cast<UINT>(wCountry));
        }
        BYTE data[256] = {};
        DWORD cbData = sizeof data;
        DWORD dwType = 0;
        lError = RegQueryValueExA(hCountry, "Current", nullptr, &dwType, data, &cbData);
        if (lError != ERROR_SUCCESS) {
            LogTrace("AddCurrentCountryStringToRegistry RegQueryValueEx returned error %x\n", static_cast<UINT>(lError));
        } else {
            // A value too short to hold a 16-bit code records no country.
            bRet = cbData >= 2 && data[1] == 0;
            LogTrace("AddCurrentCountryStringToRegistry current country = %u\n", static_cast<UINT>(data[0]));
        }
        RegCloseKey(hCountry);
    }
    LogTrace("AddCurrentCountryStringToRegistry BOOLEAN bRet = %u\n", static_cast<UINT>(bRet));
    return bRet;
}
