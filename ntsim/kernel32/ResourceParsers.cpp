// Reading resources out of untrusted bytes: every offset and length is
// checked against the data before it is used.
#include "ResourceTable.h"

#include <cstring>

namespace ntsim {

namespace {

class Reader {
public:
    Reader(const BYTE* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool has(uint64_t offset, uint64_t length) const { return offset <= m_size && length <= m_size - offset; }

    std::optional<WORD> word(uint64_t offset) const
    {
        if (!has(offset, 2))
            return std::nullopt;
        return static_cast<WORD>(m_data[offset] | m_data[offset + 1] << 8);
    }

    std::optional<DWORD> dword(uint64_t offset) const
    {
        if (!has(offset, 4))
            return std::nullopt;
        DWORD v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | m_data[offset + i];
        return v;
    }

    const BYTE* at(uint64_t offset) const { return m_data + offset; }

private:
    const BYTE* m_data;
    size_t m_size;
};

uint64_t alignUp4(uint64_t v) { return (v + 3) & ~uint64_t(3); }

// A type or name field of a .res header: 0xFFFF and an ordinal, or a
// zero-terminated UTF-16 name. Advances offset past it.
std::optional<ResourceId> resField(const Reader& r, uint64_t& offset, uint64_t end)
{
    auto first = r.word(offset);
    if (!first || offset + 2 > end)
        return std::nullopt;
    if (*first == 0xFFFF) {
        auto id = r.word(offset + 2);
        if (!id || offset + 4 > end)
            return std::nullopt;
        offset += 4;
        return ResourceId::number(*id);
    }
    std::u16string name;
    for (;;) {
        auto c = r.word(offset);
        if (!c || offset + 2 > end)
            return std::nullopt;
        offset += 2;
        if (*c == 0)
            break;
        name += static_cast<char16_t>(*c);
    }
    return ResourceId::named(std::move(name));
}

// The resource section is a tree of three levels: type, name, language.
class DirectoryWalker {
public:
    DirectoryWalker(const BYTE* image, size_t imageSize, DWORD rva, DWORD size, ResourceTable& out)
        : m_image(image, imageSize)
        , m_section(image + rva, size)
        , m_out(out)
    {
    }

    bool walk(DWORD offset, int level, const ResourceId* type, const ResourceId* name)
    {
        auto named = m_section.word(offset + 12);
        auto ids = m_section.word(offset + 14);
        if (!named || !ids)
            return false;
        uint64_t count = uint64_t(*named) + *ids;
        if (!m_section.has(offset + 16, count * 8))
            return false;
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t entry = offset + 16 + i * 8;
            DWORD nameField = *m_section.dword(entry);
            DWORD dataField = *m_section.dword(entry + 4);
            auto id = entryId(nameField);
            if (!id)
                return false;
            bool subdirectory = dataField & 0x80000000u;
            DWORD target = dataField & 0x7FFFFFFFu;
            if (subdirectory != (level < 2))
                return false;
            if (++m_visited > kMaxEntries)
                return false;
            if (level == 0 && !walk(target, 1, &*id, nullptr))
                return false;
            if (level == 1 && !walk(target, 2, type, &*id))
                return false;
            if (level == 2 && !leaf(target, *type, *name, *id))
                return false;
        }
        return true;
    }

private:
    static constexpr unsigned kMaxEntries = 1u << 16;

    std::optional<ResourceId> entryId(DWORD field) const
    {
        if (!(field & 0x80000000u))
            return ResourceId::number(static_cast<WORD>(field));
        DWORD offset = field & 0x7FFFFFFFu;
        auto length = m_section.word(offset);
        if (!length || !m_section.has(offset + 2, uint64_t(*length) * 2))
            return std::nullopt;
        std::u16string name;
        for (WORD i = 0; i < *length; ++i)
            name += static_cast<char16_t>(*m_section.word(offset + 2 + i * 2u));
        return ResourceId::named(std::move(name));
    }

    bool leaf(DWORD offset, const ResourceId& type, const ResourceId& name, const ResourceId& language)
    {
        auto dataRva = m_section.dword(offset);
        auto size = m_section.dword(offset + 4);
        if (!dataRva || !size || language.isName || !m_image.has(*dataRva, *size))
            return false;
        m_out.add({ type, name, language.id, m_image.at(*dataRva), *size });
        return true;
    }

    Reader m_image;
    Reader m_section;
    ResourceTable& m_out;
    unsigned m_visited { 0 };
};

}

bool parseResFile(const BYTE* data, size_t size, ResourceTable& out)
{
    Reader r(data, size);
    uint64_t offset = 0;
    while (offset < size) {
        auto dataSize = r.dword(offset);
        auto headerSize = r.dword(offset + 4);
        if (!dataSize || !headerSize || *headerSize < 8 + 4 + 4 + 16)
            return false;
        uint64_t headerEnd = offset + *headerSize;
        if (!r.has(offset, *headerSize) || !r.has(headerEnd, *dataSize))
            return false;
        uint64_t field = offset + 8;
        auto type = resField(r, field, headerEnd);
        auto name = type ? resField(r, field, headerEnd) : std::nullopt;
        if (!name)
            return false;
        field = alignUp4(field);
        // DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
        if (field + 16 > headerEnd)
            return false;
        WORD language = *r.word(field + 6);
        // The file starts with an empty entry of type 0 that marks the format.
        if (type->isName || type->id != 0)
            out.add({ *type, *name, language, r.at(headerEnd), *dataSize });
        offset = alignUp4(headerEnd + *dataSize);
    }
    return true;
}

bool parseResourceDirectory(const BYTE* image, size_t imageSize, DWORD rva, DWORD size, ResourceTable& out)
{
    if (uint64_t(rva) + size > imageSize)
        return false;
    DirectoryWalker walker(image, imageSize, rva, size, out);
    return walker.walk(0, 0, nullptr, nullptr);
}

}
