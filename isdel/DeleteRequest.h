// What the setup program asks ISDEL.EXE to do, read from its command line:
//   ISDEL-PATH PID SETUP-PATH[ RESOURCE-PATH][ -L]
// single blanks, no quoting, the setup program's process id in lower-case
// hexadecimal.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct DeleteRequest {
    DWORD setupProcessId { 0 };
    std::vector<std::string> files; // the setup program first
    bool noLog { false };           // " -L": the setup run kept no diagnostic log
};

// Reads the command line; ownPath is this program's module path, which the
// line starts with. False when the line is not of that form.
bool ParseDeleteRequest(const std::string& commandLine, const std::string& ownPath, DeleteRequest& request);

// The directory part of a full path, with its trailing backslash.
std::string DirectoryOf(const std::string& path);

// Whether a path may be deleted: a full path (nothing relative, no "..")
// of a file directly in the setup program's directory or in this program's
// own, and not this program itself.
bool MayDelete(const std::string& path, const std::string& setupDirectory, const std::string& ownPath);
