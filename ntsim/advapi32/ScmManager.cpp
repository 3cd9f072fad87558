// OpenSCManagerA and CloseServiceHandle.
#include "ScmCalls.h"
#include "ScmCommon.h"
#include "ScmHandles.h"
#include "registry/Key.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"

#include <unistd.h>

#include <algorithm>

using namespace ntsim;
using namespace ntsim::scm;

namespace {

bool isLocalMachine(const char* machineName)
{
    if (!machineName || !*machineName)
        return true;
    std::string name = machineName;
    if (name.rfind("\\\\", 0) == 0)
        name = name.substr(2);
    registry::SystemKey key;
    if (key.open("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName") != ERROR_SUCCESS)
        return false;
    auto computer = key.string("ComputerName");
    return computer && equalsNoCase(*computer, name);
}

}

SC_HANDLE scm::openManager(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    // Another machine's controller is not reachable from the simulated one.
    if (!isLocalMachine(lpMachineName))
        return fail<SC_HANDLE>(RPC_S_SERVER_UNAVAILABLE, nullptr);
    if (lpDatabaseName && !equalsNoCase(lpDatabaseName, SERVICES_ACTIVE_DATABASEA))
        return fail<SC_HANDLE>(ERROR_DATABASE_DOES_NOT_EXIST, nullptr);
    DWORD wanted = mapManagerAccess(dwDesiredAccess) | SC_MANAGER_CONNECT;
    if (wanted & ~managerRightsOfCaller())
        return fail<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    {
        RunStates states;
        completePendingDeletes(states);
        states.save();
    }
    return addHandle(ScObject { ScObject::Kind::Manager, wanted, {} });
}

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    ntsim::ApiCall call("OpenSCManagerA", lpMachineName, lpDatabaseName, dwDesiredAccess);
    if (call.faulted())
        return call.returns(nullptr);
    return call.returns(scm::openManager(lpMachineName, lpDatabaseName, dwDesiredAccess));
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
    ntsim::ApiCall call("CloseServiceHandle", hSCObject);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::closeHandle(hSCObject));
}
