// ntsim fault: makes a machine's API call fail on purpose.
#include "Commands.h"
#include "ErrorTable.h"

#include "machine/ApiTable.h"
#include "machine/Faults.h"
#include "machine/Machine.h"
#include "machine/RunStore.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <cstdlib>

namespace ntsim {

namespace {

std::string describe(uint32_t code)
{
    const SystemError* e = findSystemError(code);
    return std::to_string(code) + (e ? std::string(" (") + e->name + ")" : "");
}

}

namespace {

struct FaultRequest {
    std::string dir;
    std::string api;
    std::string error;
    unsigned nth { 1 };
    bool clear { false };
};

// Counting starts afresh, so that --nth counts from now.
int clearFaults(Machine& machine, RunStore& store)
{
    auto& faults = machine.config().faults;
    for (auto& f : faults)
        resetCallCount(store, f.api);
    size_t count = faults.size();
    faults.clear();
    std::string error;
    if (!machine.saveConfig(error))
        return failure(error);
    std::printf("cleared %zu fault%s\n", count, count == 1 ? "" : "s");
    return 0;
}

int addFault(Machine& machine, RunStore& store, const FaultRequest& request)
{
    FaultSpec spec;
    spec.api = request.api;
    if (!findApi(spec.api))
        return usageError("fault: '" + spec.api + "' is no call of the machine's libraries (e.g. StartServiceA)");
    auto code = parseSystemError(request.error);
    if (!code)
        return usageError("fault: '" + request.error + "' is not an error code (a number, 0x-hex, or a name like ERROR_ACCESS_DENIED)");
    spec.error = *code;
    spec.nth = request.nth;
    // A fault for the same call replaces the old one.
    auto& faults = machine.config().faults;
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
        resetCallCount(store, spec.api);
    std::string error;
    if (!machine.saveConfig(error))
        return failure(error);
    std::printf("fault: call %u of %s fails with %s\n", spec.nth, spec.api.c_str(), describe(spec.error).c_str());
    return 0;
}

}

Runner defineFault(CLI::App& verb)
{
    auto request = std::make_shared<FaultRequest>();
    verb.add_option("DIR", request->dir, "The machine")->required();
    CLI::Option* api = verb.add_option("API", request->api, "The call's exported name, e.g. StartServiceA");
    CLI::Option* error = verb.add_option("ERROR", request->error, "The error: a number, 0x-hex, or a name like ERROR_ACCESS_DENIED");
    CLI::Option* nth = verb.add_option("--nth", request->nth, "Fail the N-th call from now (default 1)")
                           ->option_text("N")
                           ->check(CLI::Range(1u, 0xFFFFFFFFu));
    CLI::Option* clear = verb.add_flag("--clear", request->clear, "Remove every fault of the machine");
    clear->excludes(api)->excludes(error)->excludes(nth);
    api->needs(error);
    error->needs(api);
    nth->needs(api);
    verb.footer("Calls are counted across the machine's processes from the moment the fault is set;\n"
                "only a program's own calls count, never those the machine makes inside its work.\n"
                "A fault for the same call and count replaces the old one.");
    return [=] {
        if (!request->clear && request->api.empty())
            return usageError("fault: give API and ERROR, or --clear (see ntsim fault --help)");
        Machine machine;
        std::string message;
        if (!Machine::open(request->dir, machine, message))
            return usageError(message);
        auto store = RunStore::open(machine.runDir(), message);
        if (!store)
            return failure(message);
        return request->clear ? clearFaults(machine, *store) : addFault(machine, *store, *request);
    };
}

}
