// An INF's source and target layout and the calls that report it:
// SetupGetSourceInfo, SetupGetSourceFileLocation, SetupGetTargetPath,
// SetupSetDirectoryId; and SetupGetFileCompressionInfo, which looks at a
// source file itself.
#include "InfLayout.h"

#include "machine/ApiCall.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <cstdio>
#include <cstring>

namespace ntsim::setupapi {

const inf::Line* platformLine(const InfFile& file, const std::string& section, std::string_view key)
{
    for (const std::string& name : { section + ".x86", section }) {
        const inf::Section* found = file.section(name);
        if (!found)
            continue;
        if (const inf::Line* line = file.lineWithKey(*found, key))
            return line;
    }
    return nullptr;
}

bool sourceDisk(const InfFile& file, std::string_view id, SourceDisk& out)
{
    const inf::Line* line = platformLine(file, "SourceDisksNames", id);
    if (!line)
        return false;
    std::vector<std::string> f = file.values(*line);
    out.description = f.size() > 0 ? f[0] : std::string();
    out.tagFile = f.size() > 1 ? f[1] : std::string();
    out.path = f.size() > 3 ? f[3] : std::string();
    return true;
}

bool sourceFile(const InfFile& file, std::string_view name, SourceFile& out)
{
    const inf::Line* line = platformLine(file, "SourceDisksFiles", name);
    if (!line)
        return false;
    std::vector<std::string> f = file.values(*line);
    out.diskId = f.size() > 0 ? f[0] : std::string();
    out.subdirectory = f.size() > 1 ? f[1] : std::string();
    return true;
}

DWORD targetDirectory(const InfFile& file, const std::string* listName, const std::string& sourceRoot,
    std::string& out)
{
    const inf::Line* line = listName ? platformLine(file, "DestinationDirs", *listName) : nullptr;
    if (!line)
        line = platformLine(file, "DestinationDirs", "DefaultDestDir");
    if (!line) {
        out = file.dirIdPath(DIRID_DEFAULT, sourceRoot);
        return NO_ERROR;
    }
    std::vector<std::string> f = file.values(*line);
    INT id = 0;
    if (f.empty() || f[0].empty() || !readInt(f[0], id))
        return ERROR_INVALID_DATA;
    std::string sub = f.size() > 1 ? f[1] : std::string();
    if (id == DIRID_ABSOLUTE || id == DIRID_ABSOLUTE_16BIT) {
        out = fullNtPath(sub, "C:\\");
    } else {
        std::string base = file.dirIdPath(id, sourceRoot);
        out = base.empty() ? std::string() : fullNtPath(joinNtPath(base, sub), "C:\\");
    }
    return out.empty() ? ERROR_INVALID_DATA : NO_ERROR;
}

}

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

DWORD sourceInfo(HINF handle, UINT id, UINT desired, const TextBuffer& buffer, PDWORD required)
{
    const InfFile* file = InfFile::fromHandle(handle);
    if (!file)
        return ERROR_INVALID_HANDLE;
    if (desired < SRCINFO_PATH || desired > SRCINFO_DESCRIPTION)
        return ERROR_INVALID_PARAMETER;
    SourceDisk disk;
    if (!sourceDisk(*file, std::to_string(id), disk))
        return ERROR_LINE_NOT_FOUND;
    const std::string& text = desired == SRCINFO_PATH ? disk.path : desired == SRCINFO_TAGFILE ? disk.tagFile
                                                                                               : disk.description;
    return copyText(text, buffer, required);
}

// The source name a line of a file list copies from: its second field, or
// the first when the line names no other.
std::string listedSource(const InfFile& file, const inf::Line& line)
{
    std::string name;
    if (file.field(line, 2, name) != NO_ERROR || name.empty())
        file.field(line, 1, name);
    return name;
}

DWORD sourceFileLocation(HINF handle, const INFCONTEXT* context, const std::string* name, PUINT sourceId,
    const TextBuffer& buffer, PDWORD required)
{
    const InfFile* file = InfFile::fromHandle(handle);
    if (!file)
        return ERROR_INVALID_HANDLE;
    std::string fileName;
    if (context) {
        InfFile* contextFile = nullptr;
        const inf::Line* line = lineOf(context, &contextFile);
        if (!line)
            return GetLastError();
        fileName = listedSource(*contextFile, *line);
    } else if (name) {
        fileName = *name;
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    if (!sourceId)
        return ERROR_INVALID_PARAMETER;
    SourceFile source;
    if (!sourceFile(*file, fileName, source))
        return ERROR_LINE_NOT_FOUND;
    char* end = nullptr;
    unsigned long id = std::strtoul(source.diskId.c_str(), &end, 10);
    if (source.diskId.empty() || *end != 0)
        return ERROR_INVALID_DATA;
    *sourceId = static_cast<UINT>(id);
    return copyText(source.subdirectory, buffer, required);
}

DWORD targetPath(HINF handle, const INFCONTEXT* context, const std::string* section, const TextBuffer& buffer,
    PDWORD required)
{
    const InfFile* file = InfFile::fromHandle(handle);
    if (!file)
        return ERROR_INVALID_HANDLE;
    std::string listName;
    const std::string* list = section;
    if (context) {
        InfFile* contextFile = nullptr;
        if (!lineOf(context, &contextFile))
            return GetLastError();
        listName = contextFile->document().sections[context->Section].name;
        list = &listName;
    }
    std::string dir;
    if (DWORD error = targetDirectory(*file, list, file->directory(), dir); error != NO_ERROR)
        return error;
    return copyText(dir, buffer, required);
}

DWORD setDirectoryId(HINF handle, DWORD id, const std::string* directory)
{
    InfFile* file = InfFile::fromHandle(handle);
    if (!file)
        return ERROR_INVALID_HANDLE;
    // Id 0 forgets every id the caller gave.
    if (id == 0) {
        file->clearUserDirectories();
        return NO_ERROR;
    }
    if (id < DIRID_USER)
        return ERROR_INVALID_PARAMETER;
    if (!directory) {
        file->setUserDirectory(id, std::nullopt);
        return NO_ERROR;
    }
    std::string full = fullNtPath(*directory, currentProcess().currentDirectory);
    if (full.empty())
        return ERROR_INVALID_PARAMETER;
    file->setUserDirectory(id, full);
    return NO_ERROR;
}

// The name a compressed copy of a file goes by: the last letter of its
// extension made '_' ("MODEM.SY_"), or "_" added to a shorter one.
std::string compressedName(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('\\');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + "._";
    if (path.size() - dot - 1 < 3)
        return path + "_";
    std::string out = path;
    out.back() = '_';
    return out;
}

uint32_t readDword(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Compression {
    UINT type { FILE_COMPRESSION_NONE };
    DWORD sourceSize { 0 };
    DWORD targetSize { 0 };
};

// What a file's first bytes say of its compression: an LZ file ("SZDD")
// gives its expanded size in its header, a cabinet ("MSCF") that of its
// first file.
Compression compressionOf(const std::string& ntPath)
{
    Compression out;
    std::string host = Machine::current().hostPath(ntPath);
    FILE* f = fopen(host.c_str(), "rb");
    if (!f)
        return out;
    unsigned char header[64] = {};
    size_t n = fread(header, 1, sizeof header, f);
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    out.sourceSize = size > 0 ? static_cast<DWORD>(size) : 0;
    out.targetSize = out.sourceSize;
    if (n >= 14 && std::memcmp(header, "SZDD\x88\xF0\x27\x33", 8) == 0) {
        out.type = FILE_COMPRESSION_WINLZA;
        out.targetSize = readDword(header + 10);
    } else if (n >= 36 && std::memcmp(header, "MSCF", 4) == 0) {
        out.type = FILE_COMPRESSION_MSZIP;
        unsigned char file[4] = {};
        if (fseek(f, static_cast<long>(readDword(header + 16)), SEEK_SET) == 0 && fread(file, 1, 4, f) == 4)
            out.targetSize = readDword(file);
    }
    fclose(f);
    return out;
}

// The result's name is LocalAlloc'ed in the caller's form, for LocalFree.
template<typename Char>
DWORD fileCompressionInfo(const Char* sourceFileName, Char** actual, PDWORD sourceSize, PDWORD targetSize,
    PUINT type)
{
    if (!sourceFileName || !actual || !sourceSize || !targetSize || !type)
        return ERROR_INVALID_PARAMETER;
    std::string path = fullNtPath(argument(sourceFileName), currentProcess().currentDirectory);
    if (path.empty())
        return ERROR_INVALID_PARAMETER;
    if (!isFileOnMachine(path)) {
        path = compressedName(path);
        if (!isFileOnMachine(path))
            return ERROR_FILE_NOT_FOUND;
    }
    Compression compression = compressionOf(path);
    std::basic_string<Char> name;
    if constexpr (sizeof(Char) == 1)
        name = toAnsi(path);
    else
        name = toWide(path);
    auto* copy = static_cast<Char*>(LocalAlloc(LMEM_FIXED, (name.size() + 1) * sizeof(Char)));
    if (!copy)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(copy, name.c_str(), (name.size() + 1) * sizeof(Char));
    *actual = copy;
    *sourceSize = compression.sourceSize;
    *targetSize = compression.targetSize;
    *type = compression.type;
    return NO_ERROR;
}

}

BOOL WINAPI SetupGetSourceInfoA(HINF InfHandle, UINT SourceId, UINT InfoDesired, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetSourceInfoA", InfHandle, SourceId, InfoDesired, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(sourceInfo(InfHandle, SourceId, InfoDesired, TextBuffer::ansi(ReturnBuffer, ReturnBufferSize),
        RequiredSize)));
}

BOOL WINAPI SetupGetSourceInfoW(HINF InfHandle, UINT SourceId, UINT InfoDesired, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetSourceInfoW", InfHandle, SourceId, InfoDesired, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(sourceInfo(InfHandle, SourceId, InfoDesired, TextBuffer::wide(ReturnBuffer, ReturnBufferSize),
        RequiredSize)));
}

BOOL WINAPI SetupGetSourceFileLocationA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR FileName, PUINT SourceId,
    PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetSourceFileLocationA", InfHandle, InfContext, FileName, SourceId, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string name;
    return call.returns(finish(sourceFileLocation(InfHandle, InfContext, optionalArgument(FileName, name), SourceId,
        TextBuffer::ansi(ReturnBuffer, ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupGetSourceFileLocationW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR FileName, PUINT SourceId,
    PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetSourceFileLocationW", InfHandle, InfContext, FileName, SourceId, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string name;
    return call.returns(finish(sourceFileLocation(InfHandle, InfContext, optionalArgument(FileName, name), SourceId,
        TextBuffer::wide(ReturnBuffer, ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupGetTargetPathA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR Section, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetTargetPathA", InfHandle, InfContext, Section, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section;
    return call.returns(finish(targetPath(InfHandle, InfContext, optionalArgument(Section, section),
        TextBuffer::ansi(ReturnBuffer, ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupGetTargetPathW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR Section, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetTargetPathW", InfHandle, InfContext, Section, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section;
    return call.returns(finish(targetPath(InfHandle, InfContext, optionalArgument(Section, section),
        TextBuffer::wide(ReturnBuffer, ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupSetDirectoryIdA(HINF InfHandle, DWORD Id, PCSTR Directory)
{
    ntsim::ApiCall call("SetupSetDirectoryIdA", InfHandle, Id, Directory);
    if (call.faulted())
        return call.returns(FALSE);
    std::string directory;
    return call.returns(finish(setDirectoryId(InfHandle, Id, optionalArgument(Directory, directory))));
}

BOOL WINAPI SetupSetDirectoryIdW(HINF InfHandle, DWORD Id, PCWSTR Directory)
{
    ntsim::ApiCall call("SetupSetDirectoryIdW", InfHandle, Id, Directory);
    if (call.faulted())
        return call.returns(FALSE);
    std::string directory;
    return call.returns(finish(setDirectoryId(InfHandle, Id, optionalArgument(Directory, directory))));
}

DWORD WINAPI SetupGetFileCompressionInfoA(PCSTR SourceFileName, PSTR* ActualSourceFileName, PDWORD SourceFileSize,
    PDWORD TargetFileSize, PUINT CompressionType)
{
    ntsim::ApiCall call("SetupGetFileCompressionInfoA", SourceFileName, ActualSourceFileName, SourceFileSize, TargetFileSize, CompressionType);
    if (auto error = call.fault())
        return call.returns(DWORD(*error));
    return call.returns(fileCompressionInfo(SourceFileName, ActualSourceFileName, SourceFileSize, TargetFileSize,
        CompressionType));
}

DWORD WINAPI SetupGetFileCompressionInfoW(PCWSTR SourceFileName, PWSTR* ActualSourceFileName, PDWORD SourceFileSize,
    PDWORD TargetFileSize, PUINT CompressionType)
{
    ntsim::ApiCall call("SetupGetFileCompressionInfoW", SourceFileName, ActualSourceFileName, SourceFileSize, TargetFileSize, CompressionType);
    if (auto error = call.fault())
        return call.returns(DWORD(*error));
    return call.returns(fileCompressionInfo(SourceFileName, ActualSourceFileName, SourceFileSize, TargetFileSize,
        CompressionType));
}
