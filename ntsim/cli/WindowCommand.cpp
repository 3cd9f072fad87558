// ntsim window DIR --title TEXT: starts window.exe in the machine and
// returns once its window exists, leaving it running.
#include "Commands.h"
#include "NewMachine.h"

#include "kernel32/Launch.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/Process.h"
#include "machine/RunStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace ntsim {

namespace {

const char windowImage[] = "C:\\WINNT\\system32\\window.exe";

// In the child: starts window.exe, detached from the tool, and ends.
[[noreturn]] void startWindowProgram(const std::string& title, int readyFd)
{
    setsid();
    int nul = ::open("/dev/null", O_RDWR);
    if (nul >= 0) {
        dup2(nul, 0);
        dup2(nul, 1);
        if (nul > 2)
            ::close(nul);
    }
    int fd = dup(readyFd); // without close-on-exec, for the program
    setenv("NTSIM_READY_FD", std::to_string(fd).c_str(), 1);
    std::string commandLine = quoteCommandLine({ windowImage, title });
    uint32_t error = 0;
    pid_t program = startProgram(windowImage, commandLine,
        programEnvironment(windowImage, commandLine, Machine::current().systemDir(), hostEnvironment()), error);
    if (program < 0)
        std::fprintf(stderr, "ntsim: cannot start %s (error %u)\n", windowImage, error);
    _exit(program < 0 ? 1 : 0);
}

}

namespace {

int ownWindow(const std::string& dir, const std::string& title)
{
    Machine machine;
    std::string error;
    if (!Machine::open(dir, machine, error))
        return usageError(error);
    if (!registryIsSound(machine, error))
        return failure(error);
    Machine::attach(machine.root());
    if (!RunStore::tryCurrent(error))
        return failure(error);
    std::string hostImage = machine.hostPath(windowImage);
    struct stat st;
    if (hostImage.empty() || stat(hostImage.c_str(), &st) != 0)
        return usageError(std::string("the machine has no ") + windowImage);

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return usageError(std::string("cannot make a pipe: ") + std::strerror(errno));
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return usageError(std::string("cannot fork: ") + std::strerror(errno));
    if (child == 0) {
        // The program is started from a child that ends at once, so that
        // it becomes an orphan that nobody need wait for.
        ::close(ready[0]);
        startWindowProgram(title, ready[1]);
    }
    ::close(ready[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }

    std::string line;
    readAll(ready[0], line);
    ::close(ready[0]);
    if (line.empty() || line.back() != '\n') {
        std::fprintf(stderr, "ntsim: window.exe ended before its window existed\n");
        return 1;
    }
    // "HANDLE PID"
    std::fputs(line.c_str(), stdout);
    return 0;
}

}

Runner defineWindow(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto title = std::make_shared<std::string>();
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("--title", *title, "The window's title")->required()->option_text("TEXT");
    verb.footer("Starts C:\\WINNT\\system32\\window.exe, prints \"HANDLE PID\" once its window exists and leaves it\n"
                "running until the window is closed (WM_CLOSE).");
    return [=] { return ownWindow(*dir, *title); };
}

}
