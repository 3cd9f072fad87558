#include "ScmRunState.h"

#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <signal.h>

#include <cerrno>

namespace ntsim::scm {

namespace {

std::string lockPath()
{
    std::string dir = Machine::current().runDir();
    makeDirectories(dir);
    return dir + "/services.lock";
}

bool processAlive(int pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

RunState fromJson(const Json& j)
{
    RunState s;
    s.name = stringMember(j, "name");
    s.state = static_cast<DWORD>(intMember(j, "state", SERVICE_STOPPED));
    s.controlsAccepted = static_cast<DWORD>(intMember(j, "accepted"));
    s.win32ExitCode = static_cast<DWORD>(intMember(j, "exitCode", ERROR_SERVICE_NEVER_STARTED));
    s.specificExitCode = static_cast<DWORD>(intMember(j, "specificExitCode"));
    s.markedForDelete = boolMember(j, "markedForDelete");
    // Handles of processes that ended went with them.
    const Json& handles = member(j, "handles");
    if (handles.is_array())
        for (auto& pid : handles)
            if (pid.is_number_integer() && processAlive(pid.get<int>()))
                s.handleOwners.push_back(pid.get<int>());
    s.driver = member(j, "driver");
    return s;
}

Json toJson(const RunState& s)
{
    Json j = Json::object();
    j["name"] = s.name;
    j["state"] = s.state;
    j["accepted"] = s.controlsAccepted;
    j["exitCode"] = s.win32ExitCode;
    j["specificExitCode"] = s.specificExitCode;
    j["markedForDelete"] = s.markedForDelete;
    j["handles"] = s.handleOwners;
    j["driver"] = s.driver;
    return j;
}

}

RunStates::RunStates()
    : m_path(Machine::current().runDir() + "/services.json")
    , m_lock(lockPath(), FileLock::Mode::Exclusive)
{
    std::string text, error;
    Json j;
    if (!readWholeFile(m_path, text) || !parseJson(text, j, error))
        return;
    const Json& services = member(j, "services");
    if (!services.is_array())
        return;
    for (auto& item : services) {
        RunState s = fromJson(item);
        if (!s.name.empty())
            m_states[upperAscii(s.name)] = std::move(s);
    }
}

RunState& RunStates::of(const std::string& name)
{
    auto [it, inserted] = m_states.try_emplace(upperAscii(name));
    if (inserted)
        it->second.name = name;
    return it->second;
}

const RunState* RunStates::find(const std::string& name) const
{
    auto it = m_states.find(upperAscii(name));
    return it == m_states.end() ? nullptr : &it->second;
}

RunState* RunStates::find(const std::string& name)
{
    auto it = m_states.find(upperAscii(name));
    return it == m_states.end() ? nullptr : &it->second;
}

void RunStates::forget(const std::string& name)
{
    m_states.erase(upperAscii(name));
}

std::vector<RunState*> RunStates::all()
{
    std::vector<RunState*> out;
    for (auto& [key, state] : m_states)
        out.push_back(&state);
    return out;
}

bool RunStates::save() const
{
    Json list = Json::array();
    for (auto& [key, state] : m_states)
        list.push_back(toJson(state));
    Json j = Json::object();
    j["services"] = list;
    return writeFileAtomically(m_path, dumpPretty(j));
}

}
