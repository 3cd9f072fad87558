// The INF calls that walk sections and read lines and fields. Each A and W
// pair converts its strings and shares one implementation below.
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
DWORD findFrom(const InfFile& file, HINF handle, UINT section, UINT from, const std::string* key, PINFCONTEXT context)
{
    auto& lines = file.document().sections[section].lines;
    for (UINT i = from; i < lines.size(); ++i) {
        if (key && !file.keyMatches(lines[i], *key))
            continue;
        setContext(file, handle, section, i, context);
        return NO_ERROR;
    }
    return ERROR_LINE_NOT_FOUND;
}

DWORD findFirstLine(HINF handle, const std::string* section, const std::string* key, PINFCONTEXT context)
{
    const InfFile* file = InfFile::fromHandle(handle);
    if (!file)
        return ERROR_INVALID_HANDLE;
    if (!section || !context)
        return ERROR_INVALID_PARAMETER;
    // No section has no line either: the platform reports the line.
    const inf::Section* found = file->section(*section);
    if (!found)
        return ERROR_LINE_NOT_FOUND;
    return findFrom(*file, handle, sectionIndex(*file, found), 0, key, context);
}

DWORD findNextMatchLine(const INFCONTEXT* in, const std::string* key, PINFCONTEXT out)
{
    InfFile* file = nullptr;
    if (!lineOf(in, &file))
        return GetLastError();
    if (!out)
        return ERROR_INVALID_PARAMETER;
    // The handle is the file itself, whichever field of the context named it.
    INFCONTEXT from = *in;
    return findFrom(*file, file, from.Section, from.Line + 1, key, out);
}

DWORD lineByIndex(HINF handle, const std::string* section, DWORD index, PINFCONTEXT context)
{
    const InfFile* file = InfFile::fromHandle(handle);
    if (!file)
        return ERROR_INVALID_HANDLE;
    if (!section || !context)
        return ERROR_INVALID_PARAMETER;
    const inf::Section* found = file->section(*section);
    if (!found || index >= found->lines.size())
        return ERROR_LINE_NOT_FOUND;
    setContext(*file, handle, sectionIndex(*file, found), index, context);
    return NO_ERROR;
}

LONG lineCount(HINF handle, const std::string* section)
{
    const InfFile* file = InfFile::fromHandle(handle);
    const inf::Section* found = file && section ? file->section(*section) : nullptr;
    if (!found) {
        SetLastError(!file ? ERROR_INVALID_HANDLE : section ? ERROR_SECTION_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return -1;
    }
    SetLastError(NO_ERROR);
    return static_cast<LONG>(found->lines.size());
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

DWORD lineText(const INFCONTEXT* context, HINF handle, const std::string* section, const std::string* key,
    const TextBuffer& buffer, PDWORD required)
{
    INFCONTEXT found;
    if (!context) {
        if (DWORD error = findFirstLine(handle, section, key, &found); error != NO_ERROR)
            return error;
        context = &found;
    }
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(context, &file);
    if (!line)
        return GetLastError();
    std::vector<std::string> fields;
    if (DWORD error = fieldsFrom(*file, *line, 1, fields); error != NO_ERROR)
        return error;
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += ',';
        text += fields[i];
    }
    return copyText(text, buffer, required);
}

DWORD stringField(const INFCONTEXT* context, DWORD index, const TextBuffer& buffer, PDWORD required)
{
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(context, &file);
    if (!line)
        return GetLastError();
    std::string text;
    if (DWORD error = file->field(*line, index, text); error != NO_ERROR)
        return error;
    return copyText(text, buffer, required);
}

DWORD intField(const INFCONTEXT* context, DWORD index, PINT value)
{
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(context, &file);
    if (!line)
        return GetLastError();
    if (!value)
        return ERROR_INVALID_PARAMETER;
    std::string text;
    if (DWORD error = file->field(*line, index, text); error != NO_ERROR)
        return error;
    // An empty field reads as 0.
    INT n = 0;
    if (!text.empty() && !readInt(text, n))
        return ERROR_INVALID_DATA;
    *value = n;
    return NO_ERROR;
}

DWORD binaryField(const INFCONTEXT* context, DWORD index, PBYTE buffer, DWORD size, PDWORD required)
{
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(context, &file);
    if (!line)
        return GetLastError();
    if (index == 0 || index > line->values.size())
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> fields;
    if (DWORD error = fieldsFrom(*file, *line, index, fields); error != NO_ERROR)
        return error;
    auto needed = static_cast<DWORD>(fields.size());
    if (required)
        *required = needed;
    std::vector<BYTE> bytes(fields.size());
    for (size_t i = 0; i < fields.size(); ++i)
        if (!readHexByte(fields[i], bytes[i]))
            return ERROR_INVALID_DATA;
    if (!buffer)
        return NO_ERROR;
    if (size < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::copy(bytes.begin(), bytes.end(), buffer);
    return NO_ERROR;
}

DWORD multiSzField(const INFCONTEXT* context, DWORD index, const TextBuffer& buffer, PDWORD required)
{
    InfFile* file = nullptr;
    const inf::Line* line = lineOf(context, &file);
    if (!line)
        return GetLastError();
    if (index == 0 || index > line->values.size())
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> fields;
    if (DWORD error = fieldsFrom(*file, *line, index, fields); error != NO_ERROR)
        return error;
    // Each string with its NUL; the list ends at the first empty field,
    // which a list of strings cannot hold.
    std::string list;
    for (auto& text : fields) {
        if (text.empty())
            break;
        list += text;
        list += '\0';
    }
    return copyText(list, buffer, required);
}

template<typename Char>
BOOL findFirstLineFrom(HINF InfHandle, const Char* Section, const Char* Key, PINFCONTEXT Context)
{
    std::string section, key;
    return finish(findFirstLine(InfHandle, optionalArgument(Section, section), optionalArgument(Key, key), Context));
}

template<typename Char>
BOOL findNextMatchLineFrom(PINFCONTEXT ContextIn, const Char* Key, PINFCONTEXT ContextOut)
{
    std::string key;
    return finish(findNextMatchLine(ContextIn, optionalArgument(Key, key), ContextOut));
}

template<typename Char>
BOOL lineByIndexFrom(HINF InfHandle, const Char* Section, DWORD Index, PINFCONTEXT Context)
{
    std::string section;
    return finish(lineByIndex(InfHandle, optionalArgument(Section, section), Index, Context));
}

template<typename Char>
LONG lineCountFrom(HINF InfHandle, const Char* Section)
{
    std::string section;
    return lineCount(InfHandle, optionalArgument(Section, section));
}

template<typename Char>
BOOL lineTextFrom(PINFCONTEXT Context, HINF InfHandle, const Char* Section, const Char* Key, const TextBuffer& buffer,
    PDWORD RequiredSize)
{
    std::string section, key;
    return finish(lineText(Context, InfHandle, optionalArgument(Section, section), optionalArgument(Key, key), buffer, RequiredSize));
}

}

BOOL WINAPI SetupFindFirstLineA(HINF InfHandle, PCSTR Section, PCSTR Key, PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupFindFirstLineA", InfHandle, Section, Key, Context);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(findFirstLineFrom(InfHandle, Section, Key, Context));
}

BOOL WINAPI SetupFindFirstLineW(HINF InfHandle, PCWSTR Section, PCWSTR Key, PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupFindFirstLineW", InfHandle, Section, Key, Context);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(findFirstLineFrom(InfHandle, Section, Key, Context));
}

BOOL WINAPI SetupFindNextLine(PINFCONTEXT ContextIn, PINFCONTEXT ContextOut)
{
    ntsim::ApiCall call("SetupFindNextLine", ContextIn, ContextOut);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(findNextMatchLine(ContextIn, nullptr, ContextOut)));
}

BOOL WINAPI SetupFindNextMatchLineA(PINFCONTEXT ContextIn, PCSTR Key, PINFCONTEXT ContextOut)
{
    ntsim::ApiCall call("SetupFindNextMatchLineA", ContextIn, Key, ContextOut);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(findNextMatchLineFrom(ContextIn, Key, ContextOut));
}

BOOL WINAPI SetupFindNextMatchLineW(PINFCONTEXT ContextIn, PCWSTR Key, PINFCONTEXT ContextOut)
{
    ntsim::ApiCall call("SetupFindNextMatchLineW", ContextIn, Key, ContextOut);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(findNextMatchLineFrom(ContextIn, Key, ContextOut));
}

BOOL WINAPI SetupGetLineByIndexA(HINF InfHandle, PCSTR Section, DWORD Index, PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupGetLineByIndexA", InfHandle, Section, Index, Context);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(lineByIndexFrom(InfHandle, Section, Index, Context));
}

BOOL WINAPI SetupGetLineByIndexW(HINF InfHandle, PCWSTR Section, DWORD Index, PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupGetLineByIndexW", InfHandle, Section, Index, Context);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(lineByIndexFrom(InfHandle, Section, Index, Context));
}

LONG WINAPI SetupGetLineCountA(HINF InfHandle, PCSTR Section)
{
    ntsim::ApiCall call("SetupGetLineCountA", InfHandle, Section);
    if (call.faulted())
        return call.returns(-1);
    return call.returns(lineCountFrom(InfHandle, Section));
}

LONG WINAPI SetupGetLineCountW(HINF InfHandle, PCWSTR Section)
{
    ntsim::ApiCall call("SetupGetLineCountW", InfHandle, Section);
    if (call.faulted())
        return call.returns(-1);
    return call.returns(lineCountFrom(InfHandle, Section));
}

BOOL WINAPI SetupGetLineTextA(PINFCONTEXT Context, HINF InfHandle, PCSTR Section, PCSTR Key, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetLineTextA", Context, InfHandle, Section, Key, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(lineTextFrom(Context, InfHandle, Section, Key, TextBuffer::ansi(ReturnBuffer, ReturnBufferSize),
        RequiredSize));
}

BOOL WINAPI SetupGetLineTextW(PINFCONTEXT Context, HINF InfHandle, PCWSTR Section, PCWSTR Key, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetLineTextW", Context, InfHandle, Section, Key, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(lineTextFrom(Context, InfHandle, Section, Key, TextBuffer::wide(ReturnBuffer, ReturnBufferSize),
        RequiredSize));
}

DWORD WINAPI SetupGetFieldCount(PINFCONTEXT Context)
{
    ntsim::ApiCall call("SetupGetFieldCount", Context);
    if (call.faulted())
        return call.returns(DWORD(0));
    const inf::Line* line = lineOf(Context);
    if (!line)
        return call.returns(DWORD(0));
    SetLastError(NO_ERROR);
    return call.returns(static_cast<DWORD>(line->values.size()));
}

BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetStringFieldA", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(stringField(Context, FieldIndex, TextBuffer::ansi(ReturnBuffer, ReturnBufferSize),
        RequiredSize)));
}

BOOL WINAPI SetupGetStringFieldW(PINFCONTEXT Context, DWORD FieldIndex, PWSTR ReturnBuffer, DWORD ReturnBufferSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetStringFieldW", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(stringField(Context, FieldIndex, TextBuffer::wide(ReturnBuffer, ReturnBufferSize),
        RequiredSize)));
}

BOOL WINAPI SetupGetIntField(PINFCONTEXT Context, DWORD FieldIndex, PINT IntegerValue)
{
    ntsim::ApiCall call("SetupGetIntField", Context, FieldIndex, IntegerValue);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(intField(Context, FieldIndex, IntegerValue)));
}

BOOL WINAPI SetupGetBinaryField(PINFCONTEXT Context, DWORD FieldIndex, PBYTE ReturnBuffer, DWORD ReturnBufferSize,
    LPDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetBinaryField", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(binaryField(Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize)));
}

BOOL WINAPI SetupGetMultiSzFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
    LPDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetMultiSzFieldA", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(multiSzField(Context, FieldIndex, TextBuffer::ansi(ReturnBuffer, ReturnBufferSize),
        RequiredSize)));
}

BOOL WINAPI SetupGetMultiSzFieldW(PINFCONTEXT Context, DWORD FieldIndex, PWSTR ReturnBuffer, DWORD ReturnBufferSize,
    LPDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetMultiSzFieldW", Context, FieldIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(multiSzField(Context, FieldIndex, TextBuffer::wide(ReturnBuffer, ReturnBufferSize),
        RequiredSize)));
}
