#include "ScmHandles.h"
#include "ScmSecurity.h"

#include "machine/Token.h"

#include "machine/HandleTable.h"

namespace ntsim::scm {

namespace {

HandleTable<ScObject>& table()
{
    static auto* t = new HandleTable<ScObject>(0xCC0004, "service handles"); // counted at exit
    return *t;
}

}

SC_HANDLE addHandle(ScObject object)
{
    return reinterpret_cast<SC_HANDLE>(table().insert(std::move(object)));
}

std::optional<ScObject> findAnyHandle(SC_HANDLE handle)
{
    return table().find(reinterpret_cast<uintptr_t>(handle));
}

std::optional<ScObject> findHandle(SC_HANDLE handle, ScObject::Kind kind)
{
    auto object = findAnyHandle(handle);
    if (!object || object->kind != kind)
        return std::nullopt;
    return object;
}

bool removeHandle(SC_HANDLE handle)
{
    return table().take(reinterpret_cast<uintptr_t>(handle)).has_value();
}

DWORD mapManagerAccess(DWORD desired)
{
    DWORD mapped = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (desired & GENERIC_READ)
        mapped |= STANDARD_RIGHTS_READ | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (desired & GENERIC_WRITE)
        mapped |= STANDARD_RIGHTS_WRITE | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (desired & GENERIC_EXECUTE)
        mapped |= STANDARD_RIGHTS_EXECUTE | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (desired & GENERIC_ALL)
        mapped |= SC_MANAGER_ALL_ACCESS;
    return mapped;
}

DWORD mapServiceAccess(DWORD desired)
{
    return security::mapGenericRights(desired, serviceMapping);
}

DWORD managerRightsOfCaller()
{
    if (Token::effective().admin)
        return SC_MANAGER_ALL_ACCESS;
    return SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
}

}
