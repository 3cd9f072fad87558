// kernel32's resource calls over the modules' resource tables.
#include "Kernel32Calls.h"
#include "ModuleList.h"

#include "machine/ApiCall.h"

#include <windows.h>

using ntsim::Module;
using ntsim::ModuleList;
using ntsim::ResourceEntry;
using ntsim::ResourceId;

namespace {

const ResourceEntry* findEntry(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage, DWORD& error)
{
    auto type = lpType ? ResourceId::fromArgument(lpType) : std::nullopt;
    auto name = lpName ? ResourceId::fromArgument(lpName) : std::nullopt;
    std::lock_guard guard(ModuleList::the().lock());
    Module* module = ModuleList::the().byHandle(hModule);
    if (!module) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    if (!type) {
        error = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    if (!name) {
        error = ERROR_RESOURCE_NAME_NOT_FOUND;
        return nullptr;
    }
    return module->resources().find(*type, *name, wLanguage, error);
}

// The entry behind an HRSRC of the module, or null for a foreign handle.
const ResourceEntry* entryOf(HMODULE hModule, HRSRC hResInfo)
{
    Module* module = ModuleList::the().byHandle(hModule);
    auto* entry = reinterpret_cast<const ResourceEntry*>(hResInfo);
    if (!module || !entry || !module->resources().owns(entry))
        return nullptr;
    return entry;
}

}

namespace ntsim::kernel32 {

HRSRC findResource(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage)
{
    DWORD error = ERROR_SUCCESS;
    const ResourceEntry* entry = findEntry(hModule, lpType, lpName, wLanguage, error);
    if (!entry) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(entry));
}

const BYTE* resourceData(HMODULE module, LPCSTR type, LPCSTR name, DWORD& size, DWORD& error)
{
    const ResourceEntry* entry = findEntry(module, type, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), error);
    if (!entry)
        return nullptr;
    size = entry->size;
    return entry->data;
}

}

extern "C" HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    ntsim::ApiCall call("FindResourceA", hModule, lpName, lpType);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(ntsim::kernel32::findResource(hModule, lpType, lpName, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)));
}

extern "C" HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage)
{
    ntsim::ApiCall call("FindResourceExA", hModule, lpType, lpName, wLanguage);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(ntsim::kernel32::findResource(hModule, lpType, lpName, wLanguage));
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    ntsim::ApiCall call("LoadResource", hModule, hResInfo);
    if (call.faulted())
        return call.returns(HGLOBAL(nullptr));
    std::lock_guard guard(ModuleList::the().lock());
    const ResourceEntry* entry = entryOf(hModule, hResInfo);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(nullptr);
    }
    // As on NT, the handle of a loaded resource is the address of its data
    // in the module.
    return call.returns(const_cast<BYTE*>(entry->data));
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    ntsim::ApiCall call("LockResource", hResData);
    return call.returns(hResData);
}

extern "C" DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo)
{
    ntsim::ApiCall call("SizeofResource", hModule, hResInfo);
    std::lock_guard guard(ModuleList::the().lock());
    const ResourceEntry* entry = entryOf(hModule, hResInfo);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(0);
    }
    return call.returns(entry->size);
}

extern "C" BOOL WINAPI FreeResource(HGLOBAL hResData)
{
    ntsim::ApiCall call("FreeResource", hResData);
    // Resources live as long as their module; Win32 reports that as FALSE.
    return call.returns(FALSE);
}
