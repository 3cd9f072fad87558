// The subcommands of the ntsim tool. Each takes the arguments after its
// name and returns the tool's exit status.
#pragma once
#include <string>
#include <vector>

namespace ntsim {

using Args = std::vector<std::string>;

int commandNew(const Args& args);
int commandSet(const Args& args);
int commandRun(const Args& args);
int commandReg(const Args& args);    // reg export|import|sddl
int commandSc(const Args& args);     // sc DIR query|start|stop NAME
int commandFault(const Args& args);  // fault DIR API ERROR [--nth N]
int commandWindow(const Args& args); // window DIR --title TEXT
int commandDevcon(const Args& args); // devcon DIR VERB ...

int commandSnapshot(const Args& args); // snapshot DIR FILE
int commandDiff(const Args& args);     // diff DIR --since FILE

// A registry subtree as `reg export` prints it (REGEDIT4 with SDDL), or
// only its key's descriptor; false with the error told.
bool exportRegistryText(const std::string& dir, const std::string& keyPath, bool sddlOnly, std::string& text,
    std::string& error);

// Prints "ntsim: " and the message to standard error; returns 2.
int usageError(const std::string& message);

}
