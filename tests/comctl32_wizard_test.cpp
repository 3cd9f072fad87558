// Wizards of plain Win32 dialog procedures on fresh machines: page order,
// the buttons, the notifications' answers, and what the desk is shown.
#include "support/DeskFiles.h"
#include "support/Heard.h"
#include "support/TestMachine.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using test::heard;

std::string codeName(UINT code)
{
    switch (code) {
    case PSN_SETACTIVE: return "SETACTIVE";
    case PSN_KILLACTIVE: return "KILLACTIVE";
    case PSN_RESET: return "RESET";
    case PSN_HELP: return "HELP";
    case PSN_WIZBACK: return "WIZBACK";
    case PSN_WIZNEXT: return "WIZNEXT";
    case PSN_WIZFINISH: return "WIZFINISH";
    case PSN_QUERYCANCEL: return "QUERYCANCEL";
    default: return std::to_string(code);
    }
}

// What one page does: the PROPSHEETPAGEA's lParam points here.
struct Page {
    int id;
    std::function<void(HWND)> init;
    std::function<LRESULT(HWND, UINT)> notify; // the answer to a PSN_ code
    HWND window { nullptr };
};

INT_PTR CALLBACK pageProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<Page*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
        page->window = hwnd;
        heard().push_back(std::to_string(page->id) + ":INIT");
        if (page->init)
            page->init(hwnd);
        return TRUE;
    }
    auto* page = reinterpret_cast<Page*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!page)
        return FALSE;
    if (message == WM_DESTROY)
        heard().push_back(std::to_string(page->id) + ":DESTROY");
    if (message != WM_NOTIFY)
        return FALSE;
    UINT code = reinterpret_cast<NMHDR*>(lParam)->code;
    heard().push_back(std::to_string(page->id) + ":" + codeName(code));
    // The 32-bit call, as the program's pages answer.
    SetWindowLongA(hwnd, DWL_MSGRESULT, static_cast<LONG>(page->notify ? page->notify(hwnd, code) : 0));
    return TRUE;
}

HMODULE resources()
{
    HMODULE module = LoadLibraryA("C:\\MODEM\\setupres.dll");
    EXPECT_NE(module, nullptr);
    return module;
}

// Runs a wizard of the pages, made from the resource library's templates,
// under the string 13 ("Modem Board Installation Wizard") as its caption.
INT_PTR runWizard(std::vector<Page>& pages, DWORD flags = 0)
{
    HMODULE module = resources();
    std::vector<PROPSHEETPAGEA> records;
    for (auto& page : pages) {
        PROPSHEETPAGEA psp {};
        psp.dwSize = sizeof psp;
        psp.hInstance = module;
        psp.pszTemplate = MAKEINTRESOURCEA(page.id);
        psp.pfnDlgProc = pageProc;
        psp.lParam = reinterpret_cast<LPARAM>(&page);
        records.push_back(psp);
    }
    PROPSHEETHEADERA header {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD | flags;
    header.hInstance = module;
    header.pszCaption = MAKEINTRESOURCEA(13);
    header.nPages = static_cast<UINT>(records.size());
    header.ppsp = records.data();
    heard().clear();
    return PropertySheetA(&header);
}

void setButtons(HWND page, DWORD flags)
{
    SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, flags);
}

BOOL CALLBACK disableCancel(HWND hwnd, LPARAM)
{
    char name[256] = "";
    GetClassNameA(hwnd, name, sizeof name);
    if (std::string(name) == "Button" && GetDlgCtrlID(hwnd) == IDCANCEL) {
        EnableWindow(hwnd, FALSE);
        return FALSE;
    }
    return TRUE;
}

// A list box in place of control 1006, as the program's driver page makes it.
void driverListBox(HWND page)
{
    HWND placeholder = GetDlgItem(page, 1006);
    ASSERT_NE(placeholder, nullptr);
    RECT r {};
    GetWindowRect(placeholder, &r);
    POINT corners[2] = { { r.left, r.top }, { r.right, r.bottom } };
    ScreenToClient(page, &corners[0]);
    ScreenToClient(page, &corners[1]);
    ShowWindow(placeholder, SW_HIDE);
    EnableWindow(placeholder, FALSE);
    HWND list = CreateWindowExA(0, "ListBox", "", 0x50810041, corners[0].x, corners[0].y, corners[1].x - corners[0].x,
        corners[1].y - corners[0].y, page, reinterpret_cast<HMENU>(9000), nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Modem Driver \xC4"));
}

std::vector<int> idsOf(const ntsim::Json& page)
{
    std::vector<int> ids;
    for (auto& c : ntsim::member(page, "controls"))
        ids.push_back(static_cast<int>(ntsim::intMember(c, "id")));
    return ids;
}

const ntsim::Json& control(const ntsim::Json& page, int id)
{
    static const ntsim::Json none;
    for (auto& c : ntsim::member(page, "controls")) {
        if (ntsim::intMember(c, "id") == id)
            return c;
    }
    ADD_FAILURE() << "no control " << id;
    return none;
}

std::vector<int> rectOf(const ntsim::Json& c)
{
    std::vector<int> r;
    for (auto& v : ntsim::member(c, "rect"))
        r.push_back(static_cast<int>(v.get<int64_t>()));
    return r;
}

std::string buttonsOf(const ntsim::Json& page)
{
    std::string out;
    for (auto& [name, state] : ntsim::member(page, "buttons").items())
        out += name + (ntsim::boolMember(state, "shown") ? (ntsim::boolMember(state, "enabled") ? "+ " : "- ") : "x ");
    return out;
}


}

TEST(Comctl32Wizard, PagesFollowTheButtonsAndTheirAnswers)
{
    test::TestMachine m;
    m.attach();
    test::DeskFiles desk(m, { "next", "next", "back", "next", "finish" });
    int driverNexts = 0;
    std::vector<Page> pages = {
        { 101, nullptr,
            [](HWND page, UINT code) -> LRESULT {
                // Posted, as PropSheet_SetWizButtons does: in place before the desk asks.
                if (code == PSN_SETACTIVE)
                    PropSheet_SetWizButtons(GetParent(page), PSWIZB_NEXT);
                return 0;
            } },
        { 102, driverListBox,
            [&](HWND page, UINT code) -> LRESULT {
                if (code == PSN_SETACTIVE)
                    setButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
                // The first Next jumps over the success page to the failure page.
                if (code == PSN_WIZNEXT && driverNexts++ == 0)
                    return 104;
                return 0;
            } },
        { 103, nullptr,
            [](HWND page, UINT code) -> LRESULT {
                if (code == PSN_SETACTIVE) {
                    setButtons(page, PSWIZB_FINISH);
                    EnumChildWindows(GetParent(page), disableCancel, 0);
                }
                return 0;
            } },
        { 104, nullptr,
            [](HWND page, UINT code) -> LRESULT {
                if (code == PSN_SETACTIVE)
                    setButtons(page, PSWIZB_BACK | PSWIZB_FINISH);
                return code == PSN_WIZBACK ? 102 : 0;
            } },
    };
    EXPECT_EQ(runWizard(pages), 1);

    EXPECT_EQ(heard(), (std::vector<std::string> { "101:INIT", "101:SETACTIVE", "101:WIZNEXT", "101:KILLACTIVE",
                           "102:INIT", "102:SETACTIVE", "102:WIZNEXT", "102:KILLACTIVE", "104:INIT", "104:SETACTIVE",
                           "104:WIZBACK", "104:KILLACTIVE", "102:SETACTIVE", "102:WIZNEXT", "102:KILLACTIVE",
                           "103:INIT", "103:SETACTIVE", "103:WIZFINISH", "101:DESTROY", "102:DESTROY", "104:DESTROY",
                           "103:DESTROY" }));
    // The sheet destroyed its pages and itself.
    for (auto& page : pages)
        EXPECT_FALSE(IsWindow(page.window)) << page.id;
    EXPECT_EQ(FindWindowA("#32770", "Modem Board Installation Wizard"), nullptr);

    auto events = desk.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(test::templateAnswers(events), (std::vector<std::string> { "101 next", "102 next", "104 back", "102 next", "103 finish" }));
    for (auto& e : events) {
        EXPECT_EQ(ntsim::stringMember(e, "event"), "page");
        EXPECT_EQ(ntsim::stringMember(e, "title"), "Modem Board Installation Wizard");
    }
    // Finish replaces Next; the success page's Cancel is disabled.
    EXPECT_EQ(buttonsOf(events[0]), "back- next+ finishx cancel+ ");
    EXPECT_EQ(buttonsOf(events[1]), "back+ next+ finishx cancel+ ");
    EXPECT_EQ(buttonsOf(events[2]), "back+ nextx finish+ cancel+ ");
    EXPECT_EQ(buttonsOf(events[4]), "back- nextx finish+ cancel- ");

    const ntsim::Json& welcome = events[0];
    EXPECT_EQ(idsOf(welcome), (std::vector<int> { -1, 1000, 1002, 1001 }));
    const ntsim::Json& picture = control(welcome, -1);
    EXPECT_EQ(ntsim::stringMember(picture, "class"), "Static");
    EXPECT_EQ(ntsim::intMember(picture, "bitmap"), 110);
    EXPECT_EQ(rectOf(picture), (std::vector<int> { 0, 0, 105, 171 }));
    const ntsim::Json& top = control(welcome, 1000);
    EXPECT_EQ(ntsim::stringMember(top, "text"), "Welcome to the modem board installation wizard.");
    EXPECT_EQ(rectOf(top), (std::vector<int> { 118, 4, 175, 32 }));
    EXPECT_EQ(ntsim::intMember(top, "style"), 1342308352); // WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
    EXPECT_TRUE(ntsim::boolMember(top, "enabled"));
    EXPECT_TRUE(ntsim::boolMember(top, "visible"));

    const ntsim::Json& driver = events[1];
    EXPECT_EQ(idsOf(driver), (std::vector<int> { -1, 1000, 1002, 1001, 1003, 1006, 9000 }));
    EXPECT_FALSE(ntsim::boolMember(control(driver, 1006), "visible"));
    EXPECT_FALSE(ntsim::boolMember(control(driver, 1006), "enabled"));
    const ntsim::Json& check = control(driver, 1003);
    EXPECT_EQ(ntsim::stringMember(check, "class"), "Button");
    EXPECT_EQ(ntsim::stringMember(check, "text"), "Check1");
    EXPECT_EQ(ntsim::intMember(check, "checked"), 0);
    const ntsim::Json& list = control(driver, 9000);
    EXPECT_EQ(ntsim::stringMember(list, "class"), "ListBox");
    // Made in pixels at the placeholder's place: back in the page's units.
    EXPECT_EQ(rectOf(list), (std::vector<int> { 124, 56, 163, 68 }));
    EXPECT_EQ(ntsim::intMember(list, "style"), 0x50810041);
    ASSERT_EQ(ntsim::member(list, "items").size(), 1u);
    // Texts reach the desk in UTF-8 from the machine's code page 1252.
    EXPECT_EQ(ntsim::member(list, "items")[0].get<std::string>(), "Modem Driver \xC3\x84");
    EXPECT_EQ(ntsim::intMember(list, "selected"), -1);
}

TEST(Comctl32Wizard, RefusedPagesAreSkippedAndCancelAsksFirst)
{
    test::TestMachine m;
    m.attach();
    test::DeskFiles desk(m, { "next", "next", "back", "next", "cancel", "cancel" });
    int nexts = 0;
    int cancels = 0;
    std::vector<Page> pages = {
        // Next first stays on the page.
        { 101, nullptr, [&](HWND, UINT code) -> LRESULT { return code == PSN_WIZNEXT && nexts++ == 0 ? -1 : 0; } },
        // This page never takes the activation: Next and Back pass it by.
        { 102, nullptr, [](HWND, UINT code) -> LRESULT { return code == PSN_SETACTIVE ? -1 : 0; } },
        // The first Cancel is refused by the page.
        { 103, nullptr, [&](HWND, UINT code) -> LRESULT { return code == PSN_QUERYCANCEL && cancels++ == 0; } },
    };
    EXPECT_EQ(runWizard(pages), 0);
    EXPECT_EQ(test::templateAnswers(desk.events()), (std::vector<std::string> { "101 next", "101 next", "103 back", "101 next",
                                           "103 cancel", "103 cancel" }));
    const auto& log = heard();
    // The skipped page was made and asked, each time.
    EXPECT_EQ(std::count(log.begin(), log.end(), "102:SETACTIVE"), 3);
    EXPECT_EQ(std::count(log.begin(), log.end(), "102:INIT"), 1);
    // Cancel: the current page is asked, then every page made hears of it.
    std::vector<std::string> end(log.end() - 8, log.end());
    EXPECT_EQ(end, (std::vector<std::string> { "103:QUERYCANCEL", "103:QUERYCANCEL", "101:RESET", "102:RESET",
                       "103:RESET", "101:DESTROY", "102:DESTROY", "103:DESTROY" }));
}

TEST(Comctl32Wizard, DisabledCancelCannotBePressed)
{
    test::TestMachine m;
    m.attach();
    auto successPage = [](HWND page, UINT code) -> LRESULT {
        if (code == PSN_SETACTIVE) {
            setButtons(page, PSWIZB_FINISH);
            EnumChildWindows(GetParent(page), disableCancel, 0);
            // Neither closing the sheet nor pressing Cancel gets past it,
            // nor the command a Cancel button would send.
            PostMessageA(GetParent(page), WM_CLOSE, 0, 0);
            PropSheet_PressButton(GetParent(page), PSBTN_CANCEL);
            SendMessageA(GetParent(page), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        return 0;
    };
    {
        test::DeskFiles desk(m, { "finish" });
        std::vector<Page> pages = { { 103, nullptr, successPage } };
        EXPECT_EQ(runWizard(pages), 1);
        EXPECT_EQ(test::templateAnswers(desk.events()), (std::vector<std::string> { "103 finish" }));
        EXPECT_EQ(std::count(heard().begin(), heard().end(), "103:QUERYCANCEL"), 0);
    }
    // A script that answers "cancel" is told the page will not take it.
    test::DeskFiles desk(m, { "cancel" });
    std::string err;
    int status = test::inChild(
        [&] {
            std::vector<Page> pages = { { 103, nullptr, successPage } };
            runWizard(pages);
            return 0;
        },
        err);
    EXPECT_EQ(status, 3);
    EXPECT_NE(err.find("answer 'cancel' does not fit page 103 \"Modem Board Installation Wizard\""), std::string::npos)
        << err;
    auto events = desk.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].contains("answer"));
}

namespace {

std::vector<std::string>& callbacks()
{
    static std::vector<std::string> log;
    return log;
}

UINT CALLBACK pageCallback(HWND, UINT message, PROPSHEETPAGEA* psp)
{
    callbacks().push_back(std::to_string(reinterpret_cast<Page*>(psp->lParam)->id) + (message == PSPCB_CREATE ? ":CREATE" : ":RELEASE"));
    return 1;
}

int CALLBACK sheetCallback(HWND hwnd, UINT message, LPARAM)
{
    callbacks().push_back(message == PSCB_PRECREATE ? "PRECREATE" : (hwnd ? "INITIALIZED" : "INITIALIZED without window"));
    return 0;
}

}

TEST(Comctl32Wizard, PageHandlesCallbacksTitleAndHelp)
{
    test::TestMachine m;
    m.attach();
    test::DeskFiles desk(m, { "help", "finish" });
    HMODULE module = resources();
    UINT references = 0;
    HWND current = nullptr;
    std::vector<Page> pages = {
        // The first page moves on by itself: the desk never sees it.
        { 101, nullptr,
            [](HWND page, UINT code) -> LRESULT {
                if (code == PSN_SETACTIVE)
                    PropSheet_PressButton(GetParent(page), PSBTN_NEXT);
                return 0;
            } },
        { 103, nullptr,
            [&](HWND page, UINT code) -> LRESULT {
                if (code == PSN_SETACTIVE) {
                    PropSheet_SetTitle(GetParent(page), PSH_PROPTITLE, "Modem");
                    setButtons(page, PSWIZB_BACK | PSWIZB_FINISH);
                }
                if (code == PSN_HELP)
                    current = PropSheet_GetCurrentPageHwnd(GetParent(page));
                return 0;
            } },
    };
    std::vector<HPROPSHEETPAGE> handles;
    for (auto& page : pages) {
        PROPSHEETPAGEA psp {};
        psp.dwSize = sizeof psp;
        psp.dwFlags = PSP_USECALLBACK | PSP_USEREFPARENT | (page.id == 103 ? PSP_HASHELP : 0);
        psp.hInstance = module;
        psp.pszTemplate = MAKEINTRESOURCEA(page.id);
        psp.pfnDlgProc = pageProc;
        psp.lParam = reinterpret_cast<LPARAM>(&page);
        psp.pfnCallback = pageCallback;
        psp.pcRefParent = &references;
        handles.push_back(CreatePropertySheetPageA(&psp));
        ASSERT_NE(handles.back(), nullptr);
    }
    EXPECT_EQ(references, 2u);
    PROPSHEETHEADERA header {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_HASHELP | PSH_USECALLBACK;
    header.pszCaption = "Setup";
    header.nPages = 2;
    header.phpage = handles.data();
    header.pfnCallback = sheetCallback;
    callbacks().clear();
    heard().clear();
    EXPECT_EQ(PropertySheetA(&header), 1);

    EXPECT_EQ(callbacks(), (std::vector<std::string> { "PRECREATE", "INITIALIZED", "101:CREATE", "103:CREATE",
                               "101:RELEASE", "103:RELEASE" }));
    EXPECT_EQ(current, pages[1].window);
    // The sheet destroyed the pages it was given.
    EXPECT_EQ(references, 0u);
    SetLastError(0);
    EXPECT_FALSE(DestroyPropertySheetPage(handles[0]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    auto events = desk.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(test::templateAnswers(events), (std::vector<std::string> { "103 help", "103 finish" }));
    EXPECT_EQ(ntsim::stringMember(events[0], "title"), "Properties for Modem");
    EXPECT_EQ(buttonsOf(events[0]), "back+ nextx finish+ cancel+ help+ ");
    EXPECT_NE(std::find(heard().begin(), heard().end(), "103:HELP"), heard().end());
}

TEST(Comctl32Wizard, PropertySheetRefusesWhatItCannotShow)
{
    test::TestMachine m;
    m.attach();
    PROPSHEETPAGEA psp {};
    psp.dwSize = sizeof psp;
    psp.hInstance = resources();
    psp.pszTemplate = MAKEINTRESOURCEA(101);
    psp.pfnDlgProc = pageProc;
    PROPSHEETHEADERA header {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD;
    header.nPages = 1;
    header.ppsp = &psp;

    PROPSHEETHEADERA small = header;
    small.dwSize = 8;
    SetLastError(0);
    EXPECT_EQ(PropertySheetA(&small), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Only modal wizards are shown here; saying so beats faking a sheet.
    PROPSHEETHEADERA tabs = header;
    tabs.dwFlags = PSH_PROPSHEETPAGE;
    EXPECT_EQ(PropertySheetA(&tabs), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    // More than 99 pages fail without an error, as documented.
    std::vector<PROPSHEETPAGEA> many(100, psp);
    PROPSHEETHEADERA big = header;
    big.nPages = 100;
    big.ppsp = many.data();
    SetLastError(5);
    EXPECT_EQ(PropertySheetA(&big), -1);
    EXPECT_EQ(GetLastError(), 0u);
    PROPSHEETPAGEA broken = psp;
    broken.dwSize = 12;
    EXPECT_EQ(CreatePropertySheetPageA(&broken), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    PROPSHEETHEADERA orphan = header;
    orphan.hwndParent = reinterpret_cast<HWND>(0x4444);
    EXPECT_EQ(PropertySheetA(&orphan), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}
