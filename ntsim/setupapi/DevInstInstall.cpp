// SetupDiCallClassInstaller: the class's installer first, then the
// default action of the function unless the installer did the work; and
// the default handlers themselves, which a program or a class installer
// may also call: SetupDiInstallDevice, SetupDiInstallDriverFiles,
// SetupDiSelectBestCompatDrv, SetupDiRemoveDevice's work and
// SetupDiRegisterCoDeviceInstallers.
#include "DevInst.h"

#include "DeviceRegistry.h"
#include "InstallSupport.h"
#include "QueueSections.h"

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
    if (!device.compatDrivers.built || device.compatDrivers.nodes.empty())
        return ERROR_NO_COMPAT_DRIVERS;
    device.selectedType = SPDIT_COMPATDRIVER;
    device.selectedSerial = device.compatDrivers.nodes.front().serial;
    return NO_ERROR;
}

// The INF and the decorated install section of the device's selected driver.
struct SelectedSection {
    std::unique_ptr<InfFile> file;
    const inf::Section* section { nullptr };
    const DriverNode* node { nullptr };
};

DWORD selectedSection(const Device& device, SelectedSection& out)
{
    if (device.removed)
        return ERROR_NO_SUCH_DEVINST;
    out.node = device.selectedDriver();
    if (!out.node)
        return ERROR_NO_DRIVER_SELECTED;
    if (DWORD error = loadInfFile(out.node->infPath, nullptr, INF_STYLE_WIN4, nullptr, out.file); error != NO_ERROR)
        return error;
    out.section = out.file->section(actualSection(*out.file, out.node->section));
    return out.section ? NO_ERROR : ERROR_SECTION_NOT_FOUND;
}

// Installs the file directives of a device's section: onto the caller's
// queue when its install parameters ask (DI_NOVCP), else through a queue
// committed with the caller's callback or the default one.
DWORD installDeviceFiles(const DeviceInfoSet& set, const Device& device, const InfFile& file,
    const inf::Section& section)
{
    const InstallParams& params = device.params;
    if (params.flags & DI_NOFILECOPY)
        return NO_ERROR;
    if (params.flags & DI_NOVCP) {
        auto queue = FileQueue::fromHandle(params.fileQueue);
        if (!queue)
            return ERROR_INVALID_PARAMETER;
        return queueSectionFiles(*queue, file, file, section, file.directory(), SP_COPY_NEWER);
    }
    HWND owner = params.parent ? params.parent : set.parent;
    QueueCallback callback = params.callback();
    PVOID context = nullptr;
    if (!callback) {
        context = SetupInitDefaultQueueCallback(owner);
        if (!context)
            return GetLastError();
        callback = QueueCallback::ansi(SetupDefaultQueueCallbackA, context);
    }
    DWORD error = installFromSection(owner, file, section, SPINST_FILES, nullptr, file.directory(), SP_COPY_NEWER,
        callback, true);
    if (context)
        SetupTermDefaultQueueCallback(context);
    return error;
}

// The section's directives in their order: its log configurations
// checked, its files, then its INI and registry lines.
DWORD runInstallSection(const DeviceInfoSet& set, const Device& device, const InfFile& file,
    const inf::Section& section, HKEY driverKey)
{
    HWND owner = device.params.parent ? device.params.parent : set.parent;
    if (DWORD error = installFromSection(owner, file, section, SPINST_LOGCONFIG, driverKey, file.directory(), 0,
            QueueCallback(), true);
        error != NO_ERROR)
        return error;
    if (DWORD error = installDeviceFiles(set, device, file, section); error != NO_ERROR)
        return error;
    return installFromSection(owner, file, section, SPINST_ALL & ~DWORD(SPINST_FILES | SPINST_LOGCONFIG), driverKey,
        file.directory(), SP_COPY_NEWER, QueueCallback(), true);
}

// The value InfPath takes: the name of an INF of the INF directory, else its path.
std::string infPathValue(const std::string& infPath)
{
    std::string dir = ntParent(infPath);
    return equalsNoCase(dir, "C:\\WINNT\\INF") ? infPath.substr(fileNamePart(infPath)) : infPath;
}

// The section's services, the one marked so becoming the device's own.
DWORD installDeviceServices(Device& device, const InfFile& file, const inf::Section& section)
{
    const inf::Section* services = file.section(section.name + ".Services");
    if (!services || services->lines.empty())
        return NO_ERROR;
    return installServices(file, *services, 0, &device);
}

DWORD defaultAction(DI_FUNCTION function, HDEVINFO handle, DeviceInfoSet& set, Device* device)
{
    std::string driverKey;
    switch (function) {
    case DIF_INSTALLDEVICE:
        return installDevice(set, *device, driverKey);
    case DIF_INSTALLDEVICEFILES: {
        SP_DEVINFO_DATA data { sizeof(SP_DEVINFO_DATA), {}, 0, 0 };
        set.describe(*device, data);
        return devinst::installDriverFiles(handle, &data);
    }
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
        || function == DIF_SELECTBESTCOMPATDRV || function == DIF_INSTALLDEVICEFILES;
}

// The device a default handler works on: the one the data names, else the
// set's selected device.
DWORD handlerDevice(HDEVINFO handle, PSP_DEVINFO_DATA data, Target& t)
{
    if (DWORD error = resolve(handle, data, false, t); error != NO_ERROR)
        return error;
    if (!t.device)
        t.device = t.set->selectedDevice;
    if (!t.device)
        return ERROR_NO_DEVICE_SELECTED;
    return t.device->removed ? ERROR_NO_SUCH_DEVINST : NO_ERROR;
}

}

DWORD installDevice(DeviceInfoSet& set, Device& device, std::string& driverKeyName)
{
    SelectedSection selected;
    if (DWORD error = selectedSection(device, selected); error != NO_ERROR)
        return error;
    if (!device.registered)
        return ERROR_DEVINFO_NOT_REGISTERED;
    if (DWORD error = needAdministrator(); error != NO_ERROR)
        return error;
    const DriverNode* node = selected.node;

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
            error = static_cast<DWORD>(key.write(name, devreg::textValue(text)));
    if (error == NO_ERROR)
        error = runInstallSection(set, device, *selected.file, *selected.section, key.handle());
    if (error == NO_ERROR)
        error = installDeviceServices(device, *selected.file, *selected.section);
    const std::pair<const char*, registry::ValueData> deviceValues[] = {
        { "Driver", devreg::stringValue(driverKeyName) },
        { "Mfg", devreg::textValue(node->manufacturer) },
        { "DeviceDesc", devreg::textValue(node->description) },
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
    return defaultAction(function, handle, *set, device);
}

DWORD installDevice(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = handlerDevice(handle, data, t); error != NO_ERROR)
        return error;
    std::string driverKey;
    return setupapi::installDevice(*t.set, *t.device, driverKey);
}

DWORD installDriverFiles(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = handlerDevice(handle, data, t); error != NO_ERROR)
        return error;
    SelectedSection selected;
    if (DWORD error = selectedSection(*t.device, selected); error != NO_ERROR)
        return error;
    return installDeviceFiles(*t.set, *t.device, *selected.file, *selected.section);
}

DWORD selectBestCompatDrv(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = handlerDevice(handle, data, t); error != NO_ERROR)
        return error;
    return selectBestCompatibleDriver(*t.device);
}

DWORD registerCoDeviceInstallers(HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    Target t;
    if (DWORD error = handlerDevice(handle, data, t); error != NO_ERROR)
        return error;
    SelectedSection selected;
    if (DWORD error = selectedSection(*t.device, selected); error != NO_ERROR)
        return error;
    // A driver without co-installers has nothing to register.
    const inf::Section* coInstallers = selected.file->section(selected.section->name + ".CoInstallers");
    if (!coInstallers)
        return NO_ERROR;
    SP_DEVINFO_DATA device { sizeof(SP_DEVINFO_DATA), {}, 0, 0 };
    t.set->describe(*t.device, device);
    HKEY key = nullptr;
    if (DWORD error = createDevRegKey(handle, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr, key);
        error != NO_ERROR)
        return error;
    DWORD error = installDeviceFiles(*t.set, *t.device, *selected.file, *coInstallers);
    if (error == NO_ERROR)
        error = installFromSection(t.set->parent, *selected.file, *coInstallers, SPINST_REGISTRY, key,
            selected.file->directory(), 0, QueueCallback(), true);
    registry::closeKey(key);
    return error;
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

BOOL WINAPI SetupDiInstallDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiInstallDevice", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::installDevice(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiInstallDriverFiles(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiInstallDriverFiles", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::installDriverFiles(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiSelectBestCompatDrv(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiSelectBestCompatDrv", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::selectBestCompatDrv(DeviceInfoSet, DeviceInfoData)));
}

BOOL WINAPI SetupDiRegisterCoDeviceInstallers(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupDiRegisterCoDeviceInstallers", DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::registerCoDeviceInstallers(DeviceInfoSet, DeviceInfoData)));
}
