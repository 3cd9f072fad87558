// The registry's calls over the machine's registry store, with their
// access checks, and the process's table of open keys: what advapi32's
// Reg* functions do once they have passed the gate, and what the
// platform's own code calls (it never counts as a program's call).
#include "Keys.h"

#include "Store.h"
#include "machine/HandleTable.h"
#include "machine/SecurityDescriptor.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace ntsim;
using namespace ntsim::registry;
using security::checkKeyAccess;

namespace {

// An open key: the key (which may since have been deleted) and the access
// its open granted.
struct KeyHandle {
    KeyId key { 0 };
    ACCESS_MASK granted { 0 };
};

HandleTable<KeyHandle>& handles()
{
    static auto* table = new HandleTable<KeyHandle>(0x1000, "registry keys"); // counted at exit
    return *table;
}

HKEY addHandle(KeyId key, ACCESS_MASK granted)
{
    return reinterpret_cast<HKEY>(handles().insert({ key, granted }));
}

bool isPredefinedKey(HKEY hKey)
{
    return hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS
        || hKey == HKEY_PERFORMANCE_DATA || hKey == HKEY_CURRENT_CONFIG || hKey == HKEY_DYN_DATA;
}

// What a call works on: the key behind its handle and what the handle may do.
struct Opened {
    Store& store;
    const Token& token;
    KeyRecord key;
    ACCESS_MASK granted { 0 };
};

// The key behind a handle; predefined keys are opened afresh for the most
// the caller's token allows, as NT opens them on first use.
LONG resolve(Store& store, HKEY hKey, const Token& token, KeyRecord& key, ACCESS_MASK& granted)
{
    if (isPredefinedKey(hKey)) {
        std::optional<KeyRecord> found;
        if (hKey == HKEY_LOCAL_MACHINE) {
            found = store.key(machineRoot);
        } else if (hKey == HKEY_USERS) {
            found = store.key(usersRoot);
        } else if (hKey == HKEY_CURRENT_USER) {
            found = store.subkey(usersRoot, token.user);
            if (!found)
                found = store.subkey(usersRoot, ".DEFAULT");
        } else if (hKey == HKEY_CLASSES_ROOT) {
            found = store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
        } else if (hKey == HKEY_CURRENT_CONFIG) {
            found = store.find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current");
        } else {
            return ERROR_INVALID_HANDLE;
        }
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        key = std::move(*found);
        auto access = checkKeyAccess(*key.security, token, MAXIMUM_ALLOWED);
        granted = access.error == ERROR_SUCCESS ? access.granted : 0;
        return ERROR_SUCCESS;
    }
    auto handle = handles().find(reinterpret_cast<uintptr_t>(hKey));
    if (!handle)
        return ERROR_INVALID_HANDLE;
    auto found = store.key(handle->key);
    if (!found)
        return ERROR_KEY_DELETED;
    key = std::move(*found);
    granted = handle->granted;
    return ERROR_SUCCESS;
}

// Runs body on the key behind hKey, in one transaction of the store, once
// the handle grants every right in needed; a call that checks subkeys'
// rights itself passes 0.
template<typename Body>
LONG onKey(bool write, HKEY hKey, ACCESS_MASK needed, Body body)
{
    Store* store = Store::current();
    if (!store)
        return ERROR_REGISTRY_CORRUPT;
    Token token = Token::effective();
    auto run = [&]() -> LONG {
        Opened opened { *store, token, {}, 0 };
        if (LONG error = resolve(*store, hKey, token, opened.key, opened.granted))
            return error;
        if ((opened.granted & needed) != needed)
            return ERROR_ACCESS_DENIED;
        return body(opened);
    };
    return write ? store->write(run) : store->read(run);
}

// Walks a relative path below a key; leading backslashes are not allowed.
LONG walk(Store& store, KeyRecord& key, LPCSTR subKey)
{
    if (!subKey)
        return ERROR_SUCCESS;
    if (subKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    for (auto& name : splitKeyPath(subKey)) {
        auto next = store.subkey(key.id, name);
        if (!next)
            return ERROR_FILE_NOT_FOUND;
        key = std::move(*next);
    }
    return ERROR_SUCCESS;
}

void copyName(const std::string& name, LPSTR buffer)
{
    std::memcpy(buffer, name.c_str(), name.size() + 1);
}

void putFileTime(PFILETIME ft, uint64_t ticks)
{
    if (!ft)
        return;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// The descriptor RegCreateKeyEx gives a new key: inherited from its
// parent, with the caller's owner, group and DACL where it gave them.
struct ExplicitSecurity {
    std::optional<security::SecurityDescriptor> sd;
    bool dacl { false };
};

security::SecurityDescriptor newKeyDescriptor(const security::SecurityDescriptor& parent, const Token& token,
    const ExplicitSecurity* given)
{
    security::SecurityDescriptor sd = security::inheritedDescriptor(parent, token);
    if (!given || !given->sd)
        return sd;
    if (!given->sd->owner.empty())
        sd.owner = given->sd->owner;
    if (!given->sd->group.empty())
        sd.group = given->sd->group;
    if (given->dacl) {
        sd.daclPresent = given->sd->daclPresent;
        sd.dacl = given->sd->dacl;
    }
    return sd;
}

}

namespace ntsim::registry {

size_t openKeyCount()
{
    return handles().size();
}

DWORD inOneTransaction(const std::function<DWORD()>& work)
{
    Store* store = Store::current();
    if (!store)
        return work(); // its calls fail one by one, as they would alone
    DWORD result = NO_ERROR;
    LONG status = store->write([&]() -> LONG {
        result = work();
        return ERROR_SUCCESS;
    });
    return status != ERROR_SUCCESS ? static_cast<DWORD>(status) : result;
}

LONG openKey(HKEY hKey, LPCSTR subKey, REGSAM desired, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    KeyId opened = 0;
    ACCESS_MASK granted = 0;
    LONG status = onKey(false, hKey, 0, [&](Opened& base) -> LONG {
        if (LONG error = walk(base.store, base.key, subKey))
            return error;
        auto access = checkKeyAccess(*base.key.security, base.token, desired);
        opened = base.key.id;
        granted = access.granted;
        return access.error;
    });
    if (status == ERROR_SUCCESS)
        *result = addHandle(opened, granted);
    return status;
}

LONG createKey(HKEY hKey, LPCSTR subKey, LPSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES securityAttributes, PHKEY result, LPDWORD disposition)
{
    if (!result || !subKey)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (options & ~DWORD(REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE))
        return ERROR_INVALID_PARAMETER;
    if (desired & ACCESS_SYSTEM_SECURITY)
        return ERROR_PRIVILEGE_NOT_HELD;
    ExplicitSecurity given;
    if (securityAttributes && securityAttributes->lpSecurityDescriptor) {
        given.sd = security::SecurityDescriptor::fromBinary(securityAttributes->lpSecurityDescriptor);
        if (!given.sd)
            return ERROR_INVALID_SECURITY_DESCR;
        auto header = static_cast<const SECURITY_DESCRIPTOR*>(securityAttributes->lpSecurityDescriptor);
        given.dacl = header->Control & SE_DACL_PRESENT;
        // Audit entries are the security privilege's, which nobody holds.
        if (given.sd->saclPresent)
            return ERROR_PRIVILEGE_NOT_HELD;
    }
    std::string newClass = className ? className : "";
    KeyId opened = 0;
    ACCESS_MASK granted = 0;
    DWORD what = REG_OPENED_EXISTING_KEY;
    LONG status = onKey(true, hKey, 0, [&](Opened& base) -> LONG {
        if (subKey[0] == '\\')
            return ERROR_BAD_PATHNAME;
        auto names = splitKeyPath(subKey);
        KeyRecord key = base.key;
        size_t i = 0;
        for (; i < names.size(); ++i) {
            auto next = base.store.subkey(key.id, names[i]);
            if (!next)
                break;
            key = std::move(*next);
        }
        if (i == names.size()) {
            auto access = checkKeyAccess(*key.security, base.token, desired);
            opened = key.id;
            granted = access.granted;
            return access.error;
        }
        if (!key.inHive())
            return ERROR_ACCESS_DENIED;
        if (i == 0) {
            if (!(base.granted & KEY_CREATE_SUB_KEY))
                return ERROR_ACCESS_DENIED;
        } else if (LONG e = checkKeyAccess(*key.security, base.token, KEY_CREATE_SUB_KEY).error) {
            return e;
        }
        if (given.sd && !given.sd->owner.empty() && !base.token.holds(given.sd->owner))
            return ERROR_INVALID_OWNER;
        for (; i < names.size(); ++i) {
            bool last = i + 1 == names.size();
            auto sd = newKeyDescriptor(*key.security, base.token, last ? &given : nullptr);
            key = base.store.createKey(key, names[i], sd, last ? newClass : "");
        }
        // The creator holds what it asked for, whatever the new DACL says.
        granted = security::mapGenericKeyRights(desired & ~MAXIMUM_ALLOWED);
        if (desired & MAXIMUM_ALLOWED)
            granted |= KEY_ALL_ACCESS;
        opened = key.id;
        what = REG_CREATED_NEW_KEY;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS)
        return status;
    *result = addHandle(opened, granted);
    if (disposition)
        *disposition = what;
    return ERROR_SUCCESS;
}

LONG closeKey(HKEY hKey)
{
    if (isPredefinedKey(hKey))
        return ERROR_SUCCESS;
    return handles().take(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG queryValue(HKEY hKey, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    return onKey(false, hKey, KEY_QUERY_VALUE, [&](Opened& r) -> LONG {
        auto v = r.store.value(r.key.id, name ? name : "");
        if (!v)
            return ERROR_FILE_NOT_FOUND;
        if (type)
            *type = v->type;
        DWORD needed = static_cast<DWORD>(v->data.size());
        if (data) {
            if (*size < needed) {
                *size = needed;
                return ERROR_MORE_DATA;
            }
            if (needed)
                std::memcpy(data, v->data.data(), needed);
        }
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    });
}

LONG setValue(HKEY hKey, LPCSTR name, DWORD type, const BYTE* data, DWORD size)
{
    if (!data && size)
        return ERROR_NOACCESS;
    return onKey(true, hKey, KEY_SET_VALUE, [&](Opened& r) -> LONG {
        if (!r.key.inHive())
            return ERROR_ACCESS_DENIED;
        r.store.setValue(r.key.id, name ? name : "", type, data, data ? size : 0);
        return ERROR_SUCCESS;
    });
}

LONG deleteValue(HKEY hKey, LPCSTR name)
{
    return onKey(true, hKey, KEY_SET_VALUE, [&](Opened& r) -> LONG {
        return r.store.deleteValue(r.key.id, name ? name : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG deleteKey(HKEY hKey, LPCSTR subKey)
{
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    return onKey(true, hKey, 0, [&](Opened& base) -> LONG {
        if (LONG error = walk(base.store, base.key, subKey))
            return error;
        if (LONG error = checkKeyAccess(*base.key.security, base.token, DELETE).error)
            return error;
        // NT 4.0 deletes only keys without subkeys, and never a hive's root.
        if (!base.key.inHive() || base.key.isHiveRoot() || base.store.subkeyAt(base.key.id, 0))
            return ERROR_ACCESS_DENIED;
        base.store.deleteTree(base.key);
        return ERROR_SUCCESS;
    });
}

LONG enumKey(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPSTR className, LPDWORD classLength,
    PFILETIME lastWrite)
{
    if (!name || !nameLength || (className && !classLength))
        return ERROR_INVALID_PARAMETER;
    return onKey(false, hKey, KEY_ENUMERATE_SUB_KEYS, [&](Opened& r) -> LONG {
        auto sub = r.store.subkeyAt(r.key.id, index);
        if (!sub)
            return ERROR_NO_MORE_ITEMS;
        if (*nameLength <= sub->name.size() || (className && *classLength <= sub->className.size()))
            return ERROR_MORE_DATA;
        copyName(sub->name, name);
        *nameLength = static_cast<DWORD>(sub->name.size());
        if (className)
            copyName(sub->className, className);
        if (classLength)
            *classLength = static_cast<DWORD>(sub->className.size());
        putFileTime(lastWrite, sub->lastWrite);
        return ERROR_SUCCESS;
    });
}

LONG enumValue(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (!name || !nameLength || (data && !size))
        return ERROR_INVALID_PARAMETER;
    return onKey(false, hKey, KEY_QUERY_VALUE, [&](Opened& r) -> LONG {
        auto v = r.store.valueAt(r.key.id, index);
        if (!v)
            return ERROR_NO_MORE_ITEMS;
        DWORD needed = static_cast<DWORD>(v->data.size());
        if (*nameLength <= v->name.size())
            return ERROR_MORE_DATA;
        if (data && *size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        copyName(v->name, name);
        *nameLength = static_cast<DWORD>(v->name.size());
        if (type)
            *type = v->type;
        if (data && needed)
            std::memcpy(data, v->data.data(), needed);
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    });
}

LONG queryInfoKey(HKEY hKey, LPSTR className, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
    LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
    LPDWORD securityDescriptorSize, PFILETIME lastWrite)
{
    if (className && !classLength)
        return ERROR_INVALID_PARAMETER;
    return onKey(false, hKey, KEY_QUERY_VALUE, [&](Opened& r) -> LONG {
        // Everything is read before anything is written out: a read that
        // meets another process's write runs again from the start.
        const KeyRecord& key = r.key;
        KeyCounts counts = r.store.counts(key.id);
        if (className) {
            if (*classLength <= key.className.size()) {
                *classLength = static_cast<DWORD>(key.className.size());
                return ERROR_MORE_DATA;
            }
            copyName(key.className, className);
        }
        if (classLength)
            *classLength = static_cast<DWORD>(key.className.size());
        auto put = [](LPDWORD out, size_t v) {
            if (out)
                *out = static_cast<DWORD>(v);
        };
        put(subKeys, counts.subkeys);
        put(maxSubKeyLength, counts.maxSubkeyName);
        put(maxClassLength, counts.maxClass);
        put(values, counts.values);
        put(maxValueNameLength, counts.maxValueName);
        put(maxValueLength, counts.maxValueData);
        put(securityDescriptorSize,
            key.security->toSelfRelative(OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION).size());
        putFileTime(lastWrite, key.lastWrite);
        return ERROR_SUCCESS;
    });
}

LONG flushKey(HKEY hKey)
{
    return onKey(false, hKey, 0, [&](Opened& r) -> LONG {
        return r.store.flush() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    });
}

LONG getKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, LPDWORD size)
{
    if (!size)
        return ERROR_INVALID_PARAMETER;
    ACCESS_MASK needed = 0;
    if (info & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION))
        needed |= READ_CONTROL;
    return onKey(false, hKey, needed, [&](Opened& r) -> LONG {
        auto bytes = r.key.security->toSelfRelative(info);
        DWORD length = static_cast<DWORD>(bytes.size());
        if (!descriptor || *size < length) {
            *size = length;
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::memcpy(descriptor, bytes.data(), length);
        *size = length;
        return ERROR_SUCCESS;
    });
}

LONG setKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor)
{
    if (!descriptor)
        return ERROR_INVALID_PARAMETER;
    auto given = security::SecurityDescriptor::fromBinary(descriptor);
    if (!given)
        return ERROR_INVALID_SECURITY_DESCR;
    ACCESS_MASK needed = 0;
    if (info & DACL_SECURITY_INFORMATION)
        needed |= WRITE_DAC;
    if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION))
        needed |= WRITE_OWNER;
    if (info & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    return onKey(true, hKey, needed, [&](Opened& r) -> LONG {
        if (!r.key.inHive())
            return ERROR_ACCESS_DENIED;
        security::SecurityDescriptor sd = *r.key.security;
        if (LONG error = sd.takeParts(*given, info, r.token))
            return error;
        r.store.setSecurity(r.key.id, sd);
        return ERROR_SUCCESS;
    });
}

}
