// Window classes of this process: RegisterClassA's, and the system's
// classes: the dialog box ("#32770") and the controls.
#pragma once
#include <windows.h>

#include <string>

namespace ntsim::user32 {

struct WindowClass {
    ATOM atom { 0 };
    std::string name;
    WNDPROC procedure { nullptr };
    UINT style { 0 };
    int classExtra { 0 };
    int windowExtra { 0 };
    HINSTANCE instance { nullptr };
};

// A class by name (case-insensitive) or by atom (MAKEINTATOM); null if the
// process has none such.
const WindowClass* findWindowClass(LPCSTR nameOrAtom);

// Registers a class; 0 and the Win32 error when it cannot be.
ATOM registerWindowClass(const WindowClass& cls, DWORD& error);

// The system's class of a dialog template's class ordinal (0x80 Button to
// 0x85 ComboBox), or null.
const WindowClass* systemClassOfOrdinal(WORD ordinal);

}
