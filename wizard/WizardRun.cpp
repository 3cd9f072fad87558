#include "WizardRun.h"

#include "InstDriverPage.h"
#include "UninstIntroPage.h"
#include "WizPropSheet.h"

#include <cstring>
#include <new>

namespace {

// The setup INF beside the program, whatever the current directory.
bool SetupInfPath(char (&szPath)[512])
{
    char szModule[512];
    DWORD n = GetModuleFileNameA(nullptr, szModule, sizeof szModule);
    if (n == 0 || n >= sizeof szModule)
        return false;
    LPSTR lpszFilePart = nullptr;
    n = GetFullPathNameA(szModule, sizeof szPath, szPath, &lpszFilePart);
    if (n == 0 || n >= sizeof szPath)
        return false;
    char* pSlash = std::strrchr(szPath, '\\');
    if (!pSlash)
        return false;
    static const char infName[] = "DRV_MEQ.INF";
    if (static_cast<size_t>(pSlash + 1 - szPath) + sizeof infName > sizeof szPath)
        return false;
    std::strcpy(pSlash + 1, infName);
    return true;
}

}

void RunWizard(BOOL bInstall, HMODULE hResLib, UINT nCaptionID, BOOL bSilent, BOOL bCountryGiven, WORD wCountry,
    BOOL bLog)
{
    CWizPropSheet* pSheet
        = new (std::nothrow) CWizPropSheet(bInstall, hResLib, nCaptionID, bSilent, bCountryGiven, wCountry, bLog);
    if (!pSheet)
        return;
    char szInfPath[512] = "";
    SetupInfPath(szInfPath);
    if (pSheet->InitWizard(szInfPath, "Models")) {
        if (!bSilent)
            pSheet->DoModal();
        else if (bInstall)
            pSheet->m_pInstDriverPage->InstallDrivers(pSheet->GetSafeHwnd());
        else
            pSheet->m_pUninstIntroPage->UninstallDrivers(pSheet->GetSafeHwnd());
    }
    delete pSheet;
}
