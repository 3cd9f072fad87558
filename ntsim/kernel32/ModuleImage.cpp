#include "ModuleImage.h"

#include <sys/mman.h>

#include <cstring>
#include <utility>

namespace ntsim {

namespace {

constexpr WORD kMachineI386 = 0x014C;
constexpr WORD kExecutableImage = 0x0002;
constexpr WORD kPe32Magic = 0x010B;
constexpr DWORD kResourceDirectory = 2;
// Far above any image this machine runs; a larger claim is a hostile header.
constexpr DWORD kMaxImageSize = 64u << 20;

struct Bytes {
    const std::string& s;
    bool has(uint64_t offset, uint64_t length) const { return offset <= s.size() && length <= s.size() - offset; }
    WORD word(uint64_t o) const { return static_cast<WORD>(byte(o) | byte(o + 1) << 8); }
    DWORD dword(uint64_t o) const { return DWORD(word(o)) | DWORD(word(o + 2)) << 16; }
    BYTE byte(uint64_t o) const { return static_cast<BYTE>(s[o]); }
};

}

ModuleImage::~ModuleImage() { release(); }

ModuleImage::ModuleImage(ModuleImage&& other) noexcept { *this = std::move(other); }

ModuleImage& ModuleImage::operator=(ModuleImage&& other) noexcept
{
    if (this != &other) {
        release();
        m_base = std::exchange(other.m_base, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_entryPoint = other.m_entryPoint;
        m_resourceRva = other.m_resourceRva;
        m_resourceSize = other.m_resourceSize;
    }
    return *this;
}

void ModuleImage::release()
{
    if (m_base)
        munmap(m_base, m_size);
    m_base = nullptr;
    m_size = 0;
}

ModuleImage ModuleImage::placeholder()
{
    ModuleImage image;
    void* p = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
        image.m_base = static_cast<BYTE*>(p);
        image.m_size = 4096;
    }
    return image;
}

bool ModuleImage::map(const std::string& file, ModuleImage& out, DWORD& error)
{
    error = ERROR_BAD_EXE_FORMAT;
    Bytes b { file };
    if (!b.has(0, 64) || b.byte(0) != 'M' || b.byte(1) != 'Z')
        return false;
    uint64_t pe = b.dword(0x3C);
    if (!b.has(pe, 24) || b.dword(pe) != 0x00004550)
        return false;
    uint64_t fileHeader = pe + 4;
    WORD machine = b.word(fileHeader);
    WORD sectionCount = b.word(fileHeader + 2);
    WORD optionalSize = b.word(fileHeader + 16);
    WORD characteristics = b.word(fileHeader + 18);
    if (machine != kMachineI386 || !(characteristics & kExecutableImage))
        return false;
    uint64_t optional = fileHeader + 20;
    if (optionalSize < 96 || !b.has(optional, optionalSize) || b.word(optional) != kPe32Magic)
        return false;
    DWORD entryPoint = b.dword(optional + 16);
    DWORD imageSize = b.dword(optional + 56);
    DWORD headersSize = b.dword(optional + 60);
    DWORD directoryCount = b.dword(optional + 92);
    if (imageSize == 0 || imageSize > kMaxImageSize || headersSize > imageSize || !b.has(0, headersSize))
        return false;
    DWORD resourceRva = 0;
    DWORD resourceSize = 0;
    if (directoryCount > kResourceDirectory && 96 + (kResourceDirectory + 1) * 8u <= optionalSize) {
        resourceRva = b.dword(optional + 96 + kResourceDirectory * 8);
        resourceSize = b.dword(optional + 96 + kResourceDirectory * 8 + 4);
    }
    uint64_t sections = optional + optionalSize;
    if (!b.has(sections, uint64_t(sectionCount) * 40))
        return false;

    void* p = mmap(nullptr, imageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    ModuleImage image;
    image.m_base = static_cast<BYTE*>(p);
    image.m_size = imageSize;
    std::memcpy(image.m_base, file.data(), headersSize);
    for (WORD i = 0; i < sectionCount; ++i) {
        uint64_t s = sections + i * 40u;
        DWORD virtualSize = b.dword(s + 8);
        DWORD virtualAddress = b.dword(s + 12);
        DWORD rawSize = b.dword(s + 16);
        DWORD rawPointer = b.dword(s + 20);
        uint64_t span = virtualSize ? virtualSize : rawSize;
        if (uint64_t(virtualAddress) + span > imageSize)
            return false;
        uint64_t copy = rawSize < span ? rawSize : span;
        if (copy && !b.has(rawPointer, copy))
            return false; // a truncated file
        if (copy)
            std::memcpy(image.m_base + virtualAddress, file.data() + rawPointer, copy);
    }
    if (uint64_t(resourceRva) + resourceSize > imageSize)
        return false;
    mprotect(image.m_base, imageSize, PROT_READ);
    image.m_entryPoint = entryPoint;
    image.m_resourceRva = resourceRva;
    image.m_resourceSize = resourceSize;
    out = std::move(image);
    error = ERROR_SUCCESS;
    return true;
}

}
