// InstallHinfSection, the entry rundll32 calls: "SECTION MODE INFPATH".
#include "InfFile.h"
#include "SetupCalls.h"
#include "desk/Desk.h"
#include "user32/User32Calls.h"
#include "machine/ApiCall.h"

#include <setupapi.h>
#include <winuser.h>

#include <cstdlib>
#include <string>

using namespace ntsim::setupapi;

namespace {

struct HinfCommand {
    std::string section;
    unsigned mode { 0 };
    std::string infPath;
};

bool parseCommand(const std::string& line, HinfCommand& out)
{
    auto skipBlanks = [&](size_t pos) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        return pos;
    };
    size_t pos = skipBlanks(0);
    size_t end = line.find_first_of(" \t", pos);
    if (end == std::string::npos)
        return false;
    out.section = line.substr(pos, end - pos);
    pos = skipBlanks(end);
    end = line.find_first_of(" \t", pos);
    if (end == std::string::npos)
        return false;
    std::string mode = line.substr(pos, end - pos);
    char* stop = nullptr;
    out.mode = static_cast<unsigned>(std::strtoul(mode.c_str(), &stop, 10));
    if (mode.empty() || *stop)
        return false;
    out.infPath = line.substr(skipBlanks(end));
    while (!out.infPath.empty() && (out.infPath.back() == ' ' || out.infPath.back() == '\t'))
        out.infPath.pop_back();
    if (out.infPath.size() >= 2 && out.infPath.front() == '"' && out.infPath.back() == '"')
        out.infPath = out.infPath.substr(1, out.infPath.size() - 2);
    return !out.section.empty() && !out.infPath.empty();
}

void showError(HWND window, const std::string& text)
{
    ntsim::user32::messageBox(window, toAnsi(text).c_str(), "Installation Failed", MB_OK | MB_ICONERROR);
}

std::string describe(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_SECTION_NOT_FOUND:
        return "The required section was not found in the INF.";
    case ERROR_CANCELLED:
        return "The operation was canceled by the user.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    default:
        return "Error " + std::to_string(error) + ".";
    }
}

}

namespace {

void installHinfSection(HWND Window, const std::string& CommandLine)
{
    HinfCommand command;
    if (!parseCommand(CommandLine, command)) {
        showError(Window, "The command line of the installation is not valid.");
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    UINT errorLine = 0;
    HINF inf = openInfFile(command.infPath, nullptr, INF_STYLE_WIN4 | INF_STYLE_OLDNT, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        showError(Window, "Installation failed: the INF file " + command.infPath + " could not be opened. "
                + describe(error));
        SetLastError(error);
        return;
    }
    PVOID context = SetupInitDefaultQueueCallback(Window);
    BOOL ok = installFromInfSection(Window, inf, command.section, SPINST_ALL, nullptr, nullptr, SP_COPY_NEWER,
        QueueCallback::ansi(SetupDefaultQueueCallbackA, context), nullptr, nullptr);
    DWORD error = ok ? NO_ERROR : GetLastError();
    SetupTermDefaultQueueCallback(context);
    if (ok) {
        // The section's services are installed with it when the INF has
        // them; an empty services section is none.
        std::string services = command.section + ".Services";
        const auto* servicesSection = InfFile::fromHandle(inf)->section(services);
        if (servicesSection && !servicesSection->lines.empty()) {
            if (!installServicesFromInfSection(inf, services, 0, nullptr, nullptr)) {
                ok = FALSE;
                error = GetLastError();
            }
        }
    }
    InfFile::close(inf);
    if (!ok) {
        // A cancel was the person's own choice; it needs no further box.
        if (error != ERROR_CANCELLED)
            showError(Window, "Installation failed. " + describe(error));
        SetLastError(error);
        return;
    }
    // The low bits say when to restart; 128 only marks the INF's directory as the source.
    switch (command.mode & 0x7F) {
    case 1:
    case 4:
        ntsim::desk::record("reboot", ntsim::Json::object());
        break;
    case 2:
        SetupPromptReboot(nullptr, Window, FALSE);
        break;
    default:
        break;
    }
    SetLastError(NO_ERROR);
}

}

void WINAPI InstallHinfSectionA(HWND Window, HINSTANCE ModuleHandle, PCSTR CommandLine, INT ShowCommand)
{
    ntsim::ApiCall call("InstallHinfSectionA", Window, ModuleHandle, CommandLine, ShowCommand);
    installHinfSection(Window, argument(CommandLine));
}

void WINAPI InstallHinfSectionW(HWND Window, HINSTANCE ModuleHandle, PCWSTR CommandLine, INT ShowCommand)
{
    ntsim::ApiCall call("InstallHinfSectionW", Window, ModuleHandle, CommandLine, ShowCommand);
    installHinfSection(Window, argument(CommandLine));
}
