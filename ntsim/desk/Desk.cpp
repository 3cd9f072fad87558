#include "Desk.h"

#include "Run.h"
#include "Script.h"
#include "Terminal.h"
#include "machine/Process.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ntsim::desk {

namespace {

// The status a process ends with when the desk cannot answer it.
constexpr int noAnswerExitStatus = 3;

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
    noteUnanswered(message);
    Json fields = Json::object();
    fields["program"] = bytesJson(currentProcess().imagePath);
    fields["message"] = message;
    appendTranscript(transcriptLine("unanswered", fields));
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

// @"TITLE" as a script line spells it.
std::string addressOf(const std::string& title)
{
    std::string out = "@\"";
    for (char c : title)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

bool pressesDefaults()
{
    const char* value = std::getenv("NTSIM_DESK_PRESS_DEFAULT");
    return value && *value == '1';
}

bool isBox(const Shown& shown)
{
    return shown.event == "messagebox" || shown.event == "prompt";
}

std::string defaultOf(const Shown& shown)
{
    return shown.defaultAnswer.empty() ? shown.answers.front() : shown.defaultAnswer;
}

bool accepts(const Shown& shown, const std::string& answer)
{
    return std::find(shown.answers.begin(), shown.answers.end(), answer) != shown.answers.end();
}

// The script line for what is shown: the first one addressed to its
// window's title; else, for the run's program only, the next one that is
// addressed to no window. A box of a run that presses defaults takes a
// line only if it fits.
std::optional<std::string> answerFromScript(Question& question, const std::string& scriptPath, const Shown& shown,
    std::string& failure)
{
    // A process reads the script once however many boxes and pages it
    // shows, and again only when another file takes its place.
    static std::string loadedPath;
    static struct stat loadedFile {};
    static std::vector<ScriptLine> lines;
    struct stat file {};
    bool same = ::stat(scriptPath.c_str(), &file) == 0 && loadedPath == scriptPath && file.st_ino == loadedFile.st_ino
        && file.st_dev == loadedFile.st_dev && file.st_size == loadedFile.st_size
        && file.st_mtim.tv_sec == loadedFile.st_mtim.tv_sec && file.st_mtim.tv_nsec == loadedFile.st_mtim.tv_nsec;
    if (!same) {
        lines.clear();
        loadedPath.clear();
        if (!loadScript(scriptPath, lines, failure))
            return std::nullopt;
        loadedPath = scriptPath;
        loadedFile = file;
    }
    auto unused = [&](const ScriptLine& l) { return !question.taken().count(l.number); };
    auto found = std::find_if(lines.begin(), lines.end(),
        [&](const ScriptLine& l) { return unused(l) && l.title && sameTitle(*l.title, shown.title); });
    if (found == lines.end() && isRunsProgram())
        found = std::find_if(lines.begin(), lines.end(), [&](const ScriptLine& l) { return unused(l) && !l.title; });
    if (found != lines.end() && !(pressesDefaults() && isBox(shown) && !accepts(shown, found->answer))) {
        question.take(found->number);
        return found->answer;
    }
    if (pressesDefaults() && isBox(shown))
        return defaultOf(shown);
    if (isRunsProgram())
        failure = "no answer left in the script for " + shown.name;
    else
        failure = "no answer in the script for " + shown.name + " of " + currentProcess().imagePath
            + " (a process the program started takes only lines addressed to its window, e.g. "
            + addressOf(shown.title) + " " + (shown.answers.empty() ? "ok" : shown.answers.front()) + ")";
    return std::nullopt;
}

// Why an answer does not fit, naming a page's button when it is there but cannot be pressed.
std::string misfit(const Shown& shown, const std::string& answer)
{
    std::string why;
    const Json& button = member(member(shown.fields, "buttons"), answer.c_str());
    std::string buttonName = answer;
    if (!buttonName.empty())
        buttonName[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(buttonName[0])));
    if (button.is_object()) {
        if (!boolMember(button, "shown"))
            why = ": its " + buttonName + " button is not shown";
        else if (!boolMember(button, "enabled"))
            why = ": its " + buttonName + " button is disabled";
    }
    return "answer '" + answer + "' does not fit " + shown.name + why + " (it takes " + listed(shown.answers) + ")";
}

}

std::string show(const Shown& shown)
{
    Json line = transcriptLine(shown.event, shown.fields);
    if (shown.answers.empty()) {
        appendTranscript(line);
        giveUp(shown.name + " has no button that can be pressed");
    }
    std::string script = std::getenv("NTSIM_SCRIPT") ? std::getenv("NTSIM_SCRIPT") : "";
    std::optional<std::string> answer;
    std::string failure;
    if (!script.empty()) {
        // One process at a time takes an answer from the script.
        Question question;
        answer = answerFromScript(question, script, shown, failure);
    } else {
        // The terminal lets each process's windows wait at once and shows
        // one of them; the answer takes its place when it is given.
        answer = askAtTerminal(shown);
        if (answer) {
            Question question;
            question.take(question.nextAnswerPosition());
        } else if (pressesDefaults() && isBox(shown)) {
            answer = defaultOf(shown);
        } else {
            failure = "no terminal to answer " + shown.name + " and no script given";
        }
    }
    if (!answer) {
        appendTranscript(line);
        giveUp(failure);
    }
    if (!accepts(shown, *answer)) {
        appendTranscript(line);
        giveUp(misfit(shown, *answer));
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
