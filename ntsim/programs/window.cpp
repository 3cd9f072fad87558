// window.exe TITLE: owns one top-level window with that title until the
// window is closed, then ends with status 0.
#include <windows.h>

#include "machine/Process.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The simulator's tool waits on NTSIM_READY_FD for the window to exist.
void announce(HWND hwnd)
{
    const char* fdText = std::getenv("NTSIM_READY_FD");
    if (!fdText || !*fdText)
        return;
    int fd = std::atoi(fdText);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char line[64];
    int n = std::snprintf(line, sizeof line, "0x%08llx %lu\n",
        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), static_cast<unsigned long>(pid));
    if (write(fd, line, static_cast<size_t>(n)) != n)
        std::fprintf(stderr, "window.exe: cannot announce the window\n");
    close(fd);
}

}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nShowCmd)
{
    std::vector<std::string> args = ntsim::splitCommandLine(lpCmdLine);
    std::string title = args.empty() ? "" : args[0];

    WNDCLASSA cls {};
    cls.lpfnWndProc = windowProc;
    cls.hInstance = hInstance;
    cls.lpszClassName = "NtsimWindow";
    if (!RegisterClassA(&cls)) {
        std::fprintf(stderr, "window.exe: RegisterClassA failed with %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    HWND hwnd = CreateWindowExA(0, "NtsimWindow", title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    if (!hwnd) {
        std::fprintf(stderr, "window.exe: CreateWindowExA failed with %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    ShowWindow(hwnd, nShowCmd);
    announce(hwnd);

    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1)
            return 1;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
