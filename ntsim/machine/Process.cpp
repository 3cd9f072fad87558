#include "Process.h"

#include "FileLock.h"
#include "Machine.h"
#include "NtPath.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace ntsim {

ProcessContext& currentProcess()
{
    static ProcessContext context;
    return context;
}

void initProcessFromHost(int argc, char** argv)
{
    Machine& machine = Machine::current();
    ProcessContext& ctx = currentProcess();
    if (const char* image = std::getenv("NTSIM_IMAGE"); image && *image) {
        ctx.imagePath = image;
    } else {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = 0;
            ctx.imagePath = machine.ntPath(exe);
        }
    }
    if (ctx.imagePath.empty()) {
        std::fprintf(stderr, "ntsim: the program's image lies outside the machine's drive C:\n");
        std::exit(70);
    }
    if (const char* cmd = std::getenv("NTSIM_CMDLINE")) {
        ctx.commandLine = cmd;
    } else {
        std::vector<std::string> args { ctx.imagePath };
        for (int i = 1; i < argc; ++i)
            args.emplace_back(argv[i]);
        ctx.commandLine = quoteCommandLine(args);
    }
    std::string cwd;
    if (const char* dir = std::getenv("NTSIM_CWD"); dir && *dir)
        cwd = fullNtPath(dir, "C:\\");
    if (cwd.empty())
        cwd = ntParent(ctx.imagePath);
    ctx.currentDirectory = cwd;
}

uint64_t processStartTime(int pid)
{
    std::string stat;
    if (pid <= 0 || !readWholeFile("/proc/" + std::to_string(pid) + "/stat", stat))
        return 0;
    // The fields after the parenthesised command name: state is the first,
    // the start time the twentieth.
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < stat.size()) {
        size_t blank = stat.find(' ', pos);
        if (blank == std::string::npos)
            blank = stat.size();
        fields.push_back(stat.substr(pos, blank - pos));
        pos = blank + 1;
    }
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X")
        return 0;
    return std::strtoull(fields[19].c_str(), nullptr, 10);
}

ProcessIdentity thisProcess()
{
    static std::mutex mutex;
    static ProcessIdentity known;
    std::lock_guard lock(mutex);
    int pid = getpid();
    if (known.pid != pid)
        known = { pid, processStartTime(pid) };
    return known;
}

bool processRunning(const ProcessIdentity& process)
{
    if (process.pid == getpid())
        return process == thisProcess();
    return process.start != 0 && processStartTime(process.pid) == process.start;
}

void initProcessForTest(const std::string& machineRoot, const std::string& imagePath,
    const std::string& commandLine, const std::string& currentDirectory)
{
    Machine::attach(machineRoot);
    ProcessContext& ctx = currentProcess();
    ctx.imagePath = imagePath;
    ctx.commandLine = commandLine.empty() ? quoteCommandLine({ imagePath }) : commandLine;
    ctx.currentDirectory = currentDirectory.empty() ? ntParent(imagePath) : currentDirectory;
}

std::string quoteCommandLine(const std::vector<std::string>& args)
{
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i)
            out += ' ';
        const std::string& a = args[i];
        bool quote = a.empty() || a.find_first_of(" \t\"") != std::string::npos;
        if (!quote) {
            out += a;
            continue;
        }
        out += '"';
        size_t backslashes = 0;
        for (char c : a) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"')
                out.append(backslashes * 2 + 1, '\\');
            else
                out.append(backslashes, '\\');
            backslashes = 0;
            out += c;
        }
        out.append(backslashes * 2, '\\');
        out += '"';
    }
    return out;
}

std::vector<std::string> splitCommandLine(const std::string& line)
{
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')))
                    arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

}
