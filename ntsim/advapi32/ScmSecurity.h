// The security of services: each service's descriptor, kept as NT keeps it
// in the Security value of the service key's Security subkey.
#pragma once
#include "machine/SecurityDescriptor.h"

#include <string>

namespace ntsim::scm {

extern const security::GenericMapping managerMapping;
extern const security::GenericMapping serviceMapping;

// The controller's own descriptor: every user may connect, enumerate and
// look at the lock; the system and administrators may do everything.
security::SecurityDescriptor managerSecurity();

// The descriptor stored for the service, else the one NT gives a new
// service. A stored descriptor that cannot be read grants nothing.
security::SecurityDescriptor serviceSecurity(const std::string& name);

}
