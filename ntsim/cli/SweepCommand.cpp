// ntsim sweep: every call site of a scenario failed in turn.
//
// The scenario runs once on a copy of the machine with its calls traced;
// then, for every call of the trace that has a failure convention (each
// name, each n), once more on a fresh copy with that call failing, and the
// recovery commands after it. Each run is the ntsim tool itself in a child
// process, so that a crash or a hang of the scenario is only a result.
#include "Commands.h"
#include "ErrorTable.h"

#include "machine/ApiTable.h"
#include "machine/FileLock.h"
#include "machine/Json.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace ntsim {

namespace {

struct SweepRequest {
    std::string dir;
    std::string script;
    std::string error;                // a name or number for every site; empty for each call's own
    unsigned jobs { 0 };              // 0: one per core
    std::vector<std::string> recover; // ntsim commands without the machine ("run -- C:\\X.EXE"), in order
    std::vector<std::string> ignore;  // NT paths left out of the comparisons
    std::string log;                  // the program's log, whose last line is reported
    std::string report;               // the JSON file
    std::string work;                 // where the copies go; a fresh temporary folder when empty
    unsigned every { 1 };             // every k-th site only
    unsigned timeout { 60 };          // seconds a run may take before it counts as hung
    bool keep { false };
    std::vector<std::string> program;
};

// --- child processes -----------------------------------------------------

struct ChildResult {
    int status { 0 }; // exit status, when it exited
    int signal { 0 }; // the signal that ended it, when one did
    bool hung { false };
};

std::string toolPath()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "ntsim";
}

// Runs argv with its output in outputFile, in a process group of its own
// that is killed whole when it outlives the limit.
ChildResult runChild(const std::vector<std::string>& argv, const std::string& outputFile, unsigned timeoutSeconds)
{
    ChildResult result;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0 || null < 0)
            _exit(126);
        dup2(null, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) {
        result.status = 127;
        return result;
    }
    setpgid(pid, pid);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return result;
        if (std::chrono::steady_clock::now() >= deadline) {
            result.hung = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    else
        result.status = WEXITSTATUS(status);
    // `ntsim run` reports a program a signal ended as 128 and the signal.
    if (result.status > 128 && result.status < 128 + 65)
        result.signal = result.status - 128;
    return result;
}

bool copyMachine(const std::string& from, const std::string& to)
{
    ChildResult r = runChild({ "/bin/cp", "-a", from, to }, to + ".copy.log", 600);
    return !r.hung && !r.signal && r.status == 0;
}

bool removeTree(const std::string& path)
{
    ChildResult r = runChild({ "/bin/rm", "-rf", path }, "/dev/null", 600);
    return r.status == 0;
}

// --- what a run leaves ---------------------------------------------------

// The boxes and pages a run's transcript shows, and the handles each
// process still held at its end. A process the desk ended for want of an
// answer did not get to let its handles go: they are no leak.
struct Shown {
    std::vector<std::string> things;
    std::vector<std::string> leaks;      // "SETUP.EXE: registry keys 1"
    std::vector<std::string> unanswered; // "SETUP.EXE: no answer left in the script for ..."
};

Shown readTranscript(const std::string& path)
{
    Shown shown;
    std::ifstream in(path);
    std::string line;
    std::set<std::string> gaveUp;
    std::vector<std::pair<std::string, std::string>> held; // program, "kind count"
    auto baseName = [](std::string program) { return program.substr(program.find_last_of('\\') + 1); };
    while (std::getline(in, line)) {
        Json j;
        std::string error;
        if (!parseJson(line, j, error) || !j.is_object())
            continue;
        std::string event = stringMember(j, "event");
        if (event == "messagebox" || event == "prompt")
            shown.things.push_back("box \"" + stringMember(j, "text") + "\"");
        else if (event == "page")
            shown.things.push_back("page " + std::to_string(intMember(j, "template")));
        else if (event == "unanswered") {
            gaveUp.insert(stringMember(j, "program"));
            shown.unanswered.push_back(baseName(stringMember(j, "program")) + ": " + stringMember(j, "message"));
        } else if (event == "exit" && member(j, "handles").is_object()) {
            for (auto& [kind, count] : j["handles"].items())
                if (count.is_number_integer() && count.get<int64_t>() > 0)
                    held.emplace_back(stringMember(j, "program"), kind + " " + std::to_string(count.get<int64_t>()));
        }
    }
    for (auto& [program, what] : held)
        if (!gaveUp.count(program))
            shown.leaks.push_back(baseName(program) + ": " + what);
    return shown;
}

std::string lastLineOf(const std::string& hostPath)
{
    std::string text;
    if (hostPath.empty() || !readWholeFile(hostPath, text))
        return "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    size_t at = text.find_last_of('\n');
    return at == std::string::npos ? text : text.substr(at + 1);
}

// A snapshot's records (ntsim snapshot), without those of ignored files.
std::set<std::string> snapshotRecords(const std::string& path, const std::vector<std::string>& ignore)
{
    std::set<std::string> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        // The header and the end record tell nothing of the machine.
        if (line.compare(0, 4, "end\t") == 0 || line.compare(0, 15, "NTSIM SNAPSHOT ") == 0)
            continue;
        bool ignored = false;
        if (line.compare(0, 5, "file\t") == 0)
            for (auto& nt : ignore)
                if (line.size() >= nt.size() && equalsNoCase(line.substr(line.size() - nt.size()), nt))
                    ignored = true;
        if (!ignored)
            records.insert(line);
    }
    return records;
}

// The records two snapshots do not share, by kind ("reg 3, file 1").
std::string differences(const std::set<std::string>& a, const std::set<std::string>& b)
{
    std::map<std::string, unsigned> byKind;
    auto count = [&](const std::set<std::string>& x, const std::set<std::string>& y) {
        for (auto& r : x)
            if (!y.count(r))
                ++byKind[r.substr(0, r.find('\t'))];
    };
    count(a, b);
    count(b, a);
    std::string out;
    for (auto& [kind, n] : byKind)
        out += (out.empty() ? "" : ", ") + kind + " " + std::to_string(n);
    return out;
}

// --- the sites -----------------------------------------------------------

struct Site {
    std::string call;
    unsigned n { 0 };
    uint32_t error { 0 };
};

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The error a call most plausibly fails with: what its documentation names
// for the failure a machine meets (no access, no memory, nothing found).
uint32_t plausibleError(const ApiSignature& api)
{
    std::string name = api.name;
    std::string header = api.header;
    if (name.find("Alloc") != std::string::npos || startsWith(name, "CreateWindow") || startsWith(name, "PropertySheet")
        || startsWith(name, "CreatePropertySheetPage") || startsWith(name, "CreateDialog")
        || startsWith(name, "DialogBox") || startsWith(name, "MessageBox") || startsWith(name, "CreateEvent")
        || name == "SetupInitDefaultQueueCallback" || name == "SetupOpenFileQueue")
        return ERROR_NOT_ENOUGH_MEMORY;
    if (startsWith(name, "LoadLibrary") || startsWith(name, "GetModuleHandle"))
        return ERROR_MOD_NOT_FOUND;
    if (name == "GetProcAddress")
        return ERROR_PROC_NOT_FOUND;
    if (startsWith(name, "FindResource") || startsWith(name, "LoadString") || startsWith(name, "LoadResource"))
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    if (startsWith(name, "SetupFind") || startsWith(name, "SetupGetLine"))
        return ERROR_LINE_NOT_FOUND;
    if (startsWith(name, "SetupGet") && name.find("Field") != std::string::npos)
        return ERROR_INVALID_PARAMETER;
    if (startsWith(name, "SetupDi"))
        return ERROR_INVALID_PARAMETER;
    if (startsWith(name, "WaitFor") || name == "CloseHandle" || startsWith(name, "SetEvent") || name == "ResetEvent")
        return ERROR_INVALID_HANDLE;
    if (name == "CreateProcessA" || name == "CreateProcessW")
        return ERROR_FILE_NOT_FOUND;
    // The registry, the files, the service controller, the rest.
    (void)header;
    return ERROR_ACCESS_DENIED;
}

bool releasesHandle(const std::string& name)
{
    static const char* const releases[] = { "CloseHandle", "RegCloseKey", "CloseServiceHandle", "FindClose",
        "FreeLibrary", "SetupDiDestroyDeviceInfoList", "SetupDiDestroyDriverInfoList", "GlobalFree", "LocalFree",
        "HeapFree", "SetupCloseFileQueue", "UnlockServiceDatabase", "DestroyPropertySheetPage", "DestroyWindow",
        "EndDialog" };
    for (const char* r : releases)
        if (name == r)
            return true;
    return false;
}

std::vector<Site> sitesOf(const std::string& tracePath, const std::optional<uint32_t>& given, std::string& error)
{
    std::vector<Site> sites;
    std::ifstream in(tracePath);
    std::string line;
    unsigned number = 0;
    while (std::getline(in, line)) {
        ++number;
        Json j;
        std::string parseError;
        if (!parseJson(line, j, parseError) || !j.is_object()) {
            error = "the clean run's trace, line " + std::to_string(number) + ", is no trace line";
            return {};
        }
        const ApiSignature* api = findApi(stringMember(j, "call"));
        // A call without a failure convention (GetLastError) cannot fail;
        // one that lets a handle go fails only for a handle that is none,
        // which a program's own never is (ntsim fault still takes them).
        if (!api || !resultFails(*api, 0) || releasesHandle(api->name))
            continue;
        sites.push_back({ api->name, static_cast<unsigned>(intMember(j, "n")), given.value_or(plausibleError(*api)) });
    }
    return sites;
}

// --- one run of the scenario ---------------------------------------------

struct Outcome {
    std::string site; // "RegOpenKeyExA#3", or "clean"
    uint32_t error { 0 };
    ChildResult run;
    std::vector<std::string> shown;
    std::vector<std::string> leaks;
    std::vector<std::string> unanswered;
    std::string lastLine;
    std::string changed;   // against the clean run's result
    bool recovered { false };
    std::string unrecovered; // what still differs after the recovery
    std::string failedRecovery;

    bool crashed() const { return run.signal != 0; }
};

class Sweep {
public:
    explicit Sweep(SweepRequest request)
        : m_request(std::move(request))
        , m_tool(toolPath())
    {
    }

    int run();

private:
    std::vector<std::string> runArguments(const std::string& machine, const std::vector<std::string>& extra) const;
    Outcome runScenario(const std::string& machine, const std::string& name, const std::optional<Site>& site);
    void recover(const std::string& machine, Outcome& outcome);
    bool snapshot(const std::string& machine, const std::string& file);
    void work(const std::vector<Site>& sites, std::vector<Outcome>& outcomes);
    void progress(size_t done, size_t total, bool final);
    void printReport(const std::vector<Outcome>& outcomes, const Outcome& clean, double seconds);
    bool writeReport(const std::vector<Outcome>& outcomes, const Outcome& clean, std::string& error);

    SweepRequest m_request;
    std::string m_tool;
    std::set<std::string> m_cleanResult;    // the machine after the clean run
    std::set<std::string> m_cleanRecovered; // ... and after the recovery commands too
    std::mutex m_progressLock;
    std::atomic<size_t> m_crashes { 0 }, m_hangs { 0 }, m_leaks { 0 }, m_unrecovered { 0 };
};

std::vector<std::string> Sweep::runArguments(const std::string& machine, const std::vector<std::string>& extra) const
{
    std::vector<std::string> argv { m_tool, "run", machine, "--wait-others", "5" };
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

bool Sweep::snapshot(const std::string& machine, const std::string& file)
{
    ChildResult r = runChild({ m_tool, "snapshot", machine, file }, file + ".log", m_request.timeout);
    return !r.hung && !r.signal && r.status == 0;
}

Outcome Sweep::runScenario(const std::string& machine, const std::string& name, const std::optional<Site>& site)
{
    Outcome outcome;
    outcome.site = name;
    // A person presses a box's default button where the script has no answer.
    std::vector<std::string> extra { "--transcript", machine + ".transcript", "--press-default" };
    if (!site)
        extra.insert(extra.end(), { "--trace", machine + ".trace" });
    if (!m_request.script.empty())
        extra.insert(extra.end(), { "--script", m_request.script });
    extra.push_back("--");
    extra.insert(extra.end(), m_request.program.begin(), m_request.program.end());
    if (site) {
        outcome.error = site->error;
        ChildResult set = runChild({ m_tool, "fault", machine, site->call, std::to_string(site->error), "--nth",
                                       std::to_string(site->n) },
            machine + ".fault.log", m_request.timeout);
        if (set.status != 0) {
            outcome.failedRecovery = "ntsim fault refused the site";
            return outcome;
        }
    }
    outcome.run = runChild(runArguments(machine, extra), machine + ".run.log", m_request.timeout);
    Shown shown = readTranscript(machine + ".transcript");
    outcome.shown = shown.things;
    outcome.leaks = shown.leaks;
    outcome.unanswered = shown.unanswered;
    Machine m;
    std::string error;
    if (!m_request.log.empty() && Machine::open(machine, m, error))
        outcome.lastLine = lastLineOf(m.hostPath(m_request.log));
    if (site && snapshot(machine, machine + ".snap"))
        outcome.changed = differences(snapshotRecords(machine + ".snap", m_request.ignore), m_cleanResult);
    return outcome;
}

// The recovery: the fault gone, the commands one after the other, and the
// machine compared with the clean run's result.
void Sweep::recover(const std::string& machine, Outcome& outcome)
{
    if (m_request.recover.empty() || !outcome.failedRecovery.empty())
        return;
    runChild({ m_tool, "fault", machine, "--clear" }, machine + ".fault.log", m_request.timeout);
    for (size_t i = 0; i < m_request.recover.size(); ++i) {
        std::vector<std::string> words = splitCommandLine(m_request.recover[i]);
        std::vector<std::string> argv { m_tool, words[0], machine };
        argv.insert(argv.end(), words.begin() + 1, words.end());
        ChildResult r = runChild(argv, machine + ".recover" + std::to_string(i + 1) + ".log", m_request.timeout);
        if (r.hung || r.signal || r.status) {
            outcome.failedRecovery = "recovery command " + std::to_string(i + 1)
                + (r.hung ? " hung" : r.signal ? " crashed" : " ended with " + std::to_string(r.status));
            return;
        }
    }
    if (!snapshot(machine, machine + ".recovered.snap")) {
        outcome.failedRecovery = "no snapshot after the recovery";
        return;
    }
    outcome.unrecovered = differences(snapshotRecords(machine + ".recovered.snap", m_request.ignore), m_cleanRecovered);
    outcome.recovered = outcome.unrecovered.empty();
}

void Sweep::progress(size_t done, size_t total, bool final)
{
    std::lock_guard lock(m_progressLock);
    std::fprintf(stderr, "\rsweep: %zu/%zu sites, %zu crashes, %zu hangs, %zu leaks, %zu not recovered%s", done, total,
        m_crashes.load(), m_hangs.load(), m_leaks.load(), m_unrecovered.load(), final ? "\n" : "");
    std::fflush(stderr);
}

void Sweep::work(const std::vector<Site>& sites, std::vector<Outcome>& outcomes)
{
    std::atomic<size_t> next { 0 }, done { 0 };
    unsigned jobs = m_request.jobs ? m_request.jobs : std::max(1u, std::thread::hardware_concurrency());
    auto worker = [&] {
        for (size_t i = next++; i < sites.size(); i = next++) {
            const Site& site = sites[i];
            std::string name = site.call + "#" + std::to_string(site.n);
            std::string machine = m_request.work + "/" + name;
            Outcome outcome;
            if (!copyMachine(m_request.dir, machine)) {
                outcome.site = name;
                outcome.failedRecovery = "the machine could not be copied";
            } else {
                outcome = runScenario(machine, name, site);
                recover(machine, outcome);
            }
            if (outcome.crashed())
                ++m_crashes;
            if (outcome.run.hung)
                ++m_hangs;
            if (!outcome.leaks.empty())
                ++m_leaks;
            if (!m_request.recover.empty() && !outcome.recovered)
                ++m_unrecovered;
            outcomes[i] = std::move(outcome);
            if (!m_request.keep)
                removeTree(machine);
            progress(++done, sites.size(), false);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 0; j < jobs; ++j)
        threads.emplace_back(worker);
    for (auto& t : threads)
        t.join();
    progress(done, sites.size(), true);
}

std::string outcomeKey(const Outcome& o)
{
    std::string key = o.run.hung ? "hang" : o.crashed() ? "crash (signal " + std::to_string(o.run.signal) + ")"
                                                        : "exit " + std::to_string(o.run.status);
    key += o.shown.empty() ? ", nothing shown" : ", " + o.shown.back();
    if (!o.unanswered.empty())
        key += ", ended for want of an answer";
    if (!o.leaks.empty())
        key += ", handles left";
    if (!o.failedRecovery.empty())
        key += ", " + o.failedRecovery;
    else if (!o.recovered && !o.unrecovered.empty())
        key += ", not recovered (" + o.unrecovered + ")";
    return key;
}

void Sweep::printReport(const std::vector<Outcome>& outcomes, const Outcome& clean, double seconds)
{
    std::map<std::string, std::vector<const Outcome*>> groups;
    for (auto& o : outcomes)
        groups[outcomeKey(o)].push_back(&o);
    std::printf("clean run: %s\n", outcomeKey(clean).c_str());
    if (!m_request.recover.empty())
        std::printf("clean run's recovery: %s\n",
            clean.unrecovered.empty() ? "gives the clean run's machine back"
                                      : ("differs from the clean run's machine (" + clean.unrecovered + ")").c_str());
    std::printf("\n");
    for (auto& [key, members] : groups) {
        std::printf("%4zu  %s\n", members.size(), key.c_str());
        std::string sites;
        size_t shownSites = 0;
        for (auto* o : members) {
            if (shownSites++ == 8) {
                sites += " ...";
                break;
            }
            sites += (sites.empty() ? "" : " ") + o->site;
        }
        std::printf("      %s\n", sites.c_str());
    }
    std::printf("\nsweep: %zu sites, %zu crashes, %zu hangs, %zu leaks, %s not recovered in %.0f s\n", outcomes.size(),
        m_crashes.load(), m_hangs.load(), m_leaks.load(),
        m_request.recover.empty() ? "-" : std::to_string(m_unrecovered.load()).c_str(), seconds);
}

Json outcomeJson(const Outcome& o)
{
    Json j = Json::object();
    j["site"] = o.site;
    if (o.error)
        j["error"] = o.error;
    j["exit"] = o.run.status;
    j["signal"] = o.run.signal;
    j["hung"] = o.run.hung;
    j["shown"] = o.shown;
    j["lastLogLine"] = bytesJson(o.lastLine);
    j["handlesLeft"] = o.leaks;
    j["unanswered"] = o.unanswered;
    j["changedAgainstClean"] = o.changed;
    j["recovered"] = o.recovered;
    if (!o.unrecovered.empty())
        j["stillDiffers"] = o.unrecovered;
    if (!o.failedRecovery.empty())
        j["problem"] = o.failedRecovery;
    return j;
}

bool Sweep::writeReport(const std::vector<Outcome>& outcomes, const Outcome& clean, std::string& error)
{
    Json report = Json::object();
    report["machine"] = m_request.dir;
    report["program"] = m_request.program;
    report["clean"] = outcomeJson(clean);
    Json sites = Json::array();
    for (auto& o : outcomes)
        sites.push_back(outcomeJson(o));
    report["sites"] = sites;
    report["summary"] = { { "sites", outcomes.size() }, { "crashes", m_crashes.load() }, { "hangs", m_hangs.load() },
        { "leaks", m_leaks.load() }, { "notRecovered", m_unrecovered.load() } };
    if (!writeFileAtomically(m_request.report, dumpPretty(report))) {
        error = "cannot write the report " + m_request.report;
        return false;
    }
    return true;
}

int Sweep::run()
{
    auto start = std::chrono::steady_clock::now();
    std::string error;
    Machine probe;
    if (!Machine::open(m_request.dir, probe, error))
        return usageError("sweep: " + error);
    std::optional<uint32_t> given;
    if (!m_request.error.empty()) {
        given = parseSystemError(m_request.error);
        if (!given)
            return usageError("sweep: no error '" + m_request.error + "' (a number or a name such as ERROR_ACCESS_DENIED)");
    }
    if (!m_request.script.empty() && access(m_request.script.c_str(), R_OK) != 0)
        return usageError("sweep: cannot read the script " + m_request.script);
    for (auto& command : m_request.recover)
        if (splitCommandLine(command).empty())
            return usageError("sweep: an empty --recover command (give an ntsim command without its machine)");
    bool madeWork = m_request.work.empty();
    if (madeWork) {
        char pattern[] = "/tmp/ntsim-sweep-XXXXXX";
        if (!mkdtemp(pattern))
            return failure("sweep: cannot make a folder for the machines' copies");
        m_request.work = pattern;
    } else if (!makeDirectories(m_request.work)) {
        return failure("sweep: cannot make " + m_request.work);
    }
    if (m_request.report.empty())
        m_request.report = m_request.work + "/sweep.json";
    if (!m_request.log.empty())
        m_request.ignore.push_back(m_request.log);

    // The clean run: its trace lists the sites, its result is what a
    // recovery must come back to.
    std::string cleanMachine = m_request.work + "/clean";
    if (!copyMachine(m_request.dir, cleanMachine))
        return failure("sweep: cannot copy " + m_request.dir);
    Outcome clean = runScenario(cleanMachine, "clean", std::nullopt);
    if (clean.run.hung || clean.crashed())
        return failure("sweep: the scenario " + std::string(clean.run.hung ? "hangs" : "crashes")
            + " without a fault; see " + cleanMachine + ".run.log");
    if (!snapshot(cleanMachine, m_request.work + "/clean-result.snap"))
        return failure("sweep: cannot take a snapshot of the clean run's machine");
    m_cleanResult = snapshotRecords(m_request.work + "/clean-result.snap", m_request.ignore);
    // A faulted run has recovered when the recovery leaves what it leaves
    // after the clean run: what the program's own design cannot give back
    // (an uninstall that keeps a trace) is no fault's doing.
    if (!m_request.recover.empty()) {
        m_cleanRecovered = m_cleanResult;
        recover(cleanMachine, clean);
        if (!clean.failedRecovery.empty())
            return failure("sweep: the recovery fails after the clean run: " + clean.failedRecovery);
        m_cleanRecovered = snapshotRecords(cleanMachine + ".recovered.snap", m_request.ignore);
        clean.unrecovered = differences(m_cleanResult, m_cleanRecovered);
        clean.recovered = true;
    }
    std::vector<Site> all = sitesOf(cleanMachine + ".trace", given, error);
    if (!error.empty())
        return failure("sweep: " + error);
    std::vector<Site> sites;
    for (size_t i = 0; i < all.size(); i += std::max(1u, m_request.every))
        sites.push_back(all[i]);
    std::fprintf(stderr, "sweep: %zu call sites in the clean run's trace, %zu to fail\n", all.size(), sites.size());

    std::vector<Outcome> outcomes(sites.size());
    work(sites, outcomes);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printReport(outcomes, clean, seconds);
    if (!writeReport(outcomes, clean, error))
        return failure("sweep: " + error);
    std::printf("report: %s\n", m_request.report.c_str());
    if (madeWork && !m_request.keep)
        removeTree(m_request.work + "/clean");
    return m_crashes || m_hangs || m_leaks ? 1 : 0;
}

}

Runner defineSweep(CLI::App& verb)
{
    auto request = std::make_shared<SweepRequest>();
    verb.add_option("DIR", request->dir, "The machine the scenario starts from (it is copied, never changed)")
        ->required();
    verb.add_option("--script", request->script, "Answer the scenario's boxes and pages from FILE (as ntsim run)")
        ->option_text("FILE");
    verb.add_option("--error", request->error,
            "Fail every site with this error (a name or number); by default each call fails as it most plausibly "
            "would: ERROR_ACCESS_DENIED for registry, files and services, ERROR_NOT_ENOUGH_MEMORY for allocations "
            "and windows, the documented failure for the others")
        ->option_text("ERROR");
    verb.add_option("--jobs", request->jobs, "Sites run side by side (default: one per core)")->option_text("N");
    verb.add_option("--recover", request->recover,
            "After a faulted run, with the fault gone: an ntsim command without its machine, e.g. "
            "\"run --script u.txt -- C:\\MODEM\\SETUP.EXE -u -l\" or \"put\"; repeat for several, run in order")
        ->option_text("COMMAND")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    verb.add_option("--log", request->log, "The program's log (an NT path): its last line is reported")
        ->option_text("NTPATH");
    verb.add_option("--ignore", request->ignore,
            "A file (NT path) left out when machines are compared; the log always is")
        ->option_text("NTPATH")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    verb.add_option("--every", request->every, "Fail only every k-th site (a sample)")
        ->option_text("K")
        ->check(CLI::Range(1u, 1000000u));
    verb.add_option("--timeout", request->timeout, "Seconds a run may take before it counts as hung (default 60)")
        ->option_text("SECONDS")
        ->check(CLI::Range(1u, 86400u));
    verb.add_option("--report", request->report, "Where the JSON report goes (default: in the work folder)")
        ->option_text("FILE");
    verb.add_option("--work", request->work, "Where the machines' copies go (default: a new folder in /tmp)")
        ->option_text("DIR");
    verb.add_flag("--keep", request->keep, "Keep every site's machine, transcript and logs");
    verb.add_option("PROGRAM", request->program, "After --: the program's NT path and its arguments")->required();
    verb.footer("The scenario runs once with its calls traced; then once for every traced call that can fail\n"
                "(each name, each n), on a fresh copy of DIR with that call failing, and the recovery commands\n"
                "after it. For each site: exit status, crash (signal), hang (timeout), the boxes and pages shown,\n"
                "the log's last line, the handles each process left, what differs from the clean run's machine,\n"
                "and whether the recovery brought the machine to what the same recovery leaves after the clean run.\n"
                "The exit status is 1 when a site crashed, hung or left handles open, else 0.\n"
                "\n"
                "Example: ntsim sweep M --log 'C:\\MODEM\\SETUP.TXT' \\\n"
                "           --recover \"run --script uninstall.txt -- C:\\MODEM\\SETUP.EXE -u -l\" --recover put \\\n"
                "           --recover \"run -- C:\\MODEM\\SETUP.EXE -s -h=us -l\" -- 'C:\\MODEM\\SETUP.EXE' -s -h=us -l");
    return [request] {
        for (auto* path : { &request->script, &request->report, &request->work }) {
            if (!path->empty() && (*path)[0] != '/') {
                char cwd[4096];
                if (getcwd(cwd, sizeof cwd))
                    *path = std::string(cwd) + "/" + *path;
            }
        }
        Sweep sweep(*request);
        return sweep.run();
    };
}

}
