// The service database's lock (LockServiceDatabase): one holder at a time
// on the machine, a process of it, until it unlocks or ends. The lock is
// kept in run/scm-lock.json, read and written only under the lock on the
// run states (a RunStates holds it), so that both change in one step.
#pragma once
#include "ScmRunState.h"

namespace ntsim::scm {

// Whether a live process holds the database's lock.
bool databaseLocked(RunStates& states);

}
