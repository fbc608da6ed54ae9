#include "framework/PixelStorage.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace qv {

namespace {

// Mapped blocks are whole large pages, aligned to one.
constexpr size_t kLargePage = size_t(2) << 20;

// The sanitizer build keeps every block on the heap, where it watches the bounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBlocks = false;
#else
constexpr bool kMapLargeBlocks = true;
#endif
#else
constexpr bool kMapLargeBlocks = true;
#endif

bool Mapped(size_t bytes) { return kMapLargeBlocks && bytes >= kLargePage; }
size_t MappedLength(size_t bytes) { return (bytes + kLargePage - 1) / kLargePage * kLargePage; }

}  // namespace

void* AllocatePixels(size_t bytes) {
    if (!Mapped(bytes)) {
        void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    if (bytes > SIZE_MAX - 2 * kLargePage) throw std::bad_alloc();
    const size_t length = MappedLength(bytes);
    // Map one page more than needed, then cut the block down to an aligned one.
    void* raw = mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kLargePage - 1) / kLargePage * kLargePage;
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + length + kLargePage;
    if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    // A hint only: where large pages are not available the block still works.
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void FreePixels(void* block, size_t bytes) noexcept {
    if (block == nullptr) return;
    if (Mapped(bytes))
        munmap(block, MappedLength(bytes));
    else
        std::free(block);
}

}  // namespace qv
