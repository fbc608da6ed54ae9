// A cache hint shared by the warp kernels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// For an address that may lie outside the picture: it is never dereferenced, so it is
// formed as an integer.
inline void Prefetch(const void* at, size_t offset, bool forWrite = false) {
    const void* p = reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(at) + offset);
    if (forWrite)
        __builtin_prefetch(p, 1);
    else
        __builtin_prefetch(p, 0);
}

}  // namespace qv
