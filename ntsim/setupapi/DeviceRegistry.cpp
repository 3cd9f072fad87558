#include "DeviceRegistry.h"

#include "InstallSupport.h"

#include "machine/NtPath.h"
#include "machine/Token.h"

#include <cstdio>
#include <cstring>

namespace ntsim::setupapi::devreg {

using registry::SystemKey;

const char ClassRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
const char EnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum";

namespace {

std::string enumPath(const std::string& instanceId)
{
    return std::string(EnumRoot) + "\\" + instanceId;
}

std::string classPath(const std::string& name)
{
    return std::string(ClassRoot) + "\\" + name;
}

bool hexDigits(const std::string& text, size_t from, size_t count, uint64_t& out)
{
    out = 0;
    for (size_t i = from; i < from + count; ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return false;
        out = out * 16 + static_cast<uint64_t>(digit);
    }
    return true;
}

// The instance keys of one device key, as ids "enumerator\device\instance".
void collectInstances(SystemKey& device, const std::string& prefix, std::vector<EnumEntry>& out)
{
    for (auto& instance : device.subkeys()) {
        EnumEntry entry;
        entry.instanceId = prefix + "\\" + instance;
        SystemKey key;
        if (key.open(enumPath(entry.instanceId)) != ERROR_SUCCESS)
            continue;
        if (auto guid = key.string("ClassGUID"))
            entry.hasClass = parseGuid(*guid, entry.classGuid);
        entry.description = key.string("DeviceDesc").value_or("");
        out.push_back(std::move(entry));
    }
}

}

registry::ValueData textValue(const std::string& utf8)
{
    return stringValue(toAnsi(utf8));
}

std::string guidText(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
        g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool parseGuid(const std::string& t, GUID& out)
{
    if (t.size() != 38 || t[0] != '{' || t[9] != '-' || t[14] != '-' || t[19] != '-' || t[24] != '-' || t[37] != '}')
        return false;
    uint64_t n = 0;
    GUID g {};
    if (!hexDigits(t, 1, 8, n))
        return false;
    g.Data1 = static_cast<DWORD>(n);
    if (!hexDigits(t, 10, 4, n))
        return false;
    g.Data2 = static_cast<WORD>(n);
    if (!hexDigits(t, 15, 4, n))
        return false;
    g.Data3 = static_cast<WORD>(n);
    static const size_t bytePos[8] = { 20, 22, 25, 27, 29, 31, 33, 35 };
    for (size_t i = 0; i < 8; ++i) {
        if (!hexDigits(t, bytePos[i], 2, n))
            return false;
        g.Data4[i] = static_cast<BYTE>(n);
    }
    out = g;
    return true;
}

bool sameGuid(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<ClassEntry> classes()
{
    std::vector<ClassEntry> out;
    SystemKey root;
    if (root.open(ClassRoot) != ERROR_SUCCESS)
        return out;
    for (auto& name : root.subkeys()) {
        ClassEntry entry;
        SystemKey key;
        if (!parseGuid(name, entry.guid) || key.open(classPath(name)) != ERROR_SUCCESS)
            continue;
        entry.name = key.string("Class").value_or("");
        entry.description = key.string("").value_or(entry.name);
        entry.installer = key.string("Installer32").value_or(key.string("Installer").value_or(""));
        entry.noInstall = key.hasValue("NoInstallClass");
        entry.noDisplay = key.hasValue("NoDisplayClass");
        entry.noUse = key.hasValue("NoUseClass");
        out.push_back(std::move(entry));
    }
    return out;
}

std::optional<ClassEntry> findClass(const GUID& guid)
{
    for (auto& entry : classes())
        if (sameGuid(entry.guid, guid))
            return entry;
    return std::nullopt;
}

bool enumeratedDevices(const std::string& enumerator, std::vector<EnumEntry>& out)
{
    SystemKey root;
    if (root.open(EnumRoot) != ERROR_SUCCESS)
        return false;
    bool found = enumerator.empty();
    for (auto& bus : root.subkeys()) {
        // HTREE holds the root of the device tree, no device of a class.
        if (equalsNoCase(bus, "HTREE") || (!enumerator.empty() && !equalsNoCase(bus, enumerator)))
            continue;
        found = true;
        SystemKey busKey;
        if (busKey.open(enumPath(bus)) != ERROR_SUCCESS)
            continue;
        for (auto& device : busKey.subkeys()) {
            SystemKey deviceKey;
            if (deviceKey.open(enumPath(bus + "\\" + device)) == ERROR_SUCCESS)
                collectInstances(deviceKey, bus + "\\" + device, out);
        }
    }
    return found;
}

bool deviceExists(const std::string& instanceId)
{
    SystemKey key;
    return key.open(enumPath(instanceId)) == ERROR_SUCCESS;
}

LONG createDeviceKey(const std::string& instanceId)
{
    if (deviceExists(instanceId))
        return static_cast<LONG>(ERROR_DEVINST_ALREADY_EXISTS);
    SystemKey key;
    return key.create(enumPath(instanceId));
}

LONG deleteDeviceKey(const std::string& instanceId)
{
    LONG status = registry::deleteSystemKeyTree(enumPath(instanceId));
    if (status != ERROR_SUCCESS)
        return status;
    std::string parent = enumPath(instanceId.substr(0, instanceId.find_last_of('\\')));
    SystemKey device;
    if (device.open(parent) == ERROR_SUCCESS && device.subkeys().empty()) {
        device.close();
        registry::deleteSystemKeyTree(parent);
    }
    return ERROR_SUCCESS;
}

LONG readDeviceValue(const std::string& instanceId, const std::string& name, registry::ValueData& out)
{
    SystemKey key;
    if (LONG status = key.open(enumPath(instanceId)); status != ERROR_SUCCESS)
        return status;
    return key.read(name, out);
}

LONG writeDeviceValue(const std::string& instanceId, const std::string& name, const registry::ValueData& value)
{
    SystemKey key;
    if (LONG status = key.open(enumPath(instanceId), KEY_SET_VALUE); status != ERROR_SUCCESS)
        return status;
    return key.write(name, value);
}

LONG deleteDeviceValue(const std::string& instanceId, const std::string& name)
{
    SystemKey key;
    if (LONG status = key.open(enumPath(instanceId), KEY_SET_VALUE); status != ERROR_SUCCESS)
        return status;
    return key.deleteValue(name.c_str());
}

LONG deleteDeviceSubkey(const std::string& instanceId, const std::string& subkey)
{
    return registry::deleteSystemKeyTree(enumPath(instanceId) + "\\" + subkey);
}

LONG createDriverKey(const GUID& classGuid, std::string& name, Key& key)
{
    std::string guid = guidText(classGuid);
    Key classKey;
    if (LONG status = classKey.create(HKEY_LOCAL_MACHINE, classPath(guid)); status != ERROR_SUCCESS)
        return status;
    for (unsigned n = 0; n <= 9999; ++n) {
        char number[8];
        std::snprintf(number, sizeof number, "%04u", n);
        Key probe;
        if (probe.open(classKey.handle(), number, KEY_QUERY_VALUE) == ERROR_SUCCESS)
            continue;
        DWORD disposition = 0;
        LONG status = key.create(classKey.handle(), number, KEY_ALL_ACCESS, REG_OPTION_NON_VOLATILE, &disposition);
        if (status != ERROR_SUCCESS)
            return status;
        // Another installer may have taken this number meanwhile.
        if (disposition == REG_CREATED_NEW_KEY) {
            name = guid + "\\" + number;
            return ERROR_SUCCESS;
        }
    }
    key.close();
    return ERROR_NO_MORE_ITEMS;
}

LONG openDriverKey(const std::string& name, Key& key)
{
    return key.open(HKEY_LOCAL_MACHINE, classPath(name), KEY_ALL_ACCESS);
}

bool driverKeyExists(const std::string& name)
{
    HKEY key = nullptr;
    if (registry::openKey(HKEY_LOCAL_MACHINE, classPath(name).c_str(), KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    registry::closeKey(key);
    return true;
}

LONG deleteDriverKey(const std::string& name)
{
    if (!driverKeyExists(name))
        return ERROR_FILE_NOT_FOUND;
    return registry::deleteKeyTree(HKEY_LOCAL_MACHINE, classPath(name));
}

std::string profilePath(DWORD profile, const std::string& path)
{
    std::string base = "SYSTEM\\CurrentControlSet\\Hardware Profiles\\";
    if (profile == 0 || profile == 0xFFFFFFFF) {
        base += "Current";
    } else {
        char number[12];
        std::snprintf(number, sizeof number, "%04u", profile);
        base += number;
    }
    // The profile holds a copy of the paths below SYSTEM.
    return base + "\\System\\CurrentControlSet" + path.substr(std::strlen("SYSTEM\\CurrentControlSet"));
}

}
