// The process entry point: harden DLL loading first, then hand over to the framework.
#include "framework/Afx.h"

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    AfxHardenDllSearch();
    return AfxWinMain(hInstance);
}

// The runtime's default handler for an uncaught exception prints the exception's demangled type,
// which drags a C++ demangler into the executable. A GUI program has nowhere to print it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
