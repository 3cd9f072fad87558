// Finding and starting a program of the machine: what CreateProcessA and
// the ntsim tool's run command share.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ntsim {

// The full NT path of the image a process start names: applicationName
// when given, else the first token of commandLine, searched as NT does
// (".exe" added to a name without an extension). On failure returns an
// empty string with error set to ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND or ERROR_BAD_EXE_FORMAT (an image that is not an
// ntsim program, such as a PE file).
std::string resolveProgram(const std::string& applicationName, const std::string& commandLine,
    const std::string& currentDirectory, uint32_t& error);

// The host environment of a program of the machine: base (NAME=VALUE
// entries) without the process's own NTSIM_* settings (its image, command
// line, directory and place at the desk), and the new program's first
// three; its place at the desk is the starter's to add.
std::vector<std::string> programEnvironment(const std::string& imageNtPath, const std::string& commandLine,
    const std::string& currentDirectory, const std::vector<std::string>& base);
// The calling process's environment as entries.
std::vector<std::string> hostEnvironment();

// Starts a program of the machine as a child of this process, as NT's
// loader maps it: the image may not be pending deletion (ERROR_ACCESS_DENIED)
// nor open for writing without sharing (ERROR_SHARING_VIOLATION), and it
// counts as open, for the machine's other processes, while the program
// runs. Returns the child's pid, or -1 with error set (ERROR_BAD_EXE_FORMAT,
// ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY ...).
pid_t startProgram(const std::string& imageNtPath, const std::string& commandLine,
    const std::vector<std::string>& environment, uint32_t& error);

}
