#include "InstIntroPage.h"

#include "WizPropSheet.h"

#include "res/resource.h"

const CRuntimeClass CInstIntroPage::classCInstIntroPage = { "CInstIntroPage", sizeof(CInstIntroPage),
    &CInstIntroPage::CreateObject, &CPropertyPage::classCPropertyPage };

const CRuntimeClass* CInstIntroPage::GetRuntimeClass() const
{
    return &classCInstIntroPage;
}

CObject* CInstIntroPage::CreateObject()
{
    return new CInstIntroPage;
}

CInstIntroPage::CInstIntroPage()
    : CPropertyPage(IDD_INSTALL_WELCOME, 0)
    , m_hResLib(nullptr)
    , m_pSheet(nullptr)
    , m_nCaptionID(0)
{
    m_psp.dwFlags &= ~PSP_HASHELP;
}

void CInstIntroPage::SetSheetInfo(CWizPropSheet* pSheet, HMODULE hResLib, UINT nCaptionID)
{
    m_pSheet = pSheet;
    m_hResLib = hResLib;
    m_nCaptionID = nCaptionID;
}

BOOL CInstIntroPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    char szTitle[256] = "";
    LoadStringA(m_hResLib, m_nCaptionID, szTitle, sizeof szTitle);
    m_pSheet->SetTitle(szTitle, 0);
    return TRUE;
}

BOOL CInstIntroPage::OnSetActive()
{
    BOOL bRet = CPropertyPage::OnSetActive();
    if (bRet)
        m_pSheet->SetWizardButtons(PSWIZB_NEXT);
    return bRet;
}
