// What the terminal desk draws: message boxes, prompts and wizard pages as
// lines of text of a given width, without a terminal, so that a drawing
// can be tested as it is. The terminal desk puts these lines on the screen
// and highlights the buttons.
#pragma once
#include "Desk.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ntsim::desk {

struct DrawnButton {
    std::string answer;  // "next"
    std::string label;   // "Next >"
    size_t row { 0 };    // line of the drawing
    size_t column { 0 }; // where "[ label ]" starts
    size_t width { 0 };  // columns of "[ label ]"
    size_t key { 0 };    // column of the key letter
    char letter { 0 };   // the key that presses it
    bool enabled { true };
};

// A list box as drawn: where its items are and which of them shows.
struct DrawnList {
    std::vector<std::string> items; // all of them, as the page gives them
    int64_t selected { -1 };
    size_t first { 0 };  // the item on the list's first row
    size_t shown { 0 };  // how many items show
    size_t row { 0 };    // line of the drawing of the first item shown
    size_t column { 0 }; // where the items start, inside the list's frame
    size_t width { 0 };
};

// A cell of a picture in colour: the upper half block over the lower.
struct PaintedCell {
    size_t row { 0 }, column { 0 };
    uint8_t top { 0 }, bottom { 0 }; // palette indices
};

struct Drawing {
    std::vector<std::string> lines;   // UTF-8, none wider than asked
    std::vector<DrawnButton> buttons; // as drawn, left to right
    size_t defaultButton { 0 };       // index into buttons: what Enter presses (buttons.size(): nothing)
    std::vector<DrawnList> lists;     // the page's list boxes, in the order of its controls
    std::vector<PaintedCell> painted; // the pictures' cells, when drawn in colour
};

// The narrowest drawing: narrower widths are drawn at this width.
constexpr size_t narrowestDrawing = 40;

// colours: how many the terminal has (0, 8, 16, 256); with none a picture
// is a frame around its name.
Drawing draw(const Shown& shown, size_t width, int colours = 0);
std::string drawingText(const Drawing& drawing);

// The label of a button an answer presses: "next" -> "Next >".
std::string buttonLabel(const std::string& answer);

// Columns a UTF-8 text takes on a terminal (East Asian wide characters two).
size_t columnsOf(const std::string& utf8);
// The head of a text that fits in `columns` columns.
std::string clipToColumns(const std::string& utf8, size_t columns);
// A text broken into lines of at most `columns` columns, at blanks where it can.
std::vector<std::string> wrapText(const std::string& utf8, size_t columns);

}
