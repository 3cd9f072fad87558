// Opening, creating, deleting and configuring services.
#include "ScmCalls.h"
#include "ScmCommon.h"
#include "ScmHandles.h"
#include "registry/Key.h"
#include "ScmSecurity.h"

#include "machine/ApiCall.h"
#include "machine/Token.h"

#include "machine/NtPath.h"

#include <unistd.h>

#include <cstring>

using namespace ntsim;
using namespace ntsim::scm;

namespace {

// NT refuses a display name that is another service's name or display name,
// and a service name that is another service's display name.
bool nameTaken(const std::string& self, const std::string& name)
{
    if (name.empty())
        return false;
    for (auto& other : allServices()) {
        if (equalsNoCase(other.name, self))
            continue;
        if (equalsNoCase(other.name, name) || equalsNoCase(other.displayName, name))
            return true;
    }
    return false;
}

SC_HANDLE openHandle(RunStates& states, const std::string& service, DWORD access)
{
    states.of(service).handleOwners.push_back(static_cast<int>(getpid()));
    states.save();
    return addHandle(ScObject { ScObject::Kind::Service, access, service });
}

DWORD nextTag(const std::string& group)
{
    DWORD tag = 1;
    for (auto& other : allServices())
        if (equalsNoCase(other.group, group) && other.tag && *other.tag >= tag)
            tag = *other.tag + 1;
    return tag;
}

bool wantsTag(const ServiceConfig& c)
{
    return c.isDriver() && (c.start == SERVICE_BOOT_START || c.start == SERVICE_SYSTEM_START) && !c.group.empty();
}

void putString(char*& cursor, LPSTR& field, const std::string& value)
{
    field = cursor;
    std::memcpy(cursor, value.c_str(), value.size() + 1);
    cursor += value.size() + 1;
}

}

SC_HANDLE scm::openService(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess)
{
    if (!findHandle(hSCManager, ScObject::Kind::Manager))
        return fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
    if (!isValidServiceName(lpServiceName))
        return fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
    RunStates states;
    auto config = readService(lpServiceName);
    if (!config)
        return fail<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
    auto access = security::checkAccess(serviceSecurity(config->name), Token::effective(), dwDesiredAccess,
        serviceMapping);
    if (access.error)
        return fail<SC_HANDLE>(static_cast<DWORD>(access.error), nullptr);
    return openHandle(states, config->name, access.granted);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess)
{
    ntsim::ApiCall call("OpenServiceA", hSCManager, lpServiceName, dwDesiredAccess);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::openService(hSCManager, lpServiceName, dwDesiredAccess));
}

SC_HANDLE scm::createService(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
    DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
    LPCSTR lpServiceStartName)
{
    auto manager = findHandle(hSCManager, ScObject::Kind::Manager);
    if (!manager)
        return fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE))
        return fail<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    if (!isValidServiceName(lpServiceName) || !isValidDisplayName(lpDisplayName))
        return fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);

    ServiceConfig c;
    c.name = lpServiceName;
    c.type = dwServiceType;
    c.start = dwStartType;
    c.errorControl = dwErrorControl;
    c.imagePath = lpBinaryPathName ? lpBinaryPathName : "";
    c.displayName = lpDisplayName ? lpDisplayName : "";
    c.group = lpLoadOrderGroup ? lpLoadOrderGroup : "";
    c.objectName = lpServiceStartName ? lpServiceStartName : "";
    if (!c.isDriver() && c.objectName.empty())
        c.objectName = "LocalSystem";
    splitDependencies(lpDependencies, c.dependOnService, c.dependOnGroup);
    if (!validServiceSettings(c.type, c.start, c.errorControl, c.objectName) || c.imagePath.empty())
        return fail<SC_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    if (lpdwTagId && !wantsTag(c))
        return fail<SC_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);

    RunStates states;
    completePendingDeletes(states);
    if (auto existing = readService(c.name)) {
        const RunState* state = states.find(existing->name);
        states.save();
        return fail<SC_HANDLE>(state && state->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS,
            nullptr);
    }
    if (nameTaken(c.name, c.displayName) || nameTaken(c.name, c.name)) {
        states.save();
        return fail<SC_HANDLE>(ERROR_DUPLICATE_SERVICE_NAME, nullptr);
    }
    if (lpdwTagId)
        c.tag = nextTag(c.group);
    bool keyExisted = registry::SystemKey().open(std::string(servicesKey) + "\\" + c.name) == ERROR_SUCCESS;
    if (LONG status = writeService(c); status != ERROR_SUCCESS) {
        if (!keyExisted)
            deleteService(c.name);
        states.save();
        return fail<SC_HANDLE>(static_cast<DWORD>(status), nullptr);
    }
    if (lpdwTagId)
        *lpdwTagId = *c.tag;
    RunState& state = states.of(c.name);
    state = RunState {};
    state.name = c.name;
    return openHandle(states, c.name, mapServiceAccess(dwDesiredAccess));
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
    DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
    LPCSTR lpServiceStartName, LPCSTR /*lpPassword*/ lpPassword)
{
    ntsim::ApiCall call("CreateServiceA", hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpPassword);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::createService(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType, dwStartType,
        dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName));
}

BOOL scm::markForDelete(SC_HANDLE hService)
{
    auto service = openedService(hService, DELETE);
    if (!service)
        return FALSE;
    RunStates states;
    RunState& state = states.of(service->service);
    if (state.markedForDelete)
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    state.markedForDelete = true;
    {
        // As NT does, so that the mark outlives a restart.
        registry::SystemKey key;
        if (key.open(std::string(servicesKey) + "\\" + service->service, KEY_SET_VALUE) == ERROR_SUCCESS)
            key.setDword("DeleteFlag", 1);
    }
    states.save();
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE hService)
{
    ntsim::ApiCall call("DeleteService", hService);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::markForDelete(hService));
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    ntsim::ApiCall call("QueryServiceConfigA", hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    auto service = openedService(hService, SERVICE_QUERY_CONFIG);
    if (!service)
        return call.returns(FALSE);
    if (!pcbBytesNeeded)
        return call.returns(fail(ERROR_INVALID_ADDRESS, FALSE));
    auto config = readService(service->service);
    if (!config)
        return call.returns(fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE));

    std::string dependencies;
    for (auto& s : config->dependOnService)
        dependencies += s + '\0';
    for (auto& g : config->dependOnGroup)
        dependencies += std::string(1, SC_GROUP_IDENTIFIERA) + g + '\0';
    const std::string& displayName = config->shownName();
    size_t needed = sizeof(QUERY_SERVICE_CONFIGA) + config->imagePath.size() + 1 + config->group.size() + 1
        + dependencies.size() + 1 + config->objectName.size() + 1 + displayName.size() + 1;
    if (!lpServiceConfig || cbBufSize < needed) {
        *pcbBytesNeeded = static_cast<DWORD>(needed);
        return call.returns(fail(ERROR_INSUFFICIENT_BUFFER, FALSE));
    }
    QUERY_SERVICE_CONFIGA& out = *lpServiceConfig;
    out.dwServiceType = config->type;
    out.dwStartType = config->start;
    out.dwErrorControl = config->errorControl;
    out.dwTagId = config->tag.value_or(0);
    char* cursor = reinterpret_cast<char*>(lpServiceConfig + 1);
    putString(cursor, out.lpBinaryPathName, config->imagePath);
    putString(cursor, out.lpLoadOrderGroup, config->group);
    out.lpDependencies = cursor;
    std::memcpy(cursor, dependencies.data(), dependencies.size());
    cursor += dependencies.size();
    *cursor++ = 0;
    putString(cursor, out.lpServiceStartName, config->objectName);
    putString(cursor, out.lpDisplayName, displayName);
    return call.returns(TRUE);
}

BOOL scm::changeConfig(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
    LPCSTR lpServiceStartName, LPCSTR lpDisplayName)
{
    auto service = openedService(hService, SERVICE_CHANGE_CONFIG);
    if (!service)
        return FALSE;
    if (!isValidDisplayName(lpDisplayName))
        return fail(ERROR_INVALID_NAME, FALSE);
    RunStates states;
    auto config = readService(service->service);
    if (!config)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    if (const RunState* state = states.find(config->name); state && state->markedForDelete)
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);

    ServiceConfig c = *config;
    if (dwServiceType != SERVICE_NO_CHANGE)
        c.type = dwServiceType;
    if (dwStartType != SERVICE_NO_CHANGE)
        c.start = dwStartType;
    if (dwErrorControl != SERVICE_NO_CHANGE)
        c.errorControl = dwErrorControl;
    if (lpBinaryPathName)
        c.imagePath = lpBinaryPathName;
    if (lpLoadOrderGroup)
        c.group = lpLoadOrderGroup;
    if (lpDependencies)
        splitDependencies(lpDependencies, c.dependOnService, c.dependOnGroup);
    if (lpServiceStartName)
        c.objectName = lpServiceStartName;
    if (lpDisplayName)
        c.displayName = lpDisplayName;
    if (!validServiceSettings(c.type, c.start, c.errorControl, c.objectName) || c.imagePath.empty())
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    if (lpdwTagId && !wantsTag(c))
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    if (lpDisplayName && nameTaken(c.name, c.displayName))
        return fail(ERROR_DUPLICATE_SERVICE_NAME, FALSE);
    if (lpdwTagId && (!c.tag || lpLoadOrderGroup))
        c.tag = nextTag(c.group);
    if (LONG status = writeService(c); status != ERROR_SUCCESS)
        return fail(static_cast<DWORD>(status), FALSE);
    if (lpdwTagId)
        *lpdwTagId = *c.tag;
    return TRUE;
}

BOOL WINAPI ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
    LPCSTR lpServiceStartName, LPCSTR /*lpPassword*/ lpPassword, LPCSTR lpDisplayName)
{
    ntsim::ApiCall call("ChangeServiceConfigA", hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpPassword, lpDisplayName);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::changeConfig(hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup,
        lpdwTagId, lpDependencies, lpServiceStartName, lpDisplayName));
}
