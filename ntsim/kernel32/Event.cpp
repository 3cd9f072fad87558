// Events. Named ones live in the machine's run store, so that all the
// machine's processes share them; they vanish with their last handle.
#include "ProcessEnd.h"
#include "Waitable.h"

#include "machine/ApiCall.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace ntsim {

namespace {

// Whether the named event exists: it has a holder that still runs.
// Holders found ended are forgotten on the way, and the event with the last.
bool eventLives(const RunStore::Transaction& transaction, const std::string& name)
{
    std::vector<ProcessIdentity> holders;
    {
        RunStore::Query rows(transaction, "SELECT pid, start FROM event_holder WHERE name = ?1");
        rows.bindBytes(name);
        while (rows.next())
            holders.push_back({ static_cast<int>(rows.integer(0)), static_cast<uint64_t>(rows.integer(1)) });
    }
    for (auto& holder : holders) {
        if (processRunning(holder))
            return true;
        forgetProcess(transaction, holder);
    }
    RunStore::Query(transaction, "DELETE FROM event WHERE name = ?1").bindBytes(name).run();
    return false;
}

// One more handle of this process to the event.
void hold(const RunStore::Transaction& transaction, const std::string& name)
{
    ProcessIdentity self = thisProcess();
    RunStore::Query(transaction, "INSERT INTO event_holder (name, pid, start, handles) VALUES (?1, ?2, ?3, 1) "
                                 "ON CONFLICT (name, pid, start) DO UPDATE SET handles = handles + 1")
        .bindBytes(name)
        .bind(self.pid)
        .bind(static_cast<int64_t>(self.start))
        .run();
}

// The event goes with its last holder.
void dropIfUnheld(const RunStore::Transaction& transaction, const std::string& name)
{
    RunStore::Query(transaction, "DELETE FROM event WHERE name = ?1 AND NOT EXISTS "
                                 "(SELECT 1 FROM event_holder WHERE name = ?1)")
        .bindBytes(name)
        .run();
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
        {
            std::lock_guard lock(m_mutex);
            m_signaled = true;
        }
        // Another thread of the process may be waiting for it.
        RunStore::current().announceChange();
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
    NamedEvent(std::string name, DWORD access)
        : Event(access)
        , m_name(std::move(name))
    {
    }
    ~NamedEvent() override
    {
        RunStore::Transaction transaction;
        ProcessIdentity self = thisProcess();
        RunStore::Query(transaction, "UPDATE event_holder SET handles = handles - 1 WHERE name = ?1 AND pid = ?2 AND start = ?3")
            .bindBytes(m_name)
            .bind(self.pid)
            .bind(static_cast<int64_t>(self.start))
            .run();
        RunStore::Query(transaction, "DELETE FROM event_holder WHERE name = ?1 AND handles <= 0").bindBytes(m_name).run();
        dropIfUnheld(transaction, m_name);
    }
    bool tryWait(DWORD& error) override
    {
        return change([](State& s) {
            if (!s.signaled)
                return false;
            if (!s.manualReset)
                s.signaled = false;
            return true;
        }, error);
    }
    bool signaled(DWORD& error) override
    {
        return change([](State& s) { return s.signaled; }, error);
    }
    void satisfy() override
    {
        DWORD error = 0;
        change([](State& s) {
            if (!s.manualReset)
                s.signaled = false;
            return true;
        }, error);
    }
    std::string identity() const override { return "event " + m_name; }
    bool set() override
    {
        DWORD error = 0;
        change([](State& s) { s.signaled = true; return true; }, error);
        return error == 0;
    }
    bool reset() override
    {
        DWORD error = 0;
        change([](State& s) { s.signaled = false; return true; }, error);
        return error == 0;
    }

private:
    struct State {
        bool manualReset { false };
        bool signaled { false };
    };

    template<typename F>
    bool change(F f, DWORD& error)
    {
        RunStore::Transaction transaction;
        State state;
        {
            RunStore::Query row(transaction, "SELECT manual, signaled FROM event WHERE name = ?1");
            row.bindBytes(m_name);
            if (!row.next()) {
                error = ERROR_INVALID_HANDLE;
                return false;
            }
            state.manualReset = row.integer(0);
            state.signaled = row.integer(1);
        }
        bool before = state.signaled;
        bool result = f(state);
        if (state.signaled != before) {
            RunStore::Query(transaction, "UPDATE event SET signaled = ?2 WHERE name = ?1")
                .bindBytes(m_name)
                .bind(state.signaled)
                .run();
            if (state.signaled)
                transaction.announceOnCommit();
        }
        return result;
    }

    std::string m_name;
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

void releaseEventHolds(const RunStore::Transaction& transaction, const ProcessIdentity& process)
{
    std::vector<std::string> names;
    {
        RunStore::Query rows(transaction, "DELETE FROM event_holder WHERE pid = ?1 AND start = ?2 RETURNING name");
        rows.bind(process.pid).bind(static_cast<int64_t>(process.start));
        while (rows.next())
            names.push_back(rows.text(0));
    }
    for (auto& name : names)
        dropIfUnheld(transaction, name);
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
    bool existed = false;
    {
        RunStore::Transaction transaction;
        existed = eventLives(transaction, lpName);
        if (!existed)
            RunStore::Query(transaction, "INSERT INTO event (name, manual, signaled) VALUES (?1, ?2, ?3)")
                .bindBytes(lpName)
                .bind(bManualReset ? 1 : 0)
                .bind(bInitialState ? 1 : 0)
                .run();
        hold(transaction, lpName);
    }
    HANDLE handle = insertHandle(std::make_shared<NamedEvent>(lpName, EVENT_ALL_ACCESS));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return call.returns(handle);
}

extern "C" HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName)
{
    ntsim::ApiCall call("OpenEventA", dwDesiredAccess, bInheritHandle, lpName);
    if (call.faulted())
        return call.returns(HANDLE(nullptr));
    using namespace ntsim;
    if (!lpName)
        return call.returns(failWith(ERROR_INVALID_PARAMETER));
    if (!*lpName || std::strchr(lpName, '\\'))
        return call.returns(failWith(ERROR_FILE_NOT_FOUND));
    {
        RunStore::Transaction transaction;
        if (!eventLives(transaction, lpName))
            return call.returns(failWith(ERROR_FILE_NOT_FOUND));
        hold(transaction, lpName);
    }
    return call.returns(insertHandle(std::make_shared<NamedEvent>(lpName, dwDesiredAccess)));
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent)
{
    ntsim::ApiCall call("SetEvent", hEvent);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(ntsim::changeEvent(hEvent, &ntsim::Event::set));
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    ntsim::ApiCall call("ResetEvent", hEvent);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(ntsim::changeEvent(hEvent, &ntsim::Event::reset));
}
