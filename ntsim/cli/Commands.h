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

// Prints "ntsim: " and the message to standard error; returns 2.
int usageError(const std::string& message);

}
