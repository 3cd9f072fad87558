// NT paths of the file calls turned into host paths of drive C:, with the
// errors NT gives for bad and missing paths.
#pragma once
#include <windows.h>

#include <string>
#include <sys/stat.h>

namespace ntsim {

struct ResolvedPath {
    std::string nt;   // full NT path
    std::string host; // its place in drive_c, matched without regard to case
};

// Sets the last error and returns false for a null, malformed or
// off-machine path. Wildcards are refused unless allowed.
bool resolvePath(LPCSTR name, ResolvedPath& out, bool allowWildcards = false);

// resolvePath for something that must exist: false, with the last error
// set, when it does not.
bool resolveExisting(LPCSTR name, ResolvedPath& out, struct stat& st);

// ERROR_FILE_NOT_FOUND when the parent directory exists, else ERROR_PATH_NOT_FOUND.
DWORD missingFileError(const std::string& hostPath);

// NT's read-only attribute lives in the host file's owner write bit; a
// directory without it stands for a medium that cannot be written.
inline bool hostWritable(const struct stat& st) { return (st.st_mode & S_IWUSR) != 0; }
bool parentWritable(const std::string& hostPath);

// Copies a path out as the calls that return one do: the length without
// the terminator when it fits, else the size needed with it.
DWORD copyPathOut(const std::string& value, LPSTR buffer, DWORD size);

// NT's file times: 100 ns units since 1601.
FILETIME fileTimeOf(const struct timespec& ts);

// Maps the generic rights of a file open to the file's specific rights.
DWORD mapFileAccess(DWORD access);
constexpr DWORD fileReadData = 0x0001;
constexpr DWORD fileWriteData = 0x0002;
constexpr DWORD fileAppendData = 0x0004;
constexpr DWORD fileExecute = 0x0020;

}
