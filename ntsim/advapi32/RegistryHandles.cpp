#include "RegistryHandles.h"

namespace ntsim::registry {

KeyHandles& KeyHandles::instance()
{
    static KeyHandles table;
    return table;
}

HKEY KeyHandles::add(KeyHandle handle)
{
    return reinterpret_cast<HKEY>(m_handles.insert(std::move(handle)));
}

std::optional<KeyHandle> KeyHandles::get(HKEY hKey) const
{
    return m_handles.find(reinterpret_cast<uintptr_t>(hKey));
}

bool KeyHandles::remove(HKEY hKey)
{
    return m_handles.take(reinterpret_cast<uintptr_t>(hKey)).has_value();
}

size_t KeyHandles::size() const
{
    return m_handles.size();
}

bool isPredefinedKey(HKEY hKey)
{
    return hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS
        || hKey == HKEY_PERFORMANCE_DATA || hKey == HKEY_CURRENT_CONFIG || hKey == HKEY_DYN_DATA;
}

}
