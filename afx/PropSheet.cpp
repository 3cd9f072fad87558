#include "PropSheet.h"

#include "WinApp.h"

#include <cstring>

BOOL AfxHelpEnabled()
{
    CWinApp* app = AfxGetApp();
    return app && app->RoutesCommand(ID_HELP);
}

const CRuntimeClass CPropertyPage::classCPropertyPage = { "CPropertyPage", sizeof(CPropertyPage), nullptr,
    &CWnd::classCWnd };

const CRuntimeClass* CPropertyPage::GetRuntimeClass() const
{
    return &classCPropertyPage;
}

CPropertyPage::CPropertyPage(UINT nIDTemplate, UINT nIDCaption)
    : m_psp()
    , m_szCaption()
{
    m_psp.dwSize = sizeof(m_psp);
    m_psp.dwFlags = AfxHelpEnabled() ? PSP_HASHELP : PSP_DEFAULT;
    m_psp.hInstance = AfxGetResourceHandle();
    m_psp.pszTemplate = MAKEINTRESOURCEA(nIDTemplate);
    m_psp.pfnDlgProc = &CPropertyPage::PageDlgProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
    if (nIDCaption && ::LoadStringA(m_psp.hInstance, nIDCaption, m_szCaption, sizeof m_szCaption)) {
        m_psp.dwFlags |= PSP_USETITLE;
        m_psp.pszTitle = m_szCaption;
    }
}

CPropertyPage::~CPropertyPage() = default;

BOOL CPropertyPage::OnInitDialog()
{
    return TRUE;
}

BOOL CPropertyPage::OnSetActive()
{
    return TRUE;
}

BOOL CPropertyPage::OnKillActive()
{
    return TRUE;
}

LRESULT CPropertyPage::OnWizardBack()
{
    return 0;
}

LRESULT CPropertyPage::OnWizardNext()
{
    return 0;
}

BOOL CPropertyPage::OnWizardFinish()
{
    return TRUE;
}

BOOL CPropertyPage::OnQueryCancel()
{
    return TRUE;
}

void CPropertyPage::OnCancel()
{
}

void CPropertyPage::OnOK()
{
}

BOOL CPropertyPage::OnNotify(UINT code, LRESULT& result)
{
    switch (code) {
    case PSN_SETACTIVE:
        result = OnSetActive() ? 0 : -1;
        return TRUE;
    case PSN_KILLACTIVE:
        result = !OnKillActive();
        return TRUE;
    case PSN_WIZBACK:
        result = OnWizardBack();
        return TRUE;
    case PSN_WIZNEXT:
        result = OnWizardNext();
        return TRUE;
    case PSN_WIZFINISH:
        result = !OnWizardFinish();
        return TRUE;
    case PSN_QUERYCANCEL:
        result = !OnQueryCancel();
        return TRUE;
    case PSN_RESET:
        OnCancel();
        result = 0;
        return TRUE;
    case PSN_APPLY:
        OnOK();
        result = PSNRET_NOERROR;
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CPropertyPage::PageDlgProc(HWND hDlg, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // The sheet hands the page its own copy of the page's record.
        auto* pPage = reinterpret_cast<CPropertyPage*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        ::SetWindowLongPtrA(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(pPage));
        pPage->Attach(hDlg);
        if (CPropertySheet::s_pSheetShown)
            CPropertySheet::s_pSheetShown->AttachShownWindow(::GetParent(hDlg));
        return pPage->OnInitDialog();
    }
    auto* pPage = reinterpret_cast<CPropertyPage*>(::GetWindowLongPtrA(hDlg, DWLP_USER));
    if (!pPage)
        return FALSE;
    switch (message) {
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!pPage->OnNotify(reinterpret_cast<NMHDR*>(lParam)->code, result))
            return FALSE;
        ::SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_NCDESTROY:
        // The sheet destroys its pages' windows; the objects stay its owner's.
        ::SetWindowLongPtrA(hDlg, DWLP_USER, 0);
        pPage->Detach();
        return FALSE;
    default:
        return FALSE;
    }
}

CPropertySheet* CPropertySheet::s_pSheetShown = nullptr;

const CRuntimeClass CPropertySheet::classCPropertySheet = { "CPropertySheet", sizeof(CPropertySheet), nullptr,
    &CWnd::classCWnd };

const CRuntimeClass* CPropertySheet::GetRuntimeClass() const
{
    return &classCPropertySheet;
}

CPropertySheet::CPropertySheet(UINT nIDCaption, CWnd* pParentWnd, UINT iSelectPage)
    : m_psh()
    , m_szCaption()
    , m_pParentWnd(pParentWnd)
{
    ::LoadStringA(AfxGetResourceHandle(), nIDCaption, m_szCaption, sizeof m_szCaption);
    m_psh.dwSize = sizeof(m_psh);
    m_psh.dwFlags = PSH_PROPSHEETPAGE | (AfxHelpEnabled() ? PSH_HASHELP : PSH_DEFAULT);
    m_psh.pszCaption = m_szCaption;
    m_psh.nStartPage = iSelectPage;
}

CPropertySheet::~CPropertySheet() = default;

void CPropertySheet::AddPage(CPropertyPage* pPage)
{
    if (pPage)
        m_pages.push_back(pPage);
}

int CPropertySheet::GetPageCount() const
{
    return static_cast<int>(m_pages.size());
}

CPropertyPage* CPropertySheet::GetPage(int nPage) const
{
    if (nPage < 0 || nPage >= GetPageCount())
        return nullptr;
    return m_pages[static_cast<size_t>(nPage)];
}

void CPropertySheet::SetWizardMode()
{
    m_psh.dwFlags |= PSH_WIZARD;
}

void CPropertySheet::AttachShownWindow(HWND hWnd)
{
    if (!m_hWnd && hWnd)
        Attach(hWnd);
}

int CALLBACK CPropertySheet::SheetCallback(HWND hWnd, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED && s_pSheetShown)
        s_pSheetShown->AttachShownWindow(hWnd);
    return 0;
}

INT_PTR CPropertySheet::DoModal()
{
    if (m_hWnd || m_pages.empty())
        return -1;
    // Each page's record as it is now, one after the other.
    m_pageRecords.clear();
    for (CPropertyPage* page : m_pages)
        m_pageRecords.push_back(page->m_psp);
    m_psh.dwFlags |= PSH_PROPSHEETPAGE | PSH_USECALLBACK;
    m_psh.pfnCallback = &CPropertySheet::SheetCallback;
    m_psh.hwndParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    m_psh.hInstance = AfxGetResourceHandle();
    m_psh.nPages = static_cast<UINT>(m_pageRecords.size());
    m_psh.ppsp = m_pageRecords.data();

    CPropertySheet* pOuter = s_pSheetShown;
    s_pSheetShown = this;
    INT_PTR result = ::PropertySheetA(&m_psh);
    s_pSheetShown = pOuter;
    // The window is gone with the sheet; so are the objects made for it.
    Detach();
    AfxDeleteTempMap();
    if (result < 0)
        return -1;
    if (m_psh.dwFlags & PSH_WIZARD)
        return result > 0 ? ID_WIZFINISH : IDCANCEL;
    return result > 0 ? IDOK : IDCANCEL;
}

void CPropertySheet::SetTitle(LPCSTR lpszText, UINT nStyle)
{
    if (m_hWnd) {
        ::SendMessageA(m_hWnd, PSM_SETTITLEA, nStyle, reinterpret_cast<LPARAM>(lpszText));
        return;
    }
    ::lstrcpynA(m_szCaption, lpszText ? lpszText : "", sizeof m_szCaption);
    m_psh.pszCaption = m_szCaption;
    m_psh.dwFlags = (m_psh.dwFlags & ~static_cast<DWORD>(PSH_PROPTITLE)) | (nStyle & PSH_PROPTITLE);
}

void CPropertySheet::SetWizardButtons(DWORD dwFlags)
{
    ::SendMessageA(m_hWnd, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(dwFlags));
}

