// Programs a test starts: a copy of the tool, ended when the test lets it go; a console program run to its end
// with its output captured; and the hook that leaves every new user-interface thread in a single-threaded
// apartment.
#pragma once

#include "tests/support/Files.h"

#include <windows.h>

#include <string>

namespace testsupport {

// A started copy of the tool; it is ended, if it still runs, when the object goes.
class ToolProcess {
public:
    explicit ToolProcess(const std::wstring& exePath) {
        STARTUPINFOW startup{sizeof(startup)};
        std::wstring commandLine = L"\"" + exePath + L"\"";
        if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_info))
            m_info = {};
    }
    ~ToolProcess() {
        if (m_info.hProcess == nullptr) return;
        ::TerminateProcess(m_info.hProcess, 1);  // one that still runs
        ::WaitForSingleObject(m_info.hProcess, INFINITE);
        ::CloseHandle(m_info.hThread);
        ::CloseHandle(m_info.hProcess);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    DWORD pid() const { return m_info.dwProcessId; }

    // Waits for the end of the process; its exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD timeoutMs = 30000) const {
        DWORD code = STILL_ACTIVE;
        if (m_info.hProcess != nullptr && ::WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION m_info{};
};

// While it lives, every Pelloran.exe that starts on this desktop finds its user-interface thread already in
// a single-threaded apartment, as an input method or a text service may leave it.
class ApartmentAlreadyJoined {
public:
    ApartmentAlreadyJoined() : m_module(::LoadLibraryW(WinPath(PELLORAN_HOOK_PATH).c_str())) {
        const auto hook = reinterpret_cast<HOOKPROC>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, "PelloranApartmentHook")));
        if (hook != nullptr) m_hook = ::SetWindowsHookExW(WH_CBT, hook, m_module, 0 /* every thread */);
    }
    ~ApartmentAlreadyJoined() {
        if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
        if (m_module != nullptr) ::FreeLibrary(m_module);
    }
    ApartmentAlreadyJoined(const ApartmentAlreadyJoined&) = delete;
    ApartmentAlreadyJoined& operator=(const ApartmentAlreadyJoined&) = delete;
    bool active() const { return m_hook != nullptr; }

private:
    HMODULE m_module;
    HHOOK m_hook = nullptr;
};

// What a console program run to its end wrote, and its exit code (STILL_ACTIVE when it had to be ended).
struct Captured {
    DWORD exit = STILL_ACTIVE;
    std::string out, err;
};

// Runs a command line with its output going to files of its own in the folder; waits up to the time-out for its
// end. Each run has new files: Wine may signal a program's end before it has closed the files it inherited, so
// the next run could neither open them nor find them empty. With a primary token, the program runs with it.
inline Captured RunCaptured(std::wstring commandLine, const std::wstring& folder, DWORD timeoutMs = 64000,
                            HANDLE token = nullptr) {
    static unsigned runs = 0;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const std::wstring run = std::to_wstring(++runs);
    const std::wstring outPath = folder + L"\\out-" + run + L".txt", errPath = folder + L"\\err-" + run + L".txt";
    HANDLE out = ::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_NEW, 0, nullptr);
    HANDLE err = ::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_NEW, 0, nullptr);
    Captured captured;
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {  // no run: nothing it could have written
        if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
        if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
        captured.err = "the output files could not be made";
        return captured;
    }
    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    if (token != nullptr ? ::CreateProcessAsUserW(token, nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                                  nullptr, nullptr, &startup, &process)
                         : ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                            nullptr, &startup, &process)) {
        if (::WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, STILL_ACTIVE);
        ::GetExitCodeProcess(process.hProcess, &captured.exit);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    captured.out = ReadFileBytes(outPath);
    captured.err = ReadFileBytes(errPath);
    return captured;
}

}  // namespace testsupport
