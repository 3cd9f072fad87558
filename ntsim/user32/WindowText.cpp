// Window texts and class names, of this process's windows and, through the
// machine's table, of other processes' windows.
#include "Message.h"
#include "Window.h"

#include <cstring>

using namespace ntsim::user32;

namespace {

int copyOut(const std::string& text, LPSTR buffer, int capacity)
{
    size_t count = std::min(text.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = 0;
    return static_cast<int>(count);
}

}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = 0;
    if (WindowList::find(hWnd))
        return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
    // Another process's window is not asked: its caption is read from the
    // table, so a hung owner cannot hang the caller.
    if (auto entry = foreignWindow(hWnd))
        return copyOut(entry->title, lpString, nMaxCount);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

int WINAPI GetWindowTextLengthA(HWND hWnd)
{
    if (WindowList::find(hWnd))
        return static_cast<int>(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0));
    if (auto entry = foreignWindow(hWnd))
        return static_cast<int>(entry->title.size());
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (WindowList::find(hWnd))
        return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
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
