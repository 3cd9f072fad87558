#include "InstReportFailPage.h"

#include "WizPropSheet.h"

#include "res/resource.h"

const CRuntimeClass CInstReportFailPage::classCInstReportFailPage = { "CInstReportFailPage",
    sizeof(CInstReportFailPage), &CInstReportFailPage::CreateObject, &CPropertyPage::classCPropertyPage };

const CRuntimeClass* CInstReportFailPage::GetRuntimeClass() const
{
    return &classCInstReportFailPage;
}

CObject* CInstReportFailPage::CreateObject()
{
    return new CInstReportFailPage;
}

CInstReportFailPage::CInstReportFailPage()
    : CPropertyPage(IDD_INSTALL_FAILURE, 0)
    , m_pDriverList(nullptr)
    , m_pSheet(nullptr)
{
    m_psp.dwFlags &= ~PSP_HASHELP;
}

void CInstReportFailPage::SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList)
{
    m_pSheet = pSheet;
    m_pDriverList = pDriverList;
}

BOOL CInstReportFailPage::OnSetActive()
{
    m_pSheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
    return CPropertyPage::OnSetActive();
}

LRESULT CInstReportFailPage::OnWizardBack()
{
    // Back to the driver page, not to the success page before this one.
    return IDD_INSTALL_DRIVER;
}
