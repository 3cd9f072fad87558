// The install sequence: the driver, the modem device and its registry
// values, the control-panel applet and the further services.
#include "InstallSequence.h"

#include "ClassDevice.h"
#include "ModemRegistry.h"

#include "app/SetupLog.h"
#include "driver/DriverList.h"
#include "wizard/InstDriverPage.h"
#include "wizard/WizPropSheet.h"

#include <setupapi.h>

#include <cstdio>
#include <cstring>

char g_szModemServices[MODEM_SERVICES_MAX][MODEM_SERVICE_NAME_LENGTH];

namespace {

constexpr char servicesSection[] = "TAVRELIN_DATAFAX_QZV.Services";
constexpr char errorCaption[] = "Modem Install Error";

void StartControlPanelApplet()
{
    // CreateProcessA may write into the command line.
    char szCommandLine[] = "rundll32.exe shell32.dll,Control_RunDLL nyvcpl.cpl";
    STARTUPINFOA startupInfo;
    std::memset(&startupInfo, 0, sizeof startupInfo);
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo;
    if (CreateProcessA(nullptr, szCommandLine, nullptr, nullptr, FALSE,
            CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startupInfo, &processInfo)) {
        CloseHandle(processInfo.hThread);
        CloseHandle(processInfo.hProcess);
    }
}

}

BOOL ReadModemServiceNames(int* pnCount)
{
    *pnCount = 0;
    UINT nErrorLine = 0;
    // A bare name: the copy in the system's INF directory, not the one
    // beside the program.
    HINF hInf = SetupOpenInfFileA("drv_meq.inf", nullptr, INF_STYLE_WIN4, &nErrorLine);
    if (hInf == INVALID_HANDLE_VALUE)
        return FALSE;
    INFCONTEXT context;
    if (SetupFindFirstLineA(hInf, servicesSection, nullptr, &context)) {
        // The first line installs the driver itself, which is running by now.
        BOOL bLine = SetupFindNextLine(&context, &context);
        while (bLine && *pnCount < MODEM_SERVICES_MAX) {
            if (!SetupGetStringFieldA(&context, 1, g_szModemServices[*pnCount], MODEM_SERVICE_NAME_LENGTH, nullptr)
                || !SetupGetStringFieldA(&context, 2, nullptr, 0, nullptr))
                break;
            ++*pnCount;
            bLine = SetupFindNextLine(&context, &context);
        }
    }
    SetupCloseInfFile(hInf);
    return TRUE;
}

UINT CInstDriverPage::InstallDrivers(HWND hOwner)
{
    UINT uRet = ST_SUCCESS;
    POSITION position = nullptr;
    if (m_pDriverList->Rewind(position) && m_pDriverList->Next(position))
        uRet = InstallFirstDriver(position, hOwner);
    LogTrace("CInstDriverPage::InstallDrivers returning UINT %u\n", uRet);
    return uRet;
}

UINT CInstDriverPage::InstallFirstDriver(POSITION position, HWND hOwner)
{
    UINT uRet = m_pDriverList->InstallAndStart(position, hOwner);
    if (uRet != ST_SUCCESS)
        return uRet;

    char szServiceName[256] = "";
    char szHardwareId[256] = "";
    char szDescription[256] = "";
    m_pDriverList->GetDriverServiceName(position, szServiceName, sizeof szServiceName);
    if (GetTheModemPlugAngPlayIdString(szServiceName, szHardwareId, sizeof szHardwareId)) {
        m_pDriverList->SetPnPEnumID(position, szHardwareId);
        if (GetTheInfFileDescription(szHardwareId, szDescription, sizeof szDescription))
            m_pDriverList->SetName(position, szDescription);
    }
    m_pDriverList->GetPnPEnumID(position, szHardwareId, sizeof szHardwareId);
    m_pDriverList->GetName(position, szDescription, sizeof szDescription);

    WCHAR wszHardwareId[256];
    WCHAR wszDescription[256];
    MultiByteToWideChar(CP_ACP, 0, szHardwareId, sizeof szHardwareId, wszHardwareId, 256);
    MultiByteToWideChar(CP_ACP, 0, szDescription, sizeof szDescription, wszDescription, 256);

    static const WCHAR wszModem[] = { 'M', 'o', 'd', 'e', 'm', 0 };
    if (!InstallClassDevice(wszModem, wszHardwareId, wszDescription, TRUE))
        return ST_MODEM_CANT_INSTALL_CLASS_DEVICE;

    HKEY hClassKey = FindOurControlClass(szHardwareId);
    if (!hClassKey)
        return ST_MODEM_CANT_FIND_CONTROL_CLASS;
    char szComPort[256] = "";
    if (!FetchAttachedTo(szServiceName, szComPort)) {
        RegCloseKey(hClassKey);
        return ST_MODEM_CANT_FETCH_ATTACHED_TO;
    }
    if (!AddAttachedToStringToRegistry(hClassKey, szComPort)) {
        RegCloseKey(hClassKey);
        return ST_MODEM_CANT_ADD_ATTACHED_TO;
    }
    BOOL bCountryKnown = AddCurrentCountryStringToRegistry(hClassKey, m_bCountryGiven, m_wCountry);
    RegCloseKey(hClassKey);

    if (!m_pSheet->m_bSilent && !bCountryKnown)
        StartControlPanelApplet();

    StartModemServices();
    return ST_SUCCESS;
}

void CInstDriverPage::StartModemServices()
{
    int nCount = 0;
    ReadModemServiceNames(&nCount);
    SC_HANDLE hManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!hManager)
        MessageBoxA(nullptr, "Could not open a handle to the Service Control Manager", errorCaption, MB_ICONERROR);
    for (int i = 0; i < nCount; ++i) {
        SC_HANDLE hService = OpenServiceA(hManager, g_szModemServices[i], SERVICE_ALL_ACCESS);
        if (!hService) {
            char szText[100];
            std::snprintf(szText, sizeof szText, "Could not open a handle to %.49s service", g_szModemServices[i]);
            MessageBoxA(nullptr, szText, errorCaption, MB_ICONERROR);
            continue;
        }
        StartServiceA(hService, 0, nullptr);
        CloseServiceHandle(hService);
    }
    if (hManager)
        CloseServiceHandle(hManager);
}
