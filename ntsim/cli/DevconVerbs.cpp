// The devcon verbs, one function each, with devcon's output.
#include "Commands.h"
#include "Devcon.h"

#include "advapi32/ScmCalls.h"
#include "registry/Key.h"
#include "machine/CodePage.h"
#include "machine/NtPath.h"
#include "setupapi/DeviceRegistry.h"
#include "setupapi/InfFile.h"
#include "setupapi/InstallSupport.h"

#include <cstdio>

namespace ntsim::devcon {

namespace {

using namespace setupapi;

int noDevices()
{
    std::puts("No matching devices found.");
    return 0;
}

int failed(const std::string& what, DWORD error)
{
    std::fflush(stdout);
    std::fprintf(stderr, "devcon failed: %s: %s\n", what.c_str(), errorText(error).c_str());
    return 1;
}

// Driver nodes keep the machine's 8-bit text.
std::string shown(const std::string& ansi)
{
    return ansiToUtf8(ansi, ansiCodePage());
}

// Runs body(list, devices) on the devices the patterns select, if any.
template<typename Body>
int withSelected(const Args& args, Body body)
{
    DeviceList list;
    if (!list.valid())
        return failed("cannot list the devices", list.error());
    auto found = list.select(args);
    if (found.empty())
        return noDevices();
    return body(list, found);
}

// Runs each(list, device) on the devices the patterns select, then tells their count.
template<typename Each>
int eachSelected(const Args& args, Each each)
{
    return withSelected(args, [&](const DeviceList& list, const std::vector<DeviceEntry>& found) {
        for (auto& device : found)
            each(list, device);
        std::printf("%zu matching device(s) found.\n", found.size());
        return 0;
    });
}

void printNamed(const DeviceEntry& device)
{
    std::printf("%s\n    Name: %s\n", device.instanceId.c_str(), device.description.c_str());
}

// Takes the device out again when its install failed, as devcon does.
void undoDevice(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    devinst::callClassInstaller(DIF_REMOVE, set, &data);
}

struct InfClass {
    GUID guid {};
    std::string name;
};

DWORD classOfInf(const std::string& infPath, InfClass& out)
{
    std::unique_ptr<InfFile> file;
    if (DWORD error = loadInfFile(infPath, nullptr, INF_STYLE_WIN4, nullptr, file); error != NO_ERROR)
        return error;
    out.name = versionValue(*file, "Class");
    if (devreg::parseGuid(versionValue(*file, "ClassGUID"), out.guid))
        return devreg::findClass(out.guid) ? NO_ERROR : ERROR_INVALID_CLASS;
    for (auto& entry : devreg::classes())
        if (!out.name.empty() && equalsNoCase(entry.name, out.name)) {
            out.guid = entry.guid;
            return NO_ERROR;
        }
    return ERROR_INVALID_CLASS;
}

}

int verbFind(const Args& args)
{
    return eachSelected(args, [](const DeviceList&, const DeviceEntry& device) {
        std::printf("%-60s: %s\n", device.instanceId.c_str(), device.description.c_str());
    });
}

int verbHardwareIds(const Args& args)
{
    return eachSelected(args, [](const DeviceList&, const DeviceEntry& device) {
        printNamed(device);
        for (auto [title, ids] : { std::pair { "Hardware ID's:", &device.hardwareIds },
                 std::pair { "Compatible ID's:", &device.compatibleIds } }) {
            if (ids->empty())
                continue;
            std::printf("    %s\n", title);
            for (auto& id : *ids)
                std::printf("        %s\n", id.c_str());
        }
    });
}

int verbDriverFiles(const Args& args)
{
    return eachSelected(args, [](const DeviceList&, const DeviceEntry& device) {
        printNamed(device);
        registry::SystemKey key;
        std::string infName, section;
        if (!device.driver.empty() && key.open("SYSTEM\\CurrentControlSet\\Control\\Class\\" + device.driver) == ERROR_SUCCESS) {
            infName = key.string("InfPath").value_or("");
            section = key.string("InfSection").value_or("");
        }
        if (infName.empty() || section.empty()) {
            std::puts("    No driver information available for the device.");
            return;
        }
        // A bare name is one of the Windows directory's INFs.
        std::string infPath = infName.find('\\') == std::string::npos ? "C:\\WINNT\\INF\\" + infName
                                                                    : fullNtPath(infName, "C:\\");
        std::unique_ptr<InfFile> file;
        std::vector<std::string> files;
        DWORD error = loadInfFile(infPath, nullptr, INF_STYLE_WIN4, nullptr, file);
        const inf::Section* install = error == NO_ERROR ? file->section(section) : nullptr;
        if (error == NO_ERROR && !install)
            error = ERROR_SECTION_NOT_FOUND;
        if (error == NO_ERROR)
            error = copiedFiles(*file, *install, files);
        if (error != NO_ERROR) {
            std::printf("    Driver installed from %s [%s]. Cannot read its files: %s\n", shown(infPath).c_str(),
                shown(section).c_str(), errorText(error).c_str());
            return;
        }
        if (files.empty()) {
            std::printf("    Driver installed from %s [%s]. The driver is not using any files.\n", shown(infPath).c_str(),
                shown(section).c_str());
            return;
        }
        std::printf("    Driver installed from %s [%s]. %zu file(s) used by driver:\n", shown(infPath).c_str(),
            shown(section).c_str(), files.size());
        for (auto& path : files)
            std::printf("        %s\n", shown(path).c_str());
    });
}

int verbStack(const Args& args)
{
    return eachSelected(args, [](const DeviceList&, const DeviceEntry& device) {
        printNamed(device);
        std::printf("    Setup Class: %s %s\n", device.classGuid.c_str(), device.className.c_str());
        registry::SystemKey classKey;
        std::vector<std::string> classUpper, classLower;
        if (!device.classGuid.empty()
            && classKey.open("SYSTEM\\CurrentControlSet\\Control\\Class\\" + device.classGuid) == ERROR_SUCCESS) {
            classUpper = classKey.multiString("UpperFilters").value_or(std::vector<std::string> {});
            classLower = classKey.multiString("LowerFilters").value_or(std::vector<std::string> {});
        }
        // Top of the stack first, as the drivers are layered.
        auto list = [](const char* title, const std::vector<std::string>& names) {
            if (names.empty())
                return;
            std::printf("    %s\n", title);
            for (auto& name : names)
                std::printf("        %s\n", name.c_str());
        };
        list("Class upper filters:", classUpper);
        list("Upper filters:", device.upperFilters);
        std::printf("    Controlling service:\n        %s\n", device.service.empty() ? "(none)" : device.service.c_str());
        list("Lower filters:", device.lowerFilters);
        list("Class lower filters:", classLower);
    });
}

int verbStatus(const Args& args)
{
    return eachSelected(args, [](const DeviceList&, const DeviceEntry& device) {
        printNamed(device);
        std::printf("    %s\n", deviceState(device).c_str());
    });
}

int verbClasses(const Args&)
{
    auto classes = devreg::classes();
    std::printf("Listing %zu setup classes.\n", classes.size());
    for (auto& entry : classes) {
        WCHAR name[MAX_CLASS_NAME_LEN * 4], text[LINE_LEN];
        if (devinst::classNameFromGuid(&entry.guid, name, MAX_CLASS_NAME_LEN * 4, nullptr) != NO_ERROR)
            continue;
        if (devinst::classDescription(&entry.guid, text, LINE_LEN, nullptr) != NO_ERROR)
            text[0] = 0;
        std::printf("%-20s: %s\n", utf8(name).c_str(), utf8(text).c_str());
    }
    return 0;
}

int verbDriverNodes(const Args& args)
{
    return eachSelected(args, [](const DeviceList& list, const DeviceEntry& device) {
        printNamed(device);
        SP_DEVINFO_DATA data = device.data;
        DWORD error = devinst::buildDriverInfoList(list.set(), &data, SPDIT_COMPATDRIVER);
        auto set = DeviceInfoSet::fromHandle(list.set());
        DWORD lookup = NO_ERROR;
        Device* own = set ? set->device(&data, lookup) : nullptr;
        if (error != NO_ERROR || !own) {
            std::printf("    Cannot list its driver nodes: %s\n", errorText(error ? error : lookup).c_str());
            return;
        }
        if (own->compatDrivers.nodes.empty()) {
            std::puts("    No driver nodes found for this device.");
            return;
        }
        unsigned n = 0;
        for (auto& node : own->compatDrivers.nodes) {
            std::printf("    Driver node #%u:\n", n++);
            std::printf("        Inf file is %s\n", shown(node.infPath).c_str());
            std::printf("        Inf section is %s\n", shown(node.section).c_str());
            std::printf("        Driver description is %s\n", shown(node.description).c_str());
            std::printf("        Manufacturer name is %s\n", shown(node.manufacturer).c_str());
            std::printf("        Provider name is %s\n", shown(node.provider).c_str());
            std::printf("        Driver node rank is %u\n", node.rank);
        }
    });
}

namespace {

enum class Change { Enable, Disable, Restart };

// What became of one device: done, done once the machine restarts, or failed.
enum class Outcome { Done, OnReboot, Failed };

// Starts or stops a device's service through the service controller; a
// running driver that takes no stop is left for the restart (needsReboot).
DWORD driveService(const std::string& service, bool start, bool& needsReboot)
{
    needsReboot = false;
    scm::ScHandle manager(scm::openManager(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return GetLastError();
    scm::ScHandle handle(scm::openService(manager.get(), service.c_str(),
        SERVICE_QUERY_STATUS | (start ? SERVICE_START : SERVICE_STOP)));
    if (!handle.get())
        return GetLastError();
    SERVICE_STATUS status {};
    if (!scm::queryStatus(handle.get(), &status))
        return GetLastError();
    bool running = status.dwCurrentState != SERVICE_STOPPED;
    if (start == running)
        return NO_ERROR;
    if (start)
        return scm::start(handle.get(), 0, nullptr) ? NO_ERROR : GetLastError();
    if (!(status.dwControlsAccepted & SERVICE_ACCEPT_STOP)) {
        needsReboot = true;
        return NO_ERROR;
    }
    return scm::control(handle.get(), SERVICE_CONTROL_STOP, &status) ? NO_ERROR : GetLastError();
}

DWORD setDisabled(const DeviceList& list, const DeviceEntry& device, bool disabled)
{
    DWORD flags = disabled ? device.configFlags | configFlagDisabled : device.configFlags & ~configFlagDisabled;
    if (flags == device.configFlags)
        return NO_ERROR;
    SP_DEVINFO_DATA data = device.data;
    return devinst::setProperty(list.set(), &data, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags), sizeof flags);
}

Outcome changeDevice(const DeviceList& list, const DeviceEntry& device, Change change, DWORD& error)
{
    bool reboot = false, stopReboot = false;
    error = NO_ERROR;
    switch (change) {
    case Change::Disable:
        error = setDisabled(list, device, true);
        if (error == NO_ERROR && !device.service.empty())
            error = driveService(device.service, false, reboot);
        break;
    case Change::Enable:
        error = setDisabled(list, device, false);
        if (error == NO_ERROR && !device.service.empty())
            error = driveService(device.service, true, reboot);
        break;
    case Change::Restart:
        if (device.configFlags & configFlagDisabled) {
            error = ERROR_NOT_READY;
            break;
        }
        if (device.service.empty())
            break;
        error = driveService(device.service, false, stopReboot);
        if (error == NO_ERROR && !stopReboot)
            error = driveService(device.service, true, reboot);
        reboot = reboot || stopReboot;
        break;
    }
    if (error != NO_ERROR)
        return Outcome::Failed;
    return reboot ? Outcome::OnReboot : Outcome::Done;
}

int changeDevices(const Args& args, Change change)
{
    // devcon's words of each change.
    static const struct {
        const char* done;     // "Enabled"
        const char* verb;     // "Enable"
        const char* summary;  // "%zu device(s) are enabled."
        const char* ready;    // "enabled"
        const char* infinitive;
    } words[] = {
        { "Enabled", "Enable", "%zu device(s) are enabled.\n", "enabled", "enable" },
        { "Disabled", "Disable", "%zu device(s) disabled.\n", "disabled", "disable" },
        { "Restarted", "Restart", "%zu device(s) restarted.\n", "restarted", "restart" },
    };
    const auto& w = words[static_cast<int>(change)];
    return withSelected(args, [&](const DeviceList& list, const std::vector<DeviceEntry>& found) {
        size_t done = 0, onReboot = 0;
        for (auto& device : found) {
            DWORD error = NO_ERROR;
            switch (changeDevice(list, device, change, error)) {
            case Outcome::Done:
                std::printf("%s: %s\n", device.instanceId.c_str(), w.done);
                ++done;
                break;
            case Outcome::OnReboot:
                std::printf("%s: %s on reboot\n", device.instanceId.c_str(), w.done);
                ++onReboot;
                break;
            case Outcome::Failed:
                std::printf("%s: %s failed: %s\n", device.instanceId.c_str(), w.verb, errorText(error).c_str());
                break;
            }
        }
        if (onReboot)
            std::printf("The %zu device(s) are ready to be %s. To %s the devices, reboot the system.\n", onReboot,
                w.ready, w.infinitive);
        std::printf(w.summary, done);
        return done + onReboot == found.size() ? 0 : 1;
    });
}

}

int verbEnable(const Args& args)
{
    return changeDevices(args, Change::Enable);
}

int verbDisable(const Args& args)
{
    return changeDevices(args, Change::Disable);
}

int verbRestart(const Args& args)
{
    return changeDevices(args, Change::Restart);
}

// NT 4.0 has no bus that announces a device: the root enumerator's devices
// are all the machine has, and a scan finds nothing to add.
int verbRescan(const Args&)
{
    DeviceList list;
    if (!list.valid())
        return failed("cannot list the devices", list.error());
    std::puts("Scanning for new hardware.");
    std::puts("Scanning completed.");
    return 0;
}

int verbInstall(const Args& args)
{
    if (args.size() != 2 || args[1].empty())
        return usageError("devcon install: a hardware id is needed (see ntsim devcon install --help)");
    std::string infPath = fullNtPath(args[0], "C:\\");
    if (infPath.empty())
        return failed(args[0], ERROR_PATH_NOT_FOUND);
    const std::string& hardwareId = args[1];
    InfClass infClass;
    if (DWORD error = classOfInf(infPath, infClass); error != NO_ERROR)
        return failed("the class of " + infPath, error);

    HDEVINFO set = INVALID_HANDLE_VALUE;
    if (DWORD error = devinst::createDeviceInfoList(&infClass.guid, nullptr, set); error != NO_ERROR)
        return failed("cannot create a device information set", error);
    SP_DEVINFO_DATA data {};
    data.cbSize = sizeof data;
    // devcon names the device after its class.
    WCHAR className[MAX_CLASS_NAME_LEN * 4];
    DWORD error = devinst::classNameFromGuid(&infClass.guid, className, MAX_CLASS_NAME_LEN * 4, nullptr);
    if (error == NO_ERROR)
        error = devinst::createDeviceInfo(set, className, &infClass.guid, nullptr, nullptr, DICD_GENERATE_ID, &data);
    std::u16string ids = wide(hardwareId);
    ids.push_back(0);
    ids.push_back(0);
    if (error == NO_ERROR)
        error = devinst::setProperty(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids.data()),
            static_cast<DWORD>(ids.size() * sizeof(WCHAR)));
    if (error == NO_ERROR)
        error = devinst::callClassInstaller(DIF_REGISTERDEVICE, set, &data);
    if (error != NO_ERROR) {
        devinst::destroyDeviceInfoList(set);
        return failed("cannot create the device node", error);
    }
    WCHAR id[MAX_DEVICE_ID_LEN + 1];
    devinst::deviceInstanceId(set, &data, id, MAX_DEVICE_ID_LEN + 1, nullptr);
    std::printf("Device node created: %s. Install is complete when drivers are installed...\n", utf8(id).c_str());
    std::printf("Updating drivers for %s from %s.\n", hardwareId.c_str(), infPath.c_str());

    SP_DEVINSTALL_PARAMS_W params {};
    params.cbSize = sizeof params;
    std::u16string path = wide(infPath);
    error = devinst::getInstallParams(set, &data, &params);
    if (error == NO_ERROR && path.size() < MAX_PATH) {
        params.Flags |= DI_ENUMSINGLEINF | DI_QUIETINSTALL;
        std::copy(path.begin(), path.end(), params.DriverPath);
        params.DriverPath[path.size()] = 0;
        error = devinst::setInstallParams(set, &data, &params);
    }
    if (error == NO_ERROR)
        error = devinst::buildDriverInfoList(set, &data, SPDIT_COMPATDRIVER);
    if (error == NO_ERROR)
        error = devinst::callClassInstaller(DIF_SELECTBESTCOMPATDRV, set, &data);
    if (error == NO_ERROR)
        error = devinst::callClassInstaller(DIF_INSTALLDEVICE, set, &data);
    if (error != NO_ERROR)
        undoDevice(set, data);
    devinst::destroyDeviceInfoList(set);
    if (error != NO_ERROR)
        return failed("no driver of " + infPath + " installed for " + hardwareId, error);
    std::puts("Drivers installed successfully.");
    return 0;
}

int verbRemove(const Args& args)
{
    return withSelected(args, [](const DeviceList& list, const std::vector<DeviceEntry>& found) {
        size_t removed = 0;
        for (auto& device : found) {
            SP_DEVINFO_DATA data = device.data;
            DWORD error = devinst::callClassInstaller(DIF_REMOVE, list.set(), &data);
            if (error == NO_ERROR) {
                std::printf("%s: Removed\n", device.instanceId.c_str());
                ++removed;
            } else {
                std::printf("%s: Remove failed: %s\n", device.instanceId.c_str(), errorText(error).c_str());
            }
        }
        std::printf("%zu device(s) were removed.\n", removed);
        return removed == found.size() ? 0 : 1;
    });
}

}
