// The pieces of the C++ runtime the module supplies itself: operator new and
// delete on the C library's heap (over-aligned forms included), and the
// pure-virtual trap. They stay inside
// the module (only the entry point is exported), and keep the C++ runtime's
// exception machinery, with its never-released emergency pool, out of the
// module: nothing here throws.
#include <cstdlib>
#include <new>
#if defined(_WIN32)
#include <malloc.h>
#endif

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

// Objects aligned beyond what malloc promises (the mixer's gain lanes sit
// on cache lines).
namespace {
void* alignedAllocate(std::size_t size, std::align_val_t alignment) noexcept {
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
#if defined(_WIN32)
    return _aligned_malloc(rounded != 0 ? rounded : align, align);
#else
    return std::aligned_alloc(align, rounded != 0 ? rounded : align);
#endif
}
void alignedFree(void* p) noexcept {
#if defined(_WIN32)
    _aligned_free(p);
#else
    std::free(p);
#endif
}
}  // namespace

void* operator new(std::size_t size, std::align_val_t alignment) {
    void* p = alignedAllocate(size, alignment);
    if (p == nullptr) std::abort();
    return p;
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return alignedAllocate(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return alignedAllocate(size, alignment);
}
void operator delete(void* p, std::align_val_t) noexcept { alignedFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { alignedFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { alignedFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { alignedFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { alignedFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { alignedFree(p); }

// Reached only through a broken object; stop rather than jump anywhere.
extern "C" void __cxa_pure_virtual() { std::abort(); }
