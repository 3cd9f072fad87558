// A fresh simulated machine in a temporary directory, removed afterwards.
#pragma once
#include "machine/Json.h"

#include <string>
#include <vector>

namespace test {

struct RunResult {
    int exitCode { -1 };
    std::string out;                         // the program's standard output and error
    std::vector<ntsim::Json> transcript;     // one object per thing shown
    std::vector<ntsim::Json> records;        // what the machine noted besides: starts, device installs, exits
};

class TestMachine {
public:
    // With the built package in C:\MODEM and the machine's programs.
    TestMachine();
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    const std::string& dir() const { return m_dir; }
    // Host path of a file or directory of the machine.
    std::string host(const std::string& ntPath) const;
    bool exists(const std::string& ntPath) const;
    std::string read(const std::string& ntPath) const;
    void write(const std::string& ntPath, const std::string& contents) const;
    void remove(const std::string& ntPath) const;

    // ntsim set; fails the test on an error.
    void set(const std::string& assignment) const;
    // ntsim with arguments (the machine directory is not added).
    RunResult tool(const std::vector<std::string>& args) const;
    // ntsim run with a script of answers; args start with the program's NT path.
    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& script = {},
        const std::string& currentDirectory = "") const;

    // Makes this machine the test process's own, running as the given image,
    // so that tests can call the Win32 API in-process.
    void attach(const std::string& imagePath = "C:\\MODEM\\SETUP.EXE", const std::string& commandLine = "",
        const std::string& currentDirectory = "") const;

private:
    std::string m_dir;
};

// The transcript a run wrote, one event a line; a line that is not JSON
// fails the test.
std::vector<ntsim::Json> readTranscript(const std::string& path);
// Whether an event is one the machine notes of a call ("process",
// "device-install") or of a process's end ("exit"), not one shown.
bool isMachineRecord(const ntsim::Json& event);
// The events shown, or the machine's records, of a transcript.
std::vector<ntsim::Json> shownEvents(const std::vector<ntsim::Json>& events);
std::vector<ntsim::Json> machineRecords(const std::vector<ntsim::Json>& events);

// Runs a host program (argv[0] a full path) with no input; what it writes
// to its standard output and error lands in output. Returns its exit
// status, or 128 and the signal that ended it.
int runCommand(const std::vector<std::string>& argv, std::string& output, const std::string& hostCwd = "");

std::string buildDir();
std::string sourceDir();
std::string ntsimTool();

}
