// Waiting for kernel objects, and sleeping.
#include "Waitable.h"
#include "machine/ApiCall.h"

#include <windows.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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

// A change is announced on the run store's word; a process killed between
// its change and the announcement is caught by looking again this often.
milliseconds fallbackInterval()
{
    static const milliseconds interval = [] {
        const char* value = std::getenv("NTSIM_WAIT_FALLBACK_MS");
        long ms = value ? std::strtol(value, nullptr, 10) : 0;
        return milliseconds(ms > 0 ? ms : 100);
    }();
    return interval;
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
    ntsim::RunStore::Transaction transaction;
    for (auto& object : objects)
        if (!object->signaled(error))
            return objects.size();
    for (auto& object : objects)
        object->satisfy();
    return 0;
}

// Descriptors that become readable as the objects end, when every object
// has one; empty otherwise.
class EndDescriptors {
public:
    explicit EndDescriptors(const std::vector<std::shared_ptr<ntsim::Waitable>>& objects)
    {
        for (auto& object : objects) {
            int fd = object->openEndDescriptor();
            if (fd < 0) {
                close();
                return;
            }
            m_polls.push_back({ fd, POLLIN, 0 });
        }
    }
    ~EndDescriptors() { close(); }
    EndDescriptors(const EndDescriptors&) = delete;
    EndDescriptors& operator=(const EndDescriptors&) = delete;

    bool usable() const { return !m_polls.empty(); }

    // Sleeps until one more object ends or the time passes. An object that
    // ended stays out of later sleeps: its descriptor stays readable.
    void await(milliseconds pause)
    {
        bool waiting = std::any_of(m_polls.begin(), m_polls.end(), [](const pollfd& p) { return p.fd >= 0; });
        if (!waiting)
            pause = std::min(pause, fallbackInterval());
        int rc = poll(m_polls.data(), m_polls.size(), static_cast<int>(pause.count()));
        if (rc <= 0)
            return;
        for (auto& p : m_polls)
            if (p.revents)
                p.fd = -p.fd - 1;
    }

private:
    void close()
    {
        for (auto& p : m_polls)
            ::close(p.fd < 0 ? -p.fd - 1 : p.fd);
        m_polls.clear();
    }

    std::vector<pollfd> m_polls;
};

DWORD waitFor(DWORD count, const HANDLE* handles, bool all, DWORD timeout)
{
    auto start = Clock::now();
    std::vector<std::shared_ptr<ntsim::Waitable>> objects;
    if (DWORD error = waitables(count, handles, all, objects))
        return failed(error);
    // Processes are waited for by their descriptors; anything else through
    // the changes the run store announces.
    EndDescriptors ends(objects);
    ntsim::RunStore* store = ends.usable() ? nullptr : &ntsim::RunStore::current();
    for (;;) {
        uint32_t seen = store ? store->changes() : 0;
        DWORD error = 0;
        size_t index = lookOnce(objects, all, error);
        if (error)
            return failed(error);
        if (index < objects.size())
            return WAIT_OBJECT_0 + static_cast<DWORD>(index);
        milliseconds pause = store ? fallbackInterval() : milliseconds(INT32_MAX);
        if (timeout != INFINITE) {
            auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
            auto limit = milliseconds(timeout);
            if (elapsed >= limit)
                return WAIT_TIMEOUT;
            pause = std::min(pause, limit - elapsed);
        }
        if (store)
            store->awaitChange(seen, static_cast<int>(pause.count()));
        else
            ends.await(pause);
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
