// Processes: the current one, and starting, watching and ending others.
#include "FileShare.h"
#include "Launch.h"
#include "ProcessAttach.h"
#include "ProcessEnd.h"
#include "ProcessObject.h"

#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"
#include "desk/Desk.h"
#include "desk/Run.h"
#include "machine/CodePage.h"

#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace ntsim {

namespace {

// Children whose handles were closed before they ended: reaped later so
// that they do not linger as zombies.
struct Orphans {
    std::mutex mutex;
    std::vector<pid_t> pids;
};

Orphans& orphans()
{
    static Orphans* instance = new Orphans;
    return *instance;
}

void reapOrphans()
{
    auto& o = orphans();
    std::lock_guard lock(o.mutex);
    for (auto it = o.pids.begin(); it != o.pids.end();) {
        if (waitpid(*it, nullptr, WNOHANG) != 0) {
            takeExitCode(*it);
            it = o.pids.erase(it);
        } else {
            ++it;
        }
    }
}

DWORD exitCodeOfStatus(pid_t pid, int status)
{
    if (WIFEXITED(status)) {
        DWORD code = static_cast<DWORD>(WEXITSTATUS(status));
        if (auto full = takeExitCode(pid); full && (*full & 0xFF) == code)
            code = *full;
        return code;
    }
    switch (WTERMSIG(status)) {
    case SIGSEGV:
    case SIGBUS: return 0xC0000005; // STATUS_ACCESS_VIOLATION
    case SIGILL: return 0xC000001D; // STATUS_ILLEGAL_INSTRUCTION
    case SIGFPE: return 0xC0000094; // STATUS_INTEGER_DIVIDE_BY_ZERO
    case SIGABRT: return 3;          // what abort() leaves on NT
    default: return 0xC000013A;      // STATUS_CONTROL_C_EXIT
    }
}

}

ChildProcess::~ChildProcess()
{
    if (m_exitCode)
        return;
    auto& o = orphans();
    std::lock_guard lock(o.mutex);
    o.pids.push_back(m_pid);
}

std::optional<DWORD> ChildProcess::exitCode()
{
    if (m_exitCode)
        return m_exitCode;
    int status = 0;
    pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_exitCode = m_terminatedWith ? *m_terminatedWith : exitCodeOfStatus(m_pid, status);
    } else if (r < 0 && errno == ECHILD && kill(m_pid, 0) != 0) {
        // Someone else reaped it; its code is lost.
        m_exitCode = m_terminatedWith.value_or(0);
    }
    return m_exitCode;
}

bool ProcessHandleObject::signaled(DWORD&)
{
    if (m_process)
        return m_process->exitCode().has_value();
    return processStartTime(m_pid) != m_start;
}

int ProcessHandleObject::openEndDescriptor() const
{
    // A child already reaped may have passed its pid on.
    if (m_process && m_process->exitCode())
        return -1;
    int fd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    // Opened by pid: it must still be the process the handle names.
    if (fd >= 0 && !m_process && processStartTime(m_pid) != m_start) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ChildProcess::terminate(DWORD exitCode)
{
    if (this->exitCode())
        return false;
    m_terminatedWith = exitCode;
    kill(m_pid, SIGKILL);
    return true;
}

}

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

int64_t handleNumber(const void* value)
{
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(value));
}

ntsim::Json textOrNull(const char* text)
{
    if (!text)
        return nullptr;
    return ntsim::ansiToUtf8(text, ntsim::ansiCodePage());
}

// What a started process was given, for the desk's transcript: the flags
// and start-up fields change nothing the machine shows, so a test reads them
// there.
void recordStart(LPCSTR application, const std::string& commandLine, BOOL inherit, DWORD flags,
    LPCSTR directory, const STARTUPINFOA& si)
{
    ntsim::Json startup = ntsim::Json::object();
    startup["cb"] = static_cast<int64_t>(si.cb);
    startup["reserved"] = handleNumber(si.lpReserved);
    startup["desktop"] = textOrNull(si.lpDesktop);
    startup["title"] = textOrNull(si.lpTitle);
    startup["x"] = static_cast<int64_t>(si.dwX);
    startup["y"] = static_cast<int64_t>(si.dwY);
    startup["xsize"] = static_cast<int64_t>(si.dwXSize);
    startup["ysize"] = static_cast<int64_t>(si.dwYSize);
    startup["xcountchars"] = static_cast<int64_t>(si.dwXCountChars);
    startup["ycountchars"] = static_cast<int64_t>(si.dwYCountChars);
    startup["fillattribute"] = static_cast<int64_t>(si.dwFillAttribute);
    startup["flags"] = static_cast<int64_t>(si.dwFlags);
    startup["showwindow"] = static_cast<int64_t>(si.wShowWindow);
    startup["cbreserved2"] = static_cast<int64_t>(si.cbReserved2);
    startup["reserved2"] = handleNumber(si.lpReserved2);
    startup["stdinput"] = handleNumber(si.hStdInput);
    startup["stdoutput"] = handleNumber(si.hStdOutput);
    startup["stderror"] = handleNumber(si.hStdError);
    ntsim::Json fields = ntsim::Json::object();
    fields["application"] = textOrNull(application);
    fields["command"] = ntsim::ansiToUtf8(commandLine, ntsim::ansiCodePage());
    fields["inherit"] = inherit != FALSE;
    fields["flags"] = static_cast<int64_t>(flags);
    fields["directory"] = textOrNull(directory);
    fields["startup"] = std::move(startup);
    ntsim::desk::record("process", fields);
}

// An NT environment block: NAME=VALUE strings, each ended by a zero, and
// one more zero at the end.
std::vector<std::string> environmentBlockEntries(const char* block)
{
    std::vector<std::string> out;
    for (const char* p = block; *p; p += std::strlen(p) + 1)
        out.emplace_back(p);
    for (auto& entry : ntsim::hostEnvironment())
        if (entry.compare(0, 6, "NTSIM_") == 0)
            out.push_back(entry);
    return out;
}

}

namespace ntsim::kernel32 {

namespace {

// The machine's record of a process's end: what it still held, by kind.
void recordHandlesAtExit()
{
    Json handles = Json::object();
    for (auto& [kind, count] : countOpenHandles())
        handles[kind] = static_cast<int64_t>(count);
    Json fields = Json::object();
    fields["program"] = bytesJson(currentProcess().imagePath);
    fields["handles"] = std::move(handles);
    desk::record("exit", fields);
}

}

void attachProcess()
{
    std::atexit(endThisProcess);
    // Exit functions run in the reverse order of their registration, after
    // the destructors of statics made later: what the count reads is made
    // first, and the count runs before the process's files and events are
    // let go.
    desk::processPlace();
    std::atexit(recordHandlesAtExit);
}

}

extern "C" LPSTR WINAPI GetCommandLineA(void)
{
    ntsim::ApiCall call("GetCommandLineA");
    return call.returns(ntsim::currentProcess().commandLine.data());
}

extern "C" DWORD WINAPI GetCurrentProcessId(void)
{
    ntsim::ApiCall call("GetCurrentProcessId");
    return call.returns(static_cast<DWORD>(getpid()));
}

extern "C" HANDLE WINAPI GetCurrentProcess(void)
{
    ntsim::ApiCall call("GetCurrentProcess");
    return call.returns(ntsim::currentProcessHandle());
}

extern "C" void WINAPI ExitProcess(UINT uExitCode)
{
    ntsim::ApiCall call("ExitProcess", uExitCode);
    if (uExitCode > 0xFF)
        ntsim::keepExitCode(getpid(), uExitCode);
    std::exit(static_cast<int>(uExitCode & 0xFF));
}

extern "C" BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
    LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    ntsim::ApiCall call("CreateProcessA", lpApplicationName, lpCommandLine, lpProcessAttributes, lpThreadAttributes, bInheritHandles, dwCreationFlags, lpEnvironment, lpCurrentDirectory, lpStartupInfo, lpProcessInformation);
    if (auto fault = call.fault())
        return call.returns(fail(*fault));
    if (!lpStartupInfo || !lpProcessInformation || (!lpApplicationName && !lpCommandLine))
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    ntsim::reapOrphans();

    const std::string& ourDirectory = ntsim::currentProcess().currentDirectory;
    std::string directory = ourDirectory;
    if (lpCurrentDirectory) {
        directory = ntsim::fullNtPath(lpCurrentDirectory, ourDirectory);
        std::string host = directory.empty() ? std::string() : ntsim::Machine::current().hostPath(directory);
        struct stat st;
        if (host.empty() || stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return call.returns(fail(ERROR_DIRECTORY));
        while (directory.size() > 3 && directory.back() == '\\')
            directory.pop_back();
    }
    std::string commandLine = lpCommandLine ? lpCommandLine : lpApplicationName;
    uint32_t error = 0;
    std::string image = ntsim::resolveProgram(lpApplicationName ? lpApplicationName : "", commandLine, ourDirectory, error);
    if (image.empty())
        return call.returns(fail(error));

    std::vector<std::string> base = lpEnvironment ? environmentBlockEntries(static_cast<const char*>(lpEnvironment))
                                                  : ntsim::hostEnvironment();
    std::vector<std::string> environment = ntsim::programEnvironment(image, commandLine, directory, base);
    for (auto& entry : ntsim::desk::childPlaceEnvironment())
        environment.push_back(entry);
    pid_t pid = ntsim::startProgram(image, commandLine, environment, error);
    if (pid < 0)
        return call.returns(fail(error));

    recordStart(lpApplicationName, commandLine, bInheritHandles, dwCreationFlags, lpCurrentDirectory, *lpStartupInfo);
    auto child = std::make_shared<ntsim::ChildProcess>(pid);
    lpProcessInformation->hProcess = ntsim::insertHandle(
        std::make_shared<ntsim::ProcessHandleObject>(ntsim::KernelObject::Type::Process, child));
    lpProcessInformation->hThread = ntsim::insertHandle(
        std::make_shared<ntsim::ProcessHandleObject>(ntsim::KernelObject::Type::Thread, child));
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
    return call.returns(TRUE);
}

extern "C" HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    ntsim::ApiCall call("OpenProcess", dwDesiredAccess, bInheritHandle, dwProcessId);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    int pid = static_cast<int>(dwProcessId);
    uint64_t start = pid == getpid() ? ntsim::processStartTime(pid) : ntsim::runningProgramStart(pid);
    if (dwProcessId == 0 || start == 0) {
        // Not a process of this machine, or one that has ended.
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(nullptr);
    }
    // Waiting is what the machine's programs open each other for; the other
    // rights would act on a process that is not ours to control.
    if (dwDesiredAccess & ~SYNCHRONIZE) {
        SetLastError(ERROR_ACCESS_DENIED);
        return call.returns(nullptr);
    }
    return call.returns(ntsim::insertHandle(std::make_shared<ntsim::ProcessHandleObject>(pid, start, dwDesiredAccess)));
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    ntsim::ApiCall call("GetExitCodeProcess", hProcess, lpExitCode);
    if (call.faulted())
        return call.returns(FALSE);
    if (!lpExitCode)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    if (hProcess == ntsim::currentProcessHandle()) {
        *lpExitCode = STILL_ACTIVE;
        return call.returns(TRUE);
    }
    auto object = ntsim::lookupHandleOf<ntsim::ProcessHandleObject>(hProcess, ntsim::KernelObject::Type::Process);
    if (!object)
        return call.returns(fail(ERROR_INVALID_HANDLE));
    if (!object->child() || !object->grants(PROCESS_QUERY_INFORMATION))
        return call.returns(fail(ERROR_ACCESS_DENIED));
    *lpExitCode = object->child()->exitCode().value_or(STILL_ACTIVE);
    return call.returns(TRUE);
}

extern "C" BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode)
{
    ntsim::ApiCall call("TerminateProcess", hProcess, uExitCode);
    if (call.faulted())
        return call.returns(FALSE);
    if (hProcess == ntsim::currentProcessHandle())
        ExitProcess(uExitCode);
    auto object = ntsim::lookupHandleOf<ntsim::ProcessHandleObject>(hProcess, ntsim::KernelObject::Type::Process);
    if (!object)
        return call.returns(fail(ERROR_INVALID_HANDLE));
    if (!object->child() || !object->grants(PROCESS_TERMINATE) || !object->child()->terminate(uExitCode))
        return call.returns(fail(ERROR_ACCESS_DENIED));
    return call.returns(TRUE);
}
