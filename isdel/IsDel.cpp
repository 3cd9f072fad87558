// ISDEL.EXE: removes the setup program's own files once the setup program
// has ended. The setup program starts it, holding ISDEL.EXE open with
// delete-on-close, and waits until ISDEL.EXE sets the event
// "push-me<pid>"; ISDEL.EXE then waits for the setup program to end,
// deletes the files it was given, and ends, and its own file goes with the
// last handle on it.
//
// Without " -L" the setup run kept its diagnostic log, SETUP.TXT beside
// the setup program: ISDEL.EXE adds what it did to it, and the log and its
// directory stay. With " -L" there is no log: ISDEL.EXE writes none and
// removes the setup program's directory when nothing else is left in it.
#include "DeleteRequest.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Exit statuses.
constexpr int allDeleted = 0;
constexpr int someLeft = 1;
constexpr int badCommandLine = 2;
constexpr int notAsked = 3; // no setup program waits for us: nothing is touched

// A file held open by someone is tried again for this long, then left.
constexpr DWORD retryForMs = 5000;
constexpr DWORD retryEveryMs = 250;

// What ISDEL.EXE did, for the setup program's log.
class DeleteLog {
public:
    void Add(const std::string& line) { m_lines += "ISDEL " + line + "\r\n"; }

    // Appends to SETUP.TXT in the setup program's directory, if the run wrote one.
    void AppendTo(const std::string& directory) const
    {
        std::string path = directory + "SETUP.TXT";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
            WriteFile(file, m_lines.data(), static_cast<DWORD>(m_lines.size()), &written, nullptr);
        CloseHandle(file);
    }

private:
    std::string m_lines;
};

std::string ModulePath()
{
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n && n < sizeof path ? std::string(path) : std::string();
}

std::string Number(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
    return text;
}

// Answers the setup program and keeps a handle to wait for its end; null
// when no setup program of that id waits for us.
HANDLE AnswerSetupProgram(DWORD processId)
{
    char name[32];
    std::snprintf(name, sizeof name, "push-me%lx", static_cast<unsigned long>(processId));
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (!event)
        return nullptr;
    // Opened before the event is set: the setup program is still there, waiting.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    SetEvent(event);
    CloseHandle(event);
    return process;
}

// Deletes what it may, trying files that are in use again for a while.
// Returns true when every file is gone.
bool DeleteFiles(const std::vector<std::string>& files, const std::string& ownPath, DeleteLog& log)
{
    const std::string setupDirectory = DirectoryOf(files.front());
    std::vector<std::string> pending;
    bool refused = false;
    for (auto& file : files) {
        if (MayDelete(file, setupDirectory, ownPath)) {
            pending.push_back(file);
        } else {
            log.Add("refused " + file + ": not a file of the setup program's directory");
            refused = true;
        }
    }
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> inUse;
        for (auto& file : pending) {
            if (DeleteFileA(file.c_str())) {
                log.Add("deleted " + file);
                continue;
            }
            DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                log.Add("found no " + file);
            else if ((error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
                && GetTickCount() - start < retryForMs)
                inUse.push_back(file);
            else {
                log.Add("could not delete " + file + ": error " + Number(error));
                refused = true;
            }
        }
        if (inUse.empty())
            return !refused;
        pending = inUse;
        Sleep(retryEveryMs);
    }
}

// The setup program's directory goes when nothing is left in it; never the
// Windows directory, the system directory, a drive's root or our own.
void RemoveEmptyDirectory(const std::string& directory, const std::string& ownPath)
{
    char windows[MAX_PATH] = "", system[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    GetSystemDirectoryA(system, sizeof system);
    std::string path = directory.substr(0, directory.size() - 1);
    if (path.size() <= 2 || lstrcmpiA(path.c_str(), windows) == 0 || lstrcmpiA(path.c_str(), system) == 0
        || lstrcmpiA(directory.c_str(), DirectoryOf(ownPath).c_str()) == 0)
        return;
    RemoveDirectoryA(path.c_str());
}

}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::string ownPath = ModulePath();
    DeleteRequest request;
    if (!ParseDeleteRequest(GetCommandLineA(), ownPath, request))
        return badCommandLine;
    // Our current directory must not keep the setup program's directory in use.
    std::string ownDirectory = DirectoryOf(ownPath);
    if (ownDirectory.size() > 3)
        ownDirectory.pop_back();
    SetCurrentDirectoryA(ownDirectory.c_str());

    HANDLE setupProcess = AnswerSetupProgram(request.setupProcessId);
    if (!setupProcess)
        return notAsked;
    WaitForSingleObject(setupProcess, INFINITE);
    CloseHandle(setupProcess);

    // The setup program's path says where its directory is: a path that is
    // not plainly a full path of a file is not acted on at all.
    std::string setupDirectory = DirectoryOf(request.files.front());
    if (!MayDelete(request.files.front(), setupDirectory, ownPath))
        return someLeft;
    DeleteLog log;
    bool deleted = DeleteFiles(request.files, ownPath, log);
    if (request.noLog)
        RemoveEmptyDirectory(setupDirectory, ownPath);
    else
        log.AppendTo(setupDirectory);
    return deleted ? allDeleted : someLeft;
}
