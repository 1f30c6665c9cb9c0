// Memory exhaustion is not an error value: report the size and end the process,
// so no half-built molecule can ever be observed.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <unistd.h>

namespace {

[[noreturn]] void out_of_memory(std::size_t bytes) {
    char buf[96];
    int n = std::snprintf(buf, sizeof buf, "memory allocation of %zu bytes failed\n", bytes);
    if (n > 0) {
        ssize_t ignored = ::write(2, buf, static_cast<std::size_t>(n));
        (void)ignored;
    }
    std::abort();
}

void* allocate(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    void* p = std::malloc(bytes);
    if (!p) out_of_memory(bytes);
    return p;
}

void* allocate_aligned(std::size_t bytes, std::align_val_t align) {
    if (bytes == 0) bytes = 1;
    void* p = nullptr;
    std::size_t a = static_cast<std::size_t>(align);
    if (a < sizeof(void*)) a = sizeof(void*);
    if (::posix_memalign(&p, a, bytes) != 0) out_of_memory(bytes);
    return p;
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate_aligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate_aligned(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(n, a);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
