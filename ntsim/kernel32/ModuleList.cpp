#include "ModuleList.h"

#include "machine/HandleTable.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <dlfcn.h>

namespace {

// Plain data, set during static initialisation of the program: no
// constructor of ours may run before it.
const unsigned char* imageResourceData = nullptr;
size_t imageResourceSize = 0;
unsigned imageResourceGeneration = 0;

}

extern "C" void ntsim_set_image_resources(const unsigned char* data, size_t size)
{
    imageResourceData = data;
    imageResourceSize = size;
    ++imageResourceGeneration;
}

namespace ntsim {

namespace {

// Through void (*)(), the one cast between function types that C++ keeps
// free of warnings; callers cast back to the real type, as on Windows.
template<typename Function>
FARPROC exported(Function* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

std::vector<SystemExport> kernel32Exports()
{
    return {
        { "FindResourceA", exported(&FindResourceA) },
        { "FindResourceExA", exported(&FindResourceExA) },
        { "FreeLibrary", exported(&FreeLibrary) },
        { "FreeResource", exported(&FreeResource) },
        { "GetLastError", exported(&GetLastError) },
        { "GetModuleFileNameA", exported(&GetModuleFileNameA) },
        { "GetModuleHandleA", exported(&GetModuleHandleA) },
        { "GetProcAddress", exported(&GetProcAddress) },
        { "LoadLibraryA", exported(&LoadLibraryA) },
        { "LoadLibraryExA", exported(&LoadLibraryExA) },
        { "LoadResource", exported(&LoadResource) },
        { "LockResource", exported(&LockResource) },
        { "SetLastError", exported(&SetLastError) },
        { "SizeofResource", exported(&SizeofResource) },
    };
}

std::vector<SystemExport> user32Exports()
{
    return {
        { "LoadStringA", exported(&LoadStringA) },
        { "MessageBoxA", exported(&MessageBoxA) },
    };
}

}

std::string withDefaultExtension(const std::string& name)
{
    size_t slash = name.find_last_of("\\/");
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (!name.empty() && name.back() == '.')
        return name.substr(0, name.size() - 1);
    if (name.find('.', start) == std::string::npos)
        return name + ".dll";
    return name;
}

Module::Module(Kind kind, std::string path, ModuleImage image)
    : m_kind(kind)
    , m_path(std::move(path))
    , m_image(std::move(image))
{
}

Module::~Module()
{
    if (m_native)
        dlclose(m_native);
}

std::string Module::path() const
{
    // The image's path follows the process context, which tests set.
    return m_kind == Kind::Image ? currentProcess().imagePath : m_path;
}

std::string Module::baseName() const
{
    std::string p = path();
    return p.substr(fileNamePart(p));
}

const ResourceTable& Module::resources()
{
    if (m_kind == Kind::Image && m_imageResourcesSeen != imageResourceGeneration) {
        m_imageResourcesSeen = imageResourceGeneration;
        m_resources.clear();
        if (imageResourceData && !parseResFile(imageResourceData, imageResourceSize, m_resources))
            m_resources.clear();
    }
    return m_resources;
}

ModuleList& ModuleList::the()
{
    static ModuleList list;
    return list;
}

ModuleList::ModuleList()
{
    m_modules.push_back(std::make_unique<Module>(Module::Kind::Image, std::string(), ModuleImage::placeholder()));
    const char* systemLibraries[] = { "kernel32.dll", "user32.dll", "advapi32.dll", "setupapi.dll", "comctl32.dll" };
    for (const char* name : systemLibraries) {
        auto module = std::make_unique<Module>(Module::Kind::System,
            std::string("C:\\WINNT\\system32\\") + name, ModuleImage::placeholder());
        if (equalsNoCase(name, "kernel32.dll"))
            module->exports = kernel32Exports();
        else if (equalsNoCase(name, "user32.dll"))
            module->exports = user32Exports();
        m_modules.push_back(std::move(module));
    }
}

Module& ModuleList::image() { return *m_modules.front(); }

Module* ModuleList::byHandle(HMODULE handle)
{
    if (!handle)
        return &image();
    for (auto& m : m_modules)
        if (m->handle() == handle)
            return m.get();
    return nullptr;
}

Module* ModuleList::byName(const std::string& name)
{
    bool bare = name.find_first_of("\\/") == std::string::npos;
    for (auto& m : m_modules) {
        if (bare ? equalsNoCase(m->baseName(), name) : equalsNoCase(m->path(), name))
            return m.get();
    }
    return nullptr;
}

namespace {

// The modules LoadLibrary mapped and FreeLibrary has not unmapped.
HandleCount& loadedModules()
{
    static auto* count = new HandleCount("modules");
    return *count;
}

}

Module& ModuleList::add(std::unique_ptr<Module> module)
{
    m_modules.push_back(std::move(module));
    loadedModules().opened();
    return *m_modules.back();
}

void ModuleList::remove(Module& module)
{
    for (auto it = m_modules.begin(); it != m_modules.end(); ++it) {
        if (it->get() == &module) {
            m_modules.erase(it);
            loadedModules().closed();
            return;
        }
    }
}

}
