// A program that crashes ends with its exception's code, as on Windows with no crash debugger registered. In a
// prefix where Wine's own debugger takes the crash, it ends with 0, and a test program that crashed would pass.
#include "tests/support/Files.h"
#include "tests/support/Processes.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(PrefixCrash, AProgramThatCrashesEndsWithItsExceptionCode) {
    const Captured run = RunCaptured(L"\"" + WinPath(PELLORAN_CRASH_PATH) + L"\"", FreshFolder("crash"));
    EXPECT_EQ(run.exit, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << run.err;
}
