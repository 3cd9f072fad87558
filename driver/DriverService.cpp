// The driver's kernel-driver service through the Service Control Manager.
#include "Driver.h"

#include "app/SetupLog.h"

namespace {

struct ErrorLine {
    DWORD dwError;
    UINT uStatus;
    LPCSTR lpszLine;
};

// The line and status of a failing call; the last entry is for any other error.
template<size_t N>
const ErrorLine& LineFor(const ErrorLine (&table)[N], DWORD dwError)
{
    for (size_t i = 0; i + 1 < N; ++i)
        if (table[i].dwError == dwError)
            return table[i];
    return table[N - 1];
}

const ErrorLine openServiceErrors[] = {
    { ERROR_ACCESS_DENIED, ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED, "open_service %u (ST_SCM_CANT_OPEN_SERVICE_ACCESS_DENIED)\n" },
    { ERROR_INVALID_HANDLE, ST_SCM_CANT_OPEN_SERVICE_INVALID_HANDLE, "open_service %u (ST_SCM_CANT_OPEN_SERVICE_INVALID_HANDLE)\n" },
    { ERROR_INVALID_NAME, ST_SCM_CANT_OPEN_SERVICE_INVALID_NAME, "open_service %u (ST_SCM_CANT_OPEN_SERVICE_INVALID_NAME)\n" },
    { ERROR_SERVICE_DOES_NOT_EXIST, ST_SCM_CANT_OPEN_SERVICE_DOES_NOT_EXIST, "open_service %u (ST_SCM_CANT_OPEN_SERVICE_DOES_NOT_EXIST)\n" },
    { 0, ST_SCM_CANT_OPEN_SERVICE_REASON_UNKNOWN, "open_service %u (ST_SCM_CANT_OPEN_SERVICE_REASON_UNKNOWN)\n" },
};

const ErrorLine startErrors[] = {
    { ERROR_SERVICE_DATABASE_LOCKED, ST_SCM_CANT_START_SERVICE_DATABASE_LOCKED, "Start %u (ST_SCM_CANT_START_SERVICE_DATABASE_LOCKED)\n" },
    { ERROR_SERVICE_ALREADY_RUNNING, ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING, "Start %u (ST_SCM_CANT_START_SERVICE_ALREADY_RUNNING)\n" },
    { ERROR_SERVICE_DISABLED, ST_SCM_CANT_START_SERVICE_DISABLED, "Start %u (ST_SCM_CANT_START_SERVICE_DISABLED)\n" },
    { ERROR_SERVICE_MARKED_FOR_DELETE, ST_SCM_CANT_START_SERVICE_MARKED_FOR_DELETE, "Start %u (ST_SCM_CANT_START_SERVICE_MARKED_FOR_DELETE)\n" },
    { 0, ST_SCM_CANT_START_SERVICE_REASON_UNKNOWN, "Start %u (ST_SCM_CANT_START_SERVICE_REASON_UNKNOWN)\n" },
};

// Stop's lines carry the system error, not the status.
const ErrorLine stopErrors[] = {
    { ERROR_ACCESS_DENIED, ST_SCM_CANT_STOP_SERVICE_ACCESS_DENIED, "Stop %u (ST_SCM_CANT_STOP_SERVICE_ACCESS_DENIED)\n" },
    { ERROR_DEPENDENT_SERVICES_RUNNING, ST_SCM_CANT_STOP_SERVICE_DEPENDENT_SERVICES_RUNNING, "Stop %u (ST_SCM_CANT_STOP_SERVICE_DEPENDENT_SERVICES_RUNNING)\n" },
    { ERROR_INVALID_SERVICE_CONTROL, ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL, "Stop %u (ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL)\n" },
    { ERROR_SERVICE_REQUEST_TIMEOUT, ST_SCM_CANT_STOP_SERVICE_REQUEST_TIMEOUT, "Stop %u (ST_SCM_CANT_STOP_SERVICE_REQUEST_TIMEOUT)\n" },
    { ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ST_SCM_CANT_STOP_SERVICE_CANNOT_ACCEPT_CTRL, "Stop %u (ST_SCM_CANT_STOP_SERVICE_CANNOT_ACCEPT_CTRL)\n" },
    { ERROR_SERVICE_NOT_ACTIVE, ST_SCM_CANT_STOP_SERVICE_NOT_ACTIVE, "Stop %u (ST_SCM_CANT_STOP_SERVICE_NOT_ACTIVE)\n" },
    { 0, ST_SCM_CANT_STOP_SERVICE_REASON_UNKNOWN, "Stop %u (ST_SCM_CANT_STOP_SERVICE_REASON_UNKNOWN)\n" },
};

}

UINT CDriver::open_service(LPCSTR lpszServiceName, DWORD dwDesiredAccess, SC_HANDLE* phService)
{
    UINT uRet = ST_SUCCESS;
    SC_HANDLE hManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!hManager) {
        uRet = ST_SCM_CANT_OPEN_SCMANAGER;
        LogTrace("open_service %u (ST_SCM_CANT_OPEN_SCMANAGER)\n", uRet);
    } else {
        SC_HANDLE hService = OpenServiceA(hManager, lpszServiceName, dwDesiredAccess);
        if (hService) {
            *phService = hService;
        } else {
            const ErrorLine& line = LineFor(openServiceErrors, GetLastError());
            uRet = line.uStatus;
            LogTrace(line.lpszLine, uRet);
        }
        CloseServiceHandle(hManager);
    }
    LogTrace("open_service exit with uRet %u\n", uRet);
    return uRet;
}

UINT CDriver::GetInfo(UINT* puState)
{
    UINT uRet = GetDriverServiceName(nullptr, 0);
    if (uRet == ST_SUCCESS) {
        SC_HANDLE hService = nullptr;
        if (open_service(m_szServiceName, SERVICE_QUERY_STATUS, &hService) != ST_SUCCESS) {
            *puState = DRV_S_NONE;
            LogTrace("GetInfo state %u (DRV_S_NONE)\n", DRV_S_NONE);
        } else {
            SERVICE_STATUS status {};
            if (!QueryServiceStatus(hService, &status)) {
                *puState = DRV_S_INSTALLED;
                LogTrace("GetInfo state %u (DRV_S_INSTALLED, odd case)\n", DRV_S_INSTALLED);
            } else if (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_PAUSED) {
                *puState = DRV_S_STARTED;
                LogTrace("GetInfo state %u (DRV_S_STARTED)\n", DRV_S_STARTED);
            } else {
                *puState = DRV_S_INSTALLED;
                LogTrace("GetInfo state %u (DRV_S_INSTALLED)\n", DRV_S_INSTALLED);
            }
            CloseServiceHandle(hService);
        }
    }
    LogTrace("GetInfo exit with uRet %u\n", uRet);
    return uRet;
}

UINT CDriver::Start()
{
    UINT uRet = GetDriverServiceName(nullptr, 0);
    SC_HANDLE hService = nullptr;
    if (uRet == ST_SUCCESS)
        uRet = open_service(m_szServiceName, SERVICE_ALL_ACCESS, &hService);
    if (uRet == ST_SUCCESS) {
        if (!StartServiceA(hService, 0, nullptr)) {
            const ErrorLine& line = LineFor(startErrors, GetLastError());
            uRet = line.uStatus;
            LogTrace(line.lpszLine, uRet);
        }
        CloseServiceHandle(hService);
    }
    LogTrace("Start exit with uRet %u\n", uRet);
    return uRet;
}

UINT CDriver::Stop()
{
    UINT uState = DRV_S_NONE;
    UINT uRet = GetInfo(&uState);
    if (uRet == ST_SUCCESS && uState == DRV_S_STARTED) {
        SC_HANDLE hService = nullptr;
        uRet = open_service(m_szServiceName, SERVICE_STOP, &hService);
        if (uRet == ST_SUCCESS) {
            SERVICE_STATUS status {};
            if (!ControlService(hService, SERVICE_CONTROL_STOP, &status)) {
                DWORD dwError = GetLastError();
                const ErrorLine& line = LineFor(stopErrors, dwError);
                uRet = line.uStatus;
                LogTrace(line.lpszLine, static_cast<UINT>(dwError));
            }
            CloseServiceHandle(hService);
        }
    }
    LogTrace("Stop exit with uRet %u\n", uRet);
    return uRet;
}
