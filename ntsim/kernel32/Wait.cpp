// Waiting for kernel objects, and sleeping.
#include "Waitable.h"

#include <windows.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    auto start = std::chrono::steady_clock::now();
    if (hHandle == ntsim::currentProcessHandle()) {
        // A process waiting for its own end waits forever, as on NT.
        if (dwMilliseconds == INFINITE)
            for (;;)
                std::this_thread::sleep_for(std::chrono::hours(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
        return WAIT_TIMEOUT;
    }
    auto object = ntsim::lookupHandle(hHandle);
    if (!object || object->type() == ntsim::KernelObject::Type::File || object->type() == ntsim::KernelObject::Type::Find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    auto waitable = std::static_pointer_cast<ntsim::Waitable>(object);
    if (!waitable->maySynchronize()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return WAIT_FAILED;
    }
    // Other processes change the objects' state: look again at growing intervals.
    auto interval = std::chrono::milliseconds(1);
    for (;;) {
        DWORD error = 0;
        if (waitable->tryWait(error))
            return WAIT_OBJECT_0;
        if (error) {
            SetLastError(error);
            return WAIT_FAILED;
        }
        auto pause = interval;
        if (dwMilliseconds != INFINITE) {
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            auto limit = std::chrono::milliseconds(dwMilliseconds);
            if (elapsed >= limit)
                return WAIT_TIMEOUT;
            pause = std::min(pause, limit - elapsed);
        }
        std::this_thread::sleep_for(pause);
        interval = std::min(interval * 2, std::chrono::milliseconds(10));
    }
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == INFINITE)
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
