// The system menu when the About text (string 101) is empty: this executable
// carries the program's windows with an empty string 101.
#include "res/resource.h"
#include "support/DialogDriver.h"
#include "support/SystemMenu.h"
#include "ui/RepairDialog.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(EmptyAboutText, AddsNothingToTheSystemMenu)
{
    char text[256] = "";
    ASSERT_EQ(0, LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof(text)))
        << "this executable's About text is empty";

    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES };
    InitCommonControlsEx(&icc);
    CRepairDialog dialog;
    INT_PTR result = -2;
    RunDriven("Tarvik", [&] { result = dialog.DoModal(); }, [](DialogDriver& d) {
        std::vector<MenuEntry> entries = SystemMenuEntries(d.Window());
        std::vector<MenuEntry> expected = DefaultSystemMenuEntries(d.Window());
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(expected, entries) << "neither separator nor About entry";
        d.PressEscape();
    });
    EXPECT_EQ(IDCANCEL, result);
}

}  // namespace
