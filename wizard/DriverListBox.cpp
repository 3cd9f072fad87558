#include "DriverListBox.h"

#include <cstring>

namespace {

constexpr int driverListBoxID = 9000;
constexpr int placeholderID = 1006;

}

CDriverListBox::CDriverListBox(CPropertyPage* pPage)
    : m_pPage(pPage)
{
}

CDriverListBox::~CDriverListBox() = default;

BOOL CDriverListBox::CreateDriverListBox()
{
    RECT rect = { 117, 67, 455, 230 };
    if (CWnd* pPlaceholder = m_pPage->GetDlgItem(placeholderID)) {
        pPlaceholder->GetWindowRect(&rect);
        m_pPage->ScreenToClient(&rect);
        pPlaceholder->ShowWindow(SW_HIDE);
        pPlaceholder->EnableWindow(FALSE);
    }
    if (!Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LBS_HASSTRINGS | LBS_NOTIFY, rect, m_pPage,
            driverListBoxID))
        return FALSE;
    // A control made after its dialog draws in the system font until it is
    // given the dialog's.
    if (LRESULT font = ::SendMessageA(m_pPage->GetSafeHwnd(), WM_GETFONT, 0, 0))
        ::SendMessageA(GetSafeHwnd(), WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}

void ClearListBox(CListBox* pListBox)
{
    int nCount = pListBox->GetCount();
    for (int i = 0; i < nCount; ++i)
        pListBox->DeleteString(0);
}

BOOL CALLBACK DisableCancelButtonProc(HWND hWnd, LPARAM)
{
    char szClass[256] = "";
    GetClassNameA(hWnd, szClass, sizeof szClass);
    if (std::strcmp(szClass, "Button") == 0 && GetDlgCtrlID(hWnd) == IDCANCEL) {
        EnableWindow(hWnd, FALSE);
        return FALSE;
    }
    return TRUE;
}
