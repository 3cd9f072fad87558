// The application object and the process entry that runs it.
#pragma once
#include "Object.h"

// The framework's command ids.
#define ID_HELP 0xE146

class CWinApp;

// One line of a class's command map: a command id and its handler.
struct AfxCommandEntry {
    UINT nID;
    void (CWinApp::*pfnHandler)();
};

class CWinApp : public CObject {
public:
    static const CRuntimeClass classCWinApp;
    const CRuntimeClass* GetRuntimeClass() const override;

    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    // The start-up hook. FALSE ends the process without a message loop.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();

    // Routes a command through the class's command map; FALSE if no entry.
    BOOL OnCmdMsg(UINT nID);
    // Whether the command map has an entry for the command.
    BOOL RoutesCommand(UINT nID) const;
    void OnHelp();

    HINSTANCE m_hInstance { nullptr };
    LPSTR m_lpCmdLine { nullptr };
    int m_nCmdShow { SW_SHOWNORMAL };
    LPCSTR m_pszAppName { nullptr };

protected:
    // Three-dimensional dialog controls; NT 4.0 draws them itself.
    BOOL Enable3dControlsStatic();
    // The command map, ended by an entry with id 0.
    virtual const AfxCommandEntry* GetCommandMap() const;

private:
    CWinApp* m_pPreviousApp;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hInstResource);

// The exit status of a process whose InitInstance returned FALSE.
constexpr int AFX_INIT_FAILED_EXIT = 0;

int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
