#include "ScmRunState.h"

#include "machine/NtPath.h"

#include <signal.h>

#include <cerrno>

namespace ntsim::scm {

namespace {

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

// The last record read of each service, parsed: most loads meet the
// records the last one left. Used under the store's lock.
struct ParsedRecord {
    std::string text;
    Json json;
};

const Json& parsed(const RunStore::Transaction& transaction, const std::string& upper, const std::string& text)
{
    static auto* records = new std::map<std::string, ParsedRecord>();
    ParsedRecord& record = (*records)[upper];
    if (record.text == text && record.json.is_object())
        return record.json;
    std::string error;
    Json j;
    if (!parseJson(text, j, error) || !j.is_object())
        transaction.store().fail("the run state of service " + upper + " is not sound (" + (error.empty() ? "no object" : error) + ")");
    record = { text, std::move(j) };
    return record.json;
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
{
    RunStore::Query rows(m_transaction, "SELECT upper, record FROM service");
    while (rows.next()) {
        std::string upper = rows.text(0), text = rows.text(1);
        RunState s = fromJson(parsed(m_transaction, upper, text));
        if (upperAscii(s.name) != upper)
            m_transaction.store().fail("the run state of service " + upper + " names " + (s.name.empty() ? "no service" : s.name));
        m_stored[upper] = std::move(text);
        m_states[upper] = std::move(s);
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
    // Only what changed is written: most calls change nothing.
    for (auto& [key, record] : m_stored)
        if (!m_states.count(key))
            RunStore::Query(m_transaction, "DELETE FROM service WHERE upper = ?1").bind(key).run();
    for (auto& [key, state] : m_states) {
        std::string record = dumpLine(toJson(state));
        auto stored = m_stored.find(key);
        if (stored != m_stored.end() && stored->second == record)
            continue;
        RunStore::Query(m_transaction, "INSERT OR REPLACE INTO service (upper, record) VALUES (?1, ?2)")
            .bind(key)
            .bind(record)
            .run();
    }
    return true;
}

}
