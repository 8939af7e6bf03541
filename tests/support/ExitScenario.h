// Leaving the main window: the user's three ways out, and the infection-mode
// clear after which leaving offers a restart.
#pragma once

#include "res/resource.h"
#include "DialogDriver.h"

#include <gtest/gtest.h>

#include <ostream>

namespace testing_support {

const char kRestartQuestion[] = "建议立即重启,以彻底清除病毒文件";

enum class WayOut { ExitButton, Escape, CloseBox };

inline std::ostream& operator<<(std::ostream& out, WayOut way)
{
    switch (way) {
    case WayOut::ExitButton: return out << "ExitButton";
    case WayOut::Escape: return out << "Escape";
    case WayOut::CloseBox: return out << "CloseBox";
    }
    return out;
}

// "退出", the Esc key's command or the close box.
inline void Leave(DialogDriver& d, WayOut way)
{
    switch (way) {
    case WayOut::ExitButton: d.Press(IDCANCEL); break;
    case WayOut::Escape: d.PressEscape(); break;
    case WayOut::CloseBox: d.PressCloseBox(); break;
    }
}

// Expects the window to end without a question: a message box would hold it
// open, and its text is then reported.
inline void ExpectEndsWithoutAsking(DialogDriver& d)
{
    if (!d.WaitUntilClosed(5000))
        ADD_FAILURE() << "the window asks \"" << d.NextMessage(0) << "\" before it ends";
}

// Finds the one planted file in infection mode and removes it with "全部清除";
// the deletion succeeds at once, so nothing is shown.
inline void ClearAnInfection(DialogDriver& d)
{
    d.SelectTab(1);
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 1 项", d.ReadAndClose());
    d.Press(IDC_CLEAR_ALL);
    EXPECT_TRUE(d.Rows().empty()) << "the rescan finds nothing left";
}

}  // namespace testing_support
