// The SetupDi calls on classes, device information sets and devices:
// creation, enumeration, properties, install parameters, registration
// below Enum\Root and removal. Driver lists are in DevInstDrivers.cpp, a
// device's registry keys in DevInstKeys.cpp, the class installers in
// DevInstInstall.cpp and ModemClassInstaller.cpp.
#include "DevInst.h"

#include "DeviceRegistry.h"

#include "machine/CodePage.h"
#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/NtPath.h"
#include "machine/Token.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace ntsim::setupapi {

namespace {

HandleTable<std::shared_ptr<DeviceInfoSet>>& sets()
{
    static auto* table = new HandleTable<std::shared_ptr<DeviceInfoSet>>(0x5E000, "device information sets");
    return *table;
}

// Devnode handles: one number per instance id for the life of the process.
DWORD devInstOf(const std::string& instanceId)
{
    static std::mutex lock;
    static std::unordered_map<std::string, DWORD> numbers;
    std::lock_guard guard(lock);
    auto [it, added] = numbers.emplace(upperAscii(instanceId), static_cast<DWORD>(numbers.size() + 1));
    (void)added;
    return it->second;
}

// Fills a GUID list as the class calls do.
DWORD copyGuids(const std::vector<GUID>& guids, LPGUID list, DWORD size, PDWORD required)
{
    if (size && !list)
        return ERROR_INVALID_USER_BUFFER;
    if (required)
        *required = static_cast<DWORD>(guids.size());
    for (size_t i = 0; i < guids.size() && i < size; ++i)
        list[i] = guids[i];
    return guids.size() > size ? ERROR_INSUFFICIENT_BUFFER : NO_ERROR;
}

bool validDeviceName(const std::string& name)
{
    if (name.empty() || name.size() > MAX_DEVICE_ID_LEN)
        return false;
    for (unsigned char c : name)
        if (c <= 0x20 || c >= 0x7F || c == '\\' || c == ',')
            return false;
    return true;
}

bool idTaken(const DeviceInfoSet& set, const std::string& instanceId)
{
    for (auto& device : set.devices)
        if (equalsNoCase(device->instanceId, instanceId))
            return true;
    return devreg::deviceExists(instanceId);
}

// "Root\NAME\0000" with the first number neither the registry nor the set has.
DWORD generateId(const DeviceInfoSet& set, const std::string& name, std::string& out)
{
    for (unsigned n = 0; n <= 9999; ++n) {
        char number[8];
        std::snprintf(number, sizeof number, "%04u", n);
        std::string id = "Root\\" + name + "\\" + number;
        if (!idTaken(set, id)) {
            out = id;
            return NO_ERROR;
        }
    }
    return ERROR_DEVINST_ALREADY_EXISTS;
}

// A full instance id: the root enumerator, a device and an instance.
bool validInstanceId(const std::string& id)
{
    size_t first = id.find('\\');
    size_t second = first == std::string::npos ? first : id.find('\\', first + 1);
    if (second == std::string::npos || id.find('\\', second + 1) != std::string::npos)
        return false;
    return equalsNoCase(id.substr(0, first), "Root") && validDeviceName(id.substr(first + 1, second - first - 1))
        && validDeviceName(id.substr(second + 1));
}

struct PropertyName {
    DWORD property;
    const char* value;
    DWORD type;
    bool settable;
};

constexpr PropertyName properties[] = {
    { SPDRP_DEVICEDESC, "DeviceDesc", REG_SZ, false },
    { SPDRP_HARDWAREID, "HardwareID", REG_MULTI_SZ, true },
    { SPDRP_COMPATIBLEIDS, "CompatibleIDs", REG_MULTI_SZ, true },
    { SPDRP_SERVICE, "Service", REG_SZ, false },
    { SPDRP_CLASS, "Class", REG_SZ, false },
    { SPDRP_CLASSGUID, "ClassGUID", REG_SZ, false },
    { SPDRP_DRIVER, "Driver", REG_SZ, false },
    { SPDRP_CONFIGFLAGS, "ConfigFlags", REG_DWORD, true },
    { SPDRP_MFG, "Mfg", REG_SZ, false },
    { SPDRP_FRIENDLYNAME, "FriendlyName", REG_SZ, true },
    { SPDRP_LOCATION_INFORMATION, "LocationInformation", REG_SZ, true },
    { SPDRP_UPPERFILTERS, "UpperFilters", REG_MULTI_SZ, true },
    { SPDRP_LOWERFILTERS, "LowerFilters", REG_MULTI_SZ, true },
    // Kept by the PnP manager of later systems; NT 4.0's root devices have none.
    { SPDRP_NTDEVICEPATHS, "NtDevicePaths", REG_MULTI_SZ, false },
    { SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, "PhysicalDeviceObjectName", REG_SZ, false },
    { SPDRP_CAPABILITIES, "Capabilities", REG_DWORD, false },
    { SPDRP_UI_NUMBER, "UINumber", REG_DWORD, false },
};

const PropertyName* propertyName(DWORD property)
{
    for (auto& p : properties)
        if (p.property == property)
            return &p;
    return nullptr;
}

bool isText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// What an unregistered device would write on registration.
bool unregisteredValue(const Device& device, const std::string& name, registry::ValueData& out)
{
    auto it = device.pending.find(name);
    if (it != device.pending.end()) {
        out = it->second;
        return true;
    }
    if (name == "ClassGUID") {
        out = devreg::stringValue(devreg::guidText(device.classGuid));
        return true;
    }
    if (name == "Class") {
        auto entry = devreg::findClass(device.classGuid);
        if (entry && !entry->name.empty()) {
            out = devreg::stringValue(entry->name);
            return true;
        }
    }
    if (name == "DeviceDesc" && !device.description.empty()) {
        out = devreg::textValue(device.description);
        return true;
    }
    return false;
}

// A value as a call of the form gives it: the registry's ANSI text as it
// is for an A call, in UTF-16 for a W call, terminators and all.
std::vector<BYTE> propertyBytes(Charset charset, const registry::ValueData& value)
{
    if (!isText(value.type) || charset == Charset::Ansi)
        return value.data;
    std::u16string wide;
    toUtf16(std::string(value.data.begin(), value.data.end()), ansiCodePage(), wide);
    std::vector<BYTE> out(wide.size() * sizeof(WCHAR));
    std::memcpy(out.data(), wide.data(), out.size());
    return out;
}

DWORD writeOnRegistration(const Device& device)
{
    std::vector<std::pair<std::string, registry::ValueData>> values;
    for (const char* name : { "ClassGUID", "Class", "DeviceDesc" }) {
        registry::ValueData value;
        if (device.pending.find(name) == device.pending.end() && unregisteredValue(device, name, value))
            values.emplace_back(name, value);
    }
    for (auto& [name, value] : device.pending)
        values.emplace_back(name, value);
    for (auto& [name, value] : values)
        if (LONG status = devreg::writeDeviceValue(device.instanceId, name, value); status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
    return NO_ERROR;
}

DWORD deleteKeyOf(const Device& device, DWORD scope, DWORD profile, DWORD keyType, bool& deleted)
{
    LONG status = ERROR_FILE_NOT_FOUND;
    if (keyType == DIREG_DEV) {
        std::string path = std::string(devreg::EnumRoot) + "\\" + device.instanceId + "\\Device Parameters";
        status = scope == DICS_FLAG_GLOBAL ? devreg::deleteDeviceSubkey(device.instanceId, "Device Parameters")
                                           : registry::deleteSystemKeyTree(devreg::profilePath(profile, path));
    } else {
        registry::ValueData driver;
        if (devreg::readDeviceValue(device.instanceId, "Driver", driver) == ERROR_SUCCESS) {
            std::string name = devreg::valueText(driver);
            if (scope == DICS_FLAG_GLOBAL) {
                status = devreg::deleteDriverKey(name);
                if (status == ERROR_SUCCESS)
                    devreg::deleteDeviceValue(device.instanceId, "Driver");
            } else {
                status = registry::deleteSystemKeyTree(
                    devreg::profilePath(profile, std::string(devreg::ClassRoot) + "\\" + name));
            }
        }
    }
    deleted = deleted || status == ERROR_SUCCESS;
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? NO_ERROR : static_cast<DWORD>(status);
}

// A device of the registry in a set, as SetupDiGetClassDevs and
// SetupDiOpenDeviceInfo add them.
std::unique_ptr<Device> registeredDevice(const devreg::EnumEntry& entry)
{
    auto device = std::make_unique<Device>();
    device->instanceId = entry.instanceId;
    device->classGuid = entry.classGuid;
    device->description = fromAnsi(entry.description);
    device->devInst = devInstOf(entry.instanceId);
    device->registered = true;
    return device;
}

// The installer parameters of a record of either form.
void readParams(const InstallParams& p, HWND setParent, SP_DEVINSTALL_PARAMS_W& out)
{
    out.InstallMsgHandler = reinterpret_cast<PSP_FILE_CALLBACK_W>(p.handler);
    std::u16string path = toWide(p.driverPath);
    std::memset(out.DriverPath, 0, sizeof out.DriverPath);
    std::memcpy(out.DriverPath, path.c_str(), std::min(path.size(), size_t(MAX_PATH - 1)) * sizeof(WCHAR));
    out.hwndParent = p.parent ? p.parent : setParent;
}

void readParams(const InstallParams& p, HWND setParent, SP_DEVINSTALL_PARAMS_A& out)
{
    out.InstallMsgHandler = reinterpret_cast<PSP_FILE_CALLBACK_A>(p.handler);
    std::string path = toAnsi(p.driverPath);
    std::memset(out.DriverPath, 0, sizeof out.DriverPath);
    std::memcpy(out.DriverPath, path.c_str(), std::min(path.size(), size_t(MAX_PATH - 1)));
    out.hwndParent = p.parent ? p.parent : setParent;
}

// The DriverPath of a record; false when it holds no terminated path.
bool driverPath(const SP_DEVINSTALL_PARAMS_W& params, std::string& out)
{
    size_t length = 0;
    while (length < MAX_PATH && params.DriverPath[length])
        ++length;
    out = fromWide(std::u16string_view(params.DriverPath, length));
    return length < MAX_PATH;
}

bool driverPath(const SP_DEVINSTALL_PARAMS_A& params, std::string& out)
{
    size_t length = strnlen(params.DriverPath, MAX_PATH);
    out = fromAnsi(std::string_view(params.DriverPath, length));
    return length < MAX_PATH;
}

template<typename Record>
Charset charsetOf()
{
    return std::is_same_v<Record, SP_DEVINSTALL_PARAMS_W> ? Charset::Wide : Charset::Ansi;
}

// Whether a registered device of the class is a duplicate of the new one,
// in the eyes of the caller's comparison. The one it is joins the set.
DWORD findDuplicate(HDEVINFO handle, DeviceInfoSet& set, Device& device, PSP_DETSIG_CMPPROC compare, PVOID context,
    PSP_DEVINFO_DATA duplicate)
{
    std::vector<devreg::EnumEntry> entries;
    devreg::enumeratedDevices("", entries);
    for (auto& entry : entries) {
        if (!entry.hasClass || !devreg::sameGuid(entry.classGuid, device.classGuid)
            || equalsNoCase(entry.instanceId, device.instanceId))
            continue;
        // Without a comparison of its own the caller's root devices, which
        // have no resources to compare, are never duplicates.
        if (!compare)
            continue;
        set.devices.push_back(registeredDevice(entry));
        Device& existing = *set.devices.back();
        SP_DEVINFO_DATA newData { sizeof(SP_DEVINFO_DATA), {}, 0, 0 }, existingData = newData;
        set.describe(device, newData);
        set.describe(existing, existingData);
        DWORD result = ProgramCode::call(compare, handle, &newData, &existingData, context);
        if (result == ERROR_DUPLICATE_FOUND) {
            if (duplicate && duplicate->cbSize == sizeof(SP_DEVINFO_DATA))
                set.describe(existing, *duplicate);
            return ERROR_DUPLICATE_FOUND;
        }
        set.devices.pop_back();
        if (result != NO_ERROR)
            return result;
    }
    return NO_ERROR;
}

}

DWORD copyDiText(std::string_view utf8, const TextBuffer& buffer, PDWORD required)
{
    if (!buffer.data && buffer.size)
        return ERROR_INVALID_USER_BUFFER;
    DWORD error = copyText(utf8, buffer, required);
    if (error == NO_ERROR && !buffer.data)
        return ERROR_INSUFFICIENT_BUFFER;
    return error;
}

QueueCallback InstallParams::callback() const
{
    if (!handler)
        return QueueCallback();
    if (handlerCharset == Charset::Wide)
        return QueueCallback::wide(reinterpret_cast<PSP_FILE_CALLBACK_W>(handler), handlerContext);
    return QueueCallback::ansi(reinterpret_cast<PSP_FILE_CALLBACK_A>(handler), handlerContext);
}

DWORD resolve(HDEVINFO handle, const SP_DEVINFO_DATA* data, bool deviceNeeded, Target& out)
{
    out.set = DeviceInfoSet::fromHandle(handle);
    if (!out.set)
        return ERROR_INVALID_HANDLE;
    if (!data)
        return deviceNeeded ? ERROR_INVALID_PARAMETER : NO_ERROR;
    DWORD error = NO_ERROR;
    out.device = out.set->device(data, error);
    return error;
}

DWORD resolveLive(HDEVINFO handle, const SP_DEVINFO_DATA* data, Target& out)
{
    if (DWORD error = resolve(handle, data, true, out); error != NO_ERROR)
        return error;
    return out.device->removed ? ERROR_NO_SUCH_DEVINST : NO_ERROR;
}

const DriverNode* DriverScope::selectedDriver() const
{
    if (selectedType == SPDIT_NODRIVER)
        return nullptr;
    const DriverList& l = selectedType == SPDIT_COMPATDRIVER ? compatDrivers : classDrivers;
    for (auto& node : l.nodes)
        if (node.serial == selectedSerial)
            return &node;
    return nullptr;
}

Device* DeviceInfoSet::device(const SP_DEVINFO_DATA* data, DWORD& error) const
{
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        error = ERROR_INVALID_USER_BUFFER;
        return nullptr;
    }
    for (auto& d : devices)
        if (reinterpret_cast<ULONG_PTR>(d.get()) == data->Reserved) {
            error = NO_ERROR;
            return d.get();
        }
    error = ERROR_INVALID_PARAMETER;
    return nullptr;
}

void DeviceInfoSet::describe(const Device& d, SP_DEVINFO_DATA& data) const
{
    data.ClassGuid = d.classGuid;
    data.DevInst = d.devInst;
    data.Reserved = reinterpret_cast<ULONG_PTR>(&d);
}

HDEVINFO DeviceInfoSet::add(std::shared_ptr<DeviceInfoSet> set)
{
    return reinterpret_cast<HDEVINFO>(sets().insert(std::move(set)));
}

std::shared_ptr<DeviceInfoSet> DeviceInfoSet::fromHandle(HDEVINFO handle)
{
    return sets().find(reinterpret_cast<uintptr_t>(handle)).value_or(nullptr);
}

bool DeviceInfoSet::close(HDEVINFO handle)
{
    return sets().take(reinterpret_cast<uintptr_t>(handle)).has_value();
}

DWORD needAdministrator()
{
    return Token::effective().admin ? NO_ERROR : ERROR_ACCESS_DENIED;
}

DWORD associateService(Device& device, const std::string& service)
{
    registry::ValueData value = devreg::stringValue(service);
    if (!device.registered) {
        device.pending["Service"] = value;
        return NO_ERROR;
    }
    return static_cast<DWORD>(devreg::writeDeviceValue(device.instanceId, "Service", value));
}

DWORD registerDevice(Device& device)
{
    if (device.removed)
        return ERROR_NO_SUCH_DEVINST;
    if (device.registered)
        return NO_ERROR;
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    if (LONG status = devreg::createDeviceKey(device.instanceId); status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    if (DWORD error = writeOnRegistration(device); error != NO_ERROR) {
        devreg::deleteDeviceKey(device.instanceId);
        return error;
    }
    device.registered = true;
    device.pending.clear();
    return NO_ERROR;
}

DWORD removeDeviceKeys(Device& device)
{
    if (device.removed)
        return ERROR_NO_SUCH_DEVINST;
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    if (device.registered) {
        bool deleted = false;
        if (DWORD error = deleteKeyOf(device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, deleted); error != NO_ERROR)
            return error;
        if (LONG status = devreg::deleteDeviceKey(device.instanceId); status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
    }
    device.removed = true;
    return NO_ERROR;
}

namespace devinst {

DWORD classGuidsFromName(const std::string& name, LPGUID list, DWORD size, PDWORD required)
{
    std::vector<GUID> found;
    for (auto& entry : devreg::classes())
        if (inf::equalsFolded(fromAnsi(entry.name), name))
            found.push_back(entry.guid);
    return copyGuids(found, list, size, required);
}

DWORD classGuidsFromName(PCWSTR className, LPGUID list, DWORD size, PDWORD required)
{
    if (!className)
        return ERROR_INVALID_PARAMETER;
    return classGuidsFromName(argument(className), list, size, required);
}

DWORD classNameFromGuid(const GUID* guid, const TextBuffer& name, PDWORD required)
{
    if (!guid)
        return ERROR_INVALID_PARAMETER;
    auto entry = devreg::findClass(*guid);
    if (!entry || entry->name.empty())
        return ERROR_INVALID_CLASS;
    return copyDiText(fromAnsi(entry->name), name, required);
}

DWORD classNameFromGuid(const GUID* guid, PWSTR name, DWORD size, PDWORD required)
{
    return classNameFromGuid(guid, TextBuffer::wide(name, size), required);
}

DWORD classDescription(const GUID* guid, const TextBuffer& text, PDWORD required)
{
    if (!guid)
        return ERROR_INVALID_PARAMETER;
    auto entry = devreg::findClass(*guid);
    if (!entry)
        return ERROR_INVALID_CLASS;
    return copyDiText(fromAnsi(entry->description), text, required);
}

DWORD classDescription(const GUID* guid, PWSTR text, DWORD size, PDWORD required)
{
    return classDescription(guid, TextBuffer::wide(text, size), required);
}

DWORD buildClassInfoList(DWORD flags, LPGUID list, DWORD size, PDWORD required)
{
    if (flags & ~DWORD(DIBCI_NOINSTALLCLASS | DIBCI_NODISPLAYCLASS))
        return ERROR_INVALID_FLAGS;
    std::vector<GUID> found;
    for (auto& entry : devreg::classes()) {
        if (entry.noUse || ((flags & DIBCI_NOINSTALLCLASS) && entry.noInstall)
            || ((flags & DIBCI_NODISPLAYCLASS) && entry.noDisplay))
            continue;
        found.push_back(entry.guid);
    }
    return copyGuids(found, list, size, required);
}

DWORD createDeviceInfoList(const GUID* classGuid, HWND parent, HDEVINFO& out)
{
    auto set = std::make_shared<DeviceInfoSet>();
    if (classGuid) {
        set->hasClass = true;
        set->classGuid = *classGuid;
    }
    set->parent = parent;
    out = DeviceInfoSet::add(std::move(set));
    return NO_ERROR;
}

DWORD getClassDevsOf(const GUID* classGuid, const std::string* enumerator, HWND parent, DWORD flags, HDEVINFO& out)
{
    constexpr DWORD known = DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE;
    // NT 4.0 has no device interfaces.
    if (flags & ~known)
        return ERROR_INVALID_FLAGS;
    bool all = flags & DIGCF_ALLCLASSES;
    if (!all && !classGuid)
        return ERROR_INVALID_PARAMETER;
    std::vector<devreg::EnumEntry> entries;
    if (!devreg::enumeratedDevices(enumerator ? toAnsi(*enumerator) : "", entries))
        return ERROR_INVALID_DATA;
    auto set = std::make_shared<DeviceInfoSet>();
    set->hasClass = !all;
    if (!all)
        set->classGuid = *classGuid;
    set->parent = parent;
    // Every device this machine has is root-enumerated, and the root
    // enumerator keeps its devices present.
    for (auto& entry : entries) {
        if (!all && !(entry.hasClass && devreg::sameGuid(entry.classGuid, *classGuid)))
            continue;
        set->devices.push_back(registeredDevice(entry));
    }
    out = DeviceInfoSet::add(std::move(set));
    return NO_ERROR;
}

DWORD getClassDevs(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags, HDEVINFO& out)
{
    std::string text;
    return getClassDevsOf(classGuid, optionalArgument(enumerator, text), parent, flags, out);
}

DWORD destroyDeviceInfoList(HDEVINFO set)
{
    return DeviceInfoSet::close(set) ? NO_ERROR : ERROR_INVALID_HANDLE;
}

DWORD deviceInfoListClass(HDEVINFO handle, LPGUID guid)
{
    Target t;
    if (DWORD error = resolve(handle, nullptr, false, t); error != NO_ERROR)
        return error;
    if (!guid)
        return ERROR_INVALID_PARAMETER;
    if (!t.set->hasClass)
        return ERROR_NO_ASSOCIATED_CLASS;
    *guid = t.set->classGuid;
    return NO_ERROR;
}

DWORD createDeviceInfo(HDEVINFO handle, const std::string* name, const GUID* classGuid,
    const std::string* description, HWND, DWORD flags, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolve(handle, nullptr, false, t); error != NO_ERROR)
        return error;
    if (!classGuid || !name)
        return ERROR_INVALID_PARAMETER;
    if (flags & ~DWORD(DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS))
        return ERROR_INVALID_FLAGS;
    if (data && data->cbSize != sizeof(SP_DEVINFO_DATA))
        return ERROR_INVALID_USER_BUFFER;
    if (t.set->hasClass && !devreg::sameGuid(t.set->classGuid, *classGuid))
        return ERROR_CLASS_MISMATCH;
    std::string id;
    if (flags & DICD_GENERATE_ID) {
        if (!validDeviceName(*name))
            return ERROR_INVALID_DEVINST_NAME;
        if (DWORD error = generateId(*t.set, *name, id); error != NO_ERROR)
            return error;
    } else {
        if (!validInstanceId(*name))
            return ERROR_INVALID_DEVINST_NAME;
        if (idTaken(*t.set, *name))
            return ERROR_DEVINST_ALREADY_EXISTS;
        id = *name;
    }
    auto device = std::make_unique<Device>();
    device->instanceId = id;
    device->classGuid = *classGuid;
    device->description = description ? *description : std::string();
    device->devInst = devInstOf(id);
    if ((flags & DICD_INHERIT_CLASSDRVS) && t.set->classDrivers.built) {
        device->classDrivers = t.set->classDrivers;
        device->params.flags |= DI_DIDCLASS;
    }
    if (data)
        t.set->describe(*device, *data);
    t.set->devices.push_back(std::move(device));
    return NO_ERROR;
}

DWORD createDeviceInfo(HDEVINFO set, PCWSTR name, const GUID* classGuid, PCWSTR description, HWND parent, DWORD flags,
    PSP_DEVINFO_DATA data)
{
    std::string nameText, descriptionText;
    return createDeviceInfo(set, optionalArgument(name, nameText), classGuid,
        optionalArgument(description, descriptionText), parent, flags, data);
}

DWORD openDeviceInfo(HDEVINFO handle, const std::string* instanceId, HWND, DWORD flags, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolve(handle, nullptr, false, t); error != NO_ERROR)
        return error;
    if (!instanceId)
        return ERROR_INVALID_PARAMETER;
    if (flags & ~DWORD(DIOD_INHERIT_CLASSDRVS | DIOD_CANCEL_REMOVE))
        return ERROR_INVALID_FLAGS;
    if (data && data->cbSize != sizeof(SP_DEVINFO_DATA))
        return ERROR_INVALID_USER_BUFFER;
    // An element the set has already is the one it gives.
    for (auto& device : t.set->devices) {
        if (!equalsNoCase(device->instanceId, *instanceId))
            continue;
        if (data)
            t.set->describe(*device, *data);
        return NO_ERROR;
    }
    std::vector<devreg::EnumEntry> entries;
    devreg::enumeratedDevices("", entries);
    for (auto& entry : entries) {
        if (!equalsNoCase(entry.instanceId, *instanceId))
            continue;
        if (t.set->hasClass && !(entry.hasClass && devreg::sameGuid(entry.classGuid, t.set->classGuid)))
            return ERROR_CLASS_MISMATCH;
        auto device = registeredDevice(entry);
        if ((flags & DIOD_INHERIT_CLASSDRVS) && t.set->classDrivers.built) {
            device->classDrivers = t.set->classDrivers;
            device->params.flags |= DI_DIDCLASS;
        }
        if (data)
            t.set->describe(*device, *data);
        t.set->devices.push_back(std::move(device));
        return NO_ERROR;
    }
    return ERROR_NO_SUCH_DEVINST;
}

DWORD enumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolve(handle, nullptr, false, t); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(data); error != NO_ERROR)
        return error;
    if (index >= t.set->devices.size())
        return ERROR_NO_MORE_ITEMS;
    t.set->describe(*t.set->devices[index], *data);
    return NO_ERROR;
}

DWORD deleteDeviceInfo(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolve(handle, data, true, t); error != NO_ERROR)
        return error;
    // The element leaves the set; the device stays on the machine.
    if (t.set->selectedDevice == t.device)
        t.set->selectedDevice = nullptr;
    auto& devices = t.set->devices;
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        if (it->get() == t.device) {
            devices.erase(it);
            break;
        }
    }
    return NO_ERROR;
}

DWORD deviceInstanceId(HDEVINFO handle, PSP_DEVINFO_DATA data, const TextBuffer& id, PDWORD required)
{
    Target t;
    if (DWORD error = resolveLive(handle, data, t); error != NO_ERROR)
        return error;
    return copyDiText(t.device->instanceId, id, required);
}

DWORD deviceInstanceId(HDEVINFO handle, PSP_DEVINFO_DATA data, PWSTR id, DWORD size, PDWORD required)
{
    return deviceInstanceId(handle, data, TextBuffer::wide(id, size), required);
}

DWORD getProperty(Charset charset, HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer,
    DWORD size, PDWORD required)
{
    Target t;
    if (DWORD error = resolveLive(handle, data, t); error != NO_ERROR)
        return error;
    const PropertyName* p = propertyName(property);
    if (!p)
        return ERROR_INVALID_REG_PROPERTY;
    if (!buffer && size)
        return ERROR_INVALID_USER_BUFFER;
    registry::ValueData value;
    if (t.device->registered) {
        if (devreg::readDeviceValue(t.device->instanceId, p->value, value) != ERROR_SUCCESS)
            return ERROR_INVALID_DATA;
    } else if (!unregisteredValue(*t.device, p->value, value)) {
        return ERROR_INVALID_DATA;
    }
    std::vector<BYTE> bytes = propertyBytes(charset, value);
    if (type)
        *type = value.type;
    if (required)
        *required = static_cast<DWORD>(bytes.size());
    if (size < bytes.size())
        return ERROR_INSUFFICIENT_BUFFER;
    if (!bytes.empty())
        std::memcpy(buffer, bytes.data(), bytes.size());
    return NO_ERROR;
}

DWORD getProperty(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer, DWORD size,
    PDWORD required)
{
    return getProperty(Charset::Wide, set, data, property, type, buffer, size, required);
}

DWORD setProperty(Charset charset, HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, const BYTE* buffer,
    DWORD size)
{
    Target t;
    if (DWORD error = resolveLive(handle, data, t); error != NO_ERROR)
        return error;
    const PropertyName* p = propertyName(property);
    if (!p || !p->settable)
        return ERROR_INVALID_REG_PROPERTY;
    if (!buffer && size)
        return ERROR_INVALID_USER_BUFFER;
    bool clear = size == 0;
    registry::ValueData value;
    value.type = p->type;
    if (!clear && p->type == REG_DWORD) {
        if (size != sizeof(DWORD))
            return ERROR_INVALID_DATA;
        value.data.assign(buffer, buffer + size);
    } else if (!clear && charset == Charset::Ansi) {
        value.data.assign(buffer, buffer + size);
    } else if (!clear) {
        if (size % sizeof(WCHAR))
            return ERROR_INVALID_DATA;
        std::u16string wide(size / sizeof(WCHAR), u'\0');
        std::memcpy(wide.data(), buffer, size);
        std::string text;
        fromUtf16(wide, ansiCodePage(), text);
        value.data.assign(text.begin(), text.end());
    }
    if (!t.device->registered) {
        if (clear)
            t.device->pending.erase(p->value);
        else
            t.device->pending[p->value] = value;
        return NO_ERROR;
    }
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    LONG status = clear ? devreg::deleteDeviceValue(t.device->instanceId, p->value)
                        : devreg::writeDeviceValue(t.device->instanceId, p->value, value);
    if (clear && status == ERROR_FILE_NOT_FOUND)
        status = ERROR_SUCCESS;
    return static_cast<DWORD>(status);
}

DWORD setProperty(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, const BYTE* buffer, DWORD size)
{
    return setProperty(Charset::Wide, set, data, property, buffer, size);
}

template<typename Record>
DWORD getInstallParams(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* params)
{
    Target t;
    if (DWORD error = resolve(handle, data, false, t); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(params); error != NO_ERROR)
        return error;
    const InstallParams& p = t.device ? t.device->params : t.set->params;
    params->Flags = p.flags;
    params->FlagsEx = p.flagsEx;
    params->InstallMsgHandlerContext = p.handlerContext;
    params->FileQueue = p.fileQueue;
    params->ClassInstallReserved = p.classInstallReserved;
    params->Reserved = 0;
    readParams(p, t.set->parent, *params);
    return NO_ERROR;
}

template<typename Record>
DWORD setInstallParams(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* params)
{
    Target t;
    if (DWORD error = resolve(handle, data, false, t); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(params); error != NO_ERROR)
        return error;
    std::string path;
    if (!driverPath(*params, path))
        return ERROR_INVALID_PARAMETER;
    InstallParams& p = t.device ? t.device->params : t.set->params;
    p.flags = params->Flags;
    p.flagsEx = params->FlagsEx;
    p.parent = params->hwndParent;
    p.handler = reinterpret_cast<void*>(params->InstallMsgHandler);
    p.handlerCharset = charsetOf<Record>();
    p.handlerContext = params->InstallMsgHandlerContext;
    p.fileQueue = params->FileQueue;
    p.classInstallReserved = params->ClassInstallReserved;
    p.driverPath = path;
    return NO_ERROR;
}

template DWORD getInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DEVINSTALL_PARAMS_A*);
template DWORD getInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DEVINSTALL_PARAMS_W*);
template DWORD setInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DEVINSTALL_PARAMS_A*);
template DWORD setInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DEVINSTALL_PARAMS_W*);

DWORD getClassInstallParams(HDEVINFO handle, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size,
    PDWORD required)
{
    Target t;
    if (DWORD error = resolve(handle, data, false, t); error != NO_ERROR)
        return error;
    const InstallParams& p = t.device ? t.device->params : t.set->params;
    if (!(p.flags & DI_CLASSINSTALLPARAMS) || p.classInstallParams.empty())
        return ERROR_NO_CLASSINSTALL_PARAMS;
    if (params && params->cbSize != sizeof(SP_CLASSINSTALL_HEADER))
        return ERROR_INVALID_USER_BUFFER;
    if (!params && size)
        return ERROR_INVALID_USER_BUFFER;
    auto needed = static_cast<DWORD>(p.classInstallParams.size());
    if (required)
        *required = needed;
    if (!params || size < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(params, p.classInstallParams.data(), needed);
    return NO_ERROR;
}

DWORD setClassInstallParams(HDEVINFO handle, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size)
{
    Target t;
    if (DWORD error = resolve(handle, data, false, t); error != NO_ERROR)
        return error;
    InstallParams& p = t.device ? t.device->params : t.set->params;
    // No record clears them.
    if (!params) {
        if (size)
            return ERROR_INVALID_PARAMETER;
        p.classInstallParams.clear();
        p.flags &= ~DWORD(DI_CLASSINSTALLPARAMS);
        return NO_ERROR;
    }
    if (params->cbSize != sizeof(SP_CLASSINSTALL_HEADER) || size < sizeof(SP_CLASSINSTALL_HEADER))
        return ERROR_INVALID_USER_BUFFER;
    if (params->InstallFunction < DIF_SELECTDEVICE || params->InstallFunction > DIF_REGISTERDEVICE)
        return ERROR_INVALID_PARAMETER;
    auto* bytes = reinterpret_cast<const BYTE*>(params);
    p.classInstallParams.assign(bytes, bytes + size);
    p.flags |= DI_CLASSINSTALLPARAMS;
    return NO_ERROR;
}

DWORD getSelectedDevice(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolve(handle, nullptr, false, t); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(data); error != NO_ERROR)
        return error;
    if (!t.set->selectedDevice)
        return ERROR_NO_DEVICE_SELECTED;
    t.set->describe(*t.set->selectedDevice, *data);
    return NO_ERROR;
}

DWORD setSelectedDevice(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolve(handle, data, true, t); error != NO_ERROR)
        return error;
    t.set->selectedDevice = t.device;
    return NO_ERROR;
}

DWORD registerDeviceInfo(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD flags, PSP_DETSIG_CMPPROC compare,
    PVOID compareContext, PSP_DEVINFO_DATA duplicate)
{
    Target t;
    if (DWORD error = resolveLive(handle, data, t); error != NO_ERROR)
        return error;
    if (flags & ~DWORD(SPRDI_FIND_DUPS))
        return ERROR_INVALID_FLAGS;
    if ((flags & SPRDI_FIND_DUPS) && !t.device->registered)
        if (DWORD error = findDuplicate(handle, *t.set, *t.device, compare, compareContext, duplicate);
            error != NO_ERROR)
            return error;
    return registerDevice(*t.device);
}

DWORD removeDevice(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = resolveLive(handle, data, t); error != NO_ERROR)
        return error;
    return removeDeviceKeys(*t.device);
}

DWORD deleteDevRegKey(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType)
{
    Target t;
    if (DWORD error = resolve(handle, data, true, t); error != NO_ERROR)
        return error;
    if (scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC)
        return ERROR_INVALID_FLAGS;
    if (keyType != DIREG_DEV && keyType != DIREG_DRV && keyType != DIREG_BOTH)
        return ERROR_INVALID_FLAGS;
    if (t.device->removed)
        return ERROR_NO_SUCH_DEVINST;
    if (!t.device->registered)
        return ERROR_DEVINFO_NOT_REGISTERED;
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    bool deleted = false;
    for (DWORD type : { DWORD(DIREG_DEV), DWORD(DIREG_DRV) }) {
        if (keyType != DIREG_BOTH && keyType != type)
            continue;
        if (DWORD error = deleteKeyOf(*t.device, scope, profile, type, deleted); error != NO_ERROR)
            return error;
    }
    return deleted ? NO_ERROR : ERROR_FILE_NOT_FOUND;
}

}

}

using namespace ntsim;
using namespace ntsim::setupapi;

BOOL WINAPI SetupDiClassGuidsFromNameA(PCSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiClassGuidsFromNameA", ClassName, ClassGuidList, ClassGuidListSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    if (!ClassName)
        return call.returns(report(ERROR_INVALID_PARAMETER));
    return call.returns(report(devinst::classGuidsFromName(argument(ClassName), ClassGuidList, ClassGuidListSize,
        RequiredSize)));
}

BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiClassGuidsFromNameW", ClassName, ClassGuidList, ClassGuidListSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::classGuidsFromName(ClassName, ClassGuidList, ClassGuidListSize, RequiredSize)));
}

BOOL WINAPI SetupDiClassNameFromGuidA(const GUID* ClassGuid, PSTR ClassName, DWORD ClassNameSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiClassNameFromGuidA", ClassGuid, ClassName, ClassNameSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::classNameFromGuid(ClassGuid, TextBuffer::ansi(ClassName, ClassNameSize),
        RequiredSize)));
}

BOOL WINAPI SetupDiClassNameFromGuidW(const GUID* ClassGuid, PWSTR ClassName, DWORD ClassNameSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiClassNameFromGuidW", ClassGuid, ClassName, ClassNameSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::classNameFromGuid(ClassGuid, TextBuffer::wide(ClassName, ClassNameSize),
        RequiredSize)));
}

BOOL WINAPI SetupDiGetClassDescriptionA(const GUID* ClassGuid, PSTR ClassDescription, DWORD ClassDescriptionSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetClassDescriptionA", ClassGuid, ClassDescription, ClassDescriptionSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::classDescription(ClassGuid,
        TextBuffer::ansi(ClassDescription, ClassDescriptionSize), RequiredSize)));
}

BOOL WINAPI SetupDiGetClassDescriptionW(const GUID* ClassGuid, PWSTR ClassDescription, DWORD ClassDescriptionSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetClassDescriptionW", ClassGuid, ClassDescription, ClassDescriptionSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::classDescription(ClassGuid,
        TextBuffer::wide(ClassDescription, ClassDescriptionSize), RequiredSize)));
}

BOOL WINAPI SetupDiBuildClassInfoList(DWORD Flags, LPGUID ClassGuidList, DWORD ClassGuidListSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiBuildClassInfoList", Flags, ClassGuidList, ClassGuidListSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::buildClassInfoList(Flags, ClassGuidList, ClassGuidListSize, RequiredSize)));
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent)
{
    ntsim::ApiCall call("SetupDiCreateDeviceInfoList", ClassGuid, hwndParent);
    HDEVINFO set = INVALID_HANDLE_VALUE;
    if (!call.faulted())
        report(devinst::createDeviceInfoList(ClassGuid, hwndParent, set));
    return call.returns(set);
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    ntsim::ApiCall call("SetupDiGetClassDevsA", ClassGuid, Enumerator, hwndParent, Flags);
    HDEVINFO set = INVALID_HANDLE_VALUE;
    std::string enumerator;
    if (!call.faulted())
        report(devinst::getClassDevsOf(ClassGuid, optionalArgument(Enumerator, enumerator), hwndParent, Flags, set));
    return call.returns(set);
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    ntsim::ApiCall call("SetupDiGetClassDevsW", ClassGuid, Enumerator, hwndParent, Flags);
    HDEVINFO set = INVALID_HANDLE_VALUE;
    if (!call.faulted())
        report(devinst::getClassDevs(ClassGuid, Enumerator, hwndParent, Flags, set));
    return call.returns(set);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    ntsim::ApiCall call("SetupDiDestroyDeviceInfoList", DeviceInfoSet);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::destroyDeviceInfoList(DeviceInfoSet)));
}

BOOL WINAPI SetupDiGetDeviceInfoListClass(HDEVINFO DeviceInfoSet, LPGUID ClassGuid)
{
    ntsim::ApiCall call("SetupDiGetDeviceInfoListClass", DeviceInfoSet, ClassGuid);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::deviceInfoListClass(DeviceInfoSet, ClassGuid)));
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName, const GUID* ClassGuid,
    PCSTR DeviceDescription, HWND hwndParent, DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiCreateDeviceInfoA", DeviceInfoSet, DeviceName, ClassGuid, DeviceDescription, hwndParent, CreationFlags, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    std::string name, description;
    return call.returns(report(devinst::createDeviceInfo(DeviceInfoSet, optionalArgument(DeviceName, name), ClassGuid,
        optionalArgument(DeviceDescription, description), hwndParent, CreationFlags, DeviceInfoData)));
}

BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceName, const GUID* ClassGuid,
    PCWSTR DeviceDescription, HWND hwndParent, DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiCreateDeviceInfoW", DeviceInfoSet, DeviceName, ClassGuid, DeviceDescription, hwndParent, CreationFlags, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::createDeviceInfo(DeviceInfoSet, DeviceName, ClassGuid, DeviceDescription,
        hwndParent, CreationFlags, DeviceInfoData)));
}

BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
    PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiOpenDeviceInfoA", DeviceInfoSet, DeviceInstanceId, hwndParent, OpenFlags, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    std::string id;
    return call.returns(report(devinst::openDeviceInfo(DeviceInfoSet, optionalArgument(DeviceInstanceId, id),
        hwndParent, OpenFlags, DeviceInfoData)));
}

BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
    PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiOpenDeviceInfoW", DeviceInfoSet, DeviceInstanceId, hwndParent, OpenFlags, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    std::string id;
    return call.returns(report(devinst::openDeviceInfo(DeviceInfoSet, optionalArgument(DeviceInstanceId, id),
        hwndParent, OpenFlags, DeviceInfoData)));
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiEnumDeviceInfo", DeviceInfoSet, MemberIndex, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::enumDeviceInfo(DeviceInfoSet, MemberIndex, DeviceInfoData)));
}

BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiDeleteDeviceInfo", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::deleteDeviceInfo(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetDeviceInstanceIdA", DeviceInfoSet, DeviceInfoData, DeviceInstanceId, DeviceInstanceIdSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::deviceInstanceId(DeviceInfoSet, DeviceInfoData,
        TextBuffer::ansi(DeviceInstanceId, DeviceInstanceIdSize), RequiredSize)));
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetDeviceInstanceIdW", DeviceInfoSet, DeviceInfoData, DeviceInstanceId, DeviceInstanceIdSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::deviceInstanceId(DeviceInfoSet, DeviceInfoData,
        TextBuffer::wide(DeviceInstanceId, DeviceInstanceIdSize), RequiredSize)));
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
    PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetDeviceRegistryPropertyA", DeviceInfoSet, DeviceInfoData, Property, PropertyRegDataType, PropertyBuffer, PropertyBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getProperty(Charset::Ansi, DeviceInfoSet, DeviceInfoData, Property,
        PropertyRegDataType, PropertyBuffer, PropertyBufferSize, RequiredSize)));
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
    PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetDeviceRegistryPropertyW", DeviceInfoSet, DeviceInfoData, Property, PropertyRegDataType, PropertyBuffer, PropertyBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getProperty(Charset::Wide, DeviceInfoSet, DeviceInfoData, Property,
        PropertyRegDataType, PropertyBuffer, PropertyBufferSize, RequiredSize)));
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
    const BYTE* PropertyBuffer, DWORD PropertyBufferSize)
{
    ntsim::ApiCall call("SetupDiSetDeviceRegistryPropertyA", DeviceInfoSet, DeviceInfoData, Property, PropertyBuffer, PropertyBufferSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setProperty(Charset::Ansi, DeviceInfoSet, DeviceInfoData, Property,
        PropertyBuffer, PropertyBufferSize)));
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
    const BYTE* PropertyBuffer, DWORD PropertyBufferSize)
{
    ntsim::ApiCall call("SetupDiSetDeviceRegistryPropertyW", DeviceInfoSet, DeviceInfoData, Property, PropertyBuffer, PropertyBufferSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setProperty(Charset::Wide, DeviceInfoSet, DeviceInfoData, Property,
        PropertyBuffer, PropertyBufferSize)));
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    ntsim::ApiCall call("SetupDiGetDeviceInstallParamsA", DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getInstallParams(DeviceInfoSet, DeviceInfoData, DeviceInstallParams)));
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_W DeviceInstallParams)
{
    ntsim::ApiCall call("SetupDiGetDeviceInstallParamsW", DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getInstallParams(DeviceInfoSet, DeviceInfoData, DeviceInstallParams)));
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    ntsim::ApiCall call("SetupDiSetDeviceInstallParamsA", DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setInstallParams(DeviceInfoSet, DeviceInfoData, DeviceInstallParams)));
}

BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_W DeviceInstallParams)
{
    ntsim::ApiCall call("SetupDiSetDeviceInstallParamsW", DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setInstallParams(DeviceInfoSet, DeviceInfoData, DeviceInstallParams)));
}

BOOL WINAPI SetupDiGetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetClassInstallParamsA", DeviceInfoSet, DeviceInfoData, ClassInstallParams, ClassInstallParamsSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getClassInstallParams(DeviceInfoSet, DeviceInfoData, ClassInstallParams,
        ClassInstallParamsSize, RequiredSize)));
}

BOOL WINAPI SetupDiGetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetClassInstallParamsW", DeviceInfoSet, DeviceInfoData, ClassInstallParams, ClassInstallParamsSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getClassInstallParams(DeviceInfoSet, DeviceInfoData, ClassInstallParams,
        ClassInstallParamsSize, RequiredSize)));
}

BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize)
{
    ntsim::ApiCall call("SetupDiSetClassInstallParamsA", DeviceInfoSet, DeviceInfoData, ClassInstallParams, ClassInstallParamsSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setClassInstallParams(DeviceInfoSet, DeviceInfoData, ClassInstallParams,
        ClassInstallParamsSize)));
}

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize)
{
    ntsim::ApiCall call("SetupDiSetClassInstallParamsW", DeviceInfoSet, DeviceInfoData, ClassInstallParams, ClassInstallParamsSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setClassInstallParams(DeviceInfoSet, DeviceInfoData, ClassInstallParams,
        ClassInstallParamsSize)));
}

BOOL WINAPI SetupDiGetSelectedDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiGetSelectedDevice", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getSelectedDevice(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiSetSelectedDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiSetSelectedDevice", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setSelectedDevice(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Flags,
    PSP_DETSIG_CMPPROC CompareProc, PVOID CompareContext, PSP_DEVINFO_DATA DupDeviceInfoData)
{
    ntsim::ApiCall call("SetupDiRegisterDeviceInfo", DeviceInfoSet, DeviceInfoData, Flags, CompareProc, CompareContext, DupDeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::registerDeviceInfo(DeviceInfoSet, DeviceInfoData, Flags, CompareProc,
        CompareContext, DupDeviceInfoData)));
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiRemoveDevice", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::removeDevice(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiDeleteDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType)
{
    ntsim::ApiCall call("SetupDiDeleteDevRegKey", DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::deleteDevRegKey(DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType)));
}
