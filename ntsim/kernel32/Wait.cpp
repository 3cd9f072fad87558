// Waiting for kernel objects, and sleeping.
#include "Waitable.h"
#include "machine/ApiCall.h"

#include <windows.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace {

// The current process's pseudo-handle: it is never signalled while we wait.
class CurrentProcess final : public ntsim::Waitable {
public:
    CurrentProcess()
        : Waitable(Type::Process)
    {
    }
    bool tryWait(DWORD&) override { return false; }
    bool signaled(DWORD&) override { return false; }
};

DWORD failed(DWORD error)
{
    SetLastError(error);
    return WAIT_FAILED;
}

// The objects behind the handles, or the error that refuses the wait.
DWORD waitables(DWORD count, const HANDLE* handles, bool all, std::vector<std::shared_ptr<ntsim::Waitable>>& out)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS)
        return ERROR_INVALID_PARAMETER;
    if (!handles)
        return ERROR_NOACCESS;
    std::set<std::string> identities;
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<ntsim::Waitable> waitable;
        if (handles[i] == ntsim::currentProcessHandle()) {
            waitable = std::make_shared<CurrentProcess>();
        } else {
            auto object = ntsim::lookupHandle(handles[i]);
            if (!object || object->type() == ntsim::KernelObject::Type::File || object->type() == ntsim::KernelObject::Type::Find)
                return ERROR_INVALID_HANDLE;
            waitable = std::static_pointer_cast<ntsim::Waitable>(object);
        }
        if (!waitable->maySynchronize())
            return ERROR_ACCESS_DENIED;
        // Waiting for all of one object twice cannot be told apart: NT refuses it.
        if (all && !identities.insert(waitable->identity()).second)
            return ERROR_INVALID_PARAMETER;
        out.push_back(std::move(waitable));
    }
    return NO_ERROR;
}

// One look: the index of the object that satisfied the wait, `objects`
// when none did yet, or an error.
size_t lookOnce(const std::vector<std::shared_ptr<ntsim::Waitable>>& objects, bool all, DWORD& error)
{
    if (!all) {
        for (size_t i = 0; i < objects.size(); ++i)
            if (objects[i]->tryWait(error) || error)
                return i;
        return objects.size();
    }
    // All at once: events of other processes may not change in between.
    ntsim::NamedEventsLock lock;
    for (auto& object : objects)
        if (!object->signaled(error))
            return objects.size();
    for (auto& object : objects)
        object->satisfy();
    return 0;
}

DWORD waitFor(DWORD count, const HANDLE* handles, bool all, DWORD milliseconds)
{
    auto start = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<ntsim::Waitable>> objects;
    if (DWORD error = waitables(count, handles, all, objects))
        return failed(error);
    // Other processes change the objects' state: look again at growing intervals.
    auto interval = std::chrono::milliseconds(1);
    for (;;) {
        DWORD error = 0;
        size_t index = lookOnce(objects, all, error);
        if (error)
            return failed(error);
        if (index < objects.size())
            return WAIT_OBJECT_0 + static_cast<DWORD>(index);
        auto pause = interval;
        if (milliseconds != INFINITE) {
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            auto limit = std::chrono::milliseconds(milliseconds);
            if (elapsed >= limit)
                return WAIT_TIMEOUT;
            pause = std::min(pause, limit - elapsed);
        }
        std::this_thread::sleep_for(pause);
        interval = std::min(interval * 2, std::chrono::milliseconds(10));
    }
}

}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    ntsim::ApiCall call("WaitForSingleObject", hHandle, dwMilliseconds);
    if (call.faulted())
        return call.returns(DWORD(WAIT_FAILED));
    return call.returns(waitFor(1, &hHandle, false, dwMilliseconds));
}

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    ntsim::ApiCall call("WaitForMultipleObjects", nCount, lpHandles, bWaitAll, dwMilliseconds);
    if (call.faulted())
        return call.returns(DWORD(WAIT_FAILED));
    return call.returns(waitFor(nCount, lpHandles, bWaitAll, dwMilliseconds));
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    ntsim::ApiCall call("Sleep", dwMilliseconds);
    if (dwMilliseconds == INFINITE)
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
