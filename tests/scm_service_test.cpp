#include "scm_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

using scmtest::Sc;
using scmtest::valueOf;

namespace {

std::string serviceKey(const std::string& name)
{
    return std::string(scmtest::servicesKey()) + "\\" + name;
}

}

TEST(ScmService, OpenRefusesBadNamesMissingServicesAndAGuestsWrite)
{
    test::TestMachine m;
    m.attach();
    {
        Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager);
        Sc made(scmtest::createDriver(manager.get(), "Opened", scmtest::driverPath("o.sys")));
        ASSERT_TRUE(made) << GetLastError();

        EXPECT_EQ(OpenServiceA(nullptr, "Opened", SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        for (std::string bad : { std::string(), std::string("a\\b"), std::string("a/b"), std::string(257, 'x') }) {
            EXPECT_EQ(OpenServiceA(manager.get(), bad.c_str(), SERVICE_QUERY_STATUS), nullptr) << bad;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
        }
        EXPECT_EQ(OpenServiceA(manager.get(), "NoSuchService", SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

        // Names compare without regard to case.
        Sc again(OpenServiceA(manager.get(), "OPENED", SERVICE_ALL_ACCESS));
        EXPECT_TRUE(again) << GetLastError();
    }

    m.set("user=guest");
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager) << GetLastError();
    for (DWORD denied : { static_cast<DWORD>(SERVICE_ALL_ACCESS), static_cast<DWORD>(SERVICE_START),
             static_cast<DWORD>(SERVICE_STOP), static_cast<DWORD>(DELETE), static_cast<DWORD>(GENERIC_EXECUTE) }) {
        EXPECT_EQ(OpenServiceA(manager.get(), "Opened", denied), nullptr) << std::hex << denied;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << std::hex << denied;
    }
    Sc reader(OpenServiceA(manager.get(), "Opened",
        SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_INTERROGATE | SERVICE_ENUMERATE_DEPENDENTS));
    ASSERT_TRUE(reader) << GetLastError();
    SERVICE_STATUS status {};
    EXPECT_TRUE(QueryServiceStatus(reader.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(StartServiceA(reader.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ScmService, CreateWritesTheServiceKey)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);

    Sc driver(CreateServiceA(manager.get(), "Xyz", "Xyz Modem Driver", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "System32\\drivers\\xyz.sys", "Extended Base", nullptr,
        "Serial\0+Base\0", nullptr, nullptr));
    ASSERT_TRUE(driver) << GetLastError();
    std::string key = serviceKey("Xyz");
    EXPECT_EQ(valueOf(key, "Type").type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(valueOf(key, "Type").dword(), static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(valueOf(key, "Start").dword(), static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(valueOf(key, "ErrorControl").dword(), static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(valueOf(key, "ImagePath").type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(valueOf(key, "ImagePath").text(), "System32\\drivers\\xyz.sys");
    EXPECT_EQ(valueOf(key, "DisplayName").text(), "Xyz Modem Driver");
    EXPECT_EQ(valueOf(key, "Group").text(), "Extended Base");
    auto depends = valueOf(key, "DependOnService");
    EXPECT_EQ(depends.type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::string(depends.data.begin(), depends.data.end()), std::string("Serial\0\0", 8));
    auto groups = valueOf(key, "DependOnGroup");
    EXPECT_EQ(std::string(groups.data.begin(), groups.data.end()), std::string("Base\0\0", 6));
    EXPECT_EQ(valueOf(key, "ObjectName").type, static_cast<DWORD>(REG_NONE)) << "a driver has no account";

    Sc program(CreateServiceA(manager.get(), "XyzHelper", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, "%SystemRoot%\\System32\\xyzhelp.exe", nullptr, nullptr, nullptr,
        nullptr, nullptr));
    ASSERT_TRUE(program) << GetLastError();
    EXPECT_EQ(valueOf(serviceKey("XyzHelper"), "ObjectName").text(), "LocalSystem");
    EXPECT_EQ(valueOf(serviceKey("XyzHelper"), "Type").dword(), static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));

    EXPECT_EQ(scmtest::createDriver(manager.get(), "xyz", scmtest::driverPath("other.sys")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(CreateServiceA(manager.get(), "Other", "xyz modem driver", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys", nullptr, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME));
    EXPECT_EQ(CreateServiceA(manager.get(), "Other", "XyzHelper", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys", nullptr, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME));
    EXPECT_FALSE(scmtest::keyExists(serviceKey("Other")));
}

TEST(ScmService, CreateRefusesSettingsNtRefuses)
{
    test::TestMachine m;
    m.attach();
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    struct Bad {
        DWORD type, start, errorControl;
        const char* path;
    };
    const Bad bad[] = {
        { 0x3, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys" },
        { SERVICE_KERNEL_DRIVER, 5, SERVICE_ERROR_NORMAL, "x.sys" },
        { SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, 4, "x.sys" },
        { SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START, SERVICE_ERROR_NORMAL, "x.exe" },
        { SERVICE_KERNEL_DRIVER | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys" },
        { SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, nullptr },
        { SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "" },
    };
    for (auto& b : bad) {
        EXPECT_EQ(CreateServiceA(manager.get(), "Bad", nullptr, SERVICE_ALL_ACCESS, b.type, b.start, b.errorControl,
                      b.path, nullptr, nullptr, nullptr, nullptr, nullptr),
            nullptr) << b.type << " " << b.start << " " << b.errorControl;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    // A tag needs a group and a boot or system start.
    DWORD tag = 0;
    EXPECT_EQ(CreateServiceA(manager.get(), "Bad", nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys", "Base", &tag, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateServiceA(manager.get(), "a/b", nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys", nullptr, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(scmtest::keyExists(serviceKey("Bad")));
}

TEST(ScmService, ConfigReadsBackAndChangesStick)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "cfg.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(CreateServiceA(manager.get(), "Cfg", "Config Test", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "System32\\drivers\\cfg.sys", "Base", nullptr, "Dep1\0+Grp\0",
        nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();

    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceConfigA(service.get(), nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::string strings = std::string("System32\\drivers\\cfg.sys") + '\0' + "Base" + '\0' + "Dep1" + '\0' + "+Grp"
        + '\0' + '\0' + '\0' + "Config Test" + '\0';
    EXPECT_EQ(needed, sizeof(QUERY_SERVICE_CONFIGA) + strings.size());
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    EXPECT_FALSE(QueryServiceConfigA(service.get(), config, needed - 1, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(QueryServiceConfigA(service.get(), config, needed, &needed)) << GetLastError();
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_STREQ(config->lpBinaryPathName, "System32\\drivers\\cfg.sys");
    EXPECT_STREQ(config->lpLoadOrderGroup, "Base");
    EXPECT_EQ(std::string(config->lpDependencies, 11), std::string("Dep1\0+Grp\0\0", 11));
    EXPECT_STREQ(config->lpServiceStartName, "");
    EXPECT_STREQ(config->lpDisplayName, "Config Test");

    ASSERT_TRUE(ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
        nullptr, nullptr, "\0", nullptr, nullptr, nullptr)) << GetLastError();
    EXPECT_EQ(valueOf(serviceKey("Cfg"), "Start").dword(), static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(valueOf(serviceKey("Cfg"), "DependOnService").type, static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(valueOf(serviceKey("Cfg"), "ImagePath").text(), "System32\\drivers\\cfg.sys");
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    EXPECT_FALSE(ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, 7, SERVICE_NO_CHANGE, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    Sc reader(OpenServiceA(manager.get(), "Cfg", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(QueryServiceConfigA(reader.get(), config, needed, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ChangeServiceConfigA(reader.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ScmService, DeleteWhileRunningCompletesOnStopAndLastClose)
{
    test::TestMachine m;
    m.attach();
    scmtest::writeImage(m, "del.sys", "plain");
    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Sc service(scmtest::createDriver(manager.get(), "Del", scmtest::driverPath("del.sys")));
    ASSERT_TRUE(service);
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    Sc second(OpenServiceA(manager.get(), "Del", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(second);

    ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
    EXPECT_FALSE(DeleteService(service.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(scmtest::createDriver(manager.get(), "Del", scmtest::driverPath("del.sys")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_TRUE(scmtest::keyExists(serviceKey("Del"))) << "a running service stays";

    SERVICE_STATUS status {};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    service.reset();
    EXPECT_TRUE(scmtest::keyExists(serviceKey("Del"))) << "a handle is still open";
    second.reset();
    EXPECT_FALSE(scmtest::keyExists(serviceKey("Del")));
    EXPECT_EQ(OpenServiceA(manager.get(), "Del", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    // The name is free again.
    Sc again(scmtest::createDriver(manager.get(), "Del", scmtest::driverPath("del.sys")));
    EXPECT_TRUE(again) << GetLastError();
    EXPECT_EQ(scmtest::statusOf(again.get()).dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));

    Sc reader(OpenServiceA(manager.get(), "Del", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(DeleteService(reader.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
