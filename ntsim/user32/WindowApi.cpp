// user32's window functions: creation and destruction, the default window
// procedure, texts, state (shown, enabled, focus) and window longs, each for
// a window of this process or, through its owner, of another.
#include "Dialog.h"
#include "Message.h"
#include "MessageChannel.h"
#include "Window.h"
#include "WindowClass.h"

#include "machine/ApiCall.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ntsim::user32 {

namespace {

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

HWND createWindow(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int cx, int cy,
    HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    // Other processes can only send to us once we listen.
    MessageListener::get(answerRequest);

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
    ntsim::ApiCall call("CreateWindowExA", dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu, hInstance, lpParam);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(createWindow(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu,
        hInstance, lpParam));
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    ntsim::ApiCall call("DestroyWindow", hWnd);
    if (call.faulted())
        return call.returns(FALSE);
    if (!ownWindow(hWnd))
        return call.returns(FALSE);
    WindowList::destroy(hWnd);
    return call.returns(TRUE);
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    ntsim::ApiCall call("IsWindow", hWnd);
    if (!hWnd)
        return call.returns(FALSE);
    if (auto window = WindowList::find(hWnd))
        return call.returns(TRUE);
    return call.returns(foreignWindow(hWnd) ? TRUE : FALSE);
}

HWND WINAPI GetParent(HWND hWnd)
{
    ntsim::ApiCall call("GetParent", hWnd);
    if (auto window = WindowList::find(hWnd)) {
        if (window->isChild())
            return call.returns(window->parent());
        // A popup answers with its owner, any other top-level window with none.
        return call.returns((window->style() & WS_POPUP) ? window->owner() : nullptr);
    }
    if (auto entry = foreignWindow(hWnd))
        return call.returns(handleOf(entry->parent));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(nullptr);
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd)
{
    ntsim::ApiCall call("IsChild", hWndParent, hWnd);
    auto window = WindowList::find(hWnd);
    while (window && window->isChild()) {
        if (window->parent() == hWndParent)
            return call.returns(TRUE);
        window = WindowList::find(window->parent());
    }
    return call.returns(FALSE);
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    ntsim::ApiCall call("ShowWindow", hWnd, nCmdShow);
    auto window = WindowList::find(hWnd);
    if (!window)
        return call.returns(askOwner(hWnd, "show", nCmdShow));
    bool wasVisible = window->visible();
    bool show = nCmdShow != SW_HIDE;
    if (show)
        window->setStyle(window->style() | WS_VISIBLE);
    else
        window->setStyle(window->style() & ~static_cast<DWORD>(WS_VISIBLE));
    if (show != wasVisible)
        window->call(WM_SHOWWINDOW, show, 0);
    return call.returns(wasVisible ? TRUE : FALSE);
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    ntsim::ApiCall call("IsWindowVisible", hWnd);
    // Visible only when it and every parent above it are.
    auto window = WindowList::find(hWnd);
    if (!window)
        return call.returns(askOwner(hWnd, "visible", 0));
    for (; window; window = window->isChild() ? WindowList::find(window->parent()) : nullptr) {
        if (!window->visible())
            return call.returns(FALSE);
    }
    return call.returns(TRUE);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    ntsim::ApiCall call("EnableWindow", hWnd, bEnable);
    auto window = WindowList::find(hWnd);
    if (!window)
        return call.returns(askOwner(hWnd, "enable", bEnable ? 1 : 0));
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
    return call.returns(wasDisabled ? TRUE : FALSE);
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    ntsim::ApiCall call("IsWindowEnabled", hWnd);
    if (auto window = WindowList::find(hWnd))
        return call.returns(window->enabled() ? TRUE : FALSE);
    if (auto entry = foreignWindow(hWnd)) {
        int64_t style = 0;
        return call.returns(callForeignWindow(*entry, "getlong", GWL_STYLE, style) && !(style & WS_DISABLED) ? TRUE : FALSE);
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(FALSE);
}

HWND WINAPI SetFocus(HWND hWnd)
{
    ntsim::ApiCall call("SetFocus", hWnd);
    HWND previous = WindowList::focus();
    if (hWnd && !ownWindow(hWnd))
        return call.returns(nullptr);
    if (hWnd == previous)
        return call.returns(previous);
    WindowList::setFocus(hWnd);
    if (auto old = WindowList::find(previous))
        old->call(WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    if (auto now = WindowList::find(hWnd))
        now->call(WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return call.returns(previous);
}

HWND WINAPI GetFocus(void)
{
    ntsim::ApiCall call("GetFocus");
    return call.returns(WindowList::focus());
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    ntsim::ApiCall call("GetWindowLongA", hWnd, nIndex);
    if (!fitsLong(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return call.returns(0);
    }
    return call.returns(static_cast<LONG>(windowLong(hWnd, nIndex, sizeof(LONG))));
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    ntsim::ApiCall call("SetWindowLongA", hWnd, nIndex, dwNewLong);
    if (!fitsLong(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return call.returns(0);
    }
    return call.returns(static_cast<LONG>(setWindowLong(hWnd, nIndex, sizeof(LONG), dwNewLong)));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    ntsim::ApiCall call("GetWindowLongPtrA", hWnd, nIndex);
    return call.returns(windowLong(hWnd, nIndex, sizeof(LONG_PTR)));
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    ntsim::ApiCall call("SetWindowLongPtrA", hWnd, nIndex, dwNewLong);
    return call.returns(setWindowLong(hWnd, nIndex, sizeof(LONG_PTR), dwNewLong));
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ntsim::ApiCall call("CallWindowProcA", lpPrevWndFunc, hWnd, Msg, wParam, lParam);
    if (!lpPrevWndFunc)
        return call.returns(0);
    return call.returns(ntsim::ProgramCode::call(lpPrevWndFunc, hWnd, Msg, wParam, lParam));
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ntsim::ApiCall call("DefWindowProcA", hWnd, Msg, wParam, lParam);
    auto window = WindowList::find(hWnd);
    if (!window)
        return call.returns(0);
    switch (Msg) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (create && create->lpszName && !IS_INTRESOURCE(create->lpszName))
            window->setText(create->lpszName);
        return call.returns(TRUE);
    }
    case WM_CLOSE:
        WindowList::destroy(hWnd);
        return call.returns(0);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            return call.returns(window->call(WM_CLOSE, 0, 0));
        return call.returns(0);
    case WM_SETTEXT:
        window->setText(lParam ? reinterpret_cast<LPCSTR>(lParam) : "");
        return call.returns(TRUE);
    case WM_GETTEXT:
        if (wParam == 0 || !lParam)
            return call.returns(0);
        return call.returns(copyOut(window->text(), reinterpret_cast<char*>(lParam), static_cast<int>(std::min<WPARAM>(wParam, INT32_MAX))));
    case WM_GETTEXTLENGTH:
        return call.returns(static_cast<LRESULT>(window->text().size()));
    default:
        return call.returns(0);
    }
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    ntsim::ApiCall call("GetWindowTextA", hWnd, lpString, nMaxCount);
    if (!lpString || nMaxCount <= 0)
        return call.returns(0);
    lpString[0] = 0;
    if (auto window = WindowList::find(hWnd))
        return call.returns(static_cast<int>(window->call(WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString))));
    // Another process's window is not asked: its caption is read from the
    // table, so a hung owner cannot hang the caller.
    if (auto entry = foreignWindow(hWnd))
        return call.returns(copyOut(entry->title, lpString, nMaxCount));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(0);
}

int WINAPI GetWindowTextLengthA(HWND hWnd)
{
    ntsim::ApiCall call("GetWindowTextLengthA", hWnd);
    if (auto window = WindowList::find(hWnd))
        return call.returns(static_cast<int>(window->call(WM_GETTEXTLENGTH, 0, 0)));
    if (auto entry = foreignWindow(hWnd))
        return call.returns(static_cast<int>(entry->title.size()));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(0);
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    ntsim::ApiCall call("SetWindowTextA", hWnd, lpString);
    if (call.faulted())
        return call.returns(FALSE);
    if (auto window = WindowList::find(hWnd))
        return call.returns(window->call(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE);
    if (auto entry = foreignWindow(hWnd))
        return call.returns(sendToForeignWindow(*entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(FALSE);
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount)
{
    ntsim::ApiCall call("GetClassNameA", hWnd, lpClassName, nMaxCount);
    std::string name;
    if (auto window = WindowList::find(hWnd)) {
        name = window->className();
    } else if (auto entry = foreignWindow(hWnd)) {
        name = entry->className;
    } else {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return call.returns(0);
    }
    if (!lpClassName || nMaxCount <= 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return call.returns(0);
    }
    return call.returns(copyOut(name, lpClassName, nMaxCount));
}
