#include "FileAttributeStore.h"

#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

namespace ntsim {

namespace {

using Attributes = std::map<std::string, DWORD>; // by upper-cased NT path

std::string storePath() { return Machine::current().root() + "/attributes"; }
std::string lockPath() { return Machine::current().root() + "/attributes.lock"; }

// The store as this process last read it. A write replaces the file
// whole (a rename), so its identity and time tell whether another
// process wrote since: a look at the store costs one stat.
class Cache {
public:
    // The store as it is now; the caller holds mutex().
    const Attributes& current()
    {
        std::string path = storePath();
        struct stat st {};
        bool exists = stat(path.c_str(), &st) == 0;
        if (path != m_path || exists != m_exists || (exists && !sameFile(st))) {
            m_path = path;
            m_exists = exists;
            m_stat = st;
            m_attributes = exists ? load(path) : Attributes();
        }
        return m_attributes;
    }

    // Writes the store under its lock (held by the caller) and keeps it.
    void save(Attributes attributes)
    {
        std::string text;
        for (auto& [path, value] : attributes) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%08X\t", value);
            text += hex + path + "\n";
        }
        writeFileAtomically(m_path, text);
        m_attributes = std::move(attributes);
        m_exists = stat(m_path.c_str(), &m_stat) == 0;
    }

    std::mutex& mutex() { return m_mutex; }

private:
    bool sameFile(const struct stat& st) const
    {
        return st.st_ino == m_stat.st_ino && st.st_dev == m_stat.st_dev && st.st_size == m_stat.st_size
            && st.st_mtim.tv_sec == m_stat.st_mtim.tv_sec && st.st_mtim.tv_nsec == m_stat.st_mtim.tv_nsec;
    }

    static Attributes load(const std::string& path)
    {
        Attributes attributes;
        std::string text;
        if (!readWholeFile(path, text))
            return attributes;
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            size_t tab = line.find('\t');
            if (tab == std::string::npos)
                continue;
            attributes[line.substr(tab + 1)] = static_cast<DWORD>(std::strtoul(line.substr(0, tab).c_str(), nullptr, 16));
        }
        return attributes;
    }

    std::mutex m_mutex;
    std::string m_path;
    bool m_exists { false };
    struct stat m_stat { };
    Attributes m_attributes;
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

bool within(const std::string& key, const std::string& top)
{
    return key == top || (key.size() > top.size() && key.compare(0, top.size(), top) == 0 && key[top.size()] == '\\');
}

bool anyWithin(const Attributes& attributes, const std::string& top)
{
    for (auto it = attributes.lower_bound(top); it != attributes.end() && it->first.compare(0, top.size(), top) == 0; ++it)
        if (within(it->first, top))
            return true;
    return false;
}

// Changes the store under the machine-wide lock, from its state then.
template<typename Edit>
void change(Edit edit)
{
    Cache& c = cache();
    std::lock_guard guard(c.mutex());
    FileLock lock(lockPath(), FileLock::Mode::Exclusive);
    Attributes attributes = c.current();
    if (edit(attributes))
        c.save(std::move(attributes));
}

}

std::optional<DWORD> storedAttributes(const std::string& ntPath)
{
    Cache& c = cache();
    std::lock_guard guard(c.mutex());
    const Attributes& attributes = c.current();
    auto it = attributes.find(upperAscii(ntPath));
    if (it == attributes.end())
        return std::nullopt;
    return it->second;
}

void storeAttributes(const std::string& ntPath, DWORD attributes)
{
    change([&](Attributes& store) {
        store[upperAscii(ntPath)] = attributes;
        return true;
    });
}

void forgetAttributes(const std::string& ntPath)
{
    std::string key = upperAscii(ntPath);
    {
        // Most files have nothing stored: no lock then.
        Cache& c = cache();
        std::lock_guard guard(c.mutex());
        if (!anyWithin(c.current(), key))
            return;
    }
    change([&](Attributes& store) {
        bool changed = false;
        for (auto it = store.begin(); it != store.end();) {
            if (within(it->first, key)) {
                it = store.erase(it);
                changed = true;
            } else {
                ++it;
            }
        }
        return changed;
    });
}

void moveAttributes(const std::string& fromNtPath, const std::string& toNtPath)
{
    std::string from = upperAscii(fromNtPath), to = upperAscii(toNtPath);
    {
        Cache& c = cache();
        std::lock_guard guard(c.mutex());
        if (!anyWithin(c.current(), from) && !c.current().count(to))
            return;
    }
    change([&](Attributes& store) {
        Attributes moved;
        bool changed = store.erase(to) > 0;
        for (auto it = store.begin(); it != store.end();) {
            if (within(it->first, from)) {
                moved[to + it->first.substr(from.size())] = it->second;
                it = store.erase(it);
                changed = true;
            } else {
                ++it;
            }
        }
        store.insert(moved.begin(), moved.end());
        return changed;
    });
}

}
