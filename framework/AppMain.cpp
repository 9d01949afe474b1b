// The process entry point: harden DLL loading first, declare the DPI awareness before any window
// exists, then hand over to the framework.
#include "framework/Afx.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    AfxHardenDllSearch();
    AfxEnableDpiAwareness();
    return AfxWinMain(hInstance);
}
