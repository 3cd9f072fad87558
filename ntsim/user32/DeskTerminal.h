// The terminal desk: draws what a program shows on the controlling terminal
// and lets the person at the keyboard answer.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace ntsim::desk {

// The answer typed, one of answers; nothing when there is no terminal or
// the keyboard was closed.
std::optional<std::string> askAtTerminal(const std::string& drawing, const std::vector<std::string>& answers);

}
