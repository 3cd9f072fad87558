// What a program of the machine knows about itself: its image, its command
// line and its current directory, all as NT paths.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ntsim {

struct ProcessContext {
    std::string imagePath;        // full NT path of the program's image
    std::string commandLine;      // as GetCommandLineA gives it
    std::string currentDirectory; // full NT path, no trailing backslash but for "C:\"
};

ProcessContext& currentProcess();

// Sets up a program started by the machine (the process entry calls this):
// the machine from NTSIM_MACHINE or the image's place, the NT command line
// from NTSIM_CMDLINE, the current directory from NTSIM_CWD.
void initProcessFromHost(int argc, char** argv);

// The start time of a host process (clock ticks after boot), which tells
// it from a later process of the same pid; 0 if it has ended (a zombie has).
uint64_t processStartTime(int pid);

// A process as the machine's shared state names it: its pid and start time.
struct ProcessIdentity {
    int pid { 0 };
    uint64_t start { 0 };
    bool operator==(const ProcessIdentity& other) const { return pid == other.pid && start == other.start; }
    bool operator<(const ProcessIdentity& other) const { return pid != other.pid ? pid < other.pid : start < other.start; }
};

// This process, looked up once (and again in a forked child).
ProcessIdentity thisProcess();
// Whether the process still runs; a zombie does not.
bool processRunning(const ProcessIdentity& process);

// For tests that run program code in-process against a machine directory.
void initProcessForTest(const std::string& machineRoot, const std::string& imagePath,
    const std::string& commandLine, const std::string& currentDirectory = "");

// Builds a command line from arguments with the quoting rules that
// CommandLineToArgvW undoes.
std::string quoteCommandLine(const std::vector<std::string>& args);
// Splits a command line as the C runtime does for argv.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

}
