// The process entry of a program of the simulated machine: what the C
// runtime's start-up does on Windows before it calls WinMain.
#include <windows.h>

#include "kernel32/ProcessAttach.h"
#include "machine/Process.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

namespace {

// The command line without the program's name, as WinMain receives it.
LPSTR argumentsOf(LPSTR commandLine)
{
    char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

}

int main(int argc, char** argv)
{
    ntsim::initProcessFromHost(argc, argv);
    ntsim::kernel32::attachProcess();
    return WinMain(GetModuleHandleA(nullptr), nullptr, argumentsOf(GetCommandLineA()), SW_SHOWNORMAL);
}
