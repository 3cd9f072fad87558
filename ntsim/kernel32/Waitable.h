// Kernel objects a thread can wait for.
#pragma once
#include "Handles.h"

#include "machine/Process.h"
#include "machine/RunStore.h"

#include <functional>
#include <memory>
#include <string>

namespace ntsim {

class Waitable : public KernelObject {
public:
    using KernelObject::KernelObject;
    // True if the object is signalled; a satisfied wait on an auto-reset
    // event resets it in the same step. Sets error when it cannot tell.
    virtual bool tryWait(DWORD& error) = 0;
    // Whether it is signalled, leaving it as it is.
    virtual bool signaled(DWORD& error) = 0;
    // A wait for it and others was satisfied: an auto-reset event resets.
    virtual void satisfy() { }
    virtual bool maySynchronize() const { return true; }
    // Two handles of one object give one identity.
    virtual std::string identity() const { return std::to_string(reinterpret_cast<uintptr_t>(this)); }
    // A descriptor that becomes readable when the object is signalled for
    // good (a process's end), which the caller closes; -1 for an object
    // whose changes are announced through the run store (an event).
    virtual int openEndDescriptor() const { return -1; }
};

// What sets the event behind a handle later, from any thread, holding the
// event as NT holds an object it references: ERROR_INVALID_HANDLE when the
// handle is no event, ERROR_ACCESS_DENIED when it may not set it.
DWORD eventSetter(HANDLE handle, std::function<void()>& out);

// Lets go of an ended process's holds on named events; an event goes with
// its last holder.
void releaseEventHolds(const RunStore::Transaction& transaction, const ProcessIdentity& process);

}
