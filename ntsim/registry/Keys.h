// The registry calls as the simulator itself makes them: the same
// arguments, results and access checks as advapi32's Reg*A entry points,
// which are these behind the machine's fault injection. Code of ntsim (the
// service controller, setupapi, the driver runtime, the tool) calls these,
// so that a program's n-th call of an API is the n-th call it made itself.
#pragma once
#include <windows.h>

#include <functional>

namespace ntsim::registry {

LONG openKey(HKEY hKey, LPCSTR subKey, REGSAM desired, PHKEY result);
LONG createKey(HKEY hKey, LPCSTR subKey, LPSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG closeKey(HKEY hKey);
LONG queryValue(HKEY hKey, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size);
LONG setValue(HKEY hKey, LPCSTR name, DWORD type, const BYTE* data, DWORD size);
LONG deleteValue(HKEY hKey, LPCSTR name);
// Only a key without subkeys, as NT 4.0 does.
LONG deleteKey(HKEY hKey, LPCSTR subKey);
LONG enumKey(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPSTR className, LPDWORD classLength,
    PFILETIME lastWrite);
LONG enumValue(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size);
LONG queryInfoKey(HKEY hKey, LPSTR className, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
    LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
    LPDWORD securityDescriptorSize, PFILETIME lastWrite);
LONG flushKey(HKEY hKey);
LONG getKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, LPDWORD size);
LONG setKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);

// Runs work in one write transaction of the registry, which the calls it
// makes join: a long list of changes (an INF's AddReg) costs one commit.
// What work changed stays, whatever it returns.
DWORD inOneTransaction(const std::function<DWORD()>& work);

// The number of keys this process holds open (for tests of handle leaks).
size_t openKeyCount();

}
