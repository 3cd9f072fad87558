// kernel32's module calls: finding, loading and freeing modules.
#include "Kernel32Calls.h"
#include "ModuleList.h"

#include "machine/ApiCall.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <windows.h>

#include <sys/stat.h>

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

using ntsim::Module;
using ntsim::ModuleList;

namespace {

bool failWith(DWORD error)
{
    SetLastError(error);
    return false;
}

bool hasPath(const std::string& name) { return name.find_first_of("\\/") != std::string::npos; }

bool isAbsolute(const std::string& name)
{
    return (name.size() >= 2 && name[1] == ':') || name[0] == '\\' || name[0] == '/';
}

// The process's PATH: NT's default, since the machine's programs get no
// environment of their own.
std::vector<std::string> pathDirectories()
{
    return { "C:\\WINNT\\system32", "C:\\WINNT" };
}

// NT 4.0's order: the application's directory, the current directory, the
// system directory, the 16-bit system directory, the Windows directory, PATH.
std::vector<std::string> searchDirectories()
{
    const auto& process = ntsim::currentProcess();
    std::vector<std::string> dirs { ntsim::ntParent(process.imagePath), process.currentDirectory,
        "C:\\WINNT\\system32", "C:\\WINNT\\system", "C:\\WINNT" };
    for (auto& d : pathDirectories())
        dirs.push_back(d);
    return dirs;
}

bool isRegularFile(const std::string& hostPath)
{
    struct stat st;
    return !hostPath.empty() && stat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The NT path of the file the loader would map for name, or empty.
std::string findLibrary(const std::string& name)
{
    auto& machine = ntsim::Machine::current();
    std::vector<std::string> candidates;
    if (hasPath(name) && isAbsolute(name)) {
        candidates.push_back(ntsim::fullNtPath(name, ntsim::currentProcess().currentDirectory));
    } else {
        for (auto& dir : searchDirectories())
            candidates.push_back(ntsim::fullNtPath(ntsim::ntJoin(dir, name), "C:\\"));
    }
    for (auto& candidate : candidates) {
        if (!candidate.empty() && isRegularFile(machine.hostPath(candidate)))
            return candidate;
    }
    return {};
}

// A library of the machine's own code: an ELF shared object inside
// drive_c, whose Win32 calls resolve to the simulator of the process that
// loads it, with its resources as the resource compiler wrote them.
HMODULE loadNative(const std::string& path, const std::string& hostPath, DWORD flags)
{
    // Its resources lie beside code that would run: no loading as data.
    if (flags & LOAD_LIBRARY_AS_DATAFILE) {
        failWith(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    // The file itself must lie inside drive_c, not behind a link out of it.
    char real[PATH_MAX];
    char root[PATH_MAX];
    if (!realpath(hostPath.c_str(), real) || !realpath(ntsim::Machine::current().driveC().c_str(), root)
        || std::strncmp(real, root, std::strlen(root)) != 0 || real[std::strlen(root)] != '/') {
        failWith(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    void* handle = dlopen(real, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "ntsim: cannot load %s: %s\n", path.c_str(), dlerror());
        failWith(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    auto module = std::make_unique<Module>(Module::Kind::Native, path, ntsim::ModuleImage::placeholder());
    module->setNative(handle);
    auto* data = static_cast<const unsigned char*>(dlsym(handle, "ntsim_module_resources"));
    auto* size = static_cast<const size_t*>(dlsym(handle, "ntsim_module_resources_size"));
    if (data && size && !ntsim::parseResFile(data, *size, module->mutableResources())) {
        failWith(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    return ModuleList::the().add(std::move(module)).handle();
}

bool isElf(const std::string& bytes)
{
    return bytes.size() >= 4 && bytes.compare(0, 4, "\x7f" "ELF") == 0;
}

}

namespace ntsim::kernel32 {

HMODULE loadLibrary(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags)
{
    constexpr DWORD knownFlags = DONT_RESOLVE_DLL_REFERENCES | LOAD_LIBRARY_AS_DATAFILE;
    if (!lpLibFileName || !*lpLibFileName || hFile || (dwFlags & ~knownFlags)) {
        failWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard guard(ModuleList::the().lock());
    std::string name = ntsim::withDefaultExtension(lpLibFileName);
    auto& modules = ModuleList::the();
    if (!hasPath(name)) {
        if (Module* loaded = modules.byName(name)) {
            loaded->addReference();
            return loaded->handle();
        }
    }
    std::string path = findLibrary(name);
    if (path.empty()) {
        failWith(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (Module* loaded = modules.byName(path)) {
        loaded->addReference();
        return loaded->handle();
    }
    std::string hostPath = ntsim::Machine::current().hostPath(path);
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) {
        failWith(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (isElf(bytes.str()))
        return loadNative(path, hostPath, dwFlags);
    ntsim::ModuleImage image;
    DWORD error = ERROR_SUCCESS;
    if (!ntsim::ModuleImage::map(bytes.str(), image, error)) {
        failWith(error);
        return nullptr;
    }
    // The machine runs no x86 code: a module with an entry point can only
    // be used for its resources, and only when asked for that alone.
    if (image.entryPoint() && !(dwFlags & knownFlags)) {
        failWith(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    auto module = std::make_unique<Module>(Module::Kind::File, path, std::move(image));
    const auto& mapped = module->image();
    if (mapped.resourceSize()
        && !ntsim::parseResourceDirectory(mapped.base(), mapped.size(), mapped.resourceRva(), mapped.resourceSize(),
            module->mutableResources())) {
        failWith(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    return modules.add(std::move(module)).handle();
}

BOOL freeLibrary(HMODULE hLibModule)
{
    std::lock_guard guard(ModuleList::the().lock());
    Module* module = hLibModule ? ModuleList::the().byHandle(hLibModule) : nullptr;
    if (!module)
        return failWith(ERROR_MOD_NOT_FOUND);
    // The image and the system's libraries stay for the life of the process.
    bool loaded = module->kind() == Module::Kind::File || module->kind() == Module::Kind::Native;
    if (loaded && module->release())
        ModuleList::the().remove(*module);
    return TRUE;
}

FARPROC procAddress(HMODULE hModule, LPCSTR lpProcName)
{
    std::lock_guard guard(ModuleList::the().lock());
    Module* module = ModuleList::the().byHandle(hModule);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (lpProcName && !IS_INTRESOURCE(lpProcName)) {
        if (module->native()) {
            if (void* symbol = dlsym(module->native(), lpProcName))
                return reinterpret_cast<FARPROC>(symbol);
        }
        for (auto& e : module->exports) {
            if (e.address && std::strcmp(e.name, lpProcName) == 0)
                return e.address;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    ntsim::ApiCall call("GetModuleHandleA", lpModuleName);
    if (call.faulted())
        return call.returns(HMODULE(nullptr));
    std::lock_guard guard(ModuleList::the().lock());
    if (!lpModuleName)
        return call.returns(ModuleList::the().image().handle());
    std::string name = ntsim::withDefaultExtension(lpModuleName);
    if (hasPath(name))
        name = ntsim::fullNtPath(name, ntsim::currentProcess().currentDirectory);
    if (Module* module = ModuleList::the().byName(name))
        return call.returns(module->handle());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return call.returns(nullptr);
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    ntsim::ApiCall call("GetModuleFileNameA", hModule, lpFilename, nSize);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(0);
    }
    std::lock_guard guard(ModuleList::the().lock());
    Module* module = ModuleList::the().byHandle(hModule);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return call.returns(0);
    }
    if (nSize == 0)
        return call.returns(0);
    if (!lpFilename) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    std::string path = module->path();
    // NT 4.0 cuts a name that does not fit to nSize characters and leaves
    // it without a terminator.
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize);
        return call.returns(nSize);
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return call.returns(static_cast<DWORD>(path.size()));
}

extern "C" HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags)
{
    ntsim::ApiCall call("LoadLibraryExA", lpLibFileName, hFile, dwFlags);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(ntsim::kernel32::loadLibrary(lpLibFileName, hFile, dwFlags));
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    ntsim::ApiCall call("LoadLibraryA", lpLibFileName);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(ntsim::kernel32::loadLibrary(lpLibFileName, nullptr, 0));
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    ntsim::ApiCall call("FreeLibrary", hLibModule);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(ntsim::kernel32::freeLibrary(hLibModule));
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    ntsim::ApiCall call("GetProcAddress", hModule, lpProcName);
    if (call.faulted())
        return call.returns(FARPROC(nullptr));
    return call.returns(ntsim::kernel32::procAddress(hModule, lpProcName));
}
