#include "Faults.h"

#include "FileLock.h"
#include "Machine.h"

#include <cstdlib>

namespace ntsim {

std::optional<uint32_t> injectedFault(const char* api)
{
    Machine& machine = Machine::current();
    bool wanted = false;
    for (auto& f : machine.config().faults)
        if (f.api == api)
            wanted = true;
    if (!wanted)
        return std::nullopt;

    std::string dir = machine.runDir() + "/faults";
    makeDirectories(dir);
    FileLock lock(dir + "/.lock", FileLock::Mode::Exclusive);
    std::string counterPath = dir + "/" + api;
    std::string text;
    unsigned long calls = readWholeFile(counterPath, text) ? std::strtoul(text.c_str(), nullptr, 10) : 0;
    ++calls;
    writeFileAtomically(counterPath, std::to_string(calls) + "\n");
    for (auto& f : machine.config().faults)
        if (f.api == api && f.nth == calls)
            return f.error;
    return std::nullopt;
}

}
