// Finding and starting a program of the machine: what CreateProcessA and
// the ntsim tool's run command share.
#pragma once
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
// entries) without the process's own NTSIM_* settings, and those settings.
std::vector<std::string> programEnvironment(const std::string& imageNtPath, const std::string& commandLine,
    const std::string& currentDirectory, const std::vector<std::string>& base);
// The calling process's environment as entries.
std::vector<std::string> hostEnvironment();

// Replaces the calling process with the program. If exec fails, prints a
// message and exits with 127.
[[noreturn]] void execProgram(const std::string& imageNtPath, const std::string& commandLine,
    const std::string& currentDirectory);
// As execProgram, with a prepared environment; an exec failure's errno is
// written to reportFd (when not -1) before the process exits with 127.
[[noreturn]] void execProgramWith(const std::string& imageNtPath, const std::string& commandLine,
    const std::vector<std::string>& environment, int reportFd);

}
