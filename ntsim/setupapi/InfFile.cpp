#include "InfFile.h"

#include "machine/HandleTable.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Trace.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace ntsim::setupapi {

namespace {

std::mutex& tableLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_map<HINF, std::unique_ptr<InfFile>>& table()
{
    static std::unordered_map<HINF, std::unique_ptr<InfFile>> files;
    return files;
}

HandleCount& openInfs()
{
    static auto* count = new HandleCount("INF handles");
    return *count;
}

// For the trace: an INF handle and the file it opened first.
const unsigned infDescriber = registerHandleDescriber([](uintptr_t value) -> std::optional<Json> {
    std::lock_guard<std::mutex> guard(tableLock());
    auto it = table().find(reinterpret_cast<HINF>(value));
    if (it == table().end())
        return std::nullopt;
    return Json { { "kind", "INF" }, { "name", bytesJson(it->second->ntPath()) } };
});

std::optional<long> dirIdNumber(std::string_view text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9')
            return std::nullopt;
    return std::strtol(std::string(text).c_str(), nullptr, 10);
}

}

InfFile::InfFile(inf::Document document, std::string ntPath, DWORD style)
    : m_document(std::move(document))
{
    std::string directory = ntParent(ntPath);
    m_parts.push_back(std::make_unique<Part>(Part { std::move(ntPath), std::move(directory), style }));
}

PVOID InfFile::partIdentity(unsigned part) const
{
    if (part == 0)
        return const_cast<InfFile*>(this);
    return m_parts[part].get();
}

void InfFile::append(std::unique_ptr<InfFile> other)
{
    m_document.append(std::move(other->m_document));
    m_parts.push_back(std::move(other->m_parts.front()));
    // Sections may have moved.
    m_keyIndex.clear();
}

bool InfFile::resolve(const inf::Line& line, std::string_view raw, std::string& out) const
{
    if (raw.find('%') == std::string_view::npos) {
        if (raw.size() > inf::MaxStringLength)
            return false;
        out.assign(raw);
        return true;
    }
    const std::string& directory = this->directory(line.part);
    return inf::substitute(raw, m_document, line.part, [&](std::string_view name) -> std::optional<std::string> {
        auto id = dirIdNumber(name);
        if (!id)
            return std::nullopt;
        std::string path = dirIdPath(*id, directory);
        if (path.empty())
            return std::nullopt;
        // Written as %24%\dir, so the root goes without its backslash.
        if (path.size() == 3 && path[1] == ':')
            path.pop_back();
        return path;
    }, out);
}

DWORD InfFile::field(const inf::Line& line, DWORD index, std::string& out) const
{
    const std::string* raw = nullptr;
    if (index == 0) {
        if (line.hasKey)
            raw = &line.key;
        else if (line.values.size() == 1)
            raw = &line.values.front();
    } else if (index <= line.values.size()) {
        raw = &line.values[index - 1];
    }
    if (!raw)
        return ERROR_INVALID_PARAMETER;
    if (!resolve(line, *raw, out))
        return ERROR_INVALID_DATA;
    return NO_ERROR;
}

std::vector<std::string> InfFile::values(const inf::Line& line, DWORD first) const
{
    std::vector<std::string> out;
    for (DWORD i = first; i <= line.values.size(); ++i) {
        std::string text;
        field(line, i, text);
        out.push_back(std::move(text));
    }
    return out;
}

std::vector<std::string> InfFile::directiveValues(const inf::Section& section, std::string_view directive) const
{
    std::vector<std::string> out;
    for (auto& line : section.lines) {
        if (!line.hasKey || !keyMatches(line, directive))
            continue;
        for (auto& value : values(line))
            if (!value.empty())
                out.push_back(std::move(value));
    }
    return out;
}

bool InfFile::keyMatches(const inf::Line& line, std::string_view key) const
{
    const std::string* raw = nullptr;
    if (line.hasKey)
        raw = &line.key;
    else if (line.values.size() == 1)
        raw = &line.values.front();
    if (!raw)
        return false;
    if (raw->find('%') == std::string::npos)
        return inf::equalsFolded(*raw, key);
    std::string text;
    return resolve(line, *raw, text) && inf::equalsFolded(text, key);
}

const inf::Line* InfFile::lineWithKey(const inf::Section& section, std::string_view key) const
{
    auto [index, made] = m_keyIndex.try_emplace(&section);
    if (made) {
        for (auto& line : section.lines) {
            std::string resolved;
            if (line.hasKey && resolve(line, line.key, resolved))
                index->second.emplace(inf::foldCase(resolved), &line);
        }
    }
    auto it = index->second.find(inf::foldCase(key));
    return it == index->second.end() ? nullptr : it->second;
}

void InfFile::setUserDirectory(DWORD id, std::optional<std::string> path)
{
    if (path)
        m_userDirectories[id] = std::move(*path);
    else
        m_userDirectories.erase(id);
}

std::string InfFile::dirIdPath(long id, const std::string& sourcePath) const
{
    auto user = m_userDirectories.find(static_cast<DWORD>(id));
    if (user != m_userDirectories.end())
        return user->second;
    return setupapi::dirIdPath(id, sourcePath);
}

HINF InfFile::add(std::unique_ptr<InfFile> file)
{
    HINF handle = file.get();
    openInfs().opened();
    std::lock_guard<std::mutex> guard(tableLock());
    table().emplace(handle, std::move(file));
    return handle;
}

InfFile* InfFile::fromHandle(HINF handle)
{
    std::lock_guard<std::mutex> guard(tableLock());
    auto it = table().find(handle);
    return it == table().end() ? nullptr : it->second.get();
}

bool InfFile::close(HINF handle)
{
    std::unique_ptr<InfFile> doomed;
    std::lock_guard<std::mutex> guard(tableLock());
    auto it = table().find(handle);
    if (it == table().end())
        return false;
    doomed = std::move(it->second);
    table().erase(it);
    openInfs().closed();
    return true;
}

std::string dirIdPath(long id, const std::string& sourcePath)
{
    switch (id) {
    case DIRID_SRCPATH:
        return sourcePath;
    case DIRID_WINDOWS:
    case DIRID_SHARED:
        return "C:\\WINNT";
    case DIRID_SYSTEM:
        return "C:\\WINNT\\system32";
    case DIRID_DRIVERS:
        return "C:\\WINNT\\system32\\drivers";
    case DIRID_INF:
        return "C:\\WINNT\\INF";
    case DIRID_HELP:
        return "C:\\WINNT\\help";
    case DIRID_FONTS:
        return "C:\\WINNT\\Fonts";
    case DIRID_VIEWERS:
        return "C:\\WINNT\\system32\\viewers";
    case DIRID_COLOR:
        return "C:\\WINNT\\system32\\spool\\drivers\\color";
    case DIRID_APPS:
    case DIRID_BOOT:
    case DIRID_LOADER:
        return "C:\\";
    case DIRID_SYSTEM16:
        return "C:\\WINNT\\system";
    case DIRID_SPOOL:
        return "C:\\WINNT\\system32\\spool";
    case DIRID_SPOOLDRIVERS:
        return "C:\\WINNT\\system32\\spool\\drivers\\w32x86";
    case DIRID_PRINTPROCESSOR:
        return "C:\\WINNT\\system32\\spool\\prtprocs\\w32x86";
    case DIRID_USERPROFILE:
        return "C:\\WINNT\\Profiles\\" + Machine::current().config().user.name;
    default:
        return {};
    }
}

std::string joinNtPath(const std::string& dir, const std::string& sub)
{
    if (sub.empty())
        return dir;
    std::string tail = sub;
    while (!tail.empty() && (tail.front() == '\\' || tail.front() == '/'))
        tail.erase(0, 1);
    if (dir.empty() || dir.back() == '\\')
        return dir + tail;
    return dir + "\\" + tail;
}

// An integer as the platform reads one: a sign, then decimal, or hex after
// 0x; 32 bits, an unsigned value kept as its bits.
bool readInt(const std::string& text, INT& value)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    bool hex = i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
    if (hex)
        i += 2;
    const char* digits = text.c_str() + i;
    if (!*digits || *digits == '+' || *digits == '-' || *digits == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != 0 || n > UINT32_MAX)
        return false;
    if (negative && n > 0x80000000ull)
        return false;
    auto bits = static_cast<uint32_t>(n);
    value = static_cast<INT>(negative ? 0u - bits : bits);
    return true;
}

bool readHexByte(const std::string& text, BYTE& out)
{
    if (text.empty() || text.size() > 4 || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    char* end = nullptr;
    unsigned long n = std::strtoul(text.c_str(), &end, 16);
    if (*end != 0 || n > 0xFF)
        return false;
    out = static_cast<BYTE>(n);
    return true;
}

bool isFileOnMachine(const std::string& ntPath)
{
    struct stat st;
    std::string host = Machine::current().hostPath(ntPath);
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

BOOL failWith(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL finish(DWORD error)
{
    SetLastError(error);
    return error == NO_ERROR;
}

const inf::Line* lineOf(const INFCONTEXT* context, InfFile** fileOut)
{
    if (!context) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    InfFile* file = InfFile::fromHandle(context->Inf);
    if (!file)
        file = InfFile::fromHandle(context->CurrentInf);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto& sections = file->document().sections;
    if (context->Section >= sections.size() || context->Line >= sections[context->Section].lines.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (fileOut)
        *fileOut = file;
    return &sections[context->Section].lines[context->Line];
}

void setContext(const InfFile& file, HINF handle, UINT section, UINT line, PINFCONTEXT context)
{
    context->Inf = handle;
    context->CurrentInf = file.partIdentity(file.document().sections[section].lines[line].part);
    context->Section = section;
    context->Line = line;
}

}
