// The device installer: device information sets, their devices and driver
// lists, and the calls behind the SetupDi entry points. An entry point
// checks the fault the machine may have chosen for it and then calls the
// function of the same name here; the simulator and its tool call these
// directly, so that only a program's own calls are counted.
//
// Each function returns NO_ERROR or the error the entry point reports.
// Texts are UTF-8 (Text.h) but for the registry's, which are ANSI; a call
// that has both forms takes the caller's records of either form.
#pragma once

#include <setupapi.h>

#include "FileQueue.h"
#include "InfFile.h"
#include "Text.h"
#include "registry/Key.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ntsim::setupapi {

// One model line of a class INF, as a driver list holds it.
struct DriverNode {
    DWORD type { SPDIT_CLASSDRIVER };
    ULONG_PTR serial { 0 }; // SP_DRVINFO_DATA.Reserved: unique in the process
    DWORD rank { 0 };       // of a compatible driver: lower suits better
    DWORD flags { 0 };      // SP_DRVINSTALL_PARAMS.Flags
    DWORD_PTR privateData { 0 };
    std::string description;
    std::string manufacturer;
    std::string provider;
    std::string infPath; // full NT path
    std::string section; // the model's install section
    std::vector<std::string> ids; // hardware id, then compatible ids
};

struct DriverList {
    bool built { false };
    std::vector<DriverNode> nodes;
};

struct InstallParams {
    DWORD flags { 0 };
    DWORD flagsEx { 0 };
    HWND parent { nullptr };
    // The caller's queue callback, in the form its record gave it.
    void* handler { nullptr };
    Charset handlerCharset { Charset::Wide };
    PVOID handlerContext { nullptr };
    HSPFILEQ fileQueue { nullptr };
    ULONG_PTR classInstallReserved { 0 };
    std::string driverPath;
    // SetupDiSetClassInstallParams: the record, header first.
    std::vector<BYTE> classInstallParams;

    QueueCallback callback() const;
};

// What a set and each of its devices carry alike.
struct DriverScope {
    InstallParams params;
    DriverList classDrivers;
    DriverList compatDrivers;
    DWORD selectedType { SPDIT_NODRIVER };
    ULONG_PTR selectedSerial { 0 };

    DriverList& list(DWORD type) { return type == SPDIT_COMPATDRIVER ? compatDrivers : classDrivers; }
    const DriverNode* selectedDriver() const;
};

struct Device : DriverScope {
    std::string instanceId; // "Root\NAME\0000"
    GUID classGuid {};
    std::string description;
    DWORD devInst { 0 };
    bool registered { false };
    bool removed { false }; // its devnode and keys are gone
    // Properties given before registration, by value name.
    std::map<std::string, registry::ValueData> pending;
};

class DeviceInfoSet : public DriverScope {
public:
    bool hasClass { false };
    GUID classGuid {};
    HWND parent { nullptr };
    std::vector<std::unique_ptr<Device>> devices;
    Device* selectedDevice { nullptr };

    // The device an SP_DEVINFO_DATA names, or null with the error set.
    Device* device(const SP_DEVINFO_DATA* data, DWORD& error) const;
    void describe(const Device& device, SP_DEVINFO_DATA& data) const;

    static HDEVINFO add(std::shared_ptr<DeviceInfoSet> set);
    static std::shared_ptr<DeviceInfoSet> fromHandle(HDEVINFO handle);
    static bool close(HDEVINFO handle);
};

// The set behind a handle and, when data is given (or needed), its device.
struct Target {
    std::shared_ptr<DeviceInfoSet> set;
    Device* device { nullptr };
};
DWORD resolve(HDEVINFO handle, const SP_DEVINFO_DATA* data, bool deviceNeeded, Target& out);
// The same for calls that need a device still present in the registry's eyes.
DWORD resolveLive(HDEVINFO handle, const SP_DEVINFO_DATA* data, Target& out);

// The class installers of the machine: what a class key's installer entry
// names. They return ERROR_DI_DO_DEFAULT for what they leave to the default.
using ClassInstallerProc = DWORD (*)(DI_FUNCTION function, DeviceInfoSet& set, Device* device);
DWORD modemClassInstaller(DI_FUNCTION function, DeviceInfoSet& set, Device* device);

// A record the caller passes: there, and of the size this build knows.
template<typename Record>
DWORD checkRecord(const Record* record)
{
    if (!record)
        return ERROR_INVALID_PARAMETER;
    return record->cbSize == sizeof(Record) ? NO_ERROR : ERROR_INVALID_USER_BUFFER;
}

// The section with the platform's decoration the INF has (.NTx86, .NT),
// else the name itself.
std::string actualSection(const InfFile& file, const std::string& section);

// A text result as the SetupDi calls give it: RequiredSize counts the NUL;
// no buffer is a question of size that fails as a short one does.
DWORD copyDiText(std::string_view utf8, const TextBuffer& buffer, PDWORD required);

// NT's PnP manager changes devices only for administrators.
DWORD needAdministrator();

// The default DIF_REGISTERDEVICE and DIF_REMOVE: the device's key below
// Enum written or deleted, the latter with its driver key.
DWORD registerDevice(Device& device);
DWORD removeDeviceKeys(Device& device);

// Makes an installed service the device's own (SPSVCINST_ASSOCSERVICE).
DWORD associateService(Device& device, const std::string& service);

// The default DIF_INSTALLDEVICE: the driver key below Control\Class with
// its standard values, the model's install section run with HKR there, its
// services, and the device's Driver, Mfg and DeviceDesc. Gives the driver
// key's path below Control\Class.
DWORD installDevice(DeviceInfoSet& set, Device& device, std::string& driverKey);

namespace devinst {

DWORD classGuidsFromName(const std::string& className, LPGUID list, DWORD size, PDWORD required);
DWORD classGuidsFromName(PCWSTR className, LPGUID list, DWORD size, PDWORD required);
DWORD classNameFromGuid(const GUID* guid, const TextBuffer& name, PDWORD required);
DWORD classNameFromGuid(const GUID* guid, PWSTR name, DWORD size, PDWORD required);
DWORD classDescription(const GUID* guid, const TextBuffer& text, PDWORD required);
DWORD classDescription(const GUID* guid, PWSTR text, DWORD size, PDWORD required);
DWORD buildClassInfoList(DWORD flags, LPGUID list, DWORD size, PDWORD required);
DWORD infClass(const std::string* infName, LPGUID guid, const TextBuffer& name, PDWORD required);
DWORD openClassRegKey(const GUID* guid, REGSAM access, DWORD flags, const std::string* machine, HKEY& out);

DWORD createDeviceInfoList(const GUID* classGuid, HWND parent, HDEVINFO& out);
DWORD getClassDevsOf(const GUID* classGuid, const std::string* enumerator, HWND parent, DWORD flags, HDEVINFO& out);
DWORD getClassDevs(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags, HDEVINFO& out);
DWORD destroyDeviceInfoList(HDEVINFO set);
DWORD deviceInfoListClass(HDEVINFO set, LPGUID guid);
DWORD createDeviceInfo(HDEVINFO set, const std::string* name, const GUID* classGuid, const std::string* description,
    HWND parent, DWORD flags, PSP_DEVINFO_DATA data);
DWORD createDeviceInfo(HDEVINFO set, PCWSTR name, const GUID* classGuid, PCWSTR description, HWND parent, DWORD flags,
    PSP_DEVINFO_DATA data);
DWORD openDeviceInfo(HDEVINFO set, const std::string* instanceId, HWND parent, DWORD flags, PSP_DEVINFO_DATA data);
DWORD enumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
DWORD deleteDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data);
DWORD deviceInstanceId(HDEVINFO set, PSP_DEVINFO_DATA data, const TextBuffer& id, PDWORD required);
DWORD deviceInstanceId(HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD size, PDWORD required);
DWORD getProperty(Charset charset, HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer,
    DWORD size, PDWORD required);
DWORD getProperty(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer, DWORD size,
    PDWORD required);
DWORD setProperty(Charset charset, HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, const BYTE* buffer,
    DWORD size);
DWORD setProperty(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, const BYTE* buffer, DWORD size);
// For SP_DEVINSTALL_PARAMS_A and _W.
template<typename Record>
DWORD getInstallParams(HDEVINFO set, PSP_DEVINFO_DATA data, Record* params);
template<typename Record>
DWORD setInstallParams(HDEVINFO set, PSP_DEVINFO_DATA data, Record* params);
DWORD getClassInstallParams(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size,
    PDWORD required);
DWORD setClassInstallParams(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size);
DWORD getSelectedDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
DWORD setSelectedDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
DWORD registerDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD flags, PSP_DETSIG_CMPPROC compare = nullptr,
    PVOID compareContext = nullptr, PSP_DEVINFO_DATA duplicate = nullptr);
DWORD removeDevice(HDEVINFO set, PSP_DEVINFO_DATA data);

DWORD openDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType, REGSAM access,
    HKEY& out);
DWORD createDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType, HINF inf,
    const std::string* section, HKEY& out);
DWORD deleteDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType);

DWORD buildDriverInfoList(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD type);
// For the A and W forms of SP_DRVINFO_DATA and SP_DRVINFO_DETAIL_DATA.
template<typename Record>
DWORD enumDriverInfo(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD type, DWORD index, Record* driver);
template<typename Record>
DWORD getSelectedDriver(HDEVINFO set, PSP_DEVINFO_DATA data, Record* driver);
template<typename Record>
DWORD setSelectedDriver(HDEVINFO set, PSP_DEVINFO_DATA data, Record* driver);
template<typename Record, typename Detail>
DWORD driverInfoDetail(HDEVINFO set, PSP_DEVINFO_DATA data, Record* driver, Detail* detail, DWORD size,
    PDWORD required);
template<typename Record>
DWORD getDriverInstallParams(HDEVINFO set, PSP_DEVINFO_DATA data, Record* driver, PSP_DRVINSTALL_PARAMS params);
template<typename Record>
DWORD setDriverInstallParams(HDEVINFO set, PSP_DEVINFO_DATA data, Record* driver, PSP_DRVINSTALL_PARAMS params);
DWORD destroyDriverInfoList(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD type);
// SetupDiGetActualSectionToInstall; extension is the offset of the
// decoration, npos for none.
DWORD actualSectionToInstall(HINF inf, const std::string* section, std::string& out, size_t& extension);

DWORD callClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data);
// The default handlers a class installer may call itself.
DWORD installDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
DWORD installDriverFiles(HDEVINFO set, PSP_DEVINFO_DATA data);
DWORD selectBestCompatDrv(HDEVINFO set, PSP_DEVINFO_DATA data);
DWORD registerCoDeviceInstallers(HDEVINFO set, PSP_DEVINFO_DATA data);

}

// What a SetupDi call reports for the error its work ended with: TRUE or
// FALSE, and the error as the last error either way.
inline BOOL report(DWORD error)
{
    SetLastError(error);
    return error == NO_ERROR;
}

}
