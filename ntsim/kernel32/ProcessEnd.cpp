#include "ProcessEnd.h"

#include "FileShare.h"
#include "Waitable.h"

namespace ntsim {

void forgetProcess(const RunStore::Transaction& transaction, const ProcessIdentity& process)
{
    releaseOpens(transaction, process);
    releaseEventHolds(transaction, process);
}

void endThisProcess()
{
    RunStore::Transaction transaction;
    forgetProcess(transaction, thisProcess());
    // Whoever waits for this process or its events looks again.
    transaction.announceOnCommit();
}

void keepExitCode(int pid, DWORD code)
{
    RunStore::Transaction transaction;
    RunStore::Query(transaction, "INSERT OR REPLACE INTO exit_code (pid, code) VALUES (?1, ?2)").bind(pid).bind(code).run();
}

std::optional<DWORD> takeExitCode(int pid)
{
    RunStore::Transaction transaction;
    RunStore::Query kept(transaction, "DELETE FROM exit_code WHERE pid = ?1 RETURNING code");
    kept.bind(pid);
    if (!kept.next())
        return std::nullopt;
    return static_cast<DWORD>(kept.integer(0));
}

}
