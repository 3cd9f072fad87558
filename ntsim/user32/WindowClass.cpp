#include "WindowClass.h"

#include "Controls.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ntsim::user32 {

namespace {

// Class atoms lie in the string-atom range, as the global atom table's do;
// the dialog class alone has its well-known integer atom.
constexpr ATOM firstClassAtom = 0xC000;
constexpr ATOM dialogClassAtom = 0x8002;

struct ClassList {
    std::vector<std::unique_ptr<WindowClass>> classes;
    ATOM nextAtom { firstClassAtom };
};

WindowClass systemClass(const char* name, WNDPROC procedure, int windowExtra = 0)
{
    WindowClass cls;
    cls.name = name;
    cls.procedure = procedure;
    cls.windowExtra = windowExtra;
    return cls;
}

void addClass(ClassList& list, const WindowClass& cls, ATOM atom)
{
    auto added = std::make_unique<WindowClass>(cls);
    added->atom = atom;
    list.classes.push_back(std::move(added));
}

ClassList& classList()
{
    static ClassList list = [] {
        ClassList made;
        addClass(made, systemClass("#32770", DefDlgProcA, DLGWINDOWEXTRA), dialogClassAtom);
        for (const auto& cls : controlClasses())
            addClass(made, systemClass(cls.name, cls.procedure), made.nextAtom++);
        return made;
    }();
    return list;
}

bool isAtom(LPCSTR nameOrAtom)
{
    return reinterpret_cast<uintptr_t>(nameOrAtom) < 0x10000;
}

}

const WindowClass* findWindowClass(LPCSTR nameOrAtom)
{
    if (!nameOrAtom)
        return nullptr;
    for (auto& cls : classList().classes) {
        if (isAtom(nameOrAtom)) {
            if (cls->atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(nameOrAtom)))
                return cls.get();
        } else if (equalsNoCase(cls->name, nameOrAtom)) {
            return cls.get();
        }
    }
    return nullptr;
}

ATOM registerWindowClass(const WindowClass& cls, DWORD& error)
{
    if (cls.name.empty() || !cls.procedure || cls.classExtra < 0 || cls.windowExtra < 0) {
        error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (findWindowClass(cls.name.c_str())) {
        error = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    auto& list = classList();
    ATOM atom = list.nextAtom++;
    addClass(list, cls, atom);
    return atom;
}

const WindowClass* systemClassOfOrdinal(WORD ordinal)
{
    for (const auto& cls : controlClasses()) {
        if (cls.ordinal == ordinal)
            return findWindowClass(cls.name);
    }
    return nullptr;
}

}

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    ntsim::ApiCall call("RegisterClassA", lpWndClass);
    if (!lpWndClass || !lpWndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    ntsim::user32::WindowClass cls;
    if (reinterpret_cast<uintptr_t>(lpWndClass->lpszClassName) < 0x10000) {
        // A class needs a name; an atom names nothing new.
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(0);
    }
    cls.name = lpWndClass->lpszClassName;
    cls.procedure = lpWndClass->lpfnWndProc;
    cls.style = lpWndClass->style;
    cls.classExtra = lpWndClass->cbClsExtra;
    cls.windowExtra = lpWndClass->cbWndExtra;
    cls.instance = lpWndClass->hInstance;
    DWORD error = 0;
    ATOM atom = ntsim::user32::registerWindowClass(cls, error);
    if (!atom)
        SetLastError(error);
    return call.returns(atom);
}
