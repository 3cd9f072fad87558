#include "WinApp.h"

namespace {

CWinApp* theOneApp = nullptr;
HINSTANCE resourceHandle = nullptr;

}

const CRuntimeClass CWinApp::classCWinApp = { "CWinApp", sizeof(CWinApp), nullptr, &CObject::classCObject };

const CRuntimeClass* CWinApp::GetRuntimeClass() const
{
    return &classCWinApp;
}

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_pszAppName(lpszAppName)
    , m_pPreviousApp(theOneApp)
{
    theOneApp = this;
}

CWinApp::~CWinApp()
{
    // An application object made for a while gives the place back.
    if (theOneApp == this)
        theOneApp = m_pPreviousApp;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

int CWinApp::Run()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return ExitInstance();
}

const AfxCommandEntry* CWinApp::GetCommandMap() const
{
    static const AfxCommandEntry none[] = { { 0, nullptr } };
    return none;
}

BOOL CWinApp::OnCmdMsg(UINT nID)
{
    for (const AfxCommandEntry* entry = GetCommandMap(); entry->nID; ++entry) {
        if (entry->nID == nID) {
            (this->*entry->pfnHandler)();
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CWinApp::RoutesCommand(UINT nID) const
{
    for (const AfxCommandEntry* entry = GetCommandMap(); entry->nID; ++entry) {
        if (entry->nID == nID)
            return TRUE;
    }
    return FALSE;
}

void CWinApp::OnHelp()
{
    // The program ships no help file; the default handler has nothing to open.
}

BOOL CWinApp::Enable3dControlsStatic()
{
    return TRUE;
}

CWinApp* AfxGetApp()
{
    return theOneApp;
}

HINSTANCE AfxGetInstanceHandle()
{
    return theOneApp ? theOneApp->m_hInstance : nullptr;
}

HINSTANCE AfxGetResourceHandle()
{
    return resourceHandle ? resourceHandle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hInstResource)
{
    resourceHandle = hInstResource;
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return AFX_INIT_FAILED_EXIT;
    app->m_hInstance = hInstance;
    app->m_lpCmdLine = lpCmdLine;
    app->m_nCmdShow = nCmdShow;
    resourceHandle = hInstance;
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
