// comctl32's property sheets in wizard mode: the page records behind
// HPROPSHEETPAGE, the sheet window with its Back, Next, Finish, Cancel and
// Help buttons, the PSN_ notifications and PSM_ messages, and the modal
// loop that shows each page on the desk.
#include <commctrl.h>

#include "user32/Controls.h"
#include "user32/Dialog.h"
#include "user32/LoadString.h"
#include "user32/ModalLoop.h"
#include "user32/Window.h"

#include "machine/CodePage.h"
#include "machine/ApiCall.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace ntsim::user32;

namespace ntsim::comctl32 {

namespace {

// The sheet's buttons carry comctl32's control ids, which the framework
// knows as ID_WIZBACK, ID_WIZNEXT and ID_WIZFINISH.
constexpr int backButtonId = 0x3023;
constexpr int nextButtonId = 0x3024;
constexpr int finishButtonId = 0x3025;

// The sheet's own template: 8-point MS Sans Serif, pages 7 dialog units in
// from the edge, a row of 50 by 14 buttons below them.
constexpr short margin = 7;
constexpr short buttonWidth = 50;
constexpr short buttonHeight = 14;
const char16_t sheetFace[] = u"MS Sans Serif";
constexpr WORD sheetPointSize = 8;

// A page as comctl32 keeps it: its own copy of the caller's record, of
// the caller's dwSize, so that data an application appends travels along.
class PageRecord {
public:
    explicit PageRecord(const PROPSHEETPAGEA& page)
        : m_bytes(std::max<size_t>(page.dwSize, sizeof(PROPSHEETPAGEA)))
    {
        std::memcpy(m_bytes.data(), &page, page.dwSize);
    }

    PROPSHEETPAGEA& psp() { return *reinterpret_cast<PROPSHEETPAGEA*>(m_bytes.data()); }

private:
    std::vector<BYTE> m_bytes; // new[] memory: aligned for the record
};

std::set<PageRecord*>& livePages()
{
    static std::set<PageRecord*> pages;
    return pages;
}

PageRecord* recordOf(HPROPSHEETPAGE handle)
{
    auto* record = reinterpret_cast<PageRecord*>(handle);
    return livePages().count(record) ? record : nullptr;
}

bool validPage(const PROPSHEETPAGEA* page)
{
    return page && page->dwSize >= PROPSHEETPAGEA_V1_SIZE;
}

PageRecord* newPage(const PROPSHEETPAGEA& page)
{
    auto* record = new PageRecord(page);
    livePages().insert(record);
    PROPSHEETPAGEA& psp = record->psp();
    if ((psp.dwFlags & PSP_USEREFPARENT) && psp.pcRefParent)
        ++*psp.pcRefParent;
    return record;
}

void releasePage(PageRecord* record)
{
    PROPSHEETPAGEA& psp = record->psp();
    if ((psp.dwFlags & PSP_USECALLBACK) && psp.pfnCallback)
        ProgramCode::call(psp.pfnCallback, nullptr, PSPCB_RELEASE, &psp);
    if ((psp.dwFlags & PSP_USEREFPARENT) && psp.pcRefParent)
        --*psp.pcRefParent;
    livePages().erase(record);
    delete record;
}

// The template a page is made from, as the desk names it: its resource id,
// its name, or null for a template in memory.
Json templateIdOf(const PROPSHEETPAGEA& psp)
{
    if (psp.dwFlags & PSP_DLGINDIRECT)
        return nullptr;
    if (IS_INTRESOURCE(psp.pszTemplate))
        return static_cast<int>(reinterpret_cast<uintptr_t>(psp.pszTemplate));
    return textForDesk(psp.pszTemplate);
}

bool templateOf(PROPSHEETPAGEA& psp, DialogTemplate& out)
{
    if (psp.dwFlags & PSP_DLGINDIRECT) {
        // A template in memory has no size to check against, as on NT.
        return parseDialogTemplate(reinterpret_cast<const BYTE*>(psp.pResource), SIZE_MAX / 2, out);
    }
    size_t size = 0;
    const BYTE* data = findDialogResource(psp.hInstance, psp.pszTemplate, size);
    return data && parseDialogTemplate(data, size, out);
}

// Writes a dialog template as the resource compiler lays one out.
class TemplateWriter {
public:
    void word(WORD w)
    {
        m_bytes.push_back(static_cast<BYTE>(w & 0xFF));
        m_bytes.push_back(static_cast<BYTE>(w >> 8));
    }
    void dword(DWORD d)
    {
        word(static_cast<WORD>(d & 0xFFFF));
        word(static_cast<WORD>(d >> 16));
    }
    void string(const std::u16string& s)
    {
        for (char16_t c : s)
            word(static_cast<WORD>(c));
        word(0);
    }
    void alignTo4()
    {
        while (m_bytes.size() % 4)
            m_bytes.push_back(0);
    }
    void control(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classOrdinal, const std::u16string& text)
    {
        alignTo4();
        dword(style);
        dword(0);
        for (short v : { x, y, cx, cy })
            word(static_cast<WORD>(v));
        word(id);
        word(0xFFFF);
        word(classOrdinal);
        string(text);
        word(0);
    }
    std::vector<BYTE>& bytes() { return m_bytes; }

private:
    std::vector<BYTE> m_bytes;
};

std::u16string wide(const std::string& ansi)
{
    std::u16string out;
    toUtf16(ansi, ansiCodePage(), out);
    return out;
}

class Sheet;
std::map<HWND, Sheet*>& sheets()
{
    static std::map<HWND, Sheet*> map;
    return map;
}

INT_PTR CALLBACK sheetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class Sheet {
public:
    Sheet(const PROPSHEETHEADERA& header, std::vector<PageRecord*> pages, std::string title)
        : m_header(header)
        , m_pages(std::move(pages))
        , m_pageWindows(m_pages.size(), nullptr)
        , m_title(std::move(title))
    {
    }

    ~Sheet()
    {
        if (m_hwnd)
            sheets().erase(m_hwnd);
        for (PageRecord* page : m_pages)
            releasePage(page);
    }

    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    INT_PTR run();

    // The sheet's dialog procedure; true when the message was its own.
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void attach(HWND hwnd)
    {
        m_hwnd = hwnd;
        sheets()[hwnd] = this;
    }
    void initialized()
    {
        if ((m_header.dwFlags & PSH_USECALLBACK) && m_header.pfnCallback)
            ProgramCode::call(m_header.pfnCallback, m_hwnd, PSCB_INITIALIZED, 0);
    }

private:
    bool create();
    std::vector<BYTE> frameTemplate() const;
    HWND button(int id) const { return dialogItem(m_hwnd, id); }
    bool alive() const { return m_hwnd && WindowList::find(m_hwnd); }

    HWND pageWindow(size_t index);
    LRESULT notify(HWND page, UINT code);
    int indexOfAnswer(LRESULT answer, int fallback) const;
    bool changeTo(int index, int direction, bool killCurrent);

    void move(int step);
    void finish();
    void cancel();
    void setWizardButtons(DWORD flags);
    void setTitle(UINT style, LPCSTR text);
    void press(int button);
    void pressAnswer(const std::string& answer);

    desk::Shown pageShown() const;

    PROPSHEETHEADERA m_header;
    std::vector<PageRecord*> m_pages;
    std::vector<HWND> m_pageWindows;
    std::string m_title;
    HWND m_hwnd { nullptr };
    int m_current { -1 };
    POINT m_pageOrigin {};
    bool m_ended { false };
    INT_PTR m_result { 0 };
    INT_PTR m_restart { 0 };
};

INT_PTR CALLBACK sheetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* sheet = reinterpret_cast<Sheet*>(lParam);
        sheet->attach(hwnd);
        sheet->initialized();
        return FALSE;
    }
    auto it = sheets().find(hwnd);
    if (it == sheets().end())
        return FALSE;
    LRESULT result = 0;
    if (!it->second->handle(message, wParam, lParam, result))
        return FALSE;
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

std::vector<BYTE> Sheet::frameTemplate() const
{
    // The page area fits the largest page, each measured in its own units.
    SIZE page { 0, 0 };
    BaseUnits sheetUnits = baseUnitsOfFont(sheetFace, sheetPointSize);
    for (PageRecord* record : m_pages) {
        DialogTemplate tmpl;
        if (!templateOf(record->psp(), tmpl))
            continue;
        BaseUnits units = (tmpl.style & DS_SETFONT) ? baseUnitsOfFont(tmpl.face, tmpl.pointSize) : systemBaseUnits();
        RECT px = dialogUnitsToPixels(units, 0, 0, tmpl.cx, tmpl.cy);
        page.cx = std::max(page.cx, px.right);
        page.cy = std::max(page.cy, px.bottom);
    }
    RECT inSheet = pixelsToDialogUnits(sheetUnits, { 0, 0, page.cx, page.cy });
    short pageWidth = static_cast<short>(inSheet.right);
    short pageHeight = static_cast<short>(inSheet.bottom);
    short width = static_cast<short>(pageWidth + 2 * margin);
    short buttonsTop = static_cast<short>(margin + pageHeight + 2 * margin);
    short height = static_cast<short>(buttonsTop + buttonHeight + margin);

    bool hasHelp = m_header.dwFlags & PSH_HASHELP;
    short right = static_cast<short>(width - margin);
    short helpX = static_cast<short>(right - buttonWidth);
    short cancelX = hasHelp ? static_cast<short>(helpX - margin - buttonWidth) : helpX;
    short nextX = static_cast<short>(cancelX - margin - buttonWidth);
    short backX = static_cast<short>(nextX - buttonWidth);

    TemplateWriter t;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK
        | DS_CENTER;
    t.dword(style);
    t.dword(WS_EX_CONTROLPARENT);
    t.word(5);
    for (short v : { short(0), short(0), width, height })
        t.word(static_cast<WORD>(v));
    t.word(0); // no menu
    t.word(0); // the dialog class
    t.string(wide(m_title));
    t.word(sheetPointSize);
    t.string(sheetFace);
    DWORD button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
    t.control(button, backX, buttonsTop, buttonWidth, buttonHeight, backButtonId, 0x80, u"< &Back");
    t.control(button | BS_DEFPUSHBUTTON, nextX, buttonsTop, buttonWidth, buttonHeight, nextButtonId, 0x80, u"&Next >");
    // Finish takes Next's place when a page asks for it.
    t.control((button & ~WS_VISIBLE), nextX, buttonsTop, buttonWidth, buttonHeight, finishButtonId, 0x80, u"Finish");
    t.control(button, cancelX, buttonsTop, buttonWidth, buttonHeight, IDCANCEL, 0x80, u"Cancel");
    // Help is there for every sheet, shown only when the sheet has help.
    t.control(hasHelp ? button : (button & ~WS_VISIBLE), helpX, buttonsTop, buttonWidth, buttonHeight, IDHELP, 0x80,
        u"&Help");
    return std::move(t.bytes());
}

bool Sheet::create()
{
    std::vector<BYTE> bytes = frameTemplate();
    // The application may change the template before the sheet is made.
    if ((m_header.dwFlags & PSH_USECALLBACK) && m_header.pfnCallback)
        ProgramCode::call(m_header.pfnCallback, nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(bytes.data()));
    DialogTemplate tmpl;
    if (!parseDialogTemplate(bytes.data(), bytes.size(), tmpl)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    HWND hwnd = createDialog(m_header.hInstance, tmpl, m_header.hwndParent, sheetProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd)
        return false;
    BaseUnits units = baseUnitsOfFont(tmpl.face, tmpl.pointSize);
    RECT origin = dialogUnitsToPixels(units, margin, margin, 0, 0);
    m_pageOrigin = { origin.left, origin.top };
    return true;
}

HWND Sheet::pageWindow(size_t index)
{
    if (m_pageWindows[index] && IsWindow(m_pageWindows[index]))
        return m_pageWindows[index];
    PROPSHEETPAGEA& psp = m_pages[index]->psp();
    // The application may refuse the page's creation.
    if ((psp.dwFlags & PSP_USECALLBACK) && psp.pfnCallback && !ProgramCode::call(psp.pfnCallback, nullptr, PSPCB_CREATE, &psp))
        return nullptr;
    DialogTemplate tmpl;
    if (!templateOf(psp, tmpl))
        return nullptr;
    // A page is a child of the sheet whatever its template says.
    HWND page = createDialog(psp.hInstance, tmpl, m_hwnd, psp.pfnDlgProc, reinterpret_cast<LPARAM>(&psp),
        WS_CHILD | WS_TABSTOP | DS_CONTROL,
        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | WS_VISIBLE | WS_DISABLED | DS_SYSMODAL);
    if (!page)
        return nullptr;
    if (auto window = WindowList::find(page)) {
        RECT r = window->rect();
        window->setRect({ m_pageOrigin.x, m_pageOrigin.y, m_pageOrigin.x + r.right - r.left,
            m_pageOrigin.y + r.bottom - r.top });
    }
    m_pageWindows[index] = page;
    return page;
}

LRESULT Sheet::notify(HWND page, UINT code)
{
    auto window = WindowList::find(page);
    if (!window)
        return 0;
    PSHNOTIFY note {};
    note.hdr.hwndFrom = m_hwnd;
    note.hdr.idFrom = 0;
    note.hdr.code = code;
    note.lParam = 0;
    return window->call(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&note));
}

// The page a notification's answer names: its template's resource id (NT
// compares the page's pszTemplate with MAKEINTRESOURCE(id)) or, for a page
// made from memory, the template's address; fallback for none.
int Sheet::indexOfAnswer(LRESULT answer, int fallback) const
{
    for (size_t i = 0; i < m_pages.size(); ++i) {
        const PROPSHEETPAGEA& psp = m_pages[i]->psp();
        LPCSTR name = (psp.dwFlags & PSP_DLGINDIRECT) ? reinterpret_cast<LPCSTR>(psp.pResource) : psp.pszTemplate;
        if (reinterpret_cast<LRESULT>(name) == answer)
            return static_cast<int>(i);
    }
    return fallback;
}

// Moves to the page at index; a page that refuses (-1) passes the turn to
// its neighbour in the direction of travel, a page that answers with a
// template id to that page. False, with the current page kept, when no
// page takes it.
bool Sheet::changeTo(int index, int direction, bool killCurrent)
{
    if (killCurrent && m_current >= 0 && notify(m_pageWindows[m_current], PSN_KILLACTIVE))
        return false;
    std::set<int> tried;
    while (index >= 0 && index < static_cast<int>(m_pages.size()) && tried.insert(index).second) {
        HWND page = pageWindow(static_cast<size_t>(index));
        if (!alive())
            return false;
        LRESULT answer = page ? notify(page, PSN_SETACTIVE) : -1;
        if (answer == 0) {
            if (m_current >= 0 && m_current != index && m_pageWindows[m_current])
                ShowWindow(m_pageWindows[m_current], SW_HIDE);
            ShowWindow(page, SW_SHOW);
            m_current = index;
            // Help answers for the page that has it.
            if (HWND help = button(IDHELP))
                EnableWindow(help, (m_pages[index]->psp().dwFlags & PSP_HASHELP) ? TRUE : FALSE);
            return true;
        }
        index = answer == -1 ? index + direction : indexOfAnswer(answer, -1);
    }
    return false;
}

// Back (-1) or Next (+1): the page's answer to PSN_WIZBACK or PSN_WIZNEXT
// stays (-1), moves one page on (0) or names the page to go to.
void Sheet::move(int step)
{
    if (m_current < 0)
        return;
    LRESULT answer = notify(m_pageWindows[m_current], step < 0 ? PSN_WIZBACK : PSN_WIZNEXT);
    if (answer == -1)
        return;
    int target = answer == 0 ? m_current + step : indexOfAnswer(answer, -1);
    if (target >= 0 && target < static_cast<int>(m_pages.size()))
        changeTo(target, step, true);
}

void Sheet::finish()
{
    if (m_current >= 0 && notify(m_pageWindows[m_current], PSN_WIZFINISH))
        return;
    m_result = m_restart ? m_restart : 1;
    m_ended = true;
}

void Sheet::cancel()
{
    // A disabled Cancel cancels nothing, however it is asked.
    HWND cancelButton = button(IDCANCEL);
    if (cancelButton && !IsWindowEnabled(cancelButton))
        return;
    if (m_current >= 0 && notify(m_pageWindows[m_current], PSN_QUERYCANCEL))
        return;
    for (HWND page : m_pageWindows) {
        if (page && IsWindow(page))
            notify(page, PSN_RESET);
    }
    m_result = 0;
    m_ended = true;
}

void Sheet::setWizardButtons(DWORD flags)
{
    auto set = [](HWND hwnd, bool shown, bool enabled) {
        if (!hwnd)
            return;
        ShowWindow(hwnd, shown ? SW_SHOW : SW_HIDE);
        EnableWindow(hwnd, enabled ? TRUE : FALSE);
    };
    bool finishAsked = flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH);
    bool bothShown = m_header.dwFlags & PSH_WIZARDHASFINISH;
    set(button(backButtonId), true, flags & PSWIZB_BACK);
    // Finish takes Next's place unless the sheet always shows both.
    set(button(nextButtonId), bothShown || !finishAsked, flags & PSWIZB_NEXT);
    set(button(finishButtonId), bothShown || finishAsked,
        bothShown ? !(flags & PSWIZB_DISABLEDFINISH) : (flags & PSWIZB_FINISH));
}

void Sheet::setTitle(UINT style, LPCSTR text)
{
    std::string title;
    if (IS_INTRESOURCE(text)) {
        if (text)
            loadString(m_header.hInstance, static_cast<UINT>(reinterpret_cast<uintptr_t>(text)), title);
    } else {
        title = text;
    }
    if (style & PSH_PROPTITLE)
        title = "Properties for " + title;
    m_title = title;
    SetWindowTextA(m_hwnd, title.c_str());
}

void Sheet::press(int which)
{
    static const int ids[] = { backButtonId, nextButtonId, finishButtonId, IDOK, 0x3021, IDCANCEL, IDHELP };
    if (which < 0 || which > PSBTN_MAX)
        return;
    // The press comes when the sheet next reads its queue, as a click would.
    if (HWND target = button(ids[which]))
        PostMessageA(target, BM_CLICK, 0, 0);
}

bool Sheet::handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return false;
        switch (LOWORD(wParam)) {
        case backButtonId: move(-1); return true;
        case nextButtonId: move(1); return true;
        case finishButtonId: finish(); return true;
        case IDCANCEL: cancel(); return true;
        case IDHELP:
            if (m_current >= 0)
                notify(m_pageWindows[m_current], PSN_HELP);
            return true;
        default: return false;
        }
    case PSM_SETWIZBUTTONS:
        setWizardButtons(static_cast<DWORD>(lParam));
        return true;
    case PSM_SETTITLEA:
        setTitle(static_cast<UINT>(wParam), reinterpret_cast<LPCSTR>(lParam));
        return true;
    case PSM_PRESSBUTTON:
        press(static_cast<int>(wParam));
        return true;
    case PSM_SETCURSEL: {
        int index = static_cast<int>(wParam);
        if (lParam) {
            index = -1;
            for (size_t i = 0; i < m_pages.size(); ++i) {
                if (reinterpret_cast<LPARAM>(m_pages[i]) == lParam)
                    index = static_cast<int>(i);
            }
        }
        result = index >= 0 && index < static_cast<int>(m_pages.size()) && changeTo(index, 1, true);
        return true;
    }
    case PSM_SETCURSELID: {
        int index = indexOfAnswer(lParam, -1);
        result = index >= 0 && changeTo(index, 1, true);
        return true;
    }
    case PSM_GETCURRENTPAGEHWND:
        result = m_current >= 0 ? reinterpret_cast<LRESULT>(m_pageWindows[m_current]) : 0;
        return true;
    case PSM_SETFINISHTEXTA:
        // Finish alone remains, with the text given.
        ShowWindow(button(backButtonId), SW_HIDE);
        ShowWindow(button(nextButtonId), SW_HIDE);
        if (HWND finishButton = button(finishButtonId)) {
            SetWindowTextA(finishButton, reinterpret_cast<LPCSTR>(lParam));
            ShowWindow(finishButton, SW_SHOW);
            EnableWindow(finishButton, TRUE);
        }
        return true;
    case PSM_CANCELTOCLOSE:
        EnableWindow(button(IDCANCEL), FALSE);
        return true;
    case PSM_REBOOTSYSTEM:
        m_restart = ID_PSREBOOTSYSTEM;
        return true;
    case PSM_RESTARTWINDOWS:
        if (m_restart != ID_PSREBOOTSYSTEM)
            m_restart = ID_PSRESTARTWINDOWS;
        return true;
    case PSM_CHANGED:
    case PSM_UNCHANGED:
        return true;
    default:
        return false;
    }
}

desk::Shown Sheet::pageShown() const
{
    HWND page = m_pageWindows[m_current];
    auto pageWindow = WindowList::find(page);
    auto* dialog = pageWindow ? pageWindow->stateAs<DialogState>() : nullptr;
    desk::Shown shown;
    shown.event = "page";
    shown.title = textForDesk(m_title);
    Json templateId = templateIdOf(m_pages[m_current]->psp());
    shown.fields = Json::object();
    shown.fields["template"] = templateId;
    shown.fields["title"] = shown.title;
    // The windows' handles, so that a box or prompt can be told by its owner.
    shown.fields["sheet"] = static_cast<int64_t>(reinterpret_cast<uintptr_t>(m_hwnd));
    shown.fields["window"] = static_cast<int64_t>(reinterpret_cast<uintptr_t>(page));
    shown.fields["controls"] = describeControls(page, dialog ? dialog->units : systemBaseUnits());
    shown.pictures = picturesOf(page);

    Json buttons = Json::object();
    auto state = [&](const char* answer, int id) {
        auto window = WindowList::find(button(id));
        if (!window)
            return;
        Json b = Json::object();
        b["shown"] = window->visible();
        b["enabled"] = window->enabled();
        buttons[answer] = std::move(b);
        if (window->visible() && window->enabled())
            shown.answers.push_back(answer);
    };
    state("back", backButtonId);
    state("next", nextButtonId);
    state("finish", finishButtonId);
    state("cancel", IDCANCEL);
    if (m_header.dwFlags & PSH_HASHELP)
        state("help", IDHELP);
    shown.fields["buttons"] = std::move(buttons);
    for (auto& select : selectionAnswers(page))
        shown.answers.push_back(select);

    shown.name = nameForDesk("page", templateId, shown.title);
    return shown;
}

void Sheet::pressAnswer(const std::string& answer)
{
    if (applySelectionAnswer(m_pageWindows[m_current], answer))
        return;
    static const std::pair<const char*, int> buttons[] = {
        { "back", backButtonId }, { "next", nextButtonId }, { "finish", finishButtonId }, { "cancel", IDCANCEL },
        { "help", IDHELP },
    };
    for (auto& [name, id] : buttons) {
        if (answer == name) {
            if (auto window = WindowList::find(button(id)))
                window->call(BM_CLICK, 0, 0);
            return;
        }
    }
}

INT_PTR Sheet::run()
{
    if (!create())
        return -1;
    // The owner takes no input while the wizard is up.
    HWND owner = m_header.hwndParent;
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    UINT start = (m_header.dwFlags & PSH_USEPSTARTPAGE) ? 0 : m_header.nStartPage;
    if (start >= m_pages.size())
        start = 0;
    INT_PTR result = -1;
    if (changeTo(static_cast<int>(start), 1, false)) {
        ShowWindow(m_hwnd, SW_SHOWNORMAL);
        auto ended = [this] { return m_ended || !alive(); };
        while (!ended() && dispatchPosted() && !ended()) {
            auto answer = askDesk(pageShown(), ended);
            if (!answer)
                break;
            pressAnswer(*answer);
        }
        result = m_ended ? m_result : 0;
    } else {
        // Not one page would show.
        SetLastError(ERROR_SUCCESS);
    }
    // The pages go with the sheet's window; their records go after.
    if (alive())
        DestroyWindow(m_hwnd);
    if (ownerWasEnabled && IsWindow(owner))
        EnableWindow(owner, TRUE);
    return result;
}

// The pages of a header: records copied from its array, or the live
// handles it names. Empty with the error set when one is not a page.
bool pagesOf(const PROPSHEETHEADERA& header, std::vector<PageRecord*>& pages)
{
    if (header.dwFlags & PSH_PROPSHEETPAGE) {
        auto* at = reinterpret_cast<const BYTE*>(header.ppsp);
        for (UINT i = 0; i < header.nPages; ++i) {
            auto* page = reinterpret_cast<const PROPSHEETPAGEA*>(at);
            if (!validPage(page))
                return false;
            pages.push_back(newPage(*page));
            at += page->dwSize;
        }
        return true;
    }
    for (UINT i = 0; i < header.nPages; ++i) {
        PageRecord* record = header.phpage ? recordOf(header.phpage[i]) : nullptr;
        if (!record || std::find(pages.begin(), pages.end(), record) != pages.end()) {
            // The caller keeps its handles when the sheet cannot be shown.
            pages.clear();
            return false;
        }
        pages.push_back(record);
    }
    return true;
}

INT_PTR propertySheet(LPCPROPSHEETHEADERA header)
{
    if (!header || header->dwSize < PROPSHEETHEADERA_V1_SIZE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (header->nPages > MAXPROPPAGES - 1) {
        // As documented: more than 99 pages fail with no error given.
        SetLastError(ERROR_SUCCESS);
        return -1;
    }
    if (!(header->dwFlags & PSH_WIZARD) || (header->dwFlags & PSH_MODELESS)) {
        // Only the modal wizard is there to be shown.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return -1;
    }
    if (header->nPages == 0 || (header->hwndParent && !IsWindow(header->hwndParent))) {
        SetLastError(header->nPages ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return -1;
    }
    PROPSHEETHEADERA copy {};
    std::memcpy(&copy, header, sizeof copy);
    std::vector<PageRecord*> pages;
    bool valid = pagesOf(copy, pages);
    std::string title;
    if (IS_INTRESOURCE(copy.pszCaption)) {
        if (copy.pszCaption)
            loadString(copy.hInstance, static_cast<UINT>(reinterpret_cast<uintptr_t>(copy.pszCaption)), title);
    } else {
        title = copy.pszCaption;
    }
    if (copy.dwFlags & PSH_PROPTITLE)
        title = "Properties for " + title;
    // The sheet owns every page it was given, valid header or not.
    Sheet sheet(copy, std::move(pages), title);
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return sheet.run();
}

}

}

using namespace ntsim::comctl32;

HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA constPropSheetPagePointer)
{
    ntsim::ApiCall call("CreatePropertySheetPageA", constPropSheetPagePointer);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(nullptr);
    }
    if (!validPage(constPropSheetPagePointer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(nullptr);
    }
    return call.returns(reinterpret_cast<HPROPSHEETPAGE>(newPage(*constPropSheetPagePointer)));
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE hPSPage)
{
    ntsim::ApiCall call("DestroyPropertySheetPage", hPSPage);
    if (call.faulted())
        return call.returns(FALSE);
    PageRecord* record = recordOf(hPSPage);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(FALSE);
    }
    releasePage(record);
    return call.returns(TRUE);
}

INT_PTR WINAPI PropertySheetA(LPCPROPSHEETHEADERA lppsph)
{
    ntsim::ApiCall call("PropertySheetA", lppsph);
    if (auto fault = call.fault()) {
        SetLastError(*fault);
        return call.returns(-1);
    }
    return call.returns(propertySheet(lppsph));
}

void WINAPI InitCommonControls(void)
{
    ntsim::ApiCall call("InitCommonControls");
    // The common controls this machine has are there from the start.
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce)
{
    ntsim::ApiCall call("InitCommonControlsEx", picce);
    if (call.faulted())
        return call.returns(FALSE);
    if (!picce || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(FALSE);
    }
    return call.returns(TRUE);
}
