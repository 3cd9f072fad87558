// SetupGetInfInformation and the calls that read what it returns. The
// version data is this machine's own layout, the same for both forms: for
// each file of the set a DWORD with the size of its block, then in UTF-16
// the file's path, and each [Version] key and value, NUL after each, an
// empty key last.
#include "InfFile.h"

#include "machine/ApiCall.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"
#include "registry/Key.h"

#include <cstring>
#include <vector>

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

constexpr DWORD HeaderSize = offsetof(SP_INF_INFORMATION, VersionData);

void appendText(std::u16string& out, const std::string& utf8)
{
    out += toWide(utf8);
    out += u'\0';
}

std::vector<BYTE> versionData(const InfFile& file)
{
    std::vector<BYTE> out;
    const inf::Section* version = file.section("Version");
    for (unsigned part = 0; part < file.parts(); ++part) {
        std::u16string text;
        appendText(text, file.ntPath(part));
        for (const inf::Line* line = version ? version->lines.data() : nullptr;
             version && line != version->lines.data() + version->lines.size(); ++line) {
            if (line->part != part || !line->hasKey)
                continue;
            std::string key, value;
            file.field(*line, 0, key);
            file.field(*line, 1, value);
            appendText(text, key);
            appendText(text, value);
        }
        text += u'\0';
        auto size = static_cast<DWORD>(sizeof(DWORD) + text.size() * sizeof(char16_t));
        size_t at = out.size();
        out.resize(at + size);
        std::memcpy(out.data() + at, &size, sizeof size);
        std::memcpy(out.data() + at + sizeof size, text.data(), text.size() * sizeof(char16_t));
    }
    return out;
}

// The directories of the DevicePath value, %SystemRoot% expanded.
std::vector<std::string> devicePath()
{
    registry::Key key;
    std::string paths = "%SystemRoot%\\inf";
    if (key.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion") == ERROR_SUCCESS)
        paths = fromAnsi(key.string("DevicePath").value_or(paths));
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= paths.size()) {
        size_t end = paths.find(';', pos);
        if (end == std::string::npos)
            end = paths.size();
        std::string dir = paths.substr(pos, end - pos);
        size_t root = inf::foldCase(dir).find("%SYSTEMROOT%");
        if (root != std::string::npos)
            dir.replace(root, 12, "C:\\WINNT");
        if (!dir.empty())
            out.push_back(dir);
        pos = end + 1;
    }
    return out;
}

// The file a name stands for under a search control, or an error.
DWORD searchInf(const std::string& name, DWORD control, std::string& out)
{
    bool bare = name.find_first_of("\\/:") == std::string::npos;
    std::vector<std::string> dirs;
    switch (control) {
    case INFINFO_INF_NAME_IS_ABSOLUTE:
        break;
    case INFINFO_DEFAULT_SEARCH:
        dirs = { "C:\\WINNT\\INF", "C:\\WINNT\\system32" };
        break;
    case INFINFO_REVERSE_DEFAULT_SEARCH:
        dirs = { "C:\\WINNT\\system32", "C:\\WINNT\\INF" };
        break;
    case INFINFO_INF_PATH_LIST_SEARCH:
        dirs = devicePath();
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    if (!bare || dirs.empty()) {
        out = fullNtPath(name, currentProcess().currentDirectory);
        return out.empty() ? ERROR_INVALID_PARAMETER : NO_ERROR;
    }
    for (auto& dir : dirs) {
        std::string candidate = ntJoin(dir, name);
        if (isFileOnMachine(candidate)) {
            out = candidate;
            return NO_ERROR;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

DWORD infInformation(const void* spec, const std::string& name, DWORD control, PSP_INF_INFORMATION buffer, DWORD size,
    PDWORD required)
{
    if (!spec)
        return ERROR_INVALID_PARAMETER;
    std::unique_ptr<InfFile> opened;
    const InfFile* file = nullptr;
    if (control == INFINFO_INF_SPEC_IS_HINF) {
        file = InfFile::fromHandle(const_cast<void*>(spec));
        if (!file)
            return ERROR_INVALID_HANDLE;
    } else {
        std::string path;
        if (DWORD error = searchInf(name, control, path); error != NO_ERROR)
            return error;
        if (DWORD error = loadInfFile(path, nullptr, INF_STYLE_OLDNT | INF_STYLE_WIN4, nullptr, opened);
            error != NO_ERROR)
            return error;
        file = opened.get();
    }
    std::vector<BYTE> data = versionData(*file);
    auto needed = static_cast<DWORD>(HeaderSize + data.size());
    if (required)
        *required = needed;
    if (!buffer)
        return NO_ERROR;
    if (size < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    buffer->InfStyle = file->style();
    buffer->InfCount = file->parts();
    std::memcpy(buffer->VersionData, data.data(), data.size());
    return NO_ERROR;
}

// The texts of one file's block: its path, then keys and values.
DWORD blockTexts(const SP_INF_INFORMATION* info, UINT index, std::vector<std::string>& out)
{
    if (!info || index >= info->InfCount)
        return ERROR_INVALID_PARAMETER;
    const BYTE* block = info->VersionData;
    for (UINT i = 0; i < index; ++i) {
        DWORD size = 0;
        std::memcpy(&size, block, sizeof size);
        block += size;
    }
    DWORD size = 0;
    std::memcpy(&size, block, sizeof size);
    std::u16string text((size - sizeof(DWORD)) / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), block + sizeof(DWORD), text.size() * sizeof(char16_t));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(u'\0', pos);
        out.push_back(fromWide(text.substr(pos, end - pos)));
        pos = end + 1;
    }
    return NO_ERROR;
}

DWORD infFileInformation(const SP_INF_INFORMATION* info, UINT index, const TextBuffer& buffer, PDWORD required)
{
    std::vector<std::string> texts;
    if (DWORD error = blockTexts(info, index, texts); error != NO_ERROR)
        return error;
    return copyText(texts.front(), buffer, required);
}

DWORD infVersionInformation(const SP_INF_INFORMATION* info, UINT index, const std::string* key,
    const TextBuffer& buffer, PDWORD required)
{
    std::vector<std::string> texts;
    if (DWORD error = blockTexts(info, index, texts); error != NO_ERROR)
        return error;
    // texts: path, then key, value pairs, then the empty key that ends them.
    std::string keys;
    for (size_t i = 1; i + 1 < texts.size(); i += 2) {
        if (!key) {
            keys += texts[i];
            keys += '\0';
        } else if (inf::equalsFolded(texts[i], *key)) {
            return copyText(texts[i + 1], buffer, required);
        }
    }
    if (key)
        return ERROR_INVALID_DATA;
    return copyText(keys, buffer, required);
}

// InfSpec is a handle or a name in the call's form.
template<typename Char>
BOOL infInformationFrom(LPCVOID InfSpec, DWORD SearchControl, PSP_INF_INFORMATION ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    bool isName = InfSpec && SearchControl != INFINFO_INF_SPEC_IS_HINF;
    std::string name = isName ? argument(static_cast<const Char*>(InfSpec)) : std::string();
    return finish(infInformation(InfSpec, name, SearchControl, ReturnBuffer, ReturnBufferSize, RequiredSize));
}

}

BOOL WINAPI SetupGetInfInformationA(LPCVOID InfSpec, DWORD SearchControl, PSP_INF_INFORMATION ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetInfInformationA", InfSpec, SearchControl, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(infInformationFrom<CHAR>(InfSpec, SearchControl, ReturnBuffer, ReturnBufferSize,
        RequiredSize));
}

BOOL WINAPI SetupGetInfInformationW(LPCVOID InfSpec, DWORD SearchControl, PSP_INF_INFORMATION ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupGetInfInformationW", InfSpec, SearchControl, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(infInformationFrom<WCHAR>(InfSpec, SearchControl, ReturnBuffer, ReturnBufferSize,
        RequiredSize));
}

BOOL WINAPI SetupQueryInfFileInformationA(PSP_INF_INFORMATION InfInformation, UINT InfIndex, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupQueryInfFileInformationA", InfInformation, InfIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(infFileInformation(InfInformation, InfIndex, TextBuffer::ansi(ReturnBuffer,
        ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupQueryInfFileInformationW(PSP_INF_INFORMATION InfInformation, UINT InfIndex, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupQueryInfFileInformationW", InfInformation, InfIndex, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(infFileInformation(InfInformation, InfIndex, TextBuffer::wide(ReturnBuffer,
        ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupQueryInfVersionInformationA(PSP_INF_INFORMATION InfInformation, UINT InfIndex, PCSTR Key,
    PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupQueryInfVersionInformationA", InfInformation, InfIndex, Key, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string key;
    return call.returns(finish(infVersionInformation(InfInformation, InfIndex, optionalArgument(Key, key),
        TextBuffer::ansi(ReturnBuffer, ReturnBufferSize), RequiredSize)));
}

BOOL WINAPI SetupQueryInfVersionInformationW(PSP_INF_INFORMATION InfInformation, UINT InfIndex, PCWSTR Key,
    PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupQueryInfVersionInformationW", InfInformation, InfIndex, Key, ReturnBuffer, ReturnBufferSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    std::string key;
    return call.returns(finish(infVersionInformation(InfInformation, InfIndex, optionalArgument(Key, key),
        TextBuffer::wide(ReturnBuffer, ReturnBufferSize), RequiredSize)));
}
