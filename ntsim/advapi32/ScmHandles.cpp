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
    return security::mapGenericRights(desired, managerMapping);
}

DWORD mapServiceAccess(DWORD desired)
{
    return security::mapGenericRights(desired, serviceMapping);
}

DWORD managerRightsOfCaller()
{
    return security::checkAccess(managerSecurity(), Token::effective(), MAXIMUM_ALLOWED, managerMapping).granted;
}

}
