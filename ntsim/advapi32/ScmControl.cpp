// StartService, ControlService and QueryServiceStatus.
#include "ScmCalls.h"
#include "ScmCommon.h"
#include "ScmHandles.h"
#include "ScmLock.h"
#include "ScmStart.h"
#include "machine/ApiCall.h"

using namespace ntsim;
using namespace ntsim::scm;

namespace {

// The right a control needs, or 0 for a control code that does not exist.
DWORD rightForControl(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE:
        return SERVICE_INTERROGATE;
    default:
        return control >= 128 && control <= 255 ? SERVICE_USER_DEFINED_CONTROL : 0;
    }
}

}

BOOL scm::start(SC_HANDLE hService, DWORD argumentCount, const void* arguments)
{
    auto service = openedService(hService, SERVICE_START);
    if (!service)
        return FALSE;
    if (argumentCount && !arguments)
        return fail(missingPointer, FALSE);
    RunStates states;
    // Setup programs lock the database so that nothing starts meanwhile.
    if (databaseLocked(states))
        return fail(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
    auto config = readService(service->service);
    if (!config)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    const RunState* current = states.find(config->name);
    if (current && current->markedForDelete)
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    if (current && current->active())
        return fail(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
    if (config->start == SERVICE_DISABLED)
        return fail(ERROR_SERVICE_DISABLED, FALSE);
    DWORD result = startService(states, *config);
    states.save();
    if (result != ERROR_SUCCESS)
        return fail(result, FALSE);
    return TRUE;
}

// Drivers take no arguments: they are only checked.
BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors)
{
    ApiCall call("StartServiceA", hService, dwNumServiceArgs, lpServiceArgVectors);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::start(hService, dwNumServiceArgs, lpServiceArgVectors));
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors)
{
    ApiCall call("StartServiceW", hService, dwNumServiceArgs, lpServiceArgVectors);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::start(hService, dwNumServiceArgs, lpServiceArgVectors));
}

BOOL scm::control(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus)
{
    auto service = openedService(hService, 0);
    if (!service)
        return FALSE;
    DWORD right = rightForControl(dwControl);
    if (!right)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!(service->access & right))
        return fail(ERROR_ACCESS_DENIED, FALSE);
    if (!lpServiceStatus)
        return fail(missingPointer, FALSE);
    RunStates states;
    auto config = readService(service->service);
    RunState& state = states.of(service->service);
    auto answer = [&](DWORD error) {
        fillStatus(config ? &*config : nullptr, state, lpServiceStatus);
        states.save();
        if (error != ERROR_SUCCESS)
            return fail(error, FALSE);
        return TRUE;
    };
    if (!state.active())
        return answer(ERROR_SERVICE_NOT_ACTIVE);
    if (state.state == SERVICE_START_PENDING || state.state == SERVICE_STOP_PENDING)
        return answer(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);

    switch (dwControl) {
    case SERVICE_CONTROL_INTERROGATE:
        return answer(ERROR_SUCCESS);
    case SERVICE_CONTROL_STOP:
        if (config && hasActiveDependents(states, *config))
            return fail(ERROR_DEPENDENT_SERVICES_RUNNING, FALSE);
        if (!(state.controlsAccepted & SERVICE_ACCEPT_STOP) || !config)
            return answer(ERROR_INVALID_SERVICE_CONTROL);
        stopLoadedService(*config, state);
        return answer(ERROR_SUCCESS);
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        if (!(state.controlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE))
            return answer(ERROR_INVALID_SERVICE_CONTROL);
        state.state = dwControl == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED : SERVICE_RUNNING;
        return answer(ERROR_SUCCESS);
    default:
        // Neither drivers nor our service images take controls of their own.
        return answer(ERROR_INVALID_SERVICE_CONTROL);
    }
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus)
{
    ApiCall call("ControlService", hService, dwControl, lpServiceStatus);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::control(hService, dwControl, lpServiceStatus));
}

BOOL scm::queryStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus)
{
    auto service = openedService(hService, SERVICE_QUERY_STATUS);
    if (!service)
        return FALSE;
    if (!lpServiceStatus)
        return fail(missingPointer, FALSE);
    RunStates states;
    auto config = readService(service->service);
    const RunState* recorded = states.find(service->service);
    RunState stopped;
    fillStatus(config ? &*config : nullptr, recorded ? *recorded : stopped, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus)
{
    ApiCall call("QueryServiceStatus", hService, lpServiceStatus);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::queryStatus(hService, lpServiceStatus));
}
