// kernel32 of the simulated machine.
#pragma once
#include "winnt.h"
#include "winerror.h"

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE 0x00000103L

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define DONT_RESOLVE_DLL_REFERENCES 0x00000001

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_COMPOSITECHECK 0x00000200
#define NORM_IGNORENONSPACE 0x00000002
#define NORM_IGNORESYMBOLS 0x00000004
#define SORT_STRINGSORT 0x00001000
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define NORM_IGNORECASE 0x00000001
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define RT_CURSOR MAKEINTRESOURCE(1)
#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_MENU MAKEINTRESOURCE(4)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
#define RT_VERSION MAKEINTRESOURCE(16)

#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_FORCEONFEEDBACK 0x00000040
#define STARTF_FORCEOFFFEEDBACK 0x00000080
#define CREATE_SUSPENDED 0x00000004
#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#define NORMAL_PRIORITY_CLASS 0x00000020
#define CREATE_NEW_CONSOLE 0x00000010
#define DETACHED_PROCESS 0x00000008

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
typedef WIN32_FIND_DATAA WIN32_FIND_DATA;

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;
typedef STARTUPINFOA STARTUPINFO;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// Errors and modules.
NTSIM_API DWORD WINAPI GetLastError(void);
NTSIM_API void WINAPI SetLastError(DWORD dwErrCode);
NTSIM_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
NTSIM_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
NTSIM_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
NTSIM_API HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
NTSIM_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
NTSIM_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// Resources.
NTSIM_API HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
NTSIM_API HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage);
NTSIM_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
NTSIM_API LPVOID WINAPI LockResource(HGLOBAL hResData);
NTSIM_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
NTSIM_API BOOL WINAPI FreeResource(HGLOBAL hResData);

// Paths and directories.
NTSIM_API DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
NTSIM_API DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
NTSIM_API BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);
NTSIM_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
NTSIM_API UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
NTSIM_API DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
NTSIM_API BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
NTSIM_API BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);

// Files.
NTSIM_API HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
NTSIM_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
    LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
NTSIM_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
    LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
NTSIM_API DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
NTSIM_API BOOL WINAPI SetEndOfFile(HANDLE hFile);
NTSIM_API DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
NTSIM_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
NTSIM_API BOOL WINAPI CloseHandle(HANDLE hObject);
NTSIM_API BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
NTSIM_API BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
NTSIM_API BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
NTSIM_API BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
NTSIM_API DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
NTSIM_API BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
NTSIM_API BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime);
NTSIM_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
NTSIM_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
NTSIM_API BOOL WINAPI FindClose(HANDLE hFindFile);

// Profile (INI) files.
NTSIM_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
    LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
NTSIM_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);

// Processes, events and waits.
NTSIM_API LPSTR WINAPI GetCommandLineA(void);
NTSIM_API DWORD WINAPI GetCurrentProcessId(void);
NTSIM_API HANDLE WINAPI GetCurrentProcess(void);
NTSIM_API void WINAPI ExitProcess(UINT uExitCode);
NTSIM_API BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
    LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
NTSIM_API HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
NTSIM_API BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
NTSIM_API BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
NTSIM_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
NTSIM_API HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
NTSIM_API BOOL WINAPI SetEvent(HANDLE hEvent);
NTSIM_API BOOL WINAPI ResetEvent(HANDLE hEvent);
NTSIM_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
NTSIM_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
NTSIM_API void WINAPI Sleep(DWORD dwMilliseconds);
NTSIM_API DWORD WINAPI GetTickCount(void);
NTSIM_API void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
#define EVENT_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3)
#define EVENT_MODIFY_STATE 0x0002

// Locale, code pages and strings.
NTSIM_API UINT WINAPI GetACP(void);
NTSIM_API UINT WINAPI GetOEMCP(void);
NTSIM_API LCID WINAPI GetUserDefaultLCID(void);
NTSIM_API LCID WINAPI GetSystemDefaultLCID(void);
NTSIM_API LANGID WINAPI GetUserDefaultLangID(void);
NTSIM_API LANGID WINAPI GetSystemDefaultLangID(void);
NTSIM_API LCID WINAPI GetThreadLocale(void);
NTSIM_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
    LPWSTR lpWideCharStr, int cchWideChar);
NTSIM_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
    LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
NTSIM_API int WINAPI CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2, int cchCount2);
NTSIM_API int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
NTSIM_API int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
NTSIM_API int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
NTSIM_API int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
NTSIM_API int WINAPI lstrlenA(LPCSTR lpString);
NTSIM_API int WINAPI lstrlenW(LPCWSTR lpString);
NTSIM_API int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator);
NTSIM_API LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
NTSIM_API LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
NTSIM_API LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2);
#define lstrcmp lstrcmpA
#define lstrcmpi lstrcmpiA
#define lstrlen lstrlenA
#define lstrcpy lstrcpyA
#define lstrcpyn lstrcpynA
#define lstrcat lstrcatA

// Memory.
NTSIM_API HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
NTSIM_API HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
NTSIM_API LPVOID WINAPI GlobalLock(HGLOBAL hMem);
NTSIM_API BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
NTSIM_API HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
NTSIM_API HLOCAL WINAPI LocalFree(HLOCAL hMem);
#define HEAP_ZERO_MEMORY 0x00000008
NTSIM_API HANDLE WINAPI GetProcessHeap(void);
NTSIM_API LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
NTSIM_API BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);

#define GetModuleHandle GetModuleHandleA
#define GetModuleFileName GetModuleFileNameA
#define LoadLibrary LoadLibraryA
#define LoadLibraryEx LoadLibraryExA
#define FindResource FindResourceA
#define FindResourceEx FindResourceExA
#define GetFullPathName GetFullPathNameA
#define GetCurrentDirectory GetCurrentDirectoryA
#define SetCurrentDirectory SetCurrentDirectoryA
#define GetWindowsDirectory GetWindowsDirectoryA
#define GetSystemDirectory GetSystemDirectoryA
#define CreateDirectory CreateDirectoryA
#define RemoveDirectory RemoveDirectoryA
#define CreateFile CreateFileA
#define DeleteFile DeleteFileA
#define CopyFile CopyFileA
#define MoveFile MoveFileA
#define MoveFileEx MoveFileExA
#define GetFileAttributes GetFileAttributesA
#define SetFileAttributes SetFileAttributesA
#define FindFirstFile FindFirstFileA
#define FindNextFile FindNextFileA
#define GetCommandLine GetCommandLineA
#define CreateProcess CreateProcessA
#define CreateEvent CreateEventA
#define OpenEvent OpenEventA
#define CompareString CompareStringA
#define GetPrivateProfileString GetPrivateProfileStringA
#define WritePrivateProfileString WritePrivateProfileStringA
