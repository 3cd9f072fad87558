// The key operations: the key behind a handle, the access its open granted
// and the rights the key's descriptor gives the caller's token, each call
// in one transaction of the machine's store.
#include "Keys.h"

#include "ChangeCounter.h"
#include "Store.h"
#include "Watch.h"
#include "machine/HandleTable.h"
#include "machine/SecurityDescriptor.h"
#include "machine/Trace.h"
#include "machine/Unicode.h"

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

std::optional<Json> describeKey(uintptr_t value);

// Key handles lie apart from the kernel's handles (which step from 4), so
// that a file or event handle is never taken for a key.
HandleTable<KeyHandle>& handles()
{
    static auto* table = new HandleTable<KeyHandle>(0x40000, "registry keys"); // counted at exit
    return *table;
}

// Before the table's own describer, which tells only the kind, and before
// the first call, which may name a predefined key.
const unsigned keyDescriber = registerHandleDescriber(describeKey);

// The name of a predefined key; null for any other handle.
const char* predefinedName(HKEY hKey)
{
    static const std::pair<HKEY, const char*> names[] = { { HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT" },
        { HKEY_CURRENT_USER, "HKEY_CURRENT_USER" }, { HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE" },
        { HKEY_USERS, "HKEY_USERS" }, { HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA" },
        { HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG" }, { HKEY_DYN_DATA, "HKEY_DYN_DATA" } };
    for (auto& [key, name] : names)
        if (key == hKey)
            return name;
    return nullptr;
}

// For the trace: a key handle and the path of its key, as the store
// spells it now.
std::optional<Json> describeKey(uintptr_t value)
{
    if (const char* name = predefinedName(reinterpret_cast<HKEY>(value)))
        return Json { { "kind", "key" }, { "name", name } };
    auto handle = handles().find(value);
    if (!handle)
        return std::nullopt;
    Json out { { "kind", "key" } };
    Store* store = Store::current();
    if (!store)
        return out;
    try {
        store->read([&]() -> LONG {
            if (auto key = store->key(handle->key))
                out["name"] = store->path(*key); // UTF-8, as the store keeps names
            else
                out["deleted"] = true;
            return ERROR_SUCCESS;
        });
    } catch (...) {
        // The trace says less rather than end the call it describes.
    }
    return out;
}

HKEY addHandle(KeyId key, ACCESS_MASK granted)
{
    return reinterpret_cast<HKEY>(handles().insert({ key, granted }));
}

bool isPredefinedKey(HKEY hKey)
{
    return predefinedName(hKey) != nullptr;
}

// What a call works on: the key behind its handle and what the handle may do.
struct Opened {
    Store& store;
    const Token& token;
    KeyRecord key;
    ACCESS_MASK granted { 0 };
};

std::optional<KeyRecord> predefinedKey(Store& store, HKEY hKey, const Token& token)
{
    if (hKey == HKEY_LOCAL_MACHINE)
        return store.key(machineRoot);
    if (hKey == HKEY_USERS)
        return store.key(usersRoot);
    if (hKey == HKEY_CURRENT_USER) {
        auto user = store.subkey(usersRoot, token.user);
        return user ? user : store.subkey(usersRoot, ".DEFAULT");
    }
    if (hKey == HKEY_CLASSES_ROOT)
        return store.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
    if (hKey == HKEY_CURRENT_CONFIG)
        return store.find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current");
    return std::nullopt;
}

// The key behind a handle; predefined keys are opened afresh for the most
// the caller's token allows, as NT opens them on first use. Performance
// data and Windows 95's dynamic data are no keys of this machine.
LONG resolve(Opened& opened, HKEY hKey)
{
    if (isPredefinedKey(hKey)) {
        if (hKey == HKEY_PERFORMANCE_DATA || hKey == HKEY_DYN_DATA)
            return ERROR_INVALID_HANDLE;
        auto found = predefinedKey(opened.store, hKey, opened.token);
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        opened.key = std::move(*found);
        auto access = checkKeyAccess(*opened.key.security, opened.token, MAXIMUM_ALLOWED);
        opened.granted = access.error == ERROR_SUCCESS ? access.granted : 0;
        return ERROR_SUCCESS;
    }
    auto handle = handles().find(reinterpret_cast<uintptr_t>(hKey));
    if (!handle)
        return ERROR_INVALID_HANDLE;
    auto found = opened.store.key(handle->key);
    if (!found)
        return ERROR_KEY_DELETED;
    opened.key = std::move(*found);
    opened.granted = handle->granted;
    return ERROR_SUCCESS;
}

enum class Transaction { Read, Write };

// Runs body(opened, args...) on the key behind hKey, in one transaction of
// the store, once the handle grants every right in needed; a call that
// checks subkeys' rights itself passes 0.
template<typename Body, typename... Args>
LONG onKey(Transaction kind, HKEY hKey, ACCESS_MASK needed, Body body, Args&&... args)
{
    Store* store = Store::current();
    if (!store)
        return ERROR_REGISTRY_CORRUPT;
    Token token = Token::effective();
    auto run = [&]() -> LONG {
        Opened opened { *store, token, {}, 0 };
        if (LONG error = resolve(opened, hKey))
            return error;
        if ((opened.granted & needed) != needed)
            return ERROR_ACCESS_DENIED;
        return body(opened, args...);
    };
    return kind == Transaction::Write ? store->write(run) : store->read(run);
}

// Walks a relative path below a key; leading backslashes are not allowed.
LONG walk(Store& store, KeyRecord& key, const std::string& path)
{
    if (!path.empty() && path[0] == '\\')
        return ERROR_BAD_PATHNAME;
    for (auto& name : splitKeyPath(path)) {
        auto next = store.subkey(key.id, name);
        if (!next)
            return ERROR_FILE_NOT_FOUND;
        key = std::move(*next);
    }
    return ERROR_SUCCESS;
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

LONG readExplicitSecurity(LPSECURITY_ATTRIBUTES attributes, ExplicitSecurity& given)
{
    if (!attributes || !attributes->lpSecurityDescriptor)
        return ERROR_SUCCESS;
    given.sd = security::SecurityDescriptor::fromBinary(attributes->lpSecurityDescriptor);
    if (!given.sd)
        return ERROR_INVALID_SECURITY_DESCR;
    auto header = static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
    given.dacl = header->Control & SE_DACL_PRESENT;
    // Audit entries are the security privilege's, which nobody holds.
    return given.sd->saclPresent ? ERROR_PRIVILEGE_NOT_HELD : ERROR_SUCCESS;
}

// --- the bodies of the operations, each run inside onKey ---

struct OpenResult {
    KeyId key { 0 };
    ACCESS_MASK granted { 0 };
    DWORD disposition { REG_OPENED_EXISTING_KEY };
};

LONG openBelow(Opened& base, const std::optional<std::string>& path, REGSAM desired, OpenResult& out)
{
    if (path)
        if (LONG error = walk(base.store, base.key, *path))
            return error;
    auto access = checkKeyAccess(*base.key.security, base.token, desired);
    out.key = base.key.id;
    out.granted = access.granted;
    return access.error;
}

LONG createBelow(Opened& base, const std::string& path, const std::string& className, REGSAM desired,
    const ExplicitSecurity& given, OpenResult& out)
{
    if (!path.empty() && path[0] == '\\')
        return ERROR_BAD_PATHNAME;
    auto names = splitKeyPath(path);
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
        out = { key.id, access.granted, REG_OPENED_EXISTING_KEY };
        return access.error;
    }
    for (size_t k = i; k < names.size(); ++k)
        if (utf16Length(names[k]) > maxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
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
        key = base.store.createKey(key, names[i], sd, last ? className : "");
    }
    // The creator holds what it asked for, whatever the new DACL says.
    ACCESS_MASK granted = security::mapGenericKeyRights(desired & ~MAXIMUM_ALLOWED);
    if (desired & MAXIMUM_ALLOWED)
        granted |= KEY_ALL_ACCESS;
    out = { key.id, granted, REG_CREATED_NEW_KEY };
    return ERROR_SUCCESS;
}

LONG readOne(Opened& r, const std::string& name, ValueData& out)
{
    auto v = r.store.value(r.key.id, name);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    out.type = v->type;
    out.data = std::move(v->data);
    return ERROR_SUCCESS;
}

LONG readMany(Opened& r, const std::vector<std::string>& names, std::vector<ValueData>& out)
{
    std::vector<ValueData> values(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        if (LONG error = readOne(r, names[i], values[i]))
            return error;
    out = std::move(values);
    return ERROR_SUCCESS;
}

LONG writeOne(Opened& r, const std::string& name, DWORD type, const BYTE* data, size_t size)
{
    if (!r.key.inHive())
        return ERROR_ACCESS_DENIED;
    r.store.setValue(r.key.id, name, type, data, size);
    return ERROR_SUCCESS;
}

LONG removeOne(Opened& r, const std::string& name)
{
    return r.store.deleteValue(r.key.id, name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG removeBelow(Opened& base, const std::string& path)
{
    if (LONG error = walk(base.store, base.key, path))
        return error;
    if (LONG error = checkKeyAccess(*base.key.security, base.token, DELETE).error)
        return error;
    // NT 4.0 deletes only keys without subkeys, and never a hive's root.
    if (!base.key.inHive() || base.key.isHiveRoot() || base.store.subkeyAt(base.key.id, 0))
        return ERROR_ACCESS_DENIED;
    base.store.deleteTree(base.key);
    return ERROR_SUCCESS;
}

LONG subkeyOf(Opened& r, DWORD index, SubkeyInfo& out)
{
    auto sub = r.store.subkeyAt(r.key.id, index);
    if (!sub)
        return ERROR_NO_MORE_ITEMS;
    out = { sub->name, sub->className, sub->lastWrite };
    return ERROR_SUCCESS;
}

LONG valueOf(Opened& r, DWORD index, bool withData, NamedValue& out)
{
    auto v = r.store.valueAt(r.key.id, index);
    if (!v)
        return ERROR_NO_MORE_ITEMS;
    out.name = v->name;
    out.value.type = v->type;
    if (withData)
        out.value.data = std::move(v->data);
    else
        out.value.data.assign(v->data.size(), 0);
    return ERROR_SUCCESS;
}

LONG infoOf(Opened& r, KeyInfo& out)
{
    KeyCounts counts = r.store.counts(r.key.id);
    out.className = r.key.className;
    out.subkeys = static_cast<DWORD>(counts.subkeys);
    out.maxSubkeyName = static_cast<DWORD>(counts.maxSubkeyName);
    out.maxClass = static_cast<DWORD>(counts.maxClass);
    out.values = static_cast<DWORD>(counts.values);
    out.maxValueName = static_cast<DWORD>(counts.maxValueName);
    out.maxValueData = static_cast<DWORD>(counts.maxValueData);
    out.securityDescriptorSize = static_cast<DWORD>(
        r.key.security->toSelfRelative(OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)
            .size());
    out.lastWrite = r.key.lastWrite;
    return ERROR_SUCCESS;
}

LONG flushStore(Opened& r)
{
    return r.store.flush() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

LONG copySecurity(Opened& r, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, LPDWORD size)
{
    auto bytes = r.key.security->toSelfRelative(info);
    DWORD length = static_cast<DWORD>(bytes.size());
    if (!descriptor || *size < length) {
        *size = length;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(descriptor, bytes.data(), length);
    *size = length;
    return ERROR_SUCCESS;
}

LONG replaceSecurity(Opened& r, SECURITY_INFORMATION info, const security::SecurityDescriptor& given)
{
    if (!r.key.inHive())
        return ERROR_ACCESS_DENIED;
    security::SecurityDescriptor sd = *r.key.security;
    if (LONG error = sd.takeParts(given, info, r.token))
        return error;
    r.store.setSecurity(r.key.id, sd);
    return ERROR_SUCCESS;
}

LONG keyIdOf(Opened& r, KeyId& out)
{
    out = r.key.id;
    return ERROR_SUCCESS;
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

LONG openPath(HKEY hKey, const std::optional<std::string>& path, REGSAM desired, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenResult opened;
    LONG status = onKey(Transaction::Read, hKey, 0, openBelow, path, desired, opened);
    if (status == ERROR_SUCCESS)
        *result = addHandle(opened.key, opened.granted);
    return status;
}

LONG createPath(HKEY hKey, const std::string& path, const std::string& className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES securityAttributes, PHKEY result, LPDWORD disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (options & ~DWORD(REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE))
        return ERROR_INVALID_PARAMETER;
    if (desired & ACCESS_SYSTEM_SECURITY)
        return ERROR_PRIVILEGE_NOT_HELD;
    ExplicitSecurity given;
    if (LONG error = readExplicitSecurity(securityAttributes, given))
        return error;
    OpenResult created;
    LONG status = onKey(Transaction::Write, hKey, 0, createBelow, path, className, desired, given, created);
    if (status != ERROR_SUCCESS)
        return status;
    *result = addHandle(created.key, created.granted);
    if (disposition)
        *disposition = created.disposition;
    return ERROR_SUCCESS;
}

LONG closeKey(HKEY hKey)
{
    if (isPredefinedKey(hKey))
        return ERROR_SUCCESS;
    if (!handles().take(reinterpret_cast<uintptr_t>(hKey)))
        return ERROR_INVALID_HANDLE;
    endWatches(hKey);
    return ERROR_SUCCESS;
}

LONG readValue(HKEY hKey, const std::string& name, ValueData& out)
{
    return onKey(Transaction::Read, hKey, KEY_QUERY_VALUE, readOne, name, out);
}

LONG readValues(HKEY hKey, const std::vector<std::string>& names, std::vector<ValueData>& out)
{
    return onKey(Transaction::Read, hKey, KEY_QUERY_VALUE, readMany, names, out);
}

LONG writeValue(HKEY hKey, const std::string& name, DWORD type, const BYTE* data, size_t size)
{
    if (!data && size)
        return ERROR_NOACCESS;
    if (utf16Length(name) > maxValueNameLength)
        return ERROR_INVALID_PARAMETER;
    return onKey(Transaction::Write, hKey, KEY_SET_VALUE, writeOne, name, type, data, data ? size : 0);
}

LONG removeValue(HKEY hKey, const std::string& name)
{
    return onKey(Transaction::Write, hKey, KEY_SET_VALUE, removeOne, name);
}

LONG removePath(HKEY hKey, const std::string& path)
{
    return onKey(Transaction::Write, hKey, 0, removeBelow, path);
}

LONG readSubkey(HKEY hKey, DWORD index, SubkeyInfo& out)
{
    return onKey(Transaction::Read, hKey, KEY_ENUMERATE_SUB_KEYS, subkeyOf, index, out);
}

LONG readValueAt(HKEY hKey, DWORD index, bool withData, NamedValue& out)
{
    return onKey(Transaction::Read, hKey, KEY_QUERY_VALUE, valueOf, index, withData, out);
}

LONG readKeyInfo(HKEY hKey, KeyInfo& out)
{
    return onKey(Transaction::Read, hKey, KEY_QUERY_VALUE, infoOf, out);
}

LONG flushKey(HKEY hKey)
{
    return onKey(Transaction::Read, hKey, 0, flushStore);
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
    return onKey(Transaction::Read, hKey, needed, copySecurity, info, descriptor, size);
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
    return onKey(Transaction::Write, hKey, needed, replaceSecurity, info, *given);
}

LONG watchKey(HKEY hKey, bool subtree, DWORD filter, std::function<void()> notify)
{
    Store* store = Store::current();
    if (!store)
        return ERROR_REGISTRY_CORRUPT;
    // Changes from here on count: one that comes while the key is looked
    // up may wake the watch, none is missed.
    uint64_t since = store->changeLog()->head();
    KeyId key = 0;
    LONG status = onKey(Transaction::Read, hKey, KEY_NOTIFY, keyIdOf, key);
    if (status == ERROR_SUCCESS)
        addWatch(store->changeLog(), hKey, key, subtree, filter, since, std::move(notify));
    return status;
}

}
