// The script desk's answers: one action a line in NTSIM_SCRIPT, taken in
// order by all processes of a run, which share their place in the script
// through the NTSIM_SCRIPT_CURSOR file.
#pragma once
#include <optional>
#include <string>

namespace ntsim::desk {

class Script {
public:
    Script(std::string scriptPath, std::string cursorPath);

    // The next answer, lower-cased, or nothing when the script is used up
    // (or cannot be read).
    std::optional<std::string> take();

private:
    unsigned readCursor() const;
    void writeCursor(unsigned line) const;

    std::string m_scriptPath;
    std::string m_cursorPath; // empty: the place is kept in this process alone
};

}
