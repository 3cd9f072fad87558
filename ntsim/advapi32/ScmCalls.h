// The service controller's calls as the platform itself makes them (the INF
// installer's AddService and DelService, the tool's sc verb). Only a
// program's call enters through the public entry point, which alone
// consults the faults a machine injects, so the platform's own work never
// counts toward a program's n-th call.
#pragma once
#include <windows.h>

namespace ntsim::scm {

SC_HANDLE openManager(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess);
BOOL closeHandle(SC_HANDLE handle);
SC_HANDLE openService(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess);
SC_HANDLE createService(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
    DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
    LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName);
// DeleteService: marks the service for deletion.
BOOL markForDelete(SC_HANDLE service);
BOOL changeConfig(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
    LPCSTR binaryPathName, LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
    LPCSTR displayName);
BOOL start(SC_HANDLE service);
BOOL control(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL queryStatus(SC_HANDLE service, LPSERVICE_STATUS status);

// Closes the handle it holds when it goes.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr)
        : m_handle(handle)
    {
    }
    ~ScHandle()
    {
        if (m_handle)
            closeHandle(m_handle);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};

}
