// The dialog manager: dialog templates, dialog units, creating a dialog
// and its controls, the default dialog procedure, the dialog-item calls,
// and the modal loop of DialogBoxParamA.
#include "Dialog.h"

#include "Controls.h"
#include "ModalLoop.h"
#include "WindowClass.h"

#include "machine/CodePage.h"
#include "kernel32/Kernel32Calls.h"
#include "machine/ApiCall.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ntsim::user32 {

namespace {

// The system font's base units on NT 4.0's VGA screen.
constexpr BaseUnits systemFontUnits { 8, 16 };

class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool word(WORD& out)
    {
        if (!has(2))
            return false;
        out = static_cast<WORD>(m_data[m_offset] | m_data[m_offset + 1] << 8);
        m_offset += 2;
        return true;
    }

    bool dword(DWORD& out)
    {
        WORD low = 0;
        WORD high = 0;
        if (!word(low) || !word(high))
            return false;
        out = static_cast<DWORD>(low) | static_cast<DWORD>(high) << 16;
        return true;
    }

    bool shortValue(short& out)
    {
        WORD w = 0;
        if (!word(w))
            return false;
        out = static_cast<short>(w);
        return true;
    }

    bool string(std::u16string& out)
    {
        out.clear();
        for (;;) {
            WORD c = 0;
            if (!word(c))
                return false;
            if (c == 0)
                return true;
            out.push_back(static_cast<char16_t>(c));
        }
    }

    // A name or ordinal: 0 for none, 0xFFFF and an ordinal, or a string.
    bool name(TemplateName& out)
    {
        WORD first = 0;
        if (!peek(first))
            return false;
        if (first == 0xFFFF) {
            m_offset += 2;
            out.isOrdinal = true;
            return word(out.ordinal);
        }
        return string(out.name);
    }

    bool skip(size_t bytes)
    {
        if (!has(bytes))
            return false;
        m_offset += bytes;
        return true;
    }

    bool alignTo4()
    {
        size_t aligned = (m_offset + 3) & ~size_t(3);
        if (aligned > m_size)
            return false;
        m_offset = aligned;
        return true;
    }

    const BYTE* here() const { return m_data + m_offset; }

private:
    bool has(size_t bytes) const { return m_offset <= m_size && bytes <= m_size - m_offset; }
    bool peek(WORD& out) const
    {
        if (!has(2))
            return false;
        out = static_cast<WORD>(m_data[m_offset] | m_data[m_offset + 1] << 8);
        return true;
    }

    const BYTE* m_data;
    size_t m_size;
    size_t m_offset { 0 };
};

bool readItem(TemplateReader& r, bool extended, DialogItemTemplate& item)
{
    if (!r.alignTo4())
        return false;
    if (extended) {
        DWORD helpId = 0;
        if (!r.dword(helpId) || !r.dword(item.exStyle) || !r.dword(item.style))
            return false;
    } else if (!r.dword(item.style) || !r.dword(item.exStyle)) {
        return false;
    }
    if (!r.shortValue(item.x) || !r.shortValue(item.y) || !r.shortValue(item.cx) || !r.shortValue(item.cy))
        return false;
    if (extended) {
        if (!r.dword(item.id))
            return false;
    } else {
        WORD id = 0;
        if (!r.word(id))
            return false;
        item.id = id;
    }
    if (!r.name(item.className) || !r.name(item.text))
        return false;
    WORD extra = 0;
    const BYTE* sizeWord = r.here();
    if (!r.word(extra))
        return false;
    if (extra) {
        // A DLGITEMTEMPLATE counts its size word in; a DLGITEMTEMPLATEEX
        // counts the bytes after it.
        size_t following = extended ? extra : (extra >= 2 ? extra - 2u : 0);
        if (!r.skip(following))
            return false;
        item.creationData = sizeWord;
    }
    return true;
}

std::string ansiOf(const std::u16string& text)
{
    std::string out;
    fromUtf16(text, ansiCodePage(), out);
    return out;
}

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The class a template names: an ordinal of the system's controls or a
// registered class's name; the dialog class when it names none.
const WindowClass* classOfItem(const TemplateName& name)
{
    if (name.isOrdinal)
        return systemClassOfOrdinal(name.ordinal);
    return findWindowClass(ansiOf(name.name).c_str());
}

// The window name a control is created with: a picture's ordinal travels
// as "\xFF" and its two bytes, as the dialog manager passes it.
std::string windowNameOf(const TemplateName& text)
{
    if (text.isOrdinal)
        return std::string { '\xFF', static_cast<char>(text.ordinal & 0xFF), static_cast<char>(text.ordinal >> 8) };
    return ansiOf(text.name);
}

bool createControls(HWND dialog, HINSTANCE instance, const DialogTemplate& tmpl, const BaseUnits& units)
{
    for (auto& item : tmpl.items) {
        const WindowClass* cls = classOfItem(item.className);
        if (!cls) {
            if (tmpl.style & DS_NOFAILCREATE)
                continue;
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return false;
        }
        RECT r = dialogUnitsToPixels(units, item.x, item.y, item.cx, item.cy);
        std::string name = windowNameOf(item.text);
        // A DLGTEMPLATE's ids are WORDs: IDC_STATIC's -1 is 65535 there.
        LONG_PTR id = tmpl.extended ? static_cast<LONG_PTR>(static_cast<LONG>(item.id)) : static_cast<LONG_PTR>(item.id);
        HWND control = createWindow(item.exStyle, cls->name.c_str(), name.c_str(), item.style | WS_CHILD, r.left, r.top,
            r.right - r.left, r.bottom - r.top, dialog, reinterpret_cast<HMENU>(id), instance,
            const_cast<BYTE*>(item.creationData));
        if (!control && !(tmpl.style & DS_NOFAILCREATE))
            return false;
    }
    return true;
}

// The first control a person would tab to: visible, enabled, WS_TABSTOP.
HWND firstTabStop(HWND dialog)
{
    for (HWND child : WindowList::childrenOf(dialog)) {
        auto window = WindowList::find(child);
        if (window && (window->style() & WS_TABSTOP) && window->visible() && window->enabled())
            return child;
    }
    return nullptr;
}

// Where a top-level dialog goes: centred, at its template position on the
// screen, or at that position in its owner's client area.
POINT dialogPosition(const DialogTemplate& tmpl, HWND owner, const RECT& pixels, LONG width, LONG height)
{
    if (tmpl.style & DS_CENTER) {
        SIZE screen = screenSize();
        return { (screen.cx - width) / 2, (screen.cy - height) / 2 };
    }
    POINT at { pixels.left, pixels.top };
    if (!(tmpl.style & DS_ABSALIGN)) {
        if (auto window = WindowList::find(owner)) {
            POINT origin = clientOrigin(*window);
            at.x += origin.x;
            at.y += origin.y;
        }
    }
    return at;
}

// The messages whose answer a dialog procedure returns itself rather than
// in DWLP_MSGRESULT.
bool answersDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case 0x0039: // WM_COMPAREITEM
    case 0x002E: // WM_VKEYTOITEM
    case 0x002F: // WM_CHARTOITEM
    case 0x0037: // WM_QUERYDRAGICON
        return true;
    default:
        return message >= 0x0132 && message <= 0x0138; // WM_CTLCOLOR...
    }
}

std::shared_ptr<Window> dialogWindow(HWND hDlg, DialogState*& state)
{
    auto window = WindowList::find(hDlg);
    state = window ? window->stateAs<DialogState>() : nullptr;
    if (!state) {
        SetLastError(window || foreignWindow(hDlg) ? ERROR_WINDOW_NOT_DIALOG : ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return window;
}

// A push button's label as a person answers with it: "&OK" is "ok".
std::string answerOfLabel(const std::string& label)
{
    std::string out;
    for (char c : label) {
        if (c != '&')
            out += c;
    }
    return lowered(textForDesk(out));
}

bool isPushButton(const Window& window)
{
    DWORD type = window.style() & BS_TYPEMASK;
    return window.className() == "Button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

// The name a dialog goes by in the desk's messages and in the transcript.
Json templateIdOf(LPCSTR name)
{
    if (!name)
        return nullptr;
    if (IS_INTRESOURCE(name))
        return static_cast<int>(reinterpret_cast<uintptr_t>(name));
    return textForDesk(name);
}

INT_PTR runModal(HWND dialog, HWND owner, const Json& templateId)
{
    // The owner takes no input while its dialog is up.
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    auto stateOf = [dialog]() -> DialogState* {
        auto window = WindowList::find(dialog);
        return window ? window->stateAs<DialogState>() : nullptr;
    };
    auto ended = [&] { return !stateOf() || stateOf()->ended; };
    ShowWindow(dialog, SW_SHOWNORMAL);
    while (!ended() && dispatchPosted() && !ended()) {
        auto window = WindowList::find(dialog);
        desk::Shown shown;
        shown.event = "dialog";
        shown.title = textForDesk(window->text());
        shown.fields = Json::object();
        shown.fields["template"] = templateId;
        shown.fields["title"] = shown.title;
        shown.fields["controls"] = describeControls(dialog, stateOf()->units);
        shown.pictures = picturesOf(dialog);
        for (HWND child : WindowList::childrenOf(dialog)) {
            auto control = WindowList::find(child);
            if (control && isPushButton(*control) && control->enabled() && control->visible())
                shown.answers.push_back(answerOfLabel(control->text()));
        }
        for (auto& select : selectionAnswers(dialog))
            shown.answers.push_back(select);
        shown.name = nameForDesk("dialog", templateId, shown.title);
        auto answer = askDesk(shown, ended);
        if (!answer)
            break;
        if (applySelectionAnswer(dialog, *answer))
            continue;
        for (HWND child : WindowList::childrenOf(dialog)) {
            auto control = WindowList::find(child);
            if (control && isPushButton(*control) && answerOfLabel(control->text()) == *answer) {
                control->call(BM_CLICK, 0, 0);
                break;
            }
        }
    }
    INT_PTR result = stateOf() ? stateOf()->result : 0;
    if (WindowList::find(dialog))
        WindowList::destroy(dialog);
    if (ownerWasEnabled && IsWindow(owner))
        EnableWindow(owner, TRUE);
    return result;
}

}

BaseUnits systemBaseUnits()
{
    return systemFontUnits;
}

BaseUnits baseUnitsOfFont(const std::u16string& face, WORD pointSize)
{
    // 8-point MS Sans Serif (and MS Shell Dlg, its alias on NT 4.0) at 96
    // dots an inch: 13 pixels high, its 52 letters 6 pixels wide on average.
    // Other sizes and faces scale from it.
    std::string name = lowered(ansiOf(face));
    if (name == "system" || pointSize == 0)
        return systemFontUnits;
    return { MulDiv(6, pointSize, 8), MulDiv(13, pointSize, 8) };
}

RECT dialogUnitsToPixels(const BaseUnits& units, short x, short y, short cx, short cy)
{
    int left = MulDiv(x, units.x, 4);
    int top = MulDiv(y, units.y, 8);
    return { left, top, left + MulDiv(cx, units.x, 4), top + MulDiv(cy, units.y, 8) };
}

RECT pixelsToDialogUnits(const BaseUnits& units, const RECT& pixels)
{
    return { MulDiv(pixels.left, 4, units.x), MulDiv(pixels.top, 8, units.y),
        MulDiv(pixels.right - pixels.left, 4, units.x), MulDiv(pixels.bottom - pixels.top, 8, units.y) };
}

bool parseDialogTemplate(const BYTE* data, size_t size, DialogTemplate& out)
{
    if (!data)
        return false;
    TemplateReader r(data, size);
    WORD version = 0;
    WORD signature = 0;
    WORD count = 0;
    out = DialogTemplate {};
    TemplateReader probe(data, size);
    if (probe.word(version) && probe.word(signature) && version == 1 && signature == 0xFFFF) {
        out.extended = true;
        DWORD helpId = 0;
        if (!r.word(version) || !r.word(signature) || !r.dword(helpId) || !r.dword(out.exStyle) || !r.dword(out.style))
            return false;
    } else if (!r.dword(out.style) || !r.dword(out.exStyle)) {
        return false;
    }
    if (!r.word(count) || !r.shortValue(out.x) || !r.shortValue(out.y) || !r.shortValue(out.cx) || !r.shortValue(out.cy))
        return false;
    TemplateName title;
    if (!r.name(out.menu) || !r.name(out.className) || !r.string(out.title))
        return false;
    if (out.style & DS_SETFONT) {
        if (!r.word(out.pointSize))
            return false;
        if (out.extended) {
            WORD weight = 0;
            WORD italicAndCharset = 0;
            if (!r.word(weight) || !r.word(italicAndCharset))
                return false;
        }
        if (!r.string(out.face))
            return false;
    }
    for (WORD i = 0; i < count; ++i) {
        DialogItemTemplate item;
        if (!readItem(r, out.extended, item))
            return false;
        out.items.push_back(std::move(item));
    }
    return true;
}

const BYTE* findDialogResource(HINSTANCE instance, LPCSTR name, size_t& size)
{
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
    const BYTE* data = kernel32::resourceData(instance, RT_DIALOG, name, bytes, error);
    if (!data) {
        SetLastError(error);
        return nullptr;
    }
    size = bytes;
    return data;
}

LONG_PTR* DialogState::slot(int offset)
{
    if (offset == static_cast<int>(DWLP_MSGRESULT))
        return &m_messageResult;
    if (offset == static_cast<int>(DWLP_DLGPROC))
        return &m_procedure;
    if (offset == static_cast<int>(DWLP_USER))
        return &m_user;
    return nullptr;
}

HWND createDialog(HINSTANCE instance, const DialogTemplate& tmpl, HWND parent, DLGPROC procedure, LPARAM param,
    DWORD addStyle, DWORD removeStyle)
{
    if (!tmpl.menu.empty()) {
        // Dialogs here have no menu bars.
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
    }
    DWORD style = (tmpl.style | addStyle) & ~removeStyle;
    DWORD exStyle = tmpl.exStyle;
    if (style & DS_MODALFRAME)
        exStyle |= WS_EX_DLGMODALFRAME;
    BaseUnits units = (style & DS_SETFONT) ? baseUnitsOfFont(tmpl.face, tmpl.pointSize) : systemBaseUnits();

    std::string className = "#32770";
    if (!tmpl.className.empty()) {
        const WindowClass* cls = tmpl.className.isOrdinal ? findWindowClass(MAKEINTATOM(tmpl.className.ordinal))
                                                          : findWindowClass(ansiOf(tmpl.className.name).c_str());
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        className = cls->name;
    }

    // The template gives the client area; the frame comes around it.
    RECT pixels = dialogUnitsToPixels(units, tmpl.x, tmpl.y, tmpl.cx, tmpl.cy);
    RECT frame = frameOf(style, exStyle);
    LONG width = pixels.right - pixels.left + frame.left + frame.right;
    LONG height = pixels.bottom - pixels.top + frame.top + frame.bottom;
    POINT at { pixels.left, pixels.top };
    if (!(style & WS_CHILD))
        at = dialogPosition(tmpl, parent, pixels, width, height);

    HWND dialog = createWindow(exStyle, className.c_str(), ansiOf(tmpl.title).c_str(), style & ~WS_VISIBLE, at.x,
        at.y, width, height, parent, nullptr, instance, nullptr);
    if (!dialog)
        return nullptr;
    auto window = WindowList::find(dialog);
    auto state = std::make_unique<DialogState>();
    state->units = units;
    DialogState* dialogState = state.get();
    window->setState(std::move(state));

    if (!createControls(dialog, instance, tmpl, units)) {
        DWORD error = GetLastError();
        WindowList::destroy(dialog);
        SetLastError(error);
        return nullptr;
    }
    // The procedure comes in after the window is made: it never sees
    // WM_CREATE, and its first message is WM_INITDIALOG.
    *dialogState->slot(DWLP_DLGPROC) = reinterpret_cast<LONG_PTR>(procedure);
    HWND focus = firstTabStop(dialog);
    if (window->call(WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param) && focus && IsWindow(focus))
        SetFocus(focus);
    if (!WindowList::find(dialog))
        return nullptr;
    if (style & WS_VISIBLE)
        ShowWindow(dialog, SW_SHOWNORMAL);
    return dialog;
}

HWND dialogItem(HWND dialog, int id)
{
    for (HWND child : WindowList::childrenOf(dialog)) {
        auto window = WindowList::find(child);
        if (window && static_cast<int>(window->id()) == id)
            return child;
    }
    return nullptr;
}

}

using namespace ntsim::user32;

namespace {

HWND createDialogFrom(HINSTANCE instance, const BYTE* data, size_t size, HWND parent, DLGPROC procedure, LPARAM param)
{
    DialogTemplate tmpl;
    if (!parseDialogTemplate(data, size, tmpl)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (parent && !IsWindow(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return createDialog(instance, tmpl, parent, procedure, param);
}

// An in-memory template has no size the caller tells: as NT, the dialog
// manager trusts it to be whole.
constexpr size_t unknownSize = SIZE_MAX / 2;

HWND ownerOfModal(HWND parent)
{
    auto window = WindowList::find(parent);
    while (window && window->isChild())
        window = WindowList::find(window->parent());
    return window ? window->handle() : nullptr;
}

INT_PTR dialogBox(HINSTANCE instance, const BYTE* data, size_t size, HWND parent, DLGPROC procedure, LPARAM param,
    const ntsim::Json& templateId)
{
    HWND dialog = createDialogFrom(instance, data, size, parent, procedure, param);
    if (!dialog)
        return -1;
    if (auto window = WindowList::find(dialog))
        window->stateAs<DialogState>()->modal = true;
    return runModal(dialog, ownerOfModal(parent), templateId);
}

}

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA lpTemplate, HWND hWndParent,
    DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    ntsim::ApiCall call("CreateDialogIndirectParamA", hInstance, lpTemplate, hWndParent, lpDialogFunc, dwInitParam);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    return call.returns(createDialogFrom(hInstance, reinterpret_cast<const BYTE*>(lpTemplate), unknownSize, hWndParent,
        lpDialogFunc, dwInitParam));
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
    LPARAM dwInitParam)
{
    ntsim::ApiCall call("CreateDialogParamA", hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    size_t size = 0;
    const BYTE* data = findDialogResource(hInstance, lpTemplateName, size);
    if (!data)
        return call.returns(nullptr);
    return call.returns(createDialogFrom(hInstance, data, size, hWndParent, lpDialogFunc, dwInitParam));
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
    LPARAM dwInitParam)
{
    ntsim::ApiCall call("DialogBoxParamA", hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(-1);
    }
    size_t size = 0;
    const BYTE* data = findDialogResource(hInstance, lpTemplateName, size);
    if (!data)
        return call.returns(-1);
    return call.returns(dialogBox(hInstance, data, size, hWndParent, lpDialogFunc, dwInitParam, templateIdOf(lpTemplateName)));
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA hDialogTemplate, HWND hWndParent,
    DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    ntsim::ApiCall call("DialogBoxIndirectParamA", hInstance, hDialogTemplate, hWndParent, lpDialogFunc, dwInitParam);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(-1);
    }
    return call.returns(dialogBox(hInstance, reinterpret_cast<const BYTE*>(hDialogTemplate), unknownSize, hWndParent,
        lpDialogFunc, dwInitParam, nullptr));
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    ntsim::ApiCall call("EndDialog", hDlg, nResult);
    if (call.faulted())
        return call.returns(FALSE);
    DialogState* state = nullptr;
    if (!dialogWindow(hDlg, state))
        return call.returns(FALSE);
    state->ended = true;
    state->result = nResult;
    // A modeless dialog stays until destroyed; either way it leaves the screen.
    ShowWindow(hDlg, SW_HIDE);
    return call.returns(TRUE);
}

LRESULT WINAPI DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ntsim::ApiCall call("DefDlgProcA", hDlg, Msg, wParam, lParam);
    auto window = WindowList::find(hDlg);
    auto* state = window ? window->stateAs<DialogState>() : nullptr;
    if (state && state->procedure()) {
        // A stale answer of an earlier message must not pass for this one.
        *state->slot(DWLP_MSGRESULT) = 0;
        INT_PTR handled = ntsim::ProgramCode::call(state->procedure(), hDlg, Msg, wParam, lParam);
        if (handled || Msg == WM_INITDIALOG) {
            if (answersDirectly(Msg))
                return call.returns(handled);
            auto still = WindowList::find(hDlg);
            auto* now = still ? still->stateAs<DialogState>() : nullptr;
            return call.returns(now ? now->messageResult() : 0);
        }
    }
    switch (Msg) {
    case WM_CLOSE: {
        // As the Cancel button would: refused while that button is disabled.
        HWND cancel = dialogItem(hDlg, IDCANCEL);
        auto button = WindowList::find(cancel);
        if (button && !button->enabled())
            return call.returns(0);
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return call.returns(0);
    }
    case WM_INITDIALOG:
    case WM_NOTIFY:
    case WM_COMMAND:
        return call.returns(0);
    default:
        return call.returns(DefWindowProcA(hDlg, Msg, wParam, lParam));
    }
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    ntsim::ApiCall call("GetDlgItem", hDlg, nIDDlgItem);
    if (call.faulted())
        return call.returns(HWND(nullptr));
    if (!WindowList::find(hDlg)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return call.returns(nullptr);
    }
    HWND item = dialogItem(hDlg, nIDDlgItem);
    if (!item)
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return call.returns(item);
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    ntsim::ApiCall call("GetDlgCtrlID", hWnd);
    if (auto window = WindowList::find(hWnd))
        return call.returns(window->isChild() ? static_cast<int>(window->id()) : 0);
    if (foreignWindow(hWnd))
        return call.returns(static_cast<int>(GetWindowLongA(hWnd, GWL_ID)));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(0);
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ntsim::ApiCall call("SendDlgItemMessageA", hDlg, nIDDlgItem, Msg, wParam, lParam);
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item)
        return call.returns(0);
    return call.returns(SendMessageA(item, Msg, wParam, lParam));
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    ntsim::ApiCall call("SetDlgItemTextA", hDlg, nIDDlgItem, lpString);
    if (call.faulted())
        return call.returns(FALSE);
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item)
        return call.returns(FALSE);
    return call.returns(SetWindowTextA(item, lpString));
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax)
{
    ntsim::ApiCall call("GetDlgItemTextA", hDlg, nIDDlgItem, lpString, cchMax);
    if (lpString && cchMax > 0)
        lpString[0] = 0;
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item)
        return call.returns(0);
    return call.returns(static_cast<UINT>(GetWindowTextA(item, lpString, cchMax)));
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    ntsim::ApiCall call("CheckDlgButton", hDlg, nIDButton, uCheck);
    if (call.faulted())
        return call.returns(FALSE);
    HWND item = GetDlgItem(hDlg, nIDButton);
    if (!item)
        return call.returns(FALSE);
    SendMessageA(item, BM_SETCHECK, uCheck, 0);
    return call.returns(TRUE);
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    ntsim::ApiCall call("IsDlgButtonChecked", hDlg, nIDButton);
    HWND item = GetDlgItem(hDlg, nIDButton);
    if (!item)
        return call.returns(0);
    return call.returns(static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)));
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect)
{
    ntsim::ApiCall call("MapDialogRect", hDlg, lpRect);
    if (call.faulted())
        return call.returns(FALSE);
    DialogState* state = nullptr;
    if (!dialogWindow(hDlg, state))
        return call.returns(FALSE);
    if (!lpRect) {
        SetLastError(ERROR_NOACCESS);
        return call.returns(FALSE);
    }
    const BaseUnits& u = state->units;
    *lpRect = { MulDiv(lpRect->left, u.x, 4), MulDiv(lpRect->top, u.y, 8), MulDiv(lpRect->right, u.x, 4),
        MulDiv(lpRect->bottom, u.y, 8) };
    return call.returns(TRUE);
}

LONG WINAPI GetDialogBaseUnits(void)
{
    ntsim::ApiCall call("GetDialogBaseUnits");
    BaseUnits u = systemBaseUnits();
    return call.returns(MAKELONG(u.x, u.y));
}
