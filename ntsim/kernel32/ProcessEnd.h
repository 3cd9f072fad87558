// What the machine's shared state keeps of a process beyond its handles,
// and how it is let go: by the process itself as it ends, or by another
// that finds it ended when one of its rows decides something.
#pragma once
#include <windows.h>

#include "machine/Process.h"
#include "machine/RunStore.h"

#include <optional>

namespace ntsim {

// Lets go of what an ended process held: its opens (and the files it was
// to delete) and its holds on named events.
void forgetProcess(const RunStore::Transaction& transaction, const ProcessIdentity& process);

// The process's own end: forgets it and wakes the machine's waiters.
void endThisProcess();

// An exit code wider than the host's eight bits, kept for the parent.
void keepExitCode(int pid, DWORD code);
// The kept code of an ended child, which is then forgotten.
std::optional<DWORD> takeExitCode(int pid);

}
