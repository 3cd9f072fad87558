#include "UninstIntroPage.h"

#include "DriverListBox.h"
#include "WizPropSheet.h"

#include "driver/DriverList.h"
#include "res/resource.h"

const CRuntimeClass CUninstIntroPage::classCUninstIntroPage = { "CUninstIntroPage", sizeof(CUninstIntroPage),
    &CUninstIntroPage::CreateObject, &CPropertyPage::classCPropertyPage };

const CRuntimeClass* CUninstIntroPage::GetRuntimeClass() const
{
    return &classCUninstIntroPage;
}

CObject* CUninstIntroPage::CreateObject()
{
    return new CUninstIntroPage;
}

CUninstIntroPage::CUninstIntroPage()
    : CPropertyPage(IDD_UNINSTALL_FIRST, 0)
    , m_pDriverList(nullptr)
    , m_hResLib(nullptr)
    , m_pListBox(nullptr)
    , m_pSheet(nullptr)
    , m_nCaptionID(0)
{
    m_psp.dwFlags &= ~PSP_HASHELP;
}

CUninstIntroPage::~CUninstIntroPage()
{
    delete m_pListBox;
}

void CUninstIntroPage::SetSheetInfo(CWizPropSheet* pSheet, HMODULE hResLib, UINT nCaptionID, CDriverList* pDriverList)
{
    m_pSheet = pSheet;
    m_hResLib = hResLib;
    m_nCaptionID = nCaptionID;
    m_pDriverList = pDriverList;
}

BOOL CUninstIntroPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    char szTitle[256] = "";
    LoadStringA(m_hResLib, m_nCaptionID, szTitle, sizeof szTitle);
    m_pSheet->SetTitle(szTitle, 0);
    m_pListBox = new CDriverListBox(this);
    m_pListBox->CreateDriverListBox();
    return TRUE;
}

BOOL CUninstIntroPage::OnSetActive()
{
    if (m_pListBox)
        ClearListBox(m_pListBox);
    POSITION position = nullptr;
    if (m_pDriverList->Rewind(position) && m_pDriverList->Next(position)) {
        char szName[256] = "";
        m_pDriverList->GetName(position, szName, sizeof szName);
        if (m_pListBox)
            m_pListBox->AddString(szName);
    }
    m_pSheet->SetWizardButtons(PSWIZB_NEXT);
    return CPropertyPage::OnSetActive();
}
