#include "Commands.h"
#include "NewMachine.h"

#include <cstdio>

namespace ntsim {

int commandNew(const Args& args)
{
    if (args.size() != 1)
        return usageError("usage: ntsim new DIR");
    std::string error;
    if (!createMachine(args[0], defaultMachineOptions(), error))
        return usageError(error);
    return 0;
}

int commandSet(const Args& args)
{
    if (args.size() < 2)
        return usageError("usage: ntsim set DIR NAME=VALUE...");
    for (size_t i = 1; i < args.size(); ++i) {
        std::string error;
        if (!setMachineSetting(args[0], args[i], error))
            return usageError(error);
    }
    return 0;
}

int commandRun(const Args&)
{
    return usageError("'run' is not available yet");
}

}
