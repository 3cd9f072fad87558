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
HRSRC findResource(HMODULE module, LPCSTR type, LPCSTR name, WORD language);

}
