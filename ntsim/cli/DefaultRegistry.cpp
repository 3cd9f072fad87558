// The registry of a fresh NT 4.0 machine, from the hives embedded in ntsim:
// each is written into registry/ and then rewritten by the store, so that
// every key carries its descriptor explicitly and a journal exists.
#include "DefaultRegistry.h"

#include "advapi32/RegistryStore.h"
#include "machine/FileLock.h"

#include <cstddef>

#define NTSIM_DEFAULT_HIVE(name)                        \
    extern const unsigned char ntsim_default_##name[]; \
    extern const std::size_t ntsim_default_##name##_size;
NTSIM_DEFAULT_HIVE(SYSTEM)
NTSIM_DEFAULT_HIVE(SOFTWARE)
NTSIM_DEFAULT_HIVE(HARDWARE)
NTSIM_DEFAULT_HIVE(SAM)
NTSIM_DEFAULT_HIVE(SECURITY)
NTSIM_DEFAULT_HIVE(USER_DEFAULT)
NTSIM_DEFAULT_HIVE(USER_ADMINISTRATOR)
NTSIM_DEFAULT_HIVE(USER_GUEST)
#undef NTSIM_DEFAULT_HIVE

namespace ntsim {

namespace {

struct EmbeddedHive {
    const char* file;
    const unsigned char* data;
    const std::size_t* size;
};

const EmbeddedHive hives[] = {
    { "SYSTEM.reg", ntsim_default_SYSTEM, &ntsim_default_SYSTEM_size },
    { "SOFTWARE.reg", ntsim_default_SOFTWARE, &ntsim_default_SOFTWARE_size },
    { "HARDWARE.reg", ntsim_default_HARDWARE, &ntsim_default_HARDWARE_size },
    { "SAM.reg", ntsim_default_SAM, &ntsim_default_SAM_size },
    { "SECURITY.reg", ntsim_default_SECURITY, &ntsim_default_SECURITY_size },
    { "USER_DEFAULT.reg", ntsim_default_USER_DEFAULT, &ntsim_default_USER_DEFAULT_size },
    { "USER_ADMINISTRATOR.reg", ntsim_default_USER_ADMINISTRATOR, &ntsim_default_USER_ADMINISTRATOR_size },
    { "USER_GUEST.reg", ntsim_default_USER_GUEST, &ntsim_default_USER_GUEST_size },
};

}

bool installDefaultRegistry(const std::string& registryDir, std::string& error)
{
    if (!makeDirectories(registryDir)) {
        error = "cannot create " + registryDir;
        return false;
    }
    for (auto& hive : hives) {
        std::string text(reinterpret_cast<const char*>(hive.data), *hive.size);
        if (!writeFileAtomically(registryDir + "/" + hive.file, text)) {
            error = "cannot write " + registryDir + "/" + hive.file;
            return false;
        }
    }
    registry::Store store(registryDir);
    if (!store.compact()) {
        error = "cannot write the registry in " + registryDir;
        return false;
    }
    return true;
}

}
