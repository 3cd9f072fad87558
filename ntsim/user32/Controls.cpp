// The controls of dialogs: static texts and pictures, buttons and check
// boxes, list boxes; and their part in what the desk shows.
#include "Controls.h"

#include "Window.h"

#include "machine/CodePage.h"
#include "kernel32/Kernel32Calls.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ntsim::user32 {

namespace {

// A control's own state, made when the control is (WM_NCCREATE); null
// before that or for a window that is gone (then window is null too).
template<typename State>
State* controlState(HWND hwnd, UINT message, std::shared_ptr<Window>& window)
{
    window = WindowList::find(hwnd);
    if (!window)
        return nullptr;
    if (message == WM_NCCREATE)
        window->setState(std::make_unique<State>());
    return window->stateAs<State>();
}

// Static controls ------------------------------------------------------

class StaticState : public WindowState {
public:
    Json bitmap;     // the resource id or name of the picture shown, null if none loaded
    std::string dib; // the picture: the resource's packed DIB, for the desk to draw
};

// A picture's name as a template passes it: "\xFF" and the ordinal's two
// bytes, or a resource name.
LPCSTR resourceNameOf(LPCSTR name)
{
    if (name && static_cast<unsigned char>(name[0]) == 0xFF)
        return MAKEINTRESOURCEA(static_cast<unsigned char>(name[1]) | static_cast<unsigned char>(name[2]) << 8);
    return name;
}

// The size of a bitmap resource's picture, from its BITMAPINFOHEADER or
// BITMAPCOREHEADER.
bool bitmapSize(const BYTE* data, DWORD size, SIZE& out)
{
    auto dword = [&](DWORD offset) {
        return static_cast<DWORD>(data[offset] | data[offset + 1] << 8 | data[offset + 2] << 16 | data[offset + 3] << 24);
    };
    if (size < 12)
        return false;
    DWORD header = dword(0);
    if (header == 12) {
        out = { data[4] | data[5] << 8, data[6] | data[7] << 8 };
        return true;
    }
    if (header < 40 || size < header)
        return false;
    LONG width = static_cast<LONG>(dword(4));
    LONG height = static_cast<LONG>(dword(8));
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return false;
    out = { width, height < 0 ? -height : height };
    return true;
}

void loadPicture(Window& window, const CREATESTRUCTA& create, StaticState& state)
{
    LPCSTR name = resourceNameOf(create.lpszName);
    if (!name)
        return;
    DWORD size = 0;
    DWORD error = ERROR_SUCCESS;
    const BYTE* data = kernel32::resourceData(create.hInstance, RT_BITMAP, name, size, error);
    SIZE picture {};
    if (!data || !bitmapSize(data, size, picture))
        return;
    state.dib.assign(reinterpret_cast<const char*>(data), size);
    if (IS_INTRESOURCE(name))
        state.bitmap = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    else
        state.bitmap = textForDesk(name);
    // The control takes the picture's size unless told to centre it.
    if (!(window.style() & SS_CENTERIMAGE)) {
        RECT r = window.rect();
        window.setRect({ r.left, r.top, r.left + picture.cx, r.top + picture.cy });
    }
}

LRESULT CALLBACK staticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto window = WindowList::find(hwnd);
    if (!window)
        return 0;
    if (message == WM_NCCREATE) {
        auto state = std::make_unique<StaticState>();
        DWORD type = window->style() & SS_TYPEMASK;
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (type == SS_BITMAP || type == SS_ICON) {
            // The window name names the picture; the control has no text.
            if (type == SS_BITMAP && create)
                loadPicture(*window, *create, *state);
            window->setState(std::move(state));
            return TRUE;
        }
        window->setState(std::move(state));
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Buttons --------------------------------------------------------------

class ButtonState : public WindowState {
public:
    UINT check { BST_UNCHECKED };
    bool pushed { false };
};

DWORD buttonType(const Window& window) { return window.style() & BS_TYPEMASK; }

bool isCheckBox(DWORD type)
{
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}

bool isRadioButton(DWORD type) { return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON; }

void notifyParent(const Window& window, WORD code)
{
    if (!window.isChild())
        return;
    if (auto parent = WindowList::find(window.parent()))
        parent->call(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(window.id()), code), reinterpret_cast<LPARAM>(window.handle()));
}

// An automatic radio button checked by a click clears the others of its
// group: the siblings from the last WS_GROUP before it to the next one.
void clearRadioGroup(const Window& clicked)
{
    std::vector<HWND> siblings = WindowList::childrenOf(clicked.parent());
    auto at = std::find(siblings.begin(), siblings.end(), clicked.handle());
    if (at == siblings.end())
        return;
    auto first = at;
    while (first != siblings.begin()) {
        auto w = WindowList::find(*first);
        if (w && (w->style() & WS_GROUP))
            break;
        --first;
    }
    for (auto it = first; it != siblings.end(); ++it) {
        auto w = WindowList::find(*it);
        if (!w)
            continue;
        if (it != first && (w->style() & WS_GROUP))
            break;
        if (w.get() != &clicked && buttonType(*w) == BS_AUTORADIOBUTTON) {
            if (auto* state = w->stateAs<ButtonState>())
                state->check = BST_UNCHECKED;
        }
    }
}

LRESULT CALLBACK buttonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<Window> window;
    auto* state = controlState<ButtonState>(hwnd, message, window);
    if (!state)
        return window ? DefWindowProcA(hwnd, message, wParam, lParam) : 0;
    DWORD type = buttonType(*window);
    switch (message) {
    case BM_GETCHECK:
        return (isCheckBox(type) || isRadioButton(type)) ? state->check : BST_UNCHECKED;
    case BM_SETCHECK:
        if (isCheckBox(type) || isRadioButton(type))
            state->check = (type == BS_3STATE || type == BS_AUTO3STATE) ? static_cast<UINT>(wParam) & 3 : (wParam ? BST_CHECKED : BST_UNCHECKED);
        return 0;
    case BM_GETSTATE:
        return state->check | (state->pushed ? BST_PUSHED : 0) | (GetFocus() == hwnd ? BST_FOCUS : 0);
    case BM_SETSTATE:
        state->pushed = wParam != 0;
        return 0;
    case BM_SETSTYLE:
        window->setStyle((window->style() & ~static_cast<DWORD>(0xFFFF)) | LOWORD(wParam));
        return 0;
    case BM_CLICK:
        // NT's disabled buttons send no BN_CLICKED, and change nothing.
        if (!window->enabled())
            return 0;
        if (type == BS_AUTOCHECKBOX)
            state->check = state->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        else if (type == BS_AUTO3STATE)
            state->check = (state->check + 1) % 3;
        else if (type == BS_AUTORADIOBUTTON) {
            clearRadioGroup(*window);
            state->check = BST_CHECKED;
        }
        notifyParent(*window, BN_CLICKED);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// List boxes -----------------------------------------------------------

class ListBoxState : public WindowState {
public:
    struct Item {
        std::string text;
        LPARAM data { 0 };
    };
    std::vector<Item> items;
    int selected { LB_ERR };

    bool valid(WPARAM index) const { return index < items.size(); }
};

bool equalNoCase(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

bool startsNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

// The first item after start (wrapping round) that the text matches.
LRESULT findItem(const ListBoxState& list, WPARAM start, const std::string& text, bool exact)
{
    size_t count = list.items.size();
    size_t first = (static_cast<int>(start) < 0 || start >= count) ? 0 : start + 1;
    for (size_t n = 0; n < count; ++n) {
        const std::string& item = list.items[(first + n) % count].text;
        if (exact ? equalNoCase(item, text) : startsNoCase(item, text))
            return static_cast<LRESULT>((first + n) % count);
    }
    return LB_ERR;
}

LRESULT insertItem(ListBoxState& list, size_t index, LPCSTR text)
{
    ListBoxState::Item item { text ? text : "", 0 };
    list.items.insert(list.items.begin() + static_cast<std::ptrdiff_t>(index), item);
    if (list.selected != LB_ERR && static_cast<size_t>(list.selected) >= index)
        ++list.selected;
    return static_cast<LRESULT>(index);
}

LRESULT CALLBACK listBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<Window> window;
    auto* list = controlState<ListBoxState>(hwnd, message, window);
    if (!list)
        return window ? DefWindowProcA(hwnd, message, wParam, lParam) : 0;
    auto text = [lParam] { return reinterpret_cast<LPCSTR>(lParam); };
    switch (message) {
    case LB_ADDSTRING: {
        size_t at = list->items.size();
        if ((window->style() & LBS_SORT) && text()) {
            // After the last item that sorts before or with the new one.
            at = 0;
            while (at < list->items.size() && lstrcmpiA(list->items[at].text.c_str(), text()) <= 0)
                ++at;
        }
        return insertItem(*list, at, text());
    }
    case LB_INSERTSTRING: {
        int index = static_cast<int>(wParam);
        if (index == -1)
            index = static_cast<int>(list->items.size());
        if (index < 0 || static_cast<size_t>(index) > list->items.size())
            return LB_ERR;
        return insertItem(*list, static_cast<size_t>(index), text());
    }
    case LB_DELETESTRING:
        if (!list->valid(wParam))
            return LB_ERR;
        list->items.erase(list->items.begin() + static_cast<std::ptrdiff_t>(wParam));
        if (list->selected == static_cast<int>(wParam))
            list->selected = LB_ERR;
        else if (list->selected > static_cast<int>(wParam))
            --list->selected;
        return static_cast<LRESULT>(list->items.size());
    case LB_RESETCONTENT:
        list->items.clear();
        list->selected = LB_ERR;
        return TRUE;
    case LB_GETCOUNT:
        return static_cast<LRESULT>(list->items.size());
    case LB_GETTEXT:
        // As NT's, it trusts the buffer to hold the item (LB_GETTEXTLEN).
        if (!list->valid(wParam) || !lParam)
            return LB_ERR;
        std::memcpy(reinterpret_cast<char*>(lParam), list->items[wParam].text.c_str(), list->items[wParam].text.size() + 1);
        return static_cast<LRESULT>(list->items[wParam].text.size());
    case LB_GETTEXTLEN:
        return list->valid(wParam) ? static_cast<LRESULT>(list->items[wParam].text.size()) : LB_ERR;
    case LB_SETCURSEL:
        if (!list->valid(wParam)) {
            // -1 clears the selection and still answers LB_ERR.
            if (static_cast<int>(wParam) == -1)
                list->selected = LB_ERR;
            return LB_ERR;
        }
        list->selected = static_cast<int>(wParam);
        return list->selected;
    case LB_GETCURSEL:
        return list->selected;
    case LB_GETITEMDATA:
        return list->valid(wParam) ? list->items[wParam].data : LB_ERR;
    case LB_SETITEMDATA:
        if (!list->valid(wParam))
            return LB_ERR;
        list->items[wParam].data = lParam;
        return TRUE;
    case LB_FINDSTRING:
    case LB_FINDSTRINGEXACT:
        if (!text())
            return LB_ERR;
        return findItem(*list, wParam, text(), message == LB_FINDSTRINGEXACT);
    case LB_SELECTSTRING: {
        if (!text())
            return LB_ERR;
        LRESULT found = findItem(*list, wParam, text(), false);
        if (found != LB_ERR)
            list->selected = static_cast<int>(found);
        return found;
    }
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// Controls that only keep their text here.
LRESULT CALLBACK textControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char selectPrefix[] = "select ";

}

const std::vector<ControlClass>& controlClasses()
{
    static const std::vector<ControlClass> classes = {
        { "Button", 0x80, buttonProc },
        { "Edit", 0x81, textControlProc },
        { "Static", 0x82, staticProc },
        { "ListBox", 0x83, listBoxProc },
        { "ScrollBar", 0x84, textControlProc },
        { "ComboBox", 0x85, textControlProc },
    };
    return classes;
}

std::string textForDesk(const std::string& ansi)
{
    return ansiToUtf8(ansi, ansiCodePage());
}

std::string nameForDesk(const char* kind, const Json& templateId, const std::string& title)
{
    std::string name = kind;
    if (templateId.is_number())
        name += " " + std::to_string(templateId.get<int64_t>());
    else if (templateId.is_string())
        name += " " + templateId.get<std::string>();
    return name + " \"" + title + "\"";
}

Json describeControls(HWND dialog, const BaseUnits& units)
{
    Json controls = Json::array();
    for (HWND child : WindowList::childrenOf(dialog)) {
        auto window = WindowList::find(child);
        if (!window)
            continue;
        Json c = Json::object();
        // Template ids are 16 bits: 0xFFFF is IDC_STATIC, -1.
        c["id"] = static_cast<int>(static_cast<short>(static_cast<WORD>(window->id())));
        c["class"] = textForDesk(window->className());
        c["text"] = textForDesk(window->text());
        c["enabled"] = window->enabled();
        c["visible"] = window->visible();
        RECT r = pixelsToDialogUnits(units, window->rect());
        Json rect = Json::array();
        for (LONG v : { r.left, r.top, r.right, r.bottom })
            rect.push_back(static_cast<int>(v));
        c["rect"] = std::move(rect);
        c["style"] = static_cast<unsigned>(window->style());
        if (auto* picture = window->stateAs<StaticState>(); picture && (window->style() & SS_TYPEMASK) == SS_BITMAP)
            c["bitmap"] = picture->bitmap;
        if (auto* button = window->stateAs<ButtonState>()) {
            DWORD type = buttonType(*window);
            if (isCheckBox(type) || isRadioButton(type))
                c["checked"] = static_cast<int>(button->check);
        }
        if (auto* list = window->stateAs<ListBoxState>()) {
            Json items = Json::array();
            for (auto& item : list->items)
                items.push_back(textForDesk(item.text));
            c["items"] = std::move(items);
            c["selected"] = list->selected;
        }
        controls.push_back(std::move(c));
    }
    return controls;
}

std::map<size_t, std::string> picturesOf(HWND dialog)
{
    std::map<size_t, std::string> pictures;
    size_t index = 0;
    for (HWND child : WindowList::childrenOf(dialog)) {
        auto window = WindowList::find(child);
        auto* picture = window ? window->stateAs<StaticState>() : nullptr;
        if (picture && (window->style() & SS_TYPEMASK) == SS_BITMAP && !picture->dib.empty())
            pictures[index] = picture->dib;
        ++index;
    }
    return pictures;
}

std::vector<std::string> selectionAnswers(HWND dialog)
{
    std::vector<std::string> answers;
    for (HWND child : WindowList::childrenOf(dialog)) {
        auto window = WindowList::find(child);
        auto* list = window ? window->stateAs<ListBoxState>() : nullptr;
        if (!list || !window->enabled() || !window->visible())
            continue;
        for (auto& item : list->items)
            answers.push_back(selectPrefix + lowered(textForDesk(item.text)));
    }
    return answers;
}

bool applySelectionAnswer(HWND dialog, const std::string& answer)
{
    if (answer.compare(0, sizeof selectPrefix - 1, selectPrefix) != 0)
        return false;
    std::string wanted = answer.substr(sizeof selectPrefix - 1);
    for (HWND child : WindowList::childrenOf(dialog)) {
        auto window = WindowList::find(child);
        auto* list = window ? window->stateAs<ListBoxState>() : nullptr;
        if (!list || !window->enabled() || !window->visible())
            continue;
        for (size_t i = 0; i < list->items.size(); ++i) {
            if (lowered(textForDesk(list->items[i].text)) != wanted)
                continue;
            list->selected = static_cast<int>(i);
            // The person's choice, unlike LB_SETCURSEL, is told.
            if (window->style() & LBS_NOTIFY)
                notifyParent(*window, LBN_SELCHANGE);
            return true;
        }
    }
    return false;
}

}
