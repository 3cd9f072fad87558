// advapi32's registry calls over the machine's shared registry store.
#include "RegistryCalls.h"
#include "RegistryHandles.h"
#include "RegistryStore.h"
#include "machine/Faults.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace ntsim;
using namespace ntsim::registry;
using security::checkKeyAccess;

namespace {

struct Resolved {
    LONG error { ERROR_SUCCESS };
    std::shared_ptr<Key> key;
    ACCESS_MASK granted { 0 };
};

// The key behind a handle; predefined keys are opened afresh for the
// most the caller's token allows, as NT opens them on first use.
Resolved resolve(Store& store, HKEY hKey, const Token& token)
{
    Resolved r;
    if (isPredefinedKey(hKey)) {
        if (hKey == HKEY_LOCAL_MACHINE) {
            r.key = store.root("HKEY_LOCAL_MACHINE");
        } else if (hKey == HKEY_USERS) {
            r.key = store.root("HKEY_USERS");
        } else if (hKey == HKEY_CURRENT_USER) {
            auto users = store.root("HKEY_USERS");
            r.key = users ? users->subkey(token.user) : nullptr;
            if (!r.key && users)
                r.key = users->subkey(".DEFAULT");
        } else if (hKey == HKEY_CLASSES_ROOT) {
            r.key = store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
        } else if (hKey == HKEY_CURRENT_CONFIG) {
            r.key = store.find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current");
        } else {
            r.error = ERROR_INVALID_HANDLE;
            return r;
        }
        if (!r.key) {
            r.error = ERROR_FILE_NOT_FOUND;
            return r;
        }
        auto access = checkKeyAccess(r.key->security, token, MAXIMUM_ALLOWED);
        r.granted = access.error == ERROR_SUCCESS ? access.granted : 0;
        return r;
    }
    auto handle = KeyHandles::instance().get(hKey);
    if (!handle) {
        r.error = ERROR_INVALID_HANDLE;
        return r;
    }
    r.key = handle->key;
    r.granted = handle->granted;
    if (r.key->deleted())
        r.error = ERROR_KEY_DELETED;
    return r;
}

// Walks a relative path; leading backslashes are not allowed.
LONG walk(std::shared_ptr<Key>& key, LPCSTR subKey)
{
    if (!subKey)
        return ERROR_SUCCESS;
    if (subKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    for (auto& name : splitKeyPath(subKey)) {
        key = key->subkey(name);
        if (!key)
            return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

bool copyName(const std::string& name, LPSTR buffer, DWORD capacity)
{
    if (capacity <= name.size())
        return false;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return true;
}

void putFileTime(PFILETIME ft, uint64_t ticks)
{
    if (!ft)
        return;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

enum class Locking { Read, Write };

// What a call works on: the key behind its handle, under the registry lock.
struct OpenedKey {
    Store& store;
    const Token& token;
    std::shared_ptr<Key> key;
    ACCESS_MASK granted;
};

// Runs body on the key behind hKey once the handle grants every right in
// needed; a call that checks subkeys' rights itself passes 0.
template<typename Body>
LONG onKey(Locking locking, HKEY hKey, ACCESS_MASK needed, Body body)
{
    Token token = Token::effective();
    Store& store = Store::current();
    auto run = [&]() -> LONG {
        Resolved r = resolve(store, hKey, token);
        if (r.error)
            return r.error;
        if ((r.granted & needed) != needed)
            return ERROR_ACCESS_DENIED;
        return body(OpenedKey { store, token, r.key, r.granted });
    };
    return locking == Locking::Write ? store.write(run) : store.read(run);
}

// The key at subKey below base, with what the token may do to it of desired.
Resolved openSubkey(const OpenedKey& base, LPCSTR subKey, ACCESS_MASK desired)
{
    Resolved r;
    r.key = base.key;
    r.error = walk(r.key, subKey);
    if (r.error)
        return r;
    auto access = checkKeyAccess(r.key->security, base.token, desired);
    r.error = access.error;
    r.granted = access.granted;
    return r;
}

// The same as onKey, after the fault the machine may have chosen for this call.
template<typename Body>
LONG callOnKey(const char* api, Locking locking, HKEY hKey, ACCESS_MASK needed, Body body)
{
    if (auto fault = injectedFault(api))
        return static_cast<LONG>(*fault);
    return onKey(locking, hKey, needed, std::move(body));
}

// A call that gives a key fails without one.
LONG failOpen(PHKEY result, uint32_t error)
{
    if (result)
        *result = nullptr;
    return static_cast<LONG>(error);
}

}

LONG registry::openKey(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return onKey(Locking::Read, hKey, 0, [&](const OpenedKey& base) -> LONG {
        Resolved sub = openSubkey(base, lpSubKey, samDesired);
        if (sub.error)
            return sub.error;
        *phkResult = KeyHandles::instance().add({ sub.key, sub.granted });
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    if (auto fault = injectedFault("RegOpenKeyExA"))
        return failOpen(phkResult, *fault);
    return registry::openKey(hKey, lpSubKey, samDesired, phkResult);
}

NTSIM_API LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (auto fault = injectedFault("RegOpenKeyA"))
        return failOpen(phkResult, *fault);
    return registry::openKey(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

LONG registry::createKey(HKEY hKey, LPCSTR lpSubKey, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
    LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (dwOptions & ~DWORD(REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE))
        return ERROR_INVALID_PARAMETER;
    if (samDesired & ACCESS_SYSTEM_SECURITY)
        return ERROR_PRIVILEGE_NOT_HELD;

    std::optional<security::SecurityDescriptor> explicitSd;
    bool explicitDacl = false;
    if (lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor) {
        explicitSd = security::SecurityDescriptor::fromBinary(lpSecurityAttributes->lpSecurityDescriptor);
        if (!explicitSd)
            return ERROR_INVALID_SECURITY_DESCR;
        auto header = static_cast<const SECURITY_DESCRIPTOR*>(lpSecurityAttributes->lpSecurityDescriptor);
        explicitDacl = header->Control & SE_DACL_PRESENT;
    }
    std::string className = lpClass ? lpClass : "";
    return onKey(Locking::Write, hKey, 0, [&](const OpenedKey& base) -> LONG {
        Store& store = base.store;
        const Token& token = base.token;
        if (lpSubKey[0] == '\\')
            return ERROR_BAD_PATHNAME;
        auto names = splitKeyPath(lpSubKey);
        std::shared_ptr<Key> key = base.key;
        size_t i = 0;
        for (; i < names.size(); ++i) {
            auto next = key->subkey(names[i]);
            if (!next)
                break;
            key = next;
        }
        if (i == names.size()) {
            auto access = checkKeyAccess(key->security, token, samDesired);
            if (access.error)
                return access.error;
            *phkResult = KeyHandles::instance().add({ key, access.granted });
            if (lpdwDisposition)
                *lpdwDisposition = REG_OPENED_EXISTING_KEY;
            return ERROR_SUCCESS;
        }
        if (!store.inHive(*key))
            return ERROR_ACCESS_DENIED;
        if (i == 0) {
            if (!(base.granted & KEY_CREATE_SUB_KEY))
                return ERROR_ACCESS_DENIED;
        } else if (LONG e = checkKeyAccess(key->security, token, KEY_CREATE_SUB_KEY).error) {
            return e;
        }
        if (explicitSd && !explicitSd->owner.empty() && !token.holds(explicitSd->owner))
            return ERROR_INVALID_OWNER;
        for (; i < names.size(); ++i) {
            security::SecurityDescriptor sd = security::inheritedDescriptor(key->security, token);
            bool last = i + 1 == names.size();
            if (last && explicitSd) {
                if (!explicitSd->owner.empty())
                    sd.owner = explicitSd->owner;
                if (!explicitSd->group.empty())
                    sd.group = explicitSd->group;
                if (explicitDacl) {
                    sd.daclPresent = explicitSd->daclPresent;
                    sd.dacl = explicitSd->dacl;
                }
            }
            key = store.createKey(*key, names[i], sd, last ? className : "");
        }
        // The creator holds what it asked for, whatever the new DACL says.
        ACCESS_MASK granted = security::mapGenericKeyRights(samDesired & ~MAXIMUM_ALLOWED);
        if (samDesired & MAXIMUM_ALLOWED)
            granted |= KEY_ALL_ACCESS;
        *phkResult = KeyHandles::instance().add({ key, granted });
        if (lpdwDisposition)
            *lpdwDisposition = REG_CREATED_NEW_KEY;
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions,
    REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (auto fault = injectedFault("RegCreateKeyExA"))
        return failOpen(phkResult, *fault);
    return registry::createKey(hKey, lpSubKey, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
        lpdwDisposition);
}

NTSIM_API LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (auto fault = injectedFault("RegCreateKeyA"))
        return failOpen(phkResult, *fault);
    return registry::createKey(hKey, lpSubKey ? lpSubKey : "", nullptr, 0, MAXIMUM_ALLOWED, nullptr, phkResult, nullptr);
}

LONG registry::closeKey(HKEY hKey)
{
    if (isPredefinedKey(hKey))
        return ERROR_SUCCESS;
    return KeyHandles::instance().remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

NTSIM_API LONG WINAPI RegCloseKey(HKEY hKey)
{
    if (auto fault = injectedFault("RegCloseKey"))
        return static_cast<LONG>(*fault);
    return registry::closeKey(hKey);
}

LONG registry::queryValue(HKEY hKey, LPCSTR lpValueName, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    return onKey(Locking::Read, hKey, KEY_QUERY_VALUE, [&](const OpenedKey& r) -> LONG {
        const Value* v = r.key->value(lpValueName ? lpValueName : "");
        if (!v)
            return ERROR_FILE_NOT_FOUND;
        if (lpType)
            *lpType = v->type;
        DWORD size = static_cast<DWORD>(v->data.size());
        if (lpData) {
            if (*lpcbData < size) {
                *lpcbData = size;
                return ERROR_MORE_DATA;
            }
            if (size)
                std::memcpy(lpData, v->data.data(), size);
        }
        if (lpcbData)
            *lpcbData = size;
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
    LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    if (auto fault = injectedFault("RegQueryValueExA"))
        return static_cast<LONG>(*fault);
    return registry::queryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG registry::setValue(HKEY hKey, LPCSTR lpValueName, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    std::vector<BYTE> data(lpData, lpData + (lpData ? cbData : 0));
    return onKey(Locking::Write, hKey, KEY_SET_VALUE, [&](const OpenedKey& r) -> LONG {
        if (!r.store.inHive(*r.key))
            return ERROR_ACCESS_DENIED;
        r.store.setValue(*r.key, lpValueName ? lpValueName : "", dwType, std::move(data));
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (auto fault = injectedFault("RegSetValueExA"))
        return static_cast<LONG>(*fault);
    return registry::setValue(hKey, lpValueName, dwType, lpData, cbData);
}

LONG registry::deleteValue(HKEY hKey, LPCSTR lpValueName)
{
    return onKey(Locking::Write, hKey, KEY_SET_VALUE, [&](const OpenedKey& r) -> LONG {
        std::string name = lpValueName ? lpValueName : "";
        if (!r.key->value(name))
            return ERROR_FILE_NOT_FOUND;
        r.store.deleteValue(*r.key, name);
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    if (auto fault = injectedFault("RegDeleteValueA"))
        return static_cast<LONG>(*fault);
    return registry::deleteValue(hKey, lpValueName);
}

LONG registry::deleteKey(HKEY hKey, LPCSTR lpSubKey)
{
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return onKey(Locking::Write, hKey, 0, [&](const OpenedKey& base) -> LONG {
        Resolved sub = openSubkey(base, lpSubKey, DELETE);
        if (sub.error)
            return sub.error;
        const Key& key = *sub.key;
        // NT 4.0 deletes only keys without subkeys, and never a hive's root.
        if (!base.store.inHive(key) || base.store.isHiveRoot(key) || !key.subkeys().empty())
            return ERROR_ACCESS_DENIED;
        base.store.deleteKey(*sub.key);
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    if (auto fault = injectedFault("RegDeleteKeyA"))
        return static_cast<LONG>(*fault);
    return registry::deleteKey(hKey, lpSubKey);
}

LONG registry::enumKey(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPSTR lpClass, LPDWORD lpcchClass,
    PFILETIME lpftLastWriteTime)
{
    if (!lpName || !lpcchName || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    return onKey(Locking::Read, hKey, KEY_ENUMERATE_SUB_KEYS, [&](const OpenedKey& r) -> LONG {
        const auto& subkeys = r.key->subkeys();
        if (dwIndex >= subkeys.size())
            return ERROR_NO_MORE_ITEMS;
        const Key& sub = *subkeys[dwIndex];
        if (*lpcchName <= sub.name().size() || (lpClass && *lpcchClass <= sub.className.size()))
            return ERROR_MORE_DATA;
        copyName(sub.name(), lpName, *lpcchName);
        *lpcchName = static_cast<DWORD>(sub.name().size());
        if (lpClass)
            copyName(sub.className, lpClass, *lpcchClass);
        if (lpcchClass)
            *lpcchClass = static_cast<DWORD>(sub.className.size());
        putFileTime(lpftLastWriteTime, sub.lastWrite);
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
    LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    if (auto fault = injectedFault("RegEnumKeyExA"))
        return static_cast<LONG>(*fault);
    return registry::enumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
}

NTSIM_API LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    if (auto fault = injectedFault("RegEnumKeyA"))
        return static_cast<LONG>(*fault);
    DWORD length = cchName;
    return registry::enumKey(hKey, dwIndex, lpName, &length, nullptr, nullptr, nullptr);
}

LONG registry::enumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpType,
    LPBYTE lpData, LPDWORD lpcbData)
{
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    return onKey(Locking::Read, hKey, KEY_QUERY_VALUE, [&](const OpenedKey& r) -> LONG {
        const auto& values = r.key->values();
        if (dwIndex >= values.size())
            return ERROR_NO_MORE_ITEMS;
        const Value& v = values[dwIndex];
        DWORD size = static_cast<DWORD>(v.data.size());
        if (*lpcchValueName <= v.name.size())
            return ERROR_MORE_DATA;
        if (lpData && *lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        copyName(v.name, lpValueName, *lpcchValueName);
        *lpcchValueName = static_cast<DWORD>(v.name.size());
        if (lpType)
            *lpType = v.type;
        if (lpData && size)
            std::memcpy(lpData, v.data.data(), size);
        if (lpcbData)
            *lpcbData = size;
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
    LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    if (auto fault = injectedFault("RegEnumValueA"))
        return static_cast<LONG>(*fault);
    return registry::enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
}

NTSIM_API LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
    LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
    PFILETIME lpftLastWriteTime)
{
    if (lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    return callOnKey("RegQueryInfoKeyA", Locking::Read, hKey, KEY_QUERY_VALUE, [&](const OpenedKey& r) -> LONG {
        const Key& key = *r.key;
        if (lpClass) {
            if (*lpcchClass <= key.className.size()) {
                *lpcchClass = static_cast<DWORD>(key.className.size());
                return ERROR_MORE_DATA;
            }
            copyName(key.className, lpClass, *lpcchClass);
        }
        if (lpcchClass)
            *lpcchClass = static_cast<DWORD>(key.className.size());
        size_t maxName = 0, maxClass = 0, maxValueName = 0, maxValue = 0;
        for (auto& sub : key.subkeys()) {
            maxName = std::max(maxName, sub->name().size());
            maxClass = std::max(maxClass, sub->className.size());
        }
        for (auto& v : key.values()) {
            maxValueName = std::max(maxValueName, v.name.size());
            maxValue = std::max(maxValue, v.data.size());
        }
        auto put = [](LPDWORD out, size_t v) {
            if (out)
                *out = static_cast<DWORD>(v);
        };
        put(lpcSubKeys, key.subkeys().size());
        put(lpcbMaxSubKeyLen, maxName);
        put(lpcbMaxClassLen, maxClass);
        put(lpcValues, key.values().size());
        put(lpcbMaxValueNameLen, maxValueName);
        put(lpcbMaxValueLen, maxValue);
        put(lpcbSecurityDescriptor,
            key.security.toSelfRelative(OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION).size());
        putFileTime(lpftLastWriteTime, key.lastWrite);
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegFlushKey(HKEY hKey)
{
    return callOnKey("RegFlushKey", Locking::Read, hKey, 0, [&](const OpenedKey& r) -> LONG {
        return r.store.flush() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    });
}

NTSIM_API LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
    PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor)
{
    if (!lpcbSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    ACCESS_MASK needed = 0;
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    if (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION))
        needed |= READ_CONTROL;
    return callOnKey("RegGetKeySecurity", Locking::Read, hKey, needed, [&](const OpenedKey& r) -> LONG {
        auto bytes = r.key->security.toSelfRelative(SecurityInformation);
        DWORD size = static_cast<DWORD>(bytes.size());
        if (!pSecurityDescriptor || *lpcbSecurityDescriptor < size) {
            *lpcbSecurityDescriptor = size;
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::memcpy(pSecurityDescriptor, bytes.data(), size);
        *lpcbSecurityDescriptor = size;
        return ERROR_SUCCESS;
    });
}

NTSIM_API LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
    PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    if (!pSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    if (auto fault = injectedFault("RegSetKeySecurity"))
        return static_cast<LONG>(*fault);
    auto given = security::SecurityDescriptor::fromBinary(pSecurityDescriptor);
    if (!given)
        return ERROR_INVALID_SECURITY_DESCR;
    ACCESS_MASK needed = 0;
    if (SecurityInformation & DACL_SECURITY_INFORMATION)
        needed |= WRITE_DAC;
    if (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION))
        needed |= WRITE_OWNER;
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    return onKey(Locking::Write, hKey, needed, [&](const OpenedKey& r) -> LONG {
        if (!r.store.inHive(*r.key))
            return ERROR_ACCESS_DENIED;
        security::SecurityDescriptor sd = r.key->security;
        if (LONG error = sd.takeParts(*given, SecurityInformation, r.token))
            return error;
        r.store.setSecurity(*r.key, sd);
        return ERROR_SUCCESS;
    });
}
