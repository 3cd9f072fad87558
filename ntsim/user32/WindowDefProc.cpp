// DefWindowProcA: what a window does with the messages its procedure
// leaves alone.
#include "Window.h"

#include <cstring>

using namespace ntsim::user32;

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    auto window = WindowList::find(hWnd);
    if (!window)
        return 0;
    switch (Msg) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (create && create->lpszName)
            window->setText(create->lpszName);
        return TRUE;
    }
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_SETTEXT:
        window->setText(lParam ? reinterpret_cast<LPCSTR>(lParam) : "");
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        auto* buffer = reinterpret_cast<char*>(lParam);
        size_t count = std::min(window->text().size(), static_cast<size_t>(wParam) - 1);
        std::memcpy(buffer, window->text().data(), count);
        buffer[count] = 0;
        return static_cast<LRESULT>(count);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(window->text().size());
    default:
        return 0;
    }
}
