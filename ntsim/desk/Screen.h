// Which window of a run has the terminal. The run's processes may each
// wait for an answer at once (the wizard's page, the applet's page beside
// it); one window at a time is shown, chosen as the platform chooses the
// foreground: the window most recently created or activated. A window the
// person has begun to answer keeps the screen; the others are listed on a
// line of their own, and a key switches to the next of them (which is
// then the most recently activated).
//
// The run's processes share this in the run's desk directory, under a
// lock of its own; without a run it lives in the process.
#pragma once
#include "Desk.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ntsim::desk {

struct ScreenWindow {
    std::string key;        // "1|page|Modem Board Installation Wizard": process place, kind, title
    std::string title;
    uint64_t stamp { 0 };   // when created or last activated: the higher, the more recent
    bool waiting { false }; // a question of it waits for its answer
    int pid { 0 };
};

struct ScreenState {
    uint64_t next { 1 };
    std::string foreground;    // key of the window that has the screen
    bool busy { false };       // the person has begun to answer it
    int64_t releasedAt { 0 };  // ms: when its last question ended, if it waits for none
    int holder { 0 };          // the process that has the terminal open, 0 for none
    std::vector<ScreenWindow> windows;
};

// How long a window whose question was just answered keeps the screen for
// its next question (a page shown again after a choice in its list).
constexpr int64_t foregroundGraceMs = 400;

// The window that has the screen now: the most recent waiting window,
// unless the foreground is being answered, or has just been answered and
// is no older than it. Empty when no window waits.
std::string chooseForeground(const ScreenState& state, int64_t nowMs);

// A question's seat at the screen, from its showing to its answer.
class ScreenSeat {
public:
    explicit ScreenSeat(const Shown& shown);
    ~ScreenSeat();
    ScreenSeat(const ScreenSeat&) = delete;
    ScreenSeat& operator=(const ScreenSeat&) = delete;

    const std::string& key() const { return m_key; }

    // Takes the terminal when this window is the foreground and no other
    // process has the terminal open; false otherwise.
    bool takeTerminal();
    // Whether this window still has the screen; also refreshes others().
    bool stillForeground();
    // Lets go of the terminal (after closing it), for the foreground's process.
    void releaseTerminal();
    // The person has begun to answer: no other window takes the screen now.
    void setBusy();
    // Activates the next waiting window; false when there is none.
    bool switchToNext();
    // The titles of the other waiting windows, most recent first.
    const std::vector<std::string>& others() const { return m_others; }

private:
    template<typename Change>
    void update(Change change);

    std::string m_key;
    bool m_box { false };
    std::vector<std::string> m_others;
};

}
