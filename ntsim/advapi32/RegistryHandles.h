// The process's table of open registry keys. A handle keeps its key (even
// once the key is deleted) and the access its open granted.
#pragma once
#include "RegistryTree.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace ntsim::registry {

struct KeyHandle {
    std::shared_ptr<Key> key;
    ACCESS_MASK granted { 0 };
};

class HandleTable {
public:
    static HandleTable& instance();
    HKEY add(KeyHandle handle);
    std::optional<KeyHandle> get(HKEY hKey) const;
    bool remove(HKEY hKey);
    size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::map<uintptr_t, KeyHandle> m_handles;
    uintptr_t m_next { 0x1000 };
};

bool isPredefinedKey(HKEY hKey);

}
