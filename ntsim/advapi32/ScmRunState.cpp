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
    s.name = j["name"].asString();
    s.state = static_cast<DWORD>(j["state"].asInt(SERVICE_STOPPED));
    s.controlsAccepted = static_cast<DWORD>(j["accepted"].asInt());
    s.win32ExitCode = static_cast<DWORD>(j["exitCode"].asInt(ERROR_SERVICE_NEVER_STARTED));
    s.specificExitCode = static_cast<DWORD>(j["specificExitCode"].asInt());
    s.markedForDelete = j["markedForDelete"].asBool();
    // Handles of processes that ended went with them.
    for (auto& pid : j["handles"].items())
        if (processAlive(static_cast<int>(pid.asInt())))
            s.handleOwners.push_back(static_cast<int>(pid.asInt()));
    s.driver = j["driver"];
    return s;
}

Json toJson(const RunState& s)
{
    Json j = Json::object();
    j.set("name", s.name);
    j.set("state", s.state);
    j.set("accepted", s.controlsAccepted);
    j.set("exitCode", s.win32ExitCode);
    j.set("specificExitCode", s.specificExitCode);
    j.set("markedForDelete", s.markedForDelete);
    Json handles = Json::array();
    for (int pid : s.handleOwners)
        handles.push(pid);
    j.set("handles", handles);
    j.set("driver", s.driver);
    return j;
}

}

RunStates::RunStates()
    : m_path(Machine::current().runDir() + "/services.json")
    , m_lock(lockPath(), FileLock::Mode::Exclusive)
{
    std::string text, error;
    Json j;
    if (!readWholeFile(m_path, text) || !Json::parse(text, j, error))
        return;
    for (auto& item : j["services"].items()) {
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
        list.push(toJson(state));
    Json j = Json::object();
    j.set("services", list);
    return writeFileAtomically(m_path, j.pretty());
}

}
