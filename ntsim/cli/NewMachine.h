// Making a fresh machine directory and changing its settings.
#pragma once
#include <string>

namespace ntsim {

class Machine;

struct NewMachineOptions {
    std::string packageDir; // copied into C:\MODEM; empty for none
    std::string systemDir;  // the machine's own programs, copied into C:\WINNT\system32
    std::string windowsDir; // programs of the Windows directory, copied into C:\WINNT
};

// Where a build keeps the package and the system programs: beside the
// running ntsim tool, or given by NTSIM_PACKAGE_DIR, NTSIM_SYSTEM_DIR and
// NTSIM_WINDOWS_DIR.
NewMachineOptions defaultMachineOptions();

bool createMachine(const std::string& dir, const NewMachineOptions& options, std::string& error);

// NAME=VALUE settings: cpu.mmx, cpu.cpuid, user, locale.
bool setMachineSetting(const std::string& dir, const std::string& assignment, std::string& error);

// Whether the machine's registry database opens and is the registry's;
// a program started on one that is not would meet an empty registry.
bool registryIsSound(const Machine& machine, std::string& error);

// Copies a host directory's files (and subdirectories) into an NT directory of the machine.
bool copyIntoMachine(const std::string& machineDir, const std::string& hostDir, const std::string& ntDir, std::string& error);

}
