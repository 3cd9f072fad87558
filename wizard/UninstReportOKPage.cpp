#include "UninstReportOKPage.h"

#include "DriverListBox.h"
#include "WizPropSheet.h"

#include "driver/DriverList.h"
#include "res/resource.h"

#include <cstring>

const CRuntimeClass CUninstReportOKPage::classCUninstReportOKPage = { "CUninstReportOKPage",
    sizeof(CUninstReportOKPage), &CUninstReportOKPage::CreateObject, &CPropertyPage::classCPropertyPage };

const CRuntimeClass* CUninstReportOKPage::GetRuntimeClass() const
{
    return &classCUninstReportOKPage;
}

CObject* CUninstReportOKPage::CreateObject()
{
    return new CUninstReportOKPage;
}

CUninstReportOKPage::CUninstReportOKPage()
    : CPropertyPage(IDD_UNINSTALL_REPORT, 0)
    , m_pDriverList(nullptr)
    , m_pSheet(nullptr)
{
    m_psp.dwFlags &= ~PSP_HASHELP;
}

void CUninstReportOKPage::SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList)
{
    m_pSheet = pSheet;
    m_pDriverList = pDriverList;
}

BOOL CUninstReportOKPage::OnSetActive()
{
    m_pSheet->SetWizardButtons(PSWIZB_FINISH);
    if (HWND hSheet = m_pSheet->GetSafeHwnd())
        EnumChildWindows(hSheet, DisableCancelButtonProc, 0);

    char szReport[512];
    std::memset(szReport, 0, sizeof szReport);
    POSITION position = nullptr;
    if (m_pDriverList->Rewind(position) && m_pDriverList->Next(position)) {
        char szName[256] = "";
        m_pDriverList->GetName(position, szName, sizeof szName);
        std::strcat(szReport, szName);
        std::strcat(szReport, "\r\n");
    }
    if (CWnd* pReport = GetDlgItem(IDC_REPORT))
        pReport->SetWindowText(szReport);
    return CPropertyPage::OnSetActive();
}
