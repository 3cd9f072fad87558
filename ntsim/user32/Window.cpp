#include "Window.h"

#include "Message.h"
#include "MessageChannel.h"
#include "WindowClass.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace ntsim::user32 {

namespace {

std::map<uint64_t, std::shared_ptr<Window>>& windows()
{
    static std::map<uint64_t, std::shared_ptr<Window>> map;
    return map;
}

// A process that ends with windows takes them off the machine's table.
void forgetWindowsAtExit()
{
    if (!windows().empty())
        WindowTable::removeProcess(getpid());
}

void registerExitHandler()
{
    static bool registered = false;
    if (!registered) {
        registered = true;
        // The map must outlive the handler, so it is made first.
        windows();
        std::atexit(forgetWindowsAtExit);
    }
}

}

void Window::setText(const std::string& text)
{
    m_text = text;
    WindowTable::setTitle(handleValue(m_handle), text);
}

LRESULT Window::call(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_procedure)
        return DefWindowProcA(m_handle, message, wParam, lParam);
    return m_procedure(m_handle, message, wParam, lParam);
}

std::shared_ptr<Window> WindowList::find(HWND handle)
{
    auto it = windows().find(handleValue(handle));
    if (it == windows().end())
        return nullptr;
    return it->second;
}

HWND WindowList::create(DWORD exStyle, const std::string& className, WNDPROC procedure, const std::string& text,
    DWORD style, HWND parent, UINT_PTR id)
{
    registerExitHandler();
    // Other processes can only send to us once we listen.
    MessageListener::get();

    WindowEntry entry;
    entry.handle = WindowTable::newHandle();
    entry.pid = getpid();
    entry.tid = currentThreadId();
    entry.processStart = processStartTime(entry.pid);
    entry.title = text;
    entry.className = className;

    HWND handle = handleOf(entry.handle);
    auto window = std::make_shared<Window>(handle, className, procedure);
    window->m_style = style;
    window->m_exStyle = exStyle;
    window->m_text = text;
    if (style & WS_CHILD) {
        window->m_parent = parent;
        window->m_id = id;
        entry.parent = handleValue(parent);
        if (auto p = find(parent))
            p->m_children.push_back(handle);
    } else {
        window->m_owner = parent;
    }
    windows()[entry.handle] = window;
    WindowTable::add(entry);
    return handle;
}

void WindowList::destroy(HWND handle)
{
    auto window = find(handle);
    if (!window || window->m_destroying)
        return;
    window->m_destroying = true;
    // Gone from the screen first, then the window hears of it, then its
    // children go, and last of all the window itself.
    WindowTable::remove(handleValue(handle));
    window->call(WM_DESTROY, 0, 0);
    for (HWND child : std::vector<HWND>(window->m_children))
        destroy(child);
    window->call(WM_NCDESTROY, 0, 0);
    if (auto parent = find(window->m_parent)) {
        auto& siblings = parent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
    }
    windows().erase(handleValue(handle));
}

std::vector<HWND> WindowList::childrenOf(HWND handle)
{
    if (auto window = find(handle))
        return window->m_children;
    return {};
}

std::optional<WindowEntry> foreignWindow(HWND handle)
{
    if (!handle)
        return std::nullopt;
    auto entry = WindowTable::find(handleValue(handle));
    if (!entry || entry->pid == getpid())
        return std::nullopt;
    return entry;
}

}

using namespace ntsim::user32;

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
    int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    const WindowClass* cls = findWindowClass(lpClassName);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (hWndParent && !WindowList::find(hWndParent)) {
        // Parents and owners in other processes are not supported here.
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if ((dwStyle & WS_CHILD) && !hWndParent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    std::string className = cls->name;
    HWND handle = WindowList::create(dwExStyle, className, cls->procedure, "", dwStyle, hWndParent,
        (dwStyle & WS_CHILD) ? reinterpret_cast<UINT_PTR>(hMenu) : 0);

    CREATESTRUCTA create {};
    create.lpCreateParams = lpParam;
    create.hInstance = hInstance;
    create.hMenu = hMenu;
    create.hwndParent = hWndParent;
    create.cx = nWidth;
    create.cy = nHeight;
    create.x = X;
    create.y = Y;
    create.style = static_cast<LONG>(dwStyle);
    create.lpszName = lpWindowName;
    create.lpszClass = lpClassName;
    create.dwExStyle = dwExStyle;

    auto window = WindowList::find(handle);
    if (!window->call(WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        WindowList::destroy(handle);
        return nullptr;
    }
    if (!WindowList::find(handle))
        return nullptr;
    if (window->call(WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        WindowList::destroy(handle);
        return nullptr;
    }
    return WindowList::find(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    auto window = WindowList::find(hWnd);
    if (!window) {
        // Only the owning thread may destroy a window.
        SetLastError(foreignWindow(hWnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    WindowList::destroy(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    if (!hWnd)
        return FALSE;
    if (auto window = WindowList::find(hWnd))
        return TRUE;
    return foreignWindow(hWnd) ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND hWnd)
{
    if (auto window = WindowList::find(hWnd)) {
        if (window->isChild())
            return window->parent();
        // A popup answers with its owner, any other top-level window with none.
        return (window->style() & WS_POPUP) ? window->owner() : nullptr;
    }
    if (auto entry = foreignWindow(hWnd))
        return handleOf(entry->parent);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    auto window = WindowList::find(hWnd);
    if (!window) {
        if (auto entry = foreignWindow(hWnd))
            return showForeignWindow(*entry, nCmdShow);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool wasVisible = window->style() & WS_VISIBLE;
    if (nCmdShow == SW_HIDE)
        window->setStyle(window->style() & ~static_cast<DWORD>(WS_VISIBLE));
    else
        window->setStyle(window->style() | WS_VISIBLE);
    return wasVisible ? TRUE : FALSE;
}
