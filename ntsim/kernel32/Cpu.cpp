// The processor: EFLAGS and CPUID as the machine's processor answers them.
#include "machine/Machine.h"

#include <intrin.h>

#include <csignal>

namespace {

constexpr unsigned idFlag = 0x200000;
// Interrupts enabled and the always-set bit 1.
thread_local unsigned eflags = 0x202;

}

extern "C" unsigned int __readeflags(void)
{
    return eflags;
}

extern "C" void __writeeflags(unsigned int Value)
{
    // A processor without CPUID keeps its ID flag whatever is written.
    if (!ntsim::Machine::current().config().cpuid)
        Value = (Value & ~idFlag) | (eflags & idFlag);
    eflags = Value | 0x2;
}

extern "C" void __cpuid(int CPUInfo[4], int InfoType)
{
    const auto& config = ntsim::Machine::current().config();
    if (!config.cpuid) {
        std::raise(SIGILL); // the instruction does not exist there
        return;
    }
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    switch (InfoType) {
    case 0:
        eax = 1;          // the highest function of a Pentium
        ebx = 0x756E6547; // "Genu"
        edx = 0x49656E69; // "ineI"
        ecx = 0x6C65746E; // "ntel"
        break;
    case 1:
        eax = 0x543; // family 5, model 4, stepping 3: Pentium MMX
        // FPU, VME, DE, PSE, TSC, MSR, MCE, CX8
        edx = 0x000001BF;
        if (config.mmx)
            edx |= 1u << 23;
        break;
    default:
        break;
    }
    CPUInfo[0] = static_cast<int>(eax);
    CPUInfo[1] = static_cast<int>(ebx);
    CPUInfo[2] = static_cast<int>(ecx);
    CPUInfo[3] = static_cast<int>(edx);
}
