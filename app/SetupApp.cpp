#include "SetupApp.h"

#include "CommandLine.h"
#include "SetupLog.h"
#include "res/resource.h"
#include "wizard/WizardRun.h"

namespace {

// The key whose protection the program must be able to change.
constexpr char deviceTreeKey[] = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";
constexpr char resourceLibrary[] = "setupres.dll";
constexpr char logFileName[] = "SETUP.TXT";

void ShowStartupError(HINSTANCE hTextModule, UINT nTextID, HINSTANCE hCaptionModule, UINT nCaptionID)
{
    char szText[256] = "";
    char szCaption[256] = "";
    LoadStringA(hTextModule, nTextID, szText, sizeof szText);
    LoadStringA(hCaptionModule, nCaptionID, szCaption, sizeof szCaption);
    MessageBoxA(nullptr, szText, szCaption, MB_OK);
}

}

CSetupApp::CSetupApp() = default;

const AfxCommandEntry* CSetupApp::GetCommandMap() const
{
    static const AfxCommandEntry commandMap[] = {
        { ID_HELP, &CWinApp::OnHelp },
        { 0, nullptr },
    };
    return commandMap;
}

BOOL CSetupApp::InitInstance()
{
    HINSTANCE hOwnModule = GetModuleHandleA(nullptr);

    if (!HasMMX()) {
        MessageBoxA(nullptr, "Can't Install Modem On a Non MMX Machine", "Brimlow Error", MB_ICONERROR);
        return FALSE;
    }

    Enable3dControlsStatic();

    CSetupOptions options = ReadCommandLineOptions(m_lpCmdLine);
    if (options.bLog) {
        theLog.Enable();
        theLog.SetFileName(logFileName);
    }

    HMODULE hResLib = LoadLibraryA(resourceLibrary);
    if (!hResLib) {
        ShowStartupError(hOwnModule, IDS_NO_RESOURCE_FILE, hOwnModule, IDS_INSTALL_ERROR);
        return FALSE;
    }
    AfxSetResourceHandle(hResLib);

    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, deviceTreeKey, 0, WRITE_DAC, &hKey) != ERROR_SUCCESS) {
        ShowStartupError(hResLib, IDS_NO_ACCESS, hOwnModule, IDS_INSTALL_ERROR);
        FreeLibrary(hResLib);
        return FALSE;
    }
    RegCloseKey(hKey);

    UINT nCaptionID = options.bInstall ? IDS_INSTALL_TITLE : IDS_UNINSTALL_TITLE;

    RunWizard(options.bInstall, hResLib, nCaptionID, options.bSilent, options.bCountryGiven, options.wCountry,
        options.bLog);

    FreeLibrary(hResLib);
    return FALSE;
}
