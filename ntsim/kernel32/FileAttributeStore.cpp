#include "FileAttributeStore.h"

#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <cstdlib>
#include <map>
#include <sstream>

namespace ntsim {

namespace {

using Store = std::map<std::string, DWORD>;

std::string storePath() { return Machine::current().root() + "/attributes"; }
std::string lockPath() { return Machine::current().root() + "/attributes.lock"; }

Store load()
{
    Store store;
    std::string text;
    if (!readWholeFile(storePath(), text))
        return store;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        store[line.substr(tab + 1)] = static_cast<DWORD>(std::strtoul(line.substr(0, tab).c_str(), nullptr, 16));
    }
    return store;
}

void save(const Store& store)
{
    std::string text;
    for (auto& [path, attributes] : store) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X\t", attributes);
        text += hex + path + "\n";
    }
    writeFileAtomically(storePath(), text);
}

}

std::optional<DWORD> storedAttributes(const std::string& ntPath)
{
    FileLock lock(lockPath(), FileLock::Mode::Shared);
    Store store = load();
    auto it = store.find(upperAscii(ntPath));
    if (it == store.end())
        return std::nullopt;
    return it->second;
}

void storeAttributes(const std::string& ntPath, DWORD attributes)
{
    FileLock lock(lockPath(), FileLock::Mode::Exclusive);
    Store store = load();
    store[upperAscii(ntPath)] = attributes;
    save(store);
}

void forgetAttributes(const std::string& ntPath)
{
    FileLock lock(lockPath(), FileLock::Mode::Exclusive);
    Store store = load();
    std::string key = upperAscii(ntPath);
    std::string below = key + "\\";
    bool changed = false;
    for (auto it = store.begin(); it != store.end();) {
        if (it->first == key || it->first.compare(0, below.size(), below) == 0) {
            it = store.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed)
        save(store);
}

void moveAttributes(const std::string& fromNtPath, const std::string& toNtPath)
{
    FileLock lock(lockPath(), FileLock::Mode::Exclusive);
    Store store = load();
    std::string from = upperAscii(fromNtPath), to = upperAscii(toNtPath);
    std::string below = from + "\\";
    Store moved;
    bool changed = store.erase(to) > 0;
    for (auto it = store.begin(); it != store.end();) {
        if (it->first == from || it->first.compare(0, below.size(), below) == 0) {
            moved[to + it->first.substr(from.size())] = it->second;
            it = store.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (!changed)
        return;
    store.insert(moved.begin(), moved.end());
    save(store);
}

}
