#include "WindowClass.h"

#include "machine/NtPath.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ntsim::user32 {

namespace {

// Class atoms lie in the string-atom range, as the global atom table's do.
constexpr ATOM firstClassAtom = 0xC000;

std::vector<std::unique_ptr<WindowClass>>& classes()
{
    static std::vector<std::unique_ptr<WindowClass>> list;
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
    for (auto& cls : classes()) {
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
    if (cls.name.empty() || !cls.procedure) {
        error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (findWindowClass(cls.name.c_str())) {
        error = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    auto added = std::make_unique<WindowClass>(cls);
    added->atom = static_cast<ATOM>(firstClassAtom + classes().size());
    ATOM atom = added->atom;
    classes().push_back(std::move(added));
    return atom;
}

}

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    if (!lpWndClass || !lpWndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ntsim::user32::WindowClass cls;
    if (reinterpret_cast<uintptr_t>(lpWndClass->lpszClassName) < 0x10000) {
        // A class needs a name; an atom names nothing new.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    cls.name = lpWndClass->lpszClassName;
    cls.procedure = lpWndClass->lpfnWndProc;
    cls.style = lpWndClass->style;
    cls.instance = lpWndClass->hInstance;
    DWORD error = 0;
    ATOM atom = ntsim::user32::registerWindowClass(cls, error);
    if (!atom)
        SetLastError(error);
    return atom;
}
