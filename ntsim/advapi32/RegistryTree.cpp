#include "RegistryTree.h"

#include "machine/NtPath.h"

#include <algorithm>
#include <ctime>

namespace ntsim::registry {

namespace {

bool sortsBefore(const std::string& a, const std::string& b) { return upperAscii(a) < upperAscii(b); }

}

std::string Key::path() const
{
    if (!m_parent)
        return m_name;
    return m_parent->path() + "\\" + m_name;
}

std::shared_ptr<Key> Key::subkey(const std::string& name) const
{
    std::string upper = upperAscii(name);
    auto it = std::lower_bound(m_subkeys.begin(), m_subkeys.end(), upper,
        [](const std::shared_ptr<Key>& k, const std::string& u) { return upperAscii(k->m_name) < u; });
    if (it != m_subkeys.end() && upperAscii((*it)->m_name) == upper)
        return *it;
    return nullptr;
}

void Key::addSubkey(std::shared_ptr<Key> key)
{
    key->m_parent = this;
    key->m_deleted = false;
    auto it = std::lower_bound(m_subkeys.begin(), m_subkeys.end(), key,
        [](const std::shared_ptr<Key>& a, const std::shared_ptr<Key>& b) { return sortsBefore(a->m_name, b->m_name); });
    m_subkeys.insert(it, std::move(key));
}

void Key::removeSubkey(const std::string& name)
{
    for (auto it = m_subkeys.begin(); it != m_subkeys.end(); ++it) {
        if (equalsNoCase((*it)->m_name, name)) {
            (*it)->markDeleted();
            m_subkeys.erase(it);
            return;
        }
    }
}

void Key::markDeleted()
{
    m_deleted = true;
    m_parent = nullptr;
    for (auto& k : m_subkeys)
        k->markDeleted();
    m_subkeys.clear();
}

const Value* Key::value(const std::string& name) const
{
    for (auto& v : m_values)
        if (equalsNoCase(v.name, name))
            return &v;
    return nullptr;
}

void Key::setValue(const std::string& name, DWORD type, std::vector<BYTE> data)
{
    for (auto& v : m_values) {
        if (equalsNoCase(v.name, name)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    }
    m_values.push_back({ name, type, std::move(data) });
}

bool Key::removeValue(const std::string& name)
{
    for (auto it = m_values.begin(); it != m_values.end(); ++it) {
        if (equalsNoCase(it->name, name)) {
            m_values.erase(it);
            return true;
        }
    }
    return false;
}

void Key::adopt(Key& other)
{
    m_name = other.m_name;
    security = other.security;
    className = other.className;
    lastWrite = other.lastWrite;
    m_values = std::move(other.m_values);
    std::vector<std::shared_ptr<Key>> merged;
    for (auto& theirs : other.m_subkeys) {
        std::shared_ptr<Key> mine = subkey(theirs->m_name);
        if (mine) {
            mine->adopt(*theirs);
            merged.push_back(mine);
        } else {
            merged.push_back(theirs);
        }
    }
    for (auto& mine : m_subkeys) {
        bool kept = std::find(merged.begin(), merged.end(), mine) != merged.end();
        if (!kept)
            mine->markDeleted();
    }
    m_subkeys = std::move(merged);
    for (auto& k : m_subkeys)
        k->m_parent = this;
    other.m_subkeys.clear();
}

std::vector<std::string> splitKeyPath(const std::string& path)
{
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('\\', pos);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > pos)
            names.push_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return names;
}

uint64_t fileTimeNow()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

}
