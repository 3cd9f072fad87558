// The process's table of kernel object handles: files, find handles,
// events, processes and threads share it, as on NT.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace ntsim {

class KernelObject {
public:
    enum class Type { File, Find, Event, Process, Thread };

    explicit KernelObject(Type type)
        : m_type(type)
    {
    }
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    Type type() const { return m_type; }
    // What the trace names the object by (a file's path), if anything.
    virtual std::string traceName() const { return {}; }

private:
    Type m_type;
};

// The pseudo-handle GetCurrentProcess returns.
inline HANDLE currentProcessHandle() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

HANDLE insertHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null (the caller sets ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
// Takes the handle out of the table; false if it was not in it.
bool removeHandle(HANDLE handle);

template<typename T>
std::shared_ptr<T> lookupHandleOf(HANDLE handle, KernelObject::Type type)
{
    auto object = lookupHandle(handle);
    if (!object || object->type() != type)
        return nullptr;
    return std::static_pointer_cast<T>(object);
}

}
