// Row conversions, byte-order swaps and horizontal-difference undo.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "imageio/PixelConversion.h"

namespace qv {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(3, -1, 2), -2);
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(4, 1, 3), 1);
    EXPECT_EQ(MulDiv(5, 1, 3), 2);
    EXPECT_EQ(MulDiv(-5, 1, -3), 2);
    EXPECT_EQ(MulDiv(128, 128, 255), 64);   // 64.25
    EXPECT_EQ(MulDiv(255, 255, 255), 255);
    // The product needs 64 bits.
    EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
    EXPECT_EQ(MulDiv(65535, 65535, 65535), 65535);
    // The platform's answers for a zero divisor and an overflow.
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(2000000000, 2, 1), -1);
    EXPECT_EQ(MulDiv(INT32_MIN, 1, 1), INT32_MIN);
}

Bytes Cmyk8(uint8_t c, uint8_t m, uint8_t y, uint8_t k) {
    const uint8_t src[4] = {c, m, y, k};
    Bytes out(3);
    CmykToBgr(src, out.data(), 8, 4);
    return out;
}

TEST(CmykToBgr, EightBitExamples) {
    EXPECT_EQ(Cmyk8(0, 0, 0, 0), (Bytes{255, 255, 255}));
    EXPECT_EQ(Cmyk8(0, 0, 0, 255), (Bytes{0, 0, 0}));
    EXPECT_EQ(Cmyk8(17, 200, 255, 255), (Bytes{0, 0, 0}));
    EXPECT_EQ(Cmyk8(255, 0, 0, 0), (Bytes{255, 255, 0}));
    // Half ink on half black: 255 - 128 - 128 + 64 = 63.
    EXPECT_EQ(Cmyk8(128, 0, 0, 128), (Bytes{127, 127, 63}));
}

TEST(CmykToBgr, SixteenBitAndPlanar) {
    const uint16_t src[8] = {0, 0, 0, 0, 65535, 0, 0, 0};
    Bytes out(6);
    CmykToBgr(src, out.data(), 16, 8);
    EXPECT_EQ(out, (Bytes{255, 255, 255, 255, 255, 0}));
    const uint16_t black[4] = {100, 30000, 65535, 65535};
    CmykToBgr(black, out.data(), 16, 4);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0, 0, 0}));

    const uint8_t c[2] = {255, 0}, m[2] = {0, 255}, y[2] = {0, 0}, k[2] = {0, 0};
    CmykPlanesToBgr(c, m, y, k, out.data(), 8, 8);
    EXPECT_EQ(out, (Bytes{255, 255, 0, 255, 0, 255}));
    const uint16_t c16[1] = {65535}, z16[1] = {0};
    Bytes one(3);
    CmykPlanesToBgr(c16, z16, z16, z16, one.data(), 16, 4);
    EXPECT_EQ(one, (Bytes{255, 255, 0}));
}

TEST(Converters, UnsupportedBitsLeaveTheRowUntouched) {
    const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes out(8, 0xEE);
    CmykToBgr(src, out.data(), 4, 8);
    RgbToBgr(src, out.data(), 12, 6);
    RgbaToBgra(src, out.data(), 1, 8);
    RgbPlanesToBgr(src, src, src, out.data(), 32, 3);
    CmykPlanesToBgr(src, src, src, src, out.data(), 0, 4);
    EXPECT_EQ(out, Bytes(8, 0xEE));
}

TEST(RgbToBgr, CountsWholePixelsOnly) {
    const uint8_t src[7] = {1, 2, 3, 4, 5, 6, 7};
    Bytes out(9, 0xEE);
    RgbToBgr(src, out.data(), 8, 7);
    EXPECT_EQ(out, (Bytes{3, 2, 1, 6, 5, 4, 0xEE, 0xEE, 0xEE}));
}

TEST(RgbToBgr, SixteenBitSamplesGiveTheirHighByte) {
    const uint16_t src[3] = {0x1234, 0xABCD, 0x00FF};
    Bytes out(3);
    RgbToBgr(src, out.data(), 16, 3);
    EXPECT_EQ(out, (Bytes{0x00, 0xAB, 0x12}));
    const uint16_t r[2] = {0x1000, 0x2000}, g[2] = {0x3000, 0x4000}, b[2] = {0x5000, 0x6000};
    Bytes planar(6);
    RgbPlanesToBgr(r, g, b, planar.data(), 16, 6);
    EXPECT_EQ(planar, (Bytes{0x50, 0x30, 0x10, 0x60, 0x40, 0x20}));
    const uint8_t r8[2] = {1, 2}, g8[2] = {3, 4}, b8[2] = {5, 6};
    RgbPlanesToBgr(r8, g8, b8, planar.data(), 8, 6);
    EXPECT_EQ(planar, (Bytes{5, 3, 1, 6, 4, 2}));
}

TEST(RgbaToBgra, EightAndSixteenBits) {
    const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes out(8);
    RgbaToBgra(src, out.data(), 8, 8);
    EXPECT_EQ(out, (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
    const uint16_t wide[4] = {0x1100, 0x2200, 0x3300, 0x44FF};
    Bytes one(4);
    RgbaToBgra(wide, one.data(), 16, 4);
    EXPECT_EQ(one, (Bytes{0x33, 0x22, 0x11, 0x44}));
}

TEST(Samples16To8, HighBytes) {
    const uint16_t src[3] = {0x0102, 0xFF00, 0x80FF};
    Bytes out(3);
    Samples16To8(src, out.data(), 99, 3);
    EXPECT_EQ(out, (Bytes{0x01, 0xFF, 0x80}));
}

Bytes Lab(uint8_t l, int8_t a, int8_t b) {
    const uint8_t src[3] = {l, uint8_t(a), uint8_t(b)};
    Bytes out(3);
    LabToBgr(src, out.data(), 16, 3);  // bytes whatever the bits say
    return out;
}

TEST(LabToBgr, BlackWhiteAndClamping) {
    EXPECT_EQ(Lab(0, 0, 0), (Bytes{0, 0, 0}));
    EXPECT_EQ(Lab(255, 0, 0), (Bytes{255, 255, 255}));
    // Strong a* (red-magenta) at full lightness: R saturates, G clamps to 0... check the
    // order of the written bytes: B, G, R.
    const Bytes red = Lab(128, 127, 0);
    EXPECT_GT(red[2], red[1]);
    EXPECT_GT(red[2], 150);
    const Bytes blue = Lab(100, 0, -128);
    EXPECT_GT(blue[0], blue[2]);
}

TEST(LabToBgr, MatchesTheFormulaAcrossTheRange) {
    // Independent evaluation in double precision; the two may differ only where a value
    // lies within rounding noise of a half.
    for (int l = 0; l < 256; l += 5) {
        for (int a = -128; a < 128; a += 17) {
            for (int b = -128; b < 128; b += 19) {
                const double L = l / 2.55, fy = (L + 16) / 116;
                double X, Y, Z;
                if (L < 7.9996) {
                    Y = L / 903.3;
                    X = Y + a / 3893.5;
                    Z = Y - b / 1557.4;
                } else {
                    X = std::pow(a / 500.0 + fy, 3);
                    Y = fy * fy * fy;
                    Z = std::pow(fy - b / 200.0, 3);
                }
                const double v[3] = {(0.099 * X - 0.198 * Y + 1.099 * Z) * 255,
                                     (-0.952 * X + 1.893 * Y + 0.059 * Z) * 255,
                                     (2.998 * X - 1.458 * Y - 0.541 * Z) * 255};
                const Bytes got = Lab(uint8_t(l), int8_t(a), int8_t(b));
                for (int i = 0; i < 3; ++i) {
                    const double clamped = std::min(255.0, std::max(0.0, v[i]));
                    EXPECT_LE(std::abs(got[i] - clamped), 0.5 + 1e-6)
                        << "L " << l << " a " << a << " b " << b << " channel " << i;
                }
            }
        }
    }
}

TEST(LabPlanesToBgr, SameAsInterleaved) {
    const uint8_t L[3] = {0, 255, 140}, A[3] = {0, 0, 0xF0}, B[3] = {0, 0, 0x30};
    const uint8_t inter[9] = {0, 0, 0, 255, 0, 0, 140, 0xF0, 0x30};
    Bytes p(9), q(9);
    LabPlanesToBgr(L, A, B, p.data(), 8, 9);
    LabToBgr(inter, q.data(), 8, 9);
    EXPECT_EQ(p, q);
    EXPECT_EQ(Bytes(p.begin() + 3, p.begin() + 6), (Bytes{255, 255, 255}));
}

TEST(SwapBytes, ArraysAndSingleValue) {
    uint8_t a16[6] = {1, 2, 3, 4, 5, 6};
    SwapBytes16Array(a16, 2);
    EXPECT_EQ(Bytes(a16, a16 + 6), (Bytes{2, 1, 4, 3, 5, 6}));
    uint8_t a32[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    SwapBytes32Array(a32, 2);
    EXPECT_EQ(Bytes(a32, a32 + 9), (Bytes{4, 3, 2, 1, 8, 7, 6, 5, 9}));
    SwapBytes32Array(a32, 0);
    EXPECT_EQ(a32[0], 4);
    EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapBytes32(0x80000001u), 0x01000080u);
}

TEST(UndoHorizontalDiff, OneThreeAndFourBytesPerPixel) {
    uint8_t row3[6] = {10, 20, 30, 1, 1, 1};
    UndoHorizontalDiff3(row3, 1);
    EXPECT_EQ(Bytes(row3, row3 + 6), (Bytes{10, 20, 30, 11, 21, 31}));

    uint8_t row1[5] = {250, 10, 1, 0xFF, 99};
    UndoHorizontalDiff1(row1, 3);  // wraps modulo 256; the fifth byte is beyond n
    EXPECT_EQ(Bytes(row1, row1 + 5), (Bytes{250, 4, 5, 4, 99}));

    uint8_t row4[12] = {1, 2, 3, 4, 1, 1, 1, 1, 2, 2, 2, 2};
    UndoHorizontalDiff4(row4, 2);
    EXPECT_EQ(Bytes(row4, row4 + 12), (Bytes{1, 2, 3, 4, 2, 3, 4, 5, 4, 5, 6, 7}));

    uint8_t untouched[2] = {5, 6};
    UndoHorizontalDiff1(untouched, 0);
    EXPECT_EQ(untouched[1], 6);
}

}  // namespace
}  // namespace qv
