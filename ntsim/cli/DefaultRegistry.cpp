// The registry of a fresh NT 4.0 machine, from the hives embedded in ntsim
// as REGEDIT4 text: loaded into the new machine's database in one
// transaction.
#include "DefaultRegistry.h"

#include "registry/Text.h"
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

bool installDefaultRegistry(const std::string& registryDir, unsigned ansiCodePage, std::string& error)
{
    if (!makeDirectories(registryDir)) {
        error = "cannot create " + registryDir;
        return false;
    }
    auto store = registry::Store::create(registryDir, error);
    if (!store)
        return false;
    LONG result = store->write([&]() -> LONG {
        for (auto& hive : hives) {
            registry::RegText parsed;
            std::string text(reinterpret_cast<const char*>(hive.data), *hive.size);
            if (!registry::parseRegText(text, ansiCodePage, parsed, error)) {
                error = std::string("default hive ") + hive.file + ": " + error;
                return ERROR_INVALID_DATA;
            }
            LONG status = registry::importText(*store, parsed, registry::ImportAs::DefaultMachine, error);
            if (status != ERROR_SUCCESS) {
                error = std::string("default hive ") + hive.file + ": " + error;
                return status;
            }
        }
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS && error.empty())
        error = "cannot write the registry " + store->file() + " (error " + std::to_string(result) + ")";
    return result == ERROR_SUCCESS;
}

}
