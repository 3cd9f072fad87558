// The terminal desk on a real terminal: a pseudo-terminal that is the
// controlling terminal of a child, whose own output goes elsewhere; keys
// typed into it answer the page or box the child shows.
#include "kernel32_child.h"
#include "support/DeskPage.h"
#include "support/SetupRun.h"
#include "support/TestMachine.h"

#include "desk/Desk.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The keys as xterm and vt100 send them in keypad mode (ncurses asks for it).
const char down[] = "\x1bOB", up[] = "\x1bOA", left[] = "\x1bOD", right[] = "\x1bOC", home[] = "\x1bOH",
           end[] = "\x1bOF", f6[] = "\x1b[17~";

// A child on a new pseudo-terminal of the given size and type, running
// body() and ending with what it returns.
class PtyChild {
public:
    PtyChild(const char* term, unsigned short columns, unsigned short rows, const std::function<int()>& body)
    {
        winsize size {};
        size.ws_col = columns;
        size.ws_row = rows;
        m_pid = forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            // The program's own output goes elsewhere; the desk still finds the terminal.
            int nul = ::open("/dev/null", O_WRONLY);
            dup2(nul, 1);
            dup2(nul, 2);
            setenv("TERM", term, 1);
            for (const char* name : { "NTSIM_SCRIPT", "NTSIM_SCRIPT_CURSOR", "NTSIM_TRANSCRIPT", "NTSIM_DESK_RUN",
                     "NTSIM_DESK_PLACE" })
                unsetenv(name);
            _exit(body());
        }
        if (m_pid < 0)
            ADD_FAILURE() << "forkpty failed";
    }
    ~PtyChild()
    {
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0)
            ::close(m_master);
    }

    // Reads until `text` shows after what earlier waits found; true if it did.
    bool waitFor(const std::string& text, std::chrono::milliseconds wait = 10s)
    {
        auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            size_t at = screen.find(text, m_seen);
            if (at != std::string::npos) {
                m_seen = at + text.size();
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline || (!readSome(20ms) && m_closed))
                return false;
        }
    }
    // All it shows from now on, after a quiet moment.
    void settle(std::chrono::milliseconds quiet = 300ms)
    {
        while (readSome(quiet)) {
        }
        m_seen = screen.size();
    }
    void type(const std::string& keys)
    {
        EXPECT_EQ(::write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    void resize(unsigned short columns, unsigned short rows)
    {
        winsize size {};
        size.ws_col = columns;
        size.ws_row = rows;
        ioctl(m_master, TIOCSWINSZ, &size);
    }
    // The child's exit status, -1 if it did not end in time.
    int status(std::chrono::milliseconds wait = 10s)
    {
        auto deadline = std::chrono::steady_clock::now() + wait;
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            readSome(20ms);
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the child did not end; it showed:\n" << screen;
                return -1;
            }
        }
        m_ended = true;
        while (readSome(50ms)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string screen; // all the child wrote to the terminal

private:
    // False when nothing came in the time, or the terminal closed (m_closed).
    bool readSome(std::chrono::milliseconds wait)
    {
        pollfd p { m_master, POLLIN, 0 };
        int ready = poll(&p, 1, static_cast<int>(wait.count()));
        if (ready == 0)
            return false;
        if (ready < 0 || !(p.revents & POLLIN)) {
            m_closed = ready > 0;
            return false;
        }
        char buffer[8192];
        ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            m_closed = true;
            return false;
        }
        screen.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int m_master { -1 };
    pid_t m_pid { -1 };
    bool m_ended { false };
    bool m_closed { false };
    size_t m_seen { 0 };
};

// A child's answer travels back as its exit status: its place in this list.
int answerCode(const std::vector<std::string>& answers, const std::string& answer)
{
    for (size_t i = 0; i < answers.size(); ++i)
        if (answers[i] == answer)
            return static_cast<int>(i);
    return 99;
}

const std::vector<std::string> pageAnswers { "", "next", "back", "cancel", "finish", "ok", "select brimlow pci data/fax modem",
    "select brimlow pci data/fax modem (second line)", "select brimlow spare line", "select another modem" };

// The driver page with its list's items answerable.
ntsim::desk::Shown pageWithList(int64_t selected = -1)
{
    ntsim::desk::Shown page = test::driverPage();
    ntsim::Json& list = page.fields["controls"][5];
    list["selected"] = selected;
    list["items"].push_back("Brimlow spare line");
    list["items"].push_back("Another modem");
    for (auto& item : list["items"]) {
        std::string text = item.get<std::string>();
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        page.answers.push_back("select " + text);
    }
    return page;
}

// Shows `shown` in a child on an 80x24 terminal of type `term`, types the
// keys once `waitFor` is on it, and returns the answer.
std::string answerAtTerminal(const ntsim::desk::Shown& shown, const char* term, const std::string& waitFor,
    const std::vector<std::string>& keys, std::string* screen = nullptr)
{
    PtyChild child(term, 80, 24, [&] { return answerCode(pageAnswers, ntsim::desk::show(shown)); });
    EXPECT_TRUE(child.waitFor(waitFor)) << child.screen;
    for (auto& key : keys) {
        child.type(key);
        child.settle(150ms);
    }
    int code = child.status();
    if (screen)
        *screen = child.screen;
    return code >= 0 && static_cast<size_t>(code) < pageAnswers.size() ? pageAnswers[static_cast<size_t>(code)] : "?";
}

ntsim::desk::Shown okCancelBox()
{
    ntsim::desk::Shown box;
    box.event = "messagebox";
    box.title = "Installation Error";
    box.fields = ntsim::Json::object();
    box.fields["caption"] = "Installation Error";
    box.fields["text"] = "The driver could not be started.";
    box.fields["style"] = 0x11;
    box.answers = { "ok", "cancel" };
    box.name = "message box \"Installation Error\"";
    return box;
}

// A 2x2 picture, 24 bits a pixel, bottom row first: red and orange over
// blue and white.
std::string tinyDib()
{
    std::string dib(40, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            dib[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, 2);
    put32(8, 2);
    dib[12] = 1;
    dib[14] = 24;
    // Rows are padded to four bytes; BGR.
    dib += std::string("\xFF\x00\x00\xFF\xFF\xFF\0\0", 8); // bottom: blue, white
    dib += std::string("\x00\x00\xFF\x00\x80\xFF\0\0", 8); // top: red, orange
    return dib;
}

}

TEST(DeskTerminal, ButtonsAnswerWithTheirLettersArrowsAndEnter)
{
    // Without a list the keyboard starts on Next. Left skips the disabled
    // Back to Cancel, Left again comes back to Next, Right and Left go
    // there and back; Enter presses it. B for the disabled Back rings.
    ntsim::desk::Shown page = test::driverPage();
    page.fields["controls"].erase(5);
    std::string screen;
    EXPECT_EQ(answerAtTerminal(page, "vt100", "Keys:", { "b", left, left, right, left, "\r" }, &screen), "next");
    EXPECT_NE(screen.find("Modem Board Installation Wizard"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Keys: N Next >, C Cancel; Left/Right or Tab and Enter; Esc Cancel"), std::string::npos)
        << screen;
    EXPECT_NE(screen.find("\a"), std::string::npos) << "no bell for a disabled button";

    // Esc is Cancel where it can be pressed; where it cannot, the key letter answers.
    EXPECT_EQ(answerAtTerminal(okCancelBox(), "vt100", "Keys:", { "\x1b" }), "cancel");
    test::PageButtons noCancel;
    noCancel.cancelEnabled = false;
    EXPECT_EQ(answerAtTerminal(test::driverPage(noCancel), "vt100", "Keys:", { "\x1b", "\x1bn" }), "next");
}

TEST(DeskTerminal, ListsTakeUpDownHomeEndAndFirstLetters)
{
    // The keyboard starts in the list; each move is the person's choice.
    EXPECT_EQ(answerAtTerminal(pageWithList(), "xterm", "Keys:", { down }), "select brimlow pci data/fax modem");
    EXPECT_EQ(answerAtTerminal(pageWithList(0), "xterm", "Keys:", { down }),
        "select brimlow pci data/fax modem (second line)");
    EXPECT_EQ(answerAtTerminal(pageWithList(1), "xterm", "Keys:", { up }), "select brimlow pci data/fax modem");
    EXPECT_EQ(answerAtTerminal(pageWithList(1), "xterm", "Keys:", { end }), "select another modem");
    EXPECT_EQ(answerAtTerminal(pageWithList(3), "xterm", "Keys:", { home }), "select brimlow pci data/fax modem");
    // A letter goes to the next item starting with it, round the list.
    EXPECT_EQ(answerAtTerminal(pageWithList(1), "xterm", "Keys:", { "b" }), "select brimlow spare line");
    EXPECT_EQ(answerAtTerminal(pageWithList(2), "xterm", "Keys:", { "B" }), "select brimlow pci data/fax modem");
    EXPECT_EQ(answerAtTerminal(pageWithList(), "xterm", "Keys:", { "a" }), "select another modem");
    // At the end of the list Down does nothing; Enter presses the default
    // button, Alt and a letter any button, Tab leaves the list for the buttons.
    EXPECT_EQ(answerAtTerminal(pageWithList(3), "xterm", "Keys:", { down, "z", "\r" }), "next");
    EXPECT_EQ(answerAtTerminal(pageWithList(3), "xterm", "Keys:", { "\x1b" "c" }), "cancel");
    EXPECT_EQ(answerAtTerminal(pageWithList(3), "xterm", "Keys:", { "\t", right, "\r" }), "cancel");

    // The chosen item is marked.
    std::string screen;
    answerAtTerminal(pageWithList(1), "dumb", "answer (next/cancel)> ", { "next\n" }, &screen);
    EXPECT_NE(screen.find("|> Brimlow PCI Data/Fax Modem (second li|"), std::string::npos) << screen;
}

TEST(DeskTerminal, TheKeyHelpIsWrappedAndTellsTypedWordsWithoutKeys)
{
    // 80 columns: the help of a list's page takes two lines, nothing cut.
    std::string screen;
    answerAtTerminal(pageWithList(), "vt100", "Keys:", { "\r" }, &screen);
    EXPECT_NE(screen.find("Keys: Up/Down, Home/End or a letter choose in the list; Tab to the buttons;"),
        std::string::npos) << screen;
    EXPECT_NE(screen.find("Enter Next >; Alt+N Next >, Alt+C Cancel; Esc Cancel"), std::string::npos) << screen;

    // 60 columns, and the page taller than the terminal: the scroll keys are told.
    ntsim::desk::Shown page = test::driverPage();
    page.fields["controls"].erase(5);
    PtyChild narrow("vt100", 60, 20, [&] { return answerCode(pageAnswers, ntsim::desk::show(page)); });
    EXPECT_TRUE(narrow.waitFor("Keys: N Next >, C Cancel; Left/Right or Tab and Enter; Esc")) << narrow.screen;
    EXPECT_TRUE(narrow.waitFor("Cancel; Up and Down scroll")) << narrow.screen;
    narrow.type("\r");
    EXPECT_EQ(narrow.status(), 1);

    // Without a terminal description the same page is text, and the help the words to type.
    std::string typed;
    EXPECT_EQ(answerAtTerminal(pageWithList(), "dumb", "answer (next/cancel)> ", { "back\n", "N\n" }, &typed), "next");
    EXPECT_NE(typed.find("| |       bitmap 110       |     |Brimlow PCI Data/Fax Modem             |     |"),
        std::string::npos) << typed;
    EXPECT_NE(typed.find("Type an answer and Enter: next (or n), cancel (or c); a list item by its number\r\n"
                         "or its text.\r\nanswer (next/cancel)> "),
        std::string::npos) << typed;
    EXPECT_EQ(typed.find("Keys:"), std::string::npos) << typed;
    EXPECT_NE(typed.find("not an answer here: back"), std::string::npos) << typed;
    EXPECT_EQ(answerAtTerminal(pageWithList(), "dumb", "answer (next/cancel)> ", { "Brimlow  PCI Data/Fax Modem\n" }),
        "select brimlow pci data/fax modem");
    EXPECT_EQ(answerAtTerminal(pageWithList(), "dumb", "answer (next/cancel)> ", { "4\n" }), "select another modem");

    std::string box;
    EXPECT_EQ(answerAtTerminal(okCancelBox(), "dumb", "answer (ok/cancel)> ", { "c\n" }, &box), "cancel");
    EXPECT_NE(box.find("| (X) The driver could not be started. |"), std::string::npos) << box;
}

TEST(DeskTerminal, AResizeRedrawsAtOnceThoughTheTerminalIsReadOnAnotherThread)
{
    ntsim::desk::Shown page = test::driverPage();
    page.fields["controls"].erase(5);
    PtyChild child("vt100", 80, 24, [&] {
        // As in a modal loop: the desk asks on a thread of its own, which
        // never sees SIGWINCH, while the main thread waits in poll.
        sigset_t winch;
        sigemptyset(&winch);
        sigaddset(&winch, SIGWINCH);
        std::string answer;
        std::thread desk([&] {
            pthread_sigmask(SIG_BLOCK, &winch, nullptr);
            answer = ntsim::desk::show(page);
        });
        desk.join();
        return answerCode(pageAnswers, answer);
    });
    ASSERT_TRUE(child.waitFor("Keys: N Next >, C Cancel; Left/Right or Tab and Enter; Esc Cancel")) << child.screen;
    child.settle();
    child.resize(50, 16);
    // No key is pressed: the drawing for 50 columns comes by itself.
    EXPECT_TRUE(child.waitFor("+- Modem Board Installation Wizard " + std::string(14, '-') + "+", 2s)) << child.screen;
    EXPECT_TRUE(child.waitFor("Up and Down scroll", 2s)) << child.screen;
    child.type("n");
    EXPECT_EQ(child.status(), 1);
}

TEST(DeskTerminal, PicturesAreDrawnInColourCellsOrAsAFrameWithoutColour)
{
    ntsim::desk::Shown page = test::driverPage();
    page.pictures[0] = tinyDib();
    std::string colour;
    answerAtTerminal(page, "xterm-256color", "Keys:", { "\x1bn" }, &colour);
    // Half blocks: red, blue and white are the terminal's own, orange is
    // the 256-colour cube's (255,135,0).
    for (const char* cell : { "\x1b[91m\x1b[101m\xE2\x96\x80", "\x1b[94m\x1b[104m\xE2\x96\x80", "\x1b[97m\x1b[107m\xE2\x96\x80",
             "\x1b[38;5;208m\x1b[48;5;208m\xE2\x96\x80" })
        EXPECT_NE(colour.find(cell), std::string::npos) << cell << colour;
    EXPECT_EQ(colour.find("bitmap 110"), std::string::npos) << colour;

    // Fewer than 256 (rxvt-unicode's 88): the sixteen of the system, where
    // orange is dark yellow and red bright red.
    std::string sixteen;
    answerAtTerminal(page, "rxvt-unicode", "Keys:", { "\x1bn" }, &sixteen);
    EXPECT_NE(sixteen.find("\x1b[38;5;3m\x1b[48;5;3m\xE2\x96\x80"), std::string::npos) << sixteen;
    EXPECT_NE(sixteen.find("\x1b[38;5;9m\x1b[48;5;9m\xE2\x96\x80"), std::string::npos) << sixteen;
    // Eight (xterm): red is the dark one.
    std::string eight;
    answerAtTerminal(page, "xterm", "Keys:", { "\x1bn" }, &eight);
    EXPECT_NE(eight.find("\x1b[31m\x1b[41m\xE2\x96\x80"), std::string::npos) << eight;

    // No colours: the frame and the picture's name.
    std::string plain;
    answerAtTerminal(page, "vt100", "Keys:", { "\x1bn" }, &plain);
    EXPECT_EQ(plain.find("\xE2\x96\x80"), std::string::npos);
    EXPECT_NE(plain.find("bitmap 110"), std::string::npos) << plain;
}

TEST(DeskTerminal, ANewerWindowWaitsWhileThePersonAnswersAnotherAndF6Switches)
{
    // The run's program shows a box at once and starts a process that
    // shows one of its own a moment later.
    test::TestMachine m;
    test::installChildProgram(m);
    std::string tool = test::ntsimTool();
    std::string dir = m.dir();
    PtyChild child("xterm", 80, 24, [&] {
        execl(tool.c_str(), tool.c_str(), "run", dir.c_str(), "--", "C:\\WINNT\\system32\\K32CHILD.EXE", "spawn", "0",
            "Wizard", "box", "Applet", "1500", nullptr);
        return 126;
    });
    ASSERT_TRUE(child.waitFor("Shown by Wizard")) << child.screen;
    // The person begins to answer: the newer box waits on the line of other windows.
    child.type(right);
    EXPECT_TRUE(child.waitFor("Other windows: Applet (F6 switches)")) << child.screen;
    child.settle(600ms);
    std::string meanwhile = child.screen;
    EXPECT_EQ(meanwhile.find("Shown by Applet"), std::string::npos) << meanwhile;
    child.type(f6);
    EXPECT_TRUE(child.waitFor("Shown by Applet")) << child.screen;
    EXPECT_TRUE(child.waitFor("Other windows: Wizard (F6 switches)")) << child.screen;
    child.type(f6);
    EXPECT_TRUE(child.waitFor("Shown by Wizard")) << child.screen;
    // Cancel ends the program's box; then the other box has the screen.
    child.type("\x1b");
    EXPECT_TRUE(child.waitFor("Shown by Applet")) << child.screen;
    child.type("\r");
    EXPECT_EQ(child.status(20s), IDCANCEL) << child.screen;
}

TEST(DeskTerminal, TheWizardInstallWithItsAppletAtTheKeyboard)
{
    // The real program: after the driver page the applet's page, created
    // after the wizard, comes up first; the wizard's last page waits on the
    // line of other windows until the applet is done.
    test::TestMachine m;
    std::string tool = test::ntsimTool();
    std::string dir = m.dir();
    PtyChild child("xterm-256color", 100, 40, [&] {
        execl(tool.c_str(), tool.c_str(), "run", dir.c_str(), "--", "C:\\MODEM\\SETUP.EXE", "-l", nullptr);
        return 126;
    });
    ASSERT_TRUE(child.waitFor("Welcome to the modem board installation wizard.")) << child.screen;
    // The wizard's picture is drawn in colour cells.
    EXPECT_TRUE(child.waitFor("\xE2\x96\x80")) << child.screen;
    child.type("\r");
    ASSERT_TRUE(child.waitFor("The wizard will install the modem driver shown below.")) << child.screen;
    child.type(down);
    ASSERT_TRUE(child.waitFor("> Brimlow PCI Data/Fax Modem")) << child.screen;
    child.type("\r");
    ASSERT_TRUE(child.waitFor("+- Country Settings", 20s)) << child.screen;
    EXPECT_TRUE(child.waitFor("Other windows: Modem Board Installation Wizard (F6 switches)", 20s)) << child.screen;
    child.type("u");
    ASSERT_TRUE(child.waitFor("> United States")) << child.screen;
    child.type("\r");
    ASSERT_TRUE(child.waitFor("The modem driver was installed successfully:", 20s)) << child.screen;
    child.type("\r");
    EXPECT_EQ(child.status(20s), 0) << child.screen;
    // The applet's choice is the country of the modem.
    EXPECT_EQ(test::registryValue(m, std::string(test::modemClassKey) + "\\0000\\Country", "Current"), std::string("\xB5\0", 2));
}
