// The service controller's handles of this process. A handle is a key of
// the table, never a pointer, so that a stale or foreign value is refused.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace ntsim::scm {

struct ScObject {
    enum class Kind { Manager, Service };
    Kind kind { Kind::Manager };
    DWORD access { 0 };   // the rights granted at open
    std::string service;  // the service's name as stored, for a service handle
};

SC_HANDLE addHandle(ScObject object);
std::optional<ScObject> findHandle(SC_HANDLE handle, ScObject::Kind kind);
std::optional<ScObject> findAnyHandle(SC_HANDLE handle);
bool removeHandle(SC_HANDLE handle);

// Access rights in the form the objects grant them.
DWORD mapManagerAccess(DWORD desired);
DWORD mapServiceAccess(DWORD desired);
// What the service controller's own descriptor grants the effective token.
DWORD managerRightsOfCaller();

}
