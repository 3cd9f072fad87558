// What the processes of one run share at the desk, and where this process
// stands among them.
//
// ntsim run gives its run a directory (NTSIM_DESK_RUN) holding the lock
// that lets one process at a time take an answer. The positions taken so
// far (script lines, or answers given at the terminal), the transcript
// with each line's place, and what processes that found no answer said
// are the run's rows in the machine's run store. At the end of the run
// the transcript is put in order of those places, so that it does not
// depend on how the run's processes were scheduled.
//
// The question's lock is a file lock of its own, not the store's: a
// person may think for minutes at the terminal while holding it, and the
// store's lock held that long would stop every other process of the
// machine at its next open, wait or service call.
//
// Without a run (a program or test started otherwise) the positions are
// kept in NTSIM_SCRIPT_CURSOR, or in the process, and transcript lines go
// straight to NTSIM_TRANSCRIPT.
#pragma once
#include "machine/FileLock.h"
#include "machine/Json.h"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ntsim::desk {

// This process's place in its run: "1" for the program the run started,
// "1.2" for the second process that one started, and so on; empty when
// the process is not in a run, where it counts as the run's program.
const std::string& processPlace();
bool isRunsProgram();

// The run's desk directory, empty when the process is not in a run.
const std::string& runDirectory();

// NTSIM_* entries that give a process started now its place in the run.
std::vector<std::string> childPlaceEnvironment();

// One question at the desk: holds the run's lock from construction to
// destruction, so that processes take answers one at a time.
class Question {
public:
    Question();
    ~Question();
    Question(const Question&) = delete;
    Question& operator=(const Question&) = delete;

    const std::set<unsigned>& taken() const { return m_taken; }
    // Marks a script line (or the next terminal answer) as taken by this process.
    void take(unsigned position);
    unsigned nextAnswerPosition() const;

private:
    std::string m_takenPath;
    bool m_shared { false }; // the run's positions, in the store
    std::optional<FileLock> m_lock;
    std::set<unsigned> m_taken;
};

// Appends a line to the run's transcript, placed after the last answer
// this process took.
void appendTranscript(const Json& line);
// Notes for the run that this process ends for want of an answer.
void noteUnanswered(const std::string& message);

// The run's side (ntsim run).
class RunDesk {
public:
    // Makes the run's desk directory below dir (the question's lock) and
    // puts the desk's variables in this process's environment for the
    // program it starts.
    bool open(const std::string& dir, const std::string& script, std::string& error);
    // What gives the program the run starts its place in the run.
    std::vector<std::string> programEnvironment() const;
    // Writes the transcript in order to transcriptPath (unless empty) and
    // removes the directory and the run's rows; true if some process ended
    // for want of an answer.
    bool close(const std::string& transcriptPath);

private:
    // Removes the run's rows from the store.
    void forget() const;

    std::string m_dir;
};

// Orders keyed transcript lines ("POSITION PLACE SEQ\tJSON") and returns the JSON lines.
std::vector<std::string> orderedTranscript(const std::string& keyedText);

}
