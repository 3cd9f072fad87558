// Built into ntsim and into WINDESK.EXE (MinGW): the standard library only.
#include "Script.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
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
    // An editor's UTF-8 byte-order mark before the first line is no answer.
    static const std::string byteOrderMark = "\xEF\xBB\xBF";
    std::istringstream in(text.compare(0, byteOrderMark.size(), byteOrderMark) == 0 ? text.substr(3) : text);
    std::string line;
    unsigned number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::optional<ScriptLine> parsed;
        std::string problem;
        auto control = std::find_if(line.begin(), line.end(), [](char c) {
            auto u = static_cast<unsigned char>(c);
            return (u < 0x20 && c != '\t' && c != '\r') || u == 0x7F;
        });
        if (control != line.end()) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(*control));
            problem = std::string("holds the control character ") + code + (*control ? "" : " (a NUL byte)")
                + ", which no answer has";
        } else if (line.find(byteOrderMark) != std::string::npos) {
            problem = "holds a byte-order mark, which belongs only before the first line";
        }
        if (!problem.empty() || !parseLine(line, number, parsed, problem)) {
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
    // Read no further than a script can be, whatever the file (/dev/zero).
    std::string text;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > scriptLimit) {
            error = "the script " + path + " is larger than a script can be (" + std::to_string(scriptLimit >> 20)
                + " MB)";
            return false;
        }
    }
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
