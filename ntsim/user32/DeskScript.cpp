#include "DeskScript.h"

#include "../machine/FileLock.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace ntsim::desk {

namespace {

// Without a cursor file the process keeps its own place.
unsigned s_processCursor = 0;

std::string trimmed(const std::string& line)
{
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(line[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1])))
        --end;
    return line.substr(begin, end - begin);
}

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}

Script::Script(std::string scriptPath, std::string cursorPath)
    : m_scriptPath(std::move(scriptPath))
    , m_cursorPath(std::move(cursorPath))
{
}

unsigned Script::readCursor() const
{
    if (m_cursorPath.empty())
        return s_processCursor;
    std::string text;
    if (!readWholeFile(m_cursorPath, text))
        return 0;
    return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
}

void Script::writeCursor(unsigned line) const
{
    if (m_cursorPath.empty()) {
        s_processCursor = line;
        return;
    }
    writeFileAtomically(m_cursorPath, std::to_string(line) + "\n");
}

std::optional<std::string> Script::take()
{
    // The cursor counts the script's lines already read; the lock keeps two
    // processes of the run from taking the same answer.
    std::optional<FileLock> lock;
    if (!m_cursorPath.empty())
        lock.emplace(m_cursorPath + ".lock", FileLock::Mode::Exclusive);

    std::string text;
    if (!readWholeFile(m_scriptPath, text))
        return std::nullopt;
    std::istringstream in(text);
    std::string line;
    unsigned cursor = readCursor();
    unsigned number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number <= cursor)
            continue;
        std::string answer = trimmed(line);
        if (answer.empty() || answer[0] == '#')
            continue;
        writeCursor(number);
        return lowered(answer);
    }
    writeCursor(number);
    return std::nullopt;
}

}
