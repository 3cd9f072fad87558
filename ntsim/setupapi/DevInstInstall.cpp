// SetupDiCallClassInstaller: the class's installer first, then the
// default action of the function unless the installer did the work; and
// the default device installation.
#include "DevInst.h"

#include "DeviceRegistry.h"
#include "InstallSupport.h"

#include "desk/Desk.h"
#include "machine/ApiCall.h"
#include "machine/NtPath.h"

namespace ntsim::setupapi {

namespace {

struct BuiltInInstaller {
    const char* dll;
    const char* entry;
    ClassInstallerProc proc;
};

// The class installers this machine has, by the "dll,entry" a class key names.
constexpr BuiltInInstaller builtInInstallers[] = {
    { "MODEMUI.DLL", "ClassInstall", modemClassInstaller },
    { "MODEMUI.DLL", "ClassInstall32", modemClassInstaller },
};

std::string trimmed(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// The installer of a class, null for a class without one.
DWORD installerOf(const GUID& classGuid, ClassInstallerProc& out)
{
    out = nullptr;
    auto entry = devreg::findClass(classGuid);
    if (!entry || entry->installer.empty())
        return NO_ERROR;
    size_t comma = entry->installer.find(',');
    std::string dll = trimmed(entry->installer.substr(0, comma));
    std::string function = comma == std::string::npos ? std::string() : trimmed(entry->installer.substr(comma + 1));
    for (auto& builtIn : builtInInstallers)
        if (equalsNoCase(dll, builtIn.dll) && function == builtIn.entry) {
            out = builtIn.proc;
            return NO_ERROR;
        }
    return ERROR_INVALID_CLASS_INSTALLER;
}

// The first compatible driver is the best one: the list is kept in rank order.
DWORD selectBestCompatibleDriver(Device& device)
{
    if (!device.compatDrivers.built)
        return ERROR_NO_COMPAT_DRIVERS;
    if (device.compatDrivers.nodes.empty())
        return ERROR_NO_COMPAT_DRIVERS;
    device.selectedType = SPDIT_COMPATDRIVER;
    device.selectedSerial = device.compatDrivers.nodes.front().serial;
    return NO_ERROR;
}

DWORD defaultAction(DI_FUNCTION function, DeviceInfoSet& set, Device* device)
{
    std::string driverKey;
    switch (function) {
    case DIF_INSTALLDEVICE:
        return installDevice(set, *device, driverKey);
    case DIF_REMOVE:
        return removeDeviceKeys(*device);
    case DIF_REGISTERDEVICE:
        return registerDevice(*device);
    case DIF_SELECTBESTCOMPATDRV:
        return selectBestCompatibleDriver(*device);
    case DIF_DESTROYPRIVATEDATA:
        return NO_ERROR;
    default:
        // What would need a person (selecting, properties) or hardware.
        return ERROR_DI_DO_DEFAULT;
    }
}

// The flags a device install was given change nothing the machine shows
// (it has no progress or found-new-hardware windows), so the desk's
// transcript keeps them for a test to read.
void recordDeviceInstall(const DeviceInfoSet& set, const Device& device)
{
    HWND owner = device.params.parent ? device.params.parent : set.parent;
    Json fields = Json::object();
    fields["device"] = device.instanceId;
    fields["flags"] = static_cast<int64_t>(device.params.flags);
    if (owner)
        fields["owner"] = static_cast<int64_t>(reinterpret_cast<uintptr_t>(owner));
    else
        fields["owner"] = nullptr;
    desk::record("device-install", fields);
}

bool needsDevice(DI_FUNCTION function)
{
    return function == DIF_INSTALLDEVICE || function == DIF_REMOVE || function == DIF_REGISTERDEVICE
        || function == DIF_SELECTBESTCOMPATDRV;
}

// The value InfPath takes: the name of an INF of the INF directory, else its path.
std::string infPathValue(const std::string& infPath)
{
    std::string dir = ntParent(infPath);
    return equalsNoCase(dir, "C:\\WINNT\\INF") ? infPath.substr(fileNamePart(infPath)) : infPath;
}

DWORD runInstallSection(const DeviceInfoSet& set, const Device& device, const InfFile& file,
    const inf::Section& section, HKEY driverKey)
{
    UINT flags = SPINST_ALL;
    if (device.params.flags & DI_NOFILECOPY)
        flags &= ~UINT(SPINST_FILES);
    HWND owner = device.params.parent ? device.params.parent : set.parent;
    PVOID context = SetupInitDefaultQueueCallback(owner);
    if (!context)
        return GetLastError();
    DWORD error = installFromSection(owner, file, section, flags, driverKey, file.directory(), SP_COPY_NEWER,
        SetupDefaultQueueCallbackA, context, true);
    SetupTermDefaultQueueCallback(context);
    return error;
}

}

DWORD installDevice(DeviceInfoSet& set, Device& device, std::string& driverKeyName)
{
    if (device.removed)
        return ERROR_NO_SUCH_DEVINST;
    const DriverNode* node = device.selectedDriver();
    if (!node)
        return ERROR_NO_DRIVER_SELECTED;
    if (!device.registered)
        return ERROR_DEVINFO_NOT_REGISTERED;
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    std::unique_ptr<InfFile> file;
    if (DWORD error = loadInfFile(node->infPath, nullptr, INF_STYLE_WIN4, nullptr, file); error != NO_ERROR)
        return error;
    const inf::Section* section = file->section(node->section);
    if (!section)
        return ERROR_SECTION_NOT_FOUND;

    // A device installed before keeps its driver key.
    devreg::Key key;
    bool created = false;
    registry::ValueData driver;
    if (devreg::readDeviceValue(device.instanceId, "Driver", driver) == ERROR_SUCCESS
        && devreg::openDriverKey(devreg::valueText(driver), key) == ERROR_SUCCESS) {
        driverKeyName = devreg::valueText(driver);
    } else if (LONG status = devreg::createDriverKey(device.classGuid, driverKeyName, key); status != ERROR_SUCCESS) {
        return static_cast<DWORD>(status);
    } else {
        created = true;
    }
    std::vector<std::pair<const char*, std::string>> standard = {
        { "DriverDesc", node->description },
        { "ProviderName", node->provider },
        { "InfPath", infPathValue(node->infPath) },
        { "InfSection", node->section },
    };
    if (!node->ids.empty())
        standard.emplace_back("MatchingDeviceId", node->ids.front());
    DWORD error = NO_ERROR;
    for (auto& [name, text] : standard)
        if (error == NO_ERROR)
            error = static_cast<DWORD>(key.write(name, devreg::stringValue(text)));
    if (error == NO_ERROR)
        error = runInstallSection(set, device, *file, *section, key.handle());
    const std::pair<const char*, registry::ValueData> deviceValues[] = {
        { "Driver", devreg::stringValue(driverKeyName) },
        { "Mfg", devreg::stringValue(node->manufacturer) },
        { "DeviceDesc", devreg::stringValue(node->description) },
        { "ConfigFlags", devreg::dwordValue(0) },
    };
    for (auto& [name, value] : deviceValues)
        if (error == NO_ERROR)
            error = static_cast<DWORD>(devreg::writeDeviceValue(device.instanceId, name, value));
    if (error != NO_ERROR && created) {
        // A failed first install leaves no half-made driver key behind.
        key.close();
        devreg::deleteDriverKey(driverKeyName);
        devreg::deleteDeviceValue(device.instanceId, "Driver");
    }
    return error;
}

namespace devinst {

DWORD callClassInstaller(DI_FUNCTION function, HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    auto set = DeviceInfoSet::fromHandle(handle);
    if (!set)
        return ERROR_INVALID_HANDLE;
    Device* device = set->selectedDevice;
    if (data) {
        DWORD error = NO_ERROR;
        device = set->device(data, error);
        if (!device)
            return error;
    }
    if (needsDevice(function) && !device)
        return ERROR_NO_DEVICE_SELECTED;
    if (device && device->removed)
        return ERROR_NO_SUCH_DEVINST;
    if (function == DIF_INSTALLDEVICE && device)
        recordDeviceInstall(*set, *device);
    ClassInstallerProc installer = nullptr;
    if (device || set->hasClass)
        if (DWORD error = installerOf(device ? device->classGuid : set->classGuid, installer); error != NO_ERROR)
            return error;
    if (installer) {
        DWORD result = installer(function, *set, device);
        if (result != ERROR_DI_DO_DEFAULT)
            return result;
    }
    const InstallParams& params = device ? device->params : set->params;
    if (params.flags & DI_NODI_DEFAULTACTION)
        return ERROR_DI_DO_DEFAULT;
    return defaultAction(function, *set, device);
}

}

}

using namespace ntsim::setupapi;

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
    PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiCallClassInstaller", InstallFunction, DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::callClassInstaller(InstallFunction, DeviceInfoSet, DeviceInfoData)));
}
