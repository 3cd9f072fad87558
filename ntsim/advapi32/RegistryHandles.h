// The process's table of open registry keys. A handle keeps its key (even
// once the key is deleted) and the access its open granted.
#pragma once
#include "RegistryTree.h"

#include "machine/HandleTable.h"

#include <memory>
#include <optional>

namespace ntsim::registry {

struct KeyHandle {
    std::shared_ptr<Key> key;
    ACCESS_MASK granted { 0 };
};

class KeyHandles {
public:
    static KeyHandles& instance();
    HKEY add(KeyHandle handle);
    std::optional<KeyHandle> get(HKEY hKey) const;
    bool remove(HKEY hKey);
    size_t size() const;

private:
    ntsim::HandleTable<KeyHandle> m_handles { 0x1000 };
};

bool isPredefinedKey(HKEY hKey);

}
