#include "Screen.h"

#include "Run.h"
#include "machine/FileLock.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace ntsim::desk {

namespace {

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A zombie has ended too: its windows are gone.
bool processAlive(int pid)
{
    std::string stat;
    if (pid <= 0 || !readWholeFile("/proc/" + std::to_string(pid) + "/stat", stat))
        return false;
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

const ScreenWindow* findWindow(const ScreenState& state, const std::string& key)
{
    for (auto& w : state.windows)
        if (w.key == key)
            return &w;
    return nullptr;
}

Json toJson(const ScreenState& s)
{
    Json j = Json::object();
    j["next"] = s.next;
    j["foreground"] = s.foreground;
    j["busy"] = s.busy;
    j["releasedAt"] = s.releasedAt;
    j["holder"] = s.holder;
    Json windows = Json::array();
    for (auto& w : s.windows) {
        Json entry = Json::object();
        entry["key"] = w.key;
        entry["title"] = w.title;
        entry["stamp"] = w.stamp;
        entry["waiting"] = w.waiting;
        entry["pid"] = w.pid;
        windows.push_back(std::move(entry));
    }
    j["windows"] = std::move(windows);
    return j;
}

ScreenState fromJson(const Json& j)
{
    ScreenState s;
    s.next = static_cast<uint64_t>(std::max<int64_t>(intMember(j, "next", 1), 1));
    s.foreground = stringMember(j, "foreground");
    s.busy = boolMember(j, "busy");
    s.releasedAt = intMember(j, "releasedAt");
    s.holder = static_cast<int>(intMember(j, "holder"));
    const Json& windows = member(j, "windows");
    if (windows.is_array())
        for (auto& w : windows)
            s.windows.push_back({ stringMember(w, "key"), stringMember(w, "title"),
                static_cast<uint64_t>(intMember(w, "stamp")), boolMember(w, "waiting"), static_cast<int>(intMember(w, "pid")) });
    return s;
}

// The state, read and written whole under the lock: in the run's desk
// directory, or in this process when it is in no run.
ScreenState& processState()
{
    static ScreenState own;
    return own;
}

template<typename Change>
void changeState(Change change)
{
    const std::string& dir = runDirectory();
    if (dir.empty()) {
        change(processState());
        return;
    }
    FileLock lock(dir + "/screen.lock", FileLock::Mode::Exclusive);
    std::string text, error;
    Json j;
    ScreenState state;
    if (readWholeFile(dir + "/screen", text) && parseJson(text, j, error))
        state = fromJson(j);
    change(state);
    // Waiting windows look often; most looks change nothing.
    std::string changed = dumpLine(toJson(state)) + "\n";
    if (changed != text && !writeFileAtomically(dir + "/screen", changed))
        std::fprintf(stderr, "ntsim: cannot write %s/screen\n", dir.c_str());
}

// Drops what processes that ended left: their waiting and their hold.
void forgetEnded(ScreenState& s)
{
    for (auto& w : s.windows)
        if (w.waiting && !processAlive(w.pid))
            w.waiting = false;
    if (s.holder && !processAlive(s.holder))
        s.holder = 0;
}

// Settles the foreground; a change of it ends the person's answering.
void settle(ScreenState& s)
{
    forgetEnded(s);
    std::string chosen = chooseForeground(s, nowMs());
    if (chosen != s.foreground && !chosen.empty()) {
        s.foreground = chosen;
        s.busy = false;
    }
}

}

std::string chooseForeground(const ScreenState& state, int64_t now)
{
    const ScreenWindow* top = nullptr;
    for (auto& w : state.windows)
        if (w.waiting && (!top || w.stamp > top->stamp))
            top = &w;
    if (!top)
        return {};
    const ScreenWindow* current = findWindow(state, state.foreground);
    if (!current)
        return top->key;
    if (current->waiting)
        return state.busy ? current->key : top->key;
    // Answered a moment ago: it keeps the screen for its next question,
    // unless a newer window waits.
    bool recent = now - state.releasedAt < foregroundGraceMs && processAlive(current->pid);
    return recent && current->stamp >= top->stamp ? current->key : top->key;
}

ScreenSeat::ScreenSeat(const Shown& shown)
{
    static unsigned boxes = 0;
    std::string place = processPlace().empty() ? "1" : processPlace();
    // A page or dialog shows again in its window; every box is a window of its own.
    m_box = shown.event != "page" && shown.event != "dialog";
    std::string kind = m_box ? "box" + std::to_string(++boxes) : shown.event;
    m_key = place + "|" + kind + "|" + shown.title;
    int pid = getpid();
    std::string title = shown.title;
    update([&](ScreenState& s) {
        auto found = std::find_if(s.windows.begin(), s.windows.end(), [&](const ScreenWindow& w) { return w.key == m_key; });
        if (found == s.windows.end()) {
            s.windows.push_back({ m_key, title, s.next++, true, pid });
        } else {
            found->waiting = true;
            found->pid = pid;
        }
    });
}

ScreenSeat::~ScreenSeat()
{
    int pid = getpid();
    update([&](ScreenState& s) {
        for (auto& w : s.windows)
            if (w.key == m_key)
                w.waiting = false;
        if (m_box)
            s.windows.erase(std::remove_if(s.windows.begin(), s.windows.end(),
                                [&](const ScreenWindow& w) { return w.key == m_key; }),
                s.windows.end());
        if (s.foreground == m_key) {
            s.busy = false;
            s.releasedAt = nowMs();
        }
        if (s.holder == pid)
            s.holder = 0;
    });
}

template<typename Change>
void ScreenSeat::update(Change change)
{
    changeState([&](ScreenState& s) {
        change(s);
        settle(s);
        m_others.clear();
        std::vector<const ScreenWindow*> waiting;
        for (auto& w : s.windows)
            if (w.waiting && w.key != m_key)
                waiting.push_back(&w);
        std::sort(waiting.begin(), waiting.end(), [](auto* a, auto* b) { return a->stamp > b->stamp; });
        for (auto* w : waiting)
            m_others.push_back(w->title);
    });
}

bool ScreenSeat::takeTerminal()
{
    bool taken = false;
    int pid = getpid();
    update([&](ScreenState& s) {
        settle(s);
        if (s.foreground == m_key && (s.holder == 0 || s.holder == pid)) {
            s.holder = pid;
            taken = true;
        }
    });
    return taken;
}

bool ScreenSeat::stillForeground()
{
    bool mine = false;
    update([&](ScreenState& s) {
        settle(s);
        mine = s.foreground == m_key;
    });
    return mine;
}

void ScreenSeat::releaseTerminal()
{
    int pid = getpid();
    update([&](ScreenState& s) {
        if (s.holder == pid)
            s.holder = 0;
    });
}

void ScreenSeat::setBusy()
{
    update([&](ScreenState& s) {
        if (s.foreground == m_key)
            s.busy = true;
    });
}

bool ScreenSeat::switchToNext()
{
    bool switched = false;
    update([&](ScreenState& s) {
        // The next is the least recently active of the others, as a task
        // switcher that sends the current window to the back.
        ScreenWindow* next = nullptr;
        for (auto& w : s.windows)
            if (w.waiting && w.key != m_key && (!next || w.stamp < next->stamp))
                next = &w;
        if (!next)
            return;
        next->stamp = s.next++;
        s.foreground = next->key;
        s.busy = false;
        switched = true;
    });
    return switched;
}

}
