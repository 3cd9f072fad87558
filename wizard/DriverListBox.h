// The driver list box of the install driver page and the uninstall first
// page, and the small window functions the pages share.
#pragma once
#include "afx/afx.h"

class CDriverListBox : public CListBox {
public:
    explicit CDriverListBox(CPropertyPage* pPage);
    ~CDriverListBox() override;

    // Creates the window on the page: at the place of the template's
    // control 1006, or at a fixed place without one.
    BOOL CreateDriverListBox();

private:
    CPropertyPage* m_pPage;
};

// Deletes every item.
void ClearListBox(CListBox* pListBox);

// For EnumChildWindows over the sheet: disables the Cancel button.
BOOL CALLBACK DisableCancelButtonProc(HWND hWnd, LPARAM lParam);
