// Processor intrinsics, answered from the simulated machine's processor.
#pragma once
#include "windef.h"

NTSIM_API unsigned int __readeflags(void);
NTSIM_API void __writeeflags(unsigned int Value);
NTSIM_API void __cpuid(int CPUInfo[4], int InfoType);
