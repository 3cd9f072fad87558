// The service controller's calls as the platform itself makes them (the INF
// installer's AddService and DelService, the tool's sc verb), in the A and
// W forms advapi32 exports. Only a program's call enters through the
// public entry point, which alone consults the faults a machine injects, so
// the platform's own work never counts toward a program's n-th call. Each
// pair of forms converts its text and shares one logic.
#pragma once
#include <windows.h>

namespace ntsim::scm {

SC_HANDLE openManager(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess);
SC_HANDLE openManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess);
BOOL closeHandle(SC_HANDLE handle);
SC_HANDLE openService(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess);
SC_HANDLE openServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess);
SC_HANDLE createService(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
    DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
    LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName);
SC_HANDLE createServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD desiredAccess,
    DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName, LPCWSTR loadOrderGroup,
    LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName);
// DeleteService: marks the service for deletion.
BOOL markForDelete(SC_HANDLE service);
BOOL changeConfig(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
    LPCSTR binaryPathName, LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
    LPCSTR displayName);
BOOL changeConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
    LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
    LPCWSTR displayName);
BOOL queryConfig(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed);
BOOL queryConfigW(SC_HANDLE service, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed);
// StartService: arguments, which drivers do not take, only checked.
BOOL start(SC_HANDLE service, DWORD argumentCount, const void* arguments);
BOOL control(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL queryStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL enumServices(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
    LPDWORD needed, LPDWORD returned, LPDWORD resume);
BOOL enumServicesW(SC_HANDLE manager, DWORD type, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
    LPDWORD needed, LPDWORD returned, LPDWORD resume);
BOOL enumDependents(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size, LPDWORD needed,
    LPDWORD returned);
BOOL enumDependentsW(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size, LPDWORD needed,
    LPDWORD returned);
BOOL displayName(SC_HANDLE manager, LPCSTR serviceName, LPSTR displayName, LPDWORD length);
BOOL displayNameW(SC_HANDLE manager, LPCWSTR serviceName, LPWSTR displayName, LPDWORD length);
BOOL keyName(SC_HANDLE manager, LPCSTR displayName, LPSTR serviceName, LPDWORD length);
BOOL keyNameW(SC_HANDLE manager, LPCWSTR displayName, LPWSTR serviceName, LPDWORD length);
SC_LOCK lockDatabase(SC_HANDLE manager);
BOOL unlockDatabase(SC_LOCK lock);
BOOL queryLockStatus(SC_HANDLE manager, LPQUERY_SERVICE_LOCK_STATUSA status, DWORD size, LPDWORD needed);
BOOL queryLockStatusW(SC_HANDLE manager, LPQUERY_SERVICE_LOCK_STATUSW status, DWORD size, LPDWORD needed);
BOOL querySecurity(SC_HANDLE object, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, DWORD size,
    LPDWORD needed);
BOOL setSecurity(SC_HANDLE service, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);

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
