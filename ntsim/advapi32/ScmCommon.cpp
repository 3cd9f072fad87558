#include "ScmCommon.h"

#include "machine/Unicode.h"

namespace ntsim::scm {

namespace {

std::optional<ScObject> opened(SC_HANDLE handle, ScObject::Kind kind, DWORD needed)
{
    auto object = findHandle(handle, kind);
    if (!object)
        return fail(ERROR_INVALID_HANDLE, std::nullopt);
    if ((object->access & needed) != needed)
        return fail(ERROR_ACCESS_DENIED, std::nullopt);
    return object;
}

}

std::optional<ScObject> openedService(SC_HANDLE handle, DWORD needed)
{
    return opened(handle, ScObject::Kind::Service, needed);
}

std::optional<ScObject> openedManager(SC_HANDLE handle, DWORD needed)
{
    return opened(handle, ScObject::Kind::Manager, needed);
}

void completePendingDeletes(RunStates& states)
{
    std::vector<std::string> gone;
    for (RunState* s : states.all())
        if (s->markedForDelete && !s->active() && s->handleOwners.empty())
            gone.push_back(s->name);
    for (auto& name : gone) {
        deleteService(name);
        states.forget(name);
    }
}

void fillStatus(const ServiceConfig* config, const RunState& state, LPSERVICE_STATUS status)
{
    if (!status)
        return;
    status->dwServiceType = config ? config->type : 0;
    status->dwCurrentState = state.state;
    status->dwControlsAccepted = state.active() ? state.controlsAccepted : 0;
    status->dwWin32ExitCode = state.win32ExitCode;
    status->dwServiceSpecificExitCode = state.specificExitCode;
    status->dwCheckPoint = 0;
    status->dwWaitHint = 0;
}

bool validServiceSettings(DWORD type, DWORD start, DWORD errorControl, const std::string& account)
{
    bool interactive = (type & SERVICE_INTERACTIVE_PROCESS) != 0;
    DWORD base = type & ~SERVICE_INTERACTIVE_PROCESS;
    bool driver = base == SERVICE_KERNEL_DRIVER || base == SERVICE_FILE_SYSTEM_DRIVER;
    bool win32 = base == SERVICE_WIN32_OWN_PROCESS || base == SERVICE_WIN32_SHARE_PROCESS;
    if (!driver && !win32)
        return false;
    if (interactive && (!win32 || (!account.empty() && !equalsNoCaseUtf8(account, "LocalSystem"))))
        return false;
    if (start > SERVICE_DISABLED)
        return false;
    if ((start == SERVICE_BOOT_START || start == SERVICE_SYSTEM_START) && !driver)
        return false;
    return errorControl <= SERVICE_ERROR_CRITICAL;
}

void splitDependencies(const std::vector<std::string>& list, std::vector<std::string>& services,
    std::vector<std::string>& groups)
{
    services.clear();
    groups.clear();
    for (auto& name : list) {
        if (!name.empty() && name[0] == SC_GROUP_IDENTIFIERA)
            groups.push_back(name.substr(1));
        else
            services.push_back(name);
    }
}

}
