// LockServiceDatabase, UnlockServiceDatabase and QueryServiceLockStatus.
#include "ScmLock.h"

#include "ScmCalls.h"
#include "ScmCommon.h"
#include "registry/Key.h"

#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/Machine.h"
#include "machine/Process.h"
#include "machine/RunStore.h"

#include <ctime>
#include <random>

using namespace ntsim;
using namespace ntsim::scm;

namespace {

// Who holds the lock: the process, the person, since when, and the number
// its SC_LOCK stands for.
struct LockRecord {
    ProcessIdentity holder;
    std::string owner;
    int64_t since { 0 };
    int64_t id { 0 };
};

// The lock as recorded, when a live process holds it.
std::optional<LockRecord> heldLock(RunStates& states)
{
    RunStore::Query row(states.transaction(), "SELECT pid, start, owner, since, lock FROM scm_lock");
    if (!row.next())
        return std::nullopt;
    LockRecord record { { static_cast<int>(row.integer(0)), static_cast<uint64_t>(row.integer(1)) }, row.text(2),
        row.integer(3), row.integer(4) };
    if (!processRunning(record.holder))
        return std::nullopt;
    return record;
}

void recordLock(RunStates& states, const LockRecord& record)
{
    RunStore::Query(states.transaction(), "DELETE FROM scm_lock").run();
    RunStore::Query(states.transaction(), "INSERT INTO scm_lock (lock, pid, start, owner, since) VALUES (?1, ?2, ?3, ?4, ?5)")
        .bind(record.id)
        .bind(record.holder.pid)
        .bind(static_cast<int64_t>(record.holder.start))
        .bind(record.owner)
        .bind(record.since)
        .run();
}

// This process's SC_LOCK values, each the number of a lock it took.
HandleTable<uint64_t>& locks()
{
    static HandleTable<uint64_t> table(0xDB0004);
    return table;
}

// The person at the keyboard as NT names a lock's owner.
std::string ownerName()
{
    return registry::computerName() + "\\" + Machine::current().config().user.name;
}

// The structure, then the owner's name in the form's text; an unlocked
// database has an empty owner.
template<typename Text, typename Status>
BOOL lockStatusAs(SC_HANDLE hSCManager, Status* status, DWORD size, LPDWORD needed)
{
    if (!openedManager(hSCManager, SC_MANAGER_QUERY_LOCK_STATUS))
        return FALSE;
    if (!needed)
        return fail(missingPointer, FALSE);
    std::optional<LockRecord> held;
    {
        RunStates states;
        held = heldLock(states);
    }
    std::string owner = held ? held->owner : std::string();
    size_t bytes = sizeof(Status) + textBytes<Text>(owner);
    if (!status || size < bytes) {
        *needed = static_cast<DWORD>(bytes);
        return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    status->fIsLocked = held ? TRUE : FALSE;
    status->dwLockDuration = held ? static_cast<DWORD>(std::time(nullptr) - held->since) : 0;
    char* cursor = reinterpret_cast<char*>(status + 1);
    status->lpLockOwner = putText<Text>(cursor, owner);
    return TRUE;
}

}

bool scm::databaseLocked(RunStates& states)
{
    return heldLock(states).has_value();
}

SC_LOCK scm::lockDatabase(SC_HANDLE hSCManager)
{
    if (!openedManager(hSCManager, SC_MANAGER_LOCK))
        return nullptr;
    RunStates states;
    if (heldLock(states))
        return fail<SC_LOCK>(ERROR_SERVICE_DATABASE_LOCKED, nullptr);
    static std::mt19937_64 numbers { std::random_device {}() };
    LockRecord record { thisProcess(), ownerName(), static_cast<int64_t>(std::time(nullptr)),
        static_cast<int64_t>(numbers() >> 1) };
    recordLock(states, record);
    return reinterpret_cast<SC_LOCK>(locks().insert(static_cast<uint64_t>(record.id)));
}

BOOL scm::unlockDatabase(SC_LOCK lock)
{
    RunStates states;
    auto id = locks().find(reinterpret_cast<uintptr_t>(lock));
    auto held = heldLock(states);
    if (!id || !held || !(held->holder == thisProcess()) || static_cast<uint64_t>(held->id) != *id)
        return fail(ERROR_INVALID_SERVICE_LOCK, FALSE);
    locks().take(reinterpret_cast<uintptr_t>(lock));
    RunStore::Query(states.transaction(), "DELETE FROM scm_lock").run();
    return TRUE;
}

BOOL scm::queryLockStatus(SC_HANDLE hSCManager, LPQUERY_SERVICE_LOCK_STATUSA status, DWORD size, LPDWORD needed)
{
    return lockStatusAs<AnsiText>(hSCManager, status, size, needed);
}

BOOL scm::queryLockStatusW(SC_HANDLE hSCManager, LPQUERY_SERVICE_LOCK_STATUSW status, DWORD size, LPDWORD needed)
{
    return lockStatusAs<WideText>(hSCManager, status, size, needed);
}

SC_LOCK WINAPI LockServiceDatabase(SC_HANDLE hSCManager)
{
    ApiCall call("LockServiceDatabase", hSCManager);
    if (call.faulted())
        return call.returns(static_cast<SC_LOCK>(nullptr));
    return call.returns(scm::lockDatabase(hSCManager));
}

BOOL WINAPI UnlockServiceDatabase(SC_LOCK ScLock)
{
    ApiCall call("UnlockServiceDatabase", ScLock);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::unlockDatabase(ScLock));
}

BOOL WINAPI QueryServiceLockStatusA(SC_HANDLE hSCManager, LPQUERY_SERVICE_LOCK_STATUSA lpLockStatus, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    ApiCall call("QueryServiceLockStatusA", hSCManager, lpLockStatus, cbBufSize, pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::queryLockStatus(hSCManager, lpLockStatus, cbBufSize, pcbBytesNeeded));
}

BOOL WINAPI QueryServiceLockStatusW(SC_HANDLE hSCManager, LPQUERY_SERVICE_LOCK_STATUSW lpLockStatus, DWORD cbBufSize,
    LPDWORD pcbBytesNeeded)
{
    ApiCall call("QueryServiceLockStatusW", hSCManager, lpLockStatus, cbBufSize, pcbBytesNeeded);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(scm::queryLockStatusW(hSCManager, lpLockStatus, cbBufSize, pcbBytesNeeded));
}
