// The registry keys of devices and classes a program opens through the
// device installer: a device's hardware and driver keys, a class's key, and
// the class an INF names. The handles given out act as the caller: the
// registry's own protection decides what they may do.
#include "DevInst.h"

#include "DeviceRegistry.h"
#include "InstallSupport.h"

#include "machine/ApiCall.h"

namespace ntsim::setupapi {

namespace {

constexpr char DeviceParameters[] = "Device Parameters";

bool validScope(DWORD scope)
{
    return scope == DICS_FLAG_GLOBAL || scope == DICS_FLAG_CONFIGSPECIFIC;
}

// The path below HKEY_LOCAL_MACHINE of a device's key of one kind; the
// driver key's only when the device has one.
DWORD keyPath(const Device& device, DWORD scope, DWORD profile, DWORD keyType, std::string& out)
{
    std::string path;
    if (keyType == DIREG_DEV) {
        path = std::string(devreg::EnumRoot) + "\\" + device.instanceId + "\\" + DeviceParameters;
    } else {
        registry::ValueData driver;
        if (devreg::readDeviceValue(device.instanceId, "Driver", driver) != ERROR_SUCCESS)
            return ERROR_KEY_DOES_NOT_EXIST;
        path = std::string(devreg::ClassRoot) + "\\" + devreg::valueText(driver);
    }
    out = scope == DICS_FLAG_CONFIGSPECIFIC ? devreg::profilePath(profile, path) : path;
    return NO_ERROR;
}

DWORD deviceForKey(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD scope, DWORD keyType, Target& t)
{
    if (DWORD error = resolveLive(handle, data, t); error != NO_ERROR)
        return error;
    if (!validScope(scope) || (keyType != DIREG_DEV && keyType != DIREG_DRV))
        return ERROR_INVALID_FLAGS;
    return t.device->registered ? NO_ERROR : ERROR_DEVINFO_NOT_REGISTERED;
}

// Makes the key a device's registry path names: its hardware key as the
// PnP manager makes it, a driver key as the installing user does, with the
// device's Driver value when it had none.
DWORD makeKey(Device& device, DWORD scope, DWORD profile, DWORD keyType, std::string& path, bool& created)
{
    if (keyType == DIREG_DRV && keyPath(device, scope, profile, keyType, path) != NO_ERROR) {
        devreg::Key key;
        std::string name;
        if (LONG status = devreg::createDriverKey(device.classGuid, name, key); status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
        key.close();
        if (LONG status = devreg::writeDeviceValue(device.instanceId, "Driver", devreg::stringValue(name));
            status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
    }
    if (DWORD error = keyPath(device, scope, profile, keyType, path); error != NO_ERROR)
        return error;
    registry::Key key(keyType == DIREG_DEV ? registry::Key::As::System : registry::Key::As::Caller);
    DWORD disposition = 0;
    LONG status = key.create(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, REG_OPTION_NON_VOLATILE, &disposition);
    created = disposition == REG_CREATED_NEW_KEY;
    return static_cast<DWORD>(status);
}

}

namespace devinst {

DWORD openDevRegKey(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType, REGSAM access,
    HKEY& out)
{
    Target t;
    if (DWORD error = deviceForKey(handle, data, scope, keyType, t); error != NO_ERROR)
        return error;
    std::string path;
    if (DWORD error = keyPath(*t.device, scope, profile, keyType, path); error != NO_ERROR)
        return error;
    LONG status = registry::openKey(HKEY_LOCAL_MACHINE, path.c_str(), access, &out);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_KEY_DOES_NOT_EXIST;
    return static_cast<DWORD>(status);
}

DWORD createDevRegKey(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType, HINF inf,
    const std::string* section, HKEY& out)
{
    Target t;
    if (DWORD error = deviceForKey(handle, data, scope, keyType, t); error != NO_ERROR)
        return error;
    InfFile* file = nullptr;
    const inf::Section* install = nullptr;
    if (inf && inf != INVALID_HANDLE_VALUE && section) {
        install = installSection(inf, section, file);
        if (!install)
            return GetLastError();
    }
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    std::string path;
    bool created = false;
    if (DWORD error = makeKey(*t.device, scope, profile, keyType, path, created); error != NO_ERROR)
        return error;
    // The caller's rights decide; a hardware key made for a caller who may
    // not have it goes again.
    if (LONG status = registry::openKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &out);
        status != ERROR_SUCCESS) {
        if (created && keyType == DIREG_DEV)
            registry::deleteSystemKeyTree(path);
        return static_cast<DWORD>(status);
    }
    // The section goes into the new key as its HKR; files are not its part.
    if (install) {
        DWORD error = installFromSection(t.set->parent, *file, *install, SPINST_ALL & ~DWORD(SPINST_FILES), out,
            file->directory(), 0, QueueCallback(), true);
        if (error != NO_ERROR) {
            registry::closeKey(out);
            return error;
        }
    }
    return NO_ERROR;
}

DWORD infClass(const std::string* infName, LPGUID guid, const TextBuffer& name, PDWORD required)
{
    if (!infName || !guid)
        return ERROR_INVALID_PARAMETER;
    std::unique_ptr<InfFile> file;
    if (DWORD error = loadInfFile(*infName, nullptr, INF_STYLE_WIN4 | INF_STYLE_OLDNT, nullptr, file);
        error != NO_ERROR)
        return error;
    std::string className = versionValue(*file, "Class");
    GUID found {};
    bool hasGuid = devreg::parseGuid(versionValue(*file, "ClassGUID"), found);
    // What the INF leaves out is found through the machine's classes.
    if (!hasGuid && className.empty())
        return ERROR_INVALID_CLASS;
    for (auto& entry : devreg::classes()) {
        if (hasGuid && className.empty() && devreg::sameGuid(entry.guid, found))
            className = fromAnsi(entry.name);
        if (!hasGuid && inf::equalsFolded(fromAnsi(entry.name), className)) {
            found = entry.guid;
            hasGuid = true;
        }
    }
    *guid = found;
    return copyDiText(className, name, required);
}

DWORD openClassRegKey(const GUID* guid, REGSAM access, DWORD flags, const std::string* machine, HKEY& out)
{
    if (machine && !machine->empty())
        return ERROR_INVALID_PARAMETER;
    if (flags != DIOCR_INSTALLER && flags != DIOCR_INTERFACE)
        return ERROR_INVALID_FLAGS;
    // NT 4.0 has no device interface classes.
    if (flags == DIOCR_INTERFACE)
        return ERROR_INVALID_CLASS;
    std::string path = devreg::ClassRoot;
    if (guid) {
        if (!devreg::findClass(*guid))
            return ERROR_INVALID_CLASS;
        path += "\\" + devreg::guidText(*guid);
    }
    return static_cast<DWORD>(registry::openKey(HKEY_LOCAL_MACHINE, path.c_str(), access, &out));
}

}

}

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

const HKEY NoKey = static_cast<HKEY>(INVALID_HANDLE_VALUE);

// A key result as the calls give it: the key, or INVALID_HANDLE_VALUE with
// the error as the last error.
HKEY keyResult(DWORD error, HKEY key)
{
    SetLastError(error);
    return error == NO_ERROR ? key : NoKey;
}

}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
    DWORD KeyType, REGSAM samDesired)
{
    ntsim::ApiCall call("SetupDiOpenDevRegKey", DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType, samDesired);
    if (call.faulted())
        return call.returns(NoKey);
    HKEY key = nullptr;
    DWORD error = devinst::openDevRegKey(DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType, samDesired, key);
    return call.returns(keyResult(error, key));
}

HKEY WINAPI SetupDiCreateDevRegKeyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType, HINF InfHandle, PCSTR InfSectionName)
{
    ntsim::ApiCall call("SetupDiCreateDevRegKeyA", DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType, InfHandle, InfSectionName);
    if (call.faulted())
        return call.returns(NoKey);
    HKEY key = nullptr;
    std::string section;
    DWORD error = devinst::createDevRegKey(DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType, InfHandle,
        optionalArgument(InfSectionName, section), key);
    return call.returns(keyResult(error, key));
}

HKEY WINAPI SetupDiCreateDevRegKeyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType, HINF InfHandle, PCWSTR InfSectionName)
{
    ntsim::ApiCall call("SetupDiCreateDevRegKeyW", DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType, InfHandle, InfSectionName);
    if (call.faulted())
        return call.returns(NoKey);
    HKEY key = nullptr;
    std::string section;
    DWORD error = devinst::createDevRegKey(DeviceInfoSet, DeviceInfoData, Scope, HwProfile, KeyType, InfHandle,
        optionalArgument(InfSectionName, section), key);
    return call.returns(keyResult(error, key));
}

BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName, DWORD ClassNameSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetINFClassA", InfName, ClassGuid, ClassName, ClassNameSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string name;
    return call.returns(report(devinst::infClass(optionalArgument(InfName, name), ClassGuid,
        TextBuffer::ansi(ClassName, ClassNameSize), RequiredSize)));
}

BOOL WINAPI SetupDiGetINFClassW(PCWSTR InfName, LPGUID ClassGuid, PWSTR ClassName, DWORD ClassNameSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetINFClassW", InfName, ClassGuid, ClassName, ClassNameSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string name;
    return call.returns(report(devinst::infClass(optionalArgument(InfName, name), ClassGuid,
        TextBuffer::wide(ClassName, ClassNameSize), RequiredSize)));
}

HKEY WINAPI SetupDiOpenClassRegKey(const GUID* ClassGuid, REGSAM samDesired)
{
    ntsim::ApiCall call("SetupDiOpenClassRegKey", ClassGuid, samDesired);
    if (call.faulted())
        return call.returns(NoKey);
    HKEY key = nullptr;
    DWORD error = devinst::openClassRegKey(ClassGuid, samDesired, DIOCR_INSTALLER, nullptr, key);
    return call.returns(keyResult(error, key));
}

HKEY WINAPI SetupDiOpenClassRegKeyExA(const GUID* ClassGuid, REGSAM samDesired, DWORD Flags, PCSTR MachineName,
    PVOID Reserved)
{
    ntsim::ApiCall call("SetupDiOpenClassRegKeyExA", ClassGuid, samDesired, Flags, MachineName, Reserved);
    if (call.faulted())
        return call.returns(NoKey);
    HKEY key = nullptr;
    std::string machine;
    DWORD error = devinst::openClassRegKey(ClassGuid, samDesired, Flags, optionalArgument(MachineName, machine), key);
    return call.returns(keyResult(error, key));
}

HKEY WINAPI SetupDiOpenClassRegKeyExW(const GUID* ClassGuid, REGSAM samDesired, DWORD Flags, PCWSTR MachineName,
    PVOID Reserved)
{
    ntsim::ApiCall call("SetupDiOpenClassRegKeyExW", ClassGuid, samDesired, Flags, MachineName, Reserved);
    if (call.faulted())
        return call.returns(NoKey);
    HKEY key = nullptr;
    std::string machine;
    DWORD error = devinst::openClassRegKey(ClassGuid, samDesired, Flags, optionalArgument(MachineName, machine), key);
    return call.returns(keyResult(error, key));
}
