// Property sheets and pages as the framework wraps comctl32's: wizard
// mode, the page's handlers for the sheet's notifications.
#pragma once
#include "Wnd.h"

#include <commctrl.h>

#include <vector>

// The framework's ids of the wizard's buttons, which are comctl32's
// control ids; DoModal of a wizard answers with ID_WIZFINISH or IDCANCEL.
#define ID_WIZBACK 0x3023
#define ID_WIZNEXT 0x3024
#define ID_WIZFINISH 0x3025

// Whether the application routes ID_HELP: then sheets and pages are made
// with their Help buttons.
BOOL AfxHelpEnabled();

class CPropertyPage : public CWnd {
public:
    static const CRuntimeClass classCPropertyPage;
    const CRuntimeClass* GetRuntimeClass() const override;

    // The page's template is MAKEINTRESOURCE(nIDTemplate) of the resource
    // handle; a caption id gives it a title.
    explicit CPropertyPage(UINT nIDTemplate, UINT nIDCaption = 0);
    ~CPropertyPage() override;

    PROPSHEETPAGEA m_psp;

    // Once, when the sheet first shows the page.
    virtual BOOL OnInitDialog();
    // FALSE keeps the page from becoming the current one.
    virtual BOOL OnSetActive();
    // FALSE keeps the page current.
    virtual BOOL OnKillActive();
    // 0 for the neighbouring page, -1 to stay, or a template id to go to.
    virtual LRESULT OnWizardBack();
    virtual LRESULT OnWizardNext();
    // FALSE keeps the wizard open.
    virtual BOOL OnWizardFinish();
    // FALSE keeps the wizard from being cancelled.
    virtual BOOL OnQueryCancel();
    virtual void OnCancel();
    virtual void OnOK();

private:
    static INT_PTR CALLBACK PageDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
    // The page's answer to a notification of its sheet; FALSE for one it
    // does not know.
    BOOL OnNotify(UINT code, LRESULT& result);

    char m_szCaption[256];
};

class CPropertySheet : public CWnd {
public:
    static const CRuntimeClass classCPropertySheet;
    const CRuntimeClass* GetRuntimeClass() const override;

    // The caption is the string nIDCaption of the resource handle.
    explicit CPropertySheet(UINT nIDCaption, CWnd* pParentWnd = nullptr, UINT iSelectPage = 0);
    ~CPropertySheet() override;

    PROPSHEETHEADERA m_psh;

    void AddPage(CPropertyPage* pPage);
    int GetPageCount() const;
    CPropertyPage* GetPage(int nPage) const;
    void SetWizardMode();

    // Shows the sheet until it is closed: a wizard answers ID_WIZFINISH or
    // IDCANCEL, -1 when it could not be shown.
    virtual INT_PTR DoModal();
    // Stored for DoModal before the sheet is on screen, sent to it while it is.
    void SetTitle(LPCSTR lpszText, UINT nStyle = 0);
    void SetWizardButtons(DWORD dwFlags);

private:
    static int CALLBACK SheetCallback(HWND hWnd, UINT message, LPARAM lParam);
    friend class CPropertyPage;
    // The sheet DoModal shows now: its window comes to it as it is made.
    static CPropertySheet* s_pSheetShown;
    void AttachShownWindow(HWND hWnd);

    std::vector<CPropertyPage*> m_pages;
    std::vector<PROPSHEETPAGEA> m_pageRecords;
    char m_szCaption[256];
    CWnd* m_pParentWnd;
};
