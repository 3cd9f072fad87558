// The registry calls as the platform itself makes them (the service
// controller, the INF installer, delayed renames). Only a program's call
// enters through the public entry point, which alone consults the faults a
// machine injects, so the platform's own work never counts toward a
// program's n-th call.
#pragma once
#include <windows.h>

namespace ntsim::registry {

LONG openKey(HKEY key, LPCSTR subKey, REGSAM desired, PHKEY result);
LONG createKey(HKEY key, LPCSTR subKey, LPSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG closeKey(HKEY key);
LONG queryValue(HKEY key, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size);
LONG setValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size);
LONG deleteValue(HKEY key, LPCSTR name);
LONG deleteKey(HKEY key, LPCSTR subKey);
LONG enumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPSTR className, LPDWORD classLength,
    PFILETIME lastWrite);
LONG enumValue(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size);

}
