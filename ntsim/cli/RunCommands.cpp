#include "Commands.h"
#include "NewMachine.h"

#include "kernel32/Launch.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

struct RunRequest {
    std::string machineDir;
    std::string script;
    std::string transcript;
    std::string currentDirectory { "C:\\" };
    Args program;
};

bool parseRun(const Args& args, RunRequest& request, std::string& error)
{
    size_t i = 0;
    if (args.empty()) {
        error = "usage: ntsim run DIR [--script FILE] [--transcript FILE] [--cwd NTPATH] -- NTPATH ARGS...";
        return false;
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
        else {
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

}

int commandRun(const Args& args)
{
    RunRequest request;
    std::string error;
    if (!parseRun(args, request, error))
        return usageError(error);
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

    // The desk of the run: its answers, the position in them that the run's
    // processes share, and the record of what was shown.
    std::string cursor;
    if (!request.script.empty()) {
        if (access(request.script.c_str(), R_OK) != 0)
            return usageError("run: cannot read the script " + request.script);
        makeDirectories(machine.runDir() + "/desk");
        cursor = machine.runDir() + "/desk/cursor." + std::to_string(getpid());
        writeFileAtomically(cursor, "");
        setenv("NTSIM_SCRIPT", request.script.c_str(), 1);
        setenv("NTSIM_SCRIPT_CURSOR", cursor.c_str(), 1);
    } else {
        unsetenv("NTSIM_SCRIPT");
        unsetenv("NTSIM_SCRIPT_CURSOR");
    }
    if (!request.transcript.empty()) {
        int fd = ::open(request.transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return usageError("run: cannot write the transcript " + request.transcript);
        ::close(fd);
        setenv("NTSIM_TRANSCRIPT", request.transcript.c_str(), 1);
    } else {
        unsetenv("NTSIM_TRANSCRIPT");
    }

    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return usageError("run: cannot start a process");
    if (pid == 0)
        execProgram(image, commandLine, cwd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!cursor.empty())
        unlink(cursor.c_str());
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "ntsim: %s was killed by signal %d\n", image.c_str(), WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

}
