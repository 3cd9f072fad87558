// The resources of one module, read from a PE image's resource section or
// from a .res file, and the loader's choice among their languages.
#pragma once
#include <windows.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace ntsim {

// A resource type or name: an integer id, or a name compared without case.
struct ResourceId {
    bool isName { false };
    WORD id { 0 };
    std::u16string name; // upper-cased, as resource compilers store names

    static ResourceId number(WORD id);
    static ResourceId named(std::u16string name);
    // A type or name argument of FindResourceA: MAKEINTRESOURCE, "#123" or
    // a name in the machine's ANSI code page. Nothing for a null name.
    static std::optional<ResourceId> fromArgument(LPCSTR argument);
    bool operator==(const ResourceId& other) const;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language { 0 };
    const BYTE* data { nullptr };
    DWORD size { 0 };
};

class ResourceTable {
public:
    void add(ResourceEntry entry) { m_entries.push_back(std::move(entry)); }
    bool empty() const { return m_entries.empty(); }
    size_t size() const { return m_entries.size(); }
    void clear() { m_entries.clear(); }

    // The entry in the given language, or the loader's choice when the
    // language is neutral. Null with the Win32 error in error otherwise.
    const ResourceEntry* find(const ResourceId& type, const ResourceId& name, WORD language, DWORD& error) const;
    // Whether an HRSRC handed out earlier is one of this table's entries.
    bool owns(const ResourceEntry* entry) const;

private:
    // Entries never move once added: an HRSRC is the entry's address.
    std::deque<ResourceEntry> m_entries;
};

// The languages the loader tries, in order, for a resource asked for in the
// neutral language: the thread's language, its primary language neutral and
// default, the user's and the system's default, English, neutral.
std::vector<WORD> loaderLanguageOrder();

// Parsers of the two resource formats. They check every offset against the
// data's size and fail on anything malformed.
bool parseResFile(const BYTE* data, size_t size, ResourceTable& out);
// The resource directory at rva of a mapped image of imageSize bytes.
bool parseResourceDirectory(const BYTE* image, size_t imageSize, DWORD rva, DWORD size, ResourceTable& out);

}
