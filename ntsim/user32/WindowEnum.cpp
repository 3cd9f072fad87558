// Finding the machine's windows, of every process: the top-level ones and
// the children of one.
#include "Window.h"
#include "WindowClass.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"

#include <unistd.h>

using namespace ntsim::user32;

namespace {

// The top-level windows in z-order, newest first, as a snapshot: windows
// made or destroyed by the callback do not disturb the walk.
std::vector<WindowEntry> topLevelWindows()
{
    std::vector<WindowEntry> top;
    for (auto& e : WindowTable::list()) {
        if (e.parent == 0)
            top.push_back(e);
    }
    return top;
}

// The descendants of a window in z order, each child before its own
// children, as a snapshot taken before the first callback.
void collectDescendants(HWND parent, std::vector<HWND>& out)
{
    if (WindowList::find(parent)) {
        for (HWND child : WindowList::childrenOf(parent)) {
            out.push_back(child);
            collectDescendants(child, out);
        }
        return;
    }
    // Another process's windows, from the table: newest first there.
    auto all = WindowTable::list();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->parent == handleValue(parent)) {
            out.push_back(handleOf(it->handle));
            collectDescendants(handleOf(it->handle), out);
        }
    }
}

}

BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    ntsim::ApiCall call("EnumChildWindows", hWndParent, lpEnumFunc, lParam);
    if (call.faulted())
        return call.returns(FALSE);
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(FALSE);
    }
    // The desktop's children are the top-level windows.
    if (!hWndParent)
        return call.returns(EnumWindows(lpEnumFunc, lParam));
    if (!IsWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return call.returns(FALSE);
    }
    std::vector<HWND> descendants;
    collectDescendants(hWndParent, descendants);
    for (HWND child : descendants) {
        // A window destroyed by an earlier callback is passed over.
        if (!IsWindow(child))
            continue;
        if (!ntsim::ProgramCode::call(lpEnumFunc, child, lParam))
            return call.returns(FALSE);
    }
    return call.returns(TRUE);
}

BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    ntsim::ApiCall call("EnumWindows", lpEnumFunc, lParam);
    if (call.faulted())
        return call.returns(FALSE);
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(FALSE);
    }
    for (auto& e : topLevelWindows()) {
        if (!ntsim::ProgramCode::call(lpEnumFunc, handleOf(e.handle), lParam))
            return call.returns(FALSE);
    }
    return call.returns(TRUE);
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    ntsim::ApiCall call("FindWindowA", lpClassName, lpWindowName);
    if (call.faulted())
        return call.returns(HWND(nullptr));
    std::string className;
    if (lpClassName) {
        if (reinterpret_cast<uintptr_t>(lpClassName) < 0x10000) {
            // An atom names one of this process's classes.
            const WindowClass* cls = findWindowClass(lpClassName);
            if (!cls)
                return call.returns(nullptr);
            className = cls->name;
        } else {
            className = lpClassName;
        }
    }
    for (auto& e : topLevelWindows()) {
        if (lpClassName && !ntsim::equalsNoCase(e.className, className))
            continue;
        if (lpWindowName && !ntsim::equalsNoCase(e.title, lpWindowName))
            continue;
        return call.returns(handleOf(e.handle));
    }
    return call.returns(nullptr);
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    ntsim::ApiCall call("GetWindowThreadProcessId", hWnd, lpdwProcessId);
    if (WindowList::find(hWnd)) {
        if (lpdwProcessId)
            *lpdwProcessId = static_cast<DWORD>(getpid());
        return call.returns(static_cast<DWORD>(currentThreadId()));
    }
    if (auto entry = foreignWindow(hWnd)) {
        if (lpdwProcessId)
            *lpdwProcessId = static_cast<DWORD>(entry->pid);
        return call.returns(static_cast<DWORD>(entry->tid));
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(0);
}
