// SetupOpenInfFileA and SetupCloseInfFile: finding, reading and decoding
// an INF of the machine.
#include "InfFile.h"
#include "SetupCalls.h"

#include "kernel32/CodePage.h"
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

// UTF-16 files (with their byte order mark) become ANSI text.
std::string decode(const std::string& bytes)
{
    bool little = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
        && static_cast<unsigned char>(bytes[1]) == 0xFE;
    bool big = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE
        && static_cast<unsigned char>(bytes[1]) == 0xFF;
    if (!little && !big)
        return bytes;
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
        auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
        wide += static_cast<char16_t>(lo | (hi << 8));
    }
    std::string text;
    fromUtf16(wide, ansiCodePage(), text);
    return text;
}

DWORD parseErrorCode(inf::ParseError error)
{
    switch (error) {
    case inf::ParseError::ExpectedSectionName:
        return ERROR_EXPECTED_SECTION_NAME;
    case inf::ParseError::BadSectionNameLine:
        return ERROR_BAD_SECTION_NAME_LINE;
    case inf::ParseError::SectionNameTooLong:
        return ERROR_SECTION_NAME_TOO_LONG;
    default:
        return ERROR_GENERAL_SYNTAX;
    }
}

DWORD styleOf(const InfFile& file)
{
    std::string signature = versionValue(file, "Signature");
    for (const char* win4 : { "$Chicago$", "$Windows NT$", "$Windows 95$" })
        if (inf::equalsFolded(signature, win4))
            return INF_STYLE_WIN4;
    return INF_STYLE_OLDNT;
}

HINF fail(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}

std::string versionValue(const InfFile& file, const char* key)
{
    const inf::Section* version = file.section("Version");
    if (!version)
        return {};
    for (auto& line : version->lines) {
        if (line.hasKey && !line.values.empty() && file.keyMatches(line, key)) {
            std::string value;
            file.field(line, 1, value);
            return value;
        }
    }
    return {};
}

DWORD loadInfFile(const std::string& name, PCSTR infClass, DWORD style, PUINT errorLine, std::unique_ptr<InfFile>& out)
{
    std::string ntPath;
    if (DWORD error = locate(name, ntPath); error != NO_ERROR)
        return error;
    std::string bytes;
    if (!readWholeFile(Machine::current().hostPath(ntPath), bytes))
        return ERROR_ACCESS_DENIED;

    inf::Document document;
    inf::ParseResult result = inf::parse(decode(bytes), document);
    if (result.error != inf::ParseError::None) {
        if (errorLine)
            *errorLine = result.errorLine;
        return parseErrorCode(result.error);
    }
    auto file = std::make_unique<InfFile>(std::move(document), ntPath, INF_STYLE_NONE);
    DWORD fileStyle = styleOf(*file);
    if (!(fileStyle & style))
        return ERROR_WRONG_INF_STYLE;
    if (infClass && !inf::equalsFolded(versionValue(*file, "Class"), infClass))
        return ERROR_CLASS_MISMATCH;
    file->setStyle(fileStyle);
    out = std::move(file);
    return NO_ERROR;
}

}

using namespace ntsim;
using namespace ntsim::setupapi;

HINF setupapi::openInfFile(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    if (ErrorLine)
        *ErrorLine = 0;
    if (!FileName || !*FileName || !(InfStyle & (INF_STYLE_OLDNT | INF_STYLE_WIN4)))
        return fail(ERROR_INVALID_PARAMETER);

    std::unique_ptr<InfFile> file;
    if (DWORD error = loadInfFile(FileName, InfClass, InfStyle, ErrorLine, file); error != NO_ERROR)
        return fail(error);
    HINF handle = InfFile::add(std::move(file));
    SetLastError(NO_ERROR);
    return handle;
}

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    ntsim::ApiCall call("SetupOpenInfFileA", FileName, InfClass, InfStyle, ErrorLine);
    if (ErrorLine)
        *ErrorLine = 0;
    if (auto error = call.fault())
        return call.returns(fail(*error));
    return call.returns(setupapi::openInfFile(FileName, InfClass, InfStyle, ErrorLine));
}

void WINAPI SetupCloseInfFile(HINF InfHandle)
{
    ntsim::ApiCall call("SetupCloseInfFile", InfHandle);
    InfFile::close(InfHandle);
}
