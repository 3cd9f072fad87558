// rundll32.exe: runs "DLL,Entry arguments". The machine's DLLs live in the
// simulator itself, so the entries it knows are looked up by name here.
#include <setupapi.h>
#include <winuser.h>

#include "shell32/ControlPanel.h"

#include <string>

namespace {

using RundllEntry = void(WINAPI*)(HWND, HINSTANCE, PCSTR, INT);

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The file name of a DLL path, lower case, with ".dll" added when missing.
std::string dllName(std::string path)
{
    size_t slash = path.find_last_of("\\/:");
    if (slash != std::string::npos)
        path = path.substr(slash + 1);
    path = lower(path);
    if (path.find('.') == std::string::npos)
        path += ".dll";
    return path;
}

RundllEntry findEntry(const std::string& dll, const std::string& entry)
{
    if (dll == "setupapi.dll" && (entry == "InstallHinfSection" || entry == "InstallHinfSectionA"))
        return InstallHinfSectionA;
    if (dll == "shell32.dll" && (entry == "Control_RunDLL" || entry == "Control_RunDLLA"))
        return Control_RunDLL;
    return nullptr;
}

}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    std::string line = commandLine ? commandLine : "";
    size_t end = line.find_first_of(" \t");
    std::string target = line.substr(0, end);
    std::string arguments;
    if (end != std::string::npos) {
        size_t start = line.find_first_not_of(" \t", end);
        if (start != std::string::npos)
            arguments = line.substr(start);
    }
    size_t comma = target.find(',');
    if (comma == std::string::npos)
        return 0; // no entry: nothing to run, as on the platform
    std::string dll = dllName(target.substr(0, comma));
    std::string entry = target.substr(comma + 1);
    RundllEntry function = findEntry(dll, entry);
    if (!function) {
        std::string text = "Missing entry:" + entry;
        if (dll != "setupapi.dll" && dll != "shell32.dll")
            text = "Error loading " + target.substr(0, comma) + "\nThe specified module could not be found.";
        MessageBoxA(nullptr, text.c_str(), "RUNDLL", MB_OK | MB_ICONERROR);
        return 0;
    }
    function(nullptr, instance, arguments.c_str(), show);
    return 0;
}
