// A process started by CreateProcessA, behind its process and thread handles.
#pragma once
#include "Waitable.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace ntsim {

class ChildProcess {
public:
    explicit ChildProcess(pid_t pid)
        : m_pid(pid)
    {
    }
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // Its exit code once it has ended.
    std::optional<DWORD> exitCode();
    bool terminate(DWORD exitCode);

private:
    pid_t m_pid;
    std::optional<DWORD> m_exitCode;
    std::optional<DWORD> m_terminatedWith;
};

// Both the process handle and the thread handle wait for the process: the
// machine's programs have one thread.
class ProcessHandleObject final : public Waitable {
public:
    ProcessHandleObject(Type type, std::shared_ptr<ChildProcess> process)
        : Waitable(type)
        , m_process(std::move(process))
    {
    }
    bool tryWait(DWORD&) override { return m_process->exitCode().has_value(); }
    ChildProcess& process() { return *m_process; }

private:
    std::shared_ptr<ChildProcess> m_process;
};

// Where a process leaves an exit code wider than the host's eight bits.
std::string exitCodePath(pid_t pid);

}
