#include "ApiCall.h"

#include "Faults.h"
#include "Machine.h"

#include <dlfcn.h>
#include <link.h>

#include <vector>

namespace ntsim {

namespace {

// How deep in the platform's own code this thread is: 0 while the
// program runs, 1 inside a call it made, more while that call makes others.
thread_local int depth = 0;
thread_local uint32_t threadLastError = 0;

// The address ranges of the machine's own library, found once: a callback
// is told from the program's code without a lookup per call.
struct LoadedRange {
    uintptr_t start { 0 };
    uintptr_t end { 0 };
};

struct OwnLibrary {
    uintptr_t base { 0 };
    std::vector<LoadedRange> ranges;
};

int collectRanges(dl_phdr_info* info, size_t, void* data)
{
    auto* own = static_cast<OwnLibrary*>(data);
    if (info->dlpi_addr != own->base)
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD)
            own->ranges.push_back(
                { info->dlpi_addr + segment.p_vaddr, info->dlpi_addr + segment.p_vaddr + segment.p_memsz });
    }
    return 1;
}

// Whether a function lies in the machine's own library.
bool platformFunction(const void* function)
{
    static const std::vector<LoadedRange> ranges = [] {
        OwnLibrary own;
        Dl_info self {};
        if (dladdr(reinterpret_cast<const void*>(&collectRanges), &self))
            own.base = reinterpret_cast<uintptr_t>(self.dli_fbase);
        dl_iterate_phdr(collectRanges, &own);
        return own.ranges;
    }();
    auto address = reinterpret_cast<uintptr_t>(function);
    for (auto& r : ranges)
        if (address >= r.start && address < r.end)
            return true;
    return false;
}

}

bool ApiCall::enter()
{
    return depth++ == 0;
}

bool ApiCall::begin()
{
    if (!Machine::attached())
        return false;
    bool traced = tracing();
    if (!traced && !faultsName(m_name))
        return false;
    m_number = countCall(m_name);
    m_fault = faultFor(m_name, m_number);
    if (traced)
        m_record.emplace(m_name, m_number);
    return true;
}

ApiCall::~ApiCall()
{
    --depth;
    if (m_record)
        m_record->write(threadLastError);
}

uint32_t ApiCall::lastError()
{
    return threadLastError;
}

void ApiCall::setLastError(uint32_t error)
{
    threadLastError = error;
}

ProgramCode::ProgramCode(const void* function)
    : m_savedDepth(depth)
{
    if (!platformFunction(function))
        depth = 0;
}

ProgramCode::~ProgramCode()
{
    depth = m_savedDepth;
}

}
