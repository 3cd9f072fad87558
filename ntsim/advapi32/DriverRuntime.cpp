#include "DriverRuntime.h"

#include "DriverSoftModem.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <sys/stat.h>

#include <cstdlib>

namespace ntsim {

namespace {

bool startsWithNoCase(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string expandSystemRoot(const std::string& path)
{
    std::string out;
    for (size_t i = 0; i < path.size();) {
        if (path[i] == '%') {
            size_t close = path.find('%', i + 1);
            if (close != std::string::npos) {
                std::string name = path.substr(i + 1, close - i - 1);
                if (equalsNoCase(name, "SystemRoot") || equalsNoCase(name, "windir")) {
                    out += Machine::current().windowsDir();
                    i = close + 1;
                    continue;
                }
            }
        }
        out += path[i++];
    }
    return out;
}

std::string programPart(const std::string& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t close = commandLine.find('"', 1);
        return commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    size_t blank = commandLine.find(' ');
    return commandLine.substr(0, blank);
}

bool isDirectory(const std::string& host)
{
    struct stat st;
    return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}

std::string serviceImagePath(const std::string& service, const std::string& imagePath, bool driver)
{
    const std::string root = Machine::current().windowsDir();
    std::string path = expandSystemRoot(imagePath);
    if (!driver) {
        path = programPart(path);
        if (path.empty())
            return {};
        if (path.size() > 1 && path[1] == ':')
            return fullNtPath(path, root);
        return fullNtPath(ntJoin(Machine::current().systemDir(), path), root);
    }
    if (path.empty())
        return ntJoin(Machine::current().systemDir(), "drivers\\" + service + ".sys");
    if (startsWithNoCase(path, "\\SystemRoot\\"))
        return fullNtPath(root + path.substr(11), root);
    if (startsWithNoCase(path, "\\??\\"))
        path = path.substr(4);
    if (path.size() > 1 && path[1] == ':')
        return fullNtPath(path, root);
    if (path[0] == '\\')
        return {}; // an object-manager path that names no file of ours
    return fullNtPath(ntJoin(root, path), root);
}

uint32_t loadServiceImage(const std::string& ntPath, DriverImage& out)
{
    if (ntPath.empty())
        return ERROR_PATH_NOT_FOUND;
    Machine& machine = Machine::current();
    std::string host = machine.hostPath(ntPath);
    if (host.empty())
        return ERROR_PATH_NOT_FOUND;
    std::string parent = machine.hostPath(ntParent(ntPath));
    if (!isDirectory(parent))
        return ERROR_PATH_NOT_FOUND;
    struct stat st;
    if (stat(host.c_str(), &st) != 0)
        return ERROR_FILE_NOT_FOUND;
    std::string text;
    if (S_ISDIR(st.st_mode) || !readWholeFile(host, text))
        return ERROR_ACCESS_DENIED;
    return DriverImage::parse(text, out);
}

namespace {

class RefuseStopDriver final : public DriverBehaviour {
public:
    using DriverBehaviour::DriverBehaviour;
    DWORD controlsAccepted() const override { return 0; }
};

class StopPendingDriver final : public DriverBehaviour {
public:
    using DriverBehaviour::DriverBehaviour;
    DWORD stop(Json&) override { return SERVICE_STOP_PENDING; }
};

class PausingDriver final : public DriverBehaviour {
public:
    using DriverBehaviour::DriverBehaviour;
    DWORD controlsAccepted() const override { return SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE; }
};

class FailingDriver final : public DriverBehaviour {
public:
    using DriverBehaviour::DriverBehaviour;
    uint32_t start(Json&) override
    {
        auto error = image().field("Error");
        if (!error)
            return ERROR_GEN_FAILURE;
        char* end = nullptr;
        unsigned long code = std::strtoul(error->c_str(), &end, 0);
        if (error->empty() || *end || code == 0)
            return ERROR_GEN_FAILURE;
        return static_cast<uint32_t>(code);
    }
};

}

std::unique_ptr<DriverBehaviour> makeDriverBehaviour(const std::string& service, const DriverImage& image)
{
    switch (image.behaviour) {
    case DriverBehaviourKind::SoftModem:
        return std::make_unique<SoftModemDriver>(service, image);
    case DriverBehaviourKind::RefuseStop:
        return std::make_unique<RefuseStopDriver>(service, image);
    case DriverBehaviourKind::StopPending:
        return std::make_unique<StopPendingDriver>(service, image);
    case DriverBehaviourKind::Pauses:
        return std::make_unique<PausingDriver>(service, image);
    case DriverBehaviourKind::FailStart:
        return std::make_unique<FailingDriver>(service, image);
    case DriverBehaviourKind::Plain:
        break;
    }
    return std::make_unique<DriverBehaviour>(service, image);
}

}
