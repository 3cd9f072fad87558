#include "ApiTable.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace ntsim {

const ApiSignature* findApi(const std::string& name)
{
    auto end = apiSignaturesEnd();
    auto it = std::lower_bound(apiSignaturesBegin(), end, name.c_str(),
        [](const ApiSignature& a, const char* b) { return std::strcmp(a.name, b) < 0; });
    return it != end && name == it->name ? it : nullptr;
}

namespace {

bool isOneOf(const char* text, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (std::strcmp(text, name) == 0)
            return true;
    return false;
}

}

std::optional<bool> resultFails(const ApiSignature& api, uint64_t result)
{
    const char* type = api.result;
    const uint64_t invalid = ~uint64_t(0);
    // Answers, not failures: a state, a predicate, a handle that is always there.
    if (isOneOf(api.name, { "IsWindow", "IsChild", "IsWindowVisible", "IsWindowEnabled", "ShowWindow", "EnableWindow",
            "GlobalUnlock", "PeekMessageA", "TranslateMessage", "GetMessageA", "GetFocus", "SetFocus", "GetParent",
            "GetCurrentProcess", "FreeResource", "LockResource", "IsDialogMessageA", "IsValidSid", "EqualSid", "IsValidAcl",
            "IsValidSecurityDescriptor" }))
        return std::nullopt;
    // These give back null when they succeed: the handle is gone.
    if (isOneOf(api.name, { "GlobalFree", "LocalFree", "FreeSid" }))
        return result != 0;
    if (std::strcmp(api.header, "winreg.h") == 0 && std::strcmp(type, "LONG") == 0)
        return static_cast<uint32_t>(result) != 0;
    if (std::strcmp(type, "BOOL") == 0)
        return static_cast<uint32_t>(result) == 0;
    // Handles: null, or INVALID_HANDLE_VALUE where the call documents it.
    if (isOneOf(type, { "HANDLE", "HINF", "HDEVINFO" }))
        return result == 0 || result == invalid;
    if (isOneOf(type, { "HKEY", "SC_HANDLE", "SC_LOCK", "HWND", "HMODULE", "HINSTANCE", "HGLOBAL", "HLOCAL", "HRSRC",
            "LPVOID", "PVOID", "FARPROC", "HICON", "HCURSOR", "HBITMAP", "HPROPSHEETPAGE" }))
        return result == 0;
    if (isOneOf(api.name, { "WaitForSingleObject", "WaitForMultipleObjects", "GetFileAttributesA",
            "GetFileAttributesW", "SetFilePointer", "GetFileSize" }))
        return static_cast<uint32_t>(result) == 0xFFFFFFFF;
    if (isOneOf(api.name, { "MessageBoxA", "MessageBoxW", "LoadStringA", "LoadStringW",
            "GetModuleFileNameA", "GetModuleFileNameW", "GetFullPathNameA", "GetSystemDirectoryA",
            "GetWindowsDirectoryA", "GetTempPathA", "MultiByteToWideChar", "WideCharToMultiByte" }))
        return static_cast<uint32_t>(result) == 0;
    return std::nullopt;
}

}
