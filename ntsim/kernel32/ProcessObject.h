// A process started by CreateProcessA, behind its process and thread handles.
#pragma once
#include "Waitable.h"

#include <cstdint>
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
// machine's programs have one thread. A handle from OpenProcess names a
// process that is not our child: it is known by its pid and start time,
// and grants only the rights it was opened with.
class ProcessHandleObject final : public Waitable {
public:
    ProcessHandleObject(Type type, std::shared_ptr<ChildProcess> process)
        : Waitable(type)
        , m_process(std::move(process))
        , m_pid(m_process->pid())
    {
    }
    ProcessHandleObject(int pid, uint64_t start, DWORD access)
        : Waitable(Type::Process)
        , m_pid(pid)
        , m_start(start)
        , m_access(access)
    {
    }
    bool tryWait(DWORD& error) override { return signaled(error); }
    bool signaled(DWORD&) override;
    int openEndDescriptor() const override;
    bool maySynchronize() const override { return m_access & SYNCHRONIZE; }
    std::string identity() const override { return (type() == Type::Process ? "process " : "thread ") + std::to_string(m_pid); }

    // The child behind the handle; null for a handle from OpenProcess.
    ChildProcess* child() const { return m_process.get(); }
    bool grants(DWORD access) const { return (m_access & access) == access; }

private:
    std::shared_ptr<ChildProcess> m_process;
    int m_pid;
    uint64_t m_start { 0 };
    DWORD m_access { PROCESS_ALL_ACCESS };
};

}
