// The system's control classes (Button, Static, ListBox and the inert
// Edit, ScrollBar and ComboBox), and how the desk sees and works a
// dialog's controls.
#pragma once
#include <windows.h>

#include "machine/Json.h"
#include "Dialog.h"

#include <map>
#include <string>
#include <vector>

namespace ntsim::user32 {

struct ControlClass {
    const char* name;
    WORD ordinal; // the class's atom in dialog templates
    WNDPROC procedure;
};

const std::vector<ControlClass>& controlClasses();

// The transcript's list of a dialog's controls in creation (z) order: id
// (signed), class, text (UTF-8), enabled, visible, rect (x, y, cx, cy in the
// dialog's units), style, and what the class shows besides: "bitmap" of a
// picture, "checked" of a check box, "items" and "selected" of a list box.
Json describeControls(HWND dialog, const BaseUnits& units);

// The pictures of a dialog's bitmap controls, by their place in
// describeControls' list, each its resource's packed DIB.
std::map<size_t, std::string> picturesOf(HWND dialog);

// What a person may do with a dialog's controls besides pressing its
// buttons: "select <item>" for every item of an enabled, visible list box,
// lower-cased as script answers are.
std::vector<std::string> selectionAnswers(HWND dialog);
// Carries out such an answer as the person's choice: the item is selected
// and the dialog told (LBN_SELCHANGE). False if the answer is none of them.
bool applySelectionAnswer(HWND dialog, const std::string& answer);

// A window text of the machine's ANSI code page in UTF-8.
std::string textForDesk(const std::string& ansi);

// How the desk's messages name a dialog or page: its kind, its template's
// id or name, and its title, e.g. page 103 "Modem Board Installation Wizard".
std::string nameForDesk(const char* kind, const Json& templateId, const std::string& title);

}
