// The service controller's calls against the platform's documentation and
// what was measured on Windows or tried under Wine (said so at the check),
// NT 4.0 where versions differ. Each fact is checked in both forms where
// the call has two.
#include "scm_helpers.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using scmtest::Sc;

namespace {

SC_HANDLE driver(SC_HANDLE manager, const char* name, const char* display = nullptr, const char* dependencies = nullptr,
    const char* group = nullptr)
{
    return CreateServiceA(manager, name, display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, "System32\\drivers\\plain.sys", group, nullptr, dependencies, nullptr, nullptr);
}

std::vector<std::string> names(const ENUM_SERVICE_STATUSA* entries, DWORD count)
{
    std::vector<std::string> out;
    for (DWORD i = 0; i < count; ++i)
        out.push_back(entries[i].lpServiceName);
    return out;
}

std::vector<std::string> names(const ENUM_SERVICE_STATUSW* entries, DWORD count)
{
    std::vector<std::string> out;
    for (DWORD i = 0; i < count; ++i) {
        std::u16string name(entries[i].lpServiceName);
        out.push_back(std::string(name.begin(), name.end()));
    }
    return out;
}

}

TEST(ScmConformance, OpenSCManagerKnowsOnlyTheActiveDatabaseAndSaysSoOnSuccess)
{
    test::TestMachine m;
    m.attach();
    for (const char* database : { static_cast<const char*>(nullptr), "ServicesActive", "servicesactive" }) {
        SetLastError(0xdeadbeef);
        Sc manager(OpenSCManagerA(nullptr, database, SC_MANAGER_CONNECT));
        EXPECT_TRUE(manager) << (database ? database : "(null)");
        // A success leaves ERROR_SUCCESS (measured on Windows).
        EXPECT_EQ(GetLastError(), 0u);
    }
    SetLastError(0xdeadbeef);
    Sc wide(OpenSCManagerW(u"", SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT));
    EXPECT_TRUE(wide);
    EXPECT_EQ(GetLastError(), 0u);

    // The failed database exists in name only; other names are none
    // (measured on Windows).
    EXPECT_EQ(OpenSCManagerA(nullptr, SERVICES_FAILED_DATABASEA, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DATABASE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenSCManagerW(nullptr, SERVICES_FAILED_DATABASEW, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DATABASE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenSCManagerA(nullptr, "DoesNotExist", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(OpenSCManagerW(nullptr, u"DoesNotExist", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));

    // This machine by its name; another cannot be reached.
    Sc byName(OpenSCManagerA("\\\\ntsim", nullptr, SC_MANAGER_CONNECT));
    EXPECT_TRUE(byName);
    EXPECT_EQ(OpenSCManagerW(u"\\\\ELSEWHERE", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));

    // A right the controller has not is not granted; the most allowed is.
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | 0x40), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    Sc most(OpenSCManagerA(nullptr, nullptr, MAXIMUM_ALLOWED));
    ASSERT_TRUE(most);
    DWORD needed = 0, returned = 0;
    EXPECT_FALSE(EnumServicesStatusA(most.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, nullptr, 0, &needed, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
}

TEST(ScmConformance, OpenServiceRefusesMissingAndBadNamesAsNt4Does)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc made(driver(manager.get(), "Made"));
    ASSERT_TRUE(made) << GetLastError();

    EXPECT_EQ(OpenServiceA(nullptr, "Made", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenServiceW(reinterpret_cast<SC_HANDLE>(made.get()), u"Made", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    // No name: NT 4.0 says ERROR_INVALID_PARAMETER (later versions
    // ERROR_INVALID_ADDRESS, as Wine does).
    EXPECT_EQ(OpenServiceA(manager.get(), nullptr, SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenServiceW(manager.get(), nullptr, SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    for (const std::string& bad : { std::string(), std::string(257, 'n'), std::string("a\\b"), std::string("a/b") }) {
        EXPECT_EQ(OpenServiceA(manager.get(), bad.c_str(), SERVICE_QUERY_STATUS), nullptr) << bad;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME)) << bad;
    }
    EXPECT_EQ(OpenServiceW(manager.get(), u"NoSuchService", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));

    // A success leaves the last error as it was (NT 4.0; tried under Wine).
    SetLastError(0xdeadbeef);
    Sc opened(OpenServiceW(manager.get(), u"made", SERVICE_QUERY_STATUS));
    EXPECT_TRUE(opened);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    // A right no service has is not granted.
    EXPECT_EQ(OpenServiceA(manager.get(), "Made", SERVICE_QUERY_STATUS | 0x200), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(ScmConformance, CreateServiceChecksNamesSettingsAccountsAndDependencyCircles)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));

    // Display names of 256 characters, not 257; service names as long as
    // the registry's key names, 255 characters: the controller takes 256
    // (documented) but the registry holds no such key.
    Sc longName(driver(manager.get(), std::string(255, 's').c_str(), std::string(256, 'd').c_str()));
    EXPECT_TRUE(longName) << GetLastError();
    EXPECT_EQ(driver(manager.get(), std::string(256, 't').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenServiceA(manager.get(), std::string(256, 't').c_str(), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(driver(manager.get(), std::string(257, 's').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(driver(manager.get(), "Other", std::string(257, 'd').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(CreateServiceW(manager.get(), nullptr, nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"x.sys", nullptr, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A service that would depend on itself, directly or round a circle.
    EXPECT_EQ(driver(manager.get(), "Self", nullptr, "Self\0"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CIRCULAR_DEPENDENCY));
    Sc first(driver(manager.get(), "First"));
    Sc second(driver(manager.get(), "Second", nullptr, "First\0"));
    ASSERT_TRUE(second) << GetLastError();
    EXPECT_FALSE(ChangeServiceConfigW(first.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
        nullptr, nullptr, u"second\0", nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CIRCULAR_DEPENDENCY));

    // A Win32 service runs as LocalSystem; no other account is known here.
    EXPECT_EQ(CreateServiceA(manager.get(), "Program", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.exe", nullptr, nullptr, nullptr, "NTSIM\\Nobody", "pw"),
        nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SERVICE_ACCOUNT));

    // The W form's names keep every character; the A form sees them
    // through the code page.
    const std::u16string greek = u"\u03A9mega";
    Sc wide(CreateServiceW(manager.get(), greek.c_str(), u"\u03B1lpha driver", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"System32\\drivers\\w.sys", nullptr, nullptr, nullptr, nullptr,
        nullptr));
    ASSERT_TRUE(wide) << GetLastError();
    Sc otherCase(OpenServiceW(manager.get(), u"\u03C9MEGA", SERVICE_QUERY_CONFIG));
    EXPECT_TRUE(otherCase) << GetLastError();
    WCHAR display[64];
    DWORD length = 64;
    ASSERT_TRUE(GetServiceDisplayNameW(manager.get(), greek.c_str(), display, &length));
    EXPECT_EQ(std::u16string(display), u"\u03B1lpha driver");
    BYTE config[512];
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(otherCase.get(), reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(config), sizeof config,
        &needed));
    EXPECT_STREQ(reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(config)->lpDisplayName, "?lpha driver");
    // The A form's '?' names no service.
    EXPECT_EQ(OpenServiceA(manager.get(), "?mega", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(ScmConformance, QueryServiceConfigTellsTheSizeInEachFormsUnits)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(driver(manager.get(), "Configured", nullptr, "Serial\0+Base\0", "Extended Base"));
    ASSERT_TRUE(service) << GetLastError();

    DWORD neededA = 0, neededW = 0;
    EXPECT_FALSE(QueryServiceConfigA(service.get(), nullptr, 0, &neededA));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(QueryServiceConfigW(service.get(), nullptr, 0, &neededW));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    // Path, group, "Serial\0+Base\0\0", no account, the name as display name.
    const size_t text = std::strlen("System32\\drivers\\plain.sys") + 1 + std::strlen("Extended Base") + 1 + 14 + 1
        + std::strlen("Configured") + 1;
    EXPECT_EQ(neededA, sizeof(QUERY_SERVICE_CONFIGA) + text);
    EXPECT_EQ(neededW, sizeof(QUERY_SERVICE_CONFIGW) + 2 * text);

    std::vector<BYTE> buffer(neededA);
    auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data());
    EXPECT_FALSE(QueryServiceConfigA(service.get(), config, neededA - 1, &neededA));
    ASSERT_TRUE(QueryServiceConfigA(service.get(), config, neededA, &neededA)) << GetLastError();
    EXPECT_EQ(config->dwServiceType, DWORD(SERVICE_KERNEL_DRIVER));
    EXPECT_STREQ(config->lpLoadOrderGroup, "Extended Base");
    EXPECT_EQ(std::string(config->lpDependencies, 14), std::string("Serial\0+Base\0\0", 14));
    EXPECT_STREQ(config->lpDisplayName, "Configured");
    EXPECT_STREQ(config->lpServiceStartName, "");

    std::vector<BYTE> wideBuffer(neededW);
    auto* wideConfig = reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(wideBuffer.data());
    ASSERT_TRUE(QueryServiceConfigW(service.get(), wideConfig, neededW, &neededW));
    EXPECT_EQ(std::u16string(wideConfig->lpBinaryPathName), u"System32\\drivers\\plain.sys");

    // NT 4.0 refuses a missing size with ERROR_INVALID_PARAMETER.
    EXPECT_FALSE(QueryServiceConfigA(service.get(), config, neededA, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    Sc statusOnly(OpenServiceA(manager.get(), "Configured", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(QueryServiceConfigW(statusOnly.get(), wideConfig, neededW, &neededW));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(ScmConformance, EnumServicesStatusGivesWhatFitsAndResumesAfterIt)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "plain.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc started(driver(manager.get(), "AaaStarted"));
    ASSERT_TRUE(StartServiceA(started.get(), 0, nullptr)) << GetLastError();

    // No buffer: the size of them all, none returned.
    DWORD needed = 0, returned = 9, resume = 0;
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, nullptr, 0, &needed, &returned, &resume));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(returned, 0u);
    DWORD all = needed;
    std::vector<BYTE> buffer(all);
    auto* entries = reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data());
    ASSERT_TRUE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, entries, all, &needed, &returned, &resume));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(resume, 0u);
    auto every = names(entries, returned);
    ASSERT_GT(every.size(), 3u);
    EXPECT_EQ(every[0], "AaaStarted") << "in the database's order";

    // Part of them: what fits, the size of the rest, where to go on.
    DWORD part = static_cast<DWORD>(sizeof(ENUM_SERVICE_STATUSA) * 2 + 40);
    resume = 0;
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, entries, part, &needed, &returned, &resume));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
    ASSERT_GT(returned, 0u);
    EXPECT_EQ(resume, returned);
    auto got = names(entries, returned);
    DWORD restNeeded = needed;
    std::vector<BYTE> rest(restNeeded);
    ASSERT_TRUE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL,
        reinterpret_cast<LPENUM_SERVICE_STATUSA>(rest.data()), restNeeded, &needed, &returned, &resume));
    auto more = names(reinterpret_cast<LPENUM_SERVICE_STATUSA>(rest.data()), returned);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, every);

    // The W form lists the same services.
    DWORD wideNeeded = 0;
    EXPECT_FALSE(EnumServicesStatusW(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, nullptr, 0, &wideNeeded, &returned, nullptr));
    std::vector<BYTE> wideBuffer(wideNeeded);
    ASSERT_TRUE(EnumServicesStatusW(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL,
        reinterpret_cast<LPENUM_SERVICE_STATUSW>(wideBuffer.data()), wideNeeded, &needed, &returned, nullptr));
    EXPECT_EQ(names(reinterpret_cast<LPENUM_SERVICE_STATUSW>(wideBuffer.data()), returned), every);
    EXPECT_GT(wideNeeded, all);

    // Only those running.
    ASSERT_TRUE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_ACTIVE, entries, all, &needed, &returned, nullptr));
    ASSERT_EQ(returned, 1u);
    EXPECT_STREQ(entries[0].lpServiceName, "AaaStarted");
    EXPECT_EQ(entries[0].ServiceStatus.dwCurrentState, DWORD(SERVICE_RUNNING));

    // What NT refuses.
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), 0, SERVICE_STATE_ALL, entries, all, &needed, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER | SERVICE_INTERACTIVE_PROCESS, SERVICE_STATE_ALL,
        entries, all, &needed, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(EnumServicesStatusW(manager.get(), SERVICE_DRIVER, 0, nullptr, 0, &needed, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(EnumServicesStatusA(manager.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, entries, all, nullptr, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    Sc connectOnly(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    EXPECT_FALSE(EnumServicesStatusA(connectOnly.get(), SERVICE_DRIVER, SERVICE_STATE_ALL, entries, all, &needed, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(ScmConformance, EnumDependentServicesListsThemInTheOrderTheyMustStop)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc base(driver(manager.get(), "DepBase", nullptr, nullptr, "BaseGroup"));
    Sc middle(driver(manager.get(), "DepMiddle", nullptr, "DepBase\0"));
    Sc top(driver(manager.get(), "DepAtop", nullptr, "DepMiddle\0"));
    Sc byGroup(driver(manager.get(), "DepGroup", nullptr, "+BaseGroup\0"));
    ASSERT_TRUE(base && middle && top && byGroup) << GetLastError();

    DWORD needed = 0, returned = 9;
    EXPECT_FALSE(EnumDependentServicesA(base.get(), SERVICE_STATE_ALL, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(returned, 0u);
    std::vector<BYTE> buffer(needed);
    auto* entries = reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data());
    ASSERT_TRUE(EnumDependentServicesA(base.get(), SERVICE_STATE_ALL, entries, needed, &needed, &returned));
    // Those through the group too; a dependent's own dependents before it.
    auto listed = names(entries, returned);
    ASSERT_EQ(listed.size(), 3u);
    auto at = [&](const char* name) { return std::find(listed.begin(), listed.end(), name) - listed.begin(); };
    EXPECT_LT(at("DepAtop"), at("DepMiddle"));
    EXPECT_LT(at("DepGroup"), 3);
    DWORD wideNeeded = 0;
    EXPECT_FALSE(EnumDependentServicesW(base.get(), SERVICE_STATE_ALL, nullptr, 0, &wideNeeded, &returned));
    std::vector<BYTE> wideBuffer(wideNeeded);
    ASSERT_TRUE(EnumDependentServicesW(base.get(), SERVICE_STATE_ALL,
        reinterpret_cast<LPENUM_SERVICE_STATUSW>(wideBuffer.data()), wideNeeded, &needed, &returned));
    EXPECT_EQ(returned, 3u);

    // None runs; none depends on the top one.
    EXPECT_TRUE(EnumDependentServicesA(base.get(), SERVICE_ACTIVE, entries, 0, &needed, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(EnumDependentServicesW(top.get(), SERVICE_STATE_ALL, nullptr, 0, &needed, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(EnumDependentServicesA(base.get(), 0, entries, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    Sc statusOnly(OpenServiceA(manager.get(), "DepBase", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(EnumDependentServicesA(statusOnly.get(), SERVICE_STATE_ALL, entries, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(ScmConformance, DisplayAndKeyNamesTellTheLengthTheyNeed)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    Sc full(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc named(driver(full.get(), "Shown", "Shown Driver"));
    Sc unnamed(driver(full.get(), "Bare"));
    ASSERT_TRUE(named && unnamed);

    // Too small: an empty string, and the length needed without the zero;
    // the A form tells twice the characters (measured on Windows).
    WCHAR wide[32];
    DWORD length = 0;
    EXPECT_FALSE(GetServiceDisplayNameW(manager.get(), u"Shown", wide, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 12u);
    char narrow[32];
    std::memset(narrow, 'x', sizeof narrow);
    length = 5;
    EXPECT_FALSE(GetServiceDisplayNameA(manager.get(), "Shown", narrow, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 24u);
    EXPECT_EQ(narrow[0], 0);
    length = 12;
    EXPECT_FALSE(GetServiceDisplayNameW(manager.get(), u"Shown", wide, &length));
    length = 13;
    ASSERT_TRUE(GetServiceDisplayNameW(manager.get(), u"shown", wide, &length));
    EXPECT_EQ(std::u16string(wide), u"Shown Driver");
    EXPECT_EQ(length, 12u);
    length = sizeof narrow;
    ASSERT_TRUE(GetServiceDisplayNameA(manager.get(), "Bare", narrow, &length));
    EXPECT_STREQ(narrow, "Bare") << "without a display name, the name";

    length = sizeof narrow;
    ASSERT_TRUE(GetServiceKeyNameA(manager.get(), "SHOWN DRIVER", narrow, &length));
    EXPECT_STREQ(narrow, "Shown");
    EXPECT_EQ(length, 5u);
    length = 2;
    EXPECT_FALSE(GetServiceKeyNameW(manager.get(), u"Shown Driver", wide, &length));
    EXPECT_EQ(length, 5u);
    // A key name is no display name where the service has one (tried under Wine).
    length = sizeof narrow;
    EXPECT_FALSE(GetServiceKeyNameA(manager.get(), "Shown", narrow, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(GetServiceDisplayNameW(manager.get(), u"Nobody", wide, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(GetServiceDisplayNameA(manager.get(), "Shown", narrow, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GetServiceKeyNameA(named.get(), "Shown Driver", narrow, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(ScmConformance, TheDatabaseLockKeepsEveryProcessFromStartingServicesUntilItGoes)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "plain.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(driver(manager.get(), "Locked"));
    ASSERT_TRUE(service);

    SC_LOCK lock = LockServiceDatabase(manager.get());
    ASSERT_NE(lock, nullptr) << GetLastError();
    EXPECT_EQ(LockServiceDatabase(manager.get()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DATABASE_LOCKED));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DATABASE_LOCKED));

    // The status names the person who holds it.
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceLockStatusA(manager.get(), nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(QUERY_SERVICE_LOCK_STATUSA) + std::strlen("NTSIM\\Administrator") + 1);
    std::vector<BYTE> buffer(needed);
    auto* status = reinterpret_cast<LPQUERY_SERVICE_LOCK_STATUSA>(buffer.data());
    ASSERT_TRUE(QueryServiceLockStatusA(manager.get(), status, needed, &needed));
    EXPECT_TRUE(status->fIsLocked);
    EXPECT_STREQ(status->lpLockOwner, "NTSIM\\Administrator");
    EXPECT_LT(status->dwLockDuration, 60u);

    // Another process meets the same lock.
    pid_t child = fork();
    if (child == 0) {
        SC_HANDLE other = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE theirs = OpenServiceA(other, "Locked", SERVICE_START);
        bool refused = !LockServiceDatabase(other) && GetLastError() == ERROR_SERVICE_DATABASE_LOCKED
            && !StartServiceA(theirs, 0, nullptr) && GetLastError() == ERROR_SERVICE_DATABASE_LOCKED;
        // The lock's value, which the fork copied, is no lock of this process.
        bool notTheirs = !UnlockServiceDatabase(lock) && GetLastError() == ERROR_INVALID_SERVICE_LOCK;
        _exit(refused && notTheirs ? 0 : 1);
    }
    int exit = 0;
    waitpid(child, &exit, 0);
    EXPECT_EQ(exit, 0);

    ASSERT_TRUE(UnlockServiceDatabase(lock));
    EXPECT_FALSE(UnlockServiceDatabase(lock));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SERVICE_LOCK));
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    WCHAR wideBuffer[32];
    auto* wideStatus = reinterpret_cast<LPQUERY_SERVICE_LOCK_STATUSW>(wideBuffer);
    ASSERT_TRUE(QueryServiceLockStatusW(manager.get(), wideStatus, sizeof wideBuffer, &needed));
    EXPECT_FALSE(wideStatus->fIsLocked);
    EXPECT_EQ(std::u16string(wideStatus->lpLockOwner), u"");
    EXPECT_EQ(wideStatus->dwLockDuration, 0u);

    // A lock whose process ended is gone with it.
    child = fork();
    if (child == 0) {
        SC_HANDLE other = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        _exit(LockServiceDatabase(other) ? 0 : 1);
    }
    waitpid(child, &exit, 0);
    EXPECT_EQ(exit, 0);
    lock = LockServiceDatabase(manager.get());
    EXPECT_NE(lock, nullptr) << GetLastError();
    UnlockServiceDatabase(lock);

    Sc reader(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    EXPECT_EQ(LockServiceDatabase(reader.get()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CloseServiceHandle(reinterpret_cast<SC_HANDLE>(lock)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(ScmConformance, MissingPointersAreRefusedAsNt4RefusesThem)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "plain.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(driver(manager.get(), "Pointers"));
    ASSERT_TRUE(service);
    // NT 4.0 says ERROR_INVALID_PARAMETER where later versions (and Wine)
    // say ERROR_INVALID_ADDRESS.
    EXPECT_FALSE(QueryServiceStatus(service.get(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(StartServiceW(service.get(), 1, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(CloseServiceHandle(nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceLockStatusW(manager.get(), nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GetServiceKeyNameW(manager.get(), nullptr, nullptr, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}
