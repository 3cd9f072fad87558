#include "Handles.h"

#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/Trace.h"

namespace ntsim {

namespace {

using KernelHandleTable = HandleTable<std::shared_ptr<KernelObject>>;

// What a kind of object is called: one of them in the trace, all of a
// process's in the count at its exit.
struct KindNames {
    const char* one;
    const char* many;
};

KindNames kindNames(KernelObject::Type type)
{
    switch (type) {
    case KernelObject::Type::File: return { "file", "files" };
    case KernelObject::Type::Find: return { "find", "find handles" };
    case KernelObject::Type::Event: return { "event", "events" };
    case KernelObject::Type::Process: return { "process", "processes" };
    case KernelObject::Type::Thread: return { "thread", "threads" };
    }
    return { "kernel object", "kernel objects" };
}

KernelHandleTable& table()
{
    // Outlives static destructors that close handles, and the count at exit.
    static auto* instance = [] {
        auto* made = new KernelHandleTable(4);
        registerHandleDescriber([made](uintptr_t value) -> std::optional<Json> {
            auto object = made->find(value);
            if (!object)
                return std::nullopt;
            Json out { { "kind", kindNames((*object)->type()).one } };
            std::string name = (*object)->traceName();
            if (!name.empty())
                out["name"] = bytesJson(name);
            return out;
        });
        addHandleCounter([made](HandleCounts& counts) {
            made->forEach([&](const std::shared_ptr<KernelObject>& object) { ++counts[kindNames(object->type()).many]; });
        });
        return made;
    }();
    return *instance;
}

}

HANDLE insertHandle(std::shared_ptr<KernelObject> object)
{
    return reinterpret_cast<HANDLE>(table().insert(std::move(object)));
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle)
{
    return table().find(reinterpret_cast<uintptr_t>(handle)).value_or(nullptr);
}

bool removeHandle(HANDLE handle)
{
    // The object goes (and closes what it holds) outside the table's lock.
    return table().take(reinterpret_cast<uintptr_t>(handle)).has_value();
}

}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    ntsim::ApiCall call("CloseHandle", hObject);
    if (call.faulted())
        return call.returns(FALSE);
    using ntsim::KernelObject;
    if (hObject == ntsim::currentProcessHandle())
        return call.returns(TRUE);
    auto object = ntsim::lookupHandle(hObject);
    // Find handles are closed with FindClose only.
    if (!object || object->type() == KernelObject::Type::Find || !ntsim::removeHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(FALSE);
    }
    object.reset();
    return call.returns(TRUE);
}
