#include "SetupRun.h"

#include "RegistryProbe.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

namespace test {

namespace {

// Runs body in a child attached to the machine and returns what it wrote
// to out; body's result says whether there was anything to read.
bool readInChild(const TestMachine& m, const std::function<bool(std::string&)>& body, std::string& out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        m.attach();
        std::string bytes;
        bool found = body(bytes);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        _exit(found ? 0 : 1);
    }
    ::close(fds[1]);
    out.clear();
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}

Lines logLines(const TestMachine& m)
{
    Lines lines;
    if (!m.exists("C:\\MODEM\\SETUP.TXT"))
        return lines;
    std::string text = m.read("C:\\MODEM\\SETUP.TXT");
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a log line without CR LF: " << text.substr(pos);
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

Lines shownPath(const std::vector<ntsim::Json>& transcript)
{
    Lines path;
    for (auto& e : transcript) {
        std::string event = ntsim::stringMember(e, "event");
        std::string what;
        if (event == "page")
            what = std::to_string(e.value("template", 0));
        else if (event == "messagebox" || event == "prompt")
            what = ntsim::stringMember(e, "text");
        path.push_back(event + (what.empty() ? "" : " " + what)
            + (e.contains("answer") ? " " + ntsim::stringMember(e, "answer") : ""));
    }
    return path;
}

std::string controlText(const ntsim::Json& page, int id)
{
    if (!page.contains("controls"))
        return {};
    for (auto& c : page["controls"]) {
        if (c.value("id", 0) == id)
            return ntsim::stringMember(c, "text");
    }
    return {};
}

bool buttonEnabled(const ntsim::Json& page, const char* button)
{
    if (!page.contains("buttons") || !page["buttons"].contains(button))
        return false;
    auto& b = page["buttons"][button];
    return b.value("shown", false) && b.value("enabled", false);
}

std::string registryValue(const TestMachine& m, const std::string& key, const std::string& name)
{
    std::string bytes;
    readInChild(m, [&](std::string& out) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
            return false;
        DWORD size = 0;
        bool found = RegQueryValueExA(h, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        out.assign(size, '\0');
        if (found && size)
            found = RegQueryValueExA(h, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(out.data()), &size)
                == ERROR_SUCCESS;
        RegCloseKey(h);
        return found;
    }, bytes);
    return bytes;
}

bool registryKeyExists(const TestMachine& m, const std::string& key)
{
    std::string unused;
    return readInChild(m, [&](std::string&) { return KeyExists(key); }, unused);
}

void importRegistry(const TestMachine& m, const std::string& body)
{
    std::string file = m.dir() + "/../seed.reg";
    {
        std::ofstream out(file);
        out << "REGEDIT4\n\n" << body;
    }
    auto r = m.tool({ "reg", "import", m.dir(), file });
    ASSERT_EQ(r.exitCode, 0) << r.out;
}

std::string serviceState(const TestMachine& m, const std::string& service)
{
    auto query = m.tool({ "sc", m.dir(), "query", service });
    for (const char* state : { "STOP_PENDING", "START_PENDING", "RUNNING", "STOPPED", "PAUSED" }) {
        if (query.out.find(state) != std::string::npos)
            return state;
    }
    return {};
}

}
