// SetupOpenInfFile, SetupOpenAppendInfFile and SetupCloseInfFile: finding,
// reading and decoding an INF of the machine.
#include "DeviceRegistry.h"
#include "InfFile.h"
#include "SetupCalls.h"

#include "machine/ApiCall.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <sys/stat.h>

namespace ntsim::setupapi {

namespace {

enum class HostKind { Missing, File, Directory };

HostKind hostKind(const std::string& hostPath)
{
    struct stat st;
    if (hostPath.empty() || stat(hostPath.c_str(), &st) != 0)
        return HostKind::Missing;
    return S_ISDIR(st.st_mode) ? HostKind::Directory : HostKind::File;
}

bool isBareName(const std::string& name)
{
    return name.find_first_of("\\/:") == std::string::npos;
}

// The NT path of the file to open, or an error code.
DWORD locate(const std::string& name, std::string& ntPath)
{
    Machine& machine = Machine::current();
    if (isBareName(name)) {
        // A bare name is looked for in the INF directory, then in system32.
        for (const char* dir : { "C:\\WINNT\\INF", "C:\\WINNT\\system32" }) {
            std::string candidate = ntJoin(dir, name);
            if (hostKind(machine.hostPath(candidate)) == HostKind::File) {
                ntPath = candidate;
                return NO_ERROR;
            }
        }
        return ERROR_FILE_NOT_FOUND;
    }
    std::string full = fullNtPath(name, currentProcess().currentDirectory);
    if (full.empty())
        return ERROR_PATH_NOT_FOUND;
    switch (hostKind(machine.hostPath(full))) {
    case HostKind::File:
        ntPath = full;
        return NO_ERROR;
    case HostKind::Directory:
        return ERROR_ACCESS_DENIED;
    case HostKind::Missing:
        break;
    }
    return hostKind(machine.hostPath(ntParent(full))) == HostKind::Directory ? ERROR_FILE_NOT_FOUND
                                                                             : ERROR_PATH_NOT_FOUND;
}

// A file's bytes as the parser's UTF-8: UTF-16 with its byte order mark,
// UTF-8 with its mark, else the machine's ANSI code page.
std::string decode(const std::string& bytes)
{
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    bool little = bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE;
    bool big = bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF;
    if (!little && !big) {
        if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
            return bytes;
        return fromAnsi(bytes);
    }
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide += static_cast<char16_t>(little ? at(i) | (at(i + 1) << 8) : at(i + 1) | (at(i) << 8));
    return fromWide(wide);
}

DWORD parseErrorCode(inf::ParseError error)
{
    switch (error) {
    case inf::ParseError::BadSectionNameLine:
        return ERROR_BAD_SECTION_NAME_LINE;
    case inf::ParseError::SectionNameTooLong:
        return ERROR_SECTION_NAME_TOO_LONG;
    default:
        return ERROR_GENERAL_SYNTAX;
    }
}

// A Windows INF signs its [Version]; a legacy NT setup INF names its option
// type in [Identification]. Anything else has no style NT recognises.
DWORD styleOf(const InfFile& file)
{
    std::string signature = versionValue(file, "Signature");
    for (const char* win4 : { "$Chicago$", "$Windows NT$", "$Windows 95$" })
        if (inf::equalsFolded(signature, win4))
            return INF_STYLE_WIN4;
    if (const inf::Section* identification = file.section("Identification"))
        if (file.lineWithKey(*identification, "OptionType"))
            return INF_STYLE_OLDNT;
    return INF_STYLE_NONE;
}

// The class an INF declares: Class, else the name of the class its
// ClassGUID names on this machine.
std::string classOf(const InfFile& file)
{
    std::string name = versionValue(file, "Class");
    if (!name.empty())
        return name;
    GUID guid;
    if (devreg::parseGuid(versionValue(file, "ClassGUID"), guid))
        if (auto entry = devreg::findClass(guid))
            return fromAnsi(entry->name);
    return {};
}

HINF failOpen(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

DWORD readInf(const std::string& ntPath, PUINT errorLine, std::unique_ptr<InfFile>& out)
{
    std::string bytes;
    if (!readWholeFile(Machine::current().hostPath(ntPath), bytes))
        return ERROR_ACCESS_DENIED;
    // NT maps the file to read it, and an empty file cannot be mapped
    // (measured under Wine, whose INF loader does the same).
    if (bytes.empty())
        return ERROR_FILE_INVALID;
    inf::Document document;
    inf::ParseResult result = inf::parse(decode(bytes), document);
    if (result.error != inf::ParseError::None) {
        if (errorLine)
            *errorLine = result.errorLine;
        return parseErrorCode(result.error);
    }
    out = std::make_unique<InfFile>(std::move(document), ntPath, INF_STYLE_NONE);
    return NO_ERROR;
}

}

std::string versionValue(const InfFile& file, const char* key, unsigned part)
{
    const inf::Section* version = file.section("Version");
    if (!version)
        return {};
    for (auto& line : version->lines) {
        if (line.part == part && line.hasKey && file.keyMatches(line, key)) {
            std::string value;
            file.field(line, 1, value);
            return value;
        }
    }
    return {};
}

DWORD loadInfFile(const std::string& name, PCSTR infClass, DWORD style, PUINT errorLine,
    std::unique_ptr<InfFile>& out)
{
    std::string ntPath;
    if (DWORD error = locate(name, ntPath); error != NO_ERROR)
        return error;
    std::unique_ptr<InfFile> file;
    if (DWORD error = readInf(ntPath, errorLine, file); error != NO_ERROR)
        return error;
    DWORD fileStyle = styleOf(*file);
    if (!(fileStyle & style))
        return ERROR_WRONG_INF_STYLE;
    if (infClass && !inf::equalsFolded(classOf(*file), infClass))
        return ERROR_CLASS_MISMATCH;
    file->setStyle(fileStyle);
    out = std::move(file);
    return NO_ERROR;
}

HINF openInfFile(const std::string& fileName, const std::string* infClass, DWORD style, PUINT errorLine)
{
    if (errorLine)
        *errorLine = 0;
    if (fileName.empty() || !(style & (INF_STYLE_OLDNT | INF_STYLE_WIN4)))
        return failOpen(ERROR_INVALID_PARAMETER);
    std::unique_ptr<InfFile> file;
    if (DWORD error = loadInfFile(fileName, infClass ? infClass->c_str() : nullptr, style, errorLine, file);
        error != NO_ERROR)
        return failOpen(error);
    HINF handle = InfFile::add(std::move(file));
    SetLastError(NO_ERROR);
    return handle;
}

BOOL openAppendInfFile(const std::string* fileName, HINF handle, PUINT errorLine)
{
    if (errorLine)
        *errorLine = 0;
    InfFile* head = InfFile::fromHandle(handle);
    if (!head)
        return failWith(ERROR_INVALID_HANDLE);
    std::vector<std::string> names;
    if (fileName) {
        names.push_back(*fileName);
    } else {
        // No name appends the layout files the INF's [Version] names.
        const inf::Section* version = head->section("Version");
        const inf::Line* layout = version ? head->lineWithKey(*version, "LayoutFile") : nullptr;
        if (!layout)
            return failWith(ERROR_LINE_NOT_FOUND);
        for (DWORD i = 1; i <= layout->values.size(); ++i) {
            std::string name;
            if (head->field(*layout, i, name) == NO_ERROR && !name.empty())
                names.push_back(name);
        }
    }
    for (auto& name : names) {
        if (name.empty())
            return failWith(ERROR_INVALID_PARAMETER);
        std::unique_ptr<InfFile> file;
        if (DWORD error = loadInfFile(name, nullptr, head->style(), errorLine, file); error != NO_ERROR)
            return failWith(error);
        head->append(std::move(file));
    }
    return finish(NO_ERROR);
}

}

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

template<typename Char>
HINF openInfFileFrom(const Char* FileName, const Char* InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    std::string infClass = argument(InfClass);
    return setupapi::openInfFile(argument(FileName), InfClass ? &infClass : nullptr, InfStyle, ErrorLine);
}

template<typename Char>
BOOL openAppendFrom(const Char* FileName, HINF InfHandle, PUINT ErrorLine)
{
    std::string name = argument(FileName);
    return setupapi::openAppendInfFile(FileName ? &name : nullptr, InfHandle, ErrorLine);
}

}

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    ntsim::ApiCall call("SetupOpenInfFileA", FileName, InfClass, InfStyle, ErrorLine);
    if (ErrorLine)
        *ErrorLine = 0;
    if (auto error = call.fault())
        return call.returns(failOpen(*error));
    return call.returns(openInfFileFrom(FileName, InfClass, InfStyle, ErrorLine));
}

HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    ntsim::ApiCall call("SetupOpenInfFileW", FileName, InfClass, InfStyle, ErrorLine);
    if (ErrorLine)
        *ErrorLine = 0;
    if (auto error = call.fault())
        return call.returns(failOpen(*error));
    return call.returns(openInfFileFrom(FileName, InfClass, InfStyle, ErrorLine));
}

BOOL WINAPI SetupOpenAppendInfFileA(PCSTR FileName, HINF InfHandle, PUINT ErrorLine)
{
    ntsim::ApiCall call("SetupOpenAppendInfFileA", FileName, InfHandle, ErrorLine);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(openAppendFrom(FileName, InfHandle, ErrorLine));
}

BOOL WINAPI SetupOpenAppendInfFileW(PCWSTR FileName, HINF InfHandle, PUINT ErrorLine)
{
    ntsim::ApiCall call("SetupOpenAppendInfFileW", FileName, InfHandle, ErrorLine);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(openAppendFrom(FileName, InfHandle, ErrorLine));
}

void WINAPI SetupCloseInfFile(HINF InfHandle)
{
    ntsim::ApiCall call("SetupCloseInfFile", InfHandle);
    InfFile::close(InfHandle);
}
