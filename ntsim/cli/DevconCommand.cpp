// ntsim devcon DIR VERB ...: the dispatch table, the help of each verb and
// what the verbs share (the machine's devices and devcon's patterns).
#include "Commands.h"
#include "Devcon.h"
#include "ErrorTable.h"

#include "advapi32/ScmRunState.h"
#include "kernel32/CodePage.h"
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
void optionalPatterns(CLI::App& sub, Args& args)
{
    sub.add_option("PATTERN", args, "Devices to show; all when none is given");
}

void patterns(CLI::App& sub, Args& args)
{
    sub.add_option("PATTERN", args, "Devices to act on")->required();
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
};

const DevconVerb verbs[] = {
    { "find", "List the devices that match, each with its description", optionalPatterns, verbFind },
    { "status", "Show whether the driver of each matching device is running", optionalPatterns, verbStatus },
    { "classes", "List the setup classes of the machine", noArguments, verbClasses },
    { "drivernodes", "List the INF directory's drivers that suit each matching device", patterns, verbDriverNodes },
    { "install", "Add a root-enumerated device with the hardware id, installed with the INF's best driver",
        infAndHardwareId, verbInstall },
    { "remove", "Remove the matching devices with their keys, through their class installers", patterns, verbRemove },
};

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
        entry.instanceId = utf8(id);
        DWORD type = 0;
        entry.description = firstString(property(m_set, entry.data, SPDRP_FRIENDLYNAME, type));
        if (entry.description.empty())
            entry.description = firstString(property(m_set, entry.data, SPDRP_DEVICEDESC, type));
        entry.className = firstString(property(m_set, entry.data, SPDRP_CLASS, type));
        entry.driver = firstString(property(m_set, entry.data, SPDRP_DRIVER, type));
        entry.service = firstString(property(m_set, entry.data, SPDRP_SERVICE, type));
        for (DWORD which : { DWORD(SPDRP_HARDWAREID), DWORD(SPDRP_COMPATIBLEIDS) })
            for (auto& id : setupapi::devreg::splitMultiString(property(m_set, entry.data, which, type)))
                entry.ids.push_back(id);
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
    verb.require_subcommand(1);
    auto subs = std::make_shared<std::vector<std::pair<CLI::App*, const DevconVerb*>>>();
    for (const DevconVerb& v : verbs) {
        CLI::App* sub = verb.add_subcommand(v.name, v.help);
        v.declare(*sub, *args);
        subs->emplace_back(sub, &v);
    }
    verb.footer(patternHelp);
    return [=] {
        std::string error;
        if (!attachMachine(*dir, error))
            return usageError(error);
        currentProcess().currentDirectory = "C:\\";
        for (auto& [sub, v] : *subs)
            if (sub->parsed())
                return v->run(*args);
        return usageError("devcon: no verb given (see ntsim devcon --help)");
    };
}

}
