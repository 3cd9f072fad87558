#include "Desk.h"

#include "DeskScript.h"
#include "DeskTerminal.h"
#include "machine/FileLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ntsim::desk {

namespace {

// The status a process ends with when the desk cannot answer it.
constexpr int noAnswerExitStatus = 3;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void appendTranscript(const Json& line)
{
    std::string path = environment("NTSIM_TRANSCRIPT");
    if (path.empty())
        return;
    std::string text = dumpLine(line) + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "ntsim: cannot append to the transcript %s\n", path.c_str());
        return;
    }
    // One write per line: lines of the run's processes never interleave.
    writeAll(fd, text.data(), text.size());
    ::close(fd);
}

Json transcriptLine(const std::string& event, const Json& fields)
{
    Json line = Json::object();
    line["event"] = event;
    if (fields.is_object())
        for (auto& [key, value] : fields.items())
            line[key] = value;
    return line;
}

[[noreturn]] void giveUp(const std::string& message)
{
    std::fprintf(stderr, "ntsim: %s\n", message.c_str());
    std::fflush(nullptr);
    std::exit(noAnswerExitStatus);
}

std::string listed(const std::vector<std::string>& answers)
{
    std::string out;
    for (auto& a : answers)
        out += (out.empty() ? "" : ", ") + a;
    return out;
}

}

std::string show(const Shown& shown)
{
    Json line = transcriptLine(shown.event, shown.fields);
    std::string script = environment("NTSIM_SCRIPT");
    std::optional<std::string> answer;
    if (!script.empty()) {
        answer = Script(script, environment("NTSIM_SCRIPT_CURSOR")).take();
        if (!answer) {
            appendTranscript(line);
            giveUp("no answer left in the script for " + shown.name);
        }
    } else {
        answer = askAtTerminal(shown.drawing, shown.answers);
        if (!answer) {
            appendTranscript(line);
            giveUp("no terminal to answer " + shown.name + " and no script given");
        }
    }
    if (std::find(shown.answers.begin(), shown.answers.end(), *answer) == shown.answers.end()) {
        appendTranscript(line);
        giveUp("answer '" + *answer + "' does not fit " + shown.name + " (it takes " + listed(shown.answers) + ")");
    }
    line["answer"] = *answer;
    appendTranscript(line);
    return *answer;
}

void record(const std::string& event, const Json& fields)
{
    appendTranscript(transcriptLine(event, fields));
}

}
