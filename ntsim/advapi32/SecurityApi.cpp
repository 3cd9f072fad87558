// advapi32's calls on SIDs, ACLs and security descriptors in their binary
// forms, with the last errors NT sets.
#include "machine/SecurityDescriptor.h"
#include "machine/Sid.h"
#include "machine/ApiCall.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

using namespace ntsim;
using namespace ntsim::security;

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Why a setter may not change a descriptor, or 0: only an absolute one of
// the known revision takes pointers to its parts.
DWORD unsettable(const SECURITY_DESCRIPTOR* sd)
{
    if (!sd)
        return ERROR_INVALID_PARAMETER;
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION)
        return ERROR_UNKNOWN_REVISION;
    if (sd->Control & SE_SELF_RELATIVE)
        return ERROR_INVALID_SECURITY_DESCR;
    return ERROR_SUCCESS;
}

WORD readWord(const void* p)
{
    WORD v;
    std::memcpy(&v, p, 2);
    return v;
}

void writeWord(void* p, WORD v) { std::memcpy(p, &v, 2); }

// The first free byte of an ACL, or 0 if its entries overrun it.
size_t aclUsed(const BYTE* acl)
{
    WORD size = readWord(acl + 2);
    WORD count = readWord(acl + 4);
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < count; ++i) {
        if (at + 4 > size)
            return 0;
        WORD aceSize = readWord(acl + at + 2);
        if (aceSize < 8)
            return 0;
        at += aceSize;
    }
    return at <= size ? at : 0;
}

BOOL addAce(PACL pAcl, DWORD revision, BYTE type, DWORD mask, PSID pSid)
{
    auto acl = reinterpret_cast<BYTE*>(pAcl);
    if (!pAcl || !parseAcl(acl))
        return fail(ERROR_INVALID_ACL);
    if (revision < ACL_REVISION || revision > 4)
        return fail(ERROR_REVISION_MISMATCH);
    auto sid = static_cast<const BYTE*>(pSid);
    if (!isValidSid(sid))
        return fail(ERROR_INVALID_SID);
    size_t used = aclUsed(acl);
    size_t sidSize = sidLength(sid);
    size_t aceSize = 8 + sidSize;
    if (used == 0 || used + aceSize > readWord(acl + 2))
        return fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    BYTE* ace = acl + used;
    ace[0] = type;
    ace[1] = 0;
    writeWord(ace + 2, static_cast<WORD>(aceSize));
    std::memcpy(ace + 4, &mask, 4);
    std::memcpy(ace + 8, sid, sidSize);
    writeWord(acl + 4, static_cast<WORD>(readWord(acl + 4) + 1));
    if (acl[0] < revision)
        acl[0] = static_cast<BYTE>(revision);
    return TRUE;
}

bool selfRelative(const void* sd) { return readWord(static_cast<const BYTE*>(sd) + 2) & SE_SELF_RELATIVE; }

size_t roundUp(size_t n) { return (n + 3) & ~size_t(3); }

}

NTSIM_API BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
    DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2, DWORD nSubAuthority3,
    DWORD nSubAuthority4, DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid)
{
    ntsim::ApiCall call("AllocateAndInitializeSid", pIdentifierAuthority, nSubAuthorityCount, nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3, nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7, pSid);
    if (!pIdentifierAuthority || !pSid)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    if (call.faulted())
        return call.returns(FALSE);
    if (nSubAuthorityCount > 8)
        return call.returns(fail(ERROR_INVALID_SID));
    auto sid = static_cast<BYTE*>(std::calloc(1, sidLengthFor(nSubAuthorityCount)));
    if (!sid)
        return call.returns(fail(ERROR_NOT_ENOUGH_MEMORY));
    sid[0] = SID_REVISION;
    sid[1] = nSubAuthorityCount;
    std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
    const DWORD subs[8] = { nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
        nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7 };
    std::memcpy(sid + 8, subs, 4u * nSubAuthorityCount);
    *pSid = sid;
    return call.returns(TRUE);
}

NTSIM_API PVOID WINAPI FreeSid(PSID pSid)
{
    ntsim::ApiCall call("FreeSid", pSid);
    std::free(pSid);
    return call.returns(nullptr);
}

NTSIM_API BOOL WINAPI IsValidSid(PSID pSid)
{
    ntsim::ApiCall call("IsValidSid", pSid);
    if (!isValidSid(static_cast<const BYTE*>(pSid)))
        return call.returns(fail(ERROR_INVALID_SID));
    return call.returns(TRUE);
}

NTSIM_API DWORD WINAPI GetLengthSid(PSID pSid)
{
    ntsim::ApiCall call("GetLengthSid", pSid);
    auto sid = static_cast<const BYTE*>(pSid);
    return call.returns(sid ? static_cast<DWORD>(sidLength(sid)) : 0);
}

NTSIM_API BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2)
{
    ntsim::ApiCall call("EqualSid", pSid1, pSid2);
    auto a = static_cast<const BYTE*>(pSid1);
    auto b = static_cast<const BYTE*>(pSid2);
    if (!isValidSid(a) || !isValidSid(b))
        return call.returns(fail(ERROR_INVALID_SID));
    SetLastError(ERROR_SUCCESS);
    return call.returns(sidLength(a) == sidLength(b) && std::memcmp(a, b, sidLength(a)) == 0);
}

NTSIM_API BOOL WINAPI CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid)
{
    ntsim::ApiCall call("CopySid", nDestinationSidLength, pDestinationSid, pSourceSid);
    if (call.faulted())
        return call.returns(FALSE);
    auto source = static_cast<const BYTE*>(pSourceSid);
    if (!isValidSid(source))
        return call.returns(fail(ERROR_INVALID_SID));
    if (nDestinationSidLength < sidLength(source))
        return call.returns(fail(ERROR_INSUFFICIENT_BUFFER));
    if (!pDestinationSid)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    std::memmove(pDestinationSid, source, sidLength(source));
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI InitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount)
{
    ntsim::ApiCall call("InitializeSid", Sid, pIdentifierAuthority, nSubAuthorityCount);
    if (call.faulted())
        return call.returns(FALSE);
    if (!Sid || !pIdentifierAuthority || nSubAuthorityCount > SID_MAX_SUB_AUTHORITIES)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    auto sid = static_cast<BYTE*>(Sid);
    sid[0] = SID_REVISION;
    sid[1] = nSubAuthorityCount;
    std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
    return call.returns(TRUE);
}

NTSIM_API PDWORD WINAPI GetSidSubAuthority(PSID pSid, DWORD nSubAuthority)
{
    ntsim::ApiCall call("GetSidSubAuthority", pSid, nSubAuthority);
    // As on NT, the index is not checked: the caller knows the count.
    return call.returns(reinterpret_cast<PDWORD>(static_cast<BYTE*>(pSid) + 8 + 4 * nSubAuthority));
}

NTSIM_API BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision)
{
    ntsim::ApiCall call("InitializeAcl", pAcl, nAclLength, dwAclRevision);
    if (call.faulted())
        return call.returns(FALSE);
    if (!pAcl)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    if (nAclLength < sizeof(ACL))
        return call.returns(fail(ERROR_INSUFFICIENT_BUFFER));
    if (dwAclRevision < ACL_REVISION || dwAclRevision > 4 || nAclLength > 0xFFFC)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    auto acl = reinterpret_cast<BYTE*>(pAcl);
    std::memset(acl, 0, sizeof(ACL));
    acl[0] = static_cast<BYTE>(dwAclRevision);
    writeWord(acl + 2, static_cast<WORD>(nAclLength & ~DWORD(3)));
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid)
{
    ntsim::ApiCall call("AddAccessAllowedAce", pAcl, dwAceRevision, AccessMask, pSid);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(addAce(pAcl, dwAceRevision, ACCESS_ALLOWED_ACE_TYPE, AccessMask, pSid));
}

NTSIM_API BOOL WINAPI AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid)
{
    ntsim::ApiCall call("AddAccessDeniedAce", pAcl, dwAceRevision, AccessMask, pSid);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(addAce(pAcl, dwAceRevision, ACCESS_DENIED_ACE_TYPE, AccessMask, pSid));
}

NTSIM_API BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce)
{
    ntsim::ApiCall call("GetAce", pAcl, dwAceIndex, pAce);
    if (call.faulted())
        return call.returns(FALSE);
    auto acl = reinterpret_cast<BYTE*>(pAcl);
    if (!acl || !pAce || dwAceIndex >= readWord(acl + 4))
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    size_t at = sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; ++i)
        at += readWord(acl + at + 2);
    if (at + 8 > readWord(acl + 2))
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    *pAce = acl + at;
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI IsValidAcl(PACL pAcl)
{
    ntsim::ApiCall call("IsValidAcl", pAcl);
    auto acl = reinterpret_cast<const BYTE*>(pAcl);
    if (!acl || !parseAcl(acl))
        return call.returns(fail(ERROR_INVALID_ACL));
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision)
{
    ntsim::ApiCall call("InitializeSecurityDescriptor", pSecurityDescriptor, dwRevision);
    if (call.faulted())
        return call.returns(FALSE);
    if (!pSecurityDescriptor)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION)
        return call.returns(fail(ERROR_UNKNOWN_REVISION));
    std::memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
    PACL pDacl, BOOL bDaclDefaulted)
{
    ntsim::ApiCall call("SetSecurityDescriptorDacl", pSecurityDescriptor, bDaclPresent, pDacl, bDaclDefaulted);
    if (call.faulted())
        return call.returns(FALSE);
    auto sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (DWORD error = unsettable(sd))
        return call.returns(fail(error));
    sd->Control &= ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED);
    sd->Dacl = nullptr;
    if (bDaclPresent) {
        sd->Control |= SE_DACL_PRESENT;
        sd->Dacl = pDacl;
        if (bDaclDefaulted)
            sd->Control |= SE_DACL_DEFAULTED;
    }
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner, BOOL bOwnerDefaulted)
{
    ntsim::ApiCall call("SetSecurityDescriptorOwner", pSecurityDescriptor, pOwner, bOwnerDefaulted);
    if (call.faulted())
        return call.returns(FALSE);
    auto sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (DWORD error = unsettable(sd))
        return call.returns(fail(error));
    sd->Owner = pOwner;
    sd->Control &= ~SE_OWNER_DEFAULTED;
    if (bOwnerDefaulted)
        sd->Control |= SE_OWNER_DEFAULTED;
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
    PACL* pDacl, LPBOOL lpbDaclDefaulted)
{
    ntsim::ApiCall call("GetSecurityDescriptorDacl", pSecurityDescriptor, lpbDaclPresent, pDacl, lpbDaclDefaulted);
    if (call.faulted())
        return call.returns(FALSE);
    if (!pSecurityDescriptor || !lpbDaclPresent || !pDacl || !lpbDaclDefaulted)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    auto sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION)
        return call.returns(fail(ERROR_UNKNOWN_REVISION));
    *lpbDaclPresent = (sd->Control & SE_DACL_PRESENT) ? TRUE : FALSE;
    *lpbDaclDefaulted = (sd->Control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
    if (!*lpbDaclPresent) {
        *pDacl = nullptr;
    } else if (selfRelative(sd)) {
        auto rel = static_cast<SECURITY_DESCRIPTOR_RELATIVE*>(pSecurityDescriptor);
        *pDacl = rel->Dacl ? reinterpret_cast<PACL>(static_cast<BYTE*>(pSecurityDescriptor) + rel->Dacl) : nullptr;
    } else {
        *pDacl = sd->Dacl;
    }
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner, LPBOOL lpbOwnerDefaulted)
{
    ntsim::ApiCall call("GetSecurityDescriptorOwner", pSecurityDescriptor, pOwner, lpbOwnerDefaulted);
    if (call.faulted())
        return call.returns(FALSE);
    if (!pSecurityDescriptor || !pOwner || !lpbOwnerDefaulted)
        return call.returns(fail(ERROR_INVALID_PARAMETER));
    auto sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION)
        return call.returns(fail(ERROR_UNKNOWN_REVISION));
    *lpbOwnerDefaulted = (sd->Control & SE_OWNER_DEFAULTED) ? TRUE : FALSE;
    if (selfRelative(sd)) {
        auto rel = static_cast<SECURITY_DESCRIPTOR_RELATIVE*>(pSecurityDescriptor);
        *pOwner = rel->Owner ? static_cast<BYTE*>(pSecurityDescriptor) + rel->Owner : nullptr;
    } else {
        *pOwner = sd->Owner;
    }
    return call.returns(TRUE);
}

NTSIM_API BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    ntsim::ApiCall call("IsValidSecurityDescriptor", pSecurityDescriptor);
    if (!pSecurityDescriptor || !SecurityDescriptor::fromBinary(pSecurityDescriptor))
        return call.returns(fail(ERROR_INVALID_SECURITY_DESCR));
    return call.returns(TRUE);
}

NTSIM_API DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    ntsim::ApiCall call("GetSecurityDescriptorLength", pSecurityDescriptor);
    if (!pSecurityDescriptor)
        return call.returns(0);
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    size_t length;
    auto base = static_cast<BYTE*>(pSecurityDescriptor);
    if (selfRelative(pSecurityDescriptor)) {
        auto rel = static_cast<SECURITY_DESCRIPTOR_RELATIVE*>(pSecurityDescriptor);
        length = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
        owner = rel->Owner ? base + rel->Owner : nullptr;
        group = rel->Group ? base + rel->Group : nullptr;
        dacl = (rel->Control & SE_DACL_PRESENT) && rel->Dacl ? reinterpret_cast<PACL>(base + rel->Dacl) : nullptr;
    } else {
        auto abs = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
        length = sizeof(SECURITY_DESCRIPTOR);
        owner = abs->Owner;
        group = abs->Group;
        dacl = (abs->Control & SE_DACL_PRESENT) ? abs->Dacl : nullptr;
    }
    if (owner)
        length += roundUp(sidLength(static_cast<BYTE*>(owner)));
    if (group)
        length += roundUp(sidLength(static_cast<BYTE*>(group)));
    if (dacl)
        length += roundUp(dacl->AclSize);
    return call.returns(static_cast<DWORD>(length));
}
