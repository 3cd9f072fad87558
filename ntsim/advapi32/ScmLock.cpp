// LockServiceDatabase, UnlockServiceDatabase and QueryServiceLockStatus.
#include "ScmLock.h"

#include "ScmCalls.h"
#include "ScmCommon.h"
#include "registry/Key.h"

#include "machine/ApiCall.h"
#include "machine/HandleTable.h"
#include "machine/Json.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <random>

using namespace ntsim;
using namespace ntsim::scm;

namespace {

// Who holds the lock: the process, the person, since when, and the number
// its SC_LOCK stands for.
struct LockRecord {
    int pid { 0 };
    std::string owner;
    int64_t since { 0 };
    uint64_t id { 0 };
};

std::string lockFile()
{
    return Machine::current().runDir() + "/scm-lock.json";
}

bool alive(int pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// The lock as recorded, when a live process holds it.
std::optional<LockRecord> heldLock(RunStates&)
{
    std::string text, error;
    Json j;
    if (!readWholeFile(lockFile(), text) || !parseJson(text, j, error))
        return std::nullopt;
    LockRecord record { static_cast<int>(intMember(j, "pid")), stringMember(j, "owner"), intMember(j, "since"),
        static_cast<uint64_t>(intMember(j, "id")) };
    if (!alive(record.pid))
        return std::nullopt;
    return record;
}

bool recordLock(RunStates&, const LockRecord& record)
{
    Json j = Json::object();
    j["pid"] = record.pid;
    j["owner"] = record.owner;
    j["since"] = record.since;
    j["id"] = record.id;
    return writeFileAtomically(lockFile(), dumpPretty(j));
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
    LockRecord record { static_cast<int>(getpid()), ownerName(), static_cast<int64_t>(std::time(nullptr)), numbers() };
    if (!recordLock(states, record))
        return fail<SC_LOCK>(ERROR_GEN_FAILURE, nullptr);
    return reinterpret_cast<SC_LOCK>(locks().insert(record.id));
}

BOOL scm::unlockDatabase(SC_LOCK lock)
{
    RunStates states;
    auto id = locks().find(reinterpret_cast<uintptr_t>(lock));
    auto held = heldLock(states);
    if (!id || !held || held->pid != static_cast<int>(getpid()) || held->id != *id)
        return fail(ERROR_INVALID_SERVICE_LOCK, FALSE);
    locks().take(reinterpret_cast<uintptr_t>(lock));
    std::remove(lockFile().c_str());
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
