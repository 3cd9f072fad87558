// The windows of this process: their objects, the process's list of them,
// and how a handle is told to be this process's or another's.
#include "Window.h"

#include "WindowClass.h"

#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/Process.h"
#include "machine/Trace.h"

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
    return ntsim::ProgramCode::call(m_procedure, m_handle, message, wParam, lParam);
}

std::shared_ptr<Window> WindowList::find(HWND handle)
{
    auto it = windows().find(handleValue(handle));
    if (it == windows().end())
        return nullptr;
    return it->second;
}

namespace {

// For the trace: a window of this process and its text.
const unsigned windowDescriber = registerHandleDescriber([](uintptr_t value) -> std::optional<Json> {
    auto window = WindowList::find(reinterpret_cast<HWND>(value));
    if (!window)
        return std::nullopt;
    return Json { { "kind", "window" }, { "name", bytesJson(window->text()) } };
});

}

HWND WindowList::create(DWORD exStyle, const WindowClass& cls, HINSTANCE instance, const std::string& text,
    DWORD style, const Placement& placement, HWND parent, UINT_PTR id)
{
    registerExitHandler();

    WindowEntry entry;
    entry.handle = WindowTable::newHandle();
    ProcessIdentity self = thisProcess();
    entry.pid = self.pid;
    entry.tid = currentThreadId();
    entry.processStart = self.start;
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

HWND WindowList::focus()
{
    return processWindows().focus;
}

void WindowList::setFocus(HWND handle)
{
    processWindows().focus = handle;
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

}
