// The reference for the start-up benchmark: a bare dialog program built the same way as the tool,
// with the same resources, that shows the settings dialog's template and does nothing else.
#include <windows.h>

#include "res/resource.h"

namespace {

INT_PTR CALLBACK ReferenceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return static_cast<int>(
        ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_PELLORAN_DIALOG), nullptr, &ReferenceProc, 0));
}
