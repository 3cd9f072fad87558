// The framework's windows: a CPropertySheet wizard of CPropertyPage
// objects, the Help flags, CListBox, and the run-time class pattern the
// program's pages follow.
#include "support/DeskFiles.h"
#include "support/Heard.h"
#include "support/TestMachine.h"

#include "afx/afx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test::heard;

// A page that tells what the framework asks of it.
class CTestPage : public CPropertyPage {
public:
    explicit CTestPage(UINT nIDTemplate)
        : CPropertyPage(nIDTemplate)
        , m_id(std::to_string(nIDTemplate))
    {
    }

    BOOL OnInitDialog() override
    {
        heard().push_back(m_id + " init");
        return CPropertyPage::OnInitDialog();
    }
    BOOL OnSetActive() override
    {
        heard().push_back(m_id + " setactive");
        auto* sheet = static_cast<CPropertySheet*>(GetParent());
        m_sheetSeen = sheet->GetSafeHwnd();
        if (m_refusals-- > 0)
            return FALSE;
        sheet->SetWizardButtons(m_buttons);
        return CPropertyPage::OnSetActive();
    }
    BOOL OnKillActive() override
    {
        heard().push_back(m_id + " killactive");
        return CPropertyPage::OnKillActive();
    }
    LRESULT OnWizardNext() override
    {
        heard().push_back(m_id + " next");
        return m_next;
    }
    BOOL OnWizardFinish() override
    {
        heard().push_back(m_id + " finish");
        return CPropertyPage::OnWizardFinish();
    }
    BOOL OnQueryCancel() override
    {
        heard().push_back(m_id + " querycancel");
        return m_cancelRefusals-- > 0 ? FALSE : CPropertyPage::OnQueryCancel();
    }
    void OnCancel() override { heard().push_back(m_id + " cancel"); }

    std::string m_id;
    DWORD m_buttons { PSWIZB_BACK | PSWIZB_NEXT };
    LRESULT m_next { 0 };
    int m_refusals { 0 };
    int m_cancelRefusals { 0 };
    HWND m_sheetSeen { nullptr };
};

// The run-time class pattern of the program's pages, without macros.
class CTestIntroPage : public CTestPage {
public:
    static const CRuntimeClass classCTestIntroPage;
    const CRuntimeClass* GetRuntimeClass() const override { return &classCTestIntroPage; }
    static CObject* CreateObject() { return new CTestIntroPage; }

    CTestIntroPage()
        : CTestPage(101)
    {
    }

    BOOL OnInitDialog() override
    {
        // As the program's welcome page: the wizard's title, on screen.
        static_cast<CPropertySheet*>(GetParent())->SetTitle("Welcome Title");
        return CTestPage::OnInitDialog();
    }
};

const CRuntimeClass CTestIntroPage::classCTestIntroPage = { "CTestIntroPage", sizeof(CTestIntroPage),
    &CTestIntroPage::CreateObject, &CPropertyPage::classCPropertyPage };

// Attaches the machine and makes the resource library the framework's
// resource handle, as the program's start-up does.
class Framework {
public:
    explicit Framework(const test::TestMachine& m)
    {
        m.attach();
        m_library = LoadLibraryA("C:\\MODEM\\setupres.dll");
        EXPECT_NE(m_library, nullptr);
        AfxSetResourceHandle(m_library);
        heard().clear();
    }
    ~Framework() { AfxSetResourceHandle(nullptr); }

private:
    HMODULE m_library { nullptr };
};

}

TEST(AfxWindow, WizardCallsThePagesHandlers)
{
    test::TestMachine m;
    Framework framework(m);
    test::DeskFiles desk(m, { "next", "next", "finish" });
    CTestIntroPage intro;
    CTestPage driver(102);
    CTestPage success(103);
    intro.m_buttons = PSWIZB_NEXT;
    // Next from the first page goes to template 103, past 102.
    intro.m_next = 103;
    // The success page refuses the first time: the first page stays.
    success.m_refusals = 1;
    success.m_buttons = PSWIZB_FINISH;
    CPropertySheet sheet(13);
    sheet.AddPage(&intro);
    sheet.AddPage(&driver);
    sheet.AddPage(&success);
    sheet.SetWizardMode();
    EXPECT_EQ(sheet.GetPageCount(), 3);
    EXPECT_EQ(sheet.GetPage(2), &success);
    EXPECT_EQ(sheet.GetPage(3), nullptr);
    EXPECT_EQ(sheet.GetSafeHwnd(), nullptr);

    EXPECT_EQ(sheet.DoModal(), ID_WIZFINISH);
    EXPECT_EQ(heard(), (std::vector<std::string> { "101 init", "101 setactive", "101 next", "101 killactive",
                           "103 init", "103 setactive", "101 next", "101 killactive", "103 setactive", "103 finish" }));
    // The sheet's window was the pages' parent while on screen, and is gone.
    EXPECT_NE(intro.m_sheetSeen, nullptr);
    EXPECT_EQ(success.m_sheetSeen, intro.m_sheetSeen);
    EXPECT_FALSE(IsWindow(intro.m_sheetSeen));
    EXPECT_EQ(sheet.GetSafeHwnd(), nullptr);
    EXPECT_EQ(intro.GetSafeHwnd(), nullptr);
    EXPECT_EQ(success.GetSafeHwnd(), nullptr);

    auto events = desk.events();
    EXPECT_EQ(test::templateAnswers(events), (std::vector<std::string> { "101 next", "101 next", "103 finish" }));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(ntsim::stringMember(events[0], "title"), "Welcome Title");
}

TEST(AfxWindow, CancelAsksThePageAndTellsEveryPage)
{
    test::TestMachine m;
    Framework framework(m);
    test::DeskFiles desk(m, { "next", "cancel", "cancel" });
    CTestPage first(101);
    CTestPage second(102);
    second.m_cancelRefusals = 1;
    CPropertySheet sheet(15);
    sheet.AddPage(&first);
    sheet.AddPage(&second);
    sheet.SetWizardMode();
    EXPECT_EQ(sheet.DoModal(), IDCANCEL);
    std::vector<std::string> tail(heard().end() - 4, heard().end());
    EXPECT_EQ(tail, (std::vector<std::string> { "102 querycancel", "102 querycancel", "101 cancel", "102 cancel" }));
    auto events = desk.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(ntsim::stringMember(events[0], "title"), "Modem Board Uninstallation Wizard");
}

TEST(AfxWindow, HelpFollowsTheApplicationsCommandMap)
{
    test::TestMachine m;
    Framework framework(m);
    // One page with Finish: whether the desk is offered Help.
    auto helpShown = [&](CPropertySheet& sheet, CTestPage& page) {
        page.m_buttons = PSWIZB_FINISH;
        sheet.AddPage(&page);
        sheet.SetWizardMode();
        test::DeskFiles desk(m, { "finish" });
        EXPECT_EQ(sheet.DoModal(), ID_WIZFINISH);
        auto events = desk.events();
        EXPECT_EQ(events.size(), 1u);
        const ntsim::Json& buttons = ntsim::member(events.at(0), "buttons");
        return buttons.contains("help") && ntsim::boolMember(ntsim::member(buttons, "help"), "enabled");
    };
    {
        // The program's application routes ID_HELP: Help is on.
        ASSERT_NE(AfxGetApp(), nullptr);
        EXPECT_TRUE(AfxHelpEnabled());
        CPropertySheet sheet(13);
        CTestPage page(101);
        EXPECT_TRUE(sheet.m_psh.dwFlags & PSH_HASHELP);
        EXPECT_TRUE(page.m_psp.dwFlags & PSP_HASHELP);
        EXPECT_TRUE(helpShown(sheet, page));
    }
    {
        // Clearing the flags, as the program does, takes the button away.
        CPropertySheet sheet(13);
        CTestPage page(101);
        sheet.m_psh.dwFlags &= ~static_cast<DWORD>(PSH_HASHELP);
        page.m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
        EXPECT_FALSE(helpShown(sheet, page));
    }
    {
        // An application without ID_HELP in its map makes neither flag.
        CWinApp plain;
        EXPECT_FALSE(AfxHelpEnabled());
        CPropertySheet sheet(13);
        CPropertyPage page(101);
        EXPECT_FALSE(sheet.m_psh.dwFlags & PSH_HASHELP);
        EXPECT_FALSE(page.m_psp.dwFlags & PSP_HASHELP);
        EXPECT_EQ(page.m_psp.pszTemplate, MAKEINTRESOURCEA(101));
        EXPECT_EQ(page.m_psp.hInstance, AfxGetResourceHandle());
    }
    EXPECT_TRUE(AfxHelpEnabled());
}

TEST(AfxWindow, ListBoxAndWindowObjects)
{
    test::TestMachine m;
    Framework framework(m);
    WNDCLASSA cls {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "AfxParent";
    RegisterClassA(&cls);
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, "AfxParent", "Parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr));
    EXPECT_EQ(CWnd::FromHandle(parent.m_hWnd), &parent);

    CListBox list;
    RECT rect { 10, 20, 110, 120 };
    ASSERT_TRUE(list.Create(WS_VISIBLE | WS_BORDER | LBS_HASSTRINGS | LBS_NOTIFY, rect, &parent, 9000));
    EXPECT_EQ(list.GetDlgCtrlID(), 9000);
    EXPECT_EQ(list.GetParent(), &parent);
    EXPECT_EQ(parent.GetDlgItem(9000), &list);
    RECT placed {};
    list.GetWindowRect(&placed);
    parent.ScreenToClient(&placed);
    EXPECT_EQ(placed.left, 10);
    EXPECT_EQ(placed.bottom, 120);

    EXPECT_EQ(list.AddString("United States"), 0);
    EXPECT_EQ(list.AddString("Canada"), 1);
    EXPECT_EQ(list.InsertString(0, "Japan"), 0);
    EXPECT_EQ(list.GetCount(), 3);
    char text[32] = "";
    EXPECT_EQ(list.GetTextLen(1), 13);
    EXPECT_EQ(list.GetText(1, text), 13);
    EXPECT_STREQ(text, "United States");
    EXPECT_EQ(list.GetText(5, text), LB_ERR);
    EXPECT_EQ(list.SetCurSel(2), 2);
    EXPECT_EQ(list.GetCurSel(), 2);
    EXPECT_EQ(list.DeleteString(0), 2);
    EXPECT_EQ(list.GetCurSel(), 1);
    list.ResetContent();
    EXPECT_EQ(list.GetCount(), 0);

    // A window nobody attached gets a temporary object, until the map is cleared.
    HWND plain = CreateWindowExA(0, "Static", "x", WS_CHILD, 0, 0, 1, 1, parent.m_hWnd, reinterpret_cast<HMENU>(7),
        nullptr, nullptr);
    CWnd* temporary = parent.GetDlgItem(7);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary->m_hWnd, plain);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
    AfxDeleteTempMap();
    EXPECT_TRUE(IsWindow(plain));

    // The list's window goes with its parent's; the objects let go of them.
    HWND listWindow = list.m_hWnd;
    EXPECT_TRUE(parent.DestroyWindow());
    EXPECT_FALSE(IsWindow(listWindow));
    EXPECT_EQ(list.GetSafeHwnd(), nullptr);
    EXPECT_EQ(parent.GetSafeHwnd(), nullptr);
}

TEST(AfxWindow, RunTimeClassesCreateTheirObjects)
{
    CObject* made = CTestIntroPage::classCTestIntroPage.CreateObject();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(&CPropertyPage::classCPropertyPage));
    EXPECT_TRUE(made->IsKindOf(&CWnd::classCWnd));
    EXPECT_FALSE(made->IsKindOf(&CListBox::classCListBox));
    EXPECT_STREQ(made->GetRuntimeClass()->m_lpszClassName, "CTestIntroPage");
    delete made;
    CObject* list = CListBox::classCListBox.CreateObject();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->IsKindOf(&CWnd::classCWnd));
    delete list;
    // Pages and sheets need their template or caption: no dynamic creation.
    EXPECT_EQ(CPropertyPage::classCPropertyPage.CreateObject(), nullptr);
    EXPECT_EQ(CPropertySheet::classCPropertySheet.CreateObject(), nullptr);
    EXPECT_TRUE(CPropertySheet::classCPropertySheet.IsDerivedFrom(&CWnd::classCWnd));
}
