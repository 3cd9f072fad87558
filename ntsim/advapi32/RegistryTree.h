// The registry's keys and values in memory: a tree of case-preserving,
// case-insensitively named keys, each with its descriptor and typed values.
#pragma once
#include "SecurityDescriptor.h"

#include <memory>
#include <string>
#include <vector>

namespace ntsim::registry {

struct Value {
    std::string name; // empty: the key's default value
    DWORD type { REG_NONE };
    std::vector<BYTE> data;
};

class Key {
public:
    explicit Key(std::string name)
        : m_name(std::move(name))
    {
    }

    const std::string& name() const { return m_name; }
    Key* parent() const { return m_parent; }
    // "HKEY_LOCAL_MACHINE\SYSTEM\..." as the names are spelled.
    std::string path() const;
    // A key removed from the tree; handles to it still hold it.
    bool deleted() const { return m_deleted; }

    // In the order NT enumerates them: by upper-cased name.
    const std::vector<std::shared_ptr<Key>>& subkeys() const { return m_subkeys; }
    std::shared_ptr<Key> subkey(const std::string& name) const;
    void addSubkey(std::shared_ptr<Key> key);
    // Detaches the subkey and marks it and everything below it deleted.
    void removeSubkey(const std::string& name);

    // In the order they were first set.
    const std::vector<Value>& values() const { return m_values; }
    const Value* value(const std::string& name) const;
    void setValue(const std::string& name, DWORD type, std::vector<BYTE> data);
    bool removeValue(const std::string& name);

    security::SecurityDescriptor security;
    std::string className;
    uint64_t lastWrite { 0 }; // FILETIME ticks

    // Makes this key hold other's contents, keeping the objects of the
    // subkeys both have (so open handles stay on them) and marking the
    // ones other lacks deleted.
    void adopt(Key& other);

private:
    void markDeleted();

    std::string m_name;
    Key* m_parent { nullptr };
    bool m_deleted { false };
    std::vector<std::shared_ptr<Key>> m_subkeys;
    std::vector<Value> m_values;
};

// Splits "a\b\c" into its names; empty names (doubled or trailing
// backslashes) are skipped.
std::vector<std::string> splitKeyPath(const std::string& path);

// The current time as FILETIME ticks.
uint64_t fileTimeNow();

}
