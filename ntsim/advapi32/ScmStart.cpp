#include "ScmStart.h"

#include "DriverRuntime.h"
#include "machine/FileLock.h"
#include "LegacyTraces.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Unicode.h"

#include <algorithm>

namespace ntsim::scm {

namespace {

// Drivers the I/O manager loads itself; a recognizer is no device's driver.
bool isLegacyDriver(const ServiceConfig& config)
{
    return (config.type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
}

bool isProgram(const std::string& ntPath)
{
    std::string text;
    return readWholeFile(Machine::current().hostPath(ntPath), text) && text.rfind("\x7f" "ELF", 0) == 0;
}

class Starter {
public:
    explicit Starter(RunStates& states)
        : m_states(states)
    {
    }

    DWORD start(const ServiceConfig& config)
    {
        m_chain.push_back(config.name);
        DWORD result = startDependencies(config);
        if (result == ERROR_SUCCESS)
            result = load(config);
        m_chain.pop_back();
        return result;
    }

private:
    bool inChain(const std::string& name) const
    {
        return std::any_of(m_chain.begin(), m_chain.end(), [&](auto& n) { return equalsNoCaseUtf8(n, name); });
    }

    // ERROR_SUCCESS when the dependency runs afterwards.
    DWORD startDependency(const std::string& name)
    {
        if (inChain(name))
            return ERROR_CIRCULAR_DEPENDENCY;
        auto config = readService(name);
        const RunState* state = config ? m_states.find(config->name) : nullptr;
        if (!config || (state && state->markedForDelete))
            return ERROR_SERVICE_DEPENDENCY_DELETED;
        if (state && state->active())
            return ERROR_SUCCESS;
        if (config->start == SERVICE_DISABLED)
            return ERROR_SERVICE_DEPENDENCY_FAIL;
        DWORD result = start(*config);
        if (result == ERROR_CIRCULAR_DEPENDENCY || result == ERROR_SERVICE_DEPENDENCY_DELETED)
            return result;
        return result == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_SERVICE_DEPENDENCY_FAIL;
    }

    // A group is up when one of its members runs.
    DWORD startGroup(const std::string& group)
    {
        auto members = allServices();
        auto running = [&] {
            return std::any_of(members.begin(), members.end(), [&](auto& m) {
                const RunState* s = m_states.find(m.name);
                return equalsNoCaseUtf8(m.group, group) && s && s->active();
            });
        };
        if (running())
            return ERROR_SUCCESS;
        for (auto& member : members)
            if (equalsNoCaseUtf8(member.group, group) && member.start != SERVICE_DISABLED && !inChain(member.name))
                startDependency(member.name);
        return running() ? ERROR_SUCCESS : ERROR_SERVICE_DEPENDENCY_FAIL;
    }

    DWORD startDependencies(const ServiceConfig& config)
    {
        for (auto& name : config.dependOnService)
            if (DWORD result = startDependency(name); result != ERROR_SUCCESS)
                return result;
        for (auto& group : config.dependOnGroup)
            if (DWORD result = startGroup(group); result != ERROR_SUCCESS)
                return result;
        return ERROR_SUCCESS;
    }

    DWORD load(const ServiceConfig& config)
    {
        RunState& state = m_states.of(config.name);
        DriverImage image;
        std::string path = serviceImagePath(config.name, config.imagePath, config.isDriver());
        DWORD result = loadServiceImage(path, image);
        // A service program that is an ordinary program never connects
        // to the controller: the simulated machine has no dispatcher.
        if (result == ERROR_BAD_EXE_FORMAT && !config.isDriver() && isProgram(path))
            result = ERROR_SERVICE_REQUEST_TIMEOUT;
        Json data = Json::object();
        std::unique_ptr<DriverBehaviour> behaviour;
        if (result == ERROR_SUCCESS) {
            behaviour = makeDriverBehaviour(config.name, image);
            result = behaviour->start(data);
        }
        if (result != ERROR_SUCCESS) {
            state.state = SERVICE_STOPPED;
            state.controlsAccepted = 0;
            state.win32ExitCode = result;
            state.specificExitCode = 0;
            state.driver = Json();
            return result;
        }
        // The loader does not unload a running driver for its bookkeeping:
        // a trace it cannot write is left out.
        if (isLegacyDriver(config))
            recordLegacyDriver(config.name, config.shownName());
        state.state = SERVICE_RUNNING;
        state.controlsAccepted = behaviour->controlsAccepted();
        state.win32ExitCode = ERROR_SUCCESS;
        state.specificExitCode = 0;
        Json loaded = Json::object();
        loaded["image"] = image.toJson();
        loaded["data"] = data;
        state.driver = loaded;
        return ERROR_SUCCESS;
    }

    RunStates& m_states;
    std::vector<std::string> m_chain;
};

}

DWORD startService(RunStates& states, const ServiceConfig& config)
{
    return Starter(states).start(config);
}

DWORD stopLoadedService(const ServiceConfig& config, RunState& state)
{
    DriverImage image = DriverImage::fromJson(member(state.driver, "image"));
    Json data = member(state.driver, "data");
    DWORD next = makeDriverBehaviour(config.name, image)->stop(data);
    if (next == SERVICE_STOPPED) {
        state.state = SERVICE_STOPPED;
        state.controlsAccepted = 0;
        state.win32ExitCode = ERROR_SUCCESS;
        state.driver = Json();
    } else {
        state.state = next;
        state.controlsAccepted = 0;
        state.driver["data"] = data;
    }
    return state.state;
}

bool hasActiveDependents(RunStates& states, const ServiceConfig& config)
{
    for (auto& other : allServices()) {
        const RunState* s = states.find(other.name);
        if (s && s->active() && other.dependsOn(config))
            return true;
    }
    return false;
}

}
