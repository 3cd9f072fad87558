// The modules of the process: its image, the system's built-in libraries
// and the files LoadLibrary has mapped, each with its resources.
#pragma once
#include "ModuleImage.h"
#include "ResourceTable.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The image's own resources, as the resource compiler wrote them (.res).
// The program's start-up code registers them before main runs.
extern "C" void ntsim_set_image_resources(const unsigned char* data, size_t size);

namespace ntsim {

struct SystemExport {
    const char* name;
    FARPROC address;
};

class Module {
public:
    // File is a PE image mapped for its resources; Native a library of the
    // machine's own code (an ELF shared object in drive_c) that runs.
    enum class Kind { Image, System, File, Native };

    Module(Kind kind, std::string path, ModuleImage image);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The loaded shared object of a Native module.
    void* native() const { return m_native; }
    void setNative(void* handle) { m_native = handle; }

    Kind kind() const { return m_kind; }
    HMODULE handle() const { return reinterpret_cast<HMODULE>(m_image.base()); }
    // The NT path GetModuleFileName gives.
    std::string path() const;
    std::string baseName() const;

    const ResourceTable& resources();
    ResourceTable& mutableResources() { return m_resources; }
    const ModuleImage& image() const { return m_image; }

    unsigned references() const { return m_references; }
    void addReference() { ++m_references; }
    bool release() { return --m_references == 0; }

    std::vector<SystemExport> exports;

private:
    Kind m_kind;
    std::string m_path;
    ModuleImage m_image;
    ResourceTable m_resources;
    unsigned m_references { 1 };
    unsigned m_imageResourcesSeen { 0 };
    void* m_native { nullptr };
};

class ModuleList {
public:
    static ModuleList& the();

    std::recursive_mutex& lock() { return m_lock; }

    Module& image();
    // A null handle is the image; null for a handle of no loaded module.
    Module* byHandle(HMODULE handle);
    // By full NT path, or by file name for a bare name; either without case.
    Module* byName(const std::string& name);
    Module& add(std::unique_ptr<Module> module);
    void remove(Module& module);

private:
    ModuleList();

    std::recursive_mutex m_lock;
    std::vector<std::unique_ptr<Module>> m_modules;
};

// A module name as the loader compares it: ".dll" added when the last
// component has no extension, a trailing dot removed.
std::string withDefaultExtension(const std::string& name);

}
