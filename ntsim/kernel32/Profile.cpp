// Private profile (INI) files: sections of key=value lines.
#include "FilePath.h"

#include "machine/ApiCall.h"
#include "machine/FileLock.h"
#include "machine/RunStore.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <windows.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// A bare file name lives in the Windows directory, as NT looks for it.
bool profilePath(LPCSTR fileName, ntsim::ResolvedPath& out)
{
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string name = fileName;
    if (name.find_first_of("\\/:") == std::string::npos)
        name = "C:\\WINNT\\" + name;
    return ntsim::resolvePath(name.c_str(), out);
}

std::vector<std::string> readLines(const std::string& hostPath)
{
    std::string text;
    std::vector<std::string> lines;
    if (!ntsim::readWholeFile(hostPath, text))
        return lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool isSection(const std::string& line, std::string& name)
{
    std::string t = trim(line);
    if (t.size() < 2 || t[0] != '[')
        return false;
    size_t close = t.find(']');
    name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

bool isKey(const std::string& line, std::string& key, std::string& value)
{
    std::string t = trim(line);
    if (t.empty() || t[0] == ';')
        return false;
    size_t eq = t.find('=');
    key = trim(t.substr(0, eq));
    value = eq == std::string::npos ? std::string() : trim(t.substr(eq + 1));
    return !key.empty() || eq != std::string::npos;
}

// Copies a list of strings, each with its terminator, and a final one. A
// list that does not fit is cut, still doubly terminated, and the result
// is the buffer's size less two, as NT reports it.
DWORD copyList(const std::vector<std::string>& items, LPSTR buffer, DWORD size)
{
    if (size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    std::string all;
    for (auto& item : items)
        all += item + '\0';
    if (all.size() + 1 > size) {
        std::memcpy(buffer, all.data(), size - 2);
        buffer[size - 2] = 0;
        buffer[size - 1] = 0;
        return size - 2;
    }
    std::memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = 0;
    if (all.empty())
        buffer[1 < size ? 1 : 0] = 0;
    return static_cast<DWORD>(all.size());
}

DWORD copyValue(const std::string& value, LPSTR buffer, DWORD size)
{
    if (size == 0)
        return 0;
    size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = 0;
    return static_cast<DWORD>(n);
}

}

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
    LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    ntsim::ApiCall call("GetPrivateProfileStringA", lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
    if (!lpReturnedString && nSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    ntsim::ResolvedPath path;
    std::vector<std::string> lines;
    if (profilePath(lpFileName, path))
        lines = readLines(path.host);
    std::vector<std::string> names;
    bool inSection = false, found = false;
    std::string value;
    for (auto& line : lines) {
        std::string section, key, v;
        if (isSection(line, section)) {
            if (!lpAppName) {
                names.push_back(section);
                continue;
            }
            inSection = ntsim::equalsNoCase(section, lpAppName);
            continue;
        }
        if (!lpAppName || !inSection || !isKey(line, key, v))
            continue;
        if (!lpKeyName) {
            names.push_back(key);
        } else if (!found && ntsim::equalsNoCase(key, lpKeyName)) {
            // One pair of matching quotes around a value is not part of it.
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            value = v;
            found = true;
        }
    }
    if (!lpAppName || !lpKeyName)
        return call.returns(copyList(names, lpReturnedString, nSize));
    if (found) {
        SetLastError(ERROR_SUCCESS);
        return call.returns(copyValue(value, lpReturnedString, nSize));
    }
    std::string fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.pop_back();
    SetLastError(ERROR_FILE_NOT_FOUND);
    return call.returns(copyValue(fallback, lpReturnedString, nSize));
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    ntsim::ApiCall call("WritePrivateProfileStringA", lpAppName, lpKeyName, lpString, lpFileName);
    if (call.faulted())
        return call.returns(FALSE);
    if (!lpAppName && !lpKeyName && !lpString)
        return call.returns(TRUE); // flushes the cache; there is none
    if (!lpAppName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(FALSE);
    }
    ntsim::ResolvedPath path;
    if (!profilePath(lpFileName, path))
        return call.returns(FALSE);
    // Writers of the machine's processes change a file one at a time.
    ntsim::RunStore::Transaction writers;
    std::vector<std::string> lines = readLines(path.host);
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, written = false;
    size_t sectionEnd = 0;
    for (auto& line : lines) {
        std::string section, key, v;
        if (isSection(line, section)) {
            if (inSection && !written && lpKeyName && lpString) {
                out.insert(out.begin() + static_cast<long>(sectionEnd), std::string(lpKeyName) + "=" + lpString);
                written = true;
            }
            inSection = ntsim::equalsNoCase(section, lpAppName);
            if (inSection) {
                sectionSeen = true;
                if (!lpKeyName)
                    continue; // the whole section goes
            }
            out.push_back(line);
            sectionEnd = out.size();
            continue;
        }
        if (inSection) {
            if (!lpKeyName)
                continue;
            if (isKey(line, key, v) && ntsim::equalsNoCase(key, lpKeyName)) {
                if (lpString && !written) {
                    out.push_back(key + "=" + lpString);
                    written = true;
                }
                sectionEnd = out.size();
                continue;
            }
            out.push_back(line);
            if (!trim(line).empty())
                sectionEnd = out.size();
            continue;
        }
        out.push_back(line);
    }
    if (inSection && !written && lpKeyName && lpString) {
        out.insert(out.begin() + static_cast<long>(sectionEnd), std::string(lpKeyName) + "=" + lpString);
        written = true;
    }
    if (!sectionSeen && lpKeyName && lpString) {
        out.push_back(std::string("[") + lpAppName + "]");
        out.push_back(std::string(lpKeyName) + "=" + lpString);
    }
    std::string text;
    for (auto& line : out)
        text += line + "\r\n";
    if (ntsim::missingFileError(path.host) == ERROR_PATH_NOT_FOUND) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return call.returns(FALSE);
    }
    if (!ntsim::writeFileAtomically(path.host, text)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return call.returns(FALSE);
    }
    return call.returns(TRUE);
}
