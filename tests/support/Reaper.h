// A child process a test started, ended when the test leaves its scope
// however it leaves (a failed assertion returns early): killed if it is
// still running, reaped, and its terminal closed.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

struct Reaper {
    pid_t pid { -1 };
    int master { -1 }; // the child's pseudo-terminal, when it has one

    Reaper() = default;
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;
    ~Reaper()
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != pid) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (master >= 0)
            ::close(master);
    }
};

}
