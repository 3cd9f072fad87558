// What the service controller's calls share.
#pragma once
#include <windows.h>

#include "ScmDatabase.h"
#include "ScmHandles.h"
#include "ScmRunState.h"

#include <optional>

namespace ntsim::scm {

// Sets the thread's last error and gives back the value to fail with.
template<typename T>
T fail(DWORD error, T value)
{
    SetLastError(error);
    return value;
}

// The service handle a call was given, once the handle grants every right
// in needed; nothing, with the error set, otherwise.
std::optional<ScObject> openedService(SC_HANDLE handle, DWORD needed);

// Deletes the services that are marked for delete, stopped and no longer
// open anywhere.
void completePendingDeletes(RunStates& states);

void fillStatus(const ServiceConfig* config, const RunState& state, LPSERVICE_STATUS status);

// Service type, start type and error control that NT accepts together.
bool validServiceSettings(DWORD type, DWORD start, DWORD errorControl, const std::string& account);

// A dependency list ("a\0+group\0\0") split into services and groups.
void splitDependencies(const char* list, std::vector<std::string>& services, std::vector<std::string>& groups);

}
