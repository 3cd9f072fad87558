// advapi32's registry functions: each passes the gate, then does its work
// in registry/Keys.cpp.
#include "machine/ApiCall.h"
#include "registry/Keys.h"

#include <windows.h>

using namespace ntsim;

NTSIM_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    ntsim::ApiCall call("RegOpenKeyExA", hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (!phkResult)
        return call.returns(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::openKey(hKey, lpSubKey, samDesired, phkResult));
}

NTSIM_API LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    ntsim::ApiCall call("RegOpenKeyA", hKey, lpSubKey, phkResult);
    if (!phkResult)
        return call.returns(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::openKey(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult));
}

NTSIM_API LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
    REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    ntsim::ApiCall call("RegCreateKeyExA", hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult, lpdwDisposition);
    if (!phkResult || !lpSubKey)
        return call.returns(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    if (dwOptions & ~DWORD(REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE))
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::createKey(hKey, lpSubKey, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
            lpdwDisposition));
}

NTSIM_API LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    ntsim::ApiCall call("RegCreateKeyA", hKey, lpSubKey, phkResult);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::createKey(hKey, lpSubKey ? lpSubKey : "", nullptr, 0, MAXIMUM_ALLOWED, nullptr, phkResult, nullptr));
}

NTSIM_API LONG WINAPI RegCloseKey(HKEY hKey)
{
    ntsim::ApiCall call("RegCloseKey", hKey);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::closeKey(hKey));
}

NTSIM_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
    LPBYTE lpData, LPDWORD lpcbData)
{
    ntsim::ApiCall call("RegQueryValueExA", hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    if (lpReserved || (lpData && !lpcbData))
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::queryValue(hKey, lpValueName, lpType, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    ntsim::ApiCall call("RegSetValueExA", hKey, lpValueName, Reserved, dwType, lpData, cbData);
    if (!lpData && cbData)
        return call.returns(ERROR_NOACCESS);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setValue(hKey, lpValueName, dwType, lpData, cbData));
}

NTSIM_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    ntsim::ApiCall call("RegDeleteValueA", hKey, lpValueName);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::deleteValue(hKey, lpValueName));
}

NTSIM_API LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    ntsim::ApiCall call("RegDeleteKeyA", hKey, lpSubKey);
    if (!lpSubKey)
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::deleteKey(hKey, lpSubKey));
}

NTSIM_API LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
    LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    ntsim::ApiCall call("RegEnumKeyExA", hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::enumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime));
}

NTSIM_API LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    ntsim::ApiCall call("RegEnumKeyA", hKey, dwIndex, lpName, cchName);
    if (!lpName)
        return call.returns(ERROR_INVALID_PARAMETER);
    DWORD length = cchName;
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::enumKey(hKey, dwIndex, lpName, &length, nullptr, nullptr, nullptr));
}

NTSIM_API LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
    LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    ntsim::ApiCall call("RegEnumValueA", hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
    LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
    PFILETIME lpftLastWriteTime)
{
    ntsim::ApiCall call("RegQueryInfoKeyA", hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    if (lpReserved || (lpClass && !lpcchClass))
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::queryInfoKey(hKey, lpClass, lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen,
            lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime));
}

NTSIM_API LONG WINAPI RegFlushKey(HKEY hKey)
{
    ntsim::ApiCall call("RegFlushKey", hKey);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::flushKey(hKey));
}

NTSIM_API LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
    PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor)
{
    ntsim::ApiCall call("RegGetKeySecurity", hKey, SecurityInformation, pSecurityDescriptor, lpcbSecurityDescriptor);
    if (!lpcbSecurityDescriptor)
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::getKeySecurity(hKey, SecurityInformation, pSecurityDescriptor, lpcbSecurityDescriptor));
}

NTSIM_API LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
    PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    ntsim::ApiCall call("RegSetKeySecurity", hKey, SecurityInformation, pSecurityDescriptor);
    if (!pSecurityDescriptor)
        return call.returns(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setKeySecurity(hKey, SecurityInformation, pSecurityDescriptor));
}
