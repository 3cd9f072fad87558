#include "WindowTable.h"

#include "machine/FileLock.h"
#include "machine/Json.h"
#include "machine/Machine.h"
#include "machine/Process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace ntsim::user32 {

namespace {

// The first handle of a machine; handles step by 4 as NT's do.
constexpr uint64_t firstHandle = 0x10010;

std::string tablePath() { return Machine::current().runDir() + "/windows.json"; }
std::string lockPath() { return Machine::current().runDir() + "/windows.lock"; }

struct Table {
    uint64_t next { firstHandle };
    std::vector<WindowEntry> windows;
};

Table load()
{
    Table table;
    std::string text;
    if (!readWholeFile(tablePath(), text))
        return table;
    Json j;
    std::string error;
    if (!parseJson(text, j, error) || !j.is_object())
        return table;
    table.next = static_cast<uint64_t>(intMember(j, "next", static_cast<int64_t>(table.next)));
    const Json& windows = member(j, "windows");
    if (!windows.is_array())
        return table;
    for (auto& w : windows) {
        WindowEntry e;
        e.handle = static_cast<uint64_t>(intMember(w, "handle"));
        e.parent = static_cast<uint64_t>(intMember(w, "parent"));
        e.pid = static_cast<int>(intMember(w, "pid"));
        e.tid = static_cast<int>(intMember(w, "tid"));
        e.processStart = static_cast<uint64_t>(intMember(w, "start"));
        e.title = bytesOf(member(w, "title"));
        e.className = bytesOf(member(w, "class"));
        table.windows.push_back(e);
    }
    return table;
}

void save(const Table& table)
{
    Json j = Json::object();
    j["next"] = static_cast<int64_t>(table.next);
    Json windows = Json::array();
    for (auto& e : table.windows) {
        Json w = Json::object();
        w["handle"] = static_cast<int64_t>(e.handle);
        w["parent"] = static_cast<int64_t>(e.parent);
        w["pid"] = e.pid;
        w["tid"] = e.tid;
        w["start"] = static_cast<int64_t>(e.processStart);
        w["title"] = bytesJson(e.title);
        w["class"] = bytesJson(e.className);
        windows.push_back(std::move(w));
    }
    j["windows"] = std::move(windows);
    makeDirectories(Machine::current().runDir());
    if (!writeFileAtomically(tablePath(), dumpPretty(j)))
        std::fprintf(stderr, "ntsim: cannot write the window table %s\n", tablePath().c_str());
}

void pruneDead(Table& table)
{
    std::vector<WindowEntry> alive;
    for (auto& e : table.windows) {
        if (ownerAlive(e))
            alive.push_back(e);
    }
    table.windows = std::move(alive);
}

// Changes the table under the machine-wide lock.
void change(const std::function<void(Table&)>& edit)
{
    makeDirectories(Machine::current().runDir());
    FileLock lock(lockPath(), FileLock::Mode::Exclusive);
    Table table = load();
    pruneDead(table);
    edit(table);
    save(table);
}

}

uint64_t WindowTable::newHandle()
{
    uint64_t handle = 0;
    change([&](Table& t) {
        handle = t.next;
        t.next += 4;
    });
    return handle;
}

void WindowTable::add(const WindowEntry& entry)
{
    change([&](Table& t) { t.windows.insert(t.windows.begin(), entry); });
}

void WindowTable::remove(uint64_t handle)
{
    change([&](Table& t) {
        for (auto it = t.windows.begin(); it != t.windows.end(); ++it) {
            if (it->handle == handle) {
                t.windows.erase(it);
                return;
            }
        }
    });
}

void WindowTable::removeProcess(int pid)
{
    change([&](Table& t) {
        std::vector<WindowEntry> kept;
        for (auto& e : t.windows) {
            if (e.pid != pid)
                kept.push_back(e);
        }
        t.windows = std::move(kept);
    });
}

void WindowTable::setTitle(uint64_t handle, const std::string& title)
{
    change([&](Table& t) {
        for (auto& e : t.windows) {
            if (e.handle == handle)
                e.title = title;
        }
    });
}

std::vector<WindowEntry> WindowTable::list()
{
    FileLock lock(lockPath(), FileLock::Mode::Shared);
    Table table = load();
    pruneDead(table);
    return table.windows;
}

std::optional<WindowEntry> WindowTable::find(uint64_t handle)
{
    for (auto& e : list()) {
        if (e.handle == handle)
            return e;
    }
    return std::nullopt;
}

uint64_t processStartTime(int pid)
{
    return ntsim::processStartTime(pid);
}

bool ownerAlive(const WindowEntry& entry)
{
    uint64_t start = processStartTime(entry.pid);
    return start != 0 && start == entry.processStart;
}

int currentThreadId()
{
    return static_cast<int>(syscall(SYS_gettid));
}

}
