// Opening, creating, deleting and configuring services.
#include "ScmCalls.h"
#include "ScmCommon.h"
#include "ScmHandles.h"
#include "ScmSecurity.h"
#include "registry/Key.h"

#include "machine/ApiCall.h"
#include "machine/Token.h"
#include "machine/Unicode.h"

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
        if (equalsNoCaseUtf8(other.name, self))
            continue;
        if (equalsNoCaseUtf8(other.name, name) || equalsNoCaseUtf8(other.displayName, name))
            return true;
    }
    return false;
}

// Whether the service would come to depend on itself, through any chain of
// the services it depends on.
bool dependsOnItself(const ServiceConfig& config)
{
    std::vector<std::string> pending = config.dependOnService;
    std::vector<std::string> seen;
    while (!pending.empty()) {
        std::string name = pending.back();
        pending.pop_back();
        if (equalsNoCaseUtf8(name, config.name))
            return true;
        bool visited = false;
        for (auto& s : seen)
            visited = visited || equalsNoCaseUtf8(s, name);
        if (visited)
            continue;
        seen.push_back(name);
        if (auto other = readService(name))
            pending.insert(pending.end(), other->dependOnService.begin(), other->dependOnService.end());
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
        if (equalsNoCaseUtf8(other.group, group) && other.tag && *other.tag >= tag)
            tag = *other.tag + 1;
    return tag;
}

bool wantsTag(const ServiceConfig& c)
{
    return c.isDriver() && (c.start == SERVICE_BOOT_START || c.start == SERVICE_SYSTEM_START) && !c.group.empty();
}

// A Win32 service runs as LocalSystem on this machine, which has no other
// service accounts; a driver's start name is its driver object's.
bool validAccount(const ServiceConfig& c)
{
    return c.isDriver() || c.objectName.empty() || equalsNoCaseUtf8(c.objectName, "LocalSystem");
}

// What a changed or new configuration must be, or the error NT gives.
DWORD checkConfig(const ServiceConfig& c, bool tagWanted)
{
    if (!validServiceSettings(c.type, c.start, c.errorControl, c.objectName) || c.imagePath.empty())
        return ERROR_INVALID_PARAMETER;
    if (tagWanted && !wantsTag(c))
        return ERROR_INVALID_PARAMETER;
    if (!validAccount(c))
        return ERROR_INVALID_SERVICE_ACCOUNT;
    if (dependsOnItself(c))
        return ERROR_CIRCULAR_DEPENDENCY;
    return ERROR_SUCCESS;
}

SC_HANDLE openServiceNamed(SC_HANDLE hSCManager, const std::optional<std::string>& name, DWORD desiredAccess)
{
    if (!findHandle(hSCManager, ScObject::Kind::Manager))
        return fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
    if (!name)
        return fail<SC_HANDLE>(missingPointer, nullptr);
    if (!isValidServiceName(*name))
        return fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
    RunStates states;
    auto config = readService(*name);
    if (!config)
        return fail<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
    auto access = security::checkAccess(serviceSecurity(config->name), Token::effective(), desiredAccess,
        serviceMapping);
    if (access.error)
        return fail<SC_HANDLE>(static_cast<DWORD>(access.error), nullptr);
    return openHandle(states, config->name, access.granted);
}

// What CreateService and ChangeServiceConfig set.
struct Settings {
    DWORD type;
    DWORD start;
    DWORD errorControl;
    std::optional<std::string> imagePath;
    std::optional<std::string> group;
    LPDWORD tagId;
    std::optional<std::vector<std::string>> dependencies;
    std::optional<std::string> startName;
    std::optional<std::string> displayName;
};

// The settings' texts; a missing one leaves its setting as it is.
void applyTexts(const Settings& s, ServiceConfig& c)
{
    if (s.imagePath)
        c.imagePath = *s.imagePath;
    if (s.group)
        c.group = *s.group;
    if (s.dependencies)
        splitDependencies(*s.dependencies, c.dependOnService, c.dependOnGroup);
    if (s.startName)
        c.objectName = *s.startName;
    if (s.displayName)
        c.displayName = *s.displayName;
}

SC_HANDLE createServiceNamed(SC_HANDLE hSCManager, const std::optional<std::string>& name, DWORD access,
    const Settings& s)
{
    auto manager = openedManager(hSCManager, SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return nullptr;
    if (!name)
        return fail<SC_HANDLE>(missingPointer, nullptr);
    if (!isValidServiceName(*name) || (s.displayName && !isValidDisplayName(*s.displayName)))
        return fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);

    ServiceConfig c;
    c.name = *name;
    c.type = s.type;
    c.start = s.start;
    c.errorControl = s.errorControl;
    applyTexts(s, c);
    if (!c.isDriver() && c.objectName.empty())
        c.objectName = "LocalSystem";
    if (DWORD error = checkConfig(c, s.tagId != nullptr))
        return fail<SC_HANDLE>(error, nullptr);

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
    if (s.tagId)
        c.tag = nextTag(c.group);
    bool keyExisted
        = registry::SystemKey(registry::Key::Text::Utf8).open(std::string(servicesKey) + "\\" + c.name) == ERROR_SUCCESS;
    if (LONG status = writeService(c); status != ERROR_SUCCESS) {
        if (!keyExisted)
            deleteService(c.name);
        states.save();
        return fail<SC_HANDLE>(static_cast<DWORD>(status), nullptr);
    }
    if (s.tagId)
        *s.tagId = *c.tag;
    RunState& state = states.of(c.name);
    state = RunState {};
    state.name = c.name;
    return openHandle(states, c.name, mapServiceAccess(access));
}

template<typename Text>
SC_HANDLE createServiceAs(SC_HANDLE hSCManager, const typename Text::Char* lpServiceName,
    const typename Text::Char* lpDisplayName, DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
    DWORD dwErrorControl, const typename Text::Char* lpBinaryPathName, const typename Text::Char* lpLoadOrderGroup,
    LPDWORD lpdwTagId, const typename Text::Char* lpDependencies, const typename Text::Char* lpServiceStartName)
{
    return createServiceNamed(hSCManager, optionalName<Text>(lpServiceName), dwDesiredAccess,
        Settings { dwServiceType, dwStartType, dwErrorControl, optionalName<Text>(lpBinaryPathName),
            optionalName<Text>(lpLoadOrderGroup), lpdwTagId, listOf<Text>(lpDependencies),
            optionalName<Text>(lpServiceStartName), optionalName<Text>(lpDisplayName) });
}

// The dependencies as QueryServiceConfig lists them: services, then groups
// after SC_GROUP_IDENTIFIER.
std::vector<std::string> dependencyList(const ServiceConfig& config)
{
    std::vector<std::string> list = config.dependOnService;
    for (auto& g : config.dependOnGroup)
        list.push_back(std::string(1, SC_GROUP_IDENTIFIERA) + g);
    return list;
}

// The structure, then its strings in the form's text.
template<typename Text, typename Config>
BOOL queryConfigAs(SC_HANDLE hService, Config* out, DWORD size, LPDWORD needed)
{
    auto service = openedService(hService, SERVICE_QUERY_CONFIG);
    if (!service)
        return FALSE;
    if (!needed)
        return fail(missingPointer, FALSE);
    auto config = readService(service->service);
    if (!config)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    auto dependencies = dependencyList(*config);
    size_t dependencyBytes = sizeof(typename Text::Char);
    for (auto& d : dependencies)
        dependencyBytes += textBytes<Text>(d);
    size_t bytes = sizeof(Config) + textBytes<Text>(config->imagePath) + textBytes<Text>(config->group)
        + dependencyBytes + textBytes<Text>(config->objectName) + textBytes<Text>(config->shownName());
    if (!out || size < bytes) {
        *needed = static_cast<DWORD>(bytes);
        return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    out->dwServiceType = config->type;
    out->dwStartType = config->start;
    out->dwErrorControl = config->errorControl;
    out->dwTagId = config->tag.value_or(0);
    char* cursor = reinterpret_cast<char*>(out + 1);
    out->lpBinaryPathName = putText<Text>(cursor, config->imagePath);
    out->lpLoadOrderGroup = putText<Text>(cursor, config->group);
    out->lpDependencies = reinterpret_cast<typename Text::Char*>(cursor);
    for (auto& d : dependencies)
        putText<Text>(cursor, d);
    putText<Text>(cursor, {});
    out->lpServiceStartName = putText<Text>(cursor, config->objectName);
    out->lpDisplayName = putText<Text>(cursor, config->shownName());
    return TRUE;
}

// SERVICE_NO_CHANGE leaves a number as it is.
BOOL changeConfigNamed(SC_HANDLE hService, const Settings& change)
{
    auto service = openedService(hService, SERVICE_CHANGE_CONFIG);
    if (!service)
        return FALSE;
    if (change.displayName && !isValidDisplayName(*change.displayName))
        return fail(ERROR_INVALID_NAME, FALSE);
    RunStates states;
    auto config = readService(service->service);
    if (!config)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    if (const RunState* state = states.find(config->name); state && state->markedForDelete)
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);

    ServiceConfig c = *config;
    if (change.type != SERVICE_NO_CHANGE)
        c.type = change.type;
    if (change.start != SERVICE_NO_CHANGE)
        c.start = change.start;
    if (change.errorControl != SERVICE_NO_CHANGE)
        c.errorControl = change.errorControl;
    applyTexts(change, c);
    if (DWORD error = checkConfig(c, change.tagId != nullptr))
        return fail(error, FALSE);
    if (change.displayName && nameTaken(c.name, c.displayName))
        return fail(ERROR_DUPLICATE_SERVICE_NAME, FALSE);
    if (change.tagId && (!c.tag || change.group))
        c.tag = nextTag(c.group);
    if (LONG status = writeService(c); status != ERROR_SUCCESS)
        return fail(static_cast<DWORD>(status), FALSE);
    if (change.tagId)
        *change.tagId = *c.tag;
    return TRUE;
}

template<typename Text>
BOOL changeConfigAs(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    const typename Text::Char* lpBinaryPathName, const typename Text::Char* lpLoadOrderGroup, LPDWORD lpdwTagId,
    const typename Text::Char* lpDependencies, const typename Text::Char* lpServiceStartName,
    const typename Text::Char* lpDisplayName)
{
    return changeConfigNamed(hService,
        Settings { dwServiceType, dwStartType, dwErrorControl, optionalName<Text>(lpBinaryPathName),
            optionalName<Text>(lpLoadOrderGroup), lpdwTagId, listOf<Text>(lpDependencies), optionalName<Text>(lpServiceStartName),
            optionalName<Text>(lpDisplayName) });
}

}

SC_HANDLE scm::openService(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess)
{
    return openServiceNamed(hSCManager, optionalName<AnsiText>(lpServiceName), dwDesiredAccess);
}

SC_HANDLE scm::openServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess)
{
    return openServiceNamed(hSCManager, optionalName<WideText>(lpServiceName), dwDesiredAccess);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess)
{
    ApiCall call("OpenServiceA", hSCManager, lpServiceName, dwDesiredAccess);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::openService(hSCManager, lpServiceName, dwDesiredAccess));
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess)
{
    ApiCall call("OpenServiceW", hSCManager, lpServiceName, dwDesiredAccess);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::openServiceW(hSCManager, lpServiceName, dwDesiredAccess));
}

SC_HANDLE scm::createService(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
    DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
    LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName)
{
    return createServiceAs<AnsiText>(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
        dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName);
}

SC_HANDLE scm::createServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
    DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
    LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies, LPCWSTR lpServiceStartName)
{
    return createServiceAs<WideText>(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
        dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName);
}

// The password goes unused: a Win32 service runs as LocalSystem here.
SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
    DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
    LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName, LPCSTR lpPassword)
{
    ApiCall call("CreateServiceA", hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
        dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName,
        lpPassword);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::createService(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
        dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName));
}

SC_HANDLE WINAPI CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
    DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
    LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies, LPCWSTR lpServiceStartName,
    LPCWSTR lpPassword)
{
    ApiCall call("CreateServiceW", hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
        dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName,
        lpPassword);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::createServiceW(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
        dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName));
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
        registry::SystemKey key(registry::Key::Text::Utf8);
        if (key.open(std::string(servicesKey) + "\\" + service->service, KEY_SET_VALUE) == ERROR_SUCCESS)
            key.setDword("DeleteFlag", 1);
    }
    states.save();
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE hService)
{
    ApiCall call("DeleteService", hService);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::markForDelete(hService));
}

BOOL scm::queryConfig(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    return queryConfigAs<AnsiText>(hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
}

BOOL scm::queryConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    return queryConfigAs<WideText>(hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    ApiCall call("QueryServiceConfigA", hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::queryConfig(hService, lpServiceConfig, cbBufSize, pcbBytesNeeded));
}

BOOL WINAPI QueryServiceConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    ApiCall call("QueryServiceConfigW", hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::queryConfigW(hService, lpServiceConfig, cbBufSize, pcbBytesNeeded));
}

BOOL scm::changeConfig(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
    LPCSTR lpServiceStartName, LPCSTR lpDisplayName)
{
    return changeConfigAs<AnsiText>(hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
        lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpDisplayName);
}

BOOL scm::changeConfigW(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCWSTR lpBinaryPathName, LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies,
    LPCWSTR lpServiceStartName, LPCWSTR lpDisplayName)
{
    return changeConfigAs<WideText>(hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
        lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpDisplayName);
}

BOOL WINAPI ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
    LPCSTR lpServiceStartName, LPCSTR lpPassword, LPCSTR lpDisplayName)
{
    ApiCall call("ChangeServiceConfigA", hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
        lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpPassword, lpDisplayName);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::changeConfig(hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
        lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpDisplayName));
}

BOOL WINAPI ChangeServiceConfigW(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
    LPCWSTR lpBinaryPathName, LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies,
    LPCWSTR lpServiceStartName, LPCWSTR lpPassword, LPCWSTR lpDisplayName)
{
    ApiCall call("ChangeServiceConfigW", hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
        lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpPassword, lpDisplayName);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::changeConfigW(hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
        lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpDisplayName));
}
