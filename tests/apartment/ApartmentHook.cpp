// A stand-in for an input method or text service that makes a GUI thread single-threaded before the
// program gets to it: a CBT hook that, when the first window of a thread of Pelloran.exe is created,
// joins that thread to a single-threaded apartment. The tests install it for all programs of their
// desktop and take it away after each run; it never leaves the build.
#include <windows.h>
#include <objbase.h>

#include <cwchar>

namespace {

// Whether this process is the tool (the hook is called in every program of the desktop).
bool InTheTool() {
    wchar_t path[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = std::wcsrchr(path, L'\\');
    return _wcsicmp(name != nullptr ? name + 1 : path, L"Pelloran.exe") == 0;
}

}  // namespace

// The CBT hook procedure; what it does is never seen by the hook chain.
extern "C" __declspec(dllexport) LRESULT CALLBACK PelloranApartmentHook(int code, WPARAM wParam, LPARAM lParam) {
    static thread_local bool joined = false;
    if (code == HCBT_CREATEWND && !joined && InTheTool()) {
        joined = true;
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // kept until the thread ends, as a text service's
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
