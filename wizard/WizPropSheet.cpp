#include "WizPropSheet.h"

#include "InstDriverPage.h"
#include "InstIntroPage.h"
#include "InstReportFailPage.h"
#include "InstReportOKPage.h"
#include "UninstIntroPage.h"
#include "UninstReportOKPage.h"

#include "driver/DriverList.h"
#include "res/resource.h"

#include <new>

const CRuntimeClass CWizPropSheet::classCWizPropSheet = { "CWizPropSheet", sizeof(CWizPropSheet), nullptr,
    &CPropertySheet::classCPropertySheet };

const CRuntimeClass* CWizPropSheet::GetRuntimeClass() const
{
    return &classCWizPropSheet;
}

CWizPropSheet::CWizPropSheet(BOOL bInstall, HMODULE hResLib, UINT nCaptionID, BOOL bSilent, BOOL bCountryGiven,
    WORD wCountry, BOOL bLog)
    : CPropertySheet(nCaptionID, nullptr, 0)
    , m_pInstIntroPage(nullptr)
    , m_pInstDriverPage(nullptr)
    , m_pInstReportOKPage(nullptr)
    , m_pInstReportFailPage(nullptr)
    , m_pUninstIntroPage(nullptr)
    , m_pUninstReportOKPage(nullptr)
    , m_pDriverList(nullptr)
    , m_bCountryGiven(static_cast<BOOLEAN>(bCountryGiven))
    , m_bInstall(static_cast<BOOLEAN>(bInstall))
    , m_bLog(static_cast<BOOLEAN>(bLog))
    , m_bSilent(static_cast<BOOLEAN>(bSilent))
    , m_wCountry(wCountry)
    , m_hResLib(hResLib)
    , m_nCaptionID(nCaptionID)
{
    m_psh.dwFlags &= ~PSH_HASHELP;
}

CWizPropSheet::~CWizPropSheet()
{
    delete m_pInstIntroPage;
    delete m_pInstDriverPage;
    delete m_pInstReportOKPage;
    delete m_pInstReportFailPage;
    delete m_pUninstIntroPage;
    delete m_pUninstReportOKPage;
    delete m_pDriverList;
}

BOOL CWizPropSheet::InitWizard(LPCSTR lpszInfPath, LPCSTR lpszSection)
{
    m_pDriverList = new (std::nothrow) CDriverList(lpszInfPath, lpszSection);
    POSITION position = nullptr;
    if (!m_pDriverList || !m_pDriverList->Rewind(position)) {
        ShowErrorMessage(ST_INF_FILE_NOT_FOUND, MB_OK);
        return FALSE;
    }

    if (m_bInstall) {
        m_pInstIntroPage = new (std::nothrow) CInstIntroPage;
        m_pInstDriverPage = new (std::nothrow) CInstDriverPage;
        m_pInstReportOKPage = new (std::nothrow) CInstReportOKPage;
        m_pInstReportFailPage = new (std::nothrow) CInstReportFailPage;
        if (!m_pInstIntroPage || !m_pInstDriverPage || !m_pInstReportOKPage || !m_pInstReportFailPage)
            return FALSE;
        m_pInstIntroPage->SetSheetInfo(this, m_hResLib, m_nCaptionID);
        m_pInstDriverPage->SetSheetInfo(this, m_pDriverList);
        m_pInstReportOKPage->SetSheetInfo(this, m_pDriverList);
        m_pInstReportFailPage->SetSheetInfo(this, m_pDriverList);
        AddPage(m_pInstIntroPage);
        AddPage(m_pInstDriverPage);
        AddPage(m_pInstReportOKPage);
        AddPage(m_pInstReportFailPage);
    } else {
        m_pUninstIntroPage = new (std::nothrow) CUninstIntroPage;
        m_pUninstReportOKPage = new (std::nothrow) CUninstReportOKPage;
        if (!m_pUninstIntroPage || !m_pUninstReportOKPage)
            return FALSE;
        m_pUninstIntroPage->SetSheetInfo(this, m_hResLib, m_nCaptionID, m_pDriverList);
        m_pUninstReportOKPage->SetSheetInfo(this, m_pDriverList);
        AddPage(m_pUninstIntroPage);
        AddPage(m_pUninstReportOKPage);
    }
    SetWizardMode();
    return TRUE;
}

UINT CWizPropSheet::GetErrorStringID(UINT uStatus)
{
    switch (uStatus) {
    case ST_DRV_CANT_INSTALL_ALREADY_INSTALLED:
    case ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING:
        return IDS_ALREADY_INSTALLED;
    case ST_INF_CANT_INSTALL_FILES:
    case ST_INF_CANT_INSTALL_SERVICE:
    case ST_INF_CANT_OPEN_INF_FILE:
    case ST_INF_CANT_UNINSTALL_FILES:
    case ST_INF_CANT_UNINSTALL_SERVICE:
    case ST_INF_FILE_NOT_FOUND:
    case ST_INF_NO_ADDSERVICE_KEY:
    case ST_INF_NO_ADDSERVICE_NAME:
    case ST_MODEM_CANT_FETCH_ATTACHED_TO:
        return IDS_BAD_SETUP_INF;
    case ST_MODEM_CANT_ADD_ATTACHED_TO:
    case ST_MODEM_CANT_FIND_CONTROL_CLASS:
    case ST_MODEM_CANT_INSTALL_CLASS_DEVICE:
        return IDS_BAD_MODEM_INF;
    case ST_REG_CANT_CREATE_SERVICE_ROOT_KEY:
    case ST_REG_CANT_OPEN_SERVICES_KEY:
    case ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED:
    case ST_SCM_CANT_STOP_SERVICE_ACCESS_DENIED:
        return IDS_NO_ACCESS;
    default:
        return 0;
    }
}

int CWizPropSheet::ShowErrorMessage(UINT uStatus, UINT nType)
{
    UINT nStringID = GetErrorStringID(uStatus);
    if (nStringID == 0)
        return 0;
    // A string the library lacks shows as an empty text, never as garbage.
    char szCaption[256] = "";
    char szText[256] = "";
    LoadStringA(m_hResLib, IDS_ERROR_CAPTION, szCaption, sizeof szCaption);
    LoadStringA(m_hResLib, nStringID, szText, sizeof szText);
    return MessageBoxA(GetSafeHwnd(), szText, szCaption, nType);
}
