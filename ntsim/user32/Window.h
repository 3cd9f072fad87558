// The windows this process owns, and how a handle is resolved to a window
// here or to the entry of another process's window in the machine's table.
#pragma once
#include <windows.h>

#include "WindowTable.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::user32 {

struct WindowClass;

// What one kind of window keeps beyond what every window has: a dialog's
// procedure and answer, a list box's items, a property sheet's pages.
class WindowState {
public:
    virtual ~WindowState() = default;
};

class Window {
public:
    Window(HWND handle, const WindowClass& cls, HINSTANCE instance);

    HWND handle() const { return m_handle; }
    const std::string& className() const { return m_className; }
    WNDPROC procedure() const { return m_procedure; }
    void setProcedure(WNDPROC procedure) { m_procedure = procedure; }
    HINSTANCE instance() const { return m_instance; }

    HWND parent() const { return m_parent; }
    HWND owner() const { return m_owner; }
    bool isChild() const { return m_style & WS_CHILD; }
    DWORD style() const { return m_style; }
    void setStyle(DWORD style) { m_style = style; }
    DWORD exStyle() const { return m_exStyle; }
    void setExStyle(DWORD exStyle) { m_exStyle = exStyle; }
    UINT_PTR id() const { return m_id; }
    void setId(UINT_PTR id) { m_id = id; }
    bool enabled() const { return !(m_style & WS_DISABLED); }
    bool visible() const { return m_style & WS_VISIBLE; }
    const std::vector<HWND>& children() const { return m_children; }

    // The window's rectangle in its parent's client coordinates, or on the
    // screen for a top-level window.
    const RECT& rect() const { return m_rect; }
    void setRect(const RECT& rect) { m_rect = rect; }

    const std::string& text() const { return m_text; }
    // Keeps the machine's table in step, where other processes read it.
    void setText(const std::string& text);

    // The class's extra window bytes and the application's value.
    std::vector<BYTE>& extraBytes() { return m_extra; }
    LONG_PTR userData() const { return m_userData; }
    void setUserData(LONG_PTR value) { m_userData = value; }

    WindowState* state() const { return m_state.get(); }
    void setState(std::unique_ptr<WindowState> state) { m_state = std::move(state); }
    template<typename T>
    T* stateAs() const { return dynamic_cast<T*>(m_state.get()); }

    // Calls the window procedure.
    LRESULT call(UINT message, WPARAM wParam, LPARAM lParam);

    bool destroying() const { return m_destroying; }

private:
    friend class WindowList;

    HWND m_handle;
    std::string m_className;
    WNDPROC m_procedure;
    HINSTANCE m_instance;
    HWND m_parent { nullptr };
    HWND m_owner { nullptr };
    DWORD m_style { 0 };
    DWORD m_exStyle { 0 };
    UINT_PTR m_id { 0 };
    RECT m_rect {};
    std::string m_text;
    std::vector<BYTE> m_extra;
    LONG_PTR m_userData { 0 };
    std::unique_ptr<WindowState> m_state;
    std::vector<HWND> m_children;
    bool m_destroying { false };
};

// The geometry a new window asks for, after CW_USEDEFAULT is settled.
struct Placement {
    int x { 0 };
    int y { 0 };
    int cx { 0 };
    int cy { 0 };
};

class WindowList {
public:
    // A window of this process, or null. Holding the pointer keeps the
    // object alive while its procedure runs, even if it is destroyed.
    static std::shared_ptr<Window> find(HWND handle);

    // Makes the window object and its entry in the machine's table; sends
    // nothing.
    static HWND create(DWORD exStyle, const WindowClass& cls, HINSTANCE instance, const std::string& text,
        DWORD style, const Placement& placement, HWND parent, UINT_PTR id);
    static void destroy(HWND handle);
    // Children in creation (z) order.
    static std::vector<HWND> childrenOf(HWND handle);
    // Top-level windows of this process that the window owns.
    static std::vector<HWND> ownedBy(HWND handle);

    // The process's window with the keyboard focus (one thread, one focus).
    static HWND focus();
    static void setFocus(HWND handle);
};

// CreateWindowExA without its gate: the class's procedure sees
// WM_NCCREATE and WM_CREATE. Null with the last error set on failure.
HWND createWindow(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int cx, int cy,
    HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);

// The window whose handle a call names, or null with
// ERROR_INVALID_WINDOW_HANDLE set (ERROR_ACCESS_DENIED for a window of
// another process where the call must be made by its owner).
std::shared_ptr<Window> ownWindow(HWND handle);

// A window of another process of the machine, or nothing.
std::optional<WindowEntry> foreignWindow(HWND handle);

// The non-client frame a window of this style draws around its client
// area, in pixels on each side.
RECT frameOf(DWORD style, DWORD exStyle);
// The origin of a window's client area on the screen.
POINT clientOrigin(const Window& window);
// The screen's size in pixels.
SIZE screenSize();
// The owner's half of GetWindowRect, GetClientRect and the mapping of
// points on a window of another process ("windowrect", "clientrect",
// "clientorigin"), the rectangle packed in 16-bit parts.
bool answerRectRequest(HWND handle, const std::string& op, int64_t& result);

inline uint64_t handleValue(HWND h) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)); }
inline HWND handleOf(uint64_t v) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(v)); }

}
