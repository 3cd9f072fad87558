#include "Run.h"

#include "Script.h"

#include "machine/RunStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ntsim::desk {

namespace {

const char runVariable[] = "NTSIM_DESK_RUN";
const char placeVariable[] = "NTSIM_DESK_PLACE";
const char afterVariable[] = "NTSIM_DESK_AFTER";

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// What this process knows of its run, from its environment.
struct ProcessState {
    std::string runDir;
    std::string place;
    unsigned position { 0 }; // the last position this process took, or its parent's when it started
    unsigned sequence { 0 }; // transcript lines written
    unsigned children { 0 }; // processes started
    std::set<unsigned> takenHere; // positions, when nothing is shared

    ProcessState()
        : runDir(environment(runVariable))
        , place(environment(placeVariable))
        , position(static_cast<unsigned>(std::strtoul(environment(afterVariable).c_str(), nullptr, 10)))
    {
    }
};

ProcessState& state()
{
    static ProcessState instance;
    return instance;
}

void appendLine(const std::string& path, const std::string& text)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "ntsim: cannot append to %s\n", path.c_str());
        return;
    }
    // One write a line: lines of the run's processes never interleave.
    writeAll(fd, text.data(), text.size());
    ::close(fd);
}

std::set<unsigned> parsePositions(const std::string& text)
{
    std::set<unsigned> out;
    std::istringstream in(text);
    unsigned position = 0;
    while (in >> position)
        out.insert(position);
    return out;
}

std::vector<unsigned> placeNumbers(const std::string& place)
{
    std::vector<unsigned> out;
    std::istringstream in(place);
    std::string part;
    while (std::getline(in, part, '.'))
        out.push_back(static_cast<unsigned>(std::strtoul(part.c_str(), nullptr, 10)));
    return out;
}

struct KeyedLine {
    unsigned position { 0 };
    std::vector<unsigned> place;
    unsigned sequence { 0 };
    std::string json;
};

}

const std::string& processPlace()
{
    return state().place;
}

bool isRunsProgram()
{
    return state().place.empty() || state().place == "1";
}

const std::string& runDirectory()
{
    return state().runDir;
}

std::vector<std::string> childPlaceEnvironment()
{
    ProcessState& s = state();
    if (s.place.empty())
        return {};
    ++s.children;
    return { std::string(placeVariable) + "=" + s.place + "." + std::to_string(s.children),
        std::string(afterVariable) + "=" + std::to_string(s.position) };
}

Question::Question()
{
    ProcessState& s = state();
    if (!s.runDir.empty()) {
        m_shared = true;
        m_lock.emplace(s.runDir + "/lock", FileLock::Mode::Exclusive);
        RunStore::Transaction transaction;
        RunStore::Query rows(transaction, "SELECT position FROM desk_taken WHERE run = ?1");
        rows.bind(s.runDir);
        while (rows.next())
            m_taken.insert(static_cast<unsigned>(rows.integer(0)));
        return;
    }
    m_takenPath = environment("NTSIM_SCRIPT_CURSOR");
    if (m_takenPath.empty()) {
        m_taken = s.takenHere;
        return;
    }
    m_lock.emplace(m_takenPath + ".lock", FileLock::Mode::Exclusive);
    std::string text;
    if (readWholeFile(m_takenPath, text))
        m_taken = parsePositions(text);
}

Question::~Question() = default;

void Question::take(unsigned position)
{
    ProcessState& s = state();
    m_taken.insert(position);
    s.position = std::max(s.position, position);
    if (m_shared) {
        RunStore::Transaction transaction;
        RunStore::Query(transaction, "INSERT OR IGNORE INTO desk_taken (run, position) VALUES (?1, ?2)")
            .bind(s.runDir)
            .bind(position)
            .run();
        return;
    }
    if (m_takenPath.empty()) {
        s.takenHere = m_taken;
        return;
    }
    std::string text;
    for (unsigned p : m_taken)
        text += std::to_string(p) + " ";
    writeFileAtomically(m_takenPath, text + "\n");
}

unsigned Question::nextAnswerPosition() const
{
    return m_taken.empty() ? 1 : *m_taken.rbegin() + 1;
}

void appendTranscript(const Json& line)
{
    ProcessState& s = state();
    if (s.runDir.empty()) {
        std::string path = environment("NTSIM_TRANSCRIPT");
        if (!path.empty())
            appendLine(path, dumpLine(line) + "\n");
        return;
    }
    ++s.sequence;
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "INSERT INTO desk_line (run, position, place, sequence, line) VALUES (?1, ?2, ?3, ?4, ?5)")
        .bind(s.runDir)
        .bind(s.position)
        .bind(s.place.empty() ? "1" : s.place)
        .bind(s.sequence)
        .bind(dumpLine(line))
        .run();
}

void noteUnanswered(const std::string& message)
{
    const std::string& run = state().runDir;
    if (run.empty())
        return;
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "INSERT INTO desk_unanswered (run, message) VALUES (?1, ?2)").bind(run).bind(message).run();
}

std::vector<std::string> orderedTranscript(const std::string& keyedText)
{
    std::vector<KeyedLine> lines;
    std::istringstream in(keyedText);
    std::string text;
    while (std::getline(in, text)) {
        size_t tab = text.find('\t');
        if (tab == std::string::npos)
            continue;
        std::istringstream key(text.substr(0, tab));
        KeyedLine line;
        std::string place;
        if (!(key >> line.position >> place >> line.sequence))
            continue;
        line.place = placeNumbers(place);
        line.json = text.substr(tab + 1);
        lines.push_back(std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(), [](const KeyedLine& a, const KeyedLine& b) {
        if (a.position != b.position)
            return a.position < b.position;
        if (a.place != b.place)
            return a.place < b.place;
        return a.sequence < b.sequence;
    });
    std::vector<std::string> out;
    for (auto& line : lines)
        out.push_back(line.json);
    return out;
}

bool RunDesk::open(const std::string& dir, const std::string& script, std::string& error)
{
    if (!script.empty()) {
        std::vector<ScriptLine> lines;
        if (!loadScript(script, lines, error))
            return false;
    }
    if (!makeDirectories(dir)) {
        error = "cannot create " + dir;
        return false;
    }
    m_dir = dir;
    forget();
    setenv(runVariable, dir.c_str(), 1);
    unsetenv("NTSIM_SCRIPT_CURSOR");
    unsetenv("NTSIM_TRANSCRIPT");
    if (script.empty())
        unsetenv("NTSIM_SCRIPT");
    else
        setenv("NTSIM_SCRIPT", script.c_str(), 1);
    return true;
}

std::vector<std::string> RunDesk::programEnvironment() const
{
    return { std::string(placeVariable) + "=1" };
}

void RunDesk::forget() const
{
    RunStore::Transaction transaction;
    for (const char* table : { "DELETE FROM desk_taken WHERE run = ?1", "DELETE FROM desk_line WHERE run = ?1",
             "DELETE FROM desk_unanswered WHERE run = ?1" })
        RunStore::Query(transaction, table).bind(m_dir).run();
}

bool RunDesk::close(const std::string& transcriptPath)
{
    if (m_dir.empty())
        return false;
    std::string keyed;
    bool unanswered = false;
    {
        RunStore::Transaction transaction;
        RunStore::Query lines(transaction, "SELECT position, place, sequence, line FROM desk_line WHERE run = ?1");
        lines.bind(m_dir);
        while (lines.next())
            keyed += std::to_string(lines.integer(0)) + " " + lines.text(1) + " " + std::to_string(lines.integer(2)) + "\t"
                + lines.text(3) + "\n";
        RunStore::Query notes(transaction, "SELECT 1 FROM desk_unanswered WHERE run = ?1 LIMIT 1");
        notes.bind(m_dir);
        unanswered = notes.next();
    }
    if (!transcriptPath.empty()) {
        std::string text;
        for (auto& line : orderedTranscript(keyed))
            text += line + "\n";
        // Written in place: the transcript may be a pipe or a terminal.
        int fd = ::open(transcriptPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || !writeAll(fd, text.data(), text.size()))
            std::fprintf(stderr, "ntsim: cannot write the transcript %s\n", transcriptPath.c_str());
        if (fd >= 0)
            ::close(fd);
    }
    forget();
    // The terminal desk's screen keeps its own small file beside the lock.
    for (const char* name : { "/lock", "/screen", "/screen.lock" })
        unlink((m_dir + name).c_str());
    rmdir(m_dir.c_str());
    m_dir.clear();
    return unanswered;
}

}
