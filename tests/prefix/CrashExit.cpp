// A program that ends by an exception nobody handles. Windows ends it with the exception's code as its exit
// code; in the tests' prefixes it must end the same way, or a test program that crashes would pass.
#include <windows.h>

int main() {
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return 0;
}
