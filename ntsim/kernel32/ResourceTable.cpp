#include "ResourceTable.h"

#include "machine/CodePage.h"
#include "machine/Machine.h"

#include <cstdlib>

namespace ntsim {

namespace {

char16_t upperAscii16(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

}

ResourceId ResourceId::number(WORD id)
{
    ResourceId r;
    r.id = id;
    return r;
}

ResourceId ResourceId::named(std::u16string name)
{
    ResourceId r;
    r.isName = true;
    for (auto& c : name)
        c = upperAscii16(c);
    r.name = std::move(name);
    return r;
}

std::optional<ResourceId> ResourceId::fromArgument(LPCSTR argument)
{
    if (IS_INTRESOURCE(argument)) {
        WORD id = LOWORD(reinterpret_cast<ULONG_PTR>(argument));
        if (id == 0)
            return std::nullopt;
        return number(id);
    }
    if (argument[0] == '#') {
        char* end = nullptr;
        unsigned long value = std::strtoul(argument + 1, &end, 10);
        if (end != argument + 1 && *end == 0 && value <= 0xFFFF)
            return number(static_cast<WORD>(value));
    }
    std::u16string wide;
    toUtf16(argument, ansiCodePage(), wide);
    return named(wide);
}

bool ResourceId::operator==(const ResourceId& other) const
{
    if (isName != other.isName)
        return false;
    return isName ? name == other.name : id == other.id;
}

std::vector<WORD> loaderLanguageOrder()
{
    // The thread locale, the user's and the system's default all follow the
    // machine's one locale.
    WORD locale = Machine::current().config().locale;
    WORD primary = PRIMARYLANGID(locale);
    std::vector<WORD> order;
    auto addOnce = [&](WORD language) {
        for (WORD known : order)
            if (known == language)
                return;
        order.push_back(language);
    };
    addOnce(locale);
    addOnce(MAKELANGID(primary, SUBLANG_NEUTRAL));
    addOnce(MAKELANGID(primary, SUBLANG_DEFAULT));
    addOnce(locale); // user default
    addOnce(locale); // system default
    addOnce(MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT));
    addOnce(MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL));
    addOnce(MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    return order;
}

const ResourceEntry* ResourceTable::find(const ResourceId& type, const ResourceId& name, WORD language, DWORD& error) const
{
    if (m_entries.empty()) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    std::vector<const ResourceEntry*> candidates;
    bool typeSeen = false;
    for (auto& entry : m_entries) {
        if (!(entry.type == type))
            continue;
        typeSeen = true;
        if (entry.name == name)
            candidates.push_back(&entry);
    }
    if (candidates.empty()) {
        error = typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    auto inLanguage = [&](WORD wanted) -> const ResourceEntry* {
        for (auto* entry : candidates)
            if (entry->language == wanted)
                return entry;
        return nullptr;
    };
    if (PRIMARYLANGID(language) != LANG_NEUTRAL) {
        if (auto* entry = inLanguage(language))
            return entry;
        // A table marked with the primary language alone serves all its
        // sublanguages.
        if (auto* entry = inLanguage(MAKELANGID(PRIMARYLANGID(language), SUBLANG_NEUTRAL)))
            return entry;
        error = ERROR_RESOURCE_LANG_NOT_FOUND;
        return nullptr;
    }
    for (WORD wanted : loaderLanguageOrder())
        if (auto* entry = inLanguage(wanted))
            return entry;
    return candidates.front();
}

bool ResourceTable::owns(const ResourceEntry* entry) const
{
    for (auto& mine : m_entries)
        if (&mine == entry)
            return true;
    return false;
}

}
