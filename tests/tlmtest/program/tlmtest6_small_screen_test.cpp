// tlmtest6.exe on a 640x480 screen, smaller than its main window: it says so and ends before
// it looks for a board. Runs in a Wine session of its own with that screen size.
#include <gtest/gtest.h>

#include "simctl.h"
#include "ui.h"

namespace {

TEST(Tlmtest6SmallScreen, AsksForALargerScreenAndEndsWithoutTouchingTheBoard) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 640) << "this test needs a 640x480 screen";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 480) << "this test needs a 640x480 screen";
    std::string error;
    ASSERT_TRUE(simctl::Reset(&error)) << error;
    ASSERT_TRUE(simctl::ResetTrace(&error)) << error;

    ui::Program program;
    ASSERT_TRUE(program.Start(&error)) << error;
    ui::MessageBoxSeen box;
    ASSERT_TRUE(program.WaitForMessageBox(15000, &box)) << "no message box";
    EXPECT_EQ(ui::Narrow(box.text), ui::Narrow(L"800x600(小さいフォント)以上の大きさにして下さい。"));
    EXPECT_EQ(ui::Narrow(box.caption), "");
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK}) << ui::Narrow(ui::Describe(box));
    EXPECT_FALSE(box.icon);
    EXPECT_EQ(box.owner, program.MainWindow()) << "the box belongs to the main window being made";
    EXPECT_EQ(program.VisiblePage(), nullptr);
    ui::Program::Press(box.window, IDOK);

    DWORD exitCode = 1234;
    ASSERT_TRUE(program.WaitForExit(15000, &exitCode)) << "still running";
    EXPECT_EQ(exitCode, 0u);
    std::vector<TlmSimTraceEntry> entries;
    ASSERT_TRUE(simctl::ReadTrace(&entries, &error)) << error;
    EXPECT_EQ(entries.size(), 0u) << "requests sent to the driver";
    TlmSimState state;
    ASSERT_TRUE(simctl::GetState(&state, &error)) << error;
    EXPECT_EQ(state.openFiles, state.openControl) << "device handles left open";
}

}  // namespace
