// kernel32's calls as the platform itself makes them. Only a program's call
// enters through the public entry point, which alone consults the faults a
// machine injects; the platform's own work comes here, so that it never
// counts toward a program's n-th call.
#pragma once
#include <windows.h>

namespace ntsim::kernel32 {

HANDLE createFile(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
    DWORD flagsAndAttributes);
BOOL deleteFile(LPCSTR fileName);
BOOL copyFile(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists);
BOOL moveFile(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
BOOL createDirectory(LPCSTR pathName);
HMODULE loadLibrary(LPCSTR libFileName, HANDLE file, DWORD flags);
BOOL freeLibrary(HMODULE module);
FARPROC procAddress(HMODULE module, LPCSTR name);
HRSRC findResource(HMODULE module, LPCSTR type, LPCSTR name, WORD language);
// A resource as FindResourceA and LoadResource give it: null with the
// Win32 error in error.
const BYTE* resourceData(HMODULE module, LPCSTR type, LPCSTR name, DWORD& size, DWORD& error);

}
