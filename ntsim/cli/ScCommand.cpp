// ntsim sc: shows and drives services the way NT's sc does, through the
// service controller's W calls so that no name is lost on the way (the
// command line and the output are UTF-8). Its exit status is the Win32
// error of the call that failed, as sc's is, cut to an exit status.
#include "Commands.h"
#include "ErrorTable.h"

#include "advapi32/ScmCalls.h"
#include "machine/Unicode.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ntsim {

namespace {

using scm::ScHandle;

std::u16string wide(const std::string& utf8)
{
    return utf8ToUtf16(utf8);
}

std::string narrow(const WCHAR* text)
{
    return text ? utf16ToUtf8(text, wideLength(text)) : std::string();
}

const char* nameOf(const std::map<DWORD, const char*>& names, DWORD value)
{
    auto it = names.find(value);
    return it == names.end() ? "UNKNOWN" : it->second;
}

const std::map<DWORD, const char*> startNames = {
    { SERVICE_BOOT_START, "BOOT_START" },
    { SERVICE_SYSTEM_START, "SYSTEM_START" },
    { SERVICE_AUTO_START, "AUTO_START" },
    { SERVICE_DEMAND_START, "DEMAND_START" },
    { SERVICE_DISABLED, "DISABLED" },
};

const std::map<DWORD, const char*> errorControlNames = {
    { SERVICE_ERROR_IGNORE, "IGNORE" },
    { SERVICE_ERROR_NORMAL, "NORMAL" },
    { SERVICE_ERROR_SEVERE, "SEVERE" },
    { SERVICE_ERROR_CRITICAL, "CRITICAL" },
};

std::string typeName(DWORD type)
{
    static const std::map<DWORD, const char*> types = {
        { SERVICE_KERNEL_DRIVER, "KERNEL_DRIVER" },
        { SERVICE_FILE_SYSTEM_DRIVER, "FILE_SYSTEM_DRIVER" },
        { SERVICE_WIN32_OWN_PROCESS, "WIN32_OWN_PROCESS" },
        { SERVICE_WIN32_SHARE_PROCESS, "WIN32_SHARE_PROCESS" },
    };
    std::string name = nameOf(types, type & ~SERVICE_INTERACTIVE_PROCESS);
    if (type & SERVICE_INTERACTIVE_PROCESS)
        name += " (interactive)";
    return name;
}

void printStatus(const SERVICE_STATUS& s)
{
    DWORD accepted = s.dwControlsAccepted;
    std::printf("        TYPE               : %x  %s\n", s.dwServiceType, typeName(s.dwServiceType).c_str());
    std::printf("        STATE              : %u  %s\n", s.dwCurrentState, serviceStateName(s.dwCurrentState));
    std::printf("                                (%s,%s,%s)\n", accepted & SERVICE_ACCEPT_STOP ? "STOPPABLE" : "NOT_STOPPABLE",
        accepted & SERVICE_ACCEPT_PAUSE_CONTINUE ? "PAUSABLE" : "NOT_PAUSABLE",
        accepted & SERVICE_ACCEPT_SHUTDOWN ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
    std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", s.dwWin32ExitCode, s.dwWin32ExitCode);
    std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", s.dwServiceSpecificExitCode, s.dwServiceSpecificExitCode);
    std::printf("        CHECKPOINT         : 0x%x\n", s.dwCheckPoint);
    std::printf("        WAIT_HINT          : 0x%x\n", s.dwWaitHint);
}

// sc's answer to a failed call. Its error is the exit status, as far as
// the eight bits of one go: never 0 for a failure.
int failed(const char* call)
{
    DWORD error = GetLastError();
    std::printf("[SC] %s FAILED %u:\n\n%s\n\n", call, error, systemMessage(error).c_str());
    return (error & 0xFF) ? static_cast<int>(error & 0xFF) : 255;
}

// sc's "name= value" options; a value may also follow the '=' directly.
class Options {
public:
    // False with the error told when an argument is no option of names.
    bool read(const std::vector<std::string>& args, size_t first, const std::vector<std::string>& names, std::string& error)
    {
        for (size_t i = first; i < args.size(); ++i) {
            size_t equals = args[i].find('=');
            std::string name = equals == std::string::npos ? args[i] : args[i].substr(0, equals);
            bool known = false;
            for (auto& n : names)
                known = known || equalsNoCaseUtf8(n, name);
            if (equals == std::string::npos || !known) {
                error = "'" + args[i] + "' is no option here (options are NAME= VALUE)";
                return false;
            }
            std::string value = args[i].substr(equals + 1);
            if (value.empty()) {
                if (i + 1 >= args.size()) {
                    error = "'" + args[i] + "' needs a value";
                    return false;
                }
                value = args[++i];
            }
            m_values[upperUtf8(name)] = value;
        }
        return true;
    }

    const std::string* get(const char* name) const
    {
        auto it = m_values.find(upperUtf8(name));
        return it == m_values.end() ? nullptr : &it->second;
    }

private:
    std::map<std::string, std::string> m_values;
};

// A value of sc's words for a type, a start or an error control.
bool wordValue(const Options& options, const char* option, const std::map<std::string, DWORD>& words, DWORD& out,
    std::string& error)
{
    const std::string* given = options.get(option);
    if (!given)
        return true;
    auto it = words.find(upperUtf8(*given));
    if (it == words.end()) {
        error = std::string(option) + "= " + *given + " is not one of sc's values";
        return false;
    }
    out = it->second;
    return true;
}

// The settings of create and config, as ChangeServiceConfigW's arguments.
struct Settings {
    DWORD type { SERVICE_NO_CHANGE };
    DWORD start { SERVICE_NO_CHANGE };
    DWORD errorControl { SERVICE_NO_CHANGE };
    std::optional<std::u16string> binaryPath, group, dependencies, startName, password, displayName;
    bool tag { false };
};

const std::vector<std::string> settingNames
    = { "type", "start", "error", "binPath", "group", "tag", "depend", "obj", "DisplayName", "password" };

bool readSettings(const Options& options, Settings& s, std::string& error)
{
    static const std::map<std::string, DWORD> types = { { "OWN", SERVICE_WIN32_OWN_PROCESS },
        { "SHARE", SERVICE_WIN32_SHARE_PROCESS }, { "INTERACT", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS },
        { "KERNEL", SERVICE_KERNEL_DRIVER }, { "FILESYS", SERVICE_FILE_SYSTEM_DRIVER } };
    static const std::map<std::string, DWORD> starts = { { "BOOT", SERVICE_BOOT_START }, { "SYSTEM", SERVICE_SYSTEM_START },
        { "AUTO", SERVICE_AUTO_START }, { "DEMAND", SERVICE_DEMAND_START }, { "DISABLED", SERVICE_DISABLED } };
    static const std::map<std::string, DWORD> errors = { { "NORMAL", SERVICE_ERROR_NORMAL },
        { "SEVERE", SERVICE_ERROR_SEVERE }, { "CRITICAL", SERVICE_ERROR_CRITICAL }, { "IGNORE", SERVICE_ERROR_IGNORE } };
    if (!wordValue(options, "type", types, s.type, error) || !wordValue(options, "start", starts, s.start, error)
        || !wordValue(options, "error", errors, s.errorControl, error))
        return false;
    auto text = [&](const char* name, std::optional<std::u16string>& out) {
        if (const std::string* value = options.get(name))
            out = wide(*value);
    };
    text("binPath", s.binaryPath);
    text("group", s.group);
    text("obj", s.startName);
    text("password", s.password);
    text("DisplayName", s.displayName);
    // depend= A/B/C: the double-zero list, '/' between the names.
    if (const std::string* value = options.get("depend")) {
        std::u16string list = wide(*value);
        for (auto& c : list)
            if (c == u'/')
                c = 0;
        s.dependencies = list + std::u16string(1, u'\0');
    }
    if (const std::string* value = options.get("tag")) {
        if (!equalsNoCaseUtf8(*value, "yes") && !equalsNoCaseUtf8(*value, "no")) {
            error = "tag= " + *value + " is neither yes nor no";
            return false;
        }
        s.tag = equalsNoCaseUtf8(*value, "yes");
    }
    return true;
}

const WCHAR* orNull(const std::optional<std::u16string>& text)
{
    return text ? text->c_str() : nullptr;
}

int queryOne(SC_HANDLE manager, const std::string& name)
{
    ScHandle service(scm::openServiceW(manager, wide(name).c_str(), SERVICE_QUERY_STATUS));
    if (!service)
        return failed("OpenService");
    SERVICE_STATUS status {};
    if (!scm::queryStatus(service.get(), &status))
        return failed("QueryServiceStatus");
    std::printf("\nSERVICE_NAME: %s\n", name.c_str());
    printStatus(status);
    return 0;
}

// sc query without a name: the services of a type and state, Win32
// services that run unless type= and state= say otherwise.
int queryAll(SC_HANDLE manager, const Options& options, std::string& usage)
{
    static const std::map<std::string, DWORD> types
        = { { "SERVICE", SERVICE_WIN32 }, { "DRIVER", SERVICE_DRIVER }, { "ALL", SERVICE_WIN32 | SERVICE_DRIVER } };
    static const std::map<std::string, DWORD> states
        = { { "ACTIVE", SERVICE_ACTIVE }, { "INACTIVE", SERVICE_INACTIVE }, { "ALL", SERVICE_STATE_ALL } };
    DWORD type = SERVICE_WIN32;
    DWORD state = SERVICE_ACTIVE;
    if (!wordValue(options, "type", types, type, usage) || !wordValue(options, "state", states, state, usage))
        return -1;
    DWORD needed = 0, returned = 0, resume = 0;
    std::vector<BYTE> buffer(4096);
    for (;;) {
        auto* entries = reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer.data());
        BOOL done = scm::enumServicesW(manager, type, state, entries, static_cast<DWORD>(buffer.size()), &needed,
            &returned, &resume);
        if (!done && GetLastError() != ERROR_MORE_DATA)
            return failed("EnumServicesStatus");
        for (DWORD i = 0; i < returned; ++i) {
            std::printf("\nSERVICE_NAME: %s\nDISPLAY_NAME: %s\n", narrow(entries[i].lpServiceName).c_str(),
                narrow(entries[i].lpDisplayName).c_str());
            printStatus(entries[i].ServiceStatus);
        }
        if (done)
            return 0;
        buffer.resize(std::max<size_t>(buffer.size(), needed + sizeof(ENUM_SERVICE_STATUSW)));
    }
}

int startOrStop(SC_HANDLE manager, const std::string& verb, const std::string& name)
{
    DWORD access = SERVICE_QUERY_STATUS | (verb == "start" ? SERVICE_START : SERVICE_STOP);
    ScHandle service(scm::openServiceW(manager, wide(name).c_str(), access));
    if (!service)
        return failed("OpenService");
    SERVICE_STATUS status {};
    if (verb == "start") {
        if (!scm::start(service.get(), 0, nullptr))
            return failed("StartService");
        if (!scm::queryStatus(service.get(), &status))
            return failed("QueryServiceStatus");
    } else if (!scm::control(service.get(), SERVICE_CONTROL_STOP, &status)) {
        return failed("ControlService");
    }
    std::printf("\nSERVICE_NAME: %s\n", name.c_str());
    printStatus(status);
    return 0;
}

int queryConfig(SC_HANDLE manager, const std::string& name)
{
    ScHandle service(scm::openServiceW(manager, wide(name).c_str(), SERVICE_QUERY_CONFIG));
    if (!service)
        return failed("OpenService");
    DWORD needed = 0;
    scm::queryConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(buffer.data());
    if (!scm::queryConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return failed("GetServiceConfig");
    std::printf("[SC] GetServiceConfig SUCCESS\n\nSERVICE_NAME: %s\n", name.c_str());
    std::printf("        TYPE               : %x  %s\n", config->dwServiceType, typeName(config->dwServiceType).c_str());
    std::printf("        START_TYPE         : %u   %s\n", config->dwStartType, nameOf(startNames, config->dwStartType));
    std::printf("        ERROR_CONTROL      : %u   %s\n", config->dwErrorControl,
        nameOf(errorControlNames, config->dwErrorControl));
    std::printf("        BINARY_PATH_NAME   : %s\n", narrow(config->lpBinaryPathName).c_str());
    std::printf("        LOAD_ORDER_GROUP   : %s\n", narrow(config->lpLoadOrderGroup).c_str());
    std::printf("        TAG                : %u\n", config->dwTagId);
    std::printf("        DISPLAY_NAME       : %s\n", narrow(config->lpDisplayName).c_str());
    const WCHAR* dependency = config->lpDependencies;
    std::printf("        DEPENDENCIES       : %s\n", narrow(dependency).c_str());
    for (dependency += wideLength(dependency) + 1; dependency && *dependency; dependency += wideLength(dependency) + 1)
        std::printf("                           : %s\n", narrow(dependency).c_str());
    std::printf("        SERVICE_START_NAME : %s\n", narrow(config->lpServiceStartName).c_str());
    return 0;
}

int create(SC_HANDLE manager, const std::string& name, const Settings& s)
{
    DWORD tag = 0;
    ScHandle service(scm::createServiceW(manager, wide(name).c_str(), orNull(s.displayName), SERVICE_ALL_ACCESS,
        s.type == SERVICE_NO_CHANGE ? SERVICE_WIN32_OWN_PROCESS : s.type,
        s.start == SERVICE_NO_CHANGE ? SERVICE_DEMAND_START : s.start,
        s.errorControl == SERVICE_NO_CHANGE ? SERVICE_ERROR_NORMAL : s.errorControl, orNull(s.binaryPath),
        orNull(s.group), s.tag ? &tag : nullptr, orNull(s.dependencies), orNull(s.startName)));
    if (!service)
        return failed("CreateService");
    std::printf("[SC] CreateService SUCCESS\n");
    return 0;
}

int config(SC_HANDLE manager, const std::string& name, const Settings& s)
{
    ScHandle service(scm::openServiceW(manager, wide(name).c_str(), SERVICE_CHANGE_CONFIG));
    if (!service)
        return failed("OpenService");
    DWORD tag = 0;
    if (!scm::changeConfigW(service.get(), s.type, s.start, s.errorControl, orNull(s.binaryPath), orNull(s.group),
            s.tag ? &tag : nullptr, orNull(s.dependencies), orNull(s.startName), orNull(s.displayName)))
        return failed("ChangeServiceConfig");
    std::printf("[SC] ChangeServiceConfig SUCCESS\n");
    return 0;
}

int remove(SC_HANDLE manager, const std::string& name)
{
    ScHandle service(scm::openServiceW(manager, wide(name).c_str(), DELETE));
    if (!service)
        return failed("OpenService");
    if (!scm::markForDelete(service.get()))
        return failed("DeleteService");
    std::printf("[SC] DeleteService SUCCESS\n");
    return 0;
}

// getdisplayname and getkeyname: one name for the other.
int lookUp(SC_HANDLE manager, bool display, const std::string& name)
{
    std::u16string given = wide(name);
    WCHAR found[257];
    DWORD length = 257;
    BOOL ok = display ? scm::displayNameW(manager, given.c_str(), found, &length)
                      : scm::keyNameW(manager, given.c_str(), found, &length);
    const char* call = display ? "GetServiceDisplayName" : "GetServiceKeyName";
    if (!ok)
        return failed(call);
    std::printf("[SC] %s SUCCESS  Name = %s\n", call, narrow(found).c_str());
    return 0;
}

int scUsage(const std::string& problem)
{
    return usageError("sc: " + problem + " (see ntsim sc --help)");
}

int drive(const std::string& verb, const std::vector<std::string>& args)
{
    auto needsName = [&](std::string& error) {
        if (args.empty())
            error = verb + " needs a service's name";
        return !args.empty();
    };
    std::string usage;
    Options options;
    Settings settings;
    if (verb == "query") {
        if (args.size() > 1 || (args.size() == 1 && args[0].find('=') != std::string::npos)) {
            if (!options.read(args, 0, { "type", "state" }, usage))
                return scUsage(usage);
        }
    } else if (!needsName(usage)) {
        return scUsage(usage);
    } else if (verb == "create" || verb == "config") {
        if (!options.read(args, 1, settingNames, usage) || !readSettings(options, settings, usage))
            return scUsage(usage);
        if (verb == "create" && !settings.binaryPath)
            return scUsage("create needs binPath= PATH");
    } else if (args.size() > 1) {
        return scUsage(verb + " takes one name");
    }
    DWORD managerAccess = verb == "create" ? SC_MANAGER_CREATE_SERVICE
        : verb == "query" && (args.empty() || args[0].find('=') != std::string::npos) ? SC_MANAGER_ENUMERATE_SERVICE
                                                                                       : SC_MANAGER_CONNECT;
    ScHandle manager(scm::openManagerW(nullptr, nullptr, managerAccess));
    if (!manager)
        return failed("OpenSCManager");
    if (verb == "query") {
        if (!args.empty() && args[0].find('=') == std::string::npos)
            return queryOne(manager.get(), args[0]);
        int status = queryAll(manager.get(), options, usage);
        return status < 0 ? scUsage(usage) : status;
    }
    if (verb == "start" || verb == "stop")
        return startOrStop(manager.get(), verb, args[0]);
    if (verb == "qc")
        return queryConfig(manager.get(), args[0]);
    if (verb == "create")
        return create(manager.get(), args[0], settings);
    if (verb == "config")
        return config(manager.get(), args[0], settings);
    if (verb == "delete")
        return remove(manager.get(), args[0]);
    return lookUp(manager.get(), verb == "getdisplayname", args[0]);
}

}

const char* serviceStateName(unsigned long state)
{
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
    }
}

Runner defineSc(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto action = std::make_shared<std::string>();
    auto args = std::make_shared<std::vector<std::string>>();
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("ACTION", *action, "What sc does (see below)")
        ->required()
        ->check(CLI::IsMember({ "query", "start", "stop", "qc", "create", "config", "delete", "getdisplayname",
            "getkeyname" }));
    verb.add_option("ARGS", *args, "The service's name, then the action's options");
    verb.footer(
        "Actions, as NT's sc takes them:\n"
        "  query [NAME]             the service's status; without a name every Win32 service that\n"
        "                           runs, or those of type= service|driver|all, state= active|inactive|all\n"
        "  start NAME, stop NAME    starts or stops the service and shows its status\n"
        "  qc NAME                  the service's configuration\n"
        "  create NAME binPath= PATH [OPTIONS]    a new service\n"
        "  config NAME OPTIONS      changes the service's configuration\n"
        "  delete NAME              marks the service for deletion\n"
        "  getdisplayname NAME      the display name of a service\n"
        "  getkeyname DISPLAYNAME   the service a display name belongs to\n"
        "Options of create and config (a space after each '='):\n"
        "  type= own|share|interact|kernel|filesys  start= boot|system|auto|demand|disabled\n"
        "  error= normal|severe|critical|ignore  binPath= PATH  group= GROUP  tag= yes|no\n"
        "  depend= A/B/+GROUP  obj= ACCOUNT  DisplayName= TEXT  password= TEXT\n"
        "A failed call prints [SC] CALL FAILED, its error and its message; the exit status is the error's\n"
        "low eight bits, all an exit status holds (1060 gives 36), or 255 where those are 0.");
    return [=] {
        std::string error;
        if (!attachMachine(*dir, error))
            return usageError(error);
        return drive(*action, *args);
    };
}

}
