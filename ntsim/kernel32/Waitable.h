// Kernel objects a thread can wait for.
#pragma once
#include "Handles.h"

namespace ntsim {

class Waitable : public KernelObject {
public:
    using KernelObject::KernelObject;
    // True if the object is signalled; a satisfied wait on an auto-reset
    // event resets it in the same step. Sets error when it cannot tell.
    virtual bool tryWait(DWORD& error) = 0;
    virtual bool maySynchronize() const { return true; }
};

}
