// Installation and removal of the driver through the setup INF's sections.
#include "Driver.h"

#include "app/SetupLog.h"

#include <setupapi.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr char servicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
// The setup INF's own name, cut from its path to leave the source directory.
constexpr size_t infNameLength = sizeof "DRV_MEQ.INF" - 1;

// A section name formed from another and a suffix ("%s.%s"), cut to the
// 260-character buffer it is built in.
void FormSectionName(char (&szOut)[260], LPCSTR lpszBase, LPCSTR lpszSuffix)
{
    size_t nBase = std::min(std::strlen(lpszBase), sizeof szOut - 1);
    std::memcpy(szOut, lpszBase, nBase);
    size_t nSuffix = std::min(std::strlen(lpszSuffix), sizeof szOut - 1 - nBase);
    std::memcpy(szOut + nBase, lpszSuffix, nSuffix);
    szOut[nBase + nSuffix] = 0;
}

// Opens the setup INF, logging "<operation> %u (...)" when it cannot.
HINF OpenSetupInf(LPCSTR lpszOperation, LPCSTR lpszInfPath, UINT* puStatus)
{
    UINT nErrorLine = 0;
    HINF hInf = SetupOpenInfFileA(lpszInfPath, nullptr, INF_STYLE_WIN4, &nErrorLine);
    if (hInf != INVALID_HANDLE_VALUE)
        return hInf;
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        *puStatus = ST_INF_FILE_NOT_FOUND;
        LogTrace("%s %u (ST_INF_FILE_NOT_FOUND)\n", lpszOperation, *puStatus);
    } else {
        *puStatus = ST_INF_CANT_OPEN_INF_FILE;
        LogTrace("%s %u (ST_INF_CANT_OPEN_INF_FILE)\n", lpszOperation, *puStatus);
    }
    return INVALID_HANDLE_VALUE;
}

BOOL InstallSectionWithDefaultQueue(HWND hOwner, HINF hInf, LPCSTR lpszSection, HKEY hRelativeKeyRoot,
    LPCSTR lpszSourceRoot, UINT nCopyFlags)
{
    PVOID pContext = SetupInitDefaultQueueCallback(hOwner);
    if (!pContext)
        return FALSE;
    BOOL bOk = SetupInstallFromInfSectionA(hOwner, hInf, lpszSection, SPINST_ALL, hRelativeKeyRoot, lpszSourceRoot,
        nCopyFlags, SetupDefaultQueueCallbackA, pContext, nullptr, nullptr);
    SetupTermDefaultQueueCallback(pContext);
    return bOk;
}

BOOL CALLBACK CloseIfControlPanel(HWND hWnd, LPARAM)
{
    char szTitle[256] = "";
    GetWindowTextA(hWnd, szTitle, sizeof szTitle);
    if (lstrcmpA(szTitle, "Control Panel") != 0)
        return TRUE;
    SendMessageA(hWnd, WM_CLOSE, 0, 0);
    return FALSE;
}

}

UINT CDriver::GetDriverServiceName(LPSTR lpszBuffer, UINT nLength)
{
    UINT uRet = ST_SUCCESS;
    if (!m_szServiceName[0]) {
        LogTrace("GetDriverServiceName calling SetupOpenInfFile for %s\n", m_szInfPath);
        HINF hInf = OpenSetupInf("GetDriverServiceName", m_szInfPath, &uRet);
        if (hInf != INVALID_HANDLE_VALUE) {
            char szSection[260];
            FormSectionName(szSection, m_szInfSection, ".Services");
            LogTrace("GetDriverServiceName looking for %s\n", szSection);
            INFCONTEXT context;
            if (!SetupFindFirstLineA(hInf, szSection, "AddService", &context)) {
                uRet = ST_INF_NO_ADDSERVICE_KEY;
                LogTrace("GetDriverServiceName %u (ST_INF_NO_ADDSERVICE_KEY)\n", uRet);
            } else if (!SetupGetStringFieldA(&context, 1, m_szServiceName, sizeof m_szServiceName, nullptr)
                || !m_szServiceName[0]) {
                // A failed read must not leave part of a name behind.
                m_szServiceName[0] = 0;
                uRet = ST_INF_NO_ADDSERVICE_NAME;
                LogTrace("GetDriverServiceName %u (ST_INF_NO_ADDSERVICE_NAME)\n", uRet);
            }
            SetupCloseInfFile(hInf);
        }
    }
    if (lpszBuffer && std::strlen(m_szServiceName) < nLength) {
        std::strcpy(lpszBuffer, m_szServiceName);
        LogTrace("GetDriverServiceName %s\n", lpszBuffer);
    }
    if (uRet == ST_SUCCESS)
        LogTrace("GetDriverServiceName got %s\n", m_szServiceName);
    LogTrace("GetDriverServiceName exit with uRet %u\n", uRet);
    return uRet;
}

UINT CDriver::Install(HWND hOwner)
{
    UINT uState = DRV_S_NONE;
    UINT uRet = GetInfo(&uState);
    if (uRet == ST_SUCCESS && uState == DRV_S_STARTED) {
        uRet = ST_DRV_CANT_INSTALL_ALREADY_INSTALLED;
        LogTrace("Install %u (ST_DRV_CANT_INSTALL_ALREADY_INSTALLED)\n", uRet);
    }
    if (uRet != ST_SUCCESS) {
        LogTrace("Install exit with uRet %u\n", uRet);
        return uRet;
    }

    HINF hInf = OpenSetupInf("Install", m_szInfPath, &uRet);
    if (hInf == INVALID_HANDLE_VALUE) {
        LogTrace("Install exit with uRet %u\n", uRet);
        return uRet;
    }

    HKEY hServices = nullptr;
    HKEY hServiceKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, servicesKey, 0, STANDARD_RIGHTS_REQUIRED | KEY_CREATE_SUB_KEY, &hServices)
        != ERROR_SUCCESS) {
        uRet = ST_REG_CANT_OPEN_SERVICES_KEY;
        LogTrace("Install %u (ST_REG_CANT_OPEN_SERVICES_KEY)\n", uRet);
    } else {
        LONG lResult = RegCreateKeyExA(hServices, m_szServiceName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
            nullptr, &hServiceKey, nullptr);
        RegCloseKey(hServices);
        if (lResult != ERROR_SUCCESS) {
            uRet = ST_REG_CANT_CREATE_SERVICE_ROOT_KEY;
            LogTrace("Install %u (ST_REG_CANT_CREATE_SERVICE_ROOT_KEY)\n", uRet);
        }
    }

    if (uRet == ST_SUCCESS) {
        char szSourceRoot[256] = "";
        size_t nPath = std::strlen(m_szInfPath);
        if (nPath >= infNameLength) {
            std::memcpy(szSourceRoot, m_szInfPath, nPath - infNameLength);
            szSourceRoot[nPath - infNameLength] = 0;
        }
        BOOL bOk = InstallSectionWithDefaultQueue(hOwner, hInf, m_szInfSection, hServiceKey, szSourceRoot,
            SP_COPY_NEWER | SP_COPY_NOSKIP);
        RegCloseKey(hServiceKey);
        if (!bOk) {
            uRet = ST_INF_CANT_INSTALL_FILES;
            LogTrace("Install %u (ST_INF_CANT_INSTALL_FILES)\n", uRet);
        }
    }

    if (uRet == ST_SUCCESS) {
        char szSection[260];
        FormSectionName(szSection, m_szInfSection, ".Services");
        if (!SetupInstallServicesFromInfSectionA(hInf, szSection, 0)) {
            uRet = ST_INF_CANT_INSTALL_SERVICE;
            LogTrace("Install %u (ST_INF_CANT_INSTALL_SERVICE)\n", uRet);
        }
    }

    SetupCloseInfFile(hInf);
    LogTrace("Install exit with uRet %u\n", uRet);
    return uRet;
}

UINT CDriver::Uninstall(HWND hOwner)
{
    UINT uState = DRV_S_NONE;
    UINT uRet = GetInfo(&uState);
    if (uRet == ST_SUCCESS && uState == DRV_S_STARTED) {
        uRet = ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING;
        // The line has always been written without its closing parenthesis;
        // readers of old logs match it as it is.
        LogTrace("Uninstall %u (ST_DRV_CANT_UNINSTALL_SERVICE_RUNNING\n", uRet);
    }
    if (uRet != ST_SUCCESS) {
        LogTrace("Uninstall exit with uRet %u\n", uRet);
        return uRet;
    }

    HINF hInf = OpenSetupInf("Uninstall", m_szInfPath, &uRet);
    if (hInf == INVALID_HANDLE_VALUE) {
        LogTrace("Uninstall exit with uRet %u\n", uRet);
        return uRet;
    }

    char szUninstall[260];
    char szUninstallServices[260];
    FormSectionName(szUninstall, m_szInfSection, ".Uninstall");
    FormSectionName(szUninstallServices, szUninstall, ".Services");

    if (!SetupInstallServicesFromInfSectionA(hInf, szUninstallServices, 0)) {
        uRet = ST_INF_CANT_UNINSTALL_SERVICE;
        LogTrace("Uninstall %u (ST_INF_CANT_UNINSTALL_SERVICE)\n", uRet);
    }

    CloseControlPanelWindow();

    if (!InstallSectionWithDefaultQueue(hOwner, hInf, szUninstall, nullptr, nullptr, 0) && uRet == ST_SUCCESS) {
        uRet = ST_INF_CANT_UNINSTALL_FILES;
        LogTrace("Uninstall %u (ST_INF_CANT_UNINSTALL_FILES)\n", uRet);
    }

    SetupCloseInfFile(hInf);
    LogTrace("Uninstall exit with uRet %u\n", uRet);
    return uRet;
}

void CloseControlPanelWindow()
{
    EnumWindows(CloseIfControlPanel, 0);
}
