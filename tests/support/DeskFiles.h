// The desk's files of a run made in the test process: the script of
// answers, the shared cursor and the transcript, beside the machine.
#pragma once
#include "TestMachine.h"

#include "machine/Json.h"

#include <functional>
#include <string>
#include <vector>

namespace test {

class DeskFiles {
public:
    DeskFiles(const TestMachine& m, const std::vector<std::string>& script);
    ~DeskFiles();
    DeskFiles(const DeskFiles&) = delete;
    DeskFiles& operator=(const DeskFiles&) = delete;

    std::string scriptPath() const { return m_base + ".script"; }
    std::string transcriptPath() const { return m_base + ".jsonl"; }
    // The transcript's lines as written, and as parsed events.
    std::vector<std::string> transcript() const;
    std::vector<ntsim::Json> events() const { return shownEvents(readTranscript(transcriptPath())); }
    std::vector<ntsim::Json> records() const { return machineRecords(readTranscript(transcriptPath())); }

private:
    std::string m_base;
};

// Each event's template and answer, "101 next", for checking a run's path
// through a wizard.
std::vector<std::string> templateAnswers(const std::vector<ntsim::Json>& events);

// Runs body in a child process with the machine attached and returns its
// exit status; what it wrote to its standard error goes to err.
int inChild(const std::function<int()>& body, std::string& err);

}
