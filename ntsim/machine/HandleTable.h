// A process's table of one kind of handle. Values step by four from a
// first value and are never reused, so a closed handle stays invalid.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace ntsim {

template<typename T>
class HandleTable {
public:
    explicit HandleTable(uintptr_t first)
        : m_next(first)
    {
    }

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

private:
    mutable std::mutex m_mutex;
    uintptr_t m_next;
    std::map<uintptr_t, T> m_objects;
};

}
