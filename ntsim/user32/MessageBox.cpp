// MessageBoxA: a modal box shown on the desk.
#include <windows.h>

#include "desk/Desk.h"
#include "User32Calls.h"
#include "machine/CodePage.h"
#include "machine/ApiCall.h"

#include <vector>

namespace {

struct Button {
    const char* answer;
    const char* label;
    int id;
};

std::vector<Button> buttonsOf(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK: return { { "ok", "OK", IDOK } };
    case MB_OKCANCEL: return { { "ok", "OK", IDOK }, { "cancel", "Cancel", IDCANCEL } };
    case MB_ABORTRETRYIGNORE: return { { "abort", "Abort", IDABORT }, { "retry", "Retry", IDRETRY }, { "ignore", "Ignore", IDIGNORE } };
    case MB_YESNOCANCEL: return { { "yes", "Yes", IDYES }, { "no", "No", IDNO }, { "cancel", "Cancel", IDCANCEL } };
    case MB_YESNO: return { { "yes", "Yes", IDYES }, { "no", "No", IDNO } };
    case MB_RETRYCANCEL: return { { "retry", "Retry", IDRETRY }, { "cancel", "Cancel", IDCANCEL } };
    default: return {};
    }
}

}

int ntsim::user32::messageBox(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    if (hWnd && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::vector<Button> buttons = buttonsOf(uType);
    if (buttons.empty()) {
        SetLastError(ERROR_INVALID_MSGBOX_STYLE);
        return 0;
    }
    unsigned codePage = ntsim::ansiCodePage();
    std::string caption = ntsim::ansiToUtf8(lpCaption ? lpCaption : "Error", codePage);
    std::string text = ntsim::ansiToUtf8(lpText ? lpText : "", codePage);

    ntsim::desk::Shown shown;
    shown.event = "messagebox";
    shown.fields = ntsim::Json::object();
    if (hWnd)
        shown.fields["owner"] = static_cast<int64_t>(reinterpret_cast<uintptr_t>(hWnd));
    else
        shown.fields["owner"] = nullptr;
    shown.fields["caption"] = caption;
    shown.fields["text"] = text;
    shown.fields["style"] = static_cast<unsigned>(uType);
    for (auto& b : buttons)
        shown.answers.push_back(b.answer);
    size_t defaultButton = (uType & MB_DEFMASK) >> 8;
    shown.defaultAnswer = buttons[defaultButton < buttons.size() ? defaultButton : 0].answer;
    shown.name = "message box \"" + caption + "\"";
    shown.title = caption;

    std::string answer = ntsim::desk::show(shown);
    for (auto& b : buttons) {
        if (answer == b.answer)
            return b.id;
    }
    return 0; // show() returns only answers the box accepts
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    ntsim::ApiCall call("MessageBoxA", hWnd, lpText, lpCaption, uType);
    if (auto error = call.fault()) {
        SetLastError(*error);
        return call.returns(0);
    }
    return call.returns(ntsim::user32::messageBox(hWnd, lpText, lpCaption, uType));
}
