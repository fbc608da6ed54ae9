// Bitmap files written by ImageMagick (and re-packed from its output) must read to the pixels
// ImageMagick itself reads from them.
#include <gtest/gtest.h>

#include <cstring>

#include "BmpTestSupport.h"
#include "framework/Exceptions.h"

namespace qv {
namespace {

using namespace bmptest;

struct TFixture {
    const char* Name;
    TPixelFormat Format;
    int PaletteSize;   // expected palette entries, 0 for true colour
    int Tolerance;     // per channel, for fields wider or narrower than 8 bits
    const char* Alpha; // expected fourth bytes, or null
    int FieldBits = 8; // 4: ImageMagick widens 4-bit fields by a shift (0xF -> 240); we scale
                       // them to the full range (0xF -> 255), so its values are rescaled here
};

int Rescale(int imageMagickValue, const TFixture& f) {
    return f.FieldBits == 4 ? (imageMagickValue >> 4) * 17 : imageMagickValue;
}

void PrintTo(const TFixture& f, std::ostream* os) { *os << f.Name; }

class BmpFixture : public ::testing::TestWithParam<TFixture> {};

// Widens a 5- or 6-bit field the way a round-to-nearest scaling does.
int Widen(unsigned v, unsigned max) { return int((v * 255 + max / 2) / max); }

TEST_P(BmpFixture, ReadsThePixelsImageMagickReads) {
    const TFixture& f = GetParam();
    TBitmap bmp;
    bmp.LoadImageFile(DataPath(std::string(f.Name) + ".bmp"));
    const TNetpbm want = ReadNetpbm(DataPath(std::string(f.Name) + ".ppm"));

    ASSERT_EQ(bmp.Width(), want.Width);
    ASSERT_EQ(bmp.Height(), want.Height);
    ASSERT_EQ(bmp.PixelFormat(), f.Format) << PixelFormatName(bmp.PixelFormat());
    EXPECT_EQ(int(bmp.Palette().Entries.size()), f.PaletteSize);

    const int bits = BitsPerPixel(f.Format);
    for (int y = 0; y < want.Height; ++y) {
        const uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < want.Width; ++x) {
            int r, g, b;
            if (bits <= 8) {
                const unsigned index = IndexAt(row, x, bits);
                ASSERT_LT(index, bmp.Palette().Entries.size()) << x << "," << y;
                const TPaletteEntry& e = bmp.Palette().Entries[index];
                r = e.Red, g = e.Green, b = e.Blue;
            } else if (f.Format == pf15bit) {
                const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                r = Widen((v >> 10) & 31, 31), g = Widen((v >> 5) & 31, 31), b = Widen(v & 31, 31);
            } else if (f.Format == pf16bit) {
                const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                r = Widen(v >> 11, 31), g = Widen((v >> 5) & 63, 63), b = Widen(v & 31, 31);
            } else {
                const uint8_t* p = row + x * (bits / 8);
                b = p[0], g = p[1], r = p[2];
            }
            const uint8_t* w = want.At(x, y);
            EXPECT_NEAR(r, Rescale(w[0], f), f.Tolerance) << "red at " << x << "," << y;
            EXPECT_NEAR(g, Rescale(w[1], f), f.Tolerance) << "green at " << x << "," << y;
            EXPECT_NEAR(b, Rescale(w[2], f), f.Tolerance) << "blue at " << x << "," << y;
        }
    }

    if (f.Alpha != nullptr) {
        ASSERT_EQ(f.Format, pf32bit);
        const TNetpbm alpha = ReadNetpbm(DataPath(f.Alpha));
        for (int y = 0; y < alpha.Height; ++y) {
            for (int x = 0; x < alpha.Width; ++x) {
                const int want = Rescale(alpha.At(x, y)[0], f);
                EXPECT_NEAR(bmp.ScanLine(y)[4 * x + 3], want, f.Tolerance) << "alpha at " << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ImageMagick, BmpFixture,
    ::testing::Values(
        TFixture{"rgb24", pf24bit, 0, 0, nullptr},
        TFixture{"rgb24_v5", pf24bit, 0, 0, nullptr},
        TFixture{"topdown24", pf24bit, 0, 0, nullptr},
        TFixture{"core24", pf24bit, 0, 0, nullptr},
        TFixture{"pal8", pf8bit, 256, 0, nullptr},
        TFixture{"topdown8", pf8bit, 256, 0, nullptr},
        TFixture{"core8", pf8bit, 256, 0, nullptr},
        TFixture{"pal4", pf4bit, 16, 0, nullptr},
        TFixture{"core4", pf4bit, 16, 0, nullptr},
        TFixture{"pal1", pf1bit, 2, 0, nullptr},
        TFixture{"rle8", pf8bit, 256, 0, nullptr},
        TFixture{"rle8_delta", pf8bit, 256, 0, nullptr},
        TFixture{"rle4", pf4bit, 16, 0, nullptr},
        TFixture{"rgb565", pf16bit, 0, 1, nullptr},
        TFixture{"rgb565_info", pf16bit, 0, 1, nullptr},
        TFixture{"rgb555", pf15bit, 0, 1, nullptr},
        TFixture{"argb1555", pf15bit, 0, 1, nullptr},
        TFixture{"argb4444", pf32bit, 0, 1, "argb4444.alpha.pgm", 4},
        TFixture{"argb32", pf32bit, 0, 0, "argb32.alpha.pgm"},
        TFixture{"argb32_v3", pf32bit, 0, 0, "argb32_v3.alpha.pgm"},
        TFixture{"bf32_1010210", pf32bit, 0, 1, nullptr}),
    [](const ::testing::TestParamInfo<TFixture>& info) { return std::string(info.param.Name); });

// A bitmap behind other bytes in a stream: its offsets count from where it starts.
TEST(BmpFixtureStream, OffsetsCountFromWhereTheBitmapStarts) {
    const std::vector<uint8_t> file = ReadFileBytes(DataPath("pal4.bmp"));
    std::vector<uint8_t> wrapped(37, 0xAB);
    for (uint8_t b : file) wrapped.push_back(b);
    TMemoryStream s(wrapped);
    s.SetPosition(37);
    TBitmap inStream, direct;
    inStream.LoadImageStream(s);
    direct.LoadImageFile(DataPath("pal4.bmp"));
    ASSERT_EQ(inStream.Width(), direct.Width());
    ASSERT_EQ(inStream.Height(), direct.Height());
    EXPECT_EQ(inStream.Palette().Entries, direct.Palette().Entries);
    for (int y = 0; y < direct.Height(); ++y)
        EXPECT_EQ(0, std::memcmp(inStream.ScanLine(y), direct.ScanLine(y), size_t(direct.RowBytes())));
}

// Pixels the run-length data skips (deltas, the early end) are palette index 0.
TEST(BmpFixtureStream, RunLengthSkippedPixelsAreIndexZero) {
    TBitmap bmp;
    bmp.LoadImageFile(DataPath("rle8_delta.bmp"));
    ASSERT_EQ(bmp.PixelFormat(), pf8bit);
    // Top row (never coded) and file rows 2 and 3 (skipped by the delta) are all zero.
    for (int y : {0, 3, 4})
        for (int x = 0; x < 13; ++x) EXPECT_EQ(bmp.ScanLine(y)[x], 0) << x << "," << y;
    // File row 1: pixels 4..7 skipped by the in-row delta; file row 4: pixels 0..2.
    for (int x = 4; x < 8; ++x) EXPECT_EQ(bmp.ScanLine(5)[x], 0);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(bmp.ScanLine(2)[x], 0);
    EXPECT_NE(bmp.ScanLine(2)[3], 0);
}

}  // namespace
}  // namespace qv
