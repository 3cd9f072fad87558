// advapi32's registry functions: each passes the gate, then does its work
// in registry/KeyForms.cpp, which keeps one logic for both forms.
#include "kernel32/Waitable.h"
#include "machine/ApiCall.h"
#include "registry/Keys.h"

#include <windows.h>

using namespace ntsim;

namespace {

// A failed open leaves no handle behind, whatever failed it.
LONG failedOpen(PHKEY result, LONG error)
{
    if (result)
        *result = nullptr;
    return error;
}

// RegNotifyChangeKeyValue's event, checked as NT checks it: only an
// asynchronous call needs one, and one this process may set.
LONG notifyChangeWithEvent(HKEY hKey, BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    std::function<void()> set;
    if (asynchronous)
        if (DWORD error = eventSetter(event, set))
            return static_cast<LONG>(error);
    return registry::notifyChange(hKey, watchSubtree, filter, std::move(set), asynchronous);
}

}

NTSIM_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    ApiCall call("RegOpenKeyExA", hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::openKey(hKey, lpSubKey, samDesired, phkResult));
}

NTSIM_API LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    ApiCall call("RegOpenKeyExW", hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::openKeyW(hKey, lpSubKey, samDesired, phkResult));
}

NTSIM_API LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    ApiCall call("RegOpenKeyA", hKey, lpSubKey, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::openKeyCompat(hKey, lpSubKey, phkResult));
}

NTSIM_API LONG WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult)
{
    ApiCall call("RegOpenKeyW", hKey, lpSubKey, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::openKeyCompatW(hKey, lpSubKey, phkResult));
}

NTSIM_API LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
    REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    ApiCall call("RegCreateKeyExA", hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
        phkResult, lpdwDisposition);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::createKey(hKey, lpSubKey, lpClass, dwOptions, samDesired, lpSecurityAttributes,
        phkResult, lpdwDisposition));
}

NTSIM_API LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
    REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    ApiCall call("RegCreateKeyExW", hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
        phkResult, lpdwDisposition);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::createKeyW(hKey, lpSubKey, lpClass, dwOptions, samDesired, lpSecurityAttributes,
        phkResult, lpdwDisposition));
}

NTSIM_API LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    ApiCall call("RegCreateKeyA", hKey, lpSubKey, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::createKeyCompat(hKey, lpSubKey, phkResult));
}

NTSIM_API LONG WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult)
{
    ApiCall call("RegCreateKeyW", hKey, lpSubKey, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::createKeyCompatW(hKey, lpSubKey, phkResult));
}

NTSIM_API LONG WINAPI RegCloseKey(HKEY hKey)
{
    ApiCall call("RegCloseKey", hKey);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::closeKey(hKey));
}

NTSIM_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
    LPBYTE lpData, LPDWORD lpcbData)
{
    ApiCall call("RegQueryValueExA", hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::queryValue(hKey, lpValueName, lpType, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
    LPBYTE lpData, LPDWORD lpcbData)
{
    ApiCall call("RegQueryValueExW", hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::queryValueW(hKey, lpValueName, lpType, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData)
{
    ApiCall call("RegQueryValueA", hKey, lpSubKey, lpData, lpcbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::queryValueCompat(hKey, lpSubKey, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData)
{
    ApiCall call("RegQueryValueW", hKey, lpSubKey, lpData, lpcbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::queryValueCompatW(hKey, lpSubKey, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegQueryMultipleValuesA(HKEY hKey, PVALENTA val_list, DWORD num_vals, LPSTR lpValueBuf,
    LPDWORD ldwTotsize)
{
    ApiCall call("RegQueryMultipleValuesA", hKey, val_list, num_vals, lpValueBuf, ldwTotsize);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::queryMultipleValues(hKey, val_list, num_vals, lpValueBuf, ldwTotsize));
}

NTSIM_API LONG WINAPI RegQueryMultipleValuesW(HKEY hKey, PVALENTW val_list, DWORD num_vals, LPWSTR lpValueBuf,
    LPDWORD ldwTotsize)
{
    ApiCall call("RegQueryMultipleValuesW", hKey, val_list, num_vals, lpValueBuf, ldwTotsize);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::queryMultipleValuesW(hKey, val_list, num_vals, lpValueBuf, ldwTotsize));
}

NTSIM_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
    DWORD cbData)
{
    ApiCall call("RegSetValueExA", hKey, lpValueName, Reserved, dwType, lpData, cbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setValue(hKey, lpValueName, dwType, lpData, cbData));
}

NTSIM_API LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
    DWORD cbData)
{
    ApiCall call("RegSetValueExW", hKey, lpValueName, Reserved, dwType, lpData, cbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setValueW(hKey, lpValueName, dwType, lpData, cbData));
}

NTSIM_API LONG WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD cbData)
{
    ApiCall call("RegSetValueA", hKey, lpSubKey, dwType, lpData, cbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setValueCompat(hKey, lpSubKey, dwType, lpData, cbData));
}

NTSIM_API LONG WINAPI RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData, DWORD cbData)
{
    ApiCall call("RegSetValueW", hKey, lpSubKey, dwType, lpData, cbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setValueCompatW(hKey, lpSubKey, dwType, lpData, cbData));
}

NTSIM_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    ApiCall call("RegDeleteValueA", hKey, lpValueName);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::deleteValue(hKey, lpValueName));
}

NTSIM_API LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    ApiCall call("RegDeleteValueW", hKey, lpValueName);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::deleteValueW(hKey, lpValueName));
}

NTSIM_API LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    ApiCall call("RegDeleteKeyA", hKey, lpSubKey);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::deleteKey(hKey, lpSubKey));
}

NTSIM_API LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    ApiCall call("RegDeleteKeyW", hKey, lpSubKey);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::deleteKeyW(hKey, lpSubKey));
}

NTSIM_API LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
    LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    ApiCall call("RegEnumKeyExA", hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::enumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime));
}

NTSIM_API LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
    LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    ApiCall call("RegEnumKeyExW", hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::enumKeyW(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime));
}

NTSIM_API LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    ApiCall call("RegEnumKeyA", hKey, dwIndex, lpName, cchName);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::enumKeyCompat(hKey, dwIndex, lpName, cchName));
}

NTSIM_API LONG WINAPI RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName)
{
    ApiCall call("RegEnumKeyW", hKey, dwIndex, lpName, cchName);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::enumKeyCompatW(hKey, dwIndex, lpName, cchName));
}

NTSIM_API LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
    LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    ApiCall call("RegEnumValueA", hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
    LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    ApiCall call("RegEnumValueW", hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::enumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData));
}

NTSIM_API LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
    LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
    PFILETIME lpftLastWriteTime)
{
    ApiCall call("RegQueryInfoKeyA", hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
        lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::queryInfoKey(hKey, lpClass, lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen,
        lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime));
}

NTSIM_API LONG WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
    LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
    PFILETIME lpftLastWriteTime)
{
    ApiCall call("RegQueryInfoKeyW", hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
        lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    if (lpReserved)
        return call.returns(LONG(ERROR_INVALID_PARAMETER));
    return call.returns(registry::queryInfoKeyW(hKey, lpClass, lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen,
        lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime));
}

NTSIM_API LONG WINAPI RegFlushKey(HKEY hKey)
{
    ApiCall call("RegFlushKey", hKey);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::flushKey(hKey));
}

NTSIM_API LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
    PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor)
{
    ApiCall call("RegGetKeySecurity", hKey, SecurityInformation, pSecurityDescriptor, lpcbSecurityDescriptor);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::getKeySecurity(hKey, SecurityInformation, pSecurityDescriptor, lpcbSecurityDescriptor));
}

NTSIM_API LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
    PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    ApiCall call("RegSetKeySecurity", hKey, SecurityInformation, pSecurityDescriptor);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(registry::setKeySecurity(hKey, SecurityInformation, pSecurityDescriptor));
}

NTSIM_API LONG WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
    BOOL fAsynchronous)
{
    ApiCall call("RegNotifyChangeKeyValue", hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous);
    if (auto error = call.fault())
        return call.returns(LONG(*error));
    return call.returns(notifyChangeWithEvent(hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous));
}

NTSIM_API LONG WINAPI RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult)
{
    ApiCall call("RegConnectRegistryA", lpMachineName, hKey, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::connectRegistry(lpMachineName, hKey, phkResult));
}

NTSIM_API LONG WINAPI RegConnectRegistryW(LPCWSTR lpMachineName, HKEY hKey, PHKEY phkResult)
{
    ApiCall call("RegConnectRegistryW", lpMachineName, hKey, phkResult);
    if (auto error = call.fault())
        return call.returns(failedOpen(phkResult, LONG(*error)));
    return call.returns(registry::connectRegistryW(lpMachineName, hKey, phkResult));
}
