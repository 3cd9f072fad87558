#include "InfFile.h"

#include "machine/HandleTable.h"
#include "machine/NtPath.h"

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
    , m_ntPath(std::move(ntPath))
    , m_directory(ntParent(m_ntPath))
    , m_style(style)
{
}

bool InfFile::resolve(std::string_view raw, std::string& out) const
{
    return inf::substitute(raw, m_document, [this](std::string_view name) -> std::optional<std::string> {
        auto id = dirIdNumber(name);
        if (!id)
            return std::nullopt;
        std::string path = dirIdPath(*id, m_directory);
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
    if (index == 0)
        raw = line.hasKey ? &line.key : &line.values.front();
    else if (index <= line.values.size())
        raw = &line.values[index - 1];
    if (!raw)
        return ERROR_INVALID_PARAMETER;
    if (!resolve(*raw, out))
        return ERROR_INVALID_DATA;
    return NO_ERROR;
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
    return resolve(*raw, text) && inf::equalsFolded(text, key);
}

const inf::Line* InfFile::lineWithKey(const inf::Section& section, std::string_view key) const
{
    auto [index, made] = m_keyIndex.try_emplace(&section);
    if (made) {
        for (auto& line : section.lines) {
            std::string resolved;
            if (line.hasKey && resolve(line.key, resolved))
                index->second.emplace(inf::foldCase(resolved), &line);
        }
    }
    auto it = index->second.find(inf::foldCase(key));
    return it == index->second.end() ? nullptr : it->second;
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
        return "C:\\";
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

BOOL failWith(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL copyString(const std::string& text, PSTR buffer, DWORD size, PDWORD requiredSize)
{
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (requiredSize)
        *requiredSize = needed;
    if (!buffer) {
        if (size != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        SetLastError(NO_ERROR);
        return TRUE;
    }
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    SetLastError(NO_ERROR);
    return TRUE;
}

const inf::Line* lineOf(PINFCONTEXT context, InfFile** fileOut)
{
    if (!context) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    InfFile* file = InfFile::fromHandle(context->CurrentInf);
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

}
