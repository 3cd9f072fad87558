// The driver list box takes the place of the page template's placeholder,
// or a fixed place on a template without one.
#include "support/DialogTemplate.h"
#include "support/TestMachine.h"

#include "afx/afx.h"
#include "wizard/DriverListBox.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

INT_PTR CALLBACK quietDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

RECT clientRectOf(HWND control)
{
    RECT rect {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<LONG> corners(const RECT& r)
{
    return { r.left, r.top, r.right, r.bottom };
}

// A page with the list box made on it; false when it could not be made.
bool listBoxOn(HWND dialog, RECT& listRect)
{
    CPropertyPage page(102);
    page.Attach(dialog);
    bool made = false;
    {
        CDriverListBox list(&page);
        made = list.CreateDriverListBox();
        if (HWND window = GetDlgItem(dialog, 9000))
            listRect = clientRectOf(window);
    }
    page.Detach();
    return made;
}

}

TEST(DriverListBox, TakesThePlaceholdersPlaceOrTheFixedOne)
{
    test::TestMachine m;
    m.attach();
    HMODULE library = LoadLibraryA("C:\\MODEM\\setupres.dll");
    ASSERT_NE(library, nullptr);

    // A template of no controls at all, which also holds the page made
    // from the library's template (a child window, as in a sheet).
    test::TemplateBuilder bare(WS_POPUP | WS_VISIBLE, 304, 172, "");
    HWND without = CreateDialogIndirectParamA(library, bare.get(), nullptr, quietDialog, 0);
    ASSERT_NE(without, nullptr) << GetLastError();

    HWND withPlaceholder = CreateDialogParamA(library, MAKEINTRESOURCEA(102), without, quietDialog, 0);
    ASSERT_NE(withPlaceholder, nullptr) << GetLastError();
    HWND placeholder = GetDlgItem(withPlaceholder, 1006);
    ASSERT_NE(placeholder, nullptr) << "template 102 has its placeholder";
    ShowWindow(withPlaceholder, SW_SHOW);
    ASSERT_TRUE(IsWindowVisible(placeholder) && IsWindowEnabled(placeholder));
    RECT expected = clientRectOf(placeholder);
    RECT list {};
    EXPECT_TRUE(listBoxOn(withPlaceholder, list));
    EXPECT_EQ(corners(list), corners(expected));
    EXPECT_NE(corners(list), (std::vector<LONG> { 117, 67, 455, 230 }));
    EXPECT_FALSE(IsWindowVisible(placeholder));
    EXPECT_FALSE(IsWindowEnabled(placeholder));
    DestroyWindow(withPlaceholder);

    list = RECT {};
    EXPECT_TRUE(listBoxOn(without, list));
    EXPECT_EQ(corners(list), (std::vector<LONG> { 117, 67, 455, 230 }));
    DestroyWindow(without);
    FreeLibrary(library);
}
