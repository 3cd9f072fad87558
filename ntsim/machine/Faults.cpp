#include "Faults.h"

#include "FileLock.h"
#include "Machine.h"

#include <cstdlib>

namespace ntsim {

bool faultsName(const char* api)
{
    for (auto& f : Machine::current().config().faults)
        if (f.api == api)
            return true;
    return false;
}

unsigned countCall(const char* api)
{
    std::string dir = Machine::current().runDir() + "/faults";
    makeDirectories(dir);
    FileLock lock(dir + "/.lock", FileLock::Mode::Exclusive);
    std::string counterPath = dir + "/" + api;
    std::string text;
    unsigned long calls = readWholeFile(counterPath, text) ? std::strtoul(text.c_str(), nullptr, 10) : 0;
    ++calls;
    writeFileAtomically(counterPath, std::to_string(calls) + "\n");
    return static_cast<unsigned>(calls);
}

std::optional<uint32_t> faultFor(const char* api, unsigned n)
{
    for (auto& f : Machine::current().config().faults)
        if (f.api == api && f.nth == n)
            return f.error;
    return std::nullopt;
}

}
