// OpenSCManager and CloseServiceHandle.
#include "ScmCalls.h"
#include "ScmCommon.h"
#include "ScmHandles.h"
#include "registry/Key.h"

#include "machine/ApiCall.h"
#include "machine/Unicode.h"

#include <unistd.h>

#include <algorithm>

using namespace ntsim;
using namespace ntsim::scm;

namespace {

SC_HANDLE openManagerNamed(const std::optional<std::string>& machineName, const std::optional<std::string>& databaseName,
    DWORD desiredAccess)
{
    // Another machine's controller is not reachable from the simulated one.
    if (!registry::isThisComputer(machineName.value_or("")))
        return fail<SC_HANDLE>(RPC_S_SERVER_UNAVAILABLE, nullptr);
    // The failed database is known and cannot be opened; any other name
    // is none (measured on Windows).
    if (databaseName && !equalsNoCaseUtf8(*databaseName, SERVICES_ACTIVE_DATABASEA))
        return fail<SC_HANDLE>(equalsNoCaseUtf8(*databaseName, SERVICES_FAILED_DATABASEA) ? ERROR_DATABASE_DOES_NOT_EXIST
                                                                                          : ERROR_INVALID_NAME,
            nullptr);
    DWORD allowed = managerRightsOfCaller();
    DWORD wanted = mapManagerAccess(desiredAccess & ~MAXIMUM_ALLOWED) | SC_MANAGER_CONNECT;
    if (desiredAccess & MAXIMUM_ALLOWED)
        wanted |= allowed;
    if (wanted & ~allowed)
        return fail<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    {
        RunStates states;
        completePendingDeletes(states);
        states.save();
    }
    // A success says so in the last error (measured on Windows).
    SetLastError(ERROR_SUCCESS);
    return addHandle(ScObject { ScObject::Kind::Manager, wanted, {} });
}

template<typename Text>
SC_HANDLE openManagerAs(const typename Text::Char* machineName, const typename Text::Char* databaseName,
    DWORD desiredAccess)
{
    return openManagerNamed(optionalName<Text>(machineName), optionalName<Text>(databaseName), desiredAccess);
}

}

SC_HANDLE scm::openManager(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    return openManagerAs<AnsiText>(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE scm::openManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    return openManagerAs<WideText>(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    ApiCall call("OpenSCManagerA", lpMachineName, lpDatabaseName, dwDesiredAccess);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::openManager(lpMachineName, lpDatabaseName, dwDesiredAccess));
}

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    ApiCall call("OpenSCManagerW", lpMachineName, lpDatabaseName, dwDesiredAccess);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::openManagerW(lpMachineName, lpDatabaseName, dwDesiredAccess));
}

BOOL scm::closeHandle(SC_HANDLE hSCObject)
{
    auto object = findAnyHandle(hSCObject);
    // Of two threads closing one handle, only the one that removes it may
    // give up the handle's share of the service.
    if (!object || !removeHandle(hSCObject))
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (object->kind == ScObject::Kind::Service) {
        RunStates states;
        if (RunState* state = states.find(object->service)) {
            auto& owners = state->handleOwners;
            auto it = std::find(owners.begin(), owners.end(), static_cast<int>(getpid()));
            if (it != owners.end())
                owners.erase(it);
        }
        completePendingDeletes(states);
        states.save();
    }
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject)
{
    ApiCall call("CloseServiceHandle", hSCObject);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::closeHandle(hSCObject));
}
