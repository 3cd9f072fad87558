#include "DeskFiles.h"

#include "machine/FileLock.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace test {

DeskFiles::DeskFiles(const TestMachine& m, const std::vector<std::string>& script)
    : m_base(m.dir() + "/../desk")
{
    // A fresh run: no place in an earlier script, no earlier transcript.
    unlink((m_base + ".cursor").c_str());
    unlink(transcriptPath().c_str());
    std::ofstream out(scriptPath());
    for (auto& line : script)
        out << line << "\n";
    setenv("NTSIM_SCRIPT", scriptPath().c_str(), 1);
    setenv("NTSIM_SCRIPT_CURSOR", (m_base + ".cursor").c_str(), 1);
    setenv("NTSIM_TRANSCRIPT", transcriptPath().c_str(), 1);
}

DeskFiles::~DeskFiles()
{
    unsetenv("NTSIM_SCRIPT");
    unsetenv("NTSIM_SCRIPT_CURSOR");
    unsetenv("NTSIM_TRANSCRIPT");
}

std::vector<std::string> DeskFiles::transcript() const
{
    std::string text;
    ntsim::readWholeFile(transcriptPath(), text);
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> templateAnswers(const std::vector<ntsim::Json>& events)
{
    std::vector<std::string> out;
    for (auto& e : events)
        out.push_back(std::to_string(ntsim::intMember(e, "template")) + " " + ntsim::stringMember(e, "answer"));
    return out;
}

int inChild(const std::function<int()>& body, std::string& err)
{
    std::string errPath = "/tmp/modem-test-err-" + std::to_string(getpid()) + "-" + std::to_string(rand());
    pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        ::close(fd);
        int status = body();
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ntsim::readWholeFile(errPath, err);
    unlink(errPath.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}
