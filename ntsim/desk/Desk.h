// The desk: where a person meets what programs of the machine show. A
// script desk answers from a file of actions, the terminal desk asks at the
// keyboard; both append every box and page shown to the transcript.
#pragma once
#include "machine/Json.h"

#include <map>
#include <string>
#include <vector>

namespace ntsim::desk {

struct Shown {
    std::string event;                // transcript "event": "messagebox", "prompt", "page", ...
    Json fields;                      // the transcript's further members, in order (UTF-8 texts)
    std::vector<std::string> answers; // what it accepts: "ok", "cancel", "next", ...
    std::string name;                 // how an error names it: message box "Brimlow Error"
    std::string drawing;              // what the terminal desk draws (UTF-8)
    std::string title;                // the window's title, which script lines may be addressed to (UTF-8)
    std::map<size_t, std::string> pictures; // packed DIBs of the pictures, by their place in fields' "controls"
    std::string defaultAnswer;        // what Enter presses; the first answer when empty
};

// Shows a thing, records it, and returns the answer given (one of answers).
// When the script has no answer for it, or one the thing does not accept,
// the process ends with a message naming it (and an "unanswered" record):
// a run never waits for nobody. A run told to press defaults
// (NTSIM_DESK_PRESS_DEFAULT, ntsim run --press-default) answers a message
// box or prompt the script has no fitting answer for with its default
// button instead, as a person would press Enter, and leaves the script's
// line for what comes next.
std::string show(const Shown& shown);

// Records something the program showed that takes no answer.
void record(const std::string& event, const Json& fields);

}
