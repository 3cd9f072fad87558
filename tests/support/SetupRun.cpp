#include "SetupRun.h"

#include "RegistryProbe.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

namespace {

// The pages' windows, by handle, to name a box's owner.
std::string ownerName(const ntsim::Json& owner, const std::vector<ntsim::Json>& transcript)
{
    if (owner.is_null())
        return "none";
    for (auto& e : transcript) {
        if (ntsim::stringMember(e, "event") != "page")
            continue;
        if (e.contains("sheet") && e["sheet"] == owner)
            return "sheet";
        if (e.contains("window") && e["window"] == owner)
            return "page " + std::to_string(e.value("template", 0));
    }
    return "window";
}

std::string oneLine(std::string text)
{
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos;)
        text.replace(at, 1, "\\n");
    return text;
}

}

std::string styleName(unsigned style)
{
    static const char* const types[] = { "MB_OK", "MB_OKCANCEL", "MB_ABORTRETRYIGNORE", "MB_YESNOCANCEL", "MB_YESNO",
        "MB_RETRYCANCEL" };
    static const char* const icons[] = { "", "|MB_ICONERROR", "|MB_ICONQUESTION", "|MB_ICONEXCLAMATION",
        "|MB_ICONINFORMATION" };
    unsigned type = style & MB_TYPEMASK;
    unsigned icon = (style & MB_ICONMASK) >> 4;
    std::string name = type < 6 ? types[type] : "type " + std::to_string(type);
    name += icon < 5 ? icons[icon] : "|icon " + std::to_string(icon);
    unsigned rest = style & ~(MB_TYPEMASK | MB_ICONMASK);
    if (rest) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "|0x%X", rest);
        name += hex;
    }
    return name;
}

Lines boxLines(const std::vector<ntsim::Json>& transcript)
{
    Lines lines;
    for (auto& e : transcript) {
        std::string event = ntsim::stringMember(e, "event");
        std::string owner = e.contains("owner") ? ownerName(e["owner"], transcript) : "unrecorded";
        std::string what = ntsim::stringMember(e, "caption") + ": " + oneLine(ntsim::stringMember(e, "text"));
        std::string answer = e.contains("answer") ? " -> " + ntsim::stringMember(e, "answer") : "";
        if (event == "messagebox")
            lines.push_back("box " + owner + " " + styleName(static_cast<unsigned>(e.value("style", 0))) + " " + what
                + answer);
        else if (event == "prompt")
            lines.push_back("prompt " + ntsim::stringMember(e, "kind") + " " + owner + " " + what + answer);
    }
    return lines;
}

const ntsim::Json* pageOf(const std::vector<ntsim::Json>& transcript, int id)
{
    for (auto& e : transcript) {
        if (ntsim::stringMember(e, "event") == "page" && e.value("template", 0) == id)
            return &e;
    }
    return nullptr;
}

Lines listItems(const ntsim::Json& page)
{
    Lines items;
    if (!page.contains("controls"))
        return items;
    for (auto& c : page["controls"]) {
        if (c.value("id", 0) == 9000 && c.contains("items"))
            for (auto& item : c["items"])
                items.push_back(item.get<std::string>());
    }
    return items;
}

std::string buttonStates(const ntsim::Json& page)
{
    std::string line;
    for (const char* name : { "back", "next", "finish", "cancel" }) {
        std::string state = "missing";
        if (page.contains("buttons") && page["buttons"].contains(name)) {
            auto& b = page["buttons"][name];
            state = !b.value("shown", false) ? "hidden" : b.value("enabled", false) ? "on" : "off";
        }
        line += (line.empty() ? "" : " ") + std::string(name) + ":" + state;
    }
    // A sheet without Help has no such button at all.
    if (page.contains("buttons") && page["buttons"].contains("help"))
        line += " help:" + std::string(page["buttons"]["help"].value("enabled", false) ? "on" : "off");
    return line;
}

std::vector<ntsim::Json> recordsOf(const RunResult& run, const char* event)
{
    std::vector<ntsim::Json> out;
    for (auto& r : run.records)
        if (ntsim::stringMember(r, "event") == event)
            out.push_back(r);
    return out;
}

void expectHandlesAtExit(const RunResult& run, const std::map<std::string, HandlesByKind>& leftOpen)
{
    size_t ends = 0;
    for (auto& r : run.records) {
        if (ntsim::stringMember(r, "event") != "exit")
            continue;
        ++ends;
        std::string program = ntsim::stringMember(r, "program");
        ntsim::Json expected = ntsim::Json::object();
        if (auto it = leftOpen.find(program); it != leftOpen.end())
            for (auto& [kind, count] : it->second)
                expected[kind] = count;
        EXPECT_EQ(r["handles"], expected) << program << " ended holding these";
    }
    EXPECT_GT(ends, 0u) << "the run recorded no process's end";
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
