#include <gtest/gtest.h>

#include <random>

#include "framework/Exceptions.h"
#include "morph/Bmp_.h"
#include "morph/MorphTestSupport.h"

namespace qv {
namespace {

using namespace testing;  // the shared morph test helpers

class TDerivedBmp : public TBmp {};

TEST(BmpTest, NewBmpIs32BitOpaqueAndItsTableFollowsEverySize) {
    TBmp b;
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    EXPECT_FALSE(b.Transparent());
    EXPECT_TRUE(b.RowTable().empty());

    b.SetWidth(7);
    b.SetHeight(5);
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    ASSERT_EQ(b.RowTable().size(), 5u);
    for (int32_t y = 0; y < 5; ++y) EXPECT_EQ(FastRowAddress(b, y), b.ScanLine(y)) << y;
    EXPECT_EQ(FastRowAddress(b, -1), nullptr);
    EXPECT_EQ(FastRowAddress(b, 5), nullptr);

    b.SetHeight(300);  // grows the storage: every address moves
    ASSERT_EQ(b.RowTable().size(), 300u);
    EXPECT_EQ(FastRowAddress(b, 0), b.ScanLine(0));
    EXPECT_EQ(FastRowAddress(b, 299), b.ScanLine(299));

    b.SetWidth(0);
    b.SetHeight(0);
    EXPECT_TRUE(b.RowTable().empty());
    for (int32_t y : {-1, 0, 1, 299}) EXPECT_EQ(FastRowAddress(b, y), nullptr);
}

TEST(BmpTest, ClassIdentityDecidesWhereRowsComeFrom) {
    TBmpFast fast;
    fast.SetWidth(3);
    fast.SetHeight(2);
    EXPECT_EQ(FastRowAddress(fast, 1), fast.ScanLine(1));
    EXPECT_EQ(FastRowAddress(fast, 2), nullptr);

    // A derived class is not served from the table: a bad row is the framework's error.
    TDerivedBmp derived;
    derived.SetWidth(3);
    derived.SetHeight(2);
    EXPECT_EQ(FastRowAddress(derived, 1), derived.ScanLine(1));
    EXPECT_THROW(FastRowAddress(derived, 2), EInvalidGraphicOperation);
    EXPECT_THROW(FastRowAddress(derived, -1), EInvalidGraphicOperation);

    TBitmap plain;
    plain.SetPixelFormat(pf32bit);
    plain.SetWidth(3);
    plain.SetHeight(2);
    EXPECT_EQ(FastRowAddress(plain, 0), plain.ScanLine(0));
    EXPECT_THROW(FastRowAddress(plain, 2), EInvalidGraphicOperation);
}

TEST(BmpTest, TableNeverPointsIntoReplacedStorage) {
    std::mt19937 rng(7);
    TBmpFast fast;
    fast.SetPixelFormat(pf32bit);
    fast.SetWidth(40);
    fast.SetHeight(30);
    // A format change through the base class reallocates behind the table's back.
    fast.SetPixelFormat(pf24bit);
    for (int32_t y : {0, 15, 29}) EXPECT_EQ(FastRowAddress(fast, y), fast.ScanLine(y)) << y;

    TBitmap other;
    FillRandom(other, 9, 70, rng);
    fast.Assign(other);
    ASSERT_EQ(fast.Height(), 70);
    EXPECT_EQ(FastRowAddress(fast, 69), fast.ScanLine(69));
    EXPECT_EQ(FastRowAddress(fast, 70), nullptr);

    // A TBmp stays 32-bit whatever it is given.
    TBitmap rgb;
    rgb.SetPixelFormat(pf24bit);
    rgb.SetWidth(4);
    rgb.SetHeight(3);
    rgb.SetPixelColor(1, 2, RGBColor(10, 20, 30));
    TBmp b;
    b.Assign(rgb);
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    EXPECT_EQ(FastRowAddress(b, 2), b.ScanLine(2));
    EXPECT_EQ(b.PixelColor(1, 2), RGBColor(10, 20, 30));
}

// Source 4 x 3 with a distinct word per pixel, fourth byte included.
void MakeSource(TBmp& src) {
    src.SetWidth(4);
    src.SetHeight(3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) SetWord(src, x, y, 0xA0000000u | uint32_t(y * 16 + x) * 0x010101u);
}

TEST(BmpTest, DrawToClipsBothWaysAndKeepsTheFourthByte) {
    std::mt19937 rng(1);
    TBmp src;
    MakeSource(src);

    struct Case {
        int32_t X, Y, DestW, DestH;
    };
    for (const Case c : {Case{-1, -1, 3, 2}, Case{2, 1, 6, 5}, Case{-3, 1, 2, 9}, Case{1, -2, 3, 3},
                         Case{0, 0, 4, 3}, Case{0, 0, 2, 2}}) {
        TBitmap dest;
        FillRandom(dest, c.DestW, c.DestH, rng);
        const auto before = Snapshot(dest);
        src.DrawTo(c.X, c.Y, dest);
        for (int32_t dy = 0; dy < c.DestH; ++dy)
            for (int32_t dx = 0; dx < c.DestW; ++dx) {
                const int32_t sx = dx - c.X, sy = dy - c.Y;
                const bool covered = sx >= 0 && sx < 4 && sy >= 0 && sy < 3;
                const uint32_t expected = covered ? Word(src, sx, sy) : before[size_t(dy * c.DestW + dx)];
                EXPECT_EQ(Word(dest, dx, dy), expected)
                    << "offset " << c.X << "," << c.Y << " dest " << c.DestW << "x" << c.DestH
                    << " at " << dx << "," << dy;
            }
    }
}

TEST(BmpTest, DrawToMakesDest32BitAndAlwaysSignalsAChange) {
    TBmp src;
    MakeSource(src);

    TBitmap dest;
    dest.SetPixelFormat(pf24bit);
    dest.SetWidth(5);
    dest.SetHeight(5);
    int changes = 0;
    dest.OnChange = [&] { ++changes; };
    src.DrawTo(1, 1, dest);
    EXPECT_EQ(dest.PixelFormat(), pf32bit);
    EXPECT_EQ(Word(dest, 1, 1), Word(src, 0, 0));
    EXPECT_EQ(Word(dest, 4, 3), Word(src, 3, 2));
    EXPECT_TRUE(dest.Modified());
    EXPECT_GE(changes, 1);

    // Entirely outside: nothing copied, still marked modified.
    dest.SetModified(false);
    const auto before = Snapshot(dest);
    changes = 0;
    src.DrawTo(5, 0, dest);
    src.DrawTo(-4, 0, dest);
    src.DrawTo(0, -3, dest);
    src.DrawTo(INT32_MAX, INT32_MIN, dest);
    EXPECT_EQ(Snapshot(dest), before);
    EXPECT_TRUE(dest.Modified());
    EXPECT_GE(changes, 4);

    // Empty source or empty destination: nothing to copy, nothing touched.
    TBmp empty;
    empty.DrawTo(0, 0, dest);
    EXPECT_EQ(Snapshot(dest), before);
    TBmp emptyDest;
    src.DrawTo(0, 0, emptyDest);
    EXPECT_EQ(emptyDest.Width(), 0);
    EXPECT_TRUE(emptyDest.Modified());
}

}  // namespace
}  // namespace qv
