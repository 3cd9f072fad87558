// Services and driver images for the service controller's tests.
#pragma once
#include "support/TestMachine.h"

#include "machine/SecurityDescriptor.h"

#include <windows.h>

#include <string>
#include <vector>

namespace scmtest {

inline void writeImage(const test::TestMachine& m, const std::string& file, const std::string& behaviour,
    const std::string& extraLines = "")
{
    m.write("C:\\WINNT\\system32\\drivers\\" + file, "NTSIM DRIVER IMAGE\nBehaviour: " + behaviour + "\n" + extraLines);
}

// Owns an SC_HANDLE for a test.
class Sc {
public:
    explicit Sc(SC_HANDLE h = nullptr) : m_handle(h) { }
    ~Sc() { reset(); }
    Sc(const Sc&) = delete;
    Sc& operator=(const Sc&) = delete;
    SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset(SC_HANDLE h = nullptr)
    {
        if (m_handle)
            CloseServiceHandle(m_handle);
        m_handle = h;
    }
    SC_HANDLE release()
    {
        SC_HANDLE h = m_handle;
        m_handle = nullptr;
        return h;
    }

private:
    SC_HANDLE m_handle;
};

inline SC_HANDLE createDriver(SC_HANDLE manager, const std::string& name, const std::string& imagePath,
    const char* dependencies = nullptr)
{
    return CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr);
}

inline std::string driverPath(const std::string& file)
{
    return "System32\\drivers\\" + file;
}

inline SERVICE_STATUS statusOf(SC_HANDLE service)
{
    SERVICE_STATUS s {};
    if (!QueryServiceStatus(service, &s))
        s.dwCurrentState = 0;
    return s;
}

inline bool keyExists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The value's type and bytes, or type REG_NONE when it is missing.
struct Value {
    DWORD type { REG_NONE };
    std::vector<BYTE> data;
    std::string text() const { return data.empty() ? "" : std::string(data.begin(), data.end() - 1); }
    DWORD dword() const
    {
        DWORD v = 0;
        for (size_t i = 0; i < data.size() && i < 4; ++i)
            v |= static_cast<DWORD>(data[i]) << (8 * i);
        return v;
    }
};

inline Value valueOf(const std::string& keyPath, const char* name)
{
    Value v;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return v;
    DWORD size = 0, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        v.data.resize(size);
        if (RegQueryValueExA(key, name, nullptr, &type, v.data.data(), &size) == ERROR_SUCCESS)
            v.type = type;
    }
    RegCloseKey(key);
    return v;
}

inline const char* servicesKey() { return "SYSTEM\\CurrentControlSet\\Services"; }

// Gives a service the DACL of an SDDL text, through the public call.
inline BOOL setServiceDacl(SC_HANDLE service, const std::string& sddl)
{
    auto sd = ntsim::security::SecurityDescriptor::fromSddl(sddl);
    if (!sd)
        return FALSE;
    auto bytes = sd->toSelfRelative(DACL_SECURITY_INFORMATION);
    return SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, bytes.data());
}

}
