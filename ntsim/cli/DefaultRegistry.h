// The registry of a fresh NT 4.0 machine, from the hives embedded in ntsim.
#pragma once
#include <string>

namespace ntsim {

// Writes the default hives into a machine's registry directory.
bool installDefaultRegistry(const std::string& registryDir, unsigned ansiCodePage, std::string& error);

}
