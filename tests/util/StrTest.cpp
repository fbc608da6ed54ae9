// String routines with 1-based positions.
#include <gtest/gtest.h>

#include <climits>

#include "util/Str_.h"

namespace qv {
namespace {

TEST(SafeCopy, BoundsAndExamples) {
    EXPECT_EQ(SafeCopy("abc", 3, 5), "c");
    EXPECT_EQ(SafeCopy("abc", 4, 1), "");
    EXPECT_EQ(SafeCopy("abc", 2, 0), "");
    EXPECT_EQ(SafeCopy("", 1, 3), "");
    EXPECT_EQ(SafeCopy("abc", 0, 2), "ab");
    EXPECT_EQ(SafeCopy("abc", -5, 2), "ab");
    EXPECT_EQ(SafeCopy("abc", 2, -1), "");
    EXPECT_EQ(SafeCopy("abc", 1, INT32_MAX), "abc");
    EXPECT_EQ(SafeCopy("abc", INT32_MIN, INT32_MAX), "abc");
    EXPECT_EQ(SafeCopy("abc", INT32_MAX, 1), "");
}

TEST(NthPos, OccurrencesMayOverlap) {
    EXPECT_EQ(NthPos("a.b.c", ".", 2), 4);
    EXPECT_EQ(NthPos("a.b.c", ".", 3), 0);
    EXPECT_EQ(NthPos("a_b_c", "_", 2), 4);
    EXPECT_EQ(NthPos("x_ay_a", "_a", 2), 5);
    EXPECT_EQ(NthPos("aaa", "aa", 1), 1);
    EXPECT_EQ(NthPos("aaa", "aa", 2), 2);
    EXPECT_EQ(NthPos("aaa", "aa", 3), 0);
    EXPECT_EQ(NthPos("abc", "", 1), 0);
    EXPECT_EQ(NthPos("abc", "b", 0), 0);
    EXPECT_EQ(NthPos("abc", "b", -1), 0);
    EXPECT_EQ(NthPos("", "b", 1), 0);
    EXPECT_EQ(NthPos("ab", "abc", 1), 0);
}

TEST(GetField, Examples) {
    EXPECT_EQ(GetField(".jpg", ".", 2), "jpg");
    EXPECT_EQ(GetField("a.b.c", ".", 1), "a");
    EXPECT_EQ(GetField("a.b.c", ".", 2), "b");
    EXPECT_EQ(GetField("a.b.c", ".", 3), "c");
    EXPECT_EQ(GetField("a.b.c", ".", 4), "");
    EXPECT_EQ(GetField("a..b", ".", 2), "");
    EXPECT_EQ(GetField("a..b", ".", 3), "b");
    EXPECT_EQ(GetField("a.b.c", ".", 0), "a.b.c");
    EXPECT_EQ(GetField("abc", ".", 1), "abc");
    EXPECT_EQ(GetField("abc", ".", 2), "");
    EXPECT_EQ(GetField("a.", ".", 2), "");
    EXPECT_EQ(GetField("k=>v=>w", "=>", 2), "v");
    EXPECT_EQ(GetField("k=>v=>w", "=>", 3), "w");
    EXPECT_EQ(GetField("a.b", ".", INT32_MAX), "");
    EXPECT_EQ(GetField("a.b", ".", INT32_MIN), "a.b");
}

TEST(CharsToStr, DropsEveryNul) {
    const char a[5] = {'a', '\0', 'b', '\0', '\0'};
    EXPECT_EQ(CharsToStr(a, 4), "ab");
    EXPECT_EQ(CharsToStr(a, 0), "a");
    EXPECT_EQ(CharsToStr(a, -1), "");
    const char hi[3] = {'\xE9', 'x', '\xFF'};
    EXPECT_EQ(CharsToStr(hi, 2), "\xE9x\xFF");
}

}  // namespace
}  // namespace qv
