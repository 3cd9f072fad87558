// What NT's I/O manager records when it loads a driver that is not Plug
// and Play: a made-up root device for the service, the device in the root's
// list of attached components, and the device in the service's own Enum
// key. Later loads reuse the device; stop and removal leave it.
#pragma once
#include <windows.h>

#include <string>

namespace ntsim {

// "Root\LEGACY_<SERVICE>\0000", the name upper-cased as the registry folds it.
std::string legacyInstanceId(const std::string& service);

// Writes the traces of a loaded driver as the system; what is there already
// stays as it is. ERROR_SUCCESS or the registry's error.
LONG recordLegacyDriver(const std::string& service, const std::string& description);

}
