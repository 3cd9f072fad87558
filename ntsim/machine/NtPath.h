// NT path arithmetic: full paths, components, case-insensitive comparison.
#pragma once
#include <string>
#include <vector>

namespace ntsim {

// Makes an absolute "C:\a\b" path from a path relative to cwd, as
// GetFullPathName does: '/' becomes '\', "." and ".." are resolved, runs of
// separators are folded. Returns an empty string for a path on a drive the
// machine does not have or with characters NT does not allow.
std::string fullNtPath(const std::string& path, const std::string& cwd);

// The components after "C:\".
std::vector<std::string> ntComponents(const std::string& fullPath);

// Index of the first character of the last component (the file part).
size_t fileNamePart(const std::string& fullPath);

std::string ntParent(const std::string& fullPath);
std::string ntJoin(const std::string& dir, const std::string& name);

// ASCII case folding, the way NT compares file and key names for the
// characters our machines use.
std::string upperAscii(std::string s);
bool equalsNoCase(const std::string& a, const std::string& b);

// Wildcard match with '*' and '?', case-insensitive, as FindFirstFile does.
bool wildcardMatch(const std::string& pattern, const std::string& name);

}
