// Events. Named ones live in the machine's run/ directory, so that all the
// machine's processes share them; they vanish with their last handle.
#include "Waitable.h"

#include "machine/ApiCall.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"

#include <windows.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

namespace ntsim {

namespace {

bool pidAlive(int pid)
{
    return kill(pid, 0) == 0 || errno == EPERM;
}

// One named event's state file: its kind and state, then the processes
// that hold handles to it with their counts.
struct NamedEventState {
    bool manualReset { false };
    bool signaled { false };
    std::map<int, int> holders;

    static bool load(const std::string& path, NamedEventState& out)
    {
        std::string text;
        if (!readWholeFile(path, text))
            return false;
        std::istringstream in(text);
        int manual = 0, signaled = 0;
        in >> manual >> signaled;
        if (!in)
            return false;
        out.manualReset = manual;
        out.signaled = signaled;
        int pid = 0, count = 0;
        while (in >> pid >> count)
            if (pidAlive(pid))
                out.holders[pid] = count;
        return !out.holders.empty();
    }

    void save(const std::string& path) const
    {
        std::string text = std::to_string(manualReset ? 1 : 0) + " " + std::to_string(signaled ? 1 : 0) + "\n";
        for (auto& [pid, count] : holders)
            text += std::to_string(pid) + " " + std::to_string(count) + "\n";
        writeFileAtomically(path, text);
    }
};

std::string eventsDir()
{
    std::string dir = Machine::current().runDir() + "/events";
    makeDirectories(dir);
    return dir;
}

// Object names are case-sensitive; the file name spells the name in hex.
std::string eventPath(const std::string& name)
{
    std::string path = eventsDir() + "/";
    char hex[3];
    for (unsigned char c : name) {
        std::snprintf(hex, sizeof hex, "%02x", c);
        path += hex;
    }
    return path;
}

std::string lockPath() { return eventsDir() + "/.lock"; }

// Set while this thread holds the lock on named events (NamedEventsLock).
thread_local bool t_eventsLocked = false;

// The lock on named events, unless this thread holds it already.
std::unique_ptr<FileLock> lockEvents()
{
    if (t_eventsLocked)
        return nullptr;
    return std::make_unique<FileLock>(lockPath(), FileLock::Mode::Exclusive);
}

class Event : public Waitable {
public:
    explicit Event(DWORD access)
        : Waitable(Type::Event)
        , m_access(access)
    {
    }
    virtual bool set() = 0;
    virtual bool reset() = 0;
    bool mayModify() const { return m_access & (EVENT_MODIFY_STATE | GENERIC_WRITE | GENERIC_ALL); }
    bool maySynchronize() const override { return m_access & (SYNCHRONIZE | GENERIC_READ | GENERIC_ALL); }

private:
    DWORD m_access;
};

class LocalEvent final : public Event {
public:
    LocalEvent(bool manualReset, bool signaled)
        : Event(EVENT_ALL_ACCESS)
        , m_manualReset(manualReset)
        , m_signaled(signaled)
    {
    }
    bool tryWait(DWORD&) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_signaled)
            return false;
        if (!m_manualReset)
            m_signaled = false;
        return true;
    }
    bool signaled(DWORD&) override
    {
        std::lock_guard lock(m_mutex);
        return m_signaled;
    }
    void satisfy() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_manualReset)
            m_signaled = false;
    }
    bool set() override
    {
        std::lock_guard lock(m_mutex);
        m_signaled = true;
        return true;
    }
    bool reset() override
    {
        std::lock_guard lock(m_mutex);
        m_signaled = false;
        return true;
    }

private:
    std::mutex m_mutex;
    bool m_manualReset;
    bool m_signaled;
};

class NamedEvent final : public Event {
public:
    NamedEvent(std::string path, DWORD access)
        : Event(access)
        , m_path(std::move(path))
    {
    }
    ~NamedEvent() override
    {
        auto lock = lockEvents();
        NamedEventState state;
        if (!NamedEventState::load(m_path, state))
            return;
        if (--state.holders[getpid()] <= 0)
            state.holders.erase(getpid());
        if (state.holders.empty())
            unlink(m_path.c_str());
        else
            state.save(m_path);
    }
    bool tryWait(DWORD& error) override
    {
        return change([](NamedEventState& s) {
            if (!s.signaled)
                return false;
            if (!s.manualReset)
                s.signaled = false;
            return true;
        }, error);
    }
    bool signaled(DWORD& error) override
    {
        return change([](NamedEventState& s) { return s.signaled; }, error);
    }
    void satisfy() override
    {
        DWORD error = 0;
        change([](NamedEventState& s) {
            if (!s.manualReset)
                s.signaled = false;
            return true;
        }, error);
    }
    std::string identity() const override { return m_path; }
    bool set() override
    {
        DWORD error = 0;
        change([](NamedEventState& s) { s.signaled = true; return true; }, error);
        return error == 0;
    }
    bool reset() override
    {
        DWORD error = 0;
        change([](NamedEventState& s) { s.signaled = false; return true; }, error);
        return error == 0;
    }

private:
    template<typename F>
    bool change(F f, DWORD& error)
    {
        auto lock = lockEvents();
        NamedEventState state;
        if (!NamedEventState::load(m_path, state)) {
            error = ERROR_INVALID_HANDLE;
            return false;
        }
        bool before = state.signaled;
        bool result = f(state);
        if (state.signaled != before)
            state.save(m_path);
        return result;
    }

    std::string m_path;
};

std::shared_ptr<Event> eventOf(HANDLE handle)
{
    return lookupHandleOf<Event>(handle, KernelObject::Type::Event);
}

HANDLE failWith(DWORD error)
{
    SetLastError(error);
    return nullptr;
}

}

DWORD eventSetter(HANDLE handle, std::function<void()>& out)
{
    auto event = eventOf(handle);
    if (!event)
        return ERROR_INVALID_HANDLE;
    if (!event->mayModify())
        return ERROR_ACCESS_DENIED;
    out = [event] { event->set(); };
    return NO_ERROR;
}

NamedEventsLock::NamedEventsLock()
    : m_lock(std::make_unique<FileLock>(lockPath(), FileLock::Mode::Exclusive))
{
    t_eventsLocked = true;
}

NamedEventsLock::~NamedEventsLock()
{
    t_eventsLocked = false;
}

namespace {

// Sets or resets an event through a handle that may modify it.
BOOL changeEvent(HANDLE handle, bool (Event::*change)())
{
    auto event = eventOf(handle);
    DWORD error = NO_ERROR;
    if (!event)
        error = ERROR_INVALID_HANDLE;
    else if (!event->mayModify())
        error = ERROR_ACCESS_DENIED;
    else if (!((*event).*change)())
        error = ERROR_INVALID_HANDLE;
    if (error == NO_ERROR)
        return TRUE;
    SetLastError(error);
    return FALSE;
}

}

}

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    ntsim::ApiCall call("CreateEventA", lpEventAttributes, bManualReset, bInitialState, lpName);
    using namespace ntsim;
    if (auto fault = call.fault())
        return call.returns(failWith(*fault));
    if (!lpName || !*lpName) {
        SetLastError(ERROR_SUCCESS);
        return call.returns(insertHandle(std::make_shared<LocalEvent>(bManualReset, bInitialState)));
    }
    if (std::strchr(lpName, '\\'))
        return call.returns(failWith(ERROR_PATH_NOT_FOUND));
    std::string path = eventPath(lpName);
    auto lock = lockEvents();
    NamedEventState state;
    bool existed = NamedEventState::load(path, state);
    if (!existed) {
        state = {};
        state.manualReset = bManualReset;
        state.signaled = bInitialState;
    }
    ++state.holders[getpid()];
    state.save(path);
    HANDLE handle = insertHandle(std::make_shared<NamedEvent>(path, EVENT_ALL_ACCESS));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return call.returns(handle);
}

extern "C" HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName)
{
    ntsim::ApiCall call("OpenEventA", dwDesiredAccess, bInheritHandle, lpName);
    using namespace ntsim;
    if (!lpName)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    if (!*lpName || std::strchr(lpName, '\\'))
        return call.returns(failWith(ERROR_FILE_NOT_FOUND));
    std::string path = eventPath(lpName);
    auto lock = lockEvents();
    NamedEventState state;
    if (!NamedEventState::load(path, state))
        return call.returns(failWith(ERROR_FILE_NOT_FOUND));
    ++state.holders[getpid()];
    state.save(path);
    return call.returns(insertHandle(std::make_shared<NamedEvent>(path, dwDesiredAccess)));
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent)
{
    ntsim::ApiCall call("SetEvent", hEvent);
    return call.returns(ntsim::changeEvent(hEvent, &ntsim::Event::set));
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    ntsim::ApiCall call("ResetEvent", hEvent);
    return call.returns(ntsim::changeEvent(hEvent, &ntsim::Event::reset));
}
