// Starting a service and what it depends on, through the driver runtime.
#pragma once
#include "ScmDatabase.h"
#include "ScmRunState.h"

namespace ntsim::scm {

// Starts a stopped service after its dependencies; ERROR_SUCCESS or the
// error StartService reports.
DWORD startService(RunStates& states, const ServiceConfig& config);

// Sends a stop to a loaded service; the state it is left in.
DWORD stopLoadedService(const ServiceConfig& config, RunState& state);

// Running services that depend on this one, by name or by its group.
bool hasActiveDependents(RunStates& states, const ServiceConfig& config);

}
