// QueryServiceObjectSecurity and SetServiceObjectSecurity, and the
// descriptor OpenServiceA checks a caller against.
#include "ScmCalls.h"
#include "ScmCommon.h"
#include "registry/Key.h"
#include "ScmSecurity.h"

#include "machine/ApiCall.h"
#include "machine/Token.h"

#include <cstring>

using namespace ntsim;
using namespace ntsim::scm;
using security::SecurityDescriptor;

namespace {

constexpr DWORD everyoneRights = READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS
    | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL;
constexpr SECURITY_INFORMATION keptParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION
    | DACL_SECURITY_INFORMATION;

std::string securityKeyOf(const std::string& service)
{
    return std::string(servicesKey) + "\\" + service + "\\Security";
}

// Owned by LocalSystem; what everyone may do, and all for the system and
// administrators: how NT protects its services and its controller.
SecurityDescriptor systemOwned(DWORD everyone, DWORD all)
{
    using security::WellKnown::Administrators;
    using security::WellKnown::Everyone;
    using security::WellKnown::LocalSystem;
    SecurityDescriptor sd;
    sd.owner = LocalSystem;
    sd.group = LocalSystem;
    sd.daclPresent = true;
    sd.dacl = {
        { ACCESS_ALLOWED_ACE_TYPE, 0, everyone, Everyone },
        { ACCESS_ALLOWED_ACE_TYPE, 0, all, LocalSystem },
        { ACCESS_ALLOWED_ACE_TYPE, 0, all, Administrators },
    };
    return sd;
}

SecurityDescriptor defaultSecurity()
{
    return systemOwned(everyoneRights, SERVICE_ALL_ACCESS);
}

}

namespace ntsim::scm {

const security::GenericMapping managerMapping {
    STANDARD_RIGHTS_READ | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS,
    STANDARD_RIGHTS_WRITE | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG,
    STANDARD_RIGHTS_EXECUTE | SC_MANAGER_CONNECT | SC_MANAGER_LOCK,
    SC_MANAGER_ALL_ACCESS,
};

SecurityDescriptor managerSecurity()
{
    return systemOwned(READ_CONTROL | SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS,
        SC_MANAGER_ALL_ACCESS);
}

const security::GenericMapping serviceMapping {
    STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE
        | SERVICE_ENUMERATE_DEPENDENTS,
    STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG,
    STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL,
    SERVICE_ALL_ACCESS,
};

SecurityDescriptor serviceSecurity(const std::string& name)
{
    registry::SystemKey key(registry::Key::Text::Utf8);
    if (key.open(securityKeyOf(name)) != ERROR_SUCCESS)
        return defaultSecurity();
    auto bytes = key.binary("Security");
    if (!bytes)
        return defaultSecurity();
    auto stored = SecurityDescriptor::fromSelfRelative(*bytes);
    if (stored)
        return *stored;
    SecurityDescriptor nothing;
    nothing.owner = security::WellKnown::LocalSystem;
    nothing.daclPresent = true;
    return nothing;
}

}

BOOL scm::querySecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
    PSECURITY_DESCRIPTOR lpSecurityDescriptor, DWORD cbBufSize, LPDWORD pcbBytesNeeded)
{
    DWORD needed = 0;
    if (dwSecurityInformation & keptParts)
        needed |= READ_CONTROL;
    if (dwSecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    // A service's handle or the controller's own.
    auto object = findAnyHandle(hService);
    if (!object)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if ((object->access & needed) != needed)
        return fail(ERROR_ACCESS_DENIED, FALSE);
    if (!pcbBytesNeeded)
        return fail(missingPointer, FALSE);
    SecurityDescriptor sd = object->kind == ScObject::Kind::Service ? serviceSecurity(object->service) : managerSecurity();
    security::Bytes bytes = sd.toSelfRelative(dwSecurityInformation & keptParts);
    *pcbBytesNeeded = static_cast<DWORD>(bytes.size());
    if (!lpSecurityDescriptor || cbBufSize < bytes.size())
        return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(lpSecurityDescriptor, bytes.data(), bytes.size());
    return TRUE;
}

BOOL scm::setSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
    PSECURITY_DESCRIPTOR lpSecurityDescriptor)
{
    auto service = findHandle(hService, ScObject::Kind::Service);
    if (!service)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!lpSecurityDescriptor)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    auto given = SecurityDescriptor::fromBinary(lpSecurityDescriptor);
    if (!given)
        return fail(ERROR_INVALID_PARAMETER, FALSE);

    SecurityDescriptor sd = serviceSecurity(service->service);
    Token token = Token::effective();
    // The owner may change the descriptor without the rights in the handle.
    bool owner = !sd.owner.empty() && token.holds(sd.owner);
    bool mayWriteDacl = owner || (service->access & WRITE_DAC);
    bool mayWriteOwner = owner || (service->access & WRITE_OWNER);
    if ((dwSecurityInformation & DACL_SECURITY_INFORMATION) && !mayWriteDacl)
        return fail(ERROR_ACCESS_DENIED, FALSE);
    if ((dwSecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) && !mayWriteOwner)
        return fail(ERROR_ACCESS_DENIED, FALSE);
    if ((dwSecurityInformation & SACL_SECURITY_INFORMATION) && !(service->access & ACCESS_SYSTEM_SECURITY))
        return fail(ERROR_ACCESS_DENIED, FALSE);
    {
        RunStates states;
        if (const RunState* state = states.find(service->service); state && state->markedForDelete)
            return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    }

    LONG status = sd.takeParts(*given, dwSecurityInformation, token);
    if (status != ERROR_SUCCESS)
        return fail(static_cast<DWORD>(status), FALSE);
    registry::SystemKey key(registry::Key::Text::Utf8);
    status = key.create(securityKeyOf(service->service));
    if (status == ERROR_SUCCESS)
        status = key.setBinary("Security", sd.toSelfRelative(keptParts));
    if (status != ERROR_SUCCESS)
        return fail(static_cast<DWORD>(status), FALSE);
    return TRUE;
}

BOOL WINAPI QueryServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
    PSECURITY_DESCRIPTOR lpSecurityDescriptor, DWORD cbBufSize, LPDWORD pcbBytesNeeded)
{
    ApiCall call("QueryServiceObjectSecurity", hService, dwSecurityInformation, lpSecurityDescriptor, cbBufSize,
        pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(
        scm::querySecurity(hService, dwSecurityInformation, lpSecurityDescriptor, cbBufSize, pcbBytesNeeded));
}

BOOL WINAPI SetServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
    PSECURITY_DESCRIPTOR lpSecurityDescriptor)
{
    ApiCall call("SetServiceObjectSecurity", hService, dwSecurityInformation, lpSecurityDescriptor);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::setSecurity(hService, dwSecurityInformation, lpSecurityDescriptor));
}
