// MessageBoxA: a modal box shown on the desk.
#include <windows.h>

#include "Desk.h"
#include "kernel32/CodePage.h"
#include "machine/Faults.h"

#include <algorithm>
#include <sstream>
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

const char* iconOf(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return "(X) ";
    case MB_ICONQUESTION: return "(?) ";
    case MB_ICONEXCLAMATION: return "/!\\ ";
    case MB_ICONASTERISK: return "(i) ";
    default: return "";
    }
}

// Columns a UTF-8 text takes, one per character.
size_t widthOf(const std::string& utf8)
{
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(),
        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string drawing(const std::string& caption, const std::string& text, UINT type, const std::vector<Button>& buttons)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    std::string icon = iconOf(type);
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back((first ? icon : std::string(icon.size(), ' ')) + line);
        first = false;
    }
    std::string row;
    for (auto& b : buttons)
        row += std::string(row.empty() ? "" : "  ") + "[ " + b.label + " ]";
    size_t width = std::max(widthOf(caption) + 4, widthOf(row));
    for (auto& l : lines)
        width = std::max(width, widthOf(l));
    auto padded = [&](const std::string& s) { return "| " + s + std::string(width - widthOf(s), ' ') + " |\n"; };

    std::string out = "+- " + caption + " " + std::string(width - widthOf(caption), '-') + "+\n";
    for (auto& l : lines)
        out += padded(l);
    out += padded("");
    size_t indent = (width - widthOf(row)) / 2;
    out += padded(std::string(indent, ' ') + row);
    out += "+" + std::string(width + 2, '-') + "+\n";
    return out;
}

}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    if (auto error = ntsim::injectedFault("MessageBoxA")) {
        SetLastError(*error);
        return 0;
    }
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
    shown.name = "message box \"" + caption + "\"";
    shown.drawing = drawing(caption, text, uType, buttons);

    std::string answer = ntsim::desk::show(shown);
    for (auto& b : buttons) {
        if (answer == b.answer)
            return b.id;
    }
    return 0; // show() returns only answers the box accepts
}
