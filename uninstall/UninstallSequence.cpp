// The uninstall in two stages: the driver stage on the first page's Next,
// the finish stage on the report page's Finish.
#include "UninstallSequence.h"

#include "KeyAccess.h"
#include "LegacyCleanup.h"

#include "app/SetupLog.h"
#include "driver/DriverList.h"
#include "install/ClassDevice.h"
#include "install/ModemRegistry.h"
#include "res/resource.h"
#include "wizard/UninstIntroPage.h"
#include "wizard/UninstReportOKPage.h"
#include "wizard/WizPropSheet.h"

#include <setupapi.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char deviceSpecificKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";

// A query into a 256-byte buffer whose value may lack its terminator.
LONG QueryString(HKEY hKey, LPCSTR lpszValue, char (&szData)[257])
{
    std::memset(szData, 0, sizeof szData);
    DWORD cbData = 256;
    return RegQueryValueExA(hKey, lpszValue, nullptr, nullptr, reinterpret_cast<BYTE*>(szData), &cbData);
}

}

UINT CUninstIntroPage::UninstallDrivers(HWND hOwner)
{
    UINT uRet = ST_SUCCESS;
    POSITION position = nullptr;
    if (m_pDriverList->Rewind(position) && m_pDriverList->Next(position)) {
        char szServiceName[256] = "";
        char szHardwareId[256] = "";
        m_pDriverList->GetDriverServiceName(position, szServiceName, sizeof szServiceName);
        // Read before the uninstall deletes the service key that holds it.
        if (GetTheModemPlugAngPlayIdString(szServiceName, szHardwareId, sizeof szHardwareId))
            m_pDriverList->SetPnPEnumID(position, szHardwareId);
        uRet = m_pDriverList->StopAndUninstall(position, hOwner);
        if (uRet != ST_SUCCESS) {
            m_pSheet->ShowErrorMessage(uRet, MB_OK);
        } else {
            char szRemoved[256] = "";
            m_pDriverList->GetDriverServiceName(position, szRemoved, sizeof szRemoved);
            RemoveEnumRootDriverKey(szRemoved);
            RemoveEnumHtreeDriverString(szRemoved);
            RemoveEventLogDriverKey(szRemoved);
        }
    }
    LogTrace("CUninstIntroPage::UninstallDrivers returning UINT %u\n", uRet);
    return uRet;
}

LRESULT CUninstIntroPage::OnWizardNext()
{
    CWnd* pParent = GetParent();
    UINT uRet = UninstallDrivers(pParent ? pParent->GetSafeHwnd() : nullptr);
    if (uRet != ST_SUCCESS) {
        LogTrace("CUninstIntroPage::OnWizardNext UninstallDrivers returned UINT %u\n", uRet);
        m_pSheet->ShowErrorMessage(uRet, MB_OK);
    }
    return IDD_UNINSTALL_REPORT;
}

BOOL CUninstReportOKPage::OnWizardFinish()
{
    POSITION position = nullptr;
    if (m_pDriverList->Rewind(position) && m_pDriverList->Next(position)) {
        char szHardwareId[256] = "";
        m_pDriverList->GetPnPEnumID(position, szHardwareId, sizeof szHardwareId);
        WCHAR wszHardwareId[256];
        MultiByteToWideChar(CP_ACP, 0, szHardwareId, sizeof szHardwareId, wszHardwareId, 256);

        // Looked up before the device goes: the lookup reads its keys.
        char szResponses[256] = "";
        if (FetchOurModemResponses(szResponses, szHardwareId))
            RemoveUnimodemResponses(szResponses);

        static const WCHAR wszModem[] = { 'M', 'o', 'd', 'e', 'm', 0 };
        if (UnInstallClassDevice(wszModem, wszHardwareId)) {
            StartDeferredFileRemoval(m_pDriverList);
            SetupPromptReboot(nullptr, GetSafeHwnd(), FALSE);
        }
    }
    return CPropertyPage::OnWizardFinish();
}

BOOLEAN FetchOurModemResponses(LPSTR lpszResponsesKeyName, LPCSTR lpszHardwareId)
{
    BOOLEAN bRet = FALSE;
    char szDevice[512];
    std::snprintf(szDevice, sizeof szDevice, "SYSTEM\\CurrentControlSet\\Enum\\Root\\%s\\0000", lpszHardwareId);
    LogTrace("FetchOurModemResponses Opening %s\n", szDevice);
    HKEY hDevice = nullptr;
    LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szDevice, 0, KEY_READ, &hDevice);
    if (lError != ERROR_SUCCESS) {
        LogTrace("FetchOurModemResponses RegOpenKeyEx returned %x\n", static_cast<UINT>(lError));
    } else {
        LogTrace("FetchOurModemResponses Opening %s\n", "Driver");
        char szDriver[257];
        lError = QueryString(hDevice, "Driver", szDriver);
        if (lError != ERROR_SUCCESS) {
            LogTrace("FetchOurModemResponses RegQueryValueEx returned %x\n", static_cast<UINT>(lError));
        } else {
            char szClass[512];
            std::snprintf(szClass, sizeof szClass, "SYSTEM\\CurrentControlSet\\Control\\Class\\%s", szDriver);
            LogTrace("FetchOurModemResponses Opening %s\n", szClass);
            HKEY hClass = nullptr;
            lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szClass, 0, KEY_READ, &hClass);
            if (lError != ERROR_SUCCESS) {
                LogTrace("FetchOurModemResponses RegOpenKeyEx returned %x\n", static_cast<UINT>(lError));
            } else {
                LogTrace("FetchOurModemResponses Opening %s\n", "ResponsesKeyName");
                char szResponses[257];
                lError = QueryString(hClass, "ResponsesKeyName", szResponses);
                if (lError != ERROR_SUCCESS) {
                    LogTrace("FetchOurModemResponses RegQueryValueEx returned %x\n", static_cast<UINT>(lError));
                } else {
                    LogTrace("FetchOurModemResponses Got %s\n", szResponses);
                    std::memcpy(lpszResponsesKeyName, szResponses, 255);
                    lpszResponsesKeyName[255] = 0;
                    bRet = TRUE;
                }
                RegCloseKey(hClass);
            }
        }
        RegCloseKey(hDevice);
    }
    LogTrace("FetchOurModemResponses bRet %u\n", static_cast<UINT>(bRet));
    return bRet;
}

BOOLEAN RemoveUnimodemResponses(LPCSTR lpszResponsesKeyName)
{
    BOOLEAN bRet = FALSE;
    // An empty name would make the deletion take the whole DeviceSpecific
    // key, every other modem's responses with it.
    if (lpszResponsesKeyName && lpszResponsesKeyName[0]) {
        LogTrace("RemoveUnimodemResponses Opening %s\n", deviceSpecificKey);
        HKEY hKey = nullptr;
        LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, deviceSpecificKey, 0, KEY_ALL_ACCESS, &hKey);
        if (lError != ERROR_SUCCESS) {
            LogTrace("RemoveUnimodemResponses RegOpenKeyEx returned %x\n", static_cast<UINT>(lError));
        } else {
            LogTrace("RemoveUnimodemResponses removing %s and all subkeys\n", lpszResponsesKeyName);
            bRet = KillThisKeyAndAllItsSubkeys(hKey, lpszResponsesKeyName);
            RegCloseKey(hKey);
        }
    }
    LogTrace("RemoveUnimodemResponses bRet %u\n", static_cast<UINT>(bRet));
    return bRet;
}
