// The pieces of the C++ runtime the module supplies itself: operator new and
// delete on the C library's heap, and the pure-virtual trap. They stay inside
// the module (only the entry point is exported), and keep the C++ runtime's
// exception machinery, with its never-released emergency pool, out of the
// module: nothing here throws.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) std::abort();  // the mixer allocates only through the nothrow form
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// Reached only through a broken object; stop rather than jump anywhere.
extern "C" void __cxa_pure_virtual() { std::abort(); }
