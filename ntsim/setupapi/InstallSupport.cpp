#include "InstallSupport.h"

namespace ntsim::setupapi {

const inf::Section* installSection(HINF handle, const std::string* name, InfFile*& file)
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
    const inf::Section* section = file->section(*name);
    if (!section)
        SetLastError(ERROR_SECTION_NOT_FOUND);
    return section;
}

bool intValue(const std::string& text, DWORD fallback, DWORD& out)
{
    if (text.empty()) {
        out = fallback;
        return true;
    }
    INT value = 0;
    if (!readInt(text, value))
        return false;
    out = static_cast<DWORD>(value);
    return true;
}

}
