#include "SetupApp.h"

#include <intrin.h>

namespace {

constexpr unsigned int EFLAGS_ID = 0x200000;
constexpr int CPUID_FEATURES = 1;
constexpr int FEATURE_MMX = 0x800000;

}

BOOL HasMMX()
{
    // A processor that lets the ID flag be flipped has CPUID.
    unsigned int flags = __readeflags();
    __writeeflags(flags ^ EFLAGS_ID);
    unsigned int flipped = __readeflags();
    __writeeflags(flags);
    if (flipped == flags)
        return FALSE;

    int info[4] = { 0, 0, 0, 0 };
    __cpuid(info, CPUID_FEATURES);
    return (info[3] & FEATURE_MMX) ? TRUE : FALSE;
}
