// Where windows are: their rectangles, frames and client areas, and the
// mapping of points between them and the screen.
#include "Message.h"
#include "Window.h"
#include "machine/ApiCall.h"

namespace ntsim::user32 {

namespace {

// NT 4.0's standard metrics at 96 dots an inch on its VGA screen.
constexpr LONG screenWidth = 640;
constexpr LONG screenHeight = 480;
constexpr LONG borderWidth = 1;      // SM_CXBORDER
constexpr LONG edgeWidth = 2;        // SM_CXEDGE
constexpr LONG dialogFrameWidth = 3; // SM_CXDLGFRAME
constexpr LONG sizingFrameWidth = 4; // SM_CXFRAME
constexpr LONG captionHeight = 19;   // SM_CYCAPTION

int64_t packRect(const RECT& r)
{
    auto part = [](LONG v, int shift) { return static_cast<int64_t>(static_cast<uint16_t>(v)) << shift; };
    return part(r.left, 0) | part(r.top, 16) | part(r.right, 32) | part(r.bottom, 48);
}

RECT unpackRect(int64_t v)
{
    auto part = [v](int shift) { return static_cast<LONG>(static_cast<int16_t>(static_cast<uint16_t>(v >> shift))); };
    return { part(0), part(16), part(32), part(48) };
}

RECT screenRectOf(const Window& window)
{
    RECT r = window.rect();
    if (window.isChild()) {
        if (auto parent = WindowList::find(window.parent())) {
            POINT origin = clientOrigin(*parent);
            r.left += origin.x;
            r.right += origin.x;
            r.top += origin.y;
            r.bottom += origin.y;
        }
    }
    return r;
}

RECT clientRectOf(const Window& window)
{
    RECT frame = frameOf(window.style(), window.exStyle());
    const RECT& r = window.rect();
    LONG width = r.right - r.left - frame.left - frame.right;
    LONG height = r.bottom - r.top - frame.top - frame.bottom;
    return { 0, 0, width > 0 ? width : 0, height > 0 ? height : 0 };
}

// A window's rectangle through its owner when it belongs to another process.
bool foreignRect(HWND hWnd, const char* op, RECT& out)
{
    auto entry = foreignWindow(hWnd);
    if (!entry) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    int64_t value = 0;
    if (!callForeignWindow(*entry, op, 0, value))
        return false;
    out = unpackRect(value);
    return true;
}

// The client origin on the screen of a window or of the desktop (null).
bool originOf(HWND hWnd, POINT& origin)
{
    if (!hWnd) {
        origin = { 0, 0 };
        return true;
    }
    if (auto window = WindowList::find(hWnd)) {
        origin = clientOrigin(*window);
        return true;
    }
    RECT r {};
    if (!foreignRect(hWnd, "clientorigin", r))
        return false;
    origin = { r.left, r.top };
    return true;
}

// GetWindowRect and GetClientRect: the window's rectangle here, or its
// owner's answer for another process's window.
BOOL rectOf(HWND hWnd, LPRECT lpRect, RECT (*local)(const Window&), const char* op)
{
    if (!lpRect) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (auto window = WindowList::find(hWnd)) {
        *lpRect = local(*window);
        return TRUE;
    }
    return foreignRect(hWnd, op, *lpRect) ? TRUE : FALSE;
}

// ScreenToClient (-1) and ClientToScreen (+1).
BOOL movePoint(HWND hWnd, LPPOINT lpPoint, int direction)
{
    POINT origin {};
    if (!hWnd) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!lpPoint || !originOf(hWnd, origin))
        return FALSE;
    lpPoint->x += direction * origin.x;
    lpPoint->y += direction * origin.y;
    return TRUE;
}

}

RECT frameOf(DWORD style, DWORD exStyle)
{
    LONG side = 0;
    if (style & WS_THICKFRAME)
        side = sizingFrameWidth;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        side = dialogFrameWidth;
    else if (style & WS_BORDER)
        side = borderWidth;
    if (exStyle & WS_EX_CLIENTEDGE)
        side += edgeWidth;
    if (exStyle & WS_EX_STATICEDGE)
        side += borderWidth;
    LONG top = side;
    if ((style & WS_CAPTION) == WS_CAPTION)
        top += captionHeight;
    return { side, top, side, side };
}

POINT clientOrigin(const Window& window)
{
    RECT r = screenRectOf(window);
    RECT frame = frameOf(window.style(), window.exStyle());
    return { r.left + frame.left, r.top + frame.top };
}

SIZE screenSize()
{
    return { screenWidth, screenHeight };
}

// The owner's half of the rectangle calls made on another process's window.
bool answerRectRequest(HWND hWnd, const std::string& op, int64_t& result)
{
    auto window = WindowList::find(hWnd);
    if (!window)
        return false;
    if (op == "windowrect") {
        result = packRect(screenRectOf(*window));
    } else if (op == "clientrect") {
        result = packRect(clientRectOf(*window));
    } else if (op == "clientorigin") {
        POINT origin = clientOrigin(*window);
        result = packRect({ origin.x, origin.y, 0, 0 });
    } else {
        return false;
    }
    return true;
}

}

using namespace ntsim::user32;

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    ntsim::ApiCall call("GetWindowRect", hWnd, lpRect);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(rectOf(hWnd, lpRect, screenRectOf, "windowrect"));
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    ntsim::ApiCall call("GetClientRect", hWnd, lpRect);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(rectOf(hWnd, lpRect, clientRectOf, "clientrect"));
}

int WINAPI MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints)
{
    ntsim::ApiCall call("MapWindowPoints", hWndFrom, hWndTo, lpPoints, cPoints);
    POINT from {};
    POINT to {};
    if (!originOf(hWndFrom, from) || !originOf(hWndTo, to))
        return call.returns(0);
    LONG dx = from.x - to.x;
    LONG dy = from.y - to.y;
    for (UINT i = 0; lpPoints && i < cPoints; ++i) {
        lpPoints[i].x += dx;
        lpPoints[i].y += dy;
    }
    return call.returns(MAKELONG(static_cast<WORD>(static_cast<SHORT>(dx)), static_cast<WORD>(static_cast<SHORT>(dy))));
}

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint)
{
    ntsim::ApiCall call("ScreenToClient", hWnd, lpPoint);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(movePoint(hWnd, lpPoint, -1));
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint)
{
    ntsim::ApiCall call("ClientToScreen", hWnd, lpPoint);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(movePoint(hWnd, lpPoint, 1));
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint)
{
    ntsim::ApiCall call("MoveWindow", hWnd, X, Y, nWidth, nHeight, bRepaint);
    if (call.faulted())
        return call.returns(FALSE);
    auto window = ownWindow(hWnd);
    if (!window)
        return call.returns(FALSE);
    window->setRect({ X, Y, X + nWidth, Y + nHeight });
    RECT client = clientRectOf(*window);
    window->call(WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
    RECT frame = frameOf(window->style(), window->exStyle());
    window->call(WM_MOVE, 0, MAKELPARAM(X + frame.left, Y + frame.top));
    return call.returns(TRUE);
}
