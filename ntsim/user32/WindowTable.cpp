#include "WindowTable.h"

#include "../machine/FileLock.h"
#include "../machine/Json.h"
#include "../machine/Machine.h"
#include "../machine/Process.h"

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
    if (!Json::parse(text, j, error) || !j.isObject())
        return table;
    if (j["next"].isNumber())
        table.next = static_cast<uint64_t>(j["next"].asInt());
    for (auto& w : j["windows"].items()) {
        WindowEntry e;
        e.handle = static_cast<uint64_t>(w["handle"].asInt());
        e.parent = static_cast<uint64_t>(w["parent"].asInt());
        e.pid = static_cast<int>(w["pid"].asInt());
        e.tid = static_cast<int>(w["tid"].asInt());
        e.processStart = static_cast<uint64_t>(w["start"].asInt());
        e.title = w["title"].asString();
        e.className = w["class"].asString();
        table.windows.push_back(e);
    }
    return table;
}

void save(const Table& table)
{
    Json j = Json::object();
    j.set("next", static_cast<int64_t>(table.next));
    Json windows = Json::array();
    for (auto& e : table.windows) {
        Json w = Json::object();
        w.set("handle", static_cast<int64_t>(e.handle));
        w.set("parent", static_cast<int64_t>(e.parent));
        w.set("pid", e.pid);
        w.set("tid", e.tid);
        w.set("start", static_cast<int64_t>(e.processStart));
        w.set("title", e.title);
        w.set("class", e.className);
        windows.push(std::move(w));
    }
    j.set("windows", std::move(windows));
    makeDirectories(Machine::current().runDir());
    if (!writeFileAtomically(tablePath(), j.pretty() + "\n"))
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
