// QueryServiceObjectSecurity and SetServiceObjectSecurity, and the
// descriptor OpenServiceA checks a caller against.
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

SecurityDescriptor defaultSecurity()
{
    using security::WellKnown::Administrators;
    using security::WellKnown::Everyone;
    using security::WellKnown::LocalSystem;
    SecurityDescriptor sd;
    sd.owner = LocalSystem;
    sd.group = LocalSystem;
    sd.daclPresent = true;
    sd.dacl = {
        { ACCESS_ALLOWED_ACE_TYPE, 0, everyoneRights, Everyone },
        { ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, LocalSystem },
        { ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, Administrators },
    };
    return sd;
}

}

namespace ntsim::scm {

const security::GenericMapping serviceMapping {
    STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE
        | SERVICE_ENUMERATE_DEPENDENTS,
    STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG,
    STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL,
    SERVICE_ALL_ACCESS,
};

SecurityDescriptor serviceSecurity(const std::string& name)
{
    registry::SystemKey key;
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

BOOL WINAPI QueryServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
    PSECURITY_DESCRIPTOR lpSecurityDescriptor, DWORD cbBufSize, LPDWORD pcbBytesNeeded)
{
    ntsim::ApiCall call("QueryServiceObjectSecurity", hService, dwSecurityInformation, lpSecurityDescriptor, cbBufSize, pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    DWORD needed = 0;
    if (dwSecurityInformation & keptParts)
        needed |= READ_CONTROL;
    if (dwSecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    auto service = openedService(hService, needed);
    if (!service)
        return call.returns(FALSE);
    if (!pcbBytesNeeded)
        return call.returns(fail(ERROR_INVALID_ADDRESS, FALSE));
    security::Bytes bytes = serviceSecurity(service->service).toSelfRelative(dwSecurityInformation & keptParts);
    *pcbBytesNeeded = static_cast<DWORD>(bytes.size());
    if (!lpSecurityDescriptor || cbBufSize < bytes.size())
        return call.returns(fail(ERROR_INSUFFICIENT_BUFFER, FALSE));
    std::memcpy(lpSecurityDescriptor, bytes.data(), bytes.size());
    return call.returns(TRUE);
}

BOOL WINAPI SetServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
    PSECURITY_DESCRIPTOR lpSecurityDescriptor)
{
    ntsim::ApiCall call("SetServiceObjectSecurity", hService, dwSecurityInformation, lpSecurityDescriptor);
    if (call.faulted())
        return call.returns(FALSE);
    auto service = findHandle(hService, ScObject::Kind::Service);
    if (!service)
        return call.returns(fail(ERROR_INVALID_HANDLE, FALSE));
    if (!lpSecurityDescriptor)
        return call.returns(fail(ERROR_INVALID_PARAMETER, FALSE));
    auto given = SecurityDescriptor::fromBinary(lpSecurityDescriptor);
    if (!given)
        return call.returns(fail(ERROR_INVALID_PARAMETER, FALSE));

    SecurityDescriptor sd = serviceSecurity(service->service);
    Token token = Token::effective();
    // The owner may change the descriptor without the rights in the handle.
    bool owner = !sd.owner.empty() && token.holds(sd.owner);
    auto holds = [&](DWORD right) { return owner || (service->access & right); };
    if ((dwSecurityInformation & DACL_SECURITY_INFORMATION) && !holds(WRITE_DAC))
        return call.returns(fail(ERROR_ACCESS_DENIED, FALSE));
    if ((dwSecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) && !holds(WRITE_OWNER))
        return call.returns(fail(ERROR_ACCESS_DENIED, FALSE));
    if ((dwSecurityInformation & SACL_SECURITY_INFORMATION) && !(service->access & ACCESS_SYSTEM_SECURITY))
        return call.returns(fail(ERROR_ACCESS_DENIED, FALSE));
    {
        RunStates states;
        if (const RunState* state = states.find(service->service); state && state->markedForDelete)
            return call.returns(fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE));
    }

    LONG status = sd.takeParts(*given, dwSecurityInformation, token);
    if (status != ERROR_SUCCESS)
        return call.returns(fail(static_cast<DWORD>(status), FALSE));
    registry::SystemKey key;
    status = key.create(securityKeyOf(service->service));
    if (status == ERROR_SUCCESS)
        status = key.setBinary("Security", sd.toSelfRelative(keptParts));
    if (status != ERROR_SUCCESS)
        return call.returns(fail(static_cast<DWORD>(status), FALSE));
    return call.returns(TRUE);
}
