// SetupInstallServicesFromInfSection and its Ex form: AddService and
// DelService lines, carried out through the service controller's calls so
// that its errors come through. The controller takes ANSI: the INF's texts
// are converted as they are read.
#include "DevInst.h"
#include "InstallSupport.h"
#include "SetupCalls.h"

#include "advapi32/ScmCalls.h"
#include "machine/ApiCall.h"

#include <winsvc.h>

using namespace ntsim;
using namespace ntsim::setupapi;

using ntsim::scm::ScHandle;

namespace {

constexpr const char* ServicesKey = "SYSTEM\\CurrentControlSet\\Services";
constexpr const char* EventLogKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog";

struct ServiceConfig {
    std::string displayName;
    DWORD type { 0 };
    DWORD start { 0 };
    DWORD errorControl { 0 };
    std::string binary;
    std::string group;
    std::string dependencies; // MULTI_SZ, groups with SC_GROUP_IDENTIFIER
    std::string startName;
    bool hasDependencies { false };
};

std::string valueOf(const InfFile& file, const inf::Section& section, const char* key, bool& present)
{
    present = false;
    for (auto& line : section.lines) {
        if (line.hasKey && file.keyMatches(line, key)) {
            present = true;
            std::string text;
            if (!line.values.empty())
                file.field(line, 1, text);
            return toAnsi(text);
        }
    }
    return {};
}

DWORD readConfig(const InfFile& file, const inf::Section& section, ServiceConfig& config)
{
    bool present = false;
    config.displayName = valueOf(file, section, "DisplayName", present);
    struct Required {
        const char* key;
        DWORD* out;
    };
    for (Required r : { Required { "ServiceType", &config.type }, Required { "StartType", &config.start },
             Required { "ErrorControl", &config.errorControl } }) {
        std::string text = valueOf(file, section, r.key, present);
        if (!present || text.empty() || !intValue(text, 0, *r.out))
            return ERROR_BAD_SERVICE_INSTALLSECT;
    }
    config.binary = valueOf(file, section, "ServiceBinary", present);
    if (!present || config.binary.empty())
        return ERROR_BAD_SERVICE_INSTALLSECT;
    config.group = valueOf(file, section, "LoadOrderGroup", present);
    config.startName = valueOf(file, section, "StartName", present);
    for (auto& line : section.lines) {
        if (!line.hasKey || !file.keyMatches(line, "Dependencies"))
            continue;
        config.hasDependencies = true;
        for (auto& dependency : file.values(line)) {
            if (dependency.empty())
                continue;
            dependency = toAnsi(dependency);
            // "+group" names a load order group, as the SCM itself writes it.
            config.dependencies += dependency;
            config.dependencies += '\0';
        }
    }
    if (config.hasDependencies)
        config.dependencies += '\0';
    return NO_ERROR;
}

DWORD runAddReg(const InfFile& file, const inf::Section& section, const std::string& keyPath)
{
    HKEY key = nullptr;
    LONG status = registry::createKey(HKEY_LOCAL_MACHINE, keyPath.c_str(), nullptr, REG_OPTION_NON_VOLATILE,
        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    DWORD error = installRegistry(file, section, key);
    registry::closeKey(key);
    return error;
}

DWORD addService(const InfFile& file, SC_HANDLE manager, const inf::Line& line, DWORD flags, Device* device)
{
    // name, flags, service-install-section[, event-log-install-section[, log type[, event name]]]
    std::vector<std::string> f = file.values(line);
    DWORD lineFlags = 0;
    bool flagsRead = f.size() > 1 && intValue(f[1], 0, lineFlags);
    // A device that needs no service of its own says so with an empty name.
    if ((f.empty() || f[0].empty()) && flagsRead && (lineFlags & SPSVCINST_ASSOCSERVICE))
        return NO_ERROR;
    if (f.size() < 3 || f[0].empty() || f[2].empty())
        return ERROR_BAD_SERVICE_INSTALLSECT;
    if (!flagsRead)
        return ERROR_INVALID_DATA;
    std::string name = toAnsi(f[0]);
    flags |= lineFlags;
    const inf::Section* install = file.section(f[2]);
    if (!install)
        return ERROR_BAD_SERVICE_INSTALLSECT;
    ServiceConfig config;
    if (DWORD error = readConfig(file, *install, config); error != NO_ERROR)
        return error;

    const char* dependencies = config.hasDependencies ? config.dependencies.c_str() : nullptr;
    const char* group = config.group.empty() ? nullptr : config.group.c_str();
    const char* startName = config.startName.empty() ? nullptr : config.startName.c_str();
    const char* displayName = config.displayName.empty() ? nullptr : config.displayName.c_str();
    ScHandle service(scm::createService(manager, name.c_str(), displayName, SERVICE_ALL_ACCESS, config.type,
        config.start, config.errorControl, config.binary.c_str(), group, nullptr, dependencies, startName));
    if (!service) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_EXISTS)
            return error;
        // An existing service takes the new configuration but what the flags keep.
        ScHandle existing(scm::openService(manager, name.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG));
        if (!existing)
            return GetLastError();
        auto keep = [flags](DWORD flag) { return (flags & flag) != 0; };
        if (!scm::changeConfig(existing.get(), config.type,
                keep(SPSVCINST_NOCLOBBER_STARTTYPE) ? SERVICE_NO_CHANGE : config.start,
                keep(SPSVCINST_NOCLOBBER_ERRORCONTROL) ? SERVICE_NO_CHANGE : config.errorControl,
                config.binary.c_str(), keep(SPSVCINST_NOCLOBBER_LOADORDERGROUP) ? nullptr : (group ? group : ""),
                nullptr, keep(SPSVCINST_NOCLOBBER_DEPENDENCIES) ? nullptr : (dependencies ? dependencies : "\0"),
                startName, keep(SPSVCINST_NOCLOBBER_DISPLAYNAME) ? nullptr : displayName))
            return GetLastError();
    }

    if (DWORD error = runAddReg(file, *install, std::string(ServicesKey) + "\\" + name); error != NO_ERROR)
        return error;
    if ((lineFlags & SPSVCINST_ASSOCSERVICE) && device)
        if (DWORD error = associateService(*device, name); error != NO_ERROR)
            return error;
    if (f.size() > 3 && !f[3].empty()) {
        const inf::Section* eventLog = file.section(f[3]);
        std::string logType = f.size() > 4 && !f[4].empty() ? toAnsi(f[4]) : "System";
        std::string eventName = f.size() > 5 && !f[5].empty() ? toAnsi(f[5]) : name;
        std::string keyPath = std::string(EventLogKey) + "\\" + logType + "\\" + eventName;
        if (eventLog) {
            if (DWORD error = runAddReg(file, *eventLog, keyPath); error != NO_ERROR)
                return error;
        }
    }
    return NO_ERROR;
}

DWORD delService(const InfFile& file, SC_HANDLE manager, const inf::Line& line, DWORD flags)
{
    // name[, flags[, log type[, event name]]]
    std::vector<std::string> f = file.values(line);
    for (auto& field : f)
        field = toAnsi(field);
    if (f.empty() || f[0].empty())
        return ERROR_INVALID_DATA;
    const std::string& name = f[0];
    DWORD lineFlags = 0;
    if (f.size() > 1 && !intValue(f[1], 0, lineFlags))
        return ERROR_INVALID_DATA;
    flags |= lineFlags;
    ScHandle service(scm::openService(manager, name.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST)
            return error;
    } else {
        if (flags & SPSVCINST_STOPSERVICE) {
            SERVICE_STATUS status {};
            if (!scm::control(service.get(), SERVICE_CONTROL_STOP, &status)) {
                DWORD error = GetLastError();
                if (error != ERROR_SERVICE_NOT_ACTIVE)
                    return error;
            }
        }
        if (!scm::markForDelete(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return GetLastError();
    }
    if (flags & SPSVCINST_DELETEEVENTLOGENTRY) {
        std::string logType = f.size() > 2 && !f[2].empty() ? f[2] : "System";
        std::string eventName = f.size() > 3 && !f[3].empty() ? f[3] : name;
        LONG status = registry::deleteKeyTree(HKEY_LOCAL_MACHINE, std::string(EventLogKey) + "\\" + logType + "\\" + eventName);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return static_cast<DWORD>(status);
    }
    return NO_ERROR;
}

}

namespace ntsim::setupapi {

DWORD installServices(const InfFile& file, const inf::Section& section, DWORD flags, Device* device)
{
    // A section without lines is as good as none; one whose lines name no
    // service is simply nothing to do.
    if (section.lines.empty())
        return ERROR_SECTION_NOT_FOUND;
    std::vector<const inf::Line*> lines;
    for (auto& line : section.lines)
        if (line.hasKey && (file.keyMatches(line, "AddService") || file.keyMatches(line, "DelService")))
            lines.push_back(&line);
    if (lines.empty())
        return NO_ERROR;
    ScHandle manager(scm::openManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();
    for (const inf::Line* line : lines) {
        DWORD error = file.keyMatches(*line, "AddService") ? addService(file, manager.get(), *line, flags, device)
                                                           : delService(file, manager.get(), *line, flags);
        if (error != NO_ERROR)
            return error;
    }
    return NO_ERROR;
}

BOOL installServicesFromInfSection(HINF InfHandle, const std::string& SectionName, DWORD Flags,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    InfFile* file = nullptr;
    const inf::Section* section = installSection(InfHandle, &SectionName, file);
    if (!section)
        return FALSE;
    Target target;
    if (DeviceInfoSet && DeviceInfoSet != INVALID_HANDLE_VALUE && DeviceInfoData)
        if (DWORD error = resolveLive(DeviceInfoSet, DeviceInfoData, target); error != NO_ERROR)
            return failWith(error);
    return finish(installServices(*file, *section, Flags, target.device));
}

}

namespace {

template<typename Char>
BOOL installServicesFrom(HINF InfHandle, const Char* SectionName, DWORD Flags, HDEVINFO DeviceInfoSet,
    PSP_DEVINFO_DATA DeviceInfoData)
{
    if (!InfFile::fromHandle(InfHandle))
        return failWith(ERROR_INVALID_HANDLE);
    if (!SectionName)
        return failWith(ERROR_INVALID_PARAMETER);
    return setupapi::installServicesFromInfSection(InfHandle, argument(SectionName), Flags, DeviceInfoSet,
        DeviceInfoData);
}

}

BOOL WINAPI SetupInstallServicesFromInfSectionA(HINF InfHandle, PCSTR SectionName, DWORD Flags)
{
    ntsim::ApiCall call("SetupInstallServicesFromInfSectionA", InfHandle, SectionName, Flags);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(installServicesFrom(InfHandle, SectionName, Flags, nullptr, nullptr));
}

BOOL WINAPI SetupInstallServicesFromInfSectionW(HINF InfHandle, PCWSTR SectionName, DWORD Flags)
{
    ntsim::ApiCall call("SetupInstallServicesFromInfSectionW", InfHandle, SectionName, Flags);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(installServicesFrom(InfHandle, SectionName, Flags, nullptr, nullptr));
}

BOOL WINAPI SetupInstallServicesFromInfSectionExA(HINF InfHandle, PCSTR SectionName, DWORD Flags,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PVOID Reserved1, PVOID Reserved2)
{
    ntsim::ApiCall call("SetupInstallServicesFromInfSectionExA", InfHandle, SectionName, Flags, DeviceInfoSet, DeviceInfoData, Reserved1, Reserved2);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(installServicesFrom(InfHandle, SectionName, Flags, DeviceInfoSet, DeviceInfoData));
}

BOOL WINAPI SetupInstallServicesFromInfSectionExW(HINF InfHandle, PCWSTR SectionName, DWORD Flags,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PVOID Reserved1, PVOID Reserved2)
{
    ntsim::ApiCall call("SetupInstallServicesFromInfSectionExW", InfHandle, SectionName, Flags, DeviceInfoSet, DeviceInfoData, Reserved1, Reserved2);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(installServicesFrom(InfHandle, SectionName, Flags, DeviceInfoSet, DeviceInfoData));
}
