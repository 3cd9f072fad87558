// Built into ntsim and into WINDESK.EXE (MinGW): the standard library only.
#include "Script.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ntsim::desk {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// @"TITLE" or @WORD at pos; "" inside quotes stands for one quote.
bool readTitle(const std::string& line, size_t& pos, std::string& title, std::string& error)
{
    ++pos; // the @
    if (pos < line.size() && line[pos] == '"') {
        for (++pos;; ++pos) {
            if (pos >= line.size()) {
                error = "the window title has no closing quote";
                return false;
            }
            if (line[pos] != '"') {
                title += line[pos];
                continue;
            }
            if (pos + 1 < line.size() && line[pos + 1] == '"') {
                title += '"';
                ++pos;
                continue;
            }
            ++pos;
            break;
        }
    } else {
        while (pos < line.size() && !blank(line[pos]))
            title += line[pos++];
        if (title.empty()) {
            error = "@ must be followed by a window title, e.g. @\"Country Settings\" ok";
            return false;
        }
    }
    if (pos < line.size() && !blank(line[pos])) {
        error = "a blank must follow the window title";
        return false;
    }
    return true;
}

bool parseLine(const std::string& line, unsigned number, std::optional<ScriptLine>& out, std::string& error)
{
    size_t pos = 0;
    while (pos < line.size() && blank(line[pos]))
        ++pos;
    if (pos == line.size() || line[pos] == '#')
        return true;
    ScriptLine parsed;
    parsed.number = number;
    if (line[pos] == '@') {
        std::string title;
        if (!readTitle(line, pos, title, error))
            return false;
        parsed.title = title;
        while (pos < line.size() && blank(line[pos]))
            ++pos;
    }
    size_t end = pos;
    while (end < line.size() && !blank(line[end]))
        ++end;
    parsed.answer = lowered(line.substr(pos, end - pos));
    while (end < line.size() && blank(line[end]))
        ++end;
    if (parsed.answer.empty()) {
        error = "no answer after the window title";
        return false;
    }
    // "select ITEM" chooses a list item, whose text may hold blanks.
    if (parsed.answer == "select" && end != line.size()) {
        size_t last = line.size();
        while (last > end && blank(line[last - 1]))
            --last;
        parsed.answer += " " + lowered(line.substr(end, last - end));
        end = line.size();
    }
    if (end != line.size()) {
        error = "one answer a line, got '" + line.substr(pos) + "'";
        return false;
    }
    out = parsed;
    return true;
}

}

bool parseScript(const std::string& text, std::vector<ScriptLine>& lines, std::string& error)
{
    lines.clear();
    std::istringstream in(text);
    std::string line;
    unsigned number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::optional<ScriptLine> parsed;
        std::string problem;
        if (!parseLine(line, number, parsed, problem)) {
            error = "script line " + std::to_string(number) + ": " + problem;
            return false;
        }
        if (parsed)
            lines.push_back(*parsed);
    }
    return true;
}

bool loadScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the script " + path;
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read the script " + path;
        return false;
    }
    return parseScript(text, lines, error);
}

bool sameTitle(const std::string& a, const std::string& b)
{
    return lowered(a) == lowered(b);
}

}
