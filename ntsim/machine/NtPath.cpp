#include "NtPath.h"

#include <cctype>

namespace ntsim {

std::string upperAscii(std::string s)
{
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool equalsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

std::string fullNtPath(const std::string& input, const std::string& cwd)
{
    std::string path = input;
    for (auto& c : path)
        if (c == '/')
            c = '\\';
    for (char c : path) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '<' || c == '>' || c == '"' || c == '|')
            return {};
    }
    std::string base;
    if (path.size() >= 2 && path[1] == ':') {
        if (std::toupper(static_cast<unsigned char>(path[0])) != 'C')
            return {};
        if (path.size() == 2 || path[2] != '\\')
            base = cwd; // drive-relative: our one drive's current directory
        path = path.substr(2);
    } else if (!path.empty() && path[0] == '\\') {
        if (path.size() > 1 && path[1] == '\\')
            return {}; // UNC paths lead off the machine
        base = "C:\\";
    } else {
        base = cwd;
    }
    if (base.empty())
        base = "C:\\";

    std::vector<std::string> parts;
    auto push = [&parts](const std::string& all, size_t from) {
        size_t i = from;
        while (i <= all.size()) {
            size_t j = all.find('\\', i);
            if (j == std::string::npos)
                j = all.size();
            std::string part = all.substr(i, j - i);
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                // NT drops trailing dots and blanks of a component.
                while (!part.empty() && (part.back() == '.' || part.back() == ' '))
                    part.pop_back();
                if (!part.empty())
                    parts.push_back(part);
            }
            i = j + 1;
        }
    };
    push(base, base.size() >= 2 && base[1] == ':' ? 2 : 0);
    push(path, 0);

    std::string out = "C:\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            out += '\\';
        out += parts[i];
    }
    if (path.size() > 0 && (path.back() == '\\') && parts.size() > 0)
        out += '\\';
    return out;
}

std::vector<std::string> ntComponents(const std::string& fullPath)
{
    std::vector<std::string> parts;
    size_t i = fullPath.size() >= 3 && fullPath[1] == ':' ? 3 : 0;
    while (i < fullPath.size()) {
        size_t j = fullPath.find('\\', i);
        if (j == std::string::npos)
            j = fullPath.size();
        if (j > i)
            parts.push_back(fullPath.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

size_t fileNamePart(const std::string& fullPath)
{
    size_t slash = fullPath.find_last_of('\\');
    return slash == std::string::npos ? 0 : slash + 1;
}

std::string ntParent(const std::string& fullPath)
{
    std::string p = fullPath;
    while (p.size() > 3 && p.back() == '\\')
        p.pop_back();
    size_t slash = p.find_last_of('\\');
    if (slash == std::string::npos)
        return "C:\\";
    if (slash <= 2)
        return p.substr(0, 3);
    return p.substr(0, slash);
}

std::string ntJoin(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    if (dir.back() == '\\')
        return dir + name;
    return dir + "\\" + name;
}

bool wildcardMatch(const std::string& pattern, const std::string& name)
{
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    auto same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '.' || pattern[p] == '?'))
        ++p; // "*.*" and "name.*" match names without an extension
    return p == pattern.size();
}

}
