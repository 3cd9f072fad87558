// EnumServicesStatus, EnumDependentServices, GetServiceDisplayName and
// GetServiceKeyName: the services as lists and names.
#include "ScmCalls.h"
#include "ScmCommon.h"

#include "machine/ApiCall.h"
#include "machine/Unicode.h"

#include <algorithm>
#include <type_traits>

using namespace ntsim;
using namespace ntsim::scm;

namespace {

struct Listed {
    std::string name;
    std::string displayName;
    SERVICE_STATUS status {};
};

bool validState(DWORD state)
{
    return state == SERVICE_ACTIVE || state == SERVICE_INACTIVE || state == SERVICE_STATE_ALL;
}

bool inState(const RunState* state, DWORD wanted)
{
    bool active = state && state->active();
    return (wanted & (active ? SERVICE_ACTIVE : SERVICE_INACTIVE)) != 0;
}

Listed listed(const ServiceConfig& config, const RunState* state)
{
    Listed out { config.name, config.shownName(), {} };
    RunState stopped;
    fillStatus(&config, state ? *state : stopped, &out.status);
    return out;
}

template<typename Text, typename Entry>
size_t entryBytes(const Listed& service)
{
    return sizeof(Entry) + textBytes<Text>(service.name) + textBytes<Text>(service.displayName);
}

// The entries first, their names after them all.
template<typename Text, typename Entry>
void putEntries(Entry* buffer, const std::vector<Listed>& services, size_t first, size_t count)
{
    char* cursor = reinterpret_cast<char*>(buffer + count);
    for (size_t i = 0; i < count; ++i) {
        const Listed& service = services[first + i];
        buffer[i].lpServiceName = putText<Text>(cursor, service.name);
        buffer[i].lpDisplayName = putText<Text>(cursor, service.displayName);
        buffer[i].ServiceStatus = service.status;
    }
}

// The services of the types and in the states asked for, in the
// database's order.
std::vector<Listed> servicesOf(DWORD type, DWORD state)
{
    RunStates states;
    std::vector<Listed> out;
    for (auto& config : allServices()) {
        const RunState* run = states.find(config.name);
        if ((config.type & type) && inState(run, state))
            out.push_back(listed(config, run));
    }
    return out;
}

// As many entries as fit from the resume point on; the rest are told by
// the size they need and a resume point after those returned.
template<typename Text, typename Entry>
BOOL enumServicesAs(SC_HANDLE hSCManager, DWORD type, DWORD state, Entry* buffer, DWORD size, LPDWORD needed,
    LPDWORD returned, LPDWORD resume)
{
    if (!openedManager(hSCManager, SC_MANAGER_ENUMERATE_SERVICE))
        return FALSE;
    if (!needed || !returned)
        return fail(missingPointer, FALSE);
    if (!type || (type & ~DWORD(SERVICE_DRIVER | SERVICE_WIN32)) || !validState(state))
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<Listed> services = servicesOf(type, state);
    size_t first = resume ? std::min<size_t>(*resume, services.size()) : 0;
    size_t count = 0;
    size_t used = 0;
    while (buffer && first + count < services.size()) {
        size_t next = entryBytes<Text, Entry>(services[first + count]);
        if (used + next > size)
            break;
        used += next;
        ++count;
    }
    if (count)
        putEntries<Text>(buffer, services, first, count);
    *returned = static_cast<DWORD>(count);
    size_t rest = 0;
    for (size_t i = first + count; i < services.size(); ++i)
        rest += entryBytes<Text, Entry>(services[i]);
    *needed = static_cast<DWORD>(rest);
    if (resume)
        *resume = rest ? static_cast<DWORD>(first + count) : 0;
    return rest ? fail(ERROR_MORE_DATA, FALSE) : TRUE;
}

// Services that depend on one, in the order they would have to stop: each
// after the services that depend on it in turn.
void addDependents(const ServiceConfig& of, const std::vector<ServiceConfig>& all, std::vector<const ServiceConfig*>& out)
{
    for (auto& other : all) {
        if (!other.dependsOn(of))
            continue;
        bool listedAlready = false;
        for (auto* seen : out)
            listedAlready = listedAlready || equalsNoCaseUtf8(seen->name, other.name);
        if (listedAlready)
            continue;
        addDependents(other, all, out);
        out.push_back(&other);
    }
}

// All of them or none: the size they need when they do not fit.
template<typename Text, typename Entry>
BOOL enumDependentsAs(SC_HANDLE hService, DWORD state, Entry* buffer, DWORD size, LPDWORD needed, LPDWORD returned)
{
    auto service = openedService(hService, SERVICE_ENUMERATE_DEPENDENTS);
    if (!service)
        return FALSE;
    if (!needed || !returned)
        return fail(missingPointer, FALSE);
    if (!validState(state))
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    auto config = readService(service->service);
    if (!config)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    std::vector<ServiceConfig> all = allServices();
    std::vector<const ServiceConfig*> dependents;
    addDependents(*config, all, dependents);
    std::vector<Listed> services;
    RunStates states;
    for (auto* dependent : dependents) {
        const RunState* run = states.find(dependent->name);
        if (inState(run, state))
            services.push_back(listed(*dependent, run));
    }
    size_t total = 0;
    for (auto& s : services)
        total += entryBytes<Text, Entry>(s);
    *returned = 0;
    if (total > size || (!buffer && total)) {
        *needed = static_cast<DWORD>(total);
        return fail(ERROR_MORE_DATA, FALSE);
    }
    putEntries<Text>(buffer, services, 0, services.size());
    *returned = static_cast<DWORD>(services.size());
    *needed = 0;
    return TRUE;
}

// Copies a name out in characters of the form: the length without the
// terminator, and when it does not fit an empty string and the length it
// needs. The A form tells twice the name's characters then, room for any
// code page's bytes (measured on Windows, as Wine has it too).
template<typename Text>
BOOL putName(const std::string& utf8, typename Text::Char* buffer, LPDWORD length)
{
    auto text = Text::out(utf8);
    if (!buffer || *length <= text.size()) {
        if (buffer && *length)
            buffer[0] = 0;
        size_t units = utf16Length(utf8);
        *length = static_cast<DWORD>(std::is_same_v<Text, AnsiText> ? 2 * units : units);
        return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    *length = static_cast<DWORD>(text.size());
    return TRUE;
}

template<typename Text>
BOOL displayNameAs(SC_HANDLE hSCManager, const typename Text::Char* serviceName, typename Text::Char* displayName,
    LPDWORD length)
{
    if (!findHandle(hSCManager, ScObject::Kind::Manager))
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!serviceName || !length)
        return fail(missingPointer, FALSE);
    auto config = readService(Text::name(serviceName));
    if (!config)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    return putName<Text>(config->shownName(), displayName, length);
}

template<typename Text>
BOOL keyNameAs(SC_HANDLE hSCManager, const typename Text::Char* displayName, typename Text::Char* serviceName,
    LPDWORD length)
{
    if (!findHandle(hSCManager, ScObject::Kind::Manager))
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!displayName || !length)
        return fail(missingPointer, FALSE);
    std::string wanted = Text::name(displayName);
    for (auto& config : allServices())
        if (equalsNoCaseUtf8(config.shownName(), wanted))
            return putName<Text>(config.name, serviceName, length);
    return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
}

}

BOOL scm::enumServices(SC_HANDLE hSCManager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
    LPDWORD needed, LPDWORD returned, LPDWORD resume)
{
    return enumServicesAs<AnsiText>(hSCManager, type, state, services, size, needed, returned, resume);
}

BOOL scm::enumServicesW(SC_HANDLE hSCManager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
    LPDWORD needed, LPDWORD returned, LPDWORD resume)
{
    return enumServicesAs<WideText>(hSCManager, type, state, services, size, needed, returned, resume);
}

BOOL scm::enumDependents(SC_HANDLE hService, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
    LPDWORD needed, LPDWORD returned)
{
    return enumDependentsAs<AnsiText>(hService, state, services, size, needed, returned);
}

BOOL scm::enumDependentsW(SC_HANDLE hService, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
    LPDWORD needed, LPDWORD returned)
{
    return enumDependentsAs<WideText>(hService, state, services, size, needed, returned);
}

BOOL scm::displayName(SC_HANDLE hSCManager, LPCSTR serviceName, LPSTR displayName, LPDWORD length)
{
    return displayNameAs<AnsiText>(hSCManager, serviceName, displayName, length);
}

BOOL scm::displayNameW(SC_HANDLE hSCManager, LPCWSTR serviceName, LPWSTR displayName, LPDWORD length)
{
    return displayNameAs<WideText>(hSCManager, serviceName, displayName, length);
}

BOOL scm::keyName(SC_HANDLE hSCManager, LPCSTR displayName, LPSTR serviceName, LPDWORD length)
{
    return keyNameAs<AnsiText>(hSCManager, displayName, serviceName, length);
}

BOOL scm::keyNameW(SC_HANDLE hSCManager, LPCWSTR displayName, LPWSTR serviceName, LPDWORD length)
{
    return keyNameAs<WideText>(hSCManager, displayName, serviceName, length);
}

BOOL WINAPI EnumServicesStatusA(SC_HANDLE hSCManager, DWORD dwServiceType, DWORD dwServiceState,
    LPENUM_SERVICE_STATUSA lpServices, DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned,
    LPDWORD lpResumeHandle)
{
    ApiCall call("EnumServicesStatusA", hSCManager, dwServiceType, dwServiceState, lpServices, cbBufSize,
        pcbBytesNeeded, lpServicesReturned, lpResumeHandle);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::enumServices(hSCManager, dwServiceType, dwServiceState, lpServices, cbBufSize,
        pcbBytesNeeded, lpServicesReturned, lpResumeHandle));
}

BOOL WINAPI EnumServicesStatusW(SC_HANDLE hSCManager, DWORD dwServiceType, DWORD dwServiceState,
    LPENUM_SERVICE_STATUSW lpServices, DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned,
    LPDWORD lpResumeHandle)
{
    ApiCall call("EnumServicesStatusW", hSCManager, dwServiceType, dwServiceState, lpServices, cbBufSize,
        pcbBytesNeeded, lpServicesReturned, lpResumeHandle);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::enumServicesW(hSCManager, dwServiceType, dwServiceState, lpServices, cbBufSize,
        pcbBytesNeeded, lpServicesReturned, lpResumeHandle));
}

BOOL WINAPI EnumDependentServicesA(SC_HANDLE hService, DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
    DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned)
{
    ApiCall call("EnumDependentServicesA", hService, dwServiceState, lpServices, cbBufSize, pcbBytesNeeded,
        lpServicesReturned);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(
        scm::enumDependents(hService, dwServiceState, lpServices, cbBufSize, pcbBytesNeeded, lpServicesReturned));
}

BOOL WINAPI EnumDependentServicesW(SC_HANDLE hService, DWORD dwServiceState, LPENUM_SERVICE_STATUSW lpServices,
    DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned)
{
    ApiCall call("EnumDependentServicesW", hService, dwServiceState, lpServices, cbBufSize, pcbBytesNeeded,
        lpServicesReturned);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(
        scm::enumDependentsW(hService, dwServiceState, lpServices, cbBufSize, pcbBytesNeeded, lpServicesReturned));
}

BOOL WINAPI GetServiceDisplayNameA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPSTR lpDisplayName,
    LPDWORD lpcchBuffer)
{
    ApiCall call("GetServiceDisplayNameA", hSCManager, lpServiceName, lpDisplayName, lpcchBuffer);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::displayName(hSCManager, lpServiceName, lpDisplayName, lpcchBuffer));
}

BOOL WINAPI GetServiceDisplayNameW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPWSTR lpDisplayName,
    LPDWORD lpcchBuffer)
{
    ApiCall call("GetServiceDisplayNameW", hSCManager, lpServiceName, lpDisplayName, lpcchBuffer);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::displayNameW(hSCManager, lpServiceName, lpDisplayName, lpcchBuffer));
}

BOOL WINAPI GetServiceKeyNameA(SC_HANDLE hSCManager, LPCSTR lpDisplayName, LPSTR lpServiceName, LPDWORD lpcchBuffer)
{
    ApiCall call("GetServiceKeyNameA", hSCManager, lpDisplayName, lpServiceName, lpcchBuffer);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::keyName(hSCManager, lpDisplayName, lpServiceName, lpcchBuffer));
}

BOOL WINAPI GetServiceKeyNameW(SC_HANDLE hSCManager, LPCWSTR lpDisplayName, LPWSTR lpServiceName, LPDWORD lpcchBuffer)
{
    ApiCall call("GetServiceKeyNameW", hSCManager, lpDisplayName, lpServiceName, lpcchBuffer);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::keyNameW(hSCManager, lpDisplayName, lpServiceName, lpcchBuffer));
}
