// The simulated machine: a directory that holds its hardware description
// (machine.json), drive C:, the registry database and the run-time state.
#pragma once
#include "Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ntsim {

struct PciDevice {
    unsigned bus { 0 };
    unsigned slot { 0 };
    uint16_t vendorId { 0 };
    uint16_t deviceId { 0 };
    uint16_t subsystemId { 0 };
    uint16_t subsystemVendorId { 0 };
    uint8_t revision { 0 };
    std::string kind; // "softmodem" for the modem our drivers look for
};

struct FaultSpec {
    std::string api;
    uint32_t error { 0 };
    unsigned nth { 1 };
};

struct UserAccount {
    std::string name;
    std::string sid;
    std::vector<std::string> groups; // SIDs of the groups in the user's token
    bool admin { false };
};

struct MachineConfig {
    bool cpuid { true };
    bool mmx { true };
    uint16_t locale { 0x0409 };
    unsigned codePage { 1252 };
    unsigned oemCodePage { 437 };
    UserAccount user;
    std::vector<PciDevice> pci;
    std::vector<FaultSpec> faults;
    std::string trace; // a host file every run's calls are traced to, or empty

    Json toJson() const;
    static bool fromJson(const Json& j, MachineConfig& out, std::string& error);
};

// Tells the lookup of host paths that this process made or removed a file
// or directory of drive_c, so that the listing it keeps stays true.
void noteHostChange(const std::string& hostPath);

// The accounts a machine knows: "administrator" and "guest".
std::optional<UserAccount> knownUser(const std::string& name);
// ANSI and OEM code page of a locale id, or nothing for a locale we lack.
std::optional<std::pair<unsigned, unsigned>> codePagesOfLocale(uint16_t locale);
// Whether one of the machine's locales has this ANSI (or OEM) code page.
bool machineCodePage(unsigned codePage, bool oem);

class Machine {
public:
    // Opens a machine directory; false if it holds no machine.json.
    static bool open(const std::string& root, Machine& out, std::string& error);

    // The machine of this process: NTSIM_MACHINE, else the directory above
    // the program's image that holds machine.json. Exits with a message when
    // there is none, since no Win32 call can work without a machine.
    static Machine& current();
    // Makes root the process's machine (tests run programs in-process).
    static void attach(const std::string& root);
    static bool attached();

    const std::string& root() const { return m_root; }
    std::string driveC() const { return m_root + "/drive_c"; }
    std::string registryDir() const { return m_root + "/registry"; }
    std::string runDir() const { return m_root + "/run"; }
    std::string configPath() const { return m_root + "/machine.json"; }

    const MachineConfig& config() const { return m_config; }
    MachineConfig& config() { return m_config; }
    bool saveConfig(std::string& error) const;
    // Re-reads machine.json (another process may have changed it).
    bool reloadConfig(std::string& error);

    // The host path of a full NT path on drive C:, each existing component
    // matched without regard to case. Empty if the path is not on C: or
    // reaches a host symbolic link inside drive_c: the machine never
    // follows one, wherever it points.
    std::string hostPath(const std::string& ntFullPath) const;
    enum class PathProblem { None, NotOnDriveC, HostLink };
    std::string hostPath(const std::string& ntFullPath, PathProblem& problem) const;
    // The NT path of a host path inside drive_c, or empty.
    std::string ntPath(const std::string& hostPath) const;

    std::string windowsDir() const { return "C:\\WINNT"; }
    std::string systemDir() const { return "C:\\WINNT\\system32"; }

private:
    std::string m_root;
    MachineConfig m_config;
};

}
