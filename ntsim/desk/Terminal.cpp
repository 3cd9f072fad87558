#include "Terminal.h"

#include "Drawing.h"
#include "machine/FileLock.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Last: it defines macros with common names.
#include <curses.h>

namespace ntsim::desk {

namespace {

constexpr int escapeKey = 27;

// The controlling terminal, for reading and for writing.
class Terminal {
public:
    Terminal()
        : m_in(std::fopen("/dev/tty", "re"))
        , m_out(std::fopen("/dev/tty", "we"))
    {
    }
    ~Terminal()
    {
        if (m_in)
            std::fclose(m_in);
        if (m_out)
            std::fclose(m_out);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool open() const { return m_in && m_out; }
    FILE* in() const { return m_in; }
    FILE* out() const { return m_out; }

    size_t width() const
    {
        winsize size {};
        if (ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            return size.ws_col;
        return 80;
    }

private:
    FILE* m_in;
    FILE* m_out;
};

bool pressable(const Shown& shown, const DrawnButton& b)
{
    return b.enabled && std::find(shown.answers.begin(), shown.answers.end(), b.answer) != shown.answers.end();
}

// Esc is Cancel where Cancel can be pressed, and OK for a box that has nothing else.
std::optional<std::string> escapeAnswer(const Shown& shown)
{
    auto has = [&](const char* a) { return std::find(shown.answers.begin(), shown.answers.end(), a) != shown.answers.end(); };
    if (has("cancel"))
        return std::string("cancel");
    if (shown.answers.size() == 1 && has("ok"))
        return std::string("ok");
    return std::nullopt;
}

std::optional<std::string> byLetter(const Shown& shown, const Drawing& drawing, int key)
{
    if (key <= 0 || key > 255 || !std::isalpha(key))
        return std::nullopt;
    char letter = static_cast<char>(std::toupper(key));
    for (auto& b : drawing.buttons)
        if (b.letter == letter && pressable(shown, b))
            return b.answer;
    return std::nullopt;
}

// The "select ITEM" answers of a page's list boxes, in the order shown.
std::vector<std::string> selections(const Shown& shown)
{
    std::vector<std::string> found;
    for (auto& a : shown.answers)
        if (a.rfind("select ", 0) == 0)
            found.push_back(a);
    return found;
}

// A list item chosen by its number among the page's items (1 to 9).
std::optional<std::string> byNumber(const Shown& shown, int key)
{
    auto items = selections(shown);
    if (key < '1' || key > '9' || static_cast<size_t>(key - '1') >= items.size())
        return std::nullopt;
    return items[static_cast<size_t>(key - '1')];
}

std::string keysHelp(const Shown& shown, const Drawing& drawing)
{
    std::string help = "Keys:";
    for (auto& b : drawing.buttons)
        if (pressable(shown, b))
            help += std::string(" ") + b.letter + " " + b.label + ",";
    if (escapeAnswer(shown))
        help += " Esc " + buttonLabel(*escapeAnswer(shown)) + ",";
    if (size_t items = selections(shown).size())
        help += " 1" + (items > 1 ? "-" + std::to_string(std::min<size_t>(items, 9)) : std::string()) + " choose a list item,";
    return help + " or arrows and Enter";
}

// ncurses draws UTF-8 only under a UTF-8 character type; the program's own
// setting comes back when the terminal is left.
class Utf8Locale {
public:
    Utf8Locale()
    {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        m_saved = current ? current : "C";
        if (!std::setlocale(LC_CTYPE, "") || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
            std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    ~Utf8Locale() { std::setlocale(LC_CTYPE, m_saved.c_str()); }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    std::string m_saved;
};

class CursesScreen {
public:
    CursesScreen(const Terminal& tty)
    {
        const char* term = std::getenv("TERM");
        if (!term || !*term || std::strcmp(term, "dumb") == 0)
            return;
        m_screen = newterm(nullptr, tty.out(), tty.in());
        if (!m_screen)
            return;
        set_term(m_screen);
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        set_escdelay(25);
        curs_set(0);
    }
    ~CursesScreen()
    {
        if (!m_screen)
            return;
        endwin();
        delscreen(m_screen);
    }
    CursesScreen(const CursesScreen&) = delete;
    CursesScreen& operator=(const CursesScreen&) = delete;

    bool open() const { return m_screen != nullptr; }

private:
    SCREEN* m_screen { nullptr };
};

void paint(const Shown& shown, const Drawing& d, size_t selected, size_t scroll)
{
    erase();
    int rows = std::max(LINES - 1, 1);
    // A terminal narrower than the drawing shows its left part.
    size_t columns = static_cast<size_t>(std::max(COLS, 1));
    for (int r = 0; r < rows && scroll + static_cast<size_t>(r) < d.lines.size(); ++r)
        mvaddstr(r, 0, clipToColumns(d.lines[scroll + static_cast<size_t>(r)], columns).c_str());
    for (size_t i = 0; i < d.buttons.size(); ++i) {
        const DrawnButton& b = d.buttons[i];
        if (b.row < scroll || b.row - scroll >= static_cast<size_t>(rows))
            continue;
        int row = static_cast<int>(b.row - scroll);
        bool canPress = pressable(shown, b);
        attr_t look = !canPress ? A_DIM : i == selected ? A_REVERSE : A_NORMAL;
        if (b.column + b.width > columns)
            continue;
        std::string text = canPress ? "[ " + b.label + " ]" : "  " + b.label + "  ";
        attron(look);
        mvaddstr(row, static_cast<int>(b.column), text.c_str());
        if (canPress)
            mvchgat(row, static_cast<int>(b.key), 1, look | A_UNDERLINE, 0, nullptr);
        attroff(look);
    }
    std::string help = keysHelp(shown, d);
    if (d.lines.size() > static_cast<size_t>(rows))
        help += "; Up and Down scroll";
    attron(A_BOLD);
    mvaddnstr(LINES - 1, 0, help.c_str(), COLS);
    attroff(A_BOLD);
    refresh();
}

size_t stepSelection(const Shown& shown, const Drawing& d, size_t selected, int direction)
{
    size_t n = d.buttons.size();
    for (size_t k = 1; k <= n; ++k) {
        size_t i = (selected + n + static_cast<size_t>(direction) * k) % n;
        if (pressable(shown, d.buttons[i]))
            return i;
    }
    return selected;
}

std::optional<std::string> askWithCurses(const Shown& shown)
{
    Drawing d = draw(shown, static_cast<size_t>(COLS));
    size_t selected = d.defaultButton;
    if (selected < d.buttons.size() && !pressable(shown, d.buttons[selected]))
        selected = stepSelection(shown, d, selected, 1);
    size_t scroll = 0;
    for (;;) {
        d = draw(shown, static_cast<size_t>(COLS));
        size_t rows = static_cast<size_t>(std::max(LINES - 1, 1));
        size_t lastScroll = d.lines.size() > rows ? d.lines.size() - rows : 0;
        scroll = std::min(scroll, lastScroll);
        paint(shown, d, selected, scroll);
        int key = getch();
        switch (key) {
        case ERR:
            return std::nullopt;
        case KEY_LEFT:
        case KEY_BTAB:
            selected = stepSelection(shown, d, selected, -1);
            continue;
        case KEY_RIGHT:
        case '\t':
            selected = stepSelection(shown, d, selected, 1);
            continue;
        case KEY_UP:
        case KEY_PPAGE:
            scroll -= std::min(scroll, key == KEY_UP ? size_t(1) : rows);
            continue;
        case KEY_DOWN:
        case KEY_NPAGE:
            scroll = std::min(lastScroll, scroll + (key == KEY_DOWN ? 1 : rows));
            continue;
        case '\n':
        case '\r':
        case KEY_ENTER:
            if (selected < d.buttons.size() && pressable(shown, d.buttons[selected]))
                return d.buttons[selected].answer;
            beep();
            continue;
        case escapeKey:
            if (auto answer = escapeAnswer(shown))
                return answer;
            beep();
            continue;
        default:
            if (auto answer = byLetter(shown, d, key))
                return answer;
            if (auto answer = byNumber(shown, key))
                return answer;
            if (key != KEY_RESIZE)
                beep();
            continue;
        }
    }
}

std::optional<std::string> readLine(FILE* in)
{
    std::string line;
    for (;;) {
        int c = std::fgetc(in);
        if (c == EOF)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            return line;
        line += static_cast<char>(c);
    }
}

// A whole answer, its key letter, or the start of only one answer.
std::optional<std::string> matchTyped(const Shown& shown, const Drawing& d, const std::string& typed)
{
    // A list item: its number, its text, or "select" and its text.
    std::string words;
    for (char c : typed) {
        bool blank = std::isspace(static_cast<unsigned char>(c));
        if (blank && (words.empty() || words.back() == ' '))
            continue;
        words += blank ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (!words.empty() && words.back() == ' ')
        words.pop_back();
    if (words.size() == 1)
        if (auto answer = byNumber(shown, static_cast<unsigned char>(words[0])))
            return answer;
    for (auto& item : selections(shown))
        if (item == words || item == "select " + words)
            return item;
    std::string t;
    for (char c : typed)
        if (!std::isspace(static_cast<unsigned char>(c)))
            t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t.empty())
        return std::nullopt;
    if (t.size() == 1)
        if (auto answer = byLetter(shown, d, static_cast<unsigned char>(t[0])))
            return answer;
    std::optional<std::string> byStart;
    int starts = 0;
    for (auto& b : d.buttons) {
        if (!pressable(shown, b))
            continue;
        if (b.answer == t)
            return b.answer;
        if (b.answer.compare(0, t.size(), t) == 0) {
            byStart = b.answer;
            ++starts;
        }
    }
    return starts == 1 ? byStart : std::nullopt;
}

std::optional<std::string> askLineByLine(const Terminal& tty, const Shown& shown)
{
    Drawing d = draw(shown, tty.width());
    std::string text = "\n" + drawingText(d) + keysHelp(shown, d) + "\n";
    std::string choices;
    for (auto& b : d.buttons)
        if (pressable(shown, b))
            choices += (choices.empty() ? "" : "/") + b.answer;
    for (;;) {
        text += "answer (" + choices + ")> ";
        std::fputs(text.c_str(), tty.out());
        std::fflush(tty.out());
        auto line = readLine(tty.in());
        if (!line)
            return std::nullopt;
        if (auto answer = matchTyped(shown, d, *line))
            return answer;
        text = "not an answer here: " + *line + "\n";
    }
}

}

std::optional<std::string> askAtTerminal(const Shown& shown)
{
    Terminal tty;
    if (!tty.open())
        return std::nullopt;
    {
        Utf8Locale locale;
        CursesScreen screen(tty);
        if (screen.open())
            return askWithCurses(shown);
    }
    return askLineByLine(tty, shown);
}

}
