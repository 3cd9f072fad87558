// The registry's calls over the machine's store: the key operations with
// their access checks and the process's table of open keys (Keys.cpp),
// and the calls in the two forms advapi32 exports (KeyForms.cpp).
//
// The operations take names in UTF-8 and give value data as stored,
// strings in UTF-16LE (Value.h). The W forms convert UTF-16 names to them,
// the A forms convert through the machine's ANSI code page, strings of
// value data included; both fill the caller's buffers the same way, in
// their own units. Code of ntsim (the service controller, setupapi, the
// driver runtime, the tool) calls the forms or the operations directly,
// so that a program's n-th call of an API is the n-th call it made itself.
#pragma once
#include "Value.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::registry {

// NT's limits, in UTF-16 units: a key's name, a value's name.
constexpr size_t maxKeyNameLength = 255;
constexpr size_t maxValueNameLength = 16383;

// --- the operations --------------------------------------------------------

// A relative path below the key, or none for the key itself (a new handle).
LONG openPath(HKEY hKey, const std::optional<std::string>& path, REGSAM desired, PHKEY result);
LONG createPath(HKEY hKey, const std::string& path, const std::string& className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG closeKey(HKEY hKey);
LONG readValue(HKEY hKey, const std::string& name, ValueData& out);
// Several values in one transaction; the first that is missing fails all.
LONG readValues(HKEY hKey, const std::vector<std::string>& names, std::vector<ValueData>& out);
LONG writeValue(HKEY hKey, const std::string& name, DWORD type, const BYTE* data, size_t size);
LONG removeValue(HKEY hKey, const std::string& name);
// Only a key without subkeys, as NT 4.0 does.
LONG removePath(HKEY hKey, const std::string& path);

struct SubkeyInfo {
    std::string name;
    std::string className;
    uint64_t lastWrite { 0 };
};
LONG readSubkey(HKEY hKey, DWORD index, SubkeyInfo& out);

struct NamedValue {
    std::string name;
    ValueData value;
};
// The value at index; its data only when withData.
LONG readValueAt(HKEY hKey, DWORD index, bool withData, NamedValue& out);

struct KeyInfo {
    std::string className;
    DWORD subkeys { 0 };
    DWORD maxSubkeyName { 0 };
    DWORD maxClass { 0 };
    DWORD values { 0 };
    DWORD maxValueName { 0 };
    DWORD maxValueData { 0 };
    DWORD securityDescriptorSize { 0 };
    uint64_t lastWrite { 0 };
};
LONG readKeyInfo(HKEY hKey, KeyInfo& out);

LONG flushKey(HKEY hKey);
LONG getKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, LPDWORD size);
LONG setKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);

// Calls notify once, from another thread, when the key (or, with subtree,
// a key below it) changes as filter (REG_NOTIFY_CHANGE_*) says, or when
// the handle is closed or the key deleted.
LONG watchKey(HKEY hKey, bool subtree, DWORD filter, std::function<void()> notify);

// Runs work in one write transaction of the registry, which the calls it
// makes join: a long list of changes (an INF's AddReg) costs one commit.
// What work changed stays, whatever it returns.
DWORD inOneTransaction(const std::function<DWORD()>& work);

// The number of keys this process holds open (for tests of handle leaks).
size_t openKeyCount();

// --- the calls, wide --------------------------------------------------------
// As the exported functions take them, less their reserved arguments;
// "Compat" names RegOpenKey and the other calls kept from Windows 3.1.

LONG openKeyW(HKEY hKey, LPCWSTR subKey, REGSAM desired, PHKEY result);
LONG openKeyCompatW(HKEY hKey, LPCWSTR subKey, PHKEY result);
LONG createKeyW(HKEY hKey, LPCWSTR subKey, LPWSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG createKeyCompatW(HKEY hKey, LPCWSTR subKey, PHKEY result);
LONG queryValueW(HKEY hKey, LPCWSTR name, LPDWORD type, LPBYTE data, LPDWORD size);
LONG queryValueCompatW(HKEY hKey, LPCWSTR subKey, LPWSTR data, PLONG size);
LONG setValueW(HKEY hKey, LPCWSTR name, DWORD type, const BYTE* data, DWORD size);
LONG setValueCompatW(HKEY hKey, LPCWSTR subKey, DWORD type, LPCWSTR data, DWORD size);
LONG queryMultipleValuesW(HKEY hKey, PVALENTW list, DWORD count, LPWSTR buffer, LPDWORD totalSize);
LONG deleteValueW(HKEY hKey, LPCWSTR name);
LONG deleteKeyW(HKEY hKey, LPCWSTR subKey);
LONG enumKeyW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD nameLength, LPWSTR className, LPDWORD classLength,
    PFILETIME lastWrite);
LONG enumKeyCompatW(HKEY hKey, DWORD index, LPWSTR name, DWORD nameLength);
LONG enumValueW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size);
LONG queryInfoKeyW(HKEY hKey, LPWSTR className, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
    LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
    LPDWORD securityDescriptorSize, PFILETIME lastWrite);
LONG connectRegistryW(LPCWSTR machineName, HKEY hKey, PHKEY result);

// --- the calls, ANSI --------------------------------------------------------

LONG openKey(HKEY hKey, LPCSTR subKey, REGSAM desired, PHKEY result);
LONG openKeyCompat(HKEY hKey, LPCSTR subKey, PHKEY result);
LONG createKey(HKEY hKey, LPCSTR subKey, LPSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG createKeyCompat(HKEY hKey, LPCSTR subKey, PHKEY result);
LONG queryValue(HKEY hKey, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size);
LONG queryValueCompat(HKEY hKey, LPCSTR subKey, LPSTR data, PLONG size);
LONG setValue(HKEY hKey, LPCSTR name, DWORD type, const BYTE* data, DWORD size);
LONG setValueCompat(HKEY hKey, LPCSTR subKey, DWORD type, LPCSTR data, DWORD size);
LONG queryMultipleValues(HKEY hKey, PVALENTA list, DWORD count, LPSTR buffer, LPDWORD totalSize);
LONG deleteValue(HKEY hKey, LPCSTR name);
LONG deleteKey(HKEY hKey, LPCSTR subKey);
LONG enumKey(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPSTR className, LPDWORD classLength,
    PFILETIME lastWrite);
LONG enumKeyCompat(HKEY hKey, DWORD index, LPSTR name, DWORD nameLength);
LONG enumValue(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size);
LONG queryInfoKey(HKEY hKey, LPSTR className, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
    LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
    LPDWORD securityDescriptorSize, PFILETIME lastWrite);
LONG connectRegistry(LPCSTR machineName, HKEY hKey, PHKEY result);

// RegNotifyChangeKeyValue once its event (when it has one) is known to be
// one this process may set: set() is called when the change comes.
LONG notifyChange(HKEY hKey, BOOL watchSubtree, DWORD filter, std::function<void()> set, BOOL asynchronous);

}
