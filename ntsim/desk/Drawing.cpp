#include "Drawing.h"

#include "Picture.h"
#include "Script.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>

namespace ntsim::desk {

namespace {

// Window styles as the transcript gives them.
constexpr uint32_t buttonTypeMask = 0x0F;
constexpr uint32_t buttonCheckBox = 0x02, buttonAutoCheckBox = 0x03, buttonRadio = 0x04, button3State = 0x05,
                   buttonAuto3State = 0x06, buttonGroupBox = 0x07, buttonAutoRadio = 0x09;
constexpr uint32_t staticNoPrefix = 0x80;
constexpr uint32_t messageBoxIconMask = 0xF0, messageBoxDefaultMask = 0xF00;

// A page is 304 by 172 dialog units; a line of its 8-point text is about
// eight units high, a little more with the spacing of the templates, so
// eleven units a line keep a page within 80x24 with its frame and buttons.
constexpr double pageWidthUnits = 304;
constexpr double unitsPerLine = 11;

// --- UTF-8 text and its columns ---

// The code point at s[i], advancing i; a malformed byte counts as itself.
uint32_t nextCodePoint(const std::string& s, size_t& i)
{
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + length > s.size())
        length = 1;
    uint32_t cp = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += length;
    return cp;
}

size_t columnsOfCodePoint(uint32_t cp)
{
    if ((cp >= 0x0300 && cp <= 0x036F) || cp == 0x200B)
        return 0;
    if ((cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) || (cp >= 0x3041 && cp <= 0x33FF)
        || (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF)
        || (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F)
        || (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD))
        return 2;
    return 1;
}

// The longest head of s that fits in `columns`, as a byte count.
size_t fittingBytes(const std::string& s, size_t columns)
{
    size_t i = 0, used = 0;
    while (i < s.size()) {
        size_t start = i;
        size_t w = columnsOfCodePoint(nextCodePoint(s, i));
        if (used + w > columns)
            return start;
        used += w;
    }
    return s.size();
}

std::string padded(const std::string& s, size_t columns)
{
    size_t w = columnsOf(s);
    return w >= columns ? s : s + std::string(columns - w, ' ');
}

// NT draws "&x" as an underlined x and "&&" as "&" unless told not to.
std::string withoutMnemonics(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        else if (text[i] == '&')
            continue;
        out += text[i];
    }
    return out;
}

// --- A grid of terminal cells ---

class Canvas {
public:
    Canvas(size_t width)
        : m_width(width)
    {
    }

    size_t height() const { return m_rows.size(); }

    // Puts text at a row and column, cut at the column limit.
    void put(size_t row, size_t column, const std::string& text, size_t limit = SIZE_MAX)
    {
        limit = std::min(limit, m_width);
        grow(row + 1);
        auto& cells = m_rows[row];
        size_t i = 0;
        while (i < text.size() && column < limit) {
            size_t start = i;
            uint32_t cp = nextCodePoint(text, i);
            size_t w = columnsOfCodePoint(cp);
            if (w == 0) {
                if (column > 0)
                    cells[column - 1] += text.substr(start, i - start);
                continue;
            }
            if (column + w > limit)
                break;
            cells[column] = text.substr(start, i - start);
            if (w == 2)
                cells[column + 1].clear(); // the right half of a wide character
            column += w;
        }
    }

    void frame(size_t top, size_t left, size_t bottom, size_t right)
    {
        put(top, left, "+" + std::string(right - left - 1, '-') + "+");
        for (size_t r = top + 1; r < bottom; ++r) {
            put(r, left, "|");
            put(r, right, "|");
        }
        put(bottom, left, "+" + std::string(right - left - 1, '-') + "+");
    }

    void grow(size_t rows)
    {
        while (m_rows.size() < rows)
            m_rows.emplace_back(m_width, " ");
    }

    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (auto& cells : m_rows) {
            std::string line;
            for (auto& cell : cells)
                line += cell;
            out.push_back(line);
        }
        return out;
    }

private:
    size_t m_width;
    std::vector<std::vector<std::string>> m_rows;
};

// --- Buttons ---

struct ButtonSpec {
    std::string answer;
    bool enabled { true };
};

char letterOf(const std::string& answer, const std::vector<char>& used)
{
    for (char c : answer) {
        char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (std::isalpha(static_cast<unsigned char>(c)) && std::find(used.begin(), used.end(), upper) == used.end())
            return upper;
    }
    return 0;
}

// Lays buttons out on one row from a column, two blanks apart.
std::vector<DrawnButton> layOutButtons(const std::vector<ButtonSpec>& specs, size_t row)
{
    std::vector<DrawnButton> out;
    std::vector<char> used;
    for (auto& spec : specs) {
        DrawnButton b;
        b.answer = spec.answer;
        b.label = buttonLabel(spec.answer);
        b.enabled = spec.enabled;
        b.row = row;
        b.width = columnsOf(b.label) + 4;
        b.letter = letterOf(spec.answer, used);
        used.push_back(b.letter);
        out.push_back(b);
    }
    return out;
}

size_t rowWidth(const std::vector<DrawnButton>& buttons)
{
    size_t w = 0;
    for (auto& b : buttons)
        w += b.width;
    return buttons.empty() ? 0 : w + 2 * (buttons.size() - 1);
}

void placeButtons(Canvas& canvas, std::vector<DrawnButton>& buttons, size_t column)
{
    for (auto& b : buttons) {
        b.column = column;
        // Brackets for a button that can be pressed; a disabled one is its label alone.
        std::string text = b.enabled ? "[ " + b.label + " ]" : "  " + b.label + "  ";
        canvas.put(b.row, column, text);
        size_t at = b.label.find(static_cast<char>(b.letter));
        if (at == std::string::npos)
            at = b.label.find(static_cast<char>(std::tolower(static_cast<unsigned char>(b.letter))));
        b.key = column + 2 + (at == std::string::npos ? 0 : columnsOf(b.label.substr(0, at)));
        column += b.width + 2;
    }
}

// A wizard's default button is Next or Finish; while neither can be
// pressed Enter presses nothing.
size_t defaultIndex(const std::vector<DrawnButton>& buttons, const std::vector<std::string>& preferred)
{
    for (auto& answer : preferred)
        for (size_t i = 0; i < buttons.size(); ++i)
            if (buttons[i].answer == answer && buttons[i].enabled)
                return i;
    return buttons.size();
}

// The outer frame with the title in its top line.
void titleFrame(Canvas& canvas, const std::string& title, size_t bottom, size_t width)
{
    canvas.frame(0, 0, bottom, width - 1);
    std::string head = title.empty() ? "" : " " + title + " ";
    size_t room = width - 4;
    if (columnsOf(head) > room)
        head = head.substr(0, fittingBytes(head, room - 4)) + "... ";
    canvas.put(0, 2, head);
}

// --- Message boxes and prompts ---

const char* iconOf(uint32_t style)
{
    switch (style & messageBoxIconMask) {
    case 0x10: return "(X) ";
    case 0x20: return "(?) ";
    case 0x30: return "/!\\ ";
    case 0x40: return "(i) ";
    default: return "";
    }
}

Drawing drawBox(const std::string& caption, const std::string& text, uint32_t style, const std::vector<std::string>& answers,
    size_t width)
{
    std::string icon = iconOf(style);
    std::vector<ButtonSpec> specs;
    for (auto& a : answers)
        specs.push_back({ a, true });
    std::vector<DrawnButton> buttons = layOutButtons(specs, 0);

    // As wide as the text needs, no wider than the terminal.
    size_t inner = std::max(columnsOf(caption) + 4, rowWidth(buttons));
    for (auto& line : wrapText(text, SIZE_MAX))
        inner = std::max(inner, columnsOf(icon) + columnsOf(line));
    inner = std::min(inner, width - 4);
    std::vector<std::string> lines = wrapText(text, inner - columnsOf(icon));

    Canvas canvas(inner + 4);
    size_t row = 1;
    for (size_t i = 0; i < lines.size(); ++i)
        canvas.put(row++, 2, (i == 0 ? icon : std::string(icon.size(), ' ')) + lines[i]);
    ++row;
    for (auto& b : buttons)
        b.row = row;
    placeButtons(canvas, buttons, 2 + (inner - std::min(inner, rowWidth(buttons))) / 2);
    titleFrame(canvas, caption, row + 1, inner + 4);

    Drawing d;
    d.lines = canvas.lines();
    d.buttons = buttons;
    size_t wanted = (style & messageBoxDefaultMask) >> 8;
    d.defaultButton = wanted < buttons.size() ? wanted : 0;
    return d;
}

// --- Wizard pages ---

struct Control {
    size_t index { 0 }; // its place in the controls' list
    std::string className;
    std::string text;
    uint32_t style { 0 };
    bool enabled { true };
    bool hasBitmap { false };
    int64_t bitmap { 0 };
    std::vector<std::string> items;
    int64_t selected { -1 };
    std::optional<bool> checked;
    double x { 0 }, y { 0 }, cx { 0 }, cy { 0 };
};

bool isClass(const Control& c, const char* name)
{
    return sameTitle(c.className, name);
}

std::vector<Control> controlsOf(const Json& fields)
{
    std::vector<Control> out;
    const Json& list = member(fields, "controls");
    if (!list.is_array())
        return out;
    size_t index = 0;
    for (auto& item : list) {
        ++index;
        if (!item.is_object() || !boolMember(item, "visible", true))
            continue;
        Control c;
        c.index = index - 1;
        c.className = stringMember(item, "class");
        c.text = stringMember(item, "text");
        c.style = static_cast<uint32_t>(intMember(item, "style"));
        c.enabled = boolMember(item, "enabled", true);
        c.hasBitmap = member(item, "bitmap").is_number_integer();
        c.bitmap = intMember(item, "bitmap");
        const Json& items = member(item, "items");
        if (items.is_array())
            for (auto& entry : items)
                c.items.push_back(entry.is_string() ? entry.get<std::string>() : std::string());
        if (member(item, "selected").is_number_integer())
            c.selected = intMember(item, "selected");
        if (member(item, "checked").is_boolean())
            c.checked = boolMember(item, "checked");
        const Json& rect = member(item, "rect");
        if (rect.is_array() && rect.size() == 4 && std::all_of(rect.begin(), rect.end(), [](const Json& v) { return v.is_number(); })) {
            c.x = rect[0].get<double>();
            c.y = rect[1].get<double>();
            c.cx = rect[2].get<double>();
            c.cy = rect[3].get<double>();
        }
        out.push_back(c);
    }
    return out;
}

// The first item a list shows in `room` lines: the top, or as far down
// as keeps the selected item in view above the "(N more)" line.
size_t listFirstShown(const Control& c, size_t room)
{
    if (c.selected < 0 || c.items.size() <= room)
        return 0;
    size_t selected = static_cast<size_t>(c.selected);
    size_t visible = room > 1 ? room - 1 : 1;
    return selected < visible ? 0 : std::min(selected + 1 - visible, c.items.size() - visible);
}

// What a control shows, as lines of at most `columns` columns.
std::vector<std::string> controlLines(const Control& c, size_t columns, size_t rows)
{
    std::string text = (c.style & staticNoPrefix) && isClass(c, "Static") ? c.text : withoutMnemonics(c.text);
    if (isClass(c, "ListBox")) {
        std::vector<std::string> out { "+" + std::string(columns - 2, '-') + "+" };
        size_t room = std::max<size_t>(rows, 3) - 2;
        size_t first = listFirstShown(c, room);
        for (size_t i = first; i < c.items.size() && i - first < room; ++i) {
            bool last = i - first + 1 == room && c.items.size() > i + 1;
            std::string item = last ? "(" + std::to_string(c.items.size() - i) + " more)" : c.items[i];
            if (!last && static_cast<int64_t>(i) == c.selected)
                item = "> " + item;
            out.push_back("|" + padded(item.substr(0, fittingBytes(item, columns - 2)), columns - 2) + "|");
        }
        if (c.items.empty())
            out.push_back("|" + std::string(columns - 2, ' ') + "|");
        out.push_back(out.front());
        return out;
    }
    if (isClass(c, "Button")) {
        uint32_t type = c.style & buttonTypeMask;
        std::string mark = c.checked.value_or(false) ? "x" : " ";
        if (type == buttonCheckBox || type == buttonAutoCheckBox || type == button3State || type == buttonAuto3State)
            text = "[" + mark + "] " + text;
        else if (type == buttonRadio || type == buttonAutoRadio)
            text = "(" + (c.checked.value_or(false) ? std::string("*") : std::string(" ")) + ") " + text;
        else if (type == buttonGroupBox)
            text = "-- " + text + " --";
        else
            text = "[ " + text + " ]";
    } else if (isClass(c, "Edit")) {
        text = "[" + text + "]";
    }
    return wrapText(text, columns);
}

Drawing drawPage(const Shown& shown, size_t width, int colours)
{
    const Json& fields = shown.fields;
    size_t inner = width - 4;
    double columnsPerUnit = static_cast<double>(inner) / pageWidthUnits;
    auto column = [&](double units) { return std::min(inner, static_cast<size_t>(std::lround(std::max(0.0, units) * columnsPerUnit))); };
    auto line = [](double units) { return static_cast<size_t>(std::lround(std::max(0.0, units) / unitsPerLine)); };

    Canvas body(inner);
    std::vector<DrawnList> lists;
    std::vector<PaintedCell> painted; // in the body's rows and columns
    std::vector<size_t> floor(inner, 0); // the first free line below what is drawn, per column
    std::vector<Control> controls = controlsOf(fields);
    std::stable_sort(controls.begin(), controls.end(),
        [](const Control& a, const Control& b) { return a.y < b.y || (a.y == b.y && a.x < b.x); });
    for (auto& c : controls) {
        bool picture = isClass(c, "Static") && c.hasBitmap;
        if (!picture && c.text.empty() && c.items.empty() && !isClass(c, "ListBox"))
            continue; // an empty static draws nothing worth a line
        size_t left = column(c.x);
        size_t right = std::max(column(c.x + c.cx), std::min(inner, left + 8));
        if (left >= inner || right <= left)
            continue;
        size_t top = line(c.y);
        for (size_t k = left; k < right; ++k)
            top = std::max(top, floor[k]);
        size_t height = 0;
        if (picture) {
            height = std::max<size_t>(line(c.y + c.cy) - std::min(line(c.y), line(c.y + c.cy)), 3);
            body.grow(top + height);
            auto dib = shown.pictures.find(c.index);
            std::optional<Image> image = colours && dib != shown.pictures.end() ? decodeDib(dib->second) : std::nullopt;
            if (image) {
                std::vector<HalfBlock> cells = halfBlocks(*image, right - left, height, colours);
                for (size_t i = 0; i < cells.size(); ++i) {
                    size_t row = top + i / (right - left), col = left + i % (right - left);
                    body.put(row, col, upperHalfBlock);
                    painted.push_back({ row, col, cells[i].top, cells[i].bottom });
                }
                for (size_t k = left; k < right; ++k)
                    floor[k] = top + height;
                continue;
            }
            body.frame(top, left, top + height - 1, right - 1);
            std::string label = "bitmap " + std::to_string(c.bitmap);
            if (columnsOf(label) + 2 > right - left - 1)
                label = std::to_string(c.bitmap);
            body.put(top + (height - 1) / 2, left + (right - left - columnsOf(label)) / 2, label, right - 1);
        } else {
            size_t rows = std::max<size_t>(line(c.y + c.cy) - std::min(line(c.y), line(c.y + c.cy)), 1);
            std::vector<std::string> lines = controlLines(c, right - left, rows);
            for (size_t i = 0; i < lines.size(); ++i)
                body.put(top + i, left, lines[i], right);
            height = lines.size();
            if (isClass(c, "ListBox") && c.enabled) {
                size_t room = std::max<size_t>(rows, 3) - 2;
                DrawnList l;
                l.items = c.items;
                l.selected = c.selected;
                l.first = listFirstShown(c, room);
                l.shown = std::min(c.items.size() - std::min(c.items.size(), l.first), room);
                l.row = top + 1;
                l.column = left + 1;
                l.width = right - left - 2;
                lists.push_back(std::move(l));
            }
        }
        // A blank line keeps the next control below from touching this one.
        for (size_t k = left; k < right; ++k)
            floor[k] = top + height + (picture ? 0 : 1);
    }

    Canvas canvas(width);
    std::vector<std::string> bodyLines = body.lines();
    for (size_t i = 0; i < bodyLines.size(); ++i)
        canvas.put(1 + i, 2, bodyLines[i]);
    // The body stands one line down and two columns in.
    for (auto& cell : painted) {
        cell.row += 1;
        cell.column += 2;
    }
    for (auto& l : lists) {
        l.row += 1;
        l.column += 2;
    }
    size_t separator = 1 + bodyLines.size();
    canvas.put(separator, 1, std::string(width - 2, '-'));

    // NT's wizard buttons, left to right; Finish stands where it is shown.
    std::vector<ButtonSpec> specs;
    const Json& buttons = member(fields, "buttons");
    for (const char* answer : { "back", "next", "finish", "cancel" }) {
        const Json& state = member(buttons, answer);
        if (boolMember(state, "shown"))
            specs.push_back({ answer, boolMember(state, "enabled") });
    }
    std::vector<DrawnButton> drawn = layOutButtons(specs, separator + 1);
    size_t needed = rowWidth(drawn);
    placeButtons(canvas, drawn, width - 2 - std::min(width - 4, needed + 1));
    titleFrame(canvas, shown.title.empty() ? stringMember(fields, "title") : shown.title, separator + 2, width);

    Drawing d;
    d.lines = canvas.lines();
    d.buttons = drawn;
    d.defaultButton = defaultIndex(drawn, { "next", "finish" });
    d.lists = std::move(lists);
    d.painted = std::move(painted);
    return d;
}

// Something the desk has no drawing of its own for: its text as given.
Drawing drawText(const Shown& shown, size_t width)
{
    std::string text = shown.drawing.empty() ? shown.name : shown.drawing;
    std::string caption = stringMember(shown.fields, "caption", shown.title);
    if (shown.event == "prompt")
        text = stringMember(shown.fields, "text");
    return drawBox(caption, text, 0, shown.answers, width);
}

}

Drawing draw(const Shown& shown, size_t width, int colours)
{
    width = std::max(width, narrowestDrawing);
    if (shown.event == "page")
        return drawPage(shown, width, colours);
    if (shown.event == "messagebox")
        return drawBox(stringMember(shown.fields, "caption"), stringMember(shown.fields, "text"),
            static_cast<uint32_t>(intMember(shown.fields, "style")), shown.answers, width);
    return drawText(shown, width);
}

std::string drawingText(const Drawing& drawing)
{
    std::string out;
    for (auto& line : drawing.lines) {
        size_t end = line.find_last_not_of(' ');
        out += (end == std::string::npos ? std::string() : line.substr(0, end + 1)) + "\n";
    }
    return out;
}

std::string buttonLabel(const std::string& answer)
{
    static const std::pair<const char*, const char*> labels[] = { { "ok", "OK" }, { "cancel", "Cancel" },
        { "yes", "Yes" }, { "no", "No" }, { "retry", "Retry" }, { "abort", "Abort" }, { "ignore", "Ignore" },
        { "skip", "Skip" }, { "next", "Next >" }, { "back", "< Back" }, { "finish", "Finish" } };
    for (auto& [key, label] : labels)
        if (answer == key)
            return label;
    std::string label = answer;
    if (!label.empty())
        label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    return label;
}

size_t columnsOf(const std::string& utf8)
{
    size_t i = 0, w = 0;
    while (i < utf8.size())
        w += columnsOfCodePoint(nextCodePoint(utf8, i));
    return w;
}

std::string clipToColumns(const std::string& utf8, size_t columns)
{
    return utf8.substr(0, fittingBytes(utf8, columns));
}

std::vector<std::string> wrapText(const std::string& utf8, size_t columns)
{
    columns = std::max<size_t>(columns, 1);
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= utf8.size()) {
        size_t end = utf8.find('\n', start);
        std::string paragraph = utf8.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!paragraph.empty() && paragraph.back() == '\r')
            paragraph.pop_back();
        std::replace(paragraph.begin(), paragraph.end(), '\t', ' ');
        std::string current;
        size_t i = 0;
        bool any = false;
        while (i < paragraph.size()) {
            if (paragraph[i] == ' ') {
                ++i;
                continue;
            }
            size_t wordEnd = paragraph.find(' ', i);
            std::string word = paragraph.substr(i, wordEnd == std::string::npos ? std::string::npos : wordEnd - i);
            i = wordEnd == std::string::npos ? paragraph.size() : wordEnd;
            std::string joined = current.empty() ? word : current + " " + word;
            if (columnsOf(joined) <= columns) {
                current = joined;
                continue;
            }
            if (!current.empty()) {
                out.push_back(current);
                any = true;
            }
            // A word wider than the line is cut where the line ends.
            while (columnsOf(word) > columns) {
                size_t cut = std::max<size_t>(fittingBytes(word, columns), 1);
                out.push_back(word.substr(0, cut));
                any = true;
                word = word.substr(cut);
            }
            current = word;
        }
        if (!current.empty() || !any)
            out.push_back(current);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

}
