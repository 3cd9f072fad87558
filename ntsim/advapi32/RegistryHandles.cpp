#include "RegistryHandles.h"

namespace ntsim::registry {

HandleTable& HandleTable::instance()
{
    static HandleTable table;
    return table;
}

HKEY HandleTable::add(KeyHandle handle)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    uintptr_t value = m_next;
    m_next += 4;
    m_handles[value] = std::move(handle);
    return reinterpret_cast<HKEY>(value);
}

std::optional<KeyHandle> HandleTable::get(HKEY hKey) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == m_handles.end())
        return std::nullopt;
    return it->second;
}

bool HandleTable::remove(HKEY hKey)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_handles.erase(reinterpret_cast<uintptr_t>(hKey)) == 1;
}

size_t HandleTable::size() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_handles.size();
}

bool isPredefinedKey(HKEY hKey)
{
    return hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS
        || hKey == HKEY_PERFORMANCE_DATA || hKey == HKEY_CURRENT_CONFIG || hKey == HKEY_DYN_DATA;
}

}
