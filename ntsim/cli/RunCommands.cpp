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

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <memory>

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
                "locale=0409|0407|0411|... (the locale brings its ANSI and OEM code pages).");
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
    std::string currentDirectory { "C:\\" };
    std::vector<std::string> program;
};

int run(const RunRequest& request);

}

Runner defineRun(CLI::App& verb)
{
    auto request = std::make_shared<RunRequest>();
    verb.add_option("DIR", request->machineDir, "The machine")->required();
    verb.add_option("--script", request->script, "Answer every box and page from FILE, one answer a line")
        ->option_text("FILE");
    verb.add_option("--transcript", request->transcript, "Record every box and page shown in FILE, one JSON object a line")
        ->option_text("FILE");
    verb.add_option("--cwd", request->currentDirectory, "The program's current directory (default C:\\)")
        ->option_text("NTPATH");
    verb.add_option("PROGRAM", request->program, "After --: the program's NT path and its arguments")->required();
    verb.footer("Example: ntsim run M --script answers.txt -- 'C:\\MODEM\\SETUP.EXE' -l\n"
                "The exit status is the program's; a box the script has no answer for ends the run with 3.");
    return [request] { return run(*request); };
}

namespace {

int run(const RunRequest& given)
{
    RunRequest request = given;
    if (!request.script.empty())
        request.script = absoluteHostPath(request.script);
    if (!request.transcript.empty())
        request.transcript = absoluteHostPath(request.transcript);
    std::string error;
    Machine machine;
    if (!Machine::open(request.machineDir, machine, error))
        return usageError(error);
    if (!registryIsSound(machine.registryDir(), error))
        return failure(error);
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

}
