// What every program of Pelloran links in instead of the C++ library's exception machinery: its own throw
// helpers and allocation functions, which end the program at once where the library would throw.
#include <cstddef>
#include <cstdlib>
#include <new>

// The C++ library reports a failed allocation or an impossible string length by throwing, and its
// throw helpers bring exception classes, their message strings and a demangler for the uncaught
// case into the executable. The tool catches nothing and has nowhere to print a message: it ends
// at once instead, which is what an uncaught exception would do, in a tenth of the size.
namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
// A failed bounds check of a container (the build turns them on) prints its message through the same
// machinery before it aborts: it ends at once too.
void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { std::abort(); }
}  // namespace std

// Allocation on the runtime's heap; running out of memory ends the program (the plain forms) or
// hands back null (the nothrow forms), without the library's exception machinery.
void* operator new(std::size_t size) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) std::abort();
    return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
