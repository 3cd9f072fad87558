// Windows as the framework wraps them: CWnd and the list box control.
#pragma once
#include "Object.h"

class CWnd : public CObject {
public:
    static const CRuntimeClass classCWnd;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CWnd();
    // A window still attached is destroyed with its object.
    ~CWnd() override;

    HWND m_hWnd { nullptr };

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object of a window: its own if one is attached, else a temporary
    // object that lives until AfxDeleteTempMap. Null for a null handle.
    static CWnd* FromHandle(HWND hWnd);
    // The attached object only, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();

    // Makes the window and attaches it, listening to it so that the object
    // lets go when the window is destroyed.
    virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, int x, int y,
        int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
        CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();

    CWnd* GetParent() const;
    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;

    void SetWindowText(LPCSTR lpszString);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;

    void GetWindowRect(LPRECT lpRect) const;
    void GetClientRect(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    void ScreenToClient(LPRECT lpRect) const;
    void ClientToScreen(LPPOINT lpPoint) const;
    void ClientToScreen(LPRECT lpRect) const;
    void MapWindowPoints(CWnd* pwndTo, LPPOINT lpPoint, UINT nCount) const;
    void MapWindowPoints(CWnd* pwndTo, LPRECT lpRect) const;

protected:
    // Every message of a window made by CreateEx passes here; the default
    // hands it to the window's own procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called when the window is gone and the object let go of it.
    virtual void PostNcDestroy();

private:
    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_pfnSuper { nullptr };
};

// Frees the temporary objects FromHandle made.
void AfxDeleteTempMap();

class CListBox : public CWnd {
public:
    static const CRuntimeClass classCListBox;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CListBox();

    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    int AddString(LPCSTR lpszItem);
    int InsertString(int nIndex, LPCSTR lpszItem);
    int DeleteString(UINT nIndex);
    void ResetContent();
    int GetCount() const;
    // Copies the item into the buffer, which must hold GetTextLen + 1
    // characters; the item's length, or LB_ERR.
    int GetText(int nIndex, LPSTR lpszBuffer) const;
    int GetTextLen(int nIndex) const;
    int GetCurSel() const;
    int SetCurSel(int nSelect);
};
