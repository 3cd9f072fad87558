#include "InstReportOKPage.h"

#include "DriverListBox.h"
#include "WizPropSheet.h"

#include "driver/DriverList.h"
#include "res/resource.h"

#include <cstring>

const CRuntimeClass CInstReportOKPage::classCInstReportOKPage = { "CInstReportOKPage", sizeof(CInstReportOKPage),
    &CInstReportOKPage::CreateObject, &CPropertyPage::classCPropertyPage };

const CRuntimeClass* CInstReportOKPage::GetRuntimeClass() const
{
    return &classCInstReportOKPage;
}

CObject* CInstReportOKPage::CreateObject()
{
    return new CInstReportOKPage;
}

CInstReportOKPage::CInstReportOKPage()
    : CPropertyPage(IDD_INSTALL_SUCCESS, 0)
    , m_pDriverList(nullptr)
    , m_pSheet(nullptr)
{
    m_psp.dwFlags &= ~PSP_HASHELP;
}

void CInstReportOKPage::SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList)
{
    m_pSheet = pSheet;
    m_pDriverList = pDriverList;
}

BOOL CInstReportOKPage::OnSetActive()
{
    BOOL bRet = CPropertyPage::OnSetActive();
    m_pSheet->SetWizardButtons(PSWIZB_FINISH);
    if (HWND hSheet = m_pSheet->GetSafeHwnd())
        EnumChildWindows(hSheet, DisableCancelButtonProc, 0);

    char szReport[1024];
    std::memset(szReport, 0, sizeof szReport);
    POSITION position = nullptr;
    if (m_pDriverList->Rewind(position) && m_pDriverList->Next(position)) {
        UINT uState = DRV_S_NONE;
        if (m_pDriverList->GetInfo(position, &uState) == ST_SUCCESS && uState == DRV_S_STARTED) {
            char szName[256] = "";
            m_pDriverList->GetName(position, szName, sizeof szName);
            std::strcat(szReport, szName);
            std::strcat(szReport, "\r\n");
        }
    }
    if (CWnd* pReport = GetDlgItem(IDC_REPORT))
        pReport->SetWindowText(szReport);
    return bRet;
}
