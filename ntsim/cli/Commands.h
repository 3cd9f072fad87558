// The verbs of the ntsim tool. Each declares its arguments on its own
// subcommand of the command line and returns what runs it once the whole
// command line is parsed; the runner returns the tool's exit status.
#pragma once
#include <functional>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace ntsim {

using Runner = std::function<int()>;

struct Verb {
    const char* name;
    const char* summary;
    Runner (*define)(CLI::App& verb);
};

Runner defineNew(CLI::App& verb);    // new DIR
Runner definePut(CLI::App& verb);    // put DIR [HOSTDIR] [--to NTPATH]
Runner defineSet(CLI::App& verb);    // set DIR NAME=VALUE...
Runner defineRun(CLI::App& verb);    // run DIR [options] -- NTPATH ARGS...
Runner defineReg(CLI::App& verb);    // reg export|import|sddl DIR ...
Runner defineSc(CLI::App& verb);     // sc DIR query|start|stop NAME
Runner defineFault(CLI::App& verb);  // fault DIR API ERROR [--nth N] | fault DIR --clear
Runner defineWindow(CLI::App& verb); // window DIR --title TEXT
Runner defineDevcon(CLI::App& verb); // devcon DIR find|status|classes|drivernodes|install|remove ...
Runner defineSnapshot(CLI::App& verb); // snapshot DIR FILE
Runner defineDiff(CLI::App& verb);     // diff DIR --since FILE
Runner defineTrace(CLI::App& verb);
Runner defineSweep(CLI::App& verb);    // sweep DIR [options] -- NTPATH ARGS...    // trace show FILE [--call NAME] [--pid PID] [--failed]

// A registry subtree as `reg export` prints it (REGEDIT4 with SDDL), or
// only its key's descriptor; false with the error told.
bool exportRegistryText(const std::string& dir, const std::string& keyPath, bool sddlOnly, std::string& text,
    std::string& error);

// Opens a machine directory and makes it this process's machine, so that
// the verb can call into it; false with the error told.
bool attachMachine(const std::string& dir, std::string& error);
// "RUNNING" and the other states as sc names them.
const char* serviceStateName(unsigned long state);

// What is wrong with a run command line CLI11 refused, when it is the
// program's arguments given without "--" before them.
std::optional<std::string> runCommandLineProblem(int argc, char** argv);

// The status of `run` when the program could not start at all, as a
// shell's for a command it cannot run.
constexpr int cannotStartStatus = 127;

// The one form of every refusal of the command line: "ntsim: " and the
// message on standard error; returns 2, the status of a usage error.
int usageError(const std::string& message);
// The same form for a command that could not do its work; returns 1.
int failure(const std::string& message);

}
