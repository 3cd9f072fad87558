#include "Handles.h"

#include <map>
#include <mutex>

namespace ntsim {

namespace {

struct HandleTable {
    std::mutex mutex;
    // Values are never reused, so a closed handle stays invalid.
    uintptr_t next { 4 };
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& table()
{
    static HandleTable* instance = new HandleTable; // outlives static destructors that close handles
    return *instance;
}

}

HANDLE insertHandle(std::shared_ptr<KernelObject> object)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool removeHandle(HANDLE handle)
{
    std::shared_ptr<KernelObject> object;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == t.objects.end())
            return false;
        object = std::move(it->second);
        t.objects.erase(it);
    }
    // The object goes (and closes what it holds) outside the table's lock.
    return true;
}

}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    using ntsim::KernelObject;
    if (hObject == ntsim::currentProcessHandle())
        return TRUE;
    auto object = ntsim::lookupHandle(hObject);
    // Find handles are closed with FindClose only.
    if (!object || object->type() == KernelObject::Type::Find || !ntsim::removeHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object.reset();
    return TRUE;
}
