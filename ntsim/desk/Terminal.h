// The terminal desk: draws what a program shows on the controlling
// terminal (/dev/tty, whatever the program's output goes to) and lets the
// person at the keyboard answer: the key letter of a button, the arrows or
// Tab and Enter, Esc for Cancel. With ncurses where the terminal has a
// description; line by line otherwise.
#pragma once
#include "Desk.h"

#include <optional>
#include <string>

namespace ntsim::desk {

// The answer given, one of shown.answers; nothing when there is no
// terminal or the keyboard was closed.
std::optional<std::string> askAtTerminal(const Shown& shown);

}
