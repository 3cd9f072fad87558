// ntsim trace show: a trace of a run's calls as a table a person reads.
#include "Commands.h"
#include "ErrorTable.h"

#include "machine/Json.h"
#include "machine/NtPath.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>

namespace ntsim {

namespace {

// A trace of every call of a long run stays far below this.
constexpr std::streamoff traceLimit = 256ll << 20;

struct TraceFilter {
    std::string file;
    std::string call; // a name, or a prefix ending in '*'
    int pid { 0 };
    bool failedOnly { false };
};

bool callMatches(const std::string& pattern, const std::string& call)
{
    if (pattern.empty())
        return true;
    if (pattern.back() == '*')
        return call.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return equalsNoCase(pattern, call);
}

// A number the trace wrote as hex: an address, a handle, flags.
bool isHexNumber(const std::string& text)
{
    return text.size() > 2 && text.compare(0, 2, "0x") == 0 && std::isxdigit(static_cast<unsigned char>(text[2]));
}

std::string shown(const Json& value)
{
    std::string text = !value.is_string()        ? dumpLine(value)
        : isHexNumber(value.get<std::string>()) ? value.get<std::string>()
                                                : "\"" + bytesOf(value) + "\"";
    if (value.is_object() && value.contains("kind")) {
        // A described handle: its kind and what it stands for.
        text = stringMember(value, "kind");
        if (value.contains("name"))
            text += " \"" + stringMember(value, "name") + "\"";
    }
    constexpr size_t widest = 60;
    if (text.size() > widest)
        text = text.substr(0, widest - 3) + "...";
    return text;
}

std::string errorText(uint32_t code)
{
    if (const SystemError* e = findSystemError(code))
        return e->name;
    char text[16];
    std::snprintf(text, sizeof text, code > 0xFFFF ? "0x%X" : "%u", code);
    return text;
}

int show(const TraceFilter& filter)
{
    std::ifstream in(filter.file, std::ios::binary);
    if (!in)
        return failure("trace show: cannot read " + filter.file);
    in.seekg(0, std::ios::end);
    if (in.tellg() > traceLimit)
        return failure("trace show: " + filter.file + " is larger than a trace can be (256 MB)");
    in.seekg(0);
    std::string line;
    unsigned number = 0, shownLines = 0;
    std::printf("%-7s %-12s %-34s %-8s %s\n", "PID", "IMAGE", "CALL (N)", "RESULT", "ERROR / ARGUMENTS");
    while (std::getline(in, line)) {
        ++number;
        if (line.empty())
            continue;
        Json j;
        std::string error;
        if (!parseJson(line, j, error) || !j.is_object() || !j["call"].is_string() || !j["args"].is_object())
            return failure("trace show: " + filter.file + " line " + std::to_string(number) + " is no trace line"
                + (error.empty() ? "" : " (" + error + ")"));
        std::string call = stringMember(j, "call");
        int pid = static_cast<int>(intMember(j, "pid"));
        bool failed = boolMember(j, "failed");
        if (!callMatches(filter.call, call) || (filter.pid && pid != filter.pid) || (filter.failedOnly && !failed))
            continue;
        std::string args;
        for (auto& [name, value] : j["args"].items())
            args += (args.empty() ? "" : ", ") + name + "=" + shown(value);
        std::string result = j.contains("result") ? shown(j["result"]) : "";
        auto lastError = static_cast<uint32_t>(intMember(j, "error"));
        std::string mark = failed ? "FAILED " + errorText(lastError) + " " : "";
        std::printf("%-7d %-12s %-34s %-8s %s%s\n", pid, bytesOf(j["image"]).c_str(),
            (call + " (" + std::to_string(intMember(j, "n")) + ")").c_str(), result.c_str(), mark.c_str(),
            args.c_str());
        ++shownLines;
    }
    std::printf("%u of %u calls shown\n", shownLines, number);
    return 0;
}

}

Runner defineTrace(CLI::App& verb)
{
    verb.require_subcommand(1);
    auto filter = std::make_shared<TraceFilter>();
    CLI::App* showVerb = verb.add_subcommand("show", "Print a trace as a table, one call a line");
    showVerb->add_option("FILE", filter->file, "A trace written by ntsim run --trace")->required();
    showVerb->add_option("--call", filter->call, "Only calls of this name (RegOpenKeyExA), or of a prefix (Reg*)")
        ->option_text("NAME");
    showVerb->add_option("--pid", filter->pid, "Only the calls of this process")->option_text("PID");
    showVerb->add_flag("--failed", filter->failedOnly, "Only calls whose result says they failed");
    verb.footer("A trace holds one JSON object a line: pid, image, call, n (the call's number within its\n"
                "name, as ntsim fault --nth counts), args by parameter name, result, failed, error (the\n"
                "last error the call left).\n"
                "\n"
                "Example: ntsim run M --trace t.jsonl -- 'C:\\MODEM\\SETUP.EXE' -s; ntsim trace show t.jsonl --failed");
    return [filter] { return show(*filter); };
}

}
