// The script desk's answers: one action a line. A line may be addressed to
// a window by its title, @"Country Settings" ok, and is then taken only by
// a process showing a window of that title; the other lines belong to the
// process that the run started, in their order.
//
// One parser for both desks: ntsim's and WINDESK.EXE, the script desk for
// Windows and Wine, which builds this file with MinGW.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace ntsim::desk {

struct ScriptLine {
    unsigned number { 0 };            // line of the file, from 1
    std::optional<std::string> title; // the window it is addressed to (UTF-8)
    std::string answer;               // lower-cased
};

// Reads a script: blank lines and lines starting with # are skipped, and a
// UTF-8 byte-order mark before the first line. False, with error naming
// the line, for a line that is not an answer (a control character, a NUL
// byte or a byte-order mark in it among them).
bool parseScript(const std::string& text, std::vector<ScriptLine>& lines, std::string& error);

// A script of a million answers is far below this.
constexpr size_t scriptLimit = size_t(64) << 20;

// Reads and parses a script file of at most scriptLimit bytes.
bool loadScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error);

// Window titles are matched as NT's FindWindow does: without regard to case.
bool sameTitle(const std::string& a, const std::string& b);

}
