#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "framework/PixelStorage.h"

namespace qv {
namespace {

// Blocks on both sides of the size where they start to be mapped in large pages: zeroed,
// writable to the last byte, and the vector's copies and moves keep their bytes.
TEST(PixelStorage, BlocksAreZeroedWritableAndCopyable) {
    constexpr size_t kMiB = size_t(1) << 20;
    for (size_t bytes : {size_t(1), size_t(4095), 2 * kMiB - 1, 2 * kMiB, 2 * kMiB + 1, 5 * kMiB + 3}) {
        SCOPED_TRACE(bytes);
        TPixelBytes a(bytes);
        ASSERT_EQ(a.size(), bytes);
        ASSERT_TRUE(std::all_of(a.begin(), a.end(), [](uint8_t v) { return v == 0; }));
        for (size_t i = 0; i < bytes; ++i) a[i] = uint8_t(i * 7 + 1);
        TPixelBytes b = a;
        TPixelBytes c = std::move(a);
        ASSERT_EQ(b.size(), bytes);
        EXPECT_TRUE(std::equal(b.begin(), b.end(), c.begin(), c.end()));
        EXPECT_EQ(b[bytes - 1], uint8_t((bytes - 1) * 7 + 1));
    }
}

}  // namespace
}  // namespace qv
