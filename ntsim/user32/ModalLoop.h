// The modal loops of dialog boxes and property sheets: what runs while a
// person has a dialog in front of them.
#pragma once
#include "desk/Desk.h"

#include <functional>
#include <optional>
#include <string>

namespace ntsim::user32 {

// Dispatches the messages posted to this thread until none is left. False
// when WM_QUIT came: it stays posted for the loop outside, and the modal
// loop ends.
bool dispatchPosted();

// Shows a thing on the desk and waits for the person's answer while this
// process goes on answering the messages other processes send or post it,
// as a modal loop does. Nothing when ended() turns true meanwhile (another
// process closed the dialog) or WM_QUIT came.
std::optional<std::string> askDesk(const desk::Shown& shown, const std::function<bool()>& ended);

}
