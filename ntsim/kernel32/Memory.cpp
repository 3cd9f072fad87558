// The global and local heaps: fixed blocks are their own handles,
// moveable ones have a handle apart from the memory and a lock count.
#include "machine/ApiCall.h"

#include <windows.h>


#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct Block {
    void* memory { nullptr };
    SIZE_T size { 0 };
    bool moveable { false };
    unsigned locks { 0 };
};

class Heap {
public:
    HANDLE allocate(UINT flags, SIZE_T bytes)
    {
        bool moveable = flags & GMEM_MOVEABLE;
        void* memory = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
        if (!memory) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        std::lock_guard lock(m_mutex);
        HANDLE handle = memory;
        if (moveable) {
            // A handle that is not the memory's address, as NT's are not.
            handle = reinterpret_cast<HANDLE>(m_nextHandle);
            m_nextHandle += 8;
        }
        m_blocks[handle] = { memory, bytes, moveable, 0 };
        return handle;
    }

    HANDLE release(HANDLE handle)
    {
        std::lock_guard lock(m_mutex);
        Block* block = find(handle);
        if (!block)
            return handle;
        std::free(block->memory);
        m_blocks.erase(handle);
        return nullptr;
    }

    void* lock(HANDLE handle)
    {
        std::lock_guard lock(m_mutex);
        Block* block = find(handle);
        if (!block)
            return nullptr;
        if (block->moveable)
            ++block->locks;
        return block->memory;
    }

    BOOL unlock(HANDLE handle)
    {
        std::lock_guard lock(m_mutex);
        Block* found = find(handle);
        if (!found)
            return FALSE;
        Block& block = *found;
        if (!block.moveable || block.locks == 0) {
            SetLastError(block.moveable ? ERROR_NOT_LOCKED : ERROR_SUCCESS);
            return FALSE;
        }
        if (--block.locks == 0) {
            SetLastError(NO_ERROR);
            return FALSE;
        }
        return TRUE;
    }

private:
    static constexpr DWORD ERROR_NOT_LOCKED = 158;

    // The block of a handle, or null with the last error set; the caller holds the mutex.
    Block* find(HANDLE handle)
    {
        auto it = m_blocks.find(handle);
        if (it != m_blocks.end())
            return &it->second;
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }

    std::mutex m_mutex;
    std::map<HANDLE, Block> m_blocks;
    uintptr_t m_nextHandle { 0x10008 };
};

Heap& globalHeap()
{
    static Heap* heap = new Heap;
    return *heap;
}

Heap& localHeap()
{
    static Heap* heap = new Heap;
    return *heap;
}

}

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    ntsim::ApiCall call("GlobalAlloc", uFlags, dwBytes);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(globalHeap().allocate(uFlags, dwBytes));
}

extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    ntsim::ApiCall call("GlobalFree", hMem);
    if (call.faulted())
        return call.returns(hMem);
    return call.returns(globalHeap().release(hMem));
}

extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    ntsim::ApiCall call("GlobalLock", hMem);
    if (call.faulted())
        return call.returns(LPVOID(nullptr));
    return call.returns(globalHeap().lock(hMem));
}

extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    ntsim::ApiCall call("GlobalUnlock", hMem);
    return call.returns(globalHeap().unlock(hMem));
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    ntsim::ApiCall call("LocalAlloc", uFlags, uBytes);
    if (call.faulted())
        return call.returns(HLOCAL(nullptr));
    return call.returns(localHeap().allocate(uFlags, uBytes));
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    ntsim::ApiCall call("LocalFree", hMem);
    if (call.faulted())
        return call.returns(hMem);
    return call.returns(localHeap().release(hMem));
}

// The process heap: HeapAlloc's blocks are plain memory with no handle of
// their own.
extern "C" HANDLE WINAPI GetProcessHeap(void)
{
    ntsim::ApiCall call("GetProcessHeap");
    static int processHeap;
    return call.returns(&processHeap);
}

extern "C" LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    ntsim::ApiCall call("HeapAlloc", hHeap, dwFlags, dwBytes);
    if (auto error = call.fault()) {
        SetLastError(*error);
        return call.returns(nullptr);
    }
    if (hHeap != GetProcessHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(nullptr);
    }
    void* memory = (dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, dwBytes ? dwBytes : 1) : std::malloc(dwBytes ? dwBytes : 1);
    if (!memory)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return call.returns(memory);
}

extern "C" BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem)
{
    ntsim::ApiCall call("HeapFree", hHeap, dwFlags, lpMem);
    if (call.faulted())
        return call.returns(FALSE);
    if (hHeap != GetProcessHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(FALSE);
    }
    std::free(lpMem);
    return call.returns(TRUE);
}
