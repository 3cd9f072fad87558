#include "Launch.h"
#include "FilePath.h"
#include "FileShare.h"

#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace ntsim {

namespace {

enum class ImageKind { Missing, Program, Foreign };

ImageKind imageKind(const std::string& ntPath)
{
    std::string host = Machine::current().hostPath(ntPath);
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return ImageKind::Missing;
    char magic[4] = {};
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ImageKind::Foreign;
    ssize_t n = ::read(fd, magic, sizeof magic);
    ::close(fd);
    if (n == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0)
        return ImageKind::Program;
    return ImageKind::Foreign;
}

std::string withDefaultExtension(const std::string& name)
{
    size_t part = name.find_last_of("\\/:");
    std::string file = part == std::string::npos ? name : name.substr(part + 1);
    if (file.find('.') == std::string::npos)
        return name + ".exe";
    return name;
}

// Looks for one name: a path is taken as it is, a bare name is searched
// for in the directories NT searches.
std::string findImage(const std::string& name, bool search, const std::string& currentDirectory, uint32_t& error)
{
    std::vector<std::string> candidates;
    bool bare = name.find_first_of("\\/:") == std::string::npos;
    if (search && bare) {
        std::vector<std::string> dirs;
        const std::string& image = currentProcess().imagePath;
        if (!image.empty())
            dirs.push_back(ntParent(image));
        dirs.push_back(currentDirectory);
        dirs.push_back("C:\\WINNT\\system32");
        dirs.push_back("C:\\WINNT\\system");
        dirs.push_back("C:\\WINNT");
        for (auto& dir : dirs)
            candidates.push_back(ntJoin(dir, name));
    } else {
        std::string full = fullNtPath(name, currentDirectory);
        if (full.empty()) {
            error = ERROR_PATH_NOT_FOUND;
            return {};
        }
        candidates.push_back(full);
    }
    for (auto& candidate : candidates) {
        std::string full = fullNtPath(candidate, currentDirectory);
        if (full.empty())
            continue;
        switch (imageKind(full)) {
        case ImageKind::Program:
            error = 0;
            return full;
        case ImageKind::Foreign:
            error = ERROR_BAD_EXE_FORMAT;
            return {};
        case ImageKind::Missing:
            break;
        }
    }
    error = ERROR_FILE_NOT_FOUND;
    if (!bare || !search) {
        std::string full = fullNtPath(candidates.front(), currentDirectory);
        std::string host = full.empty() ? std::string() : Machine::current().hostPath(ntParent(full));
        struct stat st;
        if (host.empty() || stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            error = ERROR_PATH_NOT_FOUND;
    }
    return {};
}

}

std::string resolveProgram(const std::string& applicationName, const std::string& commandLine,
    const std::string& currentDirectory, uint32_t& error)
{
    if (!applicationName.empty())
        return findImage(applicationName, false, currentDirectory, error);

    size_t start = commandLine.find_first_not_of(" \t");
    if (start == std::string::npos) {
        error = ERROR_FILE_NOT_FOUND;
        return {};
    }
    if (commandLine[start] == '"') {
        size_t end = commandLine.find('"', start + 1);
        std::string name = commandLine.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        return findImage(withDefaultExtension(name), true, currentDirectory, error);
    }
    // Unquoted: NT tries each run of words up to a blank in turn, so
    // "C:\Program Files\x.exe" still names its program.
    uint32_t firstError = 0;
    size_t end = start;
    for (;;) {
        end = commandLine.find_first_of(" \t", end);
        std::string name = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
        uint32_t attempt = 0;
        std::string found = findImage(withDefaultExtension(name), true, currentDirectory, attempt);
        if (!found.empty() || attempt == ERROR_BAD_EXE_FORMAT) {
            error = attempt;
            return found;
        }
        if (!firstError)
            firstError = attempt;
        if (end == std::string::npos)
            break;
        end = commandLine.find_first_not_of(" \t", end);
        if (end == std::string::npos)
            break;
    }
    error = firstError;
    return {};
}

std::vector<std::string> hostEnvironment()
{
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e)
        out.emplace_back(*e);
    return out;
}

std::vector<std::string> programEnvironment(const std::string& imageNtPath, const std::string& commandLine,
    const std::string& currentDirectory, const std::vector<std::string>& base)
{
    std::vector<std::string> out;
    for (auto& entry : base) {
        std::string name = entry.substr(0, entry.find('='));
        if (name == "NTSIM_MACHINE" || name == "NTSIM_IMAGE" || name == "NTSIM_CMDLINE" || name == "NTSIM_CWD"
            || name == "NTSIM_DESK_PLACE" || name == "NTSIM_DESK_AFTER")
            continue;
        out.push_back(entry);
    }
    out.push_back("NTSIM_MACHINE=" + Machine::current().root());
    out.push_back("NTSIM_IMAGE=" + imageNtPath);
    out.push_back("NTSIM_CMDLINE=" + commandLine);
    out.push_back("NTSIM_CWD=" + currentDirectory);
    return out;
}

namespace {

// Replaces the calling process with the program; if exec fails, writes
// its errno to reportFd and exits with 127.
[[noreturn]] void execProgramWith(const std::string& imageNtPath, const std::string& commandLine,
    const std::vector<std::string>& environment, int reportFd)
{
    std::string host = Machine::current().hostPath(imageNtPath);
    std::vector<std::string> args = splitCommandLine(commandLine);
    if (args.empty())
        args.push_back(imageNtPath);
    args[0] = host;
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(host.c_str(), argv.data(), envp.data());
    int error = errno;
    ssize_t ignored = ::write(reportFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

}

pid_t startProgram(const std::string& imageNtPath, const std::string& commandLine,
    const std::vector<std::string>& environment, uint32_t& error)
{
    std::string host = Machine::current().hostPath(imageNtPath);
    // The table stays locked until the image is on record, so that no open
    // slips in between the check and the start.
    FileShareTable table;
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0 || (table.settle(fileIdOf(st)) && stat(host.c_str(), &st) != 0)) {
        error = ERROR_FILE_NOT_FOUND;
        return -1;
    }
    FileId id = fileIdOf(st);
    if (table.deletePending(id)) {
        error = ERROR_ACCESS_DENIED;
        return -1;
    }
    // What NT's loader asks when it opens the image to map it.
    if (!table.allows(id, fileExecute | fileReadData, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
        error = ERROR_SHARING_VIOLATION;
        return -1;
    }
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return -1;
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        ::close(report[0]);
        ::close(report[1]);
        error = ERROR_NOT_ENOUGH_MEMORY;
        return -1;
    }
    if (pid == 0) {
        ::close(report[0]);
        execProgramWith(imageNtPath, commandLine, environment, report[1]);
    }
    ::close(report[1]);
    int execError = 0;
    ssize_t n;
    while ((n = ::read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) { }
    ::close(report[0]);
    if (n > 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        error = execError == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED;
        return -1;
    }
    OpenFile image;
    image.owner = { pid, processStartTime(pid) };
    // Serials number a process's own opens; its image is none of them.
    image.serial = 0;
    image.id = id;
    image.access = fileExecute;
    image.share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    image.image = true;
    image.hostPath = host;
    // A program that has already ended holds nothing.
    if (image.owner.start != 0)
        table.add(image);
    error = 0;
    return pid;
}

}
