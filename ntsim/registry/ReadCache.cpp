#include "ReadCache.h"

namespace ntsim::registry {

namespace {

constexpr size_t cacheEntries = 20000;
constexpr size_t cacheBytes = 16 * 1024 * 1024;

}

std::string ReadCache::lookupKey(KeyId owner, const std::string& upperName)
{
    return std::to_string(owner) + "\\" + upperName;
}

void ReadCache::clear()
{
    keys.clear();
    names.clear();
    values.clear();
    counts.clear();
    subkeys.clear();
    valueLists.clear();
    m_entries = 0;
    m_bytes = 0;
}

void ReadCache::reserve(size_t moreEntries, size_t moreBytes)
{
    if (m_entries + moreEntries > cacheEntries || m_bytes + moreBytes > cacheBytes)
        clear();
    m_entries += moreEntries;
    m_bytes += moreBytes;
}

}
