// A process's table of one kind of handle. Values step by four from a
// first value and are never reused, so a closed handle stays invalid.
//
// What a process still holds when it ends is counted by kind for the
// machine's record of its end: a table named with a kind counts itself,
// and other holders (windows, loaded modules) add counters of their own.
// Whatever a counter reads must outlive the count, which is taken at the
// process's exit after the static objects made during its run are gone:
// tables are made on the heap and kept to the end.
//
// A table named with a kind also tells the trace the kind of its handles.
#pragma once
#include "Trace.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace ntsim {

using HandleCounts = std::map<std::string, size_t>;
using HandleCounter = std::function<void(HandleCounts&)>;

// Adds a counter; the number returned removes it again.
unsigned addHandleCounter(HandleCounter counter);
void removeHandleCounter(unsigned token);
// Every counter's handles by kind; kinds with none are left out.
HandleCounts countOpenHandles();

// The count of one kind of handle a holder without a table keeps itself.
// Made on the heap and kept, as tables are.
class HandleCount {
public:
    explicit HandleCount(const char* kind)
    {
        addHandleCounter([this, kind](HandleCounts& counts) { counts[kind] += m_count.load(); });
    }
    HandleCount(const HandleCount&) = delete;
    HandleCount& operator=(const HandleCount&) = delete;

    void opened() { ++m_count; }
    void closed() { --m_count; }

private:
    std::atomic<size_t> m_count { 0 };
};

template<typename T>
class HandleTable {
public:
    explicit HandleTable(uintptr_t first, const char* kind = nullptr)
        : m_next(first)
    {
        if (!kind)
            return;
        m_counter = addHandleCounter([this, kind](HandleCounts& counts) { counts[kind] += size(); });
        m_describer = registerHandleDescriber([this, kind](uintptr_t value) -> std::optional<Json> {
            if (!contains(value))
                return std::nullopt;
            return Json { { "kind", kind } };
        });
    }

    ~HandleTable()
    {
        if (m_counter)
            removeHandleCounter(m_counter);
        if (m_describer)
            removeHandleDescriber(m_describer);
    }

    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    uintptr_t insert(T object)
    {
        std::lock_guard lock(m_mutex);
        uintptr_t value = m_next;
        m_next += 4;
        m_objects.emplace(value, std::move(object));
        return value;
    }

    std::optional<T> find(uintptr_t value) const
    {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(value);
        if (it == m_objects.end())
            return std::nullopt;
        return it->second;
    }

    bool contains(uintptr_t value) const
    {
        std::lock_guard lock(m_mutex);
        return m_objects.count(value) != 0;
    }

    // Takes the object out; the caller lets it go outside the table's lock.
    // Of several threads closing one handle, only one gets it.
    std::optional<T> take(uintptr_t value)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(value);
        if (it == m_objects.end())
            return std::nullopt;
        std::optional<T> object(std::move(it->second));
        m_objects.erase(it);
        return object;
    }

    size_t size() const
    {
        std::lock_guard lock(m_mutex);
        return m_objects.size();
    }

    // Calls f with each object, under the table's lock.
    template<typename F>
    void forEach(F f) const
    {
        std::lock_guard lock(m_mutex);
        for (auto& [value, object] : m_objects)
            f(object);
    }

private:
    mutable std::mutex m_mutex;
    uintptr_t m_next;
    std::map<uintptr_t, T> m_objects;
    unsigned m_counter { 0 };
    unsigned m_describer { 0 };
};

}
