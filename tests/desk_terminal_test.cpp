// The terminal desk on a real terminal: a pseudo-terminal that is the
// controlling terminal of a child, whose own output goes elsewhere; keys
// typed into it answer the page or box the child shows.
#include "support/DeskPage.h"

#include "desk/Desk.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> answerCodes { "", "next", "back", "cancel", "finish", "ok", "yes", "no",
    "select brimlow pci data/fax modem", "select brimlow pci data/fax modem (second line)" };

struct Session {
    std::string screen; // all the child wrote to the terminal
    std::string answer; // what show() returned, "" for nothing
};

// Reads what the terminal shows until `until` appears, the terminal is
// closed, or the time passes.
void readUntil(int master, std::string& screen, const std::string& until,
    std::chrono::milliseconds wait = std::chrono::seconds(10))
{
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (screen.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p { master, POLLIN, 0 };
        int ready = poll(&p, 1, 20);
        if (ready == 0)
            continue;
        if (ready < 0 || !(p.revents & POLLIN))
            return;
        char buffer[4096];
        ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        screen.append(buffer, static_cast<size_t>(n));
    }
}

// Shows `shown` in a child whose controlling terminal is a new 80x24
// pseudo-terminal of type `term`; types the keys, one by one, once
// `waitFor` is on it.
Session answerAtTerminal(const ntsim::desk::Shown& shown, const char* term, const std::string& waitFor,
    const std::vector<std::string>& keys)
{
    winsize size {};
    size.ws_col = 80;
    size.ws_row = 24;
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        // The program's own output goes elsewhere; the desk still finds the terminal.
        int nul = ::open("/dev/null", O_WRONLY);
        dup2(nul, 1);
        dup2(nul, 2);
        setenv("TERM", term, 1);
        unsetenv("NTSIM_SCRIPT");
        unsetenv("NTSIM_SCRIPT_CURSOR");
        unsetenv("NTSIM_TRANSCRIPT");
        std::string answer = ntsim::desk::show(shown);
        for (size_t i = 0; i < answerCodes.size(); ++i)
            if (answerCodes[i] == answer)
                _exit(static_cast<int>(i));
        _exit(99);
    }
    Session s;
    if (child < 0) {
        ADD_FAILURE() << "forkpty failed";
        return s;
    }
    readUntil(master, s.screen, waitFor);
    for (auto& key : keys) {
        EXPECT_EQ(::write(master, key.data(), key.size()), static_cast<ssize_t>(key.size()));
        // What the key changed, before the next one.
        readUntil(master, s.screen, "\x01", std::chrono::milliseconds(200));
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(child, &status, WNOHANG) == 0) {
        readUntil(master, s.screen, "\x01", std::chrono::milliseconds(100));
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the child did not answer; it showed:\n" << s.screen;
            break;
        }
    }
    readUntil(master, s.screen, "\x01", std::chrono::milliseconds(200)); // the rest, up to the end
    ::close(master);
    if (WIFEXITED(status) && static_cast<size_t>(WEXITSTATUS(status)) < answerCodes.size())
        s.answer = answerCodes[static_cast<size_t>(WEXITSTATUS(status))];
    return s;
}

ntsim::desk::Shown okCancelBox()
{
    ntsim::desk::Shown box;
    box.event = "messagebox";
    box.fields = ntsim::Json::object();
    box.fields["caption"] = "Installation Error";
    box.fields["text"] = "The driver could not be started.";
    box.fields["style"] = 0x11;
    box.answers = { "ok", "cancel" };
    box.name = "message box \"Installation Error\"";
    return box;
}

}

TEST(DeskTerminal, PageAnsweredWithKeysUnderCurses)
{
    ntsim::desk::Shown page = test::driverPage();
    // B: Back is disabled and does nothing. Left from Next skips the disabled
    // Back to Cancel, Left again comes back to Next, Right and Left go there
    // and back; Enter presses it.
    Session s = answerAtTerminal(page, "vt100", "Keys:", { "b", "\x1bOD", "\x1bOD", "\x1bOC", "\x1bOD", "\r" });
    EXPECT_EQ(s.answer, "next") << s.screen;
    EXPECT_NE(s.screen.find("Modem Board Installation Wizard"), std::string::npos) << s.screen;
    EXPECT_NE(s.screen.find("bitmap 110"), std::string::npos) << s.screen;
    EXPECT_NE(s.screen.find("Keys: N Next >, C Cancel, Esc Cancel, or arrows and Enter"), std::string::npos) << s.screen;
    EXPECT_NE(s.screen.find("\a"), std::string::npos) << "no bell for a disabled button";

    // Esc is Cancel where it can be pressed.
    EXPECT_EQ(answerAtTerminal(okCancelBox(), "vt100", "Keys:", { "\x1b" }).answer, "cancel");
    // Where it cannot, Esc does nothing; the key letter answers.
    test::PageButtons noCancel;
    noCancel.cancelEnabled = false;
    EXPECT_EQ(answerAtTerminal(test::driverPage(noCancel), "vt100", "Keys:", { "\x1b", "n" }).answer, "next");
}

TEST(DeskTerminal, LineByLineWithoutATerminalDescription)
{
    Session s = answerAtTerminal(test::driverPage(), "dumb", "answer (next/cancel)> ", { "back\n", "N\n" });
    EXPECT_EQ(s.answer, "next") << s.screen;
    EXPECT_NE(s.screen.find("| |       bitmap 110       |     |Brimlow PCI Data/Fax Modem             |     |"),
        std::string::npos)
        << s.screen;
    EXPECT_NE(s.screen.find("not an answer here: back"), std::string::npos) << s.screen;

    Session box = answerAtTerminal(okCancelBox(), "dumb", "answer (ok/cancel)> ", { "c\n" });
    EXPECT_EQ(box.answer, "cancel") << box.screen;
    EXPECT_NE(box.screen.find("| (X) The driver could not be started. |"), std::string::npos) << box.screen;
}

TEST(DeskTerminal, AListItemIsChosenByItsNumberOrItsText)
{
    ntsim::desk::Shown page = test::driverPage();
    page.answers.push_back("select brimlow pci data/fax modem");
    page.answers.push_back("select brimlow pci data/fax modem (second line)");
    page.fields["controls"][5]["selected"] = 1;

    Session keys = answerAtTerminal(page, "vt100", "Keys:", { "2" });
    EXPECT_EQ(keys.answer, "select brimlow pci data/fax modem (second line)") << keys.screen;
    EXPECT_NE(keys.screen.find("1-2 choose a list item"), std::string::npos) << keys.screen;

    Session typed = answerAtTerminal(page, "dumb", "answer (next/cancel)> ", { "Brimlow  PCI Data/Fax Modem\n" });
    EXPECT_EQ(typed.answer, "select brimlow pci data/fax modem") << typed.screen;
    // The chosen item is marked.
    EXPECT_NE(typed.screen.find("|> Brimlow PCI Data/Fax Modem (second li|"), std::string::npos) << typed.screen;
    EXPECT_EQ(answerAtTerminal(page, "dumb", "answer (next/cancel)> ", { "select brimlow pci data/fax modem\n" }).answer,
        "select brimlow pci data/fax modem");
}
