// ntsim fault: makes a machine's API call fail on purpose.
#include "Commands.h"
#include "ErrorTable.h"

#include "machine/FileLock.h"
#include "machine/Machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace ntsim {

namespace {

// Counting starts afresh, so that --nth counts from now.
void resetCounter(const Machine& machine, const std::string& api)
{
    ::unlink((machine.runDir() + "/faults/" + api).c_str());
}

std::string describe(uint32_t code)
{
    const SystemError* e = findSystemError(code);
    return std::to_string(code) + (e ? std::string(" (") + e->name + ")" : "");
}

}

int commandFault(const Args& args)
{
    const char* usage = "usage: ntsim fault DIR API ERROR [--nth N] | ntsim fault DIR --clear";
    if (args.size() < 2)
        return usageError(usage);
    Machine machine;
    std::string error;
    if (!Machine::open(args[0], machine, error))
        return usageError(error);
    auto& faults = machine.config().faults;

    if (args[1] == "--clear") {
        if (args.size() != 2)
            return usageError(usage);
        for (auto& f : faults)
            resetCounter(machine, f.api);
        size_t count = faults.size();
        faults.clear();
        if (!machine.saveConfig(error))
            return usageError(error);
        std::printf("cleared %zu fault%s\n", count, count == 1 ? "" : "s");
        return 0;
    }

    if (args.size() != 3 && args.size() != 5)
        return usageError(usage);
    FaultSpec spec;
    spec.api = args[1];
    if (spec.api.empty() || spec.api[0] == '-')
        return usageError("fault: '" + spec.api + "' is not an API name");
    auto code = parseSystemError(args[2]);
    if (!code)
        return usageError("fault: '" + args[2] + "' is not an error code (a number, 0x-hex, or a name like ERROR_ACCESS_DENIED)");
    spec.error = *code;
    if (args.size() == 5) {
        char* end = nullptr;
        unsigned long nth = std::strtoul(args[4].c_str(), &end, 10);
        if (args[3] != "--nth" || args[4].empty() || *end || nth == 0 || args[4][0] == '-')
            return usageError("fault: expected --nth N with N 1 or more");
        spec.nth = static_cast<unsigned>(nth);
    }
    // A fault for the same call replaces the old one.
    bool counting = false;
    for (auto it = faults.begin(); it != faults.end();) {
        if (it->api == spec.api && it->nth == spec.nth) {
            it = faults.erase(it);
            continue;
        }
        counting = counting || it->api == spec.api;
        ++it;
    }
    faults.push_back(spec);
    if (!counting)
        resetCounter(machine, spec.api);
    if (!machine.saveConfig(error))
        return usageError(error);
    std::printf("fault: call %u of %s fails with %s\n", spec.nth, spec.api.c_str(), describe(spec.error).c_str());
    return 0;
}

}
