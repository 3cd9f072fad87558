#include "InstallSupport.h"


#include <cerrno>
#include <cstdlib>

namespace ntsim::setupapi {

const inf::Section* installSection(HINF handle, PCSTR name, InfFile*& file)
{
    file = InfFile::fromHandle(handle);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const inf::Section* section = file->section(name);
    if (!section)
        SetLastError(ERROR_SECTION_NOT_FOUND);
    return section;
}

std::vector<std::string> lineValues(const InfFile& file, const inf::Line& line, DWORD first)
{
    std::vector<std::string> out;
    for (DWORD i = first; i <= line.values.size(); ++i) {
        std::string text;
        file.field(line, i, text);
        out.push_back(std::move(text));
    }
    return out;
}

std::vector<std::string> directiveValues(const InfFile& file, const inf::Section& section, const char* directive)
{
    std::vector<std::string> out;
    for (auto& line : section.lines) {
        if (!line.hasKey || !file.keyMatches(line, directive))
            continue;
        for (auto& value : lineValues(file, line))
            if (!value.empty())
                out.push_back(std::move(value));
    }
    return out;
}

bool intValue(const std::string& text, DWORD fallback, DWORD& out)
{
    if (text.empty()) {
        out = fallback;
        return true;
    }
    errno = 0;
    char* end = nullptr;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    long long n = hex ? std::strtoll(text.c_str() + 2, &end, 16) : std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || n < INT32_MIN || n > UINT32_MAX)
        return false;
    out = static_cast<DWORD>(n);
    return true;
}

}
