#pragma once
// Storage for raster pixels. Whole pictures run to megabytes: such blocks are mapped in
// large pages where the system offers them (a fault per 2 MiB instead of per 4 KiB) and
// come zeroed from the system, so they are not cleared a second time.
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace qv {

// A zeroed block of at least one byte; throws std::bad_alloc.
void* AllocatePixels(size_t bytes);
// Frees a block from AllocatePixels; bytes is the size asked for.
void FreePixels(void* block, size_t bytes) noexcept;

template <class T>
class TPixelAllocator {
public:
    static_assert(std::is_trivially_copyable_v<T>, "pixel storage holds plain bytes");
    using value_type = T;

    TPixelAllocator() noexcept = default;
    template <class U>
    TPixelAllocator(const TPixelAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > size_t(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(AllocatePixels(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) noexcept { FreePixels(p, n * sizeof(T)); }

    // New elements are already zero (AllocatePixels): a value-initialising pass would only
    // touch every page once more.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }

    friend bool operator==(const TPixelAllocator&, const TPixelAllocator&) noexcept { return true; }
};

// Grows only by reallocation (never resized in place), so every element starts zeroed.
using TPixelBytes = std::vector<uint8_t, TPixelAllocator<uint8_t>>;

}  // namespace qv
