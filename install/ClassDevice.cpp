// The first layout of SP_DRVINFO_DATA is the one the device installer
// of NT 4.0 knows.
#define USE_SP_DRVINFO_DATA_V1 1

#include "ClassDevice.h"

#include "app/SetupLog.h"

#include <setupapi.h>

// The records as the 32-bit program has them, and as the same layout
// comes out where pointers are eight bytes.
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 4 ? 28 : 32), "SP_DEVINFO_DATA");
static_assert(sizeof(SP_DRVINFO_DATA_V1_W) == (sizeof(void*) == 4 ? 1548 : 1552), "SP_DRVINFO_DATA_V1_W");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == (sizeof(void*) == 4 ? 556 : 584), "SP_DEVINSTALL_PARAMS_W");

namespace {

// A UTF-16 argument as the log shows it: the whole text in the ANSI code page.
class CLogText {
public:
    explicit CLogText(LPCWSTR lpszText)
    {
        m_szText[0] = 0;
        if (lpszText && !WideCharToMultiByte(CP_ACP, 0, lpszText, -1, m_szText, sizeof m_szText, nullptr, nullptr))
            m_szText[sizeof m_szText - 1] = 0;
    }
    operator LPCSTR() const { return m_szText; }

private:
    char m_szText[512];
};

BOOL SameText(LPCWSTR lpszA, LPCWSTR lpszB)
{
    while (*lpszA && *lpszA == *lpszB) {
        ++lpszA;
        ++lpszB;
    }
    return *lpszA == *lpszB;
}

BOOL ContainsText(LPCWSTR lpszText, LPCWSTR lpszPart)
{
    for (; *lpszText; ++lpszText) {
        LPCWSTR a = lpszText;
        LPCWSTR b = lpszPart;
        while (*a && *b && *a == *b) {
            ++a;
            ++b;
        }
        if (!*b)
            return TRUE;
    }
    return !*lpszPart;
}

// The two records both functions allocate, freed driver record first.
struct CDeviceRecords {
    PSP_DEVINFO_DATA pDevInfoData;
    PSP_DRVINFO_DATA_V1_W pDrvInfoData;

    void Free()
    {
        GlobalFree(pDrvInfoData);
        GlobalFree(pDevInfoData);
    }
};

// Allocates both records with their sizes set; logs the one that fails
// as "<function> cannot allocate %u bytes (...)".
BOOL AllocateRecords(LPCSTR lpszFunction, CDeviceRecords& records)
{
    records.pDevInfoData = static_cast<PSP_DEVINFO_DATA>(GlobalAlloc(GPTR, sizeof(SP_DEVINFO_DATA)));
    if (!records.pDevInfoData) {
        LogTrace("%s cannot allocate %u bytes (PSP_DEVINFO_DATA)\n", lpszFunction,
            static_cast<UINT>(sizeof(SP_DEVINFO_DATA)));
        return FALSE;
    }
    records.pDevInfoData->cbSize = sizeof(SP_DEVINFO_DATA);
    records.pDrvInfoData = static_cast<PSP_DRVINFO_DATA_V1_W>(GlobalAlloc(GPTR, sizeof(SP_DRVINFO_DATA_V1_W)));
    if (!records.pDrvInfoData) {
        LogTrace("%s cannot allocate %u bytes (PSP_DRVINFO_DATA)\n", lpszFunction,
            static_cast<UINT>(sizeof(SP_DRVINFO_DATA_V1_W)));
        GlobalFree(records.pDevInfoData);
        return FALSE;
    }
    records.pDrvInfoData->cbSize = sizeof(SP_DRVINFO_DATA_V1_W);
    return TRUE;
}

// The class's one GUID. FALSE with the result set when the function ends
// here: FALSE after a failing call, TRUE when the class is not there
// exactly once.
BOOL FindClassGuid(LPCSTR lpszFunction, LPCWSTR lpszClassName, GUID& guid, BOOL& bRet)
{
    DWORD dwRequired = 0;
    if (!SetupDiClassGuidsFromNameW(lpszClassName, &guid, 1, &dwRequired)) {
        DWORD dwError = GetLastError();
        LogTrace("%s SetupDiClassGuidsFromName failed for %s%u\n", lpszFunction,
            static_cast<LPCSTR>(CLogText(lpszClassName)), static_cast<UINT>(dwError));
        bRet = FALSE;
        return FALSE;
    }
    if (dwRequired != 1) {
        LogTrace("%s SetupDiClassGuidsFromName RequiredSize %u (should be 1)\n", lpszFunction,
            static_cast<UINT>(dwRequired));
        bRet = TRUE;
        return FALSE;
    }
    return TRUE;
}

// The class driver to install: the first, or the first whose description
// is exactly the one given.
BOOL ChooseDriver(HDEVINFO hDevInfo, CDeviceRecords& records, LPCWSTR lpszDescription, BOOL bMatchDescription)
{
    for (DWORD dwIndex = 0;; ++dwIndex) {
        if (!SetupDiEnumDriverInfoW(hDevInfo, records.pDevInfoData, SPDIT_CLASSDRIVER, dwIndex, records.pDrvInfoData))
            return FALSE;
        if (!bMatchDescription || SameText(records.pDrvInfoData->Description, lpszDescription))
            return TRUE;
    }
}

// Steps of the install once the device exists; FALSE after the failing
// step has logged its line.
BOOL InstallCreatedDevice(HDEVINFO hDevInfo, CDeviceRecords& records, LPCWSTR lpszDescription)
{
    CLogText description(lpszDescription);
    SP_DEVINSTALL_PARAMS_W params;
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(hDevInfo, records.pDevInfoData, &params)) {
        LogTrace("InstallClassDevice SetupDiGetDeviceInstallParams failed for %s\n", static_cast<LPCSTR>(description));
        return FALSE;
    }
    params.Flags |= DI_QUIETINSTALL;
    if (!SetupDiSetDeviceInstallParamsW(hDevInfo, records.pDevInfoData, &params)) {
        LogTrace("InstallClassDevice SetupDiSetDeviceInstallParams failed for %s\n", static_cast<LPCSTR>(description));
        return FALSE;
    }
    if (!SetupDiSetSelectedDevice(hDevInfo, records.pDevInfoData)) {
        LogTrace("InstallClassDevice SetupDiSetSelectedDevice failed for %s\n", static_cast<LPCSTR>(description));
        return FALSE;
    }
    if (!SetupDiSetSelectedDriverW(hDevInfo, records.pDevInfoData, records.pDrvInfoData)) {
        LogTrace("InstallClassDevice SetupDiSetSelectedDriver failed for %s\n", static_cast<LPCSTR>(description));
        return FALSE;
    }
    if (!SetupDiRegisterDeviceInfo(hDevInfo, records.pDevInfoData, 0, nullptr, nullptr, nullptr)) {
        LogTrace("InstallClassDevice SetupDiRegisterDeviceInfo failed for %s\n", static_cast<LPCSTR>(description));
        return FALSE;
    }
    if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, hDevInfo, records.pDevInfoData)) {
        LogTrace("InstallClassDevice SetupDiCallClassInstaller failed for %s\n", static_cast<LPCSTR>(description));
        return FALSE;
    }
    return TRUE;
}

void DestroySet(HDEVINFO hDevInfo, CDeviceRecords& records)
{
    SetupDiDestroyDriverInfoList(hDevInfo, records.pDevInfoData, SPDIT_CLASSDRIVER);
    SetupDiDestroyDeviceInfoList(hDevInfo);
    records.Free();
}

// The first present device whose instance id holds the fragment.
BOOL FindDevice(HDEVINFO hDevInfo, CDeviceRecords& records, LPCWSTR lpszIdFragment)
{
    WCHAR szInstanceId[260];
    for (DWORD dwIndex = 0;; ++dwIndex) {
        DWORD dwRequired = 0;
        if (!SetupDiEnumDeviceInfo(hDevInfo, dwIndex, records.pDevInfoData)
            || !SetupDiGetDeviceInstanceIdW(hDevInfo, records.pDevInfoData, szInstanceId, 260, &dwRequired))
            return FALSE;
        if (ContainsText(szInstanceId, lpszIdFragment))
            return TRUE;
    }
}

// Removes the device found; FALSE after the failing step has logged its line.
BOOL RemoveFoundDevice(HDEVINFO hDevInfo, CDeviceRecords& records, LPCWSTR lpszIdFragment)
{
    CLogText fragment(lpszIdFragment);
    LogTrace("UnInstallClassDevice SetupDiGetClassDevs found %s\n", static_cast<LPCSTR>(fragment));
    if (!SetupDiSetSelectedDevice(hDevInfo, records.pDevInfoData)) {
        LogTrace("UnInstallClassDevice SetupDiSetSelectedDevice failed for %s\n", static_cast<LPCSTR>(fragment));
        return FALSE;
    }
    if (!SetupDiRegisterDeviceInfo(hDevInfo, records.pDevInfoData, 0, nullptr, nullptr, nullptr)) {
        LogTrace("UnInstallClassDevice SetupDiRegisterDeviceInfo failed for %s\n", static_cast<LPCSTR>(fragment));
        return FALSE;
    }
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, records.pDevInfoData)) {
        LogTrace("UnInstallClassDevice SetupDiCallClassInstaller failed for %s\n", static_cast<LPCSTR>(fragment));
        return FALSE;
    }
    if (SetupDiDeleteDevRegKey(hDevInfo, records.pDevInfoData, DICS_FLAG_GLOBAL, 0xFFFFFFFF, DIREG_BOTH))
        return TRUE;
    // The removal has taken the device and its keys already: nothing is
    // left to delete, and the removal stands.
    DWORD dwError = GetLastError();
    LogTrace("UnInstallClassDevice SetupDiDeleteDevRegKey failed for %s\n", static_cast<LPCSTR>(fragment));
    return dwError == ERROR_NO_SUCH_DEVINST;
}

}

BOOL InstallClassDevice(LPCWSTR lpszClassName, LPCWSTR lpszDeviceName, LPCWSTR lpszDescription,
    BOOL bMatchDescription)
{
    BOOL bRet = FALSE;
    CDeviceRecords records;
    GUID guid;
    if (AllocateRecords("InstallClassDevice", records)) {
        if (!FindClassGuid("InstallClassDevice", lpszClassName, guid, bRet)) {
            records.Free();
        } else {
            HDEVINFO hDevInfo = SetupDiCreateDeviceInfoList(&guid, nullptr);
            if (hDevInfo == INVALID_HANDLE_VALUE) {
                LogTrace("InstallClassDevice SetupDiCreateDeviceInfoList %u\n", 0u);
                records.Free();
            } else {
                if (!SetupDiCreateDeviceInfoW(hDevInfo, lpszDeviceName, &guid, lpszDescription, nullptr,
                        DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS, records.pDevInfoData)) {
                    LogTrace("InstallClassDevice SetupDiCreateDeviceInfo failed for %s\n",
                        static_cast<LPCSTR>(CLogText(lpszDeviceName)));
                } else if (!SetupDiBuildDriverInfoList(hDevInfo, records.pDevInfoData, SPDIT_CLASSDRIVER)) {
                    LogTrace("InstallClassDevice SetupDiBuildDriverInfoList failed for %s\n",
                        static_cast<LPCSTR>(CLogText(lpszDeviceName)));
                } else if (ChooseDriver(hDevInfo, records, lpszDescription, bMatchDescription)) {
                    bRet = InstallCreatedDevice(hDevInfo, records, lpszDescription);
                }
                DestroySet(hDevInfo, records);
            }
        }
    }
    LogTrace("InstallClassDevice exit with BOOLEAN %u\n", static_cast<UINT>(bRet));
    return bRet;
}

BOOL UnInstallClassDevice(LPCWSTR lpszClassName, LPCWSTR lpszIdFragment)
{
    BOOL bRet = FALSE;
    CDeviceRecords records;
    GUID guid;
    if (AllocateRecords("UnInstallClassDevice", records)) {
        if (!FindClassGuid("UnInstallClassDevice", lpszClassName, guid, bRet)) {
            records.Free();
        } else {
            HDEVINFO hDevInfo = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT);
            if (hDevInfo == INVALID_HANDLE_VALUE) {
                LogTrace("UnInstallClassDevice SetupDiGetClassDevs failed for %s\n",
                    static_cast<LPCSTR>(CLogText(lpszClassName)));
                records.Free();
            } else {
                bRet = TRUE;
                if (FindDevice(hDevInfo, records, lpszIdFragment))
                    bRet = RemoveFoundDevice(hDevInfo, records, lpszIdFragment);
                DestroySet(hDevInfo, records);
            }
        }
    }
    LogTrace("UnInstallClassDevice exit with %u\n", static_cast<UINT>(bRet));
    return bRet;
}
