#include "DeleteRequest.h"

#include <cstdlib>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Whether text starts with head, without regard to case.
bool StartsWithNoCase(const std::string& text, const std::string& head)
{
    return text.size() >= head.size() && lstrcmpiA(text.substr(0, head.size()).c_str(), head.c_str()) == 0;
}

// A full path starts with a drive ("C:\") or a share ("\\").
bool StartsFullPath(const std::string& text, size_t at)
{
    if (at + 3 <= text.size() && text[at + 1] == ':' && text[at + 2] == '\\'
        && ((text[at] >= 'A' && text[at] <= 'Z') || (text[at] >= 'a' && text[at] <= 'z')))
        return true;
    return at + 2 <= text.size() && text[at] == '\\' && text[at + 1] == '\\';
}

// Paths are not quoted, so a blank ends one only where another full path begins.
std::vector<std::string> SplitPaths(const std::string& text)
{
    std::vector<std::string> paths;
    size_t start = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == ' ' && StartsFullPath(text, i + 1)) {
            paths.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < text.size())
        paths.push_back(text.substr(start));
    return paths;
}

std::string FullPathOf(const std::string& path)
{
    char full[MAX_PATH];
    LPSTR filePart = nullptr;
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, &filePart);
    if (n == 0 || n >= sizeof full || !filePart)
        return std::string();
    return full;
}

}

bool ParseDeleteRequest(const std::string& commandLine, const std::string& ownPath, DeleteRequest& request)
{
    // The program's own path, as the setup program wrote it; else the first word.
    size_t at = 0;
    if (!ownPath.empty() && StartsWithNoCase(commandLine, ownPath)) {
        at = ownPath.size();
    } else if (!commandLine.empty() && commandLine[0] == '"') {
        at = commandLine.find('"', 1);
        at = at == std::string::npos ? commandLine.size() : at + 1;
    } else {
        while (at < commandLine.size() && !IsBlank(commandLine[at]))
            ++at;
    }
    if (at >= commandLine.size() || !IsBlank(commandLine[at]))
        return false;
    ++at;

    size_t end = commandLine.find(' ', at);
    std::string pid = commandLine.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (pid.empty() || pid.size() > 8 || pid.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos
        || end == std::string::npos)
        return false;
    request.setupProcessId = static_cast<DWORD>(std::strtoul(pid.c_str(), nullptr, 16));
    if (request.setupProcessId == 0)
        return false;

    std::string rest = commandLine.substr(end + 1);
    while (!rest.empty() && IsBlank(rest.back()))
        rest.pop_back();
    request.noLog = rest.size() >= 3 && lstrcmpiA(rest.substr(rest.size() - 3).c_str(), " -L") == 0;
    if (request.noLog)
        rest.resize(rest.size() - 3);
    if (rest.empty() || !StartsFullPath(rest, 0))
        return false;
    request.files = SplitPaths(rest);
    return !request.files.empty() && request.files.size() <= 2;
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool MayDelete(const std::string& path, const std::string& setupDirectory, const std::string& ownPath)
{
    std::string full = FullPathOf(path);
    if (full.empty() || lstrcmpiA(full.c_str(), path.c_str()) != 0 || lstrcmpiA(full.c_str(), ownPath.c_str()) == 0)
        return false;
    std::string directory = DirectoryOf(full);
    std::string ownDirectory = DirectoryOf(ownPath);
    return (!setupDirectory.empty() && lstrcmpiA(directory.c_str(), setupDirectory.c_str()) == 0)
        || (!ownDirectory.empty() && lstrcmpiA(directory.c_str(), ownDirectory.c_str()) == 0);
}
