#include "Commands.h"
#include "ErrorTable.h"
#include "NewMachine.h"

#include "kernel32/FileShare.h"
#include "kernel32/Launch.h"
#include "kernel32/ProcessEnd.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"
#include "machine/RunStore.h"
#include "desk/Run.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>

namespace ntsim {

Runner defineNew(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    verb.add_option("DIR", *dir, "Directory of the new machine (created if missing; it must hold no machine)")
        ->required();
    verb.footer("The machine is NT 4.0 as a driver setup meets it, one PCI soft modem, an administrator at\n"
                "the keyboard; the built package is in C:\\MODEM and the machine's programs in C:\\WINNT\\system32.");
    return [dir] {
        std::string error;
        if (!createMachine(*dir, defaultMachineOptions(), error))
            return usageError(error);
        std::printf("Made an NT 4.0 machine in %s: a PCI soft modem, the administrator at the keyboard,\n"
                    "the sample package in C:\\MODEM and ISDEL.EXE in C:\\WINNT. Its setup runs with\n"
                    "  ntsim run %s -- 'C:\\MODEM\\SETUP.EXE' -l\n",
            dir->c_str(), dir->c_str());
        return 0;
    };
}

Runner definePut(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto from = std::make_shared<std::string>();
    auto to = std::make_shared<std::string>("C:\\MODEM");
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("HOSTDIR", *from, "A host folder of files (default: the built sample package)");
    verb.add_option("--to", *to, "The folder of drive C: they go to (default C:\\MODEM)")->option_text("NTPATH");
    verb.footer("Copies the folder's files and subfolders into the machine, replacing files of the same name,\n"
                "as a person copies a driver disk's files onto the machine.");
    return [dir, from, to] {
        std::string source = from->empty() ? defaultMachineOptions().packageDir : *from, error;
        if (!copyIntoMachine(*dir, source, *to, error))
            return failure("put: " + error);
        std::printf("put %s into %s\n", source.c_str(), to->c_str());
        return 0;
    };
}

Runner defineSet(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto settings = std::make_shared<std::vector<std::string>>();
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("NAME=VALUE", *settings, "Settings, applied in order; the first refused one stops")->required();
    verb.footer("Settings: cpu.mmx=true|false, cpu.cpuid=true|false, user=administrator|guest,\n"
                "locale=0409|0407|0411|... (the locale brings its ANSI and OEM code pages),\n"
                "trace=/HOST/FILE (every run appends its programs' calls there; trace= turns it off).");
    return [dir, settings] {
        for (auto& setting : *settings) {
            std::string error;
            if (!setMachineSetting(*dir, setting, error))
                return usageError(error);
        }
        return 0;
    };
}

namespace {

std::string absoluteHostPath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

struct RunRequest {
    std::string machineDir;
    std::string script;
    std::string transcript;
    std::string trace;
    bool pressDefault { false };
    std::string currentDirectory { "C:\\" };
    unsigned waitOthers { 60 };
    std::vector<std::string> program;
};

int run(const RunRequest& request);

}

std::optional<std::string> runCommandLineProblem(int argc, char** argv)
{
    static const char* const withValue[] = { "--script", "--transcript", "--cwd", "--wait-others" };
    int positionals = 0;
    std::string dir, program;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--")
            return std::nullopt;
        bool option = arg.size() > 1 && arg[0] == '-';
        if (option && positionals < 2) {
            for (const char* name : withValue)
                if (arg == name)
                    ++i;
            continue;
        }
        if (!option) {
            (positionals == 0 ? dir : program) = positionals < 2 ? arg : program;
            ++positionals;
            continue;
        }
        // An option after the program: the program's own, without "--".
        return "run: " + arg + " after the program is taken for an option of run; put -- before the program and its "
            "arguments: ntsim run " + dir + " -- '" + program + "' " + arg;
    }
    return std::nullopt;
}

Runner defineRun(CLI::App& verb)
{
    auto request = std::make_shared<RunRequest>();
    verb.add_option("DIR", request->machineDir, "The machine")->required();
    verb.add_option("--script", request->script, "Answer every box and page from FILE, one answer a line")
        ->option_text("FILE");
    verb.add_option("--transcript", request->transcript,
            "Record every box and page shown in FILE, one JSON object a line, in the order of the script")
        ->option_text("FILE");
    verb.add_flag("--press-default", request->pressDefault,
        "Answer a message box or prompt the script has no fitting answer for with its default button");
    verb.add_option("--trace", request->trace,
            "Write one JSON line per call the run's programs make to FILE (see ntsim trace show)")
        ->option_text("FILE");
    verb.add_option("--cwd", request->currentDirectory, "The program's current directory (default C:\\)")
        ->option_text("NTPATH");
    verb.add_option("--wait-others", request->waitOthers,
            "How long the run waits for processes still running after the program ended, before it ends them "
            "(default 60)")
        ->option_text("SECONDS")
        ->check(CLI::Range(0u, 86400u));
    verb.add_option("PROGRAM", request->program, "After --: the program's NT path and its arguments")->required();
    verb.footer("The run ends when the program and every process it started have ended; its exit status\n"
                "is the program's, or 3 when a process found no answer.\n"
                "\n"
                "A script has one answer a line: ok cancel yes no retry abort ignore skip next back finish;\n"
                "  select ITEM  chooses an item of a page's list box (select united states)\n"
                "  @\"TITLE\" ANSWER  only for a window of that title (case does not matter)\n"
                "  # a comment (blank lines are skipped too)\n"
                "Lines addressed to no window go, in order, to the program the run starts; a process it\n"
                "starts takes only lines addressed to its windows. A process left without an answer ends.\n"
                "Without a script the terminal desk asks at the keyboard: a button's letter, Left/Right or\n"
                "Tab and Enter, Esc for Cancel; Up/Down, Home/End or a first letter in a list; F6 to another\n"
                "window of the run (one is shown at a time, the most recently created or activated).\n"
                "\n"
                "A program that cannot start at all (no such file, not a program) ends the run with status 127.\n"
                "\n"
                "Example: ntsim run M --script answers.txt -- 'C:\\MODEM\\SETUP.EXE' -l");
    return [request] { return run(*request); };
}

namespace {

// "The system cannot find the file specified" for a launch error.
std::string whyNoStart(uint32_t error)
{
    std::string words = systemMessage(error);
    if (words.empty())
        return "error " + std::to_string(error);
    while (!words.empty() && (words.back() == '.' || words.back() == '\n' || words.back() == '\r'))
        words.pop_back();
    return words;
}

// The processes this one would reap: its children, and the orphans of the
// run that came to it.
std::vector<pid_t> childrenOfThisProcess()
{
    std::vector<pid_t> out;
    DIR* proc = opendir("/proc");
    if (!proc)
        return out;
    while (dirent* e = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
        std::string stat;
        if (pid <= 0 || !readWholeFile(std::string("/proc/") + e->d_name + "/stat", stat))
            continue;
        size_t close = stat.rfind(')');
        int parent = 0;
        char state = 0;
        if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2
            && parent == getpid())
            out.push_back(pid);
    }
    closedir(proc);
    return out;
}

std::string imageOfProcess(pid_t pid)
{
    std::string environ;
    readWholeFile("/proc/" + std::to_string(pid) + "/environ", environ);
    const std::string key = "NTSIM_IMAGE=";
    for (size_t at = 0; at < environ.size(); at = environ.find('\0', at) + 1) {
        if (environ.compare(at, key.size(), key) == 0)
            return environ.substr(at + key.size(), environ.find('\0', at) - at - key.size());
        if (environ.find('\0', at) == std::string::npos)
            break;
    }
    return "a process";
}

// The run ends when the program and every process it started have ended:
// what they show belongs to the run. Processes still running some time
// after the program ended are ended, and said so.
void waitForOthers(unsigned seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::set<pid_t> ended;
    for (;;) {
        pid_t reaped = waitpid(-1, nullptr, WNOHANG);
        if (reaped > 0) {
            takeExitCode(reaped);
            continue;
        }
        if (reaped < 0 && errno != EINTR)
            return; // none left
        if (std::chrono::steady_clock::now() >= deadline) {
            for (pid_t pid : childrenOfThisProcess()) {
                if (!ended.insert(pid).second)
                    continue;
                std::fprintf(stderr, "ntsim: %s (pid %d) still ran %u s after the program ended; ended it\n",
                    imageOfProcess(pid).c_str(), static_cast<int>(pid), seconds);
                kill(pid, SIGKILL);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int run(const RunRequest& given)
{
    RunRequest request = given;
    if (!request.script.empty())
        request.script = absoluteHostPath(request.script);
    if (!request.transcript.empty())
        request.transcript = absoluteHostPath(request.transcript);
    if (!request.trace.empty())
        request.trace = absoluteHostPath(request.trace);
    std::string error;
    Machine machine;
    if (!Machine::open(request.machineDir, machine, error))
        return usageError(error);
    if (!registryIsSound(machine, error))
        return failure(error);
    Machine::attach(machine.root());
    if (!RunStore::tryCurrent(error))
        return failure(error);

    std::string cwd = fullNtPath(request.currentDirectory, "C:\\");
    struct stat st;
    if (cwd.empty() || stat(machine.hostPath(cwd).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return usageError("run: " + request.currentDirectory + " is not a directory of drive C:");
    std::string commandLine = quoteCommandLine(request.program);
    uint32_t launchError = 0;
    std::string image = resolveProgram("", commandLine, cwd, launchError);
    if (image.empty()) {
        std::fprintf(stderr, "ntsim: run: cannot start %s: %s\n", request.program[0].c_str(), whyNoStart(launchError).c_str());
        return cannotStartStatus;
    }
    if (!request.script.empty() && access(request.script.c_str(), R_OK) != 0)
        return usageError("run: cannot read the script " + request.script);
    for (auto& [file, what] : { std::pair { request.transcript, "transcript" }, std::pair { request.trace, "trace" } }) {
        if (file.empty())
            continue;
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return usageError(std::string("run: cannot write the ") + what + " " + file);
        ::close(fd);
    }

    // The desk of the run: its answers, what the run's processes share of
    // them, and the record of what was shown.
    desk::RunDesk runDesk;
    if (!runDesk.open(machine.runDir() + "/desk/" + std::to_string(getpid()), request.script, error))
        return usageError("run: " + error);

    // Orphans of the run come to us, so that the run can wait for them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::vector<std::string> environment = programEnvironment(image, commandLine, cwd, hostEnvironment());
    for (auto& entry : runDesk.programEnvironment())
        environment.push_back(entry);
    if (request.pressDefault)
        environment.push_back("NTSIM_DESK_PRESS_DEFAULT=1");
    if (!request.trace.empty()) {
        environment.erase(std::remove_if(environment.begin(), environment.end(),
                              [](const std::string& e) { return e.rfind("NTSIM_TRACE=", 0) == 0; }),
            environment.end());
        environment.push_back("NTSIM_TRACE=" + request.trace);
    }
    pid_t pid = startProgram(image, commandLine, environment, launchError);
    if (pid < 0) {
        runDesk.close(request.transcript);
        std::fprintf(stderr, "ntsim: run: cannot start %s: %s\n", image.c_str(), whyNoStart(launchError).c_str());
        return cannotStartStatus;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    waitForOthers(request.waitOthers);
    // Whatever the run's processes left open is let go now that they have ended.
    FileShareTable().settleAll();
    bool unanswered = runDesk.close(request.transcript);

    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "ntsim: %s was killed by signal %d\n", image.c_str(), WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    // A process of the run that found no answer fails the run, whenever it asked.
    if (unanswered)
        return 3;
    return WEXITSTATUS(status);
}

}

}
