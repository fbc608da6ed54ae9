// Writing: the byte layout of what the raster saves, and that every pixel format reads back
// unchanged (and reads right in ImageMagick).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "BmpTestSupport.h"
#include "framework/Exceptions.h"
#include "framework/System.h"

namespace qv {
namespace {

using namespace bmptest;

int64_t DibRow(int width, int bits) { return ((int64_t(width) * bits + 31) / 32) * 4; }
int UsedBytes(int width, int bits) { return (width * bits + 7) / 8; }

struct TFormatCase {
    TPixelFormat Format;
    int PaletteSize;  // entries set on an indexed raster
};

void PrintTo(const TFormatCase& c, std::ostream* os) {
    *os << PixelFormatName(c.Format) << "/" << c.PaletteSize;
}

// A raster of the given format with random pixels (and palette).
void FillRandom(TBitmap& bmp, const TFormatCase& c, int width, int height, uint32_t seed) {
    std::mt19937 rng(seed);
    bmp.SetPixelFormat(c.Format);
    bmp.SetSize(width, height);
    if (BitsPerPixel(c.Format) <= 8) {
        TLogPalette pal;
        for (int i = 0; i < c.PaletteSize; ++i)
            pal.Entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0});
        bmp.SetPalette(pal);
    }
    const int used = UsedBytes(width, bmp.StorageBits());
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < used; ++i) bmp.ScanLine(y)[i] = uint8_t(rng());
}

class BmpRoundTrip : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(BmpRoundTrip, HeaderLayoutAndPixelsSurvive) {
    const TFormatCase c = GetParam();
    const int bits = BitsPerPixel(c.Format);
    // The widest case is written in more than one block of rows at 24 and 32 bits.
    for (auto [width, height] : {std::pair{1, 5}, {3, 5}, {13, 5}, {31, 5}, {33, 5}, {2999, 131}}) {
        SCOPED_TRACE(width);
        TBitmap src;
        FillRandom(src, c, width, height, uint32_t(width * 7919 + bits));
        const std::vector<uint8_t> file = SaveBytes(src);

        const bool indexed = bits <= 8;
        const bool masks = c.Format == pf16bit;
        const uint32_t entries = indexed ? 1u << bits : 0;
        const uint32_t offBits = 14 + 40 + (masks ? 12 : 0) + 4 * entries;
        const int64_t rowBytes = DibRow(width, bits);
        ASSERT_EQ(file.size(), offBits + rowBytes * height);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(U32At(file, 2), file.size());
        EXPECT_EQ(U32At(file, 6), 0u);
        EXPECT_EQ(U32At(file, 10), offBits);
        EXPECT_EQ(U32At(file, 14), 40u);
        EXPECT_EQ(int32_t(U32At(file, 18)), width);
        EXPECT_EQ(int32_t(U32At(file, 22)), height);  // positive: bottom-up
        EXPECT_EQ(U16At(file, 26), 1);
        EXPECT_EQ(U16At(file, 28), bits);
        EXPECT_EQ(U32At(file, 30), masks ? 3u : 0u);
        EXPECT_EQ(U32At(file, 34), uint32_t(rowBytes * height));
        EXPECT_EQ(U32At(file, 38), 2835u);
        EXPECT_EQ(U32At(file, 42), 2835u);
        EXPECT_EQ(U32At(file, 46), indexed ? uint32_t(c.PaletteSize) : 0u);
        EXPECT_EQ(U32At(file, 50), 0u);
        if (masks) {
            EXPECT_EQ(U32At(file, 54), 0xF800u);
            EXPECT_EQ(U32At(file, 58), 0x07E0u);
            EXPECT_EQ(U32At(file, 62), 0x001Fu);
        }
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t at = 54 + 4 * i;
            TPaletteEntry want{};
            if (i < src.Palette().Entries.size()) want = src.Palette().Entries[i];
            EXPECT_EQ(file[at], want.Blue) << "entry " << i;
            EXPECT_EQ(file[at + 1], want.Green) << "entry " << i;
            EXPECT_EQ(file[at + 2], want.Red) << "entry " << i;
            EXPECT_EQ(file[at + 3], 0) << "entry " << i;
        }
        // First stored row is the bottom row; padding is zero.
        const int used = UsedBytes(width, bits);
        for (int r = 0; r < height; ++r) {
            const uint8_t* stored = file.data() + offBits + r * rowBytes;
            EXPECT_EQ(0, std::memcmp(stored, src.ScanLine(height - 1 - r), size_t(used))) << "row " << r;
            for (int64_t i = used; i < rowBytes; ++i) EXPECT_EQ(stored[i], 0) << "padding of row " << r;
        }

        TBitmap back;
        LoadBytes(back, file);
        ASSERT_EQ(back.PixelFormat(), c.Format);
        ASSERT_EQ(back.Width(), width);
        ASSERT_EQ(back.Height(), height);
        EXPECT_EQ(back.Palette().Entries, src.Palette().Entries);
        for (int y = 0; y < height; ++y)
            EXPECT_EQ(0, std::memcmp(back.ScanLine(y), src.ScanLine(y), size_t(used))) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, BmpRoundTrip,
                         ::testing::Values(TFormatCase{pf1bit, 2}, TFormatCase{pf4bit, 16},
                                           TFormatCase{pf4bit, 5}, TFormatCase{pf8bit, 256},
                                           TFormatCase{pf8bit, 3}, TFormatCase{pf15bit, 0},
                                           TFormatCase{pf16bit, 0}, TFormatCase{pf24bit, 0},
                                           TFormatCase{pf32bit, 0}));

TEST(BmpWrite, IndexedRasterWithoutPaletteWritesOneBlackEntry) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    bmp.SetSize(2, 2);
    bmp.SetPalette(TLogPalette{});
    ASSERT_TRUE(bmp.Palette().Entries.empty());
    const std::vector<uint8_t> file = SaveBytes(bmp);
    EXPECT_EQ(U32At(file, 46), 1u);
    TBitmap back;
    LoadBytes(back, file);
    ASSERT_EQ(back.Palette().Entries.size(), 1u);
    EXPECT_EQ(back.Palette().Entries[0], (TPaletteEntry{0, 0, 0, 0}));
}

TEST(BmpWrite, DeviceRasterIsWrittenAs32Bits) {
    TBitmap bmp;
    bmp.SetSize(3, 2);
    ASSERT_EQ(bmp.PixelFormat(), pfDevice);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 12; ++i) bmp.ScanLine(y)[i] = uint8_t(y * 50 + i);
    const std::vector<uint8_t> file = SaveBytes(bmp);
    EXPECT_EQ(U16At(file, 28), 32);
    EXPECT_EQ(U32At(file, 30), 0u);
    TBitmap back;
    LoadBytes(back, file);
    ASSERT_EQ(back.PixelFormat(), pf32bit);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(0, std::memcmp(back.ScanLine(y), bmp.ScanLine(y), 12));
}

TEST(BmpWrite, EmptyAndCustomRastersAreRefusedWritingNothing) {
    TBitmap empty;
    TMemoryStream s;
    EXPECT_THROW(empty.SaveImageStream(s), EInvalidGraphicOperation);
    TBitmap noRows;
    noRows.SetPixelFormat(pf24bit);
    noRows.SetSize(5, 0);
    EXPECT_THROW(noRows.SaveImageStream(s), EInvalidGraphicOperation);
    TBitmap custom;
    custom.SetPixelFormat(pfCustom);
    custom.SetSize(2, 2);
    EXPECT_THROW(custom.SaveImageStream(s), EInvalidGraphicOperation);
    EXPECT_EQ(s.Size(), 0);
}

class BmpFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = GetTempPath();
        name_ = CreateUniqueFile(dir_, "bmp-test-", ".bmp");
    }
    void TearDown() override { DeleteFile(name_); }
    std::string dir_, name_;
};

TEST_F(BmpFiles, SaveAndLoadThroughFiles) {
    TBitmap src;
    FillRandom(src, {pf24bit, 0}, 7, 3, 42);
    src.SaveImageFile(name_);
    TBitmap back;
    back.LoadImageFile(name_);
    ASSERT_EQ(back.Width(), 7);
    ASSERT_EQ(back.Height(), 3);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(0, std::memcmp(back.ScanLine(y), src.ScanLine(y), 21));
}

TEST_F(BmpFiles, FailedSaveKeepsTheOldFile) {
    TBitmap src;
    FillRandom(src, {pf8bit, 256}, 5, 4, 7);
    src.SaveImageFile(name_);
    const std::vector<uint8_t> before = ReadFileBytes(name_);
    TBitmap empty;
    EXPECT_THROW(empty.SaveImageFile(name_), EInvalidGraphicOperation);
    EXPECT_EQ(ReadFileBytes(name_), before);
}

TEST_F(BmpFiles, MissingFileFailsToOpen) {
    TBitmap bmp;
    EXPECT_THROW(bmp.LoadImageFile(dir_ + "no-such-dir-qv/none.bmp"), EFOpenError);
}

// What ImageMagick reads from our files: the colours the raster holds.
TEST_F(BmpFiles, ImageMagickReadsWhatWeWrite) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const std::string ppm = name_ + ".ppm";
    for (TFormatCase c : {TFormatCase{pf1bit, 2}, TFormatCase{pf4bit, 16}, TFormatCase{pf8bit, 200},
                          TFormatCase{pf15bit, 0}, TFormatCase{pf16bit, 0}, TFormatCase{pf24bit, 0},
                          TFormatCase{pf32bit, 0}}) {
        SCOPED_TRACE(PixelFormatName(c.Format));
        TBitmap src;
        FillRandom(src, c, 13, 5, 99);
        if (c.Format == pf15bit)  // the unused top bit would be a 1-bit alpha to some readers
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x) src.ScanLine(y)[2 * x + 1] &= 0x7F;
        if (c.Format == pf8bit)  // indices must address the 200 entries
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x) src.ScanLine(y)[x] %= 200;
        src.SaveImageFile(name_);
        const std::string cmd = "convert '" + name_ + "' -alpha off -depth 8 '" + ppm + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const TNetpbm got = ReadNetpbm(ppm);
        ASSERT_EQ(got.Width, 13);
        ASSERT_EQ(got.Height, 5);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 13; ++x) {
                const uint8_t* row = src.ScanLine(y);
                int r, g, b, tol = 0;
                const int bits = BitsPerPixel(c.Format);
                if (bits <= 8) {
                    const TPaletteEntry& e = src.Palette().Entries.at(IndexAt(row, x, bits));
                    r = e.Red, g = e.Green, b = e.Blue;
                } else if (bits == 16) {
                    const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                    const bool six = c.Format == pf16bit;
                    r = int(((six ? v >> 11 : (v >> 10) & 31) * 255 + 15) / 31);
                    g = six ? int((((v >> 5) & 63) * 255 + 31) / 63) : int((((v >> 5) & 31) * 255 + 15) / 31);
                    b = int(((v & 31) * 255 + 15) / 31);
                    tol = 1;
                } else {
                    const uint8_t* p = row + x * (bits / 8);
                    b = p[0], g = p[1], r = p[2];
                }
                const uint8_t* w = got.At(x, y);
                ASSERT_NEAR(w[0], r, tol) << x << "," << y;
                ASSERT_NEAR(w[1], g, tol) << x << "," << y;
                ASSERT_NEAR(w[2], b, tol) << x << "," << y;
            }
        }
    }
    DeleteFile(ppm);
}

}  // namespace
}  // namespace qv
