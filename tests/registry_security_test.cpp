#include "support/TestMachine.h"

#include "machine/SecurityDescriptor.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char htree[] = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";

std::string keySddl(HKEY key)
{
    DWORD size = 0;
    EXPECT_EQ(RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                  nullptr, &size),
        ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> sd(size);
    EXPECT_EQ(RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                  sd.data(), &size),
        ERROR_SUCCESS);
    auto parsed = ntsim::security::SecurityDescriptor::fromBinary(sd.data());
    return parsed ? parsed->toSddl() : "<bad>";
}

// Sets a key's DACL from entries (type, mask, SID) through the binary API.
LONG setDacl(HKEY key, const std::vector<std::tuple<BYTE, DWORD, std::string>>& entries)
{
    size_t size = sizeof(ACL);
    std::vector<std::vector<BYTE>> sids;
    for (auto& [type, mask, sid] : entries) {
        sids.push_back(*ntsim::security::sidFromString(sid));
        size += 8 + sids.back().size();
    }
    std::vector<BYTE> acl(size);
    EXPECT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl.data()), DWORD(size), ACL_REVISION));
    for (size_t i = 0; i < entries.size(); ++i) {
        auto [type, mask, sid] = entries[i];
        BOOL ok = type == ACCESS_DENIED_ACE_TYPE
            ? AddAccessDeniedAce(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, mask, sids[i].data())
            : AddAccessAllowedAce(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, mask, sids[i].data());
        EXPECT_TRUE(ok);
    }
    SECURITY_DESCRIPTOR sd;
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE));
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
}

const std::string adminSid = "S-1-5-21-1004336348-1177238915-682003330-500";

}

TEST(RegistrySecurity, SidAclAndDescriptorCallsBuildNtLayouts)
{
    test::TestMachine m;
    m.attach();
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID interactive = nullptr, admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &interactive));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    EXPECT_EQ(GetLengthSid(interactive), 12u);
    EXPECT_EQ(GetLengthSid(admins), 16u);
    const BYTE adminsBytes[] = { 1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0 };
    EXPECT_EQ(std::memcmp(admins, adminsBytes, 16), 0);
    EXPECT_TRUE(IsValidSid(admins));
    EXPECT_EQ(*GetSidSubAuthority(admins, 1), DWORD(DOMAIN_ALIAS_RID_ADMINS));
    EXPECT_FALSE(EqualSid(admins, interactive));
    BYTE copy[16];
    EXPECT_FALSE(CopySid(8, copy, admins));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(CopySid(sizeof copy, copy, admins));
    EXPECT_TRUE(EqualSid(copy, admins));

    DWORD aclSize = GetLengthSid(interactive) + GetLengthSid(admins) + 24;
    EXPECT_EQ(aclSize, 52u);
    std::vector<BYTE> acl(aclSize);
    PACL pacl = reinterpret_cast<PACL>(acl.data());
    ASSERT_TRUE(InitializeAcl(pacl, aclSize, ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(pacl, ACL_REVISION, KEY_READ, interactive));
    ASSERT_TRUE(AddAccessAllowedAce(pacl, ACL_REVISION, KEY_ALL_ACCESS, admins));
    EXPECT_FALSE(AddAccessAllowedAce(pacl, ACL_REVISION, KEY_READ, interactive)) << "the ACL is full";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALLOTTED_SPACE_EXCEEDED));
    EXPECT_TRUE(IsValidAcl(pacl));
    EXPECT_EQ(pacl->AceCount, 2);
    EXPECT_EQ(pacl->AclSize, 52);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(pacl, 1, &ace));
    auto allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Header.AceSize, 24);
    EXPECT_EQ(allowed->Mask, DWORD(KEY_ALL_ACCESS));
    EXPECT_TRUE(EqualSid(&allowed->SidStart, admins));
    EXPECT_FALSE(GetAce(pacl, 2, &ace));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    SECURITY_DESCRIPTOR sd;
    EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, pacl, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, admins, FALSE));
    EXPECT_TRUE(IsValidSecurityDescriptor(&sd));
    BOOL present = FALSE, defaulted = TRUE;
    PACL got = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(&sd, &present, &got, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(got, pacl);
    PSID owner = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorOwner(&sd, &owner, &defaulted));
    EXPECT_EQ(owner, admins);
    EXPECT_EQ(GetSecurityDescriptorLength(&sd), DWORD(sizeof(SECURITY_DESCRIPTOR) + 16 + 52));

    auto parsed = ntsim::security::SecurityDescriptor::fromBinary(&sd);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->toSddl(), "O:BAD:(A;;KR;;;IU)(A;;KA;;;BA)");
    auto relative = parsed->toSelfRelative(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    EXPECT_EQ(relative.size(), 20u + 16 + 52);
    EXPECT_EQ(GetSecurityDescriptorLength(relative.data()), relative.size());
    ASSERT_TRUE(GetSecurityDescriptorDacl(relative.data(), &present, &got, &defaulted));
    EXPECT_EQ(std::memcmp(got, acl.data(), 52), 0) << "self-relative form holds the same ACL bytes";

    FreeSid(interactive);
    FreeSid(admins);
}

TEST(RegistrySecurity, DescriptorSettersRefuseNullUnknownRevisionAndSelfRelative)
{
    test::TestMachine m;
    m.attach();
    BYTE sidBytes[] = { 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0 };
    PSID system = sidBytes;
    ACL acl;
    ASSERT_TRUE(InitializeAcl(&acl, sizeof acl, ACL_REVISION));

    SetLastError(0);
    EXPECT_FALSE(SetSecurityDescriptorDacl(nullptr, TRUE, &acl, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_FALSE(SetSecurityDescriptorOwner(nullptr, system, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    sd.Revision = 2;
    EXPECT_FALSE(SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
    EXPECT_FALSE(SetSecurityDescriptorOwner(&sd, system, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
    EXPECT_EQ(sd.Dacl, nullptr);
    EXPECT_EQ(sd.Owner, nullptr);

    sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    sd.Control = SE_SELF_RELATIVE;
    EXPECT_FALSE(SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SECURITY_DESCR));
    EXPECT_FALSE(SetSecurityDescriptorOwner(&sd, system, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SECURITY_DESCR));
    EXPECT_EQ(sd.Control, SECURITY_DESCRIPTOR_CONTROL(SE_SELF_RELATIVE));
    EXPECT_EQ(sd.Dacl, nullptr);
    EXPECT_EQ(sd.Owner, nullptr);
}

TEST(RegistrySecurity, SddlReadsAndWritesEntriesFlagsAndRights)
{
    using ntsim::security::SecurityDescriptor;
    const std::string text = "O:BAG:SYD:(A;CI;KA;;;SY)(D;OICIIONP;0x2;;;BG)(A;CIID;KR;;;WD)(A;;RCWD;;;" + adminSid + ")";
    auto sd = SecurityDescriptor::fromSddl(text);
    ASSERT_TRUE(sd);
    ASSERT_EQ(sd->dacl.size(), 4u);
    EXPECT_EQ(sd->dacl[1].type, ACCESS_DENIED_ACE_TYPE);
    EXPECT_EQ(sd->dacl[1].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | NO_PROPAGATE_INHERIT_ACE);
    EXPECT_EQ(sd->dacl[1].sid, "S-1-5-32-546");
    EXPECT_EQ(sd->dacl[3].mask, DWORD(READ_CONTROL | WRITE_DAC));
    EXPECT_EQ(sd->toSddl(), "O:BAG:SYD:(A;CI;KA;;;SY)(D;OICINPIO;0x2;;;BG)(A;CIID;KR;;;WD)(A;;RCWD;;;" + adminSid + ")");
    EXPECT_FALSE(SecurityDescriptor::fromSddl("D:(A;;KA;;;XX)"));
    EXPECT_FALSE(SecurityDescriptor::fromSddl("D:(Q;;KA;;;SY)"));
    auto open = SecurityDescriptor::fromSddl("O:SYD:NO_ACCESS_CONTROL");
    ASSERT_TRUE(open);
    EXPECT_FALSE(open->daclPresent);
    EXPECT_EQ(open->toSddl(), "O:SYD:NO_ACCESS_CONTROL");
}

TEST(RegistrySecurity, AccessCheckOrderOwnerRightsAndNullOrEmptyDacl)
{
    using namespace ntsim::security;
    ntsim::Token user { "S-1-5-21-9-1001", { "S-1-1-0", "S-1-5-32-545" }, false };
    auto sd = *SecurityDescriptor::fromSddl("O:BAG:SYD:(D;;KW;;;S-1-5-21-9-1001)(A;;KA;;;WD)");
    EXPECT_EQ(checkKeyAccess(sd, user, KEY_SET_VALUE).error, ERROR_ACCESS_DENIED) << "deny first in order wins";
    EXPECT_EQ(checkKeyAccess(sd, user, KEY_QUERY_VALUE).error, ERROR_SUCCESS);
    auto maximum = checkKeyAccess(sd, user, MAXIMUM_ALLOWED);
    EXPECT_EQ(maximum.granted, DWORD(KEY_ALL_ACCESS & ~KEY_WRITE)) << "KW denies READ_CONTROL too";

    auto allowFirst = *SecurityDescriptor::fromSddl("O:BAG:SYD:(A;;KA;;;WD)(D;;KW;;;S-1-5-21-9-1001)");
    EXPECT_EQ(checkKeyAccess(allowFirst, user, KEY_SET_VALUE).error, ERROR_SUCCESS) << "an allow before the deny";

    auto owned = *SecurityDescriptor::fromSddl("O:S-1-5-21-9-1001D:(D;;KA;;;WD)");
    EXPECT_EQ(checkKeyAccess(owned, user, WRITE_DAC | READ_CONTROL).error, ERROR_SUCCESS) << "owner's implicit rights";
    EXPECT_EQ(checkKeyAccess(owned, user, KEY_QUERY_VALUE).error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(checkKeyAccess(owned, user, MAXIMUM_ALLOWED).granted, DWORD(READ_CONTROL | WRITE_DAC));

    auto empty = *SecurityDescriptor::fromSddl("O:BAD:");
    EXPECT_EQ(checkKeyAccess(empty, user, KEY_QUERY_VALUE).error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(checkKeyAccess(empty, user, MAXIMUM_ALLOWED).error, ERROR_ACCESS_DENIED);
    auto null = *SecurityDescriptor::fromSddl("O:BAD:NO_ACCESS_CONTROL");
    EXPECT_EQ(checkKeyAccess(null, user, MAXIMUM_ALLOWED).granted, DWORD(KEY_ALL_ACCESS));
    auto generic = *SecurityDescriptor::fromSddl("D:(A;;GR;;;WD)");
    EXPECT_EQ(checkKeyAccess(generic, user, KEY_READ).error, ERROR_SUCCESS) << "generic read maps to KEY_READ";
    EXPECT_EQ(checkKeyAccess(generic, user, GENERIC_WRITE).error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(checkKeyAccess(null, user, ACCESS_SYSTEM_SECURITY).error, ERROR_PRIVILEGE_NOT_HELD);
}

TEST(RegistrySecurity, AdministratorOpensHtreeForWriteDacOnlyThroughOwnership)
{
    test::TestMachine m;
    m.attach();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, WRITE_DAC, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, KEY_SET_VALUE, &key), ERROR_ACCESS_DENIED)
        << "the Enum DACL does not let administrators write";
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);

    // Through WRITE_DAC the owner gives itself full control, then writes.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, WRITE_DAC, &key), ERROR_SUCCESS);
    ASSERT_EQ(setDacl(key, { { ACCESS_ALLOWED_ACE_TYPE, KEY_READ, "S-1-5-4" }, { ACCESS_ALLOWED_ACE_TYPE, KEY_ALL_ACCESS, "S-1-5-32-544" } }),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(keySddl(key), "O:BAG:SYD:(A;;KR;;;IU)(A;;KA;;;BA)");
    RegCloseKey(key);
}

TEST(RegistrySecurity, GuestCannotOpenHtreeForWriteDac)
{
    test::TestMachine m;
    m.set("user=guest");
    m.attach();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, WRITE_DAC, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\GuestWasHere", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_ACCESS_DENIED);
    // HKCU of the guest is the guest's own hive, which the guest may write.
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Mine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(RegistrySecurity, HandlesKeepTheirGrantedAccess)
{
    test::TestMachine m;
    m.attach();
    HKEY rw = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &rw, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(rw);
    HKEY read = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, KEY_READ, &read), ERROR_SUCCESS);
    const BYTE one[] = { 1 };
    EXPECT_EQ(RegSetValueExA(read, "v", 0, REG_BINARY, one, 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(read, "v"), ERROR_ACCESS_DENIED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExA(read, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_ACCESS_DENIED)
        << "creating below a handle needs KEY_CREATE_SUB_KEY on it";
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    EXPECT_EQ(RegSetKeySecurity(read, DACL_SECURITY_INFORMATION, &sd), ERROR_ACCESS_DENIED);
    RegCloseKey(read);

    HKEY queryOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, &queryOnly), ERROR_SUCCESS);
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(queryOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    DWORD size = 0;
    EXPECT_EQ(RegGetKeySecurity(queryOnly, DACL_SECURITY_INFORMATION, nullptr, &size), ERROR_ACCESS_DENIED);
    RegCloseKey(queryOnly);

    HKEY setOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, KEY_SET_VALUE, &setOnly), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(setOnly, "v", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(setOnly, "v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    RegCloseKey(setOnly);
}

TEST(RegistrySecurity, NewKeysInheritAndTakeTheCreatorAsOwner)
{
    test::TestMachine m;
    m.attach();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(keySddl(key), "O:BAG:SYD:(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)") << "administrators own what an administrator makes";

    // A DACL with one inheritable entry, one for this key alone, one not to propagate further.
    auto parentSd = *ntsim::security::SecurityDescriptor::fromSddl(
        "D:(A;CI;KA;;;SY)(A;;KA;;;BA)(A;CINP;KR;;;WD)(A;CIIO;KA;;;CO)");
    auto bytes = parentSd.toSelfRelative(DACL_SECURITY_INFORMATION);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, bytes.data()), ERROR_SUCCESS);
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(keySddl(child), "O:BAG:SYD:(A;CIID;KA;;;SY)(A;ID;KR;;;WD)(A;ID;KA;;;BA)(A;CIIOID;KA;;;CO)");
    HKEY grandchild = nullptr;
    ASSERT_EQ(RegCreateKeyExA(child, "Grandchild", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &grandchild, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(keySddl(grandchild), "O:BAG:SYD:(A;CIID;KA;;;SY)(A;ID;KA;;;BA)(A;CIIOID;KA;;;CO)");
    RegCloseKey(grandchild);
    RegCloseKey(child);

    // A descriptor passed to the create replaces the inherited DACL; the
    // creator still gets the access it asked for.
    auto explicitSd = *ntsim::security::SecurityDescriptor::fromSddl("D:(A;;KR;;;WD)");
    auto explicitBytes = explicitSd.toSelfRelative(DACL_SECURITY_INFORMATION);
    SECURITY_ATTRIBUTES sa { sizeof sa, explicitBytes.data(), FALSE };
    ASSERT_EQ(RegCreateKeyExA(key, "Locked", 0, nullptr, 0, KEY_ALL_ACCESS, &sa, &child, nullptr), ERROR_SUCCESS);
    const BYTE one[] = { 1 };
    EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
    EXPECT_EQ(keySddl(child), "O:BAG:SYD:(A;;KR;;;WD)");
    RegCloseKey(child);
    EXPECT_EQ(RegOpenKeyExA(key, "Locked", 0, KEY_SET_VALUE, &child), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST(RegistrySecurity, SetKeySecurityRoundTripsAndChecksOwner)
{
    test::TestMachine m;
    m.attach();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(setDacl(key, { { ACCESS_DENIED_ACE_TYPE, KEY_SET_VALUE, "S-1-1-0" }, { ACCESS_ALLOWED_ACE_TYPE, KEY_ALL_ACCESS, "S-1-5-32-544" } }),
        ERROR_SUCCESS);
    EXPECT_EQ(keySddl(key), "O:BAG:SYD:(D;;0x2;;;WD)(A;;KA;;;BA)");
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, KEY_SET_VALUE, &again), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NtsimTest", 0, KEY_QUERY_VALUE, &again), ERROR_SUCCESS);
    RegCloseKey(again);

    // Owner: only a SID of the caller's token, and only with WRITE_OWNER.
    auto owner = *ntsim::security::SecurityDescriptor::fromSddl("O:" + adminSid + "D:");
    auto ownerBytes = owner.toSelfRelative(OWNER_SECURITY_INFORMATION);
    ASSERT_EQ(RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, ownerBytes.data()), ERROR_SUCCESS);
    EXPECT_EQ(keySddl(key), "O:" + adminSid + "G:SYD:(D;;0x2;;;WD)(A;;KA;;;BA)");
    auto foreign = *ntsim::security::SecurityDescriptor::fromSddl("O:SYD:");
    auto foreignBytes = foreign.toSelfRelative(OWNER_SECURITY_INFORMATION);
    EXPECT_EQ(RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, foreignBytes.data()), ERROR_INVALID_OWNER);

    DWORD size = 4;
    BYTE small[4];
    EXPECT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, small, &size), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, DWORD(20 + 8 + 20 + 24));
    BYTE garbage[32] = { 7 };
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, garbage), ERROR_INVALID_SECURITY_DESCR);
    RegCloseKey(key);
}

namespace {

// What the uninstall does to a key it must clear: (A;;KR;;;IU)(A;;KA;;;BA)
// built with NT's SID, ACL and descriptor calls, set as the DACL alone.
LONG replaceDaclForUninstall(HKEY parent, const char* path)
{
    HKEY key = nullptr;
    if (LONG status = RegOpenKeyExA(parent, path, 0, WRITE_DAC, &key))
        return status;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID interactive = nullptr, admins = nullptr;
    EXPECT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &interactive));
    EXPECT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    DWORD size = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(interactive) + GetLengthSid(admins);
    std::vector<BYTE> buffer(size);
    auto acl = reinterpret_cast<PACL>(buffer.data());
    SECURITY_DESCRIPTOR sd;
    EXPECT_TRUE(InitializeAcl(acl, size, ACL_REVISION));
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, interactive));
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, admins));
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    LONG status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    FreeSid(interactive);
    FreeSid(admins);
    RegCloseKey(key);
    return status;
}

std::vector<BYTE> multiString(HKEY key, const char* name)
{
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    std::vector<BYTE> data(size);
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    return data;
}

}

TEST(RegistrySecurity, UninstallClearsTheLegacyTracesAfterReplacingEachDacl)
{
    test::TestMachine m;
    const std::string root = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root";
    // The machine's auditing of Enum\Root, set offline; the uninstall keeps it.
    std::string file = m.dir() + "/../audit.reg";
    std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root]\n"
                           ";sddl=O:BAG:SYD:(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)S:(AU;CISAFA;WDWO;;;WD)\n";
    ASSERT_EQ(m.tool({ "reg", "import", m.dir(), file }).exitCode, 0);
    m.attach();

    const char* enumRoot = "SYSTEM\\CurrentControlSet\\Enum\\Root";
    const char* eventLog = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System";
    HKEY key = nullptr;
    // Administrators own the Enum tree but its DACL lets them only read.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_SERIAL", 0, KEY_ALL_ACCESS, &key),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_SERIAL\\0000"), ERROR_ACCESS_DENIED);

    for (const char* path : { enumRoot, htree, eventLog })
        ASSERT_EQ(replaceDaclForUninstall(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS) << path;

    // Keys below keep their own DACLs: each is replaced before its delete.
    HKEY enumKey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, enumRoot, 0, KEY_ALL_ACCESS, &enumKey), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(enumKey, "LEGACY_SERIAL"), ERROR_ACCESS_DENIED) << "it has a subkey";
    ASSERT_EQ(replaceDaclForUninstall(enumKey, "LEGACY_SERIAL"), ERROR_SUCCESS);
    ASSERT_EQ(replaceDaclForUninstall(enumKey, "LEGACY_SERIAL\\0000"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(enumKey, "LEGACY_SERIAL\\0000"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(enumKey, "LEGACY_SERIAL"), ERROR_SUCCESS);
    char name[64];
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(enumKey, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "LEGACY_BEEP");
    RegCloseKey(enumKey);

    // The attached component goes; the rest of the list stays byte for byte.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, htree, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
    std::vector<BYTE> list = multiString(key, "AttachedComponents");
    const std::string serial = "Root\\LEGACY_SERIAL\\0000";
    ASSERT_EQ(std::string(list.begin(), list.begin() + serial.size()), serial);
    std::vector<BYTE> rest(list.begin() + serial.size() + 1, list.end());
    ASSERT_EQ(RegSetValueExA(key, "AttachedComponents", 0, REG_MULTI_SZ, rest.data(), DWORD(rest.size())), ERROR_SUCCESS);
    EXPECT_EQ(multiString(key, "AttachedComponents"), rest);
    RegCloseKey(key);

    ASSERT_EQ(replaceDaclForUninstall(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Serial"),
        ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Serial"), ERROR_SUCCESS);

    // What a person sees afterwards: owners and audit entries as they were.
    auto sddl = [&](const std::string& path) { return m.tool({ "reg", "sddl", m.dir(), path }).out; };
    EXPECT_EQ(sddl(root), "O:BAG:SYD:(A;;KR;;;IU)(A;;KA;;;BA)S:(AU;CISAFA;WDWO;;;WD)\n");
    EXPECT_EQ(sddl("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0"), "O:BAG:SYD:(A;;KR;;;IU)(A;;KA;;;BA)\n");
    EXPECT_EQ(sddl("HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System"), "O:BAG:SYD:(A;;KR;;;IU)(A;;KA;;;BA)\n");
    EXPECT_EQ(sddl(root + "\\LEGACY_BEEP"), "O:BAG:SYD:(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n")
        << "a descriptor set on a key leaves the keys below it as they were";
    auto gone = m.tool({ "reg", "export", m.dir(), root + "\\LEGACY_SERIAL" });
    EXPECT_EQ(gone.exitCode, 1);
    auto listed = m.tool({ "reg", "export", m.dir(), "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0" });
    EXPECT_NE(listed.out.find("\"AttachedComponents\"=hex(7):52,6f,6f,74,5c,4c,45,47,41,43,59,5f,42,45,45,50,5c,\\\n"
                              "  30,30,30,30,00,00\n"),
        std::string::npos)
        << listed.out;
}
