// Dialog boxes: templates, the dialog manager's creation of a dialog and
// its controls, dialog units, and the modal loop of DialogBoxParamA.
#pragma once
#include <windows.h>

#include "Window.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ntsim::user32 {

// Pixels of 4 horizontal and 8 vertical dialog units: the average
// character width and the character height of the dialog's font.
struct BaseUnits {
    int x { 8 };
    int y { 16 };
};

// The system font's units, which GetDialogBaseUnits reports and a template
// without DS_SETFONT uses.
BaseUnits systemBaseUnits();
// The units of a template's font.
BaseUnits baseUnitsOfFont(const std::u16string& face, WORD pointSize);

RECT dialogUnitsToPixels(const BaseUnits& units, short x, short y, short cx, short cy);
// The inverse, for a control created in pixels: x, y, cx, cy in dialog units.
RECT pixelsToDialogUnits(const BaseUnits& units, const RECT& pixels);

// A resource name or ordinal as a template holds it.
struct TemplateName {
    bool isOrdinal { false };
    WORD ordinal { 0 };
    std::u16string name;
    bool empty() const { return !isOrdinal && name.empty(); }
};

// What a dialog and each of its controls have: styles and a rectangle in
// dialog units.
struct TemplateBox {
    DWORD style { 0 };
    DWORD exStyle { 0 };
    short x { 0 };
    short y { 0 };
    short cx { 0 };
    short cy { 0 };
};

struct DialogItemTemplate : TemplateBox {
    DWORD id { 0 };
    TemplateName className;
    TemplateName text;
    const BYTE* creationData { nullptr }; // the data's size word first, as templates pass it
};

// A DLGTEMPLATE or DLGTEMPLATEEX, read with every length checked against
// the bytes there are.
struct DialogTemplate : TemplateBox {
    bool extended { false };
    TemplateName menu;
    TemplateName className;
    std::u16string title;
    WORD pointSize { 0 };
    std::u16string face;
    std::vector<DialogItemTemplate> items;
};

bool parseDialogTemplate(const BYTE* data, size_t size, DialogTemplate& out);

// The bytes of a module's RT_DIALOG resource, found as FindResourceA finds
// it (without counting as a program's call). Null with the last error set.
const BYTE* findDialogResource(HINSTANCE instance, LPCSTR name, size_t& size);

// What a dialog keeps beyond every window: its extra window values and
// its units, and for a modal dialog how it ended.
class DialogState : public WindowState {
public:
    // The value at a DWLP_ offset, or null for an offset a dialog lacks.
    LONG_PTR* slot(int offset);

    DLGPROC procedure() const { return reinterpret_cast<DLGPROC>(m_procedure); }
    LONG_PTR messageResult() const { return m_messageResult; }

    BaseUnits units;
    bool modal { false };
    bool ended { false };
    INT_PTR result { 0 };

private:
    LONG_PTR m_messageResult { 0 };
    LONG_PTR m_procedure { 0 };
    LONG_PTR m_user { 0 };
};

// Creates a dialog and its controls and sends WM_INITDIALOG, as
// CreateDialogIndirectParamA does; the property sheet adds and removes
// styles of its pages' templates (addStyle, removeStyle).
HWND createDialog(HINSTANCE instance, const DialogTemplate& dialog, HWND parent, DLGPROC procedure, LPARAM param,
    DWORD addStyle = 0, DWORD removeStyle = 0);

// The control with that id among a dialog's children, or null.
HWND dialogItem(HWND dialog, int id);

}
