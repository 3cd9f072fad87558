// ntsim devcon DIR VERB ...: the dispatch table, the help of each verb and
// what the verbs share (the machine's devices and devcon's patterns).
#include "Commands.h"
#include "Devcon.h"
#include "ErrorTable.h"

#include "advapi32/ScmRunState.h"
#include "machine/CodePage.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"
#include "setupapi/DevInst.h"
#include "setupapi/DeviceRegistry.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace ntsim {

namespace devcon {

namespace {

// How a verb takes its arguments; each declares them on its subcommand.
// Patterns are checked by the verb's runner, so that every verb refuses
// a missing one in the same words.
void devicePatterns(CLI::App& sub, Args& args)
{
    sub.add_option("PATTERN", args, "The devices: '*' for all, an id, '@' and an instance id, or '=' and a class");
}

void noArguments(CLI::App&, Args&)
{
}

void infAndHardwareId(CLI::App& sub, Args& args)
{
    auto keep = [&args](const std::string& value) { args.push_back(value); };
    sub.add_option_function<std::string>("INF", keep, "The INF, an NT path of the machine (e.g. C:\\MODEM\\MDMQZV.INF)")
        ->required();
    sub.add_option_function<std::string>("HWID", keep, "The new device's hardware id")->required();
}

struct DevconVerb {
    const char* name;
    const char* help;
    void (*declare)(CLI::App& sub, Args& args);
    int (*run)(const Args& args);
    bool needsPattern;
};

// In devcon's order of its help: the verbs that show, then those that change.
const DevconVerb verbs[] = {
    { "classes", "List the setup classes of the machine", noArguments, verbClasses, false },
    { "driverfiles", "List the INF and the files of each matching device's driver", devicePatterns, verbDriverFiles,
        true },
    { "drivernodes", "List the INF directory's drivers that suit each matching device", devicePatterns,
        verbDriverNodes, true },
    { "find", "List the devices that match, each with its description", devicePatterns, verbFind, true },
    { "hwids", "List the hardware and compatible ids of each matching device", devicePatterns, verbHardwareIds,
        true },
    { "stack", "Show the setup class, controlling service and filters of each matching device", devicePatterns,
        verbStack, true },
    { "status", "Show whether the driver of each matching device is running", devicePatterns, verbStatus, true },
    { "enable", "Enable the matching devices and start their drivers", devicePatterns, verbEnable, true },
    { "disable", "Disable the matching devices and stop their drivers", devicePatterns, verbDisable, true },
    { "restart", "Stop and start the drivers of the matching devices", devicePatterns, verbRestart, true },
    { "rescan", "Look for devices that are not yet in the machine's device tree", noArguments, verbRescan, false },
    { "install", "Add a root-enumerated device with the hardware id, installed with the INF's best driver",
        infAndHardwareId, verbInstall, false },
    { "remove", "Remove the matching devices with their keys, through their class installers", devicePatterns,
        verbRemove, true },
};

std::string verbNames()
{
    std::string names;
    for (const DevconVerb& v : verbs)
        names += (names.empty() ? "" : ", ") + std::string(v.name);
    return names;
}

const char patternHelp[] =
    "PATTERN: a hardware or compatible id, '@' and an instance id, or '=' and a class name first;\n"
    "'*' matches any run of characters, and case does not count. install and remove need the administrator.";

std::string property(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD which, DWORD& type)
{
    BYTE buffer[4096];
    DWORD size = 0;
    type = REG_NONE;
    if (setupapi::devinst::getProperty(set, &data, which, &type, buffer, sizeof buffer - 2, &size) != NO_ERROR)
        return {};
    std::u16string text(reinterpret_cast<const char16_t*>(buffer), size / sizeof(WCHAR));
    std::string out;
    fromUtf16(text, CP_UTF8, out);
    return out;
}

std::string firstString(const std::string& text)
{
    return text.substr(0, text.find('\0'));
}

bool matches(const DeviceEntry& device, const std::string& pattern)
{
    // A lone '*' is every device, with ids or without.
    if (pattern == "*")
        return true;
    if (!pattern.empty() && pattern[0] == '@')
        return wildcardMatch(pattern.substr(1), device.instanceId);
    for (auto& id : device.ids)
        if (wildcardMatch(pattern, id))
            return true;
    return false;
}

}

std::string utf8(const std::u16string& text)
{
    std::string out;
    fromUtf16(text, CP_UTF8, out);
    return out;
}

std::string utf8(const WCHAR* text)
{
    std::u16string s;
    for (; text && *text; ++text)
        s += *text;
    return utf8(s);
}

std::u16string wide(const std::string& utf8Text)
{
    std::u16string out;
    toUtf16(utf8Text, CP_UTF8, out);
    return out;
}

std::string errorText(unsigned long error)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%lX", error);
    const SystemError* known = findSystemError(static_cast<uint32_t>(error));
    std::string text = known ? std::string(known->name) + " (" + code + ")" : std::string(code);
    std::string message = systemMessage(static_cast<uint32_t>(error));
    return message.empty() ? text : text + ": " + message;
}

// What devcon says of a device: its service's state, else whether a
// driver is installed (the root enumerator starts what has one).
std::string deviceState(const DeviceEntry& device)
{
    if (device.configFlags & configFlagDisabled)
        return "Device is disabled.";
    if (!device.service.empty()) {
        scm::RunStates states;
        const scm::RunState* state = states.find(device.service);
        return state && state->active() ? "Driver is running." : "Device is currently stopped.";
    }
    if (!device.driver.empty())
        return "Driver is running.";
    // CM_PROB_FAILED_INSTALL: no driver is installed.
    return "Device has a problem: 28.";
}

DeviceList::DeviceList()
{
    m_error = setupapi::devinst::getClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT, m_set);
    if (m_error != NO_ERROR) {
        m_set = INVALID_HANDLE_VALUE;
        return;
    }
    for (DWORD i = 0;; ++i) {
        DeviceEntry entry;
        entry.data.cbSize = sizeof entry.data;
        if (setupapi::devinst::enumDeviceInfo(m_set, i, &entry.data) != NO_ERROR)
            break;
        WCHAR id[MAX_DEVICE_ID_LEN + 1];
        if (setupapi::devinst::deviceInstanceId(m_set, &entry.data, id, MAX_DEVICE_ID_LEN + 1, nullptr) != NO_ERROR)
            continue;
        entry.instanceId = upperAscii(utf8(id));
        DWORD type = 0;
        entry.description = firstString(property(m_set, entry.data, SPDRP_FRIENDLYNAME, type));
        if (entry.description.empty())
            entry.description = firstString(property(m_set, entry.data, SPDRP_DEVICEDESC, type));
        entry.className = firstString(property(m_set, entry.data, SPDRP_CLASS, type));
        entry.driver = firstString(property(m_set, entry.data, SPDRP_DRIVER, type));
        entry.service = firstString(property(m_set, entry.data, SPDRP_SERVICE, type));
        entry.classGuid = firstString(property(m_set, entry.data, SPDRP_CLASSGUID, type));
        auto list = [&](DWORD which) { return setupapi::devreg::splitMultiString(property(m_set, entry.data, which, type)); };
        entry.hardwareIds = list(SPDRP_HARDWAREID);
        entry.compatibleIds = list(SPDRP_COMPATIBLEIDS);
        entry.upperFilters = list(SPDRP_UPPERFILTERS);
        entry.lowerFilters = list(SPDRP_LOWERFILTERS);
        entry.ids = entry.hardwareIds;
        entry.ids.insert(entry.ids.end(), entry.compatibleIds.begin(), entry.compatibleIds.end());
        DWORD flags = 0, size = 0;
        if (setupapi::devinst::getProperty(m_set, &entry.data, SPDRP_CONFIGFLAGS, &type, reinterpret_cast<BYTE*>(&flags),
                sizeof flags, &size) == NO_ERROR && type == REG_DWORD)
            entry.configFlags = flags;
        m_devices.push_back(std::move(entry));
    }
}

DeviceList::~DeviceList()
{
    if (m_set != INVALID_HANDLE_VALUE)
        setupapi::devinst::destroyDeviceInfoList(m_set);
}

std::vector<DeviceEntry> DeviceList::select(const Args& patterns) const
{
    Args rest = patterns;
    std::string className;
    if (!rest.empty() && !rest[0].empty() && rest[0][0] == '=') {
        className = rest[0].substr(1);
        rest.erase(rest.begin());
    }
    std::vector<DeviceEntry> out;
    for (auto& device : m_devices) {
        if (!className.empty() && !equalsNoCase(device.className, className))
            continue;
        bool any = rest.empty();
        for (auto& pattern : rest)
            any = any || matches(device, pattern);
        if (any)
            out.push_back(device);
    }
    return out;
}

}

Runner defineDevcon(CLI::App& verb)
{
    using namespace devcon;
    auto dir = std::make_shared<std::string>();
    auto args = std::make_shared<Args>();
    verb.add_option("DIR", *dir, "The machine")->required();
    // An unknown verb is told as such below, not as CLI11's stray argument.
    verb.require_subcommand(0, 1);
    verb.allow_extras();
    auto subs = std::make_shared<std::vector<std::pair<CLI::App*, const DevconVerb*>>>();
    for (const DevconVerb& v : verbs) {
        CLI::App* sub = verb.add_subcommand(v.name, v.help);
        v.declare(*sub, *args);
        subs->emplace_back(sub, &v);
    }
    verb.footer(patternHelp);
    CLI::App* app = &verb;
    return [=] {
        for (auto& [sub, v] : *subs) {
            if (!sub->parsed())
                continue;
            if (v->needsPattern && args->empty())
                return usageError(std::string("devcon ") + v->name
                    + ": no device given: '*' for every device, an id, '@' and an instance id, or '=' and a class"
                      " (see ntsim devcon " + v->name + " --help)");
            if (!sub->remaining().empty())
                return usageError(std::string("devcon ") + v->name + ": unexpected " + sub->remaining().front()
                    + " (see ntsim devcon " + v->name + " --help)");
            std::string error;
            if (!attachMachine(*dir, error))
                return usageError("devcon: " + error);
            currentProcess().currentDirectory = "C:\\";
            return v->run(*args);
        }
        auto extra = app->remaining();
        if (!extra.empty())
            return usageError("devcon: unknown command '" + extra.front() + "'; the commands are " + verbNames()
                + " (see ntsim devcon --help)");
        return usageError("devcon: no command given; the commands are " + verbNames() + " (see ntsim devcon --help)");
    };
}

}
