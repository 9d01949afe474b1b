// A program that crashes ends with its exception's code, as on Windows with no crash debugger registered. With
// Wine's own debugger registered, a crash inside the firmware test ended with exit code 0 and passed, while
// crash_exit, a single thread, still ended with its code: the debugger seems to race the program's own end. So
// the crashed program's code is not enough, and the debugger is checked where it is named.
#include "tests/support/Files.h"
#include "tests/support/Processes.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The crash debugger a view of the registry names; empty only when it names none (no key, no value, or an empty
// one). A value that cannot be read, one too long for the buffer among them, is reported, never taken for none.
std::wstring CrashDebugger(REGSAM view) {
    HKEY key = nullptr;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", 0,
                                     KEY_QUERY_VALUE | view, &key);
    wchar_t debugger[512] = L"";
    if (status == ERROR_SUCCESS) {
        DWORD size = sizeof(debugger) - sizeof(wchar_t);  // room for the end the value may lack
        status = ::RegQueryValueExW(key, L"Debugger", nullptr, nullptr, reinterpret_cast<BYTE*>(debugger), &size);
        ::RegCloseKey(key);
    }
    if (status == ERROR_FILE_NOT_FOUND) return L"";
    if (status != ERROR_SUCCESS) return L"(unreadable, error " + std::to_wstring(status) + L")";
    return debugger;
}

}  // namespace

TEST(PrefixCrash, AProgramThatCrashesEndsWithItsExceptionCode) {
    const Captured run = RunCaptured(L"\"" + WinPath(PELLORAN_CRASH_PATH) + L"\"", FreshFolder("crash"));
    EXPECT_EQ(run.exit, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << run.err;
}

TEST(PrefixCrash, NoCrashDebuggerIsRegisteredInEitherView) {
    EXPECT_EQ(CrashDebugger(KEY_WOW64_32KEY), L"");
    EXPECT_EQ(CrashDebugger(KEY_WOW64_64KEY), L"");
}
