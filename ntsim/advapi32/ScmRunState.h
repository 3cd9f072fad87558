// Run states of the services: what lives only while the machine is on.
// They are kept in the machine's run store so that every process of the
// machine sees one state; a RunStates object holds the store's write lock
// from its construction to its end.
#pragma once
#include <windows.h>

#include "machine/Json.h"
#include "machine/RunStore.h"

#include <map>
#include <string>
#include <vector>

namespace ntsim::scm {

struct RunState {
    std::string name;
    DWORD state { SERVICE_STOPPED };
    DWORD controlsAccepted { 0 };
    DWORD win32ExitCode { ERROR_SERVICE_NEVER_STARTED };
    DWORD specificExitCode { 0 };
    bool markedForDelete { false };
    std::vector<int> handleOwners; // one process id per open handle
    Json driver;                   // what the loaded driver keeps

    bool active() const { return state != SERVICE_STOPPED; }
};

class RunStates {
public:
    // Takes the store's write lock and loads the states. A state the
    // store cannot give back whole ends the process naming it: a running
    // driver must never read as stopped.
    RunStates();
    RunStates(const RunStates&) = delete;
    RunStates& operator=(const RunStates&) = delete;

    // The state of a service, a stopped one if none is recorded.
    RunState& of(const std::string& name);
    RunState* find(const std::string& name);
    const RunState* find(const std::string& name) const;
    void forget(const std::string& name);
    std::vector<RunState*> all();

    bool save() const;
    // The store's write transaction these states are read and saved in.
    const RunStore::Transaction& transaction() const { return m_transaction; }

private:
    RunStore::Transaction m_transaction;
    std::map<std::string, RunState> m_states; // by upper-case name
    std::map<std::string, std::string> m_stored; // the records as loaded
};

}
