// TIFF reading: files written by ImageMagick, libtiff's tiffcp and netpbm decode to the
// pixels the tools put in, in both byte orders; header edge cases; hostile files.
#include <gtest/gtest.h>

#include "TargaTestUtil.h"
#include "imageio/TIFFGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("tiff/" + name)); }
Pnm Reference(const std::string& name) { return ReadPnm(DataPath("tiff/" + name)); }
std::unique_ptr<TTIFFGraphic> Load(const std::string& name) { return LoadBytes<TTIFFGraphic>(Fixture(name)); }

// ---- a small little-endian TIFF builder for the edge cases no tool writes

struct Tag {
    uint16_t Id;
    uint16_t Type;  // 3 SHORT, 4 LONG
    std::vector<uint32_t> Values;
};

// Header, then the pixel data at offset 8, then the directory, then the values that do
// not fit their entries.
std::vector<uint8_t> MiniTiff(std::vector<Tag> tags, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 0, 0, 0, 0};
    f.reserve(f.size() + data.size() + 1024);  // also keeps g++ 12 from a false bounds warning
    f.insert(f.end(), data.begin(), data.end());
    if (f.size() % 2) f.push_back(0);
    const uint32_t ifd = uint32_t(f.size());
    f[4] = uint8_t(ifd);
    f[5] = uint8_t(ifd >> 8);
    uint32_t extra = ifd + 2 + 12 * uint32_t(tags.size()) + 4;
    std::vector<uint8_t> dir, values;
    auto put = [](std::vector<uint8_t>& v, uint32_t x, int bytes) {
        for (int i = 0; i < bytes; ++i) v.push_back(uint8_t(x >> (8 * i)));
    };
    put(dir, uint32_t(tags.size()), 2);
    for (const Tag& t : tags) {
        const int size = t.Type == 3 ? 2 : 4;
        put(dir, t.Id, 2);
        put(dir, t.Type, 2);
        put(dir, uint32_t(t.Values.size()), 4);
        std::vector<uint8_t> bytes;
        for (uint32_t v : t.Values) put(bytes, v, size);
        if (bytes.size() <= 4) {
            bytes.resize(4, 0);
            dir.insert(dir.end(), bytes.begin(), bytes.end());
        } else {
            put(dir, extra + uint32_t(values.size()), 4);
            values.insert(values.end(), bytes.begin(), bytes.end());
        }
    }
    put(dir, 0, 4);
    f.insert(f.end(), dir.begin(), dir.end());
    f.insert(f.end(), values.begin(), values.end());
    return f;
}

// A one-strip uncompressed picture with the given layout.
std::vector<uint8_t> Simple(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples, uint32_t photometric,
                            const std::vector<uint8_t>& data, std::vector<Tag> more = {}) {
    std::vector<Tag> tags = {{256, 4, {width}}, {257, 4, {height}}, {258, 3, std::vector<uint32_t>(samples, bits)},
                             {259, 3, {1}}, {262, 3, {photometric}}, {273, 4, {8}}, {277, 3, {samples}},
                             {279, 4, {uint32_t(data.size())}}};
    tags.insert(tags.end(), more.begin(), more.end());
    std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.Id < b.Id; });
    return MiniTiff(tags, data);
}

TEST(TIFFRead, Rgb8InBothByteOrdersAndEveryCompression) {
    for (const char* name : {"rgb8_ii.tif", "rgb8_mm_lzw_pred.tif", "rgb8_packbits.tif", "rgb8_strips_lzw.tif",
                             "rgb8_strips_mm.tif", "rgb8_2strips_mm.tif"}) {
        auto tif = Load(name);
        EXPECT_EQ(tif->PixelFormat(), pf24bit) << name;
        EXPECT_EQ(MaxDifference(*tif, Reference("src.ppm")), 0) << name;
    }
}

TEST(TIFFRead, SixteenBitSamplesShowTheirHighByteInBothByteOrders) {
    const Pnm rgb = Reference("src16.ppm");
    for (const char* name : {"rgb16_ii.tif", "rgb16_mm.tif", "rgb16_mm_lzw_pred.tif"}) {
        auto tif = Load(name);
        ASSERT_EQ(tif->PixelFormat(), pf24bit) << name;
        for (int y = 0; y < rgb.Height; ++y)
            for (int x = 0; x < rgb.Width; ++x) {
                const uint8_t* p = tif->ScanLine(y) + 3 * x;
                EXPECT_EQ(p[2], rgb.At(x, y, 0) >> 8) << name << " " << x << "," << y;
                EXPECT_EQ(p[1], rgb.At(x, y, 1) >> 8) << name;
                EXPECT_EQ(p[0], rgb.At(x, y, 2) >> 8) << name;
            }
    }
    const Pnm grey = Reference("grey16.pgm");
    for (const char* name : {"grey16_ii.tif", "grey16_mm.tif", "grey16_mm_lzw_pred.tif"}) {
        auto tif = Load(name);
        ASSERT_EQ(tif->PixelFormat(), pf8bit) << name;
        EXPECT_EQ(tif->Palette().Entries[77], (TPaletteEntry{77, 77, 77, 0}));
        for (int y = 0; y < grey.Height; ++y)
            for (int x = 0; x < grey.Width; ++x) EXPECT_EQ(tif->ScanLine(y)[x], grey.At(x, y, 0) >> 8) << name;
    }
}

// Separate planes (PlanarConfiguration 2, as tiffcp -p separate and ImageMagick's
// -interlace Plane write them) read like interleaved samples.
TEST(TIFFRead, SeparatePlanesAsInterleaved) {
    for (const char* name : {"rgb8_planar.tif", "rgb8_planar_strips_lzw.tif"}) {
        auto tif = Load(name);
        EXPECT_EQ(tif->PixelFormat(), pf24bit) << name;
        EXPECT_EQ(MaxDifference(*tif, Reference("src.ppm")), 0) << name;
    }
    auto rgba = Load("rgba8_planar.tif");
    const Pnm pam = Reference("rgba8.pam");
    ASSERT_EQ(rgba->PixelFormat(), pf32bit);
    EXPECT_EQ(MaxDifference(*rgba, pam), 0);
    for (int y = 0; y < pam.Height; ++y)
        for (int x = 0; x < pam.Width; ++x) EXPECT_EQ(rgba->ScanLine(y)[4 * x + 3], pam.At(x, y, 3));
    auto rgb16 = Load("rgb16_planar_mm_lzw_pred.tif");
    const Pnm ref16 = Reference("src16.ppm");
    int wrong = 0;
    for (int y = 0; y < ref16.Height; ++y)
        for (int x = 0; x < ref16.Width; ++x)
            for (int c = 0; c < 3; ++c) wrong += rgb16->ScanLine(y)[3 * x + 2 - c] != ref16.At(x, y, c) >> 8;
    EXPECT_EQ(wrong, 0);
}

// Two-bit grey and palette pictures: four levels, one byte per pixel.
TEST(TIFFRead, TwoBitSamples) {
    for (const char* name : {"grey2", "pal2"}) {
        auto tif = Load(std::string(name) + ".tif");
        EXPECT_EQ(tif->PixelFormat(), pf8bit) << name;
        EXPECT_EQ(MaxDifference(*tif, Reference(std::string(name) + (name[0] == 'g' ? ".pgm" : ".ppm"))), 0) << name;
    }
    // Layouts with no raster format are refused instead of copied as raw bytes.
    EXPECT_NE(LoadError<TTIFFGraphic>(Simple(4, 1, 2, 3, 2, {0x1B, 0x1B, 0x1B})).find("not supported"),
              std::string::npos);
}

TEST(TIFFRead, Grey8) {
    auto tif = Load("grey8.tif");
    const Pnm ref = Reference("grey8.pgm");
    ASSERT_EQ(tif->PixelFormat(), pf8bit);
    for (int y = 0; y < ref.Height; ++y)
        for (int x = 0; x < ref.Width; ++x) EXPECT_EQ(tif->ScanLine(y)[x], ref.At(x, y, 0));
    EXPECT_EQ(MaxDifference(*tif, ref), 0);
}

TEST(TIFFRead, BilevelPalettesFollowThePhotometricValue) {
    auto white = Load("bilevel_white.tif");
    ASSERT_EQ(white->PixelFormat(), pf1bit);
    EXPECT_EQ(white->Palette().Entries[0], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(white->Palette().Entries[1], (TPaletteEntry{0, 0, 0, 0}));
    auto black = Load("bilevel_black.tif");
    EXPECT_EQ(black->Palette().Entries[0], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(black->Palette().Entries[1], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(MaxDifference(*white, Reference("mono.pbm")), 0);
    EXPECT_EQ(MaxDifference(*black, Reference("mono.pbm")), 0);
}

TEST(TIFFRead, PalettePictures) {
    auto pal4 = Load("pal4.tif");
    ASSERT_EQ(pal4->PixelFormat(), pf4bit);
    EXPECT_EQ(pal4->Palette().Entries.size(), 16u);
    EXPECT_EQ(MaxDifference(*pal4, Reference("pal4.ppm")), 0);
    auto pal8 = Load("pal8_lzw.tif");
    ASSERT_EQ(pal8->PixelFormat(), pf8bit);
    EXPECT_EQ(MaxDifference(*pal8, Reference("pal8_lzw.ppm")), 0);
}

TEST(TIFFRead, RgbWithUnassociatedAlphaKeepsItInTheFourthByte) {
    auto tif = Load("rgba8.tif");
    const Pnm pam = Reference("rgba8.pam");
    ASSERT_EQ(tif->PixelFormat(), pf32bit);
    EXPECT_EQ(MaxDifference(*tif, pam), 0);
    for (int y = 0; y < pam.Height; ++y)
        for (int x = 0; x < pam.Width; ++x) EXPECT_EQ(tif->ScanLine(y)[4 * x + 3], pam.At(x, y, 3));
}

TEST(TIFFRead, CmykComesOutAsInkTimesBlack) {
    auto tif = Load("cmyk.tif");
    ASSERT_EQ(tif->PixelFormat(), pf24bit);
    EXPECT_LE(MaxDifference(*tif, Reference("cmyk.ppm")), 1);  // the two formulas round differently
}

TEST(TIFFRead, LastStripShorterThanRowsPerStripStopsAtTheLastRow) {
    // Three rows in strips of two; the second strip says two rows but the picture ends.
    std::vector<Tag> tags = {{256, 4, {2}}, {257, 4, {3}}, {258, 3, {8}}, {259, 3, {1}}, {262, 3, {1}},
                             {273, 4, {8, 12}}, {277, 3, {1}}, {278, 3, {2}}, {279, 3, {4, 4}}};
    auto tif = LoadBytes<TTIFFGraphic>(MiniTiff(tags, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(tif->ScanLine(2)[0], 5);
    EXPECT_EQ(tif->ScanLine(2)[1], 6);
}

TEST(TIFFRead, ShortStripTablesStoredInTheirEntries) {
    // Two PackBits strips whose offsets and byte counts are SHORT pairs inside the entries.
    std::vector<Tag> tags = {{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}}, {259, 3, {32773}}, {262, 3, {1}},
                             {273, 3, {8, 11}}, {277, 3, {1}}, {278, 3, {1}}, {279, 3, {3, 3}}};
    auto tif = LoadBytes<TTIFFGraphic>(MiniTiff(tags, {0x01, 'a', 'b', 0xFF, 'c', 0x80}));
    EXPECT_EQ(tif->ScanLine(0)[0], 'a');
    EXPECT_EQ(tif->ScanLine(0)[1], 'b');
    EXPECT_EQ(tif->ScanLine(1)[0], 'c');
    EXPECT_EQ(tif->ScanLine(1)[1], 'c');
}

TEST(TIFFRead, OnePaletteBitAndUnknownKindsGetAGreyRamp) {
    auto onebit = LoadBytes<TTIFFGraphic>(Simple(8, 1, 1, 1, 3, {0x0F}, {{320, 3, {0, 0xFFFF, 0, 0, 0, 0}}}));
    ASSERT_EQ(onebit->PixelFormat(), pf1bit);
    EXPECT_EQ(onebit->Palette().Entries[0], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(onebit->Palette().Entries[1], (TPaletteEntry{255, 255, 255, 0}));
    auto other = LoadBytes<TTIFFGraphic>(Simple(2, 1, 4, 1, 4, {0x0F}));
    ASSERT_EQ(other->PixelFormat(), pf4bit);
    EXPECT_EQ(other->Palette().Entries[15], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(other->Palette().Entries[1], (TPaletteEntry{17, 17, 17, 0}));
}

TEST(TIFFRead, SaveWritesNothing) {
    auto tif = Load("rgb8_ii.tif");
    TMemoryStream out;
    tif->SaveImageStream(out);
    EXPECT_EQ(out.Size(), 0);
}

TEST(TIFFRead, HeaderFailuresNameTheProblem) {
    std::vector<uint8_t> file = Fixture("rgb8_ii.tif");
    file[2] = 43;
    EXPECT_EQ(LoadError<TTIFFGraphic>(file), "Invalid TIFF file.");

    const std::vector<uint8_t> pixel = {1, 2, 3};
    // No Compression tag.
    EXPECT_EQ(LoadError<TTIFFGraphic>(MiniTiff({{256, 4, {1}}, {257, 4, {1}}, {273, 4, {8}}, {277, 3, {3}}}, pixel)),
              "TIFF: Unknown compression scheme");
    EXPECT_EQ(LoadError<TTIFFGraphic>(Simple(0, 1, 8, 3, 2, pixel)), "Invalid TIFF file.");
    EXPECT_EQ(LoadError<TTIFFGraphic>(Simple(1, 0, 8, 3, 2, pixel)), "Invalid TIFF file.");
}

TEST(TIFFRead, WhatTheStructuresCannotHoldIsRefused) {
    const std::vector<uint8_t> data(64, 7);
    // 60000 x 60000 pixels from a file of a hundred-odd bytes.
    EXPECT_NE(LoadError<TTIFFGraphic>(Simple(60000, 60000, 8, 3, 2, data)).find("TIFF: 60000 x 60000 pixels"),
              std::string::npos);
    // A palette of 16 bits per pixel would not fit the 256-entry colour map.
    EXPECT_NE(LoadError<TTIFFGraphic>(Simple(2, 2, 16, 1, 3, data, {{320, 4, {8}}})).find("palette"), std::string::npos);
    // Grey with an extra alpha sample: two bytes per pixel for a one-byte scan line pixel.
    EXPECT_NE(LoadError<TTIFFGraphic>(Simple(4, 2, 8, 2, 1, data, {{338, 3, {2}}})).find("do not fit"), std::string::npos);
    // More than 255 bits per pixel.
    EXPECT_NE(LoadError<TTIFFGraphic>(Simple(2, 2, 64, 5, 2, data)).find("unsupported pixel size"), std::string::npos);
    // Strip offsets with a count of 0, several strips without RowsPerStrip.
    std::vector<Tag> base = {{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}}, {259, 3, {1}}, {262, 3, {1}}};
    std::vector<Tag> zero = base;
    zero.push_back({273, 4, {}});
    EXPECT_EQ(LoadError<TTIFFGraphic>(MiniTiff(zero, data)), "TIFF: StripOffsets has no strips (count 0)");
    std::vector<Tag> noRows = base;
    noRows.push_back({273, 4, {8, 10}});
    noRows.push_back({279, 4, {2, 2}});
    EXPECT_EQ(LoadError<TTIFFGraphic>(MiniTiff(noRows, data)), "TIFF: RowsPerStrip is missing for 2 strips");
    // Differencing of 4-bit samples would run past the row.
    EXPECT_NE(LoadError<TTIFFGraphic>(Simple(8, 2, 4, 1, 1, data, {{317, 3, {2}}})).find("Predictor"), std::string::npos);
}

TEST(TIFFRead, ARefusedFileLeavesThePictureAsItWas) {
    auto tif = Load("rgb8_ii.tif");
    std::vector<uint8_t> bad = Fixture("rgb8_ii.tif");
    bad[2] = 43;
    TMemoryStream stream(bad);
    EXPECT_THROW(tif->LoadImageStream(stream), Exception);
    EXPECT_EQ(MaxDifference(*tif, Reference("src.ppm")), 0);
}

TEST(TIFFRead, StripsPastTheEndOfTheFileDecodeNothing) {
    std::vector<Tag> tags = {{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}}, {259, 3, {5}}, {262, 3, {1}},
                             {273, 4, {8, 0x7FFFFFF0}}, {277, 3, {1}}, {278, 3, {1}}, {279, 4, {4, 0xFFFFFFFF}}};
    // The first strip: LZW clear, 'A', 'B', end (9-bit codes).
    auto tif = LoadBytes<TTIFFGraphic>(MiniTiff(tags, {0x80, 0x10, 0x48, 0x50, 0x10}));
    EXPECT_EQ(tif->ScanLine(0)[0], 'A');
    EXPECT_EQ(tif->ScanLine(0)[1], 'B');
    EXPECT_EQ(tif->ScanLine(1)[0], 0);
}

TEST(TIFFRead, TruncatedAndCorruptedFixturesFailCleanly) {
    for (const char* name : {"rgb8_ii.tif", "rgb8_strips_lzw.tif", "rgb8_2strips_mm.tif", "pal4.tif",
                             "grey16_mm_lzw_pred.tif", "bilevel_white.tif", "rgb8_planar_strips_lzw.tif", "pal2.tif"}) {
        const std::vector<uint8_t> file = Fixture(name);
        SweepHostileVariants<TTIFFGraphic>(file, file.size(), name);
    }
}

}  // namespace
}  // namespace qv
