// Windows: their objects, creation and destruction, the default window
// procedure, texts, state (shown, enabled, focus) and window longs.
#include "Window.h"

#include "Dialog.h"
#include "Message.h"
#include "MessageChannel.h"
#include "WindowClass.h"

#include "machine/Faults.h"
#include "machine/HandleTable.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace ntsim::user32 {

namespace {

struct ProcessWindows {
    std::map<uint64_t, std::shared_ptr<Window>> windows;
    HWND focus { nullptr };
};

ProcessWindows& processWindows()
{
    static ProcessWindows state;
    return state;
}

std::map<uint64_t, std::shared_ptr<Window>>& windows() { return processWindows().windows; }

HandleCount& windowCount()
{
    static auto* count = new HandleCount("windows");
    return *count;
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

// Where a top-level window asked for CW_USEDEFAULT goes: a cascade from the
// screen's corner, three quarters of the screen in size.
Placement placementOf(DWORD style, int x, int y, int cx, int cy)
{
    Placement p { x, y, cx, cy };
    if (style & WS_CHILD) {
        if (p.x == CW_USEDEFAULT)
            p.x = p.y = 0;
        if (p.cx == CW_USEDEFAULT)
            p.cx = p.cy = 0;
        return p;
    }
    SIZE screen = screenSize();
    if (p.x == CW_USEDEFAULT) {
        static int cascade = 0;
        p.x = p.y = 22 * (cascade++ % 8);
    }
    if (p.cx == CW_USEDEFAULT) {
        p.cx = screen.cx * 3 / 4;
        p.cy = screen.cy * 3 / 4;
    }
    return p;
}

// An owner is always a top-level window: a child named as owner stands for
// its top-level ancestor.
HWND topLevelOf(HWND handle)
{
    auto window = WindowList::find(handle);
    while (window && window->isChild()) {
        auto parent = WindowList::find(window->parent());
        if (!parent)
            break;
        window = parent;
    }
    return window ? window->handle() : nullptr;
}

int copyOut(const std::string& text, LPSTR buffer, int capacity)
{
    size_t count = std::min(text.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = 0;
    return static_cast<int>(count);
}

bool fitsLong(int index)
{
    // Pointers do not fit a LONG here: as on 64-bit Windows, the 32-bit
    // calls refuse the offsets that hold them.
    if (sizeof(void*) <= sizeof(LONG))
        return true;
    return index != GWLP_WNDPROC && index != GWLP_HINSTANCE && index != GWLP_HWNDPARENT
        && index != static_cast<int>(DWLP_DLGPROC);
}

bool readExtra(Window& window, int index, size_t width, LONG_PTR& value)
{
    auto& bytes = window.extraBytes();
    if (index < 0 || static_cast<size_t>(index) + width > bytes.size())
        return false;
    if (width == sizeof(LONG)) {
        LONG v = 0;
        std::memcpy(&v, bytes.data() + index, sizeof v);
        value = v;
    } else {
        std::memcpy(&value, bytes.data() + index, sizeof value);
    }
    return true;
}

bool writeExtra(Window& window, int index, size_t width, LONG_PTR value)
{
    auto& bytes = window.extraBytes();
    if (index < 0 || static_cast<size_t>(index) + width > bytes.size())
        return false;
    if (width == sizeof(LONG)) {
        LONG v = static_cast<LONG>(value);
        std::memcpy(bytes.data() + index, &v, sizeof v);
    } else {
        std::memcpy(bytes.data() + index, &value, sizeof value);
    }
    return true;
}

// GetWindowLong(Ptr)A of a window of this process; width is the caller's
// LONG or LONG_PTR.
bool getLong(Window& window, int index, size_t width, LONG_PTR& value)
{
    switch (index) {
    case GWLP_WNDPROC: value = reinterpret_cast<LONG_PTR>(window.procedure()); return true;
    case GWLP_HINSTANCE: value = reinterpret_cast<LONG_PTR>(window.instance()); return true;
    case GWLP_HWNDPARENT:
        value = reinterpret_cast<LONG_PTR>(window.isChild() ? window.parent() : window.owner());
        return true;
    case GWLP_ID: value = static_cast<LONG_PTR>(window.id()); return true;
    case GWL_STYLE: value = static_cast<LONG>(window.style()); return true;
    case GWL_EXSTYLE: value = static_cast<LONG>(window.exStyle()); return true;
    case GWLP_USERDATA: value = window.userData(); return true;
    default:
        break;
    }
    if (auto* dialog = window.stateAs<DialogState>()) {
        if (LONG_PTR* slot = dialog->slot(index)) {
            value = *slot;
            return true;
        }
    }
    return readExtra(window, index, width, value);
}

bool setLong(Window& window, int index, size_t width, LONG_PTR value, LONG_PTR& previous)
{
    if (!getLong(window, index, width, previous))
        return false;
    switch (index) {
    case GWLP_WNDPROC:
        window.setProcedure(reinterpret_cast<WNDPROC>(value));
        return true;
    case GWLP_HINSTANCE:
    case GWLP_HWNDPARENT:
        // Neither moves a window between modules or parents here.
        return false;
    case GWLP_ID:
        window.setId(static_cast<UINT_PTR>(value));
        return true;
    case GWL_STYLE:
        window.setStyle(static_cast<DWORD>(value));
        return true;
    case GWL_EXSTYLE:
        window.setExStyle(static_cast<DWORD>(value));
        return true;
    case GWLP_USERDATA:
        window.setUserData(value);
        return true;
    default:
        break;
    }
    if (auto* dialog = window.stateAs<DialogState>()) {
        if (LONG_PTR* slot = dialog->slot(index)) {
            // A LONG stored in a pointer-sized slot keeps its sign, so that
            // a -1 answer reads back as -1.
            *slot = value;
            return true;
        }
    }
    return writeExtra(window, index, width, value);
}

// One of the calls another process's window answers through its owner:
// the owner's answer, or FALSE with the error set for no window at all.
BOOL askOwner(HWND hWnd, const char* op, int64_t argument)
{
    if (auto entry = foreignWindow(hWnd)) {
        int64_t result = 0;
        return callForeignWindow(*entry, op, argument, result) && result ? TRUE : FALSE;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

LONG_PTR windowLong(HWND hWnd, int nIndex, size_t width)
{
    auto window = WindowList::find(hWnd);
    if (!window) {
        if (auto entry = foreignWindow(hWnd)) {
            int64_t result = 0;
            if (nIndex == GWL_STYLE || nIndex == GWL_EXSTYLE || nIndex == GWLP_ID) {
                if (callForeignWindow(*entry, "getlong", nIndex, result))
                    return static_cast<LONG_PTR>(result);
                return 0;
            }
            // Another process's procedures and extra bytes mean nothing here.
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR value = 0;
    if (!getLong(*window, nIndex, width, value)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return value;
}

LONG_PTR setWindowLong(HWND hWnd, int nIndex, size_t width, LONG_PTR dwNewLong)
{
    auto window = ownWindow(hWnd);
    if (!window)
        return 0;
    LONG_PTR previous = 0;
    if (!setLong(*window, nIndex, width, dwNewLong, previous)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    // A previous value of 0 is told from a failure by a cleared last error.
    SetLastError(ERROR_SUCCESS);
    return previous;
}

}

Window::Window(HWND handle, const WindowClass& cls, HINSTANCE instance)
    : m_handle(handle)
    , m_className(cls.name)
    , m_procedure(cls.procedure)
    , m_instance(instance)
    , m_extra(static_cast<size_t>(cls.windowExtra), 0)
{
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

HWND WindowList::create(DWORD exStyle, const WindowClass& cls, HINSTANCE instance, const std::string& text,
    DWORD style, const Placement& placement, HWND parent, UINT_PTR id)
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
    entry.className = cls.name;

    HWND handle = handleOf(entry.handle);
    auto window = std::make_shared<Window>(handle, cls, instance);
    window->m_style = style;
    window->m_exStyle = exStyle;
    window->m_text = text;
    window->m_rect = { placement.x, placement.y, placement.x + placement.cx, placement.y + placement.cy };
    if (style & WS_CHILD) {
        window->m_parent = parent;
        window->m_id = id;
        entry.parent = handleValue(parent);
        if (auto p = find(parent))
            p->m_children.push_back(handle);
    } else {
        window->m_owner = topLevelOf(parent);
    }
    windows()[entry.handle] = window;
    windowCount().opened();
    WindowTable::add(entry);
    return handle;
}

void WindowList::destroy(HWND handle)
{
    auto window = find(handle);
    if (!window || window->m_destroying)
        return;
    window->m_destroying = true;
    // Owned windows go before their owner hears of its end.
    for (HWND owned : ownedBy(handle))
        destroy(owned);
    // Gone from the screen first, then the window hears of it, then its
    // children go, and last of all the window itself.
    WindowTable::remove(handleValue(handle));
    if (processWindows().focus == handle)
        processWindows().focus = nullptr;
    window->call(WM_DESTROY, 0, 0);
    for (HWND child : std::vector<HWND>(window->m_children))
        destroy(child);
    window->call(WM_NCDESTROY, 0, 0);
    if (auto parent = find(window->m_parent)) {
        auto& siblings = parent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
    }
    if (windows().erase(handleValue(handle)))
        windowCount().closed();
}

std::vector<HWND> WindowList::childrenOf(HWND handle)
{
    if (auto window = find(handle))
        return window->m_children;
    return {};
}

std::vector<HWND> WindowList::ownedBy(HWND handle)
{
    std::vector<HWND> owned;
    for (auto& [value, window] : windows()) {
        if (!window->isChild() && window->m_owner == handle && !window->m_destroying)
            owned.push_back(window->m_handle);
    }
    return owned;
}

std::shared_ptr<Window> ownWindow(HWND handle)
{
    if (auto window = WindowList::find(handle))
        return window;
    // Only the owning thread may change a window.
    SetLastError(foreignWindow(handle) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
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

HWND createWindow(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int cx, int cy,
    HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    const WindowClass* cls = findWindowClass(className);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (parent && !WindowList::find(parent)) {
        // Parents and owners in other processes are not supported here.
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if ((style & WS_CHILD) && !parent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    Placement placement = placementOf(style, x, y, cx, cy);
    // A copy: a class registered meanwhile may move the class list.
    WindowClass windowClass = *cls;
    HWND handle = WindowList::create(exStyle, windowClass, instance, "", style, placement, parent,
        (style & WS_CHILD) ? reinterpret_cast<UINT_PTR>(menu) : 0);

    CREATESTRUCTA create {};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cx = placement.cx;
    create.cy = placement.cy;
    create.x = placement.x;
    create.y = placement.y;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;

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

}

using namespace ntsim::user32;

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
    int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    if (auto fault = ntsim::injectedFault("CreateWindowExA")) {
        SetLastError(*fault);
        return nullptr;
    }
    return createWindow(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu,
        hInstance, lpParam);
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    if (!ownWindow(hWnd))
        return FALSE;
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

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd)
{
    auto window = WindowList::find(hWnd);
    while (window && window->isChild()) {
        if (window->parent() == hWndParent)
            return TRUE;
        window = WindowList::find(window->parent());
    }
    return FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    auto window = WindowList::find(hWnd);
    if (!window)
        return askOwner(hWnd, "show", nCmdShow);
    bool wasVisible = window->visible();
    bool show = nCmdShow != SW_HIDE;
    if (show)
        window->setStyle(window->style() | WS_VISIBLE);
    else
        window->setStyle(window->style() & ~static_cast<DWORD>(WS_VISIBLE));
    if (show != wasVisible)
        window->call(WM_SHOWWINDOW, show, 0);
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    // Visible only when it and every parent above it are.
    auto window = WindowList::find(hWnd);
    if (!window)
        return askOwner(hWnd, "visible", 0);
    for (; window; window = window->isChild() ? WindowList::find(window->parent()) : nullptr) {
        if (!window->visible())
            return FALSE;
    }
    return TRUE;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    auto window = WindowList::find(hWnd);
    if (!window)
        return askOwner(hWnd, "enable", bEnable ? 1 : 0);
    bool wasDisabled = !window->enabled();
    if (bEnable)
        window->setStyle(window->style() & ~static_cast<DWORD>(WS_DISABLED));
    else
        window->setStyle(window->style() | WS_DISABLED);
    if (wasDisabled == static_cast<bool>(bEnable)) {
        // A window losing its input loses the focus with it.
        if (!bEnable && GetFocus() == hWnd)
            SetFocus(nullptr);
        window->call(WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    if (auto window = WindowList::find(hWnd))
        return window->enabled() ? TRUE : FALSE;
    if (auto entry = foreignWindow(hWnd)) {
        int64_t style = 0;
        return callForeignWindow(*entry, "getlong", GWL_STYLE, style) && !(style & WS_DISABLED) ? TRUE : FALSE;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

HWND WINAPI SetFocus(HWND hWnd)
{
    auto& state = processWindows();
    HWND previous = state.focus;
    if (hWnd && !ownWindow(hWnd))
        return nullptr;
    if (hWnd == previous)
        return previous;
    state.focus = hWnd;
    if (auto old = WindowList::find(previous))
        old->call(WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    if (auto now = WindowList::find(hWnd))
        now->call(WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return previous;
}

HWND WINAPI GetFocus(void)
{
    return processWindows().focus;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    if (!fitsLong(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(windowLong(hWnd, nIndex, sizeof(LONG)));
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    if (!fitsLong(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(setWindowLong(hWnd, nIndex, sizeof(LONG), dwNewLong));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    return windowLong(hWnd, nIndex, sizeof(LONG_PTR));
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    return setWindowLong(hWnd, nIndex, sizeof(LONG_PTR), dwNewLong);
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!lpPrevWndFunc)
        return 0;
    return lpPrevWndFunc(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    auto window = WindowList::find(hWnd);
    if (!window)
        return 0;
    switch (Msg) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (create && create->lpszName && !IS_INTRESOURCE(create->lpszName))
            window->setText(create->lpszName);
        return TRUE;
    }
    case WM_CLOSE:
        WindowList::destroy(hWnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            return window->call(WM_CLOSE, 0, 0);
        return 0;
    case WM_SETTEXT:
        window->setText(lParam ? reinterpret_cast<LPCSTR>(lParam) : "");
        return TRUE;
    case WM_GETTEXT:
        if (wParam == 0 || !lParam)
            return 0;
        return copyOut(window->text(), reinterpret_cast<char*>(lParam), static_cast<int>(std::min<WPARAM>(wParam, INT32_MAX)));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(window->text().size());
    default:
        return 0;
    }
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = 0;
    if (auto window = WindowList::find(hWnd))
        return static_cast<int>(window->call(WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
    // Another process's window is not asked: its caption is read from the
    // table, so a hung owner cannot hang the caller.
    if (auto entry = foreignWindow(hWnd))
        return copyOut(entry->title, lpString, nMaxCount);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

int WINAPI GetWindowTextLengthA(HWND hWnd)
{
    if (auto window = WindowList::find(hWnd))
        return static_cast<int>(window->call(WM_GETTEXTLENGTH, 0, 0));
    if (auto entry = foreignWindow(hWnd))
        return static_cast<int>(entry->title.size());
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (auto window = WindowList::find(hWnd))
        return window->call(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
    if (auto entry = foreignWindow(hWnd))
        return sendToForeignWindow(*entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount)
{
    std::string name;
    if (auto window = WindowList::find(hWnd)) {
        name = window->className();
    } else if (auto entry = foreignWindow(hWnd)) {
        name = entry->className;
    } else {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!lpClassName || nMaxCount <= 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return copyOut(name, lpClassName, nMaxCount);
}
