#include "NewMachine.h"

#include "DefaultRegistry.h"
#include "registry/Store.h"
#include "machine/RunStore.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace ntsim {

namespace {

std::string toolDir()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return ".";
    exe[n] = 0;
    std::string path = exe;
    return path.substr(0, path.find_last_of('/'));
}

bool copyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out)
        return false;
    out << in.rdbuf();
    out.close();
    struct stat st;
    if (stat(from.c_str(), &st) == 0)
        chmod(to.c_str(), st.st_mode & 0777);
    return static_cast<bool>(out);
}

bool copyTree(const std::string& from, const std::string& to, std::string& error)
{
    if (!makeDirectories(to)) {
        error = "cannot create " + to;
        return false;
    }
    DIR* d = opendir(from.c_str());
    if (!d) {
        error = "cannot read " + from;
        return false;
    }
    bool ok = true;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string src = from + "/" + name;
        struct stat st;
        if (stat(src.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (!copyTree(src, to + "/" + name, error)) {
                ok = false;
                break;
            }
        } else if (!copyFile(src, to + "/" + name)) {
            error = "cannot copy " + src;
            ok = false;
            break;
        }
    }
    closedir(d);
    return ok;
}

PciDevice defaultModem()
{
    PciDevice modem;
    modem.bus = 0;
    modem.slot = 11;
    modem.vendorId = 0x1A7E;
    modem.deviceId = 0x5C21;
    modem.subsystemId = 0x0410;
    modem.subsystemVendorId = 0x1A7E;
    modem.revision = 0x02;
    modem.kind = "softmodem";
    return modem;
}

}

NewMachineOptions defaultMachineOptions()
{
    NewMachineOptions options;
    const char* package = std::getenv("NTSIM_PACKAGE_DIR");
    const char* system = std::getenv("NTSIM_SYSTEM_DIR");
    const char* windows = std::getenv("NTSIM_WINDOWS_DIR");
    options.packageDir = package && *package ? package : toolDir() + "/package";
    options.systemDir = system && *system ? system : toolDir() + "/system";
    options.windowsDir = windows && *windows ? windows : toolDir() + "/windows";
    return options;
}

bool copyIntoMachine(const std::string& machineDir, const std::string& hostDir, const std::string& ntDir, std::string& error)
{
    Machine machine;
    if (!Machine::open(machineDir, machine, error))
        return false;
    std::string full = fullNtPath(ntDir, "C:\\");
    if (full.empty()) {
        error = ntDir + ": not a path on drive C:";
        return false;
    }
    return copyTree(hostDir, machine.hostPath(full), error);
}

bool createMachine(const std::string& dir, const NewMachineOptions& options, std::string& error)
{
    struct stat st;
    if (stat((dir + "/machine.json").c_str(), &st) == 0) {
        error = dir + ": a machine is there already";
        return false;
    }
    for (const char* sub : { "", "/drive_c/WINNT/system32/drivers", "/drive_c/WINNT/INF", "/drive_c/WINNT/system",
             "/drive_c/TEMP", "/registry", "/run" }) {
        if (!makeDirectories(dir + sub)) {
            error = "cannot create " + dir + sub;
            return false;
        }
    }
    MachineConfig config;
    config.user = *knownUser("administrator");
    config.pci.push_back(defaultModem());
    {
        std::ofstream out(dir + "/machine.json", std::ios::binary | std::ios::trunc);
        out << dumpPretty(config.toJson());
        if (!out) {
            error = "cannot write " + dir + "/machine.json";
            return false;
        }
    }
    if (!installDefaultRegistry(dir + "/registry", config.codePage, error))
        return false;
    // A new machine is switched on with its run state empty.
    if (!RunStore::open(dir + "/run", error))
        return false;
    if (!options.systemDir.empty() && !copyTree(options.systemDir, dir + "/drive_c/WINNT/system32", error))
        return false;
    if (!options.windowsDir.empty() && !copyTree(options.windowsDir, dir + "/drive_c/WINNT", error))
        return false;
    if (!options.packageDir.empty() && !copyTree(options.packageDir, dir + "/drive_c/MODEM", error))
        return false;
    return true;
}

bool setMachineSetting(const std::string& dir, const std::string& assignment, std::string& error)
{
    size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
        error = "expected NAME=VALUE, got '" + assignment + "'";
        return false;
    }
    std::string name = assignment.substr(0, eq);
    std::string value = assignment.substr(eq + 1);
    Machine machine;
    if (!Machine::open(dir, machine, error))
        return false;
    MachineConfig& config = machine.config();
    auto boolean = [&](bool& field) {
        if (value == "true" || value == "1") { field = true; return true; }
        if (value == "false" || value == "0") { field = false; return true; }
        error = name + ": expected true or false, got '" + value + "'";
        return false;
    };
    if (name == "cpu.mmx") {
        if (!boolean(config.mmx))
            return false;
    } else if (name == "cpu.cpuid") {
        if (!boolean(config.cpuid))
            return false;
    } else if (name == "user") {
        auto user = knownUser(value);
        if (!user) {
            error = "user: no account '" + value + "' (the machine has administrator and guest)";
            return false;
        }
        config.user = *user;
    } else if (name == "locale") {
        char* end = nullptr;
        unsigned long id = std::strtoul(value.c_str(), &end, 16);
        auto pages = end && *end == 0 && !value.empty() ? codePagesOfLocale(static_cast<uint16_t>(id)) : std::nullopt;
        if (!pages) {
            error = "locale: '" + value + "' is not a locale id this machine has (e.g. 0409, 0407, 0411)";
            return false;
        }
        config.locale = static_cast<uint16_t>(id);
        config.codePage = pages->first;
        config.oemCodePage = pages->second;
    } else if (name == "trace") {
        if (!value.empty() && value[0] != '/') {
            error = "trace: '" + value + "' is not an absolute path of this host";
            return false;
        }
        config.trace = value;
    } else {
        error = "no setting '" + name + "' (there are cpu.mmx, cpu.cpuid, user, locale, trace)";
        return false;
    }
    return machine.saveConfig(error);
}

bool registryIsSound(const Machine& machine, std::string& error)
{
    return registry::Store::open(machine.registryDir(), machine.config().codePage, error) != nullptr;
}

}
