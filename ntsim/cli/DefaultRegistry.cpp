// Placeholder until the registry store lands: makes the directory only.
#include "DefaultRegistry.h"

#include "machine/FileLock.h"

namespace ntsim {

bool installDefaultRegistry(const std::string& registryDir, std::string& error)
{
    if (!makeDirectories(registryDir)) {
        error = "cannot create " + registryDir;
        return false;
    }
    return true;
}

}
