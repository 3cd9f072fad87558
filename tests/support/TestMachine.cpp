#include "TestMachine.h"

#include "cli/NewMachine.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace test {

std::string buildDir() { return MODEM_BUILD_DIR; }
std::string sourceDir() { return MODEM_SOURCE_DIR; }
std::string ntsimTool() { return buildDir() + "/ntsim"; }

int runCommand(const std::vector<std::string>& argv, std::string& output, const std::string& hostCwd)
{
    std::string outFile = "/tmp/modem-test-out-" + std::to_string(getpid()) + "-" + std::to_string(rand());
    pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int nul = ::open("/dev/null", O_RDONLY);
        dup2(nul, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        if (!hostCwd.empty() && chdir(hostCwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ntsim::readWholeFile(outFile, output);
    unlink(outFile.c_str());
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

TestMachine::TestMachine()
{
    char templ[] = "/tmp/modem-machine-XXXXXX";
    const char* made = mkdtemp(templ);
    if (!made) {
        ADD_FAILURE() << "cannot make a temporary directory";
        return;
    }
    m_dir = made;
    ntsim::NewMachineOptions options;
    options.packageDir = buildDir() + "/package";
    options.systemDir = buildDir() + "/system";
    options.windowsDir = buildDir() + "/windows";
    std::string error;
    // mkdtemp made the directory; the machine goes inside it.
    m_dir += "/M";
    if (!ntsim::createMachine(m_dir, options, error))
        ADD_FAILURE() << "cannot create a machine: " << error;
}

TestMachine::~TestMachine()
{
    if (m_dir.empty() || std::getenv("MODEM_KEEP_MACHINES"))
        return;
    std::string parent = m_dir.substr(0, m_dir.find_last_of('/'));
    std::string out;
    runCommand({ "/bin/rm", "-rf", parent }, out);
}

std::string TestMachine::host(const std::string& ntPath) const
{
    ntsim::Machine machine;
    std::string error;
    if (!ntsim::Machine::open(m_dir, machine, error)) {
        ADD_FAILURE() << error;
        return {};
    }
    return machine.hostPath(ntsim::fullNtPath(ntPath, "C:\\"));
}

bool TestMachine::exists(const std::string& ntPath) const
{
    struct stat st;
    return stat(host(ntPath).c_str(), &st) == 0;
}

std::string TestMachine::read(const std::string& ntPath) const
{
    std::string text;
    EXPECT_TRUE(ntsim::readWholeFile(host(ntPath), text)) << "cannot read " << ntPath;
    return text;
}

void TestMachine::write(const std::string& ntPath, const std::string& contents) const
{
    std::string path = host(ntPath);
    ntsim::makeDirectories(path.substr(0, path.find_last_of('/')));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    EXPECT_TRUE(static_cast<bool>(out)) << "cannot write " << ntPath;
}

void TestMachine::remove(const std::string& ntPath) const
{
    EXPECT_EQ(unlink(host(ntPath).c_str()), 0) << "cannot remove " << ntPath;
}

void TestMachine::set(const std::string& assignment) const
{
    std::string error;
    ASSERT_TRUE(ntsim::setMachineSetting(m_dir, assignment, error)) << error;
}

RunResult TestMachine::tool(const std::vector<std::string>& args) const
{
    std::vector<std::string> argv { ntsimTool() };
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result;
    result.exitCode = runCommand(argv, result.out);
    return result;
}

RunResult TestMachine::run(const std::vector<std::string>& args, const std::vector<std::string>& script,
    const std::string& currentDirectory) const
{
    std::string base = m_dir + "/../run-" + std::to_string(rand());
    std::string scriptPath = base + ".script";
    std::string transcriptPath = base + ".jsonl";
    {
        std::ofstream out(scriptPath, std::ios::trunc);
        for (auto& line : script)
            out << line << "\n";
    }
    std::vector<std::string> argv { ntsimTool(), "run", m_dir, "--script", scriptPath, "--transcript", transcriptPath };
    if (!currentDirectory.empty()) {
        argv.push_back("--cwd");
        argv.push_back(currentDirectory);
    }
    argv.push_back("--");
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result;
    result.exitCode = runCommand(argv, result.out);
    auto events = readTranscript(transcriptPath);
    result.transcript = shownEvents(events);
    result.records = machineRecords(events);
    unlink(scriptPath.c_str());
    unlink(transcriptPath.c_str());
    return result;
}

std::vector<ntsim::Json> readTranscript(const std::string& path)
{
    std::vector<ntsim::Json> events;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        ntsim::Json j;
        std::string error;
        if (ntsim::parseJson(line, j, error))
            events.push_back(j);
        else
            ADD_FAILURE() << "bad transcript line: " << line << " (" << error << ")";
    }
    return events;
}

bool isMachineRecord(const ntsim::Json& event)
{
    std::string kind = ntsim::stringMember(event, "event");
    return kind == "exit" || kind == "process" || kind == "device-install" || kind == "unanswered";
}

std::vector<ntsim::Json> shownEvents(const std::vector<ntsim::Json>& events)
{
    std::vector<ntsim::Json> shown;
    for (auto& e : events)
        if (!isMachineRecord(e))
            shown.push_back(e);
    return shown;
}

std::vector<ntsim::Json> machineRecords(const std::vector<ntsim::Json>& events)
{
    std::vector<ntsim::Json> records;
    for (auto& e : events)
        if (isMachineRecord(e))
            records.push_back(e);
    return records;
}

void TestMachine::attach(const std::string& imagePath, const std::string& commandLine,
    const std::string& currentDirectory) const
{
    ntsim::initProcessForTest(m_dir, imagePath, commandLine, currentDirectory);
}

}
