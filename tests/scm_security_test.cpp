// Each service's own security descriptor: what NT gives a new service,
// reading and changing it, and OpenServiceA checking a caller against it.
#include "scm_helpers.h"

#include <gtest/gtest.h>

using ntsim::security::Ace;
using ntsim::security::SecurityDescriptor;
using scmtest::Sc;

namespace {

SecurityDescriptor descriptorOf(SC_HANDLE service, SECURITY_INFORMATION parts)
{
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceObjectSecurity(service, parts, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> bytes(needed);
    EXPECT_FALSE(QueryServiceObjectSecurity(service, parts, bytes.data(), needed - 1, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_TRUE(QueryServiceObjectSecurity(service, parts, bytes.data(), needed, &needed)) << GetLastError();
    return SecurityDescriptor::fromBinary(bytes.data()).value_or(SecurityDescriptor {});
}

// A machine of the test's own with one driver service, "Guarded", and the
// handle its creation gave.
struct GuardedService {
    GuardedService()
    {
        machine.attach();
        manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        made.reset(scmtest::createDriver(manager.get(), "Guarded", scmtest::driverPath("g.sys")));
        EXPECT_TRUE(made) << GetLastError();
    }
    test::TestMachine machine;
    Sc manager;
    Sc made;
};

const DWORD everyoneRights = READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS
    | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL;

}

TEST(ScmSecurity, ANewServiceHasNtsDefaultDescriptorAndOpeningIsCheckedAgainstIt)
{
    GuardedService guarded;
    Sc& manager = guarded.manager;
    Sc& made = guarded.made;
    ASSERT_TRUE(made);

    SecurityDescriptor sd = descriptorOf(made.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    EXPECT_EQ(sd.owner, "S-1-5-18");
    EXPECT_EQ(sd.group, "") << "only the parts asked for";
    EXPECT_TRUE(sd.daclPresent);
    EXPECT_EQ(sd.dacl, (std::vector<Ace> { { ACCESS_ALLOWED_ACE_TYPE, 0, everyoneRights, "S-1-1-0" },
                           { ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, "S-1-5-18" },
                           { ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, "S-1-5-32-544" } }));
    EXPECT_FALSE(scmtest::keyExists(std::string(scmtest::servicesKey()) + "\\Guarded\\Security"))
        << "the default is not written down";

    // Administrators keep only the right to query the state.
    ASSERT_TRUE(scmtest::setServiceDacl(made.get(), "D:(A;;0x4;;;BA)(A;;0xf01ff;;;SY)")) << GetLastError();
    auto stored = scmtest::valueOf(std::string(scmtest::servicesKey()) + "\\Guarded\\Security", "Security");
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_BINARY)) << "kept where NT keeps it";

    Sc query(OpenServiceA(manager.get(), "Guarded", SERVICE_QUERY_STATUS));
    EXPECT_TRUE(query) << GetLastError();
    for (DWORD denied : { DWORD(SERVICE_START), DWORD(SERVICE_STOP), DWORD(SERVICE_QUERY_CONFIG), DWORD(SERVICE_ALL_ACCESS),
             DWORD(GENERIC_READ), DWORD(READ_CONTROL | SERVICE_QUERY_STATUS) }) {
        EXPECT_EQ(OpenServiceA(manager.get(), "Guarded", denied), nullptr) << std::hex << denied;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << std::hex << denied;
    }
    Sc most(OpenServiceA(manager.get(), "Guarded", MAXIMUM_ALLOWED));
    ASSERT_TRUE(most) << GetLastError();
    SERVICE_STATUS status {};
    EXPECT_TRUE(QueryServiceStatus(most.get(), &status));
    EXPECT_FALSE(StartServiceA(most.get(), 0, nullptr)) << "the most allowed is the query";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Without WRITE_DAC nobody but the owner may change it back.
    EXPECT_FALSE(scmtest::setServiceDacl(query.get(), "D:(A;;0xf01ff;;;BA)"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // The handle opened at creation keeps every right it was given.
    EXPECT_TRUE(scmtest::setServiceDacl(made.get(), "D:(A;;0xf01ff;;;BA)(A;;0xf01ff;;;SY)")) << GetLastError();
    Sc again(OpenServiceA(manager.get(), "Guarded", SERVICE_ALL_ACCESS));
    EXPECT_TRUE(again) << GetLastError();
}

TEST(ScmSecurity, ABadOrForeignDescriptorIsRefusedAndABrokenStoredOneGrantsNothing)
{
    GuardedService guarded;
    Sc& manager = guarded.manager;
    Sc& made = guarded.made;
    ASSERT_TRUE(made);

    EXPECT_FALSE(SetServiceObjectSecurity(made.get(), DACL_SECURITY_INFORMATION, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    BYTE garbage[20] = { 9 };
    EXPECT_FALSE(SetServiceObjectSecurity(made.get(), DACL_SECURITY_INFORMATION, garbage));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetServiceObjectSecurity(manager.get(), DACL_SECURITY_INFORMATION, garbage));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    auto foreign = SecurityDescriptor::fromSddl("O:S-1-5-21-9-1001D:")->toSelfRelative(OWNER_SECURITY_INFORMATION);
    EXPECT_FALSE(SetServiceObjectSecurity(made.get(), OWNER_SECURITY_INFORMATION, foreign.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_OWNER));
    // The controller's own descriptor is there to read.
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceObjectSecurity(manager.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GT(needed, 20u);

    // Bytes a program wrote over the stored descriptor are never read past
    // their end, and lock the service rather than open it.
    ASSERT_TRUE(scmtest::setServiceDacl(made.get(), "D:(A;;0xf01ff;;;BA)"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(scmtest::servicesKey()) + "\\Guarded\\Security").c_str(), 0,
                  KEY_SET_VALUE, &key),
        ERROR_SUCCESS);
    const BYTE cut[] = { 1, 0, 0x04, 0x80, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 2, 0, 255, 0 };
    ASSERT_EQ(RegSetValueExA(key, "Security", 0, REG_BINARY, cut, sizeof cut), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(OpenServiceA(manager.get(), "Guarded", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Marked for delete, the service takes no new descriptor.
    ASSERT_TRUE(DeleteService(made.get()));
    EXPECT_FALSE(scmtest::setServiceDacl(made.get(), "D:(A;;0xf01ff;;;BA)"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    made.reset();
    EXPECT_FALSE(scmtest::keyExists(std::string(scmtest::servicesKey()) + "\\Guarded"));
}

TEST(ScmSecurity, AGuestGetsWhatTheDescriptorGrantsEveryone)
{
    test::TestMachine m;
    m.attach();
    {
        Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        Sc made(scmtest::createDriver(manager.get(), "Shared", scmtest::driverPath("s.sys")));
        ASSERT_TRUE(made) << GetLastError();
        ASSERT_TRUE(scmtest::setServiceDacl(made.get(), "D:(A;;0x14;;;WD)(A;;0xf01ff;;;BA)"));
    }
    m.set("user=guest");
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    Sc starter(OpenServiceA(manager.get(), "Shared", SERVICE_START | SERVICE_QUERY_STATUS));
    EXPECT_TRUE(starter) << GetLastError();
    EXPECT_EQ(OpenServiceA(manager.get(), "Shared", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
