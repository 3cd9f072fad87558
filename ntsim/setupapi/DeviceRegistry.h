// The device installer's registry, all in one place: the setup classes
// below Control\Class, the devices below Enum (written as the system, as
// NT's PnP manager writes them: administrators' own handles cannot) and the
// driver keys, which the installing user writes.
#pragma once
#include "DevInst.h"

#include <optional>
#include <string>
#include <vector>

namespace ntsim::setupapi::devreg {

extern const char ClassRoot[]; // below HKEY_LOCAL_MACHINE
extern const char EnumRoot[];

// "{4D36E96D-E325-11CE-BFC1-08002BE10318}"
std::string guidText(const GUID& guid);
bool parseGuid(const std::string& text, GUID& out);
bool sameGuid(const GUID& a, const GUID& b);

struct ClassEntry {
    GUID guid {};
    std::string name;        // "Class"
    std::string description; // the key's default value, else the name
    std::string installer;   // "Installer32", else "Installer"
    bool noInstall { false };
    bool noDisplay { false };
    bool noUse { false };
};

// The installed classes, in the key's order; keys that are no GUID are not classes.
std::vector<ClassEntry> classes();
std::optional<ClassEntry> findClass(const GUID& guid);

struct EnumEntry {
    std::string instanceId;
    bool hasClass { false };
    GUID classGuid {};
    std::string description;
};

// The devices below Enum in NT's order. An enumerator names the first part
// of the ids to keep; false when the machine has no such enumerator.
bool enumeratedDevices(const std::string& enumerator, std::vector<EnumEntry>& out);
bool deviceExists(const std::string& instanceId);

LONG createDeviceKey(const std::string& instanceId);
// The instance key with all below it, and its device key once it is empty.
LONG deleteDeviceKey(const std::string& instanceId);
LONG readDeviceValue(const std::string& instanceId, const std::string& name, RegistryValue& out);
LONG writeDeviceValue(const std::string& instanceId, const std::string& name, const RegistryValue& value);
LONG deleteDeviceValue(const std::string& instanceId, const std::string& name);
// A key below the instance key ("Device Parameters"), with all below it.
LONG deleteDeviceSubkey(const std::string& instanceId, const std::string& subkey);

// A key opened with the installing user's rights, closed with the object.
class Key {
public:
    Key() = default;
    ~Key() { close(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    LONG open(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS);
    LONG create(HKEY parent, const std::string& path, DWORD* disposition = nullptr);
    void close();
    HKEY get() const { return m_key; }

    LONG read(const std::string& name, RegistryValue& out) const;
    LONG write(const std::string& name, const RegistryValue& value) const;
    std::vector<std::pair<std::string, RegistryValue>> values() const;
    // A subkey with all below it.
    LONG deleteTree(const std::string& subkey) const;

private:
    HKEY m_key { nullptr };
};

// Driver keys, named as the device's "Driver" value names them.
// Creates "{GUID}\NNNN" with the first free number.
LONG createDriverKey(const GUID& classGuid, std::string& name, Key& key);
LONG openDriverKey(const std::string& name, Key& key);
LONG deleteDriverKey(const std::string& name);
bool driverKeyExists(const std::string& name);

// A hardware profile's copy of a path below CurrentControlSet.
std::string profilePath(DWORD profile, const std::string& path);
LONG deleteTreeAsSystem(const std::string& path);

RegistryValue stringValue(const std::string& text, DWORD type = REG_SZ);
RegistryValue dwordValue(DWORD value);
// The text of a string value, whatever its writer left at its end.
std::string valueText(const RegistryValue& value);
// The strings of a multi-string ("a\0b\0\0"), up to the first empty one.
std::vector<std::string> splitMultiString(const std::string& text);

}
