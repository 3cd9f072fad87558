// A PE image mapped the way the system loader lays it out: headers and
// sections at their virtual addresses in one block of memory, whose base
// address is the module's handle.
#pragma once
#include <windows.h>

#include <string>

namespace ntsim {

class ModuleImage {
public:
    ModuleImage() = default;
    ~ModuleImage();
    ModuleImage(const ModuleImage&) = delete;
    ModuleImage& operator=(const ModuleImage&) = delete;
    ModuleImage(ModuleImage&& other) noexcept;
    ModuleImage& operator=(ModuleImage&& other) noexcept;

    // Maps a 32-bit x86 PE file. False with ERROR_BAD_EXE_FORMAT (or
    // ERROR_NOT_ENOUGH_MEMORY) in error when the file is not one.
    static bool map(const std::string& file, ModuleImage& out, DWORD& error);
    // A page that stands for a module without a file image, so that its
    // handle is an address no other module has.
    static ModuleImage placeholder();

    BYTE* base() const { return m_base; }
    size_t size() const { return m_size; }
    DWORD entryPoint() const { return m_entryPoint; }
    DWORD resourceRva() const { return m_resourceRva; }
    DWORD resourceSize() const { return m_resourceSize; }

private:
    void release();

    BYTE* m_base { nullptr };
    size_t m_size { 0 };
    DWORD m_entryPoint { 0 };
    DWORD m_resourceRva { 0 };
    DWORD m_resourceSize { 0 };
};

}
