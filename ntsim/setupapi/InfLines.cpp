// The INF calls that walk sections and read lines and fields.
#include "InfFile.h"
#include "machine/ApiCall.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

UINT sectionIndex(const InfFile& file, const inf::Section* section)
{
    return static_cast<UINT>(section - file.document().sections.data());
}

// Finds the first line at or after `from` whose key matches (any line when
// key is null) and fills the context.
BOOL findFrom(InfFile& file, HINF handle, UINT section, UINT from, PCSTR key, PINFCONTEXT context)
{
    auto& lines = file.document().sections[section].lines;
    for (UINT i = from; i < lines.size(); ++i) {
        if (key && !file.keyMatches(lines[i], key))
            continue;
        context->Inf = handle;
        context->CurrentInf = handle;
        context->Section = section;
        context->Line = i;
        SetLastError(NO_ERROR);
        return TRUE;
    }
    return failWith(ERROR_LINE_NOT_FOUND);
}

// The resolved fields of a line from `first` on; NO_ERROR or the error of
// the first that cannot be read.
DWORD fieldsFrom(const InfFile& file, const inf::Line& line, DWORD first, std::vector<std::string>& out)
{
    for (DWORD i = first; i <= line.values.size(); ++i) {
        std::string text;
        if (DWORD error = file.field(line, i, text); error != NO_ERROR)
            return error;
        out.push_back(std::move(text));
    }
    return NO_ERROR;
}

bool parseInt(const std::string& text, INT& value)
{
    if (text.empty())
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    long long n = hex ? std::strtoll(begin + 2, &end, 16) : std::strtoll(begin, &end, 10);
    if (errno != 0 || *end != 0 || (hex && end == begin + 2) || n < INT32_MIN || n > UINT32_MAX)
        return false;
    value = static_cast<INT>(static_cast<uint32_t>(n));
    return true;
}

}

BOOL WINAPI SetupFindFirstLineA(HINF InfHandle, PCSTR Section, PCSTR Key, PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupFindFirstLineA", InfHandle, Section, Key, Context);
    InfFile* file = InfFile::fromHandle(InfHandle);
    if (!file)
        return call.returns(failWith(ERROR_INVALID_HANDLE));
    if (!Section || !Context)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    const inf::Section* section = file->section(Section);
    // No section has no line either: the platform reports the line.
    if (!section)
        return call.returns(failWith(ERROR_LINE_NOT_FOUND));
    return call.returns(findFrom(*file, InfHandle, sectionIndex(*file, section), 0, Key, Context));
}

BOOL WINAPI SetupFindNextLine(PINFCONTEXT ContextIn, PINFCONTEXT ContextOut)
{
    ntsim::ApiCall call("SetupFindNextLine", ContextIn, ContextOut);
    return call.returns(SetupFindNextMatchLineA(ContextIn, nullptr, ContextOut));
}

BOOL WINAPI SetupFindNextMatchLineA(PINFCONTEXT ContextIn, PCSTR Key, PINFCONTEXT ContextOut)
{
    ntsim::ApiCall call("SetupFindNextMatchLineA", ContextIn, Key, ContextOut);
    InfFile* file = nullptr;
    if (!lineOf(ContextIn, &file))
        return call.returns(FALSE);
    if (!ContextOut)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    INFCONTEXT in = *ContextIn;
    return call.returns(findFrom(*file, in.CurrentInf, in.Section, in.Line + 1, Key, ContextOut));
}

LONG WINAPI SetupGetLineCountA(HINF InfHandle, PCSTR Section)
{
    ntsim::ApiCall call("SetupGetLineCountA", InfHandle, Section);
    InfFile* file = InfFile::fromHandle(InfHandle);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(-1);
    }
    const inf::Section* section = Section ? file->section(Section) : nullptr;
    if (!section) {
        SetLastError(Section ? ERROR_SECTION_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return call.returns(-1);
    }
    SetLastError(NO_ERROR);
    return call.returns(static_cast<LONG>(section->lines.size()));
}

DWORD WINAPI SetupGetFieldCount(PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupGetFieldCount", Context);
    const inf::Line* line = lineOf(Context);
    if (!line)
        return call.returns(0);
    SetLastError(NO_ERROR);
    return call.returns(static_cast<DWORD>(line->values.size()));
}

BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetStringFieldA", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(Context, &file);
    if (!line)
        return call.returns(FALSE);
    std::string text;
    if (DWORD error = file->field(*line, FieldIndex, text); error != NO_ERROR)
        return call.returns(failWith(error));
    return call.returns(copyString(text, ReturnBuffer, ReturnBufferSize, RequiredSize));
}

BOOL WINAPI SetupGetIntField(PINFCONTEXT Context, DWORD FieldIndex, PINT IntegerValue)
{
    ntsim::ApiCall call("SetupGetIntField", Context, FieldIndex, IntegerValue);
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(Context, &file);
    if (!line)
        return call.returns(FALSE);
    if (!IntegerValue)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    std::string text;
    if (DWORD error = file->field(*line, FieldIndex, text); error != NO_ERROR)
        return call.returns(failWith(error));
    INT value = 0;
    if (!parseInt(text, value))
        return call.returns(failWith(ERROR_INVALID_DATA));
    *IntegerValue = value;
    SetLastError(NO_ERROR);
    return call.returns(TRUE);
}

BOOL WINAPI SetupGetMultiSzFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
    LPDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetMultiSzFieldA", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(Context, &file);
    if (!line)
        return call.returns(FALSE);
    if (FieldIndex == 0 || FieldIndex > line->values.size())
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    std::vector<std::string> fields;
    if (DWORD error = fieldsFrom(*file, *line, FieldIndex, fields); error != NO_ERROR)
        return call.returns(failWith(error));
    // Each string with its NUL, then the list's own NUL; copyString adds it.
    std::string list;
    for (auto& text : fields) {
        list += text;
        list += '\0';
    }
    return call.returns(copyString(list, ReturnBuffer, ReturnBufferSize, RequiredSize));
}

BOOL WINAPI SetupGetLineTextA(PINFCONTEXT Context, HINF InfHandle, PCSTR Section, PCSTR Key, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetLineTextA", Context, InfHandle, Section, Key, ReturnBuffer, ReturnBufferSize, RequiredSize);
    INFCONTEXT found;
    if (!Context) {
        if (!SetupFindFirstLineA(InfHandle, Section, Key, &found))
            return call.returns(FALSE);
        Context = &found;
    }
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(Context, &file);
    if (!line)
        return call.returns(FALSE);
    std::vector<std::string> fields;
    if (DWORD error = fieldsFrom(*file, *line, 1, fields); error != NO_ERROR)
        return call.returns(failWith(error));
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += ',';
        text += fields[i];
    }
    return call.returns(copyString(text, ReturnBuffer, ReturnBufferSize, RequiredSize));
}
