#include "ApiCall.h"

#include "Faults.h"
#include "Machine.h"

#include <dlfcn.h>

namespace ntsim {

namespace {

// How deep in the platform's own code this thread is: 0 while the
// program runs, 1 inside a call it made, more while that call makes others.
thread_local int depth = 0;
thread_local uint32_t threadLastError = 0;

// Whether a function lies in the machine's own library.
bool platformFunction(const void* function)
{
    static const void* ourBase = [] {
        Dl_info info {};
        return dladdr(reinterpret_cast<const void*>(&platformFunction), &info) ? info.dli_fbase : nullptr;
    }();
    Dl_info info {};
    return function && dladdr(function, &info) && info.dli_fbase == ourBase;
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
