// Start-up of the real program: one copy per log-on, and the guard's corner cases.
#include "app/PelloranApp.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::ToolProcess;
using testsupport::VisibleWindowsOf;
using testsupport::WaitForWindow;

constexpr DWORD kWindowWaitMs = 15000;

// The first copy shows a window captioned "Pelloran": the settings dialog, or the message box that
// says the firmware's management object is missing, depending on the firmware.
HWND WaitForToolWindow(const ToolProcess& tool) { return WaitForWindow(tool.pid(), L"Pelloran", kWindowWaitMs); }

TEST(StartupTest, SecondCopyEndsSilentlyAndLeavesTheFirstAlone) {
    ToolProcess first;
    ASSERT_TRUE(first.started());
    HWND firstWindow = WaitForToolWindow(first);
    ASSERT_NE(firstWindow, nullptr) << "the first copy shows no window";
    RECT before;
    ::GetWindowRect(firstWindow, &before);
    HWND foregroundBefore = ::GetForegroundWindow();

    ToolProcess second;
    ASSERT_TRUE(second.started());
    // While it lives, the second copy shows nothing; then it ends with exit code 0.
    const DWORD start = ::GetTickCount();
    while (second.running() && ::GetTickCount() - start < kWindowWaitMs) {
        EXPECT_TRUE(VisibleWindowsOf(second.pid()).empty()) << "the second copy showed a window";
        ::Sleep(5);
    }
    EXPECT_EQ(second.WaitForExit(0), 0u);

    EXPECT_TRUE(first.running());
    EXPECT_TRUE(::IsWindowVisible(firstWindow));
    RECT after;
    ::GetWindowRect(firstWindow, &after);
    EXPECT_TRUE(::EqualRect(&before, &after)) << "the first copy's window moved";
    EXPECT_EQ(::GetForegroundWindow(), foregroundBefore) << "the first copy was brought forward";
}

TEST(StartupTest, NewCopyRunsOnceTheFirstHasEnded) {
    {
        ToolProcess first;
        ASSERT_NE(WaitForToolWindow(first), nullptr);
    }  // ended here
    ToolProcess next;
    EXPECT_NE(WaitForToolWindow(next), nullptr) << "the mutex outlived its process";
}

TEST(StartupTest, ObjectOfAnotherKindUnderTheNameDoesNotStopTheTool) {
    // An event under the mutex's name: CreateMutexW then fails, and the tool runs as the first copy.
    HANDLE squatter = ::CreateEventW(nullptr, TRUE, FALSE, kSingleInstanceMutex);
    ASSERT_NE(squatter, nullptr);
    {
        ToolProcess tool;
        EXPECT_NE(WaitForToolWindow(tool), nullptr);
    }
    ::CloseHandle(squatter);
}

}  // namespace
