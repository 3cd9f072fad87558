// The Control Panel's way of running one applet: load the .cpl module,
// drive its CPlApplet through the protocol, and keep a window titled
// "Control Panel" while the applet is open.
#include "ControlPanel.h"

#include <cpl.h>

#include "kernel32/Kernel32Calls.h"
#include "user32/Window.h"
#include "user32/WindowClass.h"
#include "machine/ApiCall.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ntsim::user32;

namespace {

constexpr char controlPanelTitle[] = "Control Panel";
constexpr char controlPanelClass[] = "CplStubWindow";

struct AppletRequest {
    std::string file;
    int index { 0 };
    std::string parameters;
};

std::string trimmed(const std::string& s)
{
    size_t begin = s.find_first_not_of(" \t");
    size_t end = s.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : s.substr(begin, end - begin + 1);
}

// "NAME.cpl[,@N][,PARAMETERS]", the name quoted or not.
AppletRequest parseRequest(const std::string& line)
{
    AppletRequest request;
    std::string rest = trimmed(line);
    if (!rest.empty() && rest[0] == '"') {
        size_t close = rest.find('"', 1);
        request.file = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        rest = close == std::string::npos ? "" : rest.substr(close + 1);
    } else {
        size_t comma = rest.find(',');
        request.file = trimmed(rest.substr(0, comma));
        rest = comma == std::string::npos ? "" : rest.substr(comma);
    }
    if (!rest.empty() && rest[0] == ',')
        rest = rest.substr(1);
    if (!rest.empty() && rest[0] == '@') {
        size_t comma = rest.find(',');
        request.index = std::atoi(rest.substr(1, comma).c_str());
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    }
    request.parameters = trimmed(rest);
    return request;
}

// The window that stands for the Control Panel while the applet runs: the
// applet's owner, and what a person (or another program) closes to end it.
HWND makeControlPanelWindow()
{
    if (!findWindowClass(controlPanelClass)) {
        WindowClass cls;
        cls.name = controlPanelClass;
        cls.procedure = DefWindowProcA;
        DWORD error = 0;
        registerWindowClass(cls, error);
    }
    return createWindow(0, controlPanelClass, controlPanelTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
}

void complain(const std::string& file, const char* what)
{
    std::fprintf(stderr, "Control Panel: %s %s (error %lu)\n", what, file.c_str(),
        static_cast<unsigned long>(GetLastError()));
}

void runApplet(const AppletRequest& request)
{
    if (request.file.empty()) {
        std::fprintf(stderr, "Control Panel: no applet named; the Control Panel folder is not on this machine\n");
        return;
    }
    HMODULE module = ntsim::kernel32::loadLibrary(request.file.c_str(), nullptr, 0);
    if (!module) {
        complain(request.file, "cannot load");
        return;
    }
    // Through void (*)(), the cast between function types that stays
    // free of warnings, as a caller of GetProcAddress does.
    auto applet = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void (*)()>(ntsim::kernel32::procAddress(module, "CPlApplet")));
    HWND window = applet ? makeControlPanelWindow() : nullptr;
    if (!applet || !window) {
        complain(request.file, applet ? "cannot open a window for" : "finds no CPlApplet in");
        ntsim::kernel32::freeLibrary(module);
        return;
    }
    if (ntsim::ProgramCode::call(applet, window, CPL_INIT, 0, 0)) {
        LONG count = ntsim::ProgramCode::call(applet, window, CPL_GETCOUNT, 0, 0);
        std::vector<LONG_PTR> data(count > 0 ? static_cast<size_t>(count) : 0, 0);
        for (size_t i = 0; i < data.size(); ++i) {
            CPLINFO info {};
            ntsim::ProgramCode::call(applet, window, CPL_INQUIRE, static_cast<LPARAM>(i), reinterpret_cast<LPARAM>(&info));
            data[i] = info.lData;
            NEWCPLINFOA newer {};
            ntsim::ProgramCode::call(applet, window, CPL_NEWINQUIRE, static_cast<LPARAM>(i), reinterpret_cast<LPARAM>(&newer));
            if (newer.dwSize == sizeof newer)
                data[i] = newer.lData;
        }
        if (request.index >= 0 && static_cast<size_t>(request.index) < data.size()) {
            auto i = static_cast<LPARAM>(request.index);
            bool started = !request.parameters.empty()
                && ntsim::ProgramCode::call(applet, window, CPL_STARTWPARMSA, i, reinterpret_cast<LPARAM>(request.parameters.c_str()));
            if (!started)
                ntsim::ProgramCode::call(applet, window, CPL_DBLCLK, i, data[static_cast<size_t>(i)]);
        } else {
            std::fprintf(stderr, "Control Panel: %s has no applet %d\n", request.file.c_str(), request.index);
        }
        for (size_t i = 0; i < data.size(); ++i)
            ntsim::ProgramCode::call(applet, window, CPL_STOP, static_cast<LPARAM>(i), data[i]);
        ntsim::ProgramCode::call(applet, window, CPL_EXIT, 0, 0);
    }
    ntsim::kernel32::freeLibrary(module);
    if (WindowList::find(window))
        WindowList::destroy(window);
}

}

void WINAPI Control_RunDLL(HWND argument1, HINSTANCE argument2, LPCSTR lpszCmdLine, int argument4)
{
    ntsim::ApiCall call("Control_RunDLL", argument1, argument2, lpszCmdLine, argument4);
    runApplet(parseRequest(lpszCmdLine ? lpszCmdLine : ""));
}
