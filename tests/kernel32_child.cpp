#include "kernel32_child.h"

#include "machine/FileLock.h"
#include "machine/NtPath.h"
#include "kernel32/ProcessAttach.h"
#include "machine/Process.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace test {

void installChildProgram(const TestMachine& machine, const std::string& ntPath, ChildFile kind)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    std::string target = machine.host(ntPath);
    ::unlink(target.c_str());
    if (kind == ChildFile::Link && link(self, target.c_str()) == 0)
        return;
    std::string contents;
    ASSERT_TRUE(ntsim::readWholeFile(self, contents));
    machine.write(ntPath, contents);
    ASSERT_EQ(chmod(target.c_str(), 0755), 0);
}

}

namespace {

int messageBox(const std::string& caption, DWORD delay)
{
    Sleep(delay);
    return MessageBoxA(nullptr, ("Shown by " + caption).c_str(), caption.c_str(), MB_OKCANCEL);
}

// Starts system32's K32CHILD.EXE with arguments, without waiting for it.
bool startChild(const std::string& arguments)
{
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    std::string commandLine = "C:\\WINNT\\system32\\K32CHILD.EXE " + arguments;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// What the setup program does to have ISDEL.EXE delete its files: a
// manual-reset event "push-me<pid>", ISDEL.EXE held open with
// delete-on-close, ISDEL.EXE started, the event waited for (or ISDEL.EXE's
// end, should it never answer), the handles closed.
int standInSetup(const std::string& extra, const std::string& logFlag, DWORD holdExtraMs)
{
    char name[32];
    std::snprintf(name, sizeof name, "push-me%lx", static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
    if (!event)
        return 9;
    char system[512];
    GetSystemDirectoryA(system, sizeof system);
    std::string isdel = std::string(system).substr(0, std::string(system).find_last_of('\\') + 1) + "ISDEL.EXE";
    HANDLE file = CreateFileA(isdel.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        CloseHandle(event);
        return 10;
    }
    if (holdExtraMs) {
        HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "held");
        startChild("hold " + extra + " " + std::to_string(holdExtraMs) + " held");
        WaitForSingleObject(held, INFINITE);
        CloseHandle(held);
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    char pid[16];
    std::snprintf(pid, sizeof pid, "%lx", static_cast<unsigned long>(GetCurrentProcessId()));
    std::string commandLine = isdel + " " + pid + " " + self + (extra == "-" ? "" : " " + extra) + (logFlag == "-L" ? " -L" : "");
    STARTUPINFOA si {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_FORCEOFFFEEDBACK;
    PROCESS_INFORMATION pi {};
    int status = 11;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        HANDLE both[2] = { event, pi.hProcess };
        status = static_cast<int>(WaitForMultipleObjects(2, both, FALSE, INFINITE));
        CloseHandle(pi.hProcess);
    }
    CloseHandle(file);
    CloseHandle(event);
    return status;
}

// Opens one handle of each kind a process can hold and ends without
// closing any, for the machine's record of what it held at its end.
int leaveHandlesOpen()
{
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key);
    CreateFileA("C:\\TEMP\\left.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WIN32_FIND_DATAA found;
    FindFirstFileA("C:\\WINNT\\*", &found);
    OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SetupOpenInfFileA("C:\\MODEM\\DRV_MEQ.INF", nullptr, INF_STYLE_WIN4, nullptr);
    SetupDiCreateDeviceInfoList(nullptr, nullptr);
    LoadLibraryA("C:\\MODEM\\setupres.dll");
    CreateWindowExA(0, "Static", "Left", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    return 0;
}

// Commands: "exit N", "leave" (handles of every kind left open), "setevent NAME", "waitevent NAME" (then exit 0, or 2
// when the event is missing), "report FILE" (command line, directory),
// "whoami FILE" (process id, system directory), "sleep MS", "box CAPTION
// [MS]" (a message box after a pause; exits with its answer), "spawn MS
// CAPTION ARGS..." (starts K32CHILD.EXE ARGS, then after a pause shows a box
// unless CAPTION is -), "hold FILE MS EVENT" (holds a file open for a
// while, setting EVENT once it has it), "setup EXTRA -L|log HOLDMS" (the
// setup program's side of ISDEL.EXE; EXTRA - for none; exits with what the
// wait returned), "then CAPTION COMMAND..." (a box first, then the command),
// "careless -" (a program with three faults a sweep finds: it writes through
// what a failed GlobalAlloc gave, leaves a key open when a query fails, and
// waits for good when SetEvent fails),
// "linger FILE DOOMED TITLE EVENT READY" (holds a file, a delete-on-close
// file, a window, an event and READY, sets READY and waits to be killed), "keep
// FILE DOOMED TITLE EVENT" (the same, then ends without closing them),
// "wakeup READY GO MS" (sets READY, waits MS for GO: 0 when set, 7 on the
// timeout), "busy N FILE" (N rounds of a counted call, an open of FILE
// and a named event set and closed).
// Sets the event NAME, which another process made.
void setNamed(const std::string& name)
{
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    SetEvent(event);
    CloseHandle(event);
}

// What a process holds of the machine's shared state: FILE open without
// sharing, DOOMED open to be deleted on close, a window titled TITLE, the
// named event EVENT. False if one could not be had.
bool holdState(const std::string& file, const std::string& doomed, const std::string& title, const std::string& event)
{
    WNDCLASSA cls {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "K32ChildWindow";
    RegisterClassA(&cls);
    return CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE
        && CreateFileA(doomed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
               nullptr)
        != INVALID_HANDLE_VALUE
        && CreateWindowExA(0, "K32ChildWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
               nullptr, nullptr)
        && CreateEventA(nullptr, TRUE, FALSE, event.c_str());
}

int runChildCommand(std::vector<std::string> args)
{
    if (args.size() < 3)
        return 100;
    const std::string& command = args[1];
    auto number = [&](size_t i) { return i < args.size() ? static_cast<DWORD>(std::strtoul(args[i].c_str(), nullptr, 10)) : 0; };
    if (command == "exit")
        return std::atoi(args[2].c_str());
    if (command == "leave")
        return leaveHandlesOpen();
    if (command == "setevent" || command == "waitevent") {
        HANDLE event = OpenEventA(command == "setevent" ? EVENT_MODIFY_STATE : SYNCHRONIZE, FALSE, args[2].c_str());
        if (!event)
            return 2;
        BOOL ok = command == "setevent" ? SetEvent(event) : WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
        CloseHandle(event);
        return ok ? 0 : 3;
    }
    if (command == "report" || command == "whoami") {
        HANDLE out = CreateFileA(args[2].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            return 4;
        char directory[MAX_PATH];
        if (command == "report")
            GetCurrentDirectoryA(sizeof directory, directory);
        else
            GetSystemDirectoryA(directory, sizeof directory);
        std::string first = command == "report" ? std::string(GetCommandLineA()) : std::to_string(GetCurrentProcessId());
        std::string text = first + "\n" + directory + "\n";
        DWORD n = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
        CloseHandle(out);
        return 0;
    }
    if (command == "sleep") {
        Sleep(number(2));
        return 0;
    }
    if (command == "box")
        return messageBox(args[2], number(3));
    if (command == "spawn" && args.size() >= 5) {
        std::vector<std::string> rest(args.begin() + 4, args.end());
        if (!startChild(ntsim::quoteCommandLine(rest)))
            return 5;
        if (args[3] == "-") {
            Sleep(number(2));
            return 0;
        }
        return messageBox(args[3], number(2));
    }
    if (command == "hold" && args.size() >= 5) {
        HANDLE file = CreateFileA(args[2].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 6;
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, args[4].c_str());
        SetEvent(event);
        CloseHandle(event);
        Sleep(number(3));
        CloseHandle(file);
        return 0;
    }
    if (command == "setup" && args.size() >= 5)
        return standInSetup(args[2], args[3], number(4));
    if (command == "careless") {
        auto* block = static_cast<char*>(GlobalLock(GlobalAlloc(GMEM_FIXED, 16)));
        *static_cast<volatile char*>(block) = 1;
        GlobalFree(block);
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.txt", 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 7;
        DWORD size = 0;
        if (RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            return 8;
        RegCloseKey(key);
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetEvent(event);
        WaitForSingleObject(event, INFINITE);
        CloseHandle(event);
        return 0;
    }
    if (command == "linger" && args.size() >= 7) {
        // Holds them until it is killed: nothing of its own exit runs.
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, args[6].c_str());
        if (!ready || !holdState(args[2], args[3], args[4], args[5]))
            return 8;
        SetEvent(ready);
        for (;;)
            Sleep(INFINITE);
    }
    if (command == "keep" && args.size() >= 6)
        return holdState(args[2], args[3], args[4], args[5]) ? 0 : 8; // ends without closing a thing
    if (command == "wakeup" && args.size() >= 5) {
        HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, args[3].c_str());
        setNamed(args[2]);
        DWORD waited = WaitForSingleObject(go, number(4));
        return waited == WAIT_OBJECT_0 ? 0 : waited == WAIT_TIMEOUT ? 7 : 3;
    }
    if (command == "busy" && args.size() >= 4) {
        // Each call below changes the store: the counted call, an open, an event.
        for (DWORD i = 0; i < number(2); ++i) {
            GetCurrentProcessId();
            HANDLE file = CreateFileA(args[3].c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return 9;
            CloseHandle(file);
            HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "busy");
            SetEvent(event);
            CloseHandle(event);
        }
        return 0;
    }
    if (command == "then") {
        messageBox(args[2], 0);
        args.erase(args.begin() + 1, args.begin() + 3);
        return runChildCommand(args);
    }
    return 101;
}

int childMain()
{
    ntsim::initProcessFromHost(0, nullptr);
    ntsim::kernel32::attachProcess();
    return runChildCommand(ntsim::splitCommandLine(GetCommandLineA()));
}

// Started as K32CHILD.EXE, or as a stand-in ISDEL.EXE that answers nobody.
bool startedAsChild()
{
    const char* image = std::getenv("NTSIM_IMAGE");
    if (!image)
        return false;
    std::string name = std::string(image).substr(std::string(image).find_last_of('\\') + 1);
    if (!ntsim::equalsNoCase(name, "K32CHILD.EXE") && !ntsim::equalsNoCase(name, "ISDEL.EXE"))
        return false;
    std::exit(childMain());
}

const bool childRan = startedAsChild();

}
