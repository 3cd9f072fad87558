#include "Terminal.h"

#include "Drawing.h"
#include "Picture.h"
#include "Screen.h"

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

// Last: it defines macros with common names.
#include <curses.h>

namespace ntsim::desk {

namespace {

constexpr int escapeKey = 27;
constexpr int switchKey = KEY_F(6);
// How often a waiting window looks whether it has the screen, and a shown
// one whether the terminal changed its size or another window took over.
constexpr int lookMs = 50;

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

    // Rows and columns as the terminal has them now.
    std::pair<int, int> size() const
    {
        winsize size {};
        if (ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
            return { size.ws_row, size.ws_col };
        return { 24, 80 };
    }
    size_t width() const { return static_cast<size_t>(size().second); }

private:
    FILE* m_in;
    FILE* m_out;
};

bool has(const Shown& shown, const std::string& answer)
{
    return std::find(shown.answers.begin(), shown.answers.end(), answer) != shown.answers.end();
}

bool pressable(const Shown& shown, const DrawnButton& b)
{
    return b.enabled && has(shown, b.answer);
}

// Esc is Cancel where Cancel can be pressed, and OK for a box that has nothing else.
std::optional<std::string> escapeAnswer(const Shown& shown)
{
    if (has(shown, "cancel"))
        return std::string("cancel");
    if (shown.answers.size() == 1 && has(shown, "ok"))
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

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The answer that chooses an item of a list, if the page takes it.
std::optional<std::string> selectAnswer(const Shown& shown, const DrawnList& list, size_t item)
{
    if (item >= list.items.size() || static_cast<int64_t>(item) == list.selected)
        return std::nullopt;
    std::string answer = "select " + lowered(list.items[item]);
    return has(shown, answer) ? std::optional<std::string>(answer) : std::nullopt;
}

// A key in a list box, as Windows' list box takes it: Up and Down a step,
// Home and End to the ends, a character to the next item starting with it.
std::optional<std::string> listKey(const Shown& shown, const DrawnList& list, int key)
{
    size_t count = list.items.size();
    if (!count)
        return std::nullopt;
    size_t at = list.selected < 0 ? 0 : static_cast<size_t>(list.selected);
    switch (key) {
    case KEY_UP:
        return selectAnswer(shown, list, list.selected < 0 ? 0 : at == 0 ? at : at - 1);
    case KEY_DOWN:
        return selectAnswer(shown, list, list.selected < 0 ? 0 : std::min(at + 1, count - 1));
    case KEY_HOME:
        return selectAnswer(shown, list, 0);
    case KEY_END:
        return selectAnswer(shown, list, count - 1);
    default:
        break;
    }
    if (key <= ' ' || key > 255)
        return std::nullopt;
    char wanted = static_cast<char>(std::tolower(key));
    for (size_t step = 1; step <= count; ++step) {
        size_t i = (list.selected < 0 ? step - 1 : at + step) % count;
        const std::string& item = list.items[i];
        if (!item.empty() && std::tolower(static_cast<unsigned char>(item[0])) == wanted)
            return selectAnswer(shown, list, i);
    }
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

// Where the keyboard is: on a list box or on a button.
struct Focus {
    bool onList { false };
    size_t index { 0 }; // into the drawing's lists or buttons
};

// The focus of each window of this process, so that a page shown again
// after a choice in its list keeps the keyboard where the person left it.
std::map<std::string, Focus>& rememberedFocus()
{
    static std::map<std::string, Focus> focus;
    return focus;
}

std::string otherWindowsLine(const std::vector<std::string>& others, bool typed)
{
    if (others.empty())
        return {};
    std::string names;
    for (auto& title : others)
        names += (names.empty() ? "" : ", ") + title;
    return "Other windows: " + names + (typed ? " (type switch to go there)" : " (F6 switches)");
}

// "N Next >, C Cancel", each key after `prefix` ("Alt+N Next >").
std::string buttonKeys(const Shown& shown, const Drawing& d, const std::string& prefix)
{
    std::string keys;
    for (auto& b : d.buttons)
        if (pressable(shown, b))
            keys += (keys.empty() ? "" : ", ") + prefix + std::string(1, b.letter) + " " + b.label;
    return keys;
}

// What the keys do here, in words; wrapped to the terminal's width by the caller.
std::string keysHelp(const Shown& shown, const Drawing& d, const Focus& focus, bool scrolls, bool others)
{
    std::vector<std::string> parts;
    if (focus.onList) {
        parts.push_back("Up/Down, Home/End or a letter choose in the list");
        parts.push_back("Tab to the buttons");
        if (d.defaultButton < d.buttons.size() && pressable(shown, d.buttons[d.defaultButton]))
            parts.push_back("Enter " + d.buttons[d.defaultButton].label);
        if (std::string alt = buttonKeys(shown, d, "Alt+"); !alt.empty())
            parts.push_back(alt);
    } else {
        if (std::string letters = buttonKeys(shown, d, ""); !letters.empty())
            parts.push_back(letters);
        parts.push_back(d.lists.empty() ? "Left/Right or Tab and Enter" : "Left/Right and Enter, Tab to the list");
    }
    if (auto esc = escapeAnswer(shown))
        parts.push_back("Esc " + buttonLabel(*esc));
    if (scrolls)
        parts.push_back(focus.onList ? "PgUp and PgDn scroll" : "Up and Down scroll");
    if (others)
        parts.push_back("F6 another window");
    std::string help = "Keys:";
    for (size_t i = 0; i < parts.size(); ++i)
        help += (i ? "; " : " ") + parts[i];
    return help;
}

// What may be typed, for a terminal without keys.
std::string typedHelp(const Shown& shown, const Drawing& d, bool others)
{
    std::string words;
    for (auto& b : d.buttons)
        if (pressable(shown, b))
            words += (words.empty() ? "" : ", ") + b.answer + " (or " + std::string(1, static_cast<char>(std::tolower(b.letter))) + ")";
    std::string help = "Type an answer and Enter: " + words;
    if (!selections(shown).empty())
        help += "; a list item by its number or its text";
    if (others)
        help += "; switch to go to another window";
    return help + ".";
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

bool cursesTerminal()
{
    const char* term = std::getenv("TERM");
    return term && *term && std::strcmp(term, "dumb") != 0;
}

class CursesScreen {
public:
    explicit CursesScreen(const Terminal& tty)
    {
        if (!cursesTerminal())
            return;
        m_screen = newterm(nullptr, tty.out(), tty.in());
        if (!m_screen)
            return;
        set_term(m_screen);
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        nodelay(stdscr, TRUE);
        set_escdelay(25);
        curs_set(0);
        if (has_colors() && start_color() == OK) {
            use_default_colors();
            m_colours = COLORS >= 256 ? 256 : COLORS >= 16 ? 16 : COLORS >= 8 ? 8 : 0;
        }
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
    int colours() const { return m_colours; }

private:
    SCREEN* m_screen { nullptr };
    int m_colours { 0 };
};

// How a turn at the terminal ended.
enum class Turn { Answered, LostScreen, Closed };

class CursesAsk {
public:
    CursesAsk(const Shown& shown, ScreenSeat& seat, const Terminal& tty, int colours)
        : m_shown(shown)
        , m_seat(seat)
        , m_tty(tty)
        , m_colours(colours)
    {
        m_drawing = draw(shown, static_cast<size_t>(COLS), m_colours);
        auto remembered = rememberedFocus().find(focusKey());
        if (remembered != rememberedFocus().end() && validFocus(remembered->second)) {
            m_focus = remembered->second;
        } else if (!m_drawing.lists.empty()) {
            // As the dialog manager gives the first control that takes the keyboard.
            m_focus = { true, 0 };
        } else {
            m_focus = { false, m_drawing.defaultButton };
            if (!validFocus(m_focus))
                step(1);
        }
    }

    Turn run(std::string& answer)
    {
        paint();
        auto lastLook = std::chrono::steady_clock::now();
        for (;;) {
            int key = getch();
            if (key == ERR) {
                pollfd p { fileno(m_tty.in()), POLLIN, 0 };
                int ready = poll(&p, 1, lookMs);
                if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
                    return Turn::Closed;
                if (ready > 0 && (p.revents & POLLIN)) {
                    key = getch();
                    if (key == ERR && (p.revents & POLLHUP))
                        return Turn::Closed;
                }
            }
            // The size is read here, not from SIGWINCH: the signal may go
            // to another thread of the process.
            auto [rows, columns] = m_tty.size();
            if (rows != LINES || columns != COLS) {
                resizeterm(rows, columns);
                paint();
            }
            if (std::chrono::steady_clock::now() - lastLook >= std::chrono::milliseconds(lookMs)) {
                lastLook = std::chrono::steady_clock::now();
                std::vector<std::string> before = m_seat.others();
                if (!m_seat.stillForeground())
                    return Turn::LostScreen;
                if (m_seat.others() != before)
                    paint();
            }
            if (key == ERR || key == KEY_RESIZE) {
                if (key == KEY_RESIZE)
                    paint();
                continue;
            }
            if (auto done = press(key)) {
                rememberedFocus()[focusKey()] = m_focus;
                if (*done == "\x01switch")
                    return Turn::LostScreen;
                answer = *done;
                return Turn::Answered;
            }
            paint();
        }
    }

private:
    // A window's pages each keep their own focus.
    std::string focusKey() const { return m_seat.key() + "|" + dumpLine(member(m_shown.fields, "template")); }

    bool validFocus(const Focus& f) const
    {
        if (f.onList)
            return f.index < m_drawing.lists.size();
        return f.index < m_drawing.buttons.size() && pressable(m_shown, m_drawing.buttons[f.index]);
    }

    // Moves among the pressable buttons.
    void step(int direction)
    {
        size_t n = m_drawing.buttons.size();
        size_t from = m_focus.onList ? (direction > 0 ? n - 1 : 0) : m_focus.index;
        for (size_t k = 1; k <= n; ++k) {
            size_t i = (from + n + static_cast<size_t>(direction) * k) % n;
            if (pressable(m_shown, m_drawing.buttons[i])) {
                m_focus = { false, i };
                return;
            }
        }
    }

    // Tab: the lists, then the buttons, and round.
    void tab(int direction)
    {
        std::vector<Focus> order;
        for (size_t i = 0; i < m_drawing.lists.size(); ++i)
            order.push_back({ true, i });
        for (size_t i = 0; i < m_drawing.buttons.size(); ++i)
            if (pressable(m_shown, m_drawing.buttons[i]))
                order.push_back({ false, i });
        if (order.empty())
            return;
        size_t at = 0;
        for (size_t i = 0; i < order.size(); ++i)
            if (order[i].onList == m_focus.onList && order[i].index == m_focus.index)
                at = i;
        m_focus = order[(at + order.size() + static_cast<size_t>(direction)) % order.size()];
    }

    size_t pageRows() const
    {
        return static_cast<size_t>(std::max(LINES - static_cast<int>(m_footer.size()), 1));
    }

    // A key: the answer it gives ("\x01switch" to go to another window), or nothing.
    std::optional<std::string> press(int key)
    {
        if (key == switchKey) {
            if (m_seat.switchToNext())
                return std::string("\x01switch");
            beep();
            return std::nullopt;
        }
        if (key == escapeKey) {
            // Alt and a letter come as Esc and the letter.
            int next = getch();
            if (next != ERR) {
                if (auto answer = byLetter(m_shown, m_drawing, next))
                    return answer;
                beep();
                return std::nullopt;
            }
            if (auto answer = escapeAnswer(m_shown))
                return answer;
            beep();
            return std::nullopt;
        }
        size_t lastScroll = m_drawing.lines.size() > pageRows() ? m_drawing.lines.size() - pageRows() : 0;
        switch (key) {
        case '\n':
        case '\r':
        case KEY_ENTER: {
            size_t b = m_focus.onList ? m_drawing.defaultButton : m_focus.index;
            if (b < m_drawing.buttons.size() && pressable(m_shown, m_drawing.buttons[b]))
                return m_drawing.buttons[b].answer;
            beep();
            return std::nullopt;
        }
        case '\t':
            tab(1);
            return std::nullopt;
        case KEY_BTAB:
            tab(-1);
            return std::nullopt;
        case KEY_LEFT:
            m_seat.setBusy();
            step(-1);
            return std::nullopt;
        case KEY_RIGHT:
            m_seat.setBusy();
            step(1);
            return std::nullopt;
        case KEY_PPAGE:
            m_scroll -= std::min(m_scroll, pageRows());
            return std::nullopt;
        case KEY_NPAGE:
            m_scroll = std::min(lastScroll, m_scroll + pageRows());
            return std::nullopt;
        default:
            break;
        }
        if (m_focus.onList) {
            if (auto answer = listKey(m_shown, m_drawing.lists[m_focus.index], key))
                return answer;
            if (key == KEY_UP || key == KEY_DOWN || key == KEY_HOME || key == KEY_END || (key > ' ' && key < 256))
                return std::nullopt; // at the end of the list, or no item starts so
        }
        switch (key) {
        case KEY_UP:
            m_seat.setBusy();
            m_scroll -= std::min(m_scroll, size_t(1));
            return std::nullopt;
        case KEY_DOWN:
            m_seat.setBusy();
            m_scroll = std::min(lastScroll, m_scroll + 1);
            return std::nullopt;
        case KEY_HOME:
            m_scroll = 0;
            return std::nullopt;
        case KEY_END:
            m_scroll = lastScroll;
            return std::nullopt;
        default:
            break;
        }
        if (auto answer = byLetter(m_shown, m_drawing, key))
            return answer;
        beep();
        return std::nullopt;
    }

    void paintCells(size_t rows)
    {
        for (auto& cell : m_drawing.painted) {
            if (cell.row < m_scroll || cell.row - m_scroll >= rows || cell.column >= static_cast<size_t>(COLS))
                continue;
            int pair = alloc_pair(cell.top, cell.bottom);
            if (pair < 0)
                continue;
            attron(COLOR_PAIR(pair));
            mvaddstr(static_cast<int>(cell.row - m_scroll), static_cast<int>(cell.column), upperHalfBlock);
            attroff(COLOR_PAIR(pair));
        }
    }

    void paint()
    {
        m_drawing = draw(m_shown, static_cast<size_t>(COLS), m_colours);
        if (!validFocus(m_focus)) {
            m_focus = { false, m_drawing.defaultButton };
            if (!validFocus(m_focus))
                step(1);
        }
        size_t columns = static_cast<size_t>(std::max(COLS, 1));
        // The footer: the other windows, then the keys, wrapped.
        m_footer.clear();
        std::string others = otherWindowsLine(m_seat.others(), false);
        if (!others.empty())
            m_footer.push_back(clipToColumns(others, columns));
        bool scrolls = m_drawing.lines.size() + m_footer.size() + 1 > static_cast<size_t>(std::max(LINES, 1));
        for (auto& line : wrapText(keysHelp(m_shown, m_drawing, m_focus, scrolls, !others.empty()), columns))
            m_footer.push_back(line);
        if (m_footer.size() >= static_cast<size_t>(std::max(LINES, 1)))
            m_footer.erase(m_footer.begin(), m_footer.end() - std::max(LINES - 1, 1));
        size_t rows = pageRows();
        size_t lastScroll = m_drawing.lines.size() > rows ? m_drawing.lines.size() - rows : 0;
        m_scroll = std::min(m_scroll, lastScroll);

        erase();
        // A terminal narrower than the drawing shows its left part.
        for (size_t r = 0; r < rows && m_scroll + r < m_drawing.lines.size(); ++r)
            mvaddstr(static_cast<int>(r), 0, clipToColumns(m_drawing.lines[m_scroll + r], columns).c_str());
        paintCells(rows);
        for (size_t i = 0; i < m_drawing.lists.size(); ++i) {
            const DrawnList& l = m_drawing.lists[i];
            bool focused = m_focus.onList && m_focus.index == i;
            int64_t caret = l.selected >= 0 ? l.selected : focused ? 0 : -1;
            if (caret < static_cast<int64_t>(l.first) || caret >= static_cast<int64_t>(l.first + l.shown))
                continue;
            size_t row = l.row + static_cast<size_t>(caret) - l.first;
            if (row < m_scroll || row - m_scroll >= rows || l.column + l.width > columns)
                continue;
            attr_t look = l.selected >= 0 ? (focused ? A_REVERSE : A_BOLD) : A_UNDERLINE;
            mvchgat(static_cast<int>(row - m_scroll), static_cast<int>(l.column), static_cast<int>(l.width), look, 0, nullptr);
        }
        for (size_t i = 0; i < m_drawing.buttons.size(); ++i) {
            const DrawnButton& b = m_drawing.buttons[i];
            if (b.row < m_scroll || b.row - m_scroll >= rows || b.column + b.width > columns)
                continue;
            int row = static_cast<int>(b.row - m_scroll);
            bool canPress = pressable(m_shown, b);
            bool focused = !m_focus.onList && m_focus.index == i;
            bool isDefault = m_focus.onList && i == m_drawing.defaultButton;
            attr_t look = !canPress ? A_DIM : focused ? A_REVERSE : isDefault ? A_BOLD : A_NORMAL;
            std::string text = canPress ? "[ " + b.label + " ]" : "  " + b.label + "  ";
            attron(look);
            mvaddstr(row, static_cast<int>(b.column), text.c_str());
            if (canPress)
                mvchgat(row, static_cast<int>(b.key), 1, look | A_UNDERLINE, 0, nullptr);
            attroff(look);
        }
        int first = LINES - static_cast<int>(m_footer.size());
        for (size_t i = 0; i < m_footer.size(); ++i) {
            attr_t look = !others.empty() && i == 0 ? A_REVERSE : A_BOLD;
            attron(look);
            mvaddstr(first + static_cast<int>(i), 0, m_footer[i].c_str());
            attroff(look);
        }
        refresh();
    }

    const Shown& m_shown;
    ScreenSeat& m_seat;
    const Terminal& m_tty;
    int m_colours;
    Drawing m_drawing;
    Focus m_focus;
    size_t m_scroll { 0 };
    std::vector<std::string> m_footer;
};

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

// A terminal without a description: the drawing as text, a typed answer.
// The prompt holds the screen until it is answered: what is typed is the
// person's answer in the making.
Turn askLineByLine(const Terminal& tty, const Shown& shown, ScreenSeat& seat, std::string& answer)
{
    size_t width = tty.width();
    Drawing d = draw(shown, width);
    seat.setBusy();
    std::string others = otherWindowsLine(seat.others(), true);
    std::string text = "\n" + drawingText(d) + (others.empty() ? "" : others + "\n");
    for (auto& line : wrapText(typedHelp(shown, d, !others.empty()), std::max(width, narrowestDrawing)))
        text += line + "\n";
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
            return Turn::Closed;
        if (!others.empty() && lowered(*line) == "switch" && seat.switchToNext())
            return Turn::LostScreen;
        if (auto typed = matchTyped(shown, d, *line)) {
            answer = *typed;
            return Turn::Answered;
        }
        text = "not an answer here: " + *line + "\n";
    }
}

}

std::optional<std::string> askAtTerminal(const Shown& shown)
{
    Terminal tty;
    if (!tty.open())
        return std::nullopt;
    ScreenSeat seat(shown);
    for (;;) {
        // One window at a time has the terminal: wait for this one's turn.
        while (!seat.takeTerminal())
            std::this_thread::sleep_for(std::chrono::milliseconds(lookMs));
        std::string answer;
        Turn turn = Turn::Closed;
        bool asked = false;
        {
            Utf8Locale locale;
            CursesScreen screen(tty);
            if (screen.open()) {
                asked = true;
                turn = CursesAsk(shown, seat, tty, screen.colours()).run(answer);
            }
        }
        if (!asked)
            turn = askLineByLine(tty, shown, seat, answer);
        seat.releaseTerminal();
        if (turn == Turn::Answered)
            return answer;
        if (turn == Turn::Closed)
            return std::nullopt;
    }
}

}
