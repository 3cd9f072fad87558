// What one process read from the registry, kept for as long as no write
// transaction has begun anywhere on the machine (ChangeCounter.h), so that
// the calls a program makes again and again on the same keys need no
// transaction of the database.
//
// A read call looks at the machine's counts when it starts: equal counts
// that match the cache's tag let it answer from the cache; other counts
// drop the cache. Its first statement of the database then opens a
// transaction and looks once more. If a write began in between and the
// call already answered something from the cache, what it answered may be
// of the old state while the rest would be of the new one: the call throws
// CacheOutdated and the store runs it again from the database alone. A
// call body therefore reads everything before it writes anything out.
//
// The cache is bounded: past its limits it is dropped whole.
#pragma once
#include "Store.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ntsim::registry {

// Thrown inside a read whose cached answers a write has overtaken.
struct CacheOutdated { };

// A run of a key's subkeys or values in their order, as enumeration reads
// them one index after the other.
template<typename Item>
struct Page {
    size_t first { 0 };
    std::vector<Item> items;
    bool end { false }; // the last of them is in it
};

struct SubkeyItem {
    KeyRecord key;
    std::string upper;
};

struct ValueItem {
    ValueRecord value;
    int64_t position { 0 };
};

// How many subkeys or values enumeration reads at a time.
constexpr size_t pageSize = 256;

class ReadCache {
public:
    // The machine's count of begun writes when it was filled.
    uint64_t tag { 0 };
    std::unordered_map<KeyId, std::optional<KeyRecord>> keys;
    std::unordered_map<std::string, std::optional<KeyId>> names;  // by lookupKey()
    std::unordered_map<std::string, std::optional<ValueRecord>> values; // by lookupKey()
    std::unordered_map<KeyId, KeyCounts> counts;
    std::unordered_map<KeyId, Page<SubkeyItem>> subkeys;
    std::unordered_map<KeyId, Page<ValueItem>> valueLists;

    // The entry of a subkey or value name below owner, any case.
    static std::string lookupKey(KeyId owner, const std::string& upperName);

    void clear();
    // Makes room for what is about to be added.
    void reserve(size_t moreEntries, size_t moreBytes);

private:
    size_t m_entries { 0 };
    size_t m_bytes { 0 };
};

// The item at index of a paged list: from the page held, the page after it
// when enumeration goes on, or a page read from index on by load(after,
// index), after being the last item of the page held or null. loaded says
// whether load was called.
template<typename Item, typename Load>
const Item* itemAt(Page<Item>& page, size_t index, Load load, bool& loaded)
{
    size_t next = page.first + page.items.size();
    loaded = false;
    if (index >= page.first && index < next)
        return &page.items[index - page.first];
    if (page.end && index >= next)
        return nullptr;
    bool following = !page.items.empty() && index == next;
    std::vector<Item> items = load(following ? &page.items.back() : nullptr, index);
    loaded = true;
    page.first = index;
    page.end = items.size() < pageSize;
    page.items = std::move(items);
    return page.items.empty() ? nullptr : &page.items.front();
}

}
