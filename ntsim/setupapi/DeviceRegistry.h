// The device installer's registry, all in one place: the setup classes
// below Control\Class, the devices below Enum (written as the system, as
// NT's PnP manager writes them: administrators' own handles cannot) and the
// driver keys, which the installing user writes.
#pragma once
#include "DevInst.h"

#include "registry/Key.h"

#include <optional>
#include <string>
#include <vector>

namespace ntsim::setupapi::devreg {

using registry::Key;
using registry::splitMultiString;
using registry::stringValue;
using registry::dwordValue;
using registry::valueText;

extern const char ClassRoot[]; // below HKEY_LOCAL_MACHINE
extern const char EnumRoot[];

// A string value of a setupapi text (UTF-8), as the ANSI registry holds it.
registry::ValueData textValue(const std::string& utf8);

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
LONG readDeviceValue(const std::string& instanceId, const std::string& name, registry::ValueData& out);
LONG writeDeviceValue(const std::string& instanceId, const std::string& name, const registry::ValueData& value);
LONG deleteDeviceValue(const std::string& instanceId, const std::string& name);
// A key below the instance key ("Device Parameters"), with all below it.
LONG deleteDeviceSubkey(const std::string& instanceId, const std::string& subkey);

// Driver keys, named as the device's "Driver" value names them.
// Creates "{GUID}\NNNN" with the first free number.
LONG createDriverKey(const GUID& classGuid, std::string& name, Key& key);
LONG openDriverKey(const std::string& name, Key& key);
LONG deleteDriverKey(const std::string& name);
bool driverKeyExists(const std::string& name);

// A hardware profile's copy of a path below CurrentControlSet.
std::string profilePath(DWORD profile, const std::string& path);


}
