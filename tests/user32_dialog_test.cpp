// Dialogs made from templates, their controls and dialog units, list
// boxes, and a modal dialog box answered on the desk.
#include "support/DeskFiles.h"
#include "support/DialogTemplate.h"
#include "support/TestMachine.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

using test::TemplateBuilder;

struct Seen {
    std::vector<std::string> log;
    WPARAM focus { 0 };
    LPARAM param { 0 };
    BOOL initAnswer { TRUE };
};

Seen& seen()
{
    static Seen s;
    return s;
}

INT_PTR CALLBACK recordingDialog(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        seen().focus = wParam;
        seen().param = lParam;
        seen().log.push_back("INITDIALOG");
        return seen().initAnswer;
    case WM_COMMAND:
        seen().log.push_back("COMMAND " + std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam)));
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            LRESULT selected = SendDlgItemMessageA(hwnd, 300, LB_GETCURSEL, 0, 0);
            EndDialog(hwnd, LOWORD(wParam) == IDOK ? 100 + selected : 0);
        }
        return TRUE;
    case WM_DESTROY:
        seen().log.push_back("DESTROY");
        return FALSE;
    default:
        return FALSE;
    }
}

HWND parentWindow()
{
    WNDCLASSA cls {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "DialogParent";
    RegisterClassA(&cls);
    return CreateWindowExA(0, "DialogParent", "Parent", WS_OVERLAPPEDWINDOW, 10, 20, 600, 400, nullptr, nullptr,
        nullptr, nullptr);
}

RECT windowRect(HWND hwnd)
{
    RECT r {};
    EXPECT_TRUE(GetWindowRect(hwnd, &r));
    return r;
}

std::vector<LONG> values(const RECT& r) { return { r.left, r.top, r.right, r.bottom }; }


}

TEST(User32Dialog, TemplateMakesTheControlsInDialogUnits)
{
    test::TestMachine m;
    m.attach();
    HMODULE module = LoadLibraryA("C:\\MODEM\\setupres.dll");
    ASSERT_NE(module, nullptr);
    HWND parent = parentWindow();
    ASSERT_NE(parent, nullptr);

    // A child template needs a parent to be made.
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamA(module, MAKEINTRESOURCEA(102), nullptr, recordingDialog, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamA(module, MAKEINTRESOURCEA(999), parent, recordingDialog, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    seen() = Seen {};
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(102), parent, recordingDialog, 77);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(seen().log, (std::vector<std::string> { "INITDIALOG" }));
    EXPECT_EQ(seen().param, 77);
    // The first control a person tabs to gets the focus when WM_INITDIALOG says TRUE.
    HWND check = GetDlgItem(dialog, 1003);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(seen().focus, reinterpret_cast<WPARAM>(check));
    EXPECT_EQ(GetFocus(), check);
    EXPECT_EQ(GetParent(dialog), parent);
    EXPECT_EQ(GetParent(check), dialog);

    char name[32] = "";
    EXPECT_EQ(GetClassNameA(dialog, name, sizeof name), 6);
    EXPECT_STREQ(name, "#32770");
    GetClassNameA(check, name, sizeof name);
    EXPECT_STREQ(name, "Button");
    GetClassNameA(GetDlgItem(dialog, 1000), name, sizeof name);
    EXPECT_STREQ(name, "Static");
    EXPECT_EQ(GetDlgCtrlID(check), 1003);
    EXPECT_EQ(GetDlgCtrlID(dialog), 0);
    // A DLGTEMPLATE's IDC_STATIC is the WORD 65535.
    HWND picture = GetDlgItem(dialog, 0xFFFF);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(GetDlgItem(dialog, -1), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));

    // 8-point MS Sans Serif: 6 by 13 pixels for 4 by 8 dialog units.
    RECT r { 118, 4, 118 + 175, 4 + 32 };
    EXPECT_TRUE(MapDialogRect(dialog, &r));
    EXPECT_EQ(values(r), (std::vector<LONG> { 177, 7, 440, 59 }));
    EXPECT_EQ(GetDialogBaseUnits(), MAKELONG(8, 16));
    RECT client {};
    EXPECT_TRUE(GetClientRect(dialog, &client));
    EXPECT_EQ(values(client), (std::vector<LONG> { 0, 0, 456, 280 }));
    // Controls sit at their converted places in the dialog's client area:
    // control 1000 of template 102 at 112, 6, 175 by 32 dialog units.
    POINT origin { 0, 0 };
    EXPECT_TRUE(ClientToScreen(dialog, &origin));
    RECT text = windowRect(GetDlgItem(dialog, 1000));
    EXPECT_EQ(values(text), (std::vector<LONG> { origin.x + 168, origin.y + 10, origin.x + 168 + 263, origin.y + 10 + 52 }));
    POINT corner { text.left, text.top };
    EXPECT_TRUE(ScreenToClient(dialog, &corner));
    EXPECT_EQ(corner.x, 168);
    EXPECT_EQ(corner.y, 10);
    corner = { 0, 0 };
    EXPECT_EQ(MapWindowPoints(GetDlgItem(dialog, 1000), dialog, &corner, 1), MAKELONG(168, 10));
    EXPECT_EQ(corner.x, 168);
    // The parent's frame and caption lie around its client area; the
    // dialog's modal frame around its own.
    RECT outer = windowRect(parent);
    POINT parentOrigin { 0, 0 };
    ClientToScreen(parent, &parentOrigin);
    EXPECT_EQ(parentOrigin.x - outer.left, 4);
    EXPECT_EQ(parentOrigin.y - outer.top, 4 + 19);
    EXPECT_EQ(origin.x - parentOrigin.x, 3);
    // A picture takes its bitmap's size.
    RECT bitmap = windowRect(picture);
    EXPECT_EQ(bitmap.right - bitmap.left, 158);
    EXPECT_EQ(bitmap.bottom - bitmap.top, 278);

    // The dialog's extra values and the window longs.
    SetLastError(0);
    EXPECT_EQ(SetWindowLongA(dialog, DWL_MSGRESULT, -1), 0);
    EXPECT_EQ(GetWindowLongPtrA(dialog, DWLP_MSGRESULT), -1);
    SetWindowLongA(dialog, DWL_USER, 1234);
    EXPECT_EQ(GetWindowLongA(dialog, DWL_USER), 1234);
    EXPECT_NE(GetWindowLongPtrA(dialog, DWLP_DLGPROC), 0);
    EXPECT_EQ(GetWindowLongA(check, GWL_ID), 1003);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(check, GWL_STYLE)) & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX));
    if (sizeof(void*) > sizeof(LONG)) {
        // A pointer does not fit a LONG: refused, as 64-bit Windows does.
        SetLastError(0);
        EXPECT_EQ(GetWindowLongA(dialog, GWL_WNDPROC), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    }
    SetLastError(0);
    EXPECT_EQ(GetWindowLongA(dialog, 1000), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    EXPECT_EQ(SetWindowLongA(GetDlgItem(dialog, 1001), GWL_ID, 1500), 1001);
    EXPECT_NE(GetDlgItem(dialog, 1500), nullptr);
    EXPECT_EQ(GetDlgItem(dialog, 1001), nullptr);

    // Texts and clicks through the dialog-item calls.
    char buffer[64] = "";
    EXPECT_EQ(GetDlgItemTextA(dialog, 1000, buffer, sizeof buffer), 53u);
    EXPECT_STREQ(buffer, "The wizard will install the modem driver shown below.");
    EXPECT_TRUE(SetDlgItemTextA(dialog, 1002, "middle"));
    EXPECT_EQ(GetDlgItemTextA(dialog, 1002, buffer, 4), 3u);
    EXPECT_STREQ(buffer, "mid");
    seen().log.clear();
    EXPECT_EQ(SendMessageA(check, BM_CLICK, 0, 0), 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1003), static_cast<UINT>(BST_CHECKED));
    EXPECT_TRUE(EnableWindow(check, FALSE) == FALSE);
    EXPECT_FALSE(IsWindowEnabled(check));
    EXPECT_EQ(GetFocus(), nullptr);
    // A disabled button is not clicked.
    SendMessageA(check, BM_CLICK, 0, 0);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1003, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(seen().log, (std::vector<std::string> { "COMMAND 1003 0" }));

    // Hidden is the window's own state; visible needs the parents too.
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 1000)) == FALSE);
    ShowWindow(dialog, SW_SHOW);
    ShowWindow(parent, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 1000)));

    seen().log.clear();
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_EQ(seen().log, (std::vector<std::string> { "DESTROY" }));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(check));
}

TEST(User32Dialog, EnumChildWindowsWalksDepthFirstAndStops)
{
    test::TestMachine m;
    m.attach();
    HMODULE module = LoadLibraryA("C:\\MODEM\\setupres.dll");
    HWND parent = parentWindow();
    seen() = Seen {};
    seen().initAnswer = FALSE;
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(101), parent, recordingDialog, 0);
    ASSERT_NE(dialog, nullptr);
    // WM_INITDIALOG said FALSE: the dialog set the focus itself, or nobody.
    EXPECT_EQ(GetFocus(), nullptr);

    std::vector<int> ids;
    auto collect = [](HWND hwnd, LPARAM out) -> BOOL {
        reinterpret_cast<std::vector<int>*>(out)->push_back(GetDlgCtrlID(hwnd));
        return GetDlgCtrlID(hwnd) != 1002;
    };
    EXPECT_TRUE(EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&ids)) == FALSE);
    EXPECT_EQ(ids, (std::vector<int> { 0, 0xFFFF, 1000, 1002 }));
    SetLastError(0);
    EXPECT_FALSE(EnumChildWindows(reinterpret_cast<HWND>(0x4444), collect, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(parent);
}

TEST(User32Dialog, ListBoxKeepsItemsAndSelection)
{
    test::TestMachine m;
    m.attach();
    HWND parent = parentWindow();
    HWND list = CreateWindowExA(0, "ListBox", "", WS_CHILD | LBS_HASSTRINGS, 0, 0, 100, 100, parent,
        reinterpret_cast<HMENU>(9000), nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    auto add = [&](const char* text) { return SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); };
    EXPECT_EQ(add("Canada"), 0);
    EXPECT_EQ(add("Mexico"), 1);
    EXPECT_EQ(SendMessageA(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("Japan")), 0);
    EXPECT_EQ(SendMessageA(list, LB_INSERTSTRING, 7, reinterpret_cast<LPARAM>("x")), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 3);
    char text[32] = "";
    EXPECT_EQ(SendMessageA(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)), 6);
    EXPECT_STREQ(text, "Canada");
    EXPECT_EQ(SendMessageA(list, LB_GETTEXTLEN, 2, 0), 6);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(text)), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXTLEN, 3, 0), LB_ERR);

    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("CANADA")), 1);
    // Deleting before the selection moves it; deleting it clears it.
    EXPECT_EQ(SendMessageA(list, LB_DELETESTRING, 0, 0), 2);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageA(list, LB_DELETESTRING, 1, 0), 1);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_DELETESTRING, 5, 0), LB_ERR);
    // -1 clears the selection and still answers LB_ERR.
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    EXPECT_EQ(SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_RESETCONTENT, 0, 0), TRUE);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);

    // A sorted list puts each item in its place, without case.
    HWND sorted = CreateWindowExA(0, "ListBox", "", WS_CHILD | LBS_SORT | LBS_HASSTRINGS, 0, 0, 100, 100, parent,
        reinterpret_cast<HMENU>(9001), nullptr, nullptr);
    for (const char* country : { "taiwan", "Canada", "Mexico", "japan" })
        SendMessageA(sorted, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(country));
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        SendMessageA(sorted, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        order.push_back(text);
    }
    EXPECT_EQ(order, (std::vector<std::string> { "Canada", "japan", "Mexico", "taiwan" }));
    DestroyWindow(parent);
}

TEST(User32Dialog, DialogBoxRunsModallyOnTheDesk)
{
    test::TestMachine m;
    m.attach();
    test::DeskFiles desk(m, { "select beta", "ok" });
    TemplateBuilder tmpl(WS_POPUP | WS_CAPTION | DS_MODALFRAME, 200, 100, "Choose");
    tmpl.control(0x83, "", 300, LBS_NOTIFY | WS_BORDER, 5, 5, 100, 60);
    tmpl.control(0x80, "&OK", IDOK, BS_DEFPUSHBUTTON, 120, 5, 50, 14);
    tmpl.control(0x80, "Cancel", IDCANCEL, BS_PUSHBUTTON, 120, 25, 50, 14);
    seen() = Seen {};
    // The list is filled when the dialog starts, as a program's would be.
    auto filling = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            for (const char* item : { "Alpha", "Beta" })
                SendDlgItemMessageA(hwnd, 300, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        }
        return recordingDialog(hwnd, message, wParam, lParam);
    };
    EXPECT_EQ(DialogBoxIndirectParamA(nullptr, tmpl.get(), nullptr, filling, 0), 101);
    // The person's choice is told to the dialog; the OK button ends it.
    EXPECT_EQ(seen().log, (std::vector<std::string> { "INITDIALOG", "COMMAND 300 1", "COMMAND 1 0", "DESTROY" }));
    auto events = desk.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(ntsim::stringMember(events[0], "event"), "dialog");
    EXPECT_EQ(ntsim::stringMember(events[0], "title"), "Choose");
    EXPECT_EQ(ntsim::stringMember(events[0], "answer"), "select beta");
    EXPECT_EQ(ntsim::intMember(ntsim::member(events[1], "controls")[0], "selected"), 1);
    EXPECT_EQ(ntsim::stringMember(events[1], "answer"), "ok");
    EXPECT_EQ(FindWindowA(nullptr, "Choose"), nullptr);
}
