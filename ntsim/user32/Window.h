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

class Window {
public:
    Window(HWND handle, const std::string& className, WNDPROC procedure)
        : m_handle(handle)
        , m_className(className)
        , m_procedure(procedure)
    {
    }

    HWND handle() const { return m_handle; }
    const std::string& className() const { return m_className; }
    WNDPROC procedure() const { return m_procedure; }
    void setProcedure(WNDPROC procedure) { m_procedure = procedure; }

    HWND parent() const { return m_parent; }
    HWND owner() const { return m_owner; }
    bool isChild() const { return m_style & WS_CHILD; }
    DWORD style() const { return m_style; }
    void setStyle(DWORD style) { m_style = style; }
    DWORD exStyle() const { return m_exStyle; }
    UINT_PTR id() const { return m_id; }
    const std::vector<HWND>& children() const { return m_children; }

    const std::string& text() const { return m_text; }
    // Keeps the machine's table in step, where other processes read it.
    void setText(const std::string& text);

    // Calls the window procedure.
    LRESULT call(UINT message, WPARAM wParam, LPARAM lParam);

    bool destroying() const { return m_destroying; }

private:
    friend class WindowList;

    HWND m_handle;
    std::string m_className;
    WNDPROC m_procedure;
    HWND m_parent { nullptr };
    HWND m_owner { nullptr };
    DWORD m_style { 0 };
    DWORD m_exStyle { 0 };
    UINT_PTR m_id { 0 };
    std::string m_text;
    std::vector<HWND> m_children;
    bool m_destroying { false };
};

class WindowList {
public:
    // A window of this process, or null. Holding the pointer keeps the
    // object alive while its procedure runs, even if it is destroyed.
    static std::shared_ptr<Window> find(HWND handle);

    static HWND create(DWORD exStyle, const std::string& className, WNDPROC procedure, const std::string& text,
        DWORD style, HWND parent, UINT_PTR id);
    static void destroy(HWND handle);
    // Children in creation order.
    static std::vector<HWND> childrenOf(HWND handle);
};

// A window of another process of the machine, or nothing.
std::optional<WindowEntry> foreignWindow(HWND handle);

inline uint64_t handleValue(HWND h) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)); }
inline HWND handleOf(uint64_t v) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(v)); }

}
