#include "InstDriverPage.h"

#include "DriverListBox.h"
#include "WizPropSheet.h"

#include "driver/DriverList.h"
#include "res/resource.h"

const CRuntimeClass CInstDriverPage::classCInstDriverPage = { "CInstDriverPage", sizeof(CInstDriverPage),
    &CInstDriverPage::CreateObject, &CPropertyPage::classCPropertyPage };

const CRuntimeClass* CInstDriverPage::GetRuntimeClass() const
{
    return &classCInstDriverPage;
}

CObject* CInstDriverPage::CreateObject()
{
    return new CInstDriverPage;
}

CInstDriverPage::CInstDriverPage()
    : CPropertyPage(IDD_INSTALL_DRIVER, 0)
    , m_bCountryGiven(FALSE)
    , m_pDriverList(nullptr)
    , m_pListBox(nullptr)
    , m_pSheet(nullptr)
    , m_wCountry(0)
{
    m_psp.dwFlags &= ~PSP_HASHELP;
}

CInstDriverPage::~CInstDriverPage()
{
    delete m_pListBox;
}

void CInstDriverPage::SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList)
{
    m_pSheet = pSheet;
    m_pDriverList = pDriverList;
    m_bCountryGiven = pSheet->m_bCountryGiven;
    m_wCountry = pSheet->m_wCountry;
}

BOOL CInstDriverPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_pListBox = new CDriverListBox(this);
    m_pListBox->CreateDriverListBox();
    return TRUE;
}

BOOL CInstDriverPage::OnSetActive()
{
    m_pSheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
    if (!CPropertyPage::OnSetActive())
        return FALSE;
    if (m_pListBox)
        ClearListBox(m_pListBox);
    POSITION position = nullptr;
    BOOL bAny = m_pDriverList->Rewind(position);
    if (bAny && m_pDriverList->Next(position)) {
        char szName[256] = "";
        m_pDriverList->GetName(position, szName, sizeof szName);
        if (m_pListBox)
            m_pListBox->AddString(szName);
    }
    return bAny;
}

LRESULT CInstDriverPage::OnWizardNext()
{
    CWnd* pParent = GetParent();
    UINT uStatus = InstallDrivers(pParent ? pParent->GetSafeHwnd() : nullptr);
    if (uStatus == ST_SUCCESS)
        return IDD_INSTALL_SUCCESS;
    m_pSheet->ShowErrorMessage(uStatus, MB_OK);
    return IDD_INSTALL_FAILURE;
}
