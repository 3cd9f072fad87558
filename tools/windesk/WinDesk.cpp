// WINDESK.EXE: a script desk for real Windows (or Wine). It starts a
// program, watches the message boxes and wizard pages its processes show,
// writes each to a transcript in the simulated machine's format, answers
// from a script by pressing the buttons, and with --shots saves a picture
// of each before answering.
//
//   WINDESK.EXE --script FILE --transcript FILE [--shots DIR] -- PROGRAM ARGS...
//
// Exit status: the program's, 3 when something shown found no answer in
// the script, 2 when the desk itself could not run.
#include "desk/Script.h"

#include <nlohmann/json.hpp>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <tlhelp32.h>
#include <wincodec.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using ntsim::desk::ScriptLine;
// The transcript's lines, members in the order written, as ntsim writes them.
using Json = nlohmann::ordered_json;

namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string dumpLine(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The wizard's own buttons, as the sheet numbers them.
constexpr int sheetBackId = 0x3023;
constexpr int sheetNextId = 0x3024;
constexpr int sheetFinishId = 0x3025;

// How long the desk lets a process settle before it looks again.
constexpr DWORD idleWaitMs = 250;
constexpr DWORD pollMs = 50;
constexpr int pageTurnWaitMs = 3000;

std::string utf8Of(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring wideOf(const std::string& ansi)
{
    int size = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &out[0], size);
    out.resize(wcslen(out.c_str()));
    return out;
}

std::wstring windowTextW(HWND hwnd)
{
    // WM_GETTEXT is carried across processes; GetWindowText is not.
    LRESULT length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::string windowText(HWND hwnd) { return utf8Of(windowTextW(hwnd)); }

std::string classOf(HWND hwnd)
{
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, 256);
    return utf8Of(name);
}

std::vector<HWND> childrenOf(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// Dialog templates ---------------------------------------------------------

// A dialog resource as the desk matches pages against it.
struct Template {
    int id = 0;
    std::vector<std::pair<int, std::string>> controls; // id and lower-cased class, in order
    std::vector<std::string> texts;                    // their texts (UTF-8)
    std::vector<BYTE> bytes;                           // the resource, for measuring its units
};

class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : m_data(data), m_size(size) { }

    bool read(Template& out)
    {
        bool extended = word(0) == 1 && word(2) == 0xFFFF;
        DWORD style = extended ? dword(12) : dword(0);
        WORD count = extended ? word(16) : word(8);
        m_at = extended ? 26 : 18;
        skipNameOrOrdinal(); // menu
        skipNameOrOrdinal(); // class
        skipNameOrOrdinal(); // title
        if (style & DS_SETFONT) {
            m_at += extended ? 6 : 2;
            skipNameOrOrdinal();
        }
        for (WORD i = 0; i < count && m_ok; ++i) {
            m_at = (m_at + 3) & ~size_t(3);
            int id;
            if (extended) {
                id = static_cast<int>(dword(m_at + 20));
                m_at += 24;
            } else {
                id = static_cast<short>(word(m_at + 16));
                m_at += 18;
            }
            std::string cls = className();
            out.texts.push_back(text());
            m_at += 2 + word(m_at);
            out.controls.emplace_back(static_cast<short>(id), cls);
        }
        return m_ok;
    }

private:
    WORD word(size_t at)
    {
        if (at + 2 > m_size) {
            m_ok = false;
            return 0;
        }
        return static_cast<WORD>(m_data[at] | m_data[at + 1] << 8);
    }
    DWORD dword(size_t at) { return word(at) | static_cast<DWORD>(word(at + 2)) << 16; }

    void skipNameOrOrdinal()
    {
        WORD first = word(m_at);
        if (first == 0xFFFF) {
            m_at += 4;
            return;
        }
        while (m_ok && word(m_at) != 0)
            m_at += 2;
        m_at += 2;
    }

    std::string text()
    {
        if (word(m_at) == 0xFFFF) {
            m_at += 4;
            return {};
        }
        std::wstring name;
        while (m_ok && word(m_at) != 0) {
            name += static_cast<wchar_t>(word(m_at));
            m_at += 2;
        }
        m_at += 2;
        return utf8Of(name);
    }

    std::string className()
    {
        static const char* const atoms[] = { "button", "edit", "static", "listbox", "scrollbar", "combobox" };
        if (word(m_at) == 0xFFFF) {
            WORD atom = word(m_at + 2);
            m_at += 4;
            return atom >= 0x80 && atom <= 0x85 ? atoms[atom - 0x80] : std::to_string(atom);
        }
        std::wstring name;
        while (m_ok && word(m_at) != 0) {
            name += static_cast<wchar_t>(word(m_at));
            m_at += 2;
        }
        m_at += 2;
        return lowered(utf8Of(name));
    }

    const BYTE* m_data;
    DWORD m_size;
    size_t m_at = 0;
    bool m_ok = true;
};

BOOL CALLBACK collectTemplate(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    if (!IS_INTRESOURCE(name))
        return TRUE;
    auto* templates = reinterpret_cast<std::vector<Template>*>(param);
    HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(5)); // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    auto* data = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
    DWORD size = found ? SizeofResource(module, found) : 0;
    if (!data)
        return TRUE;
    Template t;
    t.id = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
    if (TemplateReader(data, size).read(t)) {
        t.bytes.assign(data, data + size);
        templates->push_back(std::move(t));
    }
    return TRUE;
}

// The dialog templates of the modules a process has loaded, read from the
// modules' files once a file.
class Templates {
public:
    const Template* match(DWORD pid, HWND page)
    {
        std::vector<std::pair<int, std::string>> controls;
        std::vector<std::string> texts;
        for (HWND child : childrenOf(page)) {
            controls.emplace_back(static_cast<short>(GetDlgCtrlID(child)), lowered(classOf(child)));
            texts.push_back(windowText(child));
        }
        // The page may add controls of its own after the template's; of
        // templates alike in their controls, the one whose texts the page
        // still shows wins.
        const Template* best = nullptr;
        size_t bestScore = 0;
        for (const std::wstring& file : modulesOf(pid)) {
            for (const Template& t : templatesOf(file)) {
                if (t.controls.size() > controls.size() || !std::equal(t.controls.begin(), t.controls.end(), controls.begin()))
                    continue;
                size_t score = t.controls.size() * 1000;
                for (size_t i = 0; i < t.texts.size(); ++i)
                    score += !t.texts[i].empty() && t.texts[i] == texts[i];
                if (!best || score > bestScore) {
                    best = &t;
                    bestScore = score;
                }
            }
        }
        return best;
    }

private:
    std::vector<std::wstring> modulesOf(DWORD pid)
    {
        std::vector<std::wstring> files;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
        if (snapshot == INVALID_HANDLE_VALUE)
            return files;
        MODULEENTRY32W entry {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry))
            files.push_back(entry.szExePath);
        CloseHandle(snapshot);
        return files;
    }

    const std::vector<Template>& templatesOf(const std::wstring& file)
    {
        auto found = m_byFile.find(file);
        if (found != m_byFile.end())
            return found->second;
        std::vector<Template>& templates = m_byFile[file];
        HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (module) {
            EnumResourceNamesW(module, MAKEINTRESOURCEW(5), collectTemplate, reinterpret_cast<LONG_PTR>(&templates));
            FreeLibrary(module);
        }
        return templates;
    }

    std::map<std::wstring, std::vector<Template>> m_byFile;
};

INT_PTR CALLBACK probeProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A page's pixels in its template's dialog units: a hidden copy of the
// template made here measures them, since the page's own font is out of
// reach from another process.
class Units {
public:
    explicit Units(const Template* t)
    {
        if (!t || t->bytes.size() < 16)
            return;
        std::vector<BYTE> copy = t->bytes;
        bool extended = copy[0] == 1 && copy[2] == 0xFF && copy[3] == 0xFF;
        DWORD* style = reinterpret_cast<DWORD*>(copy.data() + (extended ? 12 : 0));
        *style = (*style & ~(WS_CHILD | WS_VISIBLE)) | WS_POPUP;
        // The copy's controls need not exist here: only its font matters.
        if (extended)
            copy[16] = copy[17] = 0;
        else
            copy[8] = copy[9] = 0;
        HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
            reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()), nullptr, probeProc, 0);
        if (!probe)
            return;
        RECT r = { 0, 0, 4000, 8000 };
        if (MapDialogRect(probe, &r)) {
            m_x = r.right;
            m_y = r.bottom;
        }
        DestroyWindow(probe);
    }

    // From pixels to dialog units, rounded as MapDialogRect's inverse.
    int x(LONG pixels) const { return m_x ? MulDiv(pixels, 4000, m_x) : pixels; }
    int y(LONG pixels) const { return m_y ? MulDiv(pixels, 8000, m_y) : pixels; }

private:
    int m_x = 0;
    int m_y = 0;
};

// What is shown ------------------------------------------------------------

struct Shown {
    HWND hwnd = nullptr;   // the box, or the sheet
    HWND page = nullptr;   // the sheet's current page
    DWORD pid = 0;
    std::string title;     // the box's caption or the sheet's title
    Json line;             // the transcript line without its answer
    std::vector<std::string> answers;
    std::string name;      // for messages: page 102 "..." or message box "..."
    std::string templateId; // a page's, or empty
};

// The button ids a message box answers with.
const std::pair<const char*, int> boxButtons[] = {
    { "ok", IDOK }, { "cancel", IDCANCEL }, { "abort", IDABORT }, { "retry", IDRETRY }, { "ignore", IDIGNORE },
    { "yes", IDYES }, { "no", IDNO },
};

// A message box's MB_ style as far as its window shows it: the buttons it
// has, the default one and the icon. Flags that leave no trace on the
// window (MB_SETFOREGROUND, MB_TASKMODAL, help) are not there to read.
UINT boxStyle(HWND box)
{
    std::set<int> ids;
    int defaultIndex = -1;
    int index = 0;
    HICON icon = nullptr;
    for (HWND child : childrenOf(box)) {
        std::string cls = lowered(classOf(child));
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if (cls == "button" && IsWindowVisible(child)) {
            if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                defaultIndex = index;
            ids.insert(GetDlgCtrlID(child));
            ++index;
        } else if (cls == "static" && (style & SS_TYPEMASK) == SS_ICON) {
            icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        }
    }
    UINT type = MB_OK;
    if (ids == std::set<int> { IDOK, IDCANCEL })
        type = MB_OKCANCEL;
    else if (ids == std::set<int> { IDABORT, IDRETRY, IDIGNORE })
        type = MB_ABORTRETRYIGNORE;
    else if (ids == std::set<int> { IDYES, IDNO, IDCANCEL })
        type = MB_YESNOCANCEL;
    else if (ids == std::set<int> { IDYES, IDNO })
        type = MB_YESNO;
    else if (ids == std::set<int> { IDRETRY, IDCANCEL })
        type = MB_RETRYCANCEL;
    UINT style = type;
    if (defaultIndex > 0)
        style |= static_cast<UINT>(defaultIndex) << 8;
    if (icon) {
        // The system's shared icons are one handle in every process.
        static const std::pair<WORD, UINT> icons[] = { { 32513, MB_ICONHAND }, { 32514, MB_ICONQUESTION },
            { 32515, MB_ICONEXCLAMATION }, { 32516, MB_ICONASTERISK } };
        for (auto& [resource, flag] : icons) {
            if (LoadIconW(nullptr, MAKEINTRESOURCEW(resource)) == icon)
                style |= flag;
        }
    }
    if (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST)
        style |= MB_SYSTEMMODAL;
    return style;
}

Shown describeBox(HWND box, DWORD pid)
{
    Shown shown;
    shown.hwnd = box;
    shown.pid = pid;
    shown.title = windowText(box);
    std::string text;
    for (HWND child : childrenOf(box)) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if (lowered(classOf(child)) == "static" && (style & SS_TYPEMASK) != SS_ICON && text.empty())
            text = windowText(child);
        if (lowered(classOf(child)) == "button" && IsWindowVisible(child) && IsWindowEnabled(child)) {
            for (auto& [answer, id] : boxButtons) {
                if (GetDlgCtrlID(child) == id)
                    shown.answers.push_back(answer);
            }
        }
    }
    HWND owner = GetWindow(box, GW_OWNER);
    shown.line = Json::object();
    shown.line["event"] = "messagebox";
    shown.line["owner"] = owner ? Json(reinterpret_cast<uintptr_t>(owner)) : Json(nullptr);
    shown.line["caption"] = shown.title;
    shown.line["text"] = text;
    shown.line["style"] = boxStyle(box);
    shown.name = "message box \"" + shown.title + "\"";
    return shown;
}

// A list box's items (LB_GETTEXT is carried across processes).
std::vector<std::string> listItemTexts(HWND list)
{
    std::vector<std::string> items;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
        LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(got < 0 ? 0 : static_cast<size_t>(got));
        items.push_back(utf8Of(text));
    }
    return items;
}

Shown describePage(HWND sheet, HWND page, DWORD pid, Templates& templates)
{
    Shown shown;
    shown.hwnd = sheet;
    shown.page = page;
    shown.pid = pid;
    shown.title = windowText(sheet);
    const Template* t = templates.match(pid, page);
    Units units(t);
    Json controls = Json::array();
    for (HWND child : childrenOf(page)) {
        std::string cls = classOf(child);
        LONG style = GetWindowLongW(child, GWL_STYLE);
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
        // A picture's window text is its resource: 0xFF and the ordinal.
        DWORD staticType = lowered(cls) == "static" ? (style & SS_TYPEMASK) : 0;
        bool picture = staticType == SS_BITMAP || staticType == SS_ICON;
        std::wstring text = picture ? windowTextW(child) : std::wstring();
        Json c = Json::object();
        c["id"] = static_cast<short>(GetDlgCtrlID(child));
        c["class"] = cls;
        c["text"] = picture ? std::string() : windowText(child);
        c["enabled"] = IsWindowEnabled(child) != FALSE;
        c["visible"] = IsWindowVisible(child) != FALSE;
        c["rect"] = { units.x(r.left), units.y(r.top), units.x(r.right), units.y(r.bottom) };
        c["style"] = static_cast<DWORD>(style);
        if (staticType == SS_BITMAP) {
            if (text.size() >= 2 && text[0] == 0xFF)
                c["bitmap"] = static_cast<unsigned>(text[1]);
            else
                c["bitmap"] = text.empty() ? Json(nullptr) : Json(utf8Of(text));
        }
        std::string lcls = lowered(cls);
        if (lcls == "button") {
            DWORD type = style & BS_TYPEMASK;
            if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE
                || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
                c["checked"] = SendMessageW(child, BM_GETCHECK, 0, 0);
        } else if (lcls == "listbox") {
            std::vector<std::string> items = listItemTexts(child);
            c["items"] = items;
            c["selected"] = static_cast<int>(SendMessageW(child, LB_GETCURSEL, 0, 0));
            if (IsWindowEnabled(child) && IsWindowVisible(child)) {
                for (const std::string& item : items)
                    shown.answers.push_back("select " + lowered(item));
            }
        }
        controls.push_back(std::move(c));
    }
    static const std::pair<const char*, int> buttons[] = {
        { "back", sheetBackId }, { "next", sheetNextId }, { "finish", sheetFinishId }, { "cancel", IDCANCEL },
        { "help", IDHELP },
    };
    Json states = Json::object();
    for (auto& [answer, id] : buttons) {
        HWND button = GetDlgItem(sheet, id);
        bool visible = button && IsWindowVisible(button);
        bool enabled = button && IsWindowEnabled(button);
        if (!button || (id == IDHELP && !visible))
            continue;
        states[answer] = { { "shown", visible }, { "enabled", enabled } };
        if (visible && enabled)
            shown.answers.push_back(answer);
    }
    shown.line = Json::object();
    shown.line["event"] = "page";
    shown.line["template"] = t ? Json(t->id) : Json(nullptr);
    shown.line["title"] = shown.title;
    shown.line["controls"] = std::move(controls);
    shown.line["buttons"] = std::move(states);
    shown.templateId = t ? std::to_string(t->id) : std::string();
    shown.name = "page " + (t ? shown.templateId + " " : std::string()) + "\"" + shown.title + "\"";
    return shown;
}

// Pressing -----------------------------------------------------------------

void pressBoxButton(HWND box, const std::string& answer)
{
    for (auto& [name, id] : boxButtons) {
        if (answer == name) {
            // Posted, for the same reason as a page's button.
            if (HWND button = GetDlgItem(box, id))
                PostMessageW(button, BM_CLICK, 0, 0);
            return;
        }
    }
}

bool selectItem(HWND page, const std::string& item)
{
    for (HWND child : childrenOf(page)) {
        if (lowered(classOf(child)) != "listbox" || !IsWindowEnabled(child) || !IsWindowVisible(child))
            continue;
        std::vector<std::string> items = listItemTexts(child);
        for (size_t i = 0; i < items.size(); ++i) {
            if (lowered(items[i]) != item)
                continue;
            SendMessageW(child, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
            // A person's choice is told to the page; LB_SETCURSEL's is not.
            if (GetWindowLongW(child, GWL_STYLE) & LBS_NOTIFY)
                SendMessageW(page, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), LBN_SELCHANGE),
                    reinterpret_cast<LPARAM>(child));
            return true;
        }
    }
    return false;
}

void pressPageButton(const Shown& shown, const std::string& answer)
{
    if (answer.compare(0, 7, "select ") == 0) {
        selectItem(shown.page, answer.substr(7));
        return;
    }
    static const std::pair<const char*, int> buttons[] = {
        { "back", PSBTN_BACK }, { "next", PSBTN_NEXT }, { "finish", PSBTN_FINISH }, { "cancel", PSBTN_CANCEL },
        { "help", PSBTN_HELP },
    };
        for (auto& [name, button] : buttons) {
        if (answer != name)
            continue;
        // Posted: a sheet may turn the page inside the message (Wine's
        // does), and a box the page shows then would hold a sent message,
        // and the desk with it, until someone answered the box.
        PostMessageW(shown.hwnd, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
        // The sheet's loop sees that it has ended only when it next wakes.
        PostMessageW(shown.hwnd, WM_NULL, 0, 0);
        // Until the sheet turns the page, ends or shows a box, what it
        // shows is not yet the answer's outcome; a refused turn keeps the
        // page, so the wait is bounded.
        for (int waited = 0; waited < pageTurnWaitMs; waited += pollMs) {
            if (!IsWindow(shown.hwnd) || !IsWindowVisible(shown.hwnd) || !IsWindowEnabled(shown.hwnd)
                || reinterpret_cast<HWND>(SendMessageW(shown.hwnd, PSM_GETCURRENTPAGEHWND, 0, 0)) != shown.page)
                return;
            Sleep(pollMs);
        }
        return;
    }
}

// Shots --------------------------------------------------------------------

// Writes 32-bit BGR rows, top first, as a PNG file through the platform's
// imaging component, which compresses them.
bool writePng(const std::wstring& file, UINT width, UINT height, const BYTE* bgrx)
{
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr))
        hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr))
        hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr))
        hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    if (SUCCEEDED(hr))
        hr = frame->SetPixelFormat(&format);
    // The encoder may only take another format; then the rows are not its.
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat32bppBGR))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(height, width * 4, width * height * 4, const_cast<BYTE*>(bgrx));
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    for (IUnknown* object : std::initializer_list<IUnknown*> { frame, encoder, stream, factory }) {
        if (object)
            object->Release();
    }
    return SUCCEEDED(hr);
}

// Saves the window as the screen shows it: another process's window cannot
// be asked to paint into this one's device context. Only its client area:
// without a window manager nothing draws the caption, and the screen there
// shows what lies behind.
bool saveShot(HWND hwnd, const std::wstring& file)
{
    RECT r;
    if (!GetClientRect(hwnd, &r) || r.right <= r.left || r.bottom <= r.top)
        return false;
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // rows top first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (dib && bits) {
        HGDIOBJ old = SelectObject(memory, dib);
        if (BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY)) {
            GdiFlush();
            saved = writePng(file, static_cast<UINT>(width), static_cast<UINT>(height), static_cast<const BYTE*>(bits));
        }
        SelectObject(memory, old);
    }
    if (dib)
        DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

std::wstring shotName(int number, const Shown& shown)
{
    std::string name = shown.page ? "page" + (shown.templateId.empty() ? "" : "-" + shown.templateId) : "box";
    std::string title;
    for (char c : lowered(shown.title))
        title += (std::isalnum(static_cast<unsigned char>(c)) ? c : '-');
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d-", number);
    return wideOf(prefix + name + (title.empty() ? "" : "-" + title) + ".png");
}

// The processes ---------------------------------------------------------------

// The started program and the processes it starts, and theirs.
class Family {
public:
    explicit Family(HANDLE root, DWORD pid) { m_members[pid] = root; }
    ~Family()
    {
        for (auto& [pid, handle] : m_members)
            CloseHandle(handle);
    }

    void refresh()
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return;
        std::vector<PROCESSENTRY32W> all;
        PROCESSENTRY32W entry {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            all.push_back(entry);
        CloseHandle(snapshot);
        for (bool grew = true; grew;) {
            grew = false;
            for (auto& p : all) {
                if (m_members.count(p.th32ProcessID) || !m_members.count(p.th32ParentProcessID))
                    continue;
                HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, p.th32ProcessID);
                if (!h)
                    continue;
                m_members[p.th32ProcessID] = h;
                grew = true;
            }
        }
    }

    bool contains(DWORD pid) const { return m_members.count(pid) != 0; }

    bool alive() const
    {
        for (auto& [pid, handle] : m_members) {
            if (WaitForSingleObject(handle, 0) == WAIT_TIMEOUT)
                return true;
        }
        return false;
    }

    // Lets every living member finish what it does before the desk looks.
    void settle() const
    {
        for (auto& [pid, handle] : m_members) {
            if (WaitForSingleObject(handle, 0) == WAIT_TIMEOUT)
                WaitForInputIdle(handle, idleWaitMs);
        }
    }

    void end(UINT status) const
    {
        for (auto& [pid, handle] : m_members)
            TerminateProcess(handle, status);
    }

private:
    std::map<DWORD, HANDLE> m_members;
};

struct Found {
    HWND hwnd;
    DWORD pid;
};

struct EnumState {
    const Family* family;
    std::vector<Found> windows;
};

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM param)
{
    auto* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (state->family->contains(pid) && IsWindowVisible(hwnd) && classOf(hwnd) == "#32770")
        state->windows.push_back({ hwnd, pid });
    return TRUE;
}

bool isSheet(HWND hwnd)
{
    for (HWND child : childrenOf(hwnd)) {
        if (classOf(child) == "#32770")
            return true;
    }
    return false;
}

// The desk ---------------------------------------------------------------------

class Desk {
public:
    Desk(std::vector<ScriptLine> script, std::ofstream& transcript, std::wstring shots)
        : m_script(std::move(script)), m_transcript(transcript), m_shots(std::move(shots))
    {
        m_used.assign(m_script.size(), false);
    }

    // Watches until every process of the family has ended. False when
    // something shown found no answer (the family is then ended).
    bool watch(Family& family, DWORD rootPid)
    {
        for (;;) {
            family.refresh();
            if (!family.alive())
                return true;
            family.settle();
            EnumState state { &family, {} };
            EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&state));
            bool acted = false;
            for (const Found& w : state.windows) {
                if (!IsWindowEnabled(w.hwnd))
                    continue; // a modal box of its own is up
                std::unique_ptr<Shown> shown = nextShown(w);
                if (!shown)
                    continue;
                if (!answer(*shown, rootPid)) {
                    family.end(3);
                    return false;
                }
                acted = true;
                break;
            }
            if (!acted)
                Sleep(pollMs);
        }
    }

private:
    std::unique_ptr<Shown> nextShown(const Found& w)
    {
        if (!isSheet(w.hwnd)) {
            if (m_answeredBoxes.count(w.hwnd))
                return nullptr;
            return std::make_unique<Shown>(describeBox(w.hwnd, w.pid));
        }
        HWND page = reinterpret_cast<HWND>(SendMessageW(w.hwnd, PSM_GETCURRENTPAGEHWND, 0, 0));
        if (!page)
            return nullptr;
        // The page must hold still: a sheet between pages is not yet shown.
        Sleep(pollMs);
        if (reinterpret_cast<HWND>(SendMessageW(w.hwnd, PSM_GETCURRENTPAGEHWND, 0, 0)) != page)
            return nullptr;
        return std::make_unique<Shown>(describePage(w.hwnd, page, w.pid, m_templates));
    }

    // The script line this window takes: the first unused one addressed to
    // its title, else, for the started program, the next unaddressed one.
    int lineFor(const Shown& shown, DWORD rootPid)
    {
        for (size_t i = 0; i < m_script.size(); ++i) {
            if (!m_used[i] && m_script[i].title && ntsim::desk::sameTitle(*m_script[i].title, shown.title))
                return static_cast<int>(i);
        }
        if (shown.pid != rootPid)
            return -1;
        for (size_t i = 0; i < m_script.size(); ++i) {
            if (!m_used[i] && !m_script[i].title)
                return static_cast<int>(i);
        }
        return -1;
    }

    bool answer(const Shown& shown, DWORD rootPid)
    {
        if (!m_shots.empty()) {
            std::wstring file = m_shots + L"\\" + shotName(++m_shotCount, shown);
            if (!saveShot(shown.hwnd, file))
                std::fprintf(stderr, "windesk: could not save a picture of the %s\n", shown.name.c_str());
        }
        int line = lineFor(shown, rootPid);
        std::string answer = line >= 0 ? m_script[static_cast<size_t>(line)].answer : std::string();
        bool fits = false;
        for (auto& a : shown.answers)
            fits = fits || a == answer;
        Json record = shown.line;
        record["answer"] = fits ? Json(answer) : Json(nullptr);
        m_transcript << dumpLine(record) << "\n";
        m_transcript.flush();
        if (line < 0) {
            std::fprintf(stderr, "windesk: no answer in the script for the %s\n", shown.name.c_str());
            return false;
        }
        if (!fits) {
            std::fprintf(stderr, "windesk: line %u: the %s does not take \"%s\"\n",
                m_script[static_cast<size_t>(line)].number, shown.name.c_str(), answer.c_str());
            return false;
        }
        m_used[static_cast<size_t>(line)] = true;
        // Whatever page is current after a page's answer is shown anew.
        if (shown.page) {
            pressPageButton(shown, answer);
        } else {
            m_answeredBoxes.insert(shown.hwnd);
            pressBoxButton(shown.hwnd, answer);
        }
        return true;
    }

    std::vector<ScriptLine> m_script;
    std::vector<bool> m_used;
    std::ofstream& m_transcript;
    std::wstring m_shots;
    int m_shotCount = 0;
    std::set<HWND> m_answeredBoxes;
    Templates m_templates;
};

// The command line ---------------------------------------------------------------

const char usage[] = "usage: WINDESK.EXE --script FILE --transcript FILE [--shots DIR] -- PROGRAM ARGS...\n";

// A command line the started program parses back into the same arguments.
std::string quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

bool readScript(const std::string& file, std::vector<ScriptLine>& script)
{
    std::string error;
    if (ntsim::desk::loadScript(file, script, error))
        return true;
    std::fprintf(stderr, "windesk: %s: %s\n", file.c_str(), error.c_str());
    return false;
}

}

int main(int argc, char** argv)
{
    std::string scriptFile, transcriptFile, shots;
    int programArg = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            programArg = i + 1;
            break;
        }
        if ((arg == "--script" || arg == "--transcript" || arg == "--shots") && i + 1 < argc) {
            (arg == "--script" ? scriptFile : arg == "--transcript" ? transcriptFile : shots) = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "windesk: unknown argument %s\n%s", arg.c_str(), usage);
            return 2;
        }
    }
    if (programArg < 0 || programArg >= argc || scriptFile.empty() || transcriptFile.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::vector<ScriptLine> script;
    if (!readScript(scriptFile, script))
        return 2;
    std::ofstream transcript(transcriptFile, std::ios::binary | std::ios::trunc);
    if (!transcript) {
        std::fprintf(stderr, "windesk: cannot write the transcript %s\n", transcriptFile.c_str());
        return 2;
    }
    if (!shots.empty()) {
        CreateDirectoryA(shots.c_str(), nullptr);
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
            std::fprintf(stderr, "windesk: cannot start COM for the pictures\n");
            return 2;
        }
    }

    std::string commandLine;
    for (int i = programArg; i < argc; ++i)
        commandLine += (i > programArg ? " " : "") + quoted(argv[i]);
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "windesk: cannot start %s: error %lu\n", argv[programArg], GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);
    HANDLE root = nullptr;
    DuplicateHandle(GetCurrentProcess(), process.hProcess, GetCurrentProcess(), &root, 0, FALSE, DUPLICATE_SAME_ACCESS);

    bool answered;
    {
        Family family(process.hProcess, process.dwProcessId);
        Desk desk(std::move(script), transcript, wideOf(shots));
        answered = desk.watch(family, process.dwProcessId);
    }
    DWORD status = 3;
    WaitForSingleObject(root, INFINITE);
    if (answered)
        GetExitCodeProcess(root, &status);
    CloseHandle(root);
    return static_cast<int>(status);
}
