#include "Commands.h"
#include "NewMachine.h"

#include "kernel32/FileShare.h"
#include "kernel32/Launch.h"
#include "kernel32/ProcessObject.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"
#include "user32/DeskRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

namespace ntsim {

int commandNew(const Args& args)
{
    if (args.size() != 1)
        return usageError("usage: ntsim new DIR");
    std::string error;
    if (!createMachine(args[0], defaultMachineOptions(), error))
        return usageError(error);
    return 0;
}

int commandSet(const Args& args)
{
    if (args.size() < 2)
        return usageError("usage: ntsim set DIR NAME=VALUE...");
    for (size_t i = 1; i < args.size(); ++i) {
        std::string error;
        if (!setMachineSetting(args[0], args[i], error))
            return usageError(error);
    }
    return 0;
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

const char runUsage[] = "usage: ntsim run DIR [--script FILE] [--transcript FILE] [--cwd NTPATH] [--wait-others SECONDS] "
                        "-- NTPATH ARGS...";

const char runHelp[] =
    "Runs a program of the machine and passes its exit status on, once it and\n"
    "every process it started have ended.\n"
    "\n"
    "  --script FILE          answers for what the run's processes show, one a line:\n"
    "                           ok cancel yes no retry abort ignore skip next back finish\n"
    "                           @\"TITLE\" ANSWER  only for a window of that title\n"
    "                           # a comment (blank lines are skipped too)\n"
    "                         Lines addressed to no window go, in order, to the program\n"
    "                         the run starts; a process it starts takes only lines\n"
    "                         addressed to its windows. A process left without an\n"
    "                         answer ends, and the run ends with status 3.\n"
    "                         Without a script the terminal desk asks at the keyboard:\n"
    "                         a button's letter, Left/Right or Tab and Enter, Esc.\n"
    "  --transcript FILE      what was shown and answered, one JSON object a line, in\n"
    "                         the order of the script lines that answered\n"
    "  --cwd NTPATH           the program's current directory (C:\\)\n"
    "  --wait-others SECONDS  how long the run waits for processes still running after\n"
    "                         the program ended, before it ends them (60)\n";

struct RunRequest {
    std::string machineDir;
    std::string script;
    std::string transcript;
    std::string currentDirectory { "C:\\" };
    unsigned waitOthers { 60 };
    bool help { false };
    Args program;
};

bool parseRun(const Args& args, RunRequest& request, std::string& error)
{
    size_t i = 0;
    if (args.empty()) {
        error = runUsage;
        return false;
    }
    for (auto& a : args) {
        if (a == "--")
            break;
        if (a == "-h" || a == "--help") {
            request.help = true;
            return true;
        }
    }
    request.machineDir = args[i++];
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            request.program.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        if (i + 1 >= args.size()) {
            error = "run: " + a + " needs a value";
            return false;
        }
        if (a == "--script")
            request.script = absoluteHostPath(args[++i]);
        else if (a == "--transcript")
            request.transcript = absoluteHostPath(args[++i]);
        else if (a == "--cwd")
            request.currentDirectory = args[++i];
        else if (a == "--wait-others") {
            const std::string& value = args[++i];
            char* end = nullptr;
            unsigned long seconds = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end || value[0] == '-' || seconds > 86400) {
                error = "run: --wait-others takes seconds from 0 to 86400, got '" + value + "'";
                return false;
            }
            request.waitOthers = static_cast<unsigned>(seconds);
        } else {
            error = "run: unknown option " + a;
            return false;
        }
    }
    if (request.program.empty()) {
        error = "run: no program given (ntsim run DIR ... -- NTPATH ARGS...)";
        return false;
    }
    return true;
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
            unlink(exitCodePath(reaped).c_str());
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

}

int commandRun(const Args& args)
{
    RunRequest request;
    std::string error;
    if (!parseRun(args, request, error))
        return usageError(error);
    if (request.help) {
        std::printf("%s\n\n%s", runUsage, runHelp);
        return 0;
    }
    Machine machine;
    if (!Machine::open(request.machineDir, machine, error))
        return usageError(error);
    Machine::attach(machine.root());

    std::string cwd = fullNtPath(request.currentDirectory, "C:\\");
    struct stat st;
    if (cwd.empty() || stat(machine.hostPath(cwd).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return usageError("run: " + request.currentDirectory + " is not a directory of drive C:");
    std::string commandLine = quoteCommandLine(request.program);
    uint32_t launchError = 0;
    std::string image = resolveProgram("", commandLine, cwd, launchError);
    if (image.empty())
        return usageError("run: cannot start " + request.program[0] + " (error " + std::to_string(launchError) + ")");
    if (!request.script.empty() && access(request.script.c_str(), R_OK) != 0)
        return usageError("run: cannot read the script " + request.script);
    if (!request.transcript.empty()) {
        int fd = ::open(request.transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return usageError("run: cannot write the transcript " + request.transcript);
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
    pid_t pid = startProgram(image, commandLine, environment, launchError);
    if (pid < 0) {
        runDesk.close(request.transcript);
        return usageError("run: cannot start " + image + " (error " + std::to_string(launchError) + ")");
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    waitForOthers(request.waitOthers);
    // Whatever the run's processes left open is let go now that they have ended.
    { FileShareTable letGo; }
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
