// Photoshop reader: ImageMagick files in every mode it writes, hand-built files for the
// modes it does not, the colour table rules, refused headers and hostile variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "TargaTestUtil.h"
#include "imageio/GenericGraphic.h"
#include "imageio/PSDGraphic.h"
#include "imageio/PixelConversion.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("psd/" + name)); }

void PutBe16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void PutBe32(std::vector<uint8_t>& b, uint32_t v) {
    PutBe16(b, uint16_t(v >> 16));
    PutBe16(b, uint16_t(v));
}

// A file with the given header fields, colour mode data, compression and image data
// (for PackBits the data starts with the row byte count table).
std::vector<uint8_t> MakePsd(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth, uint16_t mode,
                             const std::vector<uint8_t>& modeData, uint16_t compression,
                             const std::vector<uint8_t>& data) {
    std::vector<uint8_t> b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    PutBe16(b, channels);
    PutBe32(b, height);
    PutBe32(b, width);
    PutBe16(b, depth);
    PutBe16(b, mode);
    PutBe32(b, uint32_t(modeData.size()));
    b.insert(b.end(), modeData.begin(), modeData.end());
    PutBe32(b, 4);  // image resources, skipped
    b.insert(b.end(), {1, 2, 3, 4});
    PutBe32(b, 2);  // layer and mask information, skipped
    b.insert(b.end(), {9, 9});
    PutBe16(b, compression);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

uint8_t High(int v) { return uint8_t(v >> 8); }

TEST(PSDRead, ImageMagickRgbRawAndPackBitsGiveTheSourcePixels) {
    const Pnm ref = ReadPnm(DataPath("psd/src.ppm"));
    for (const char* name : {"rgb8_raw.psd", "rgb8_rle.psd", "rgba8_rle.psd"}) {
        SCOPED_TRACE(name);
        auto psd = LoadBytes<TPSDGraphic>(Fixture(name));
        EXPECT_EQ(psd->PixelFormat(), pf24bit);
        EXPECT_EQ(MaxDifference(*psd, ref), 0);
    }
}

TEST(PSDRead, SixteenBitFilesGiveTheHighByteOfEverySample) {
    const Pnm rgb = ReadPnm(DataPath("psd/src16.ppm"));
    ASSERT_EQ(rgb.MaxVal, 65535);
    for (const char* name : {"rgb16_raw.psd", "rgb16_rle.psd"}) {
        SCOPED_TRACE(name);
        auto psd = LoadBytes<TPSDGraphic>(Fixture(name));
        ASSERT_EQ(psd->Width(), rgb.Width);
        ASSERT_EQ(psd->Height(), rgb.Height);
        for (int y = 0; y < rgb.Height; ++y)
            for (int x = 0; x < rgb.Width; ++x)
                ASSERT_EQ(psd->PixelColor(x, y), RGBColor(High(rgb.At(x, y, 0)), High(rgb.At(x, y, 1)), High(rgb.At(x, y, 2))))
                    << x << "," << y;
    }
    const Pnm grey = ReadPnm(DataPath("psd/gray16.pgm"));
    for (const char* name : {"gray16_raw.psd", "gray16_rle.psd"}) {
        SCOPED_TRACE(name);
        auto psd = LoadBytes<TPSDGraphic>(Fixture(name));
        ASSERT_EQ(psd->PixelFormat(), pf8bit);
        for (int y = 0; y < grey.Height; ++y)
            for (int x = 0; x < grey.Width; ++x) ASSERT_EQ(psd->ScanLine(y)[x], High(grey.At(x, y, 0))) << x << "," << y;
    }
}

TEST(PSDRead, GreyAndIndexedFilesKeepTheirPalettes) {
    auto grey = LoadBytes<TPSDGraphic>(Fixture("gray8_rle.psd"));
    EXPECT_EQ(grey->PixelFormat(), pf8bit);
    EXPECT_EQ(grey->Palette().Entries, GreyPalette(256).Entries);
    EXPECT_EQ(MaxDifference(*grey, ReadPnm(DataPath("psd/gray.pgm"))), 0);

    auto indexed = LoadBytes<TPSDGraphic>(Fixture("indexed_rle.psd"));
    EXPECT_EQ(indexed->PixelFormat(), pf8bit);
    EXPECT_EQ(MaxDifference(*indexed, ReadPnm(DataPath("psd/indexed.ppm"))), 0);
    const auto& entries = indexed->Palette().Entries;
    ASSERT_EQ(entries.size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(entries[i].Red, indexed->FColorTable[i]);
        EXPECT_EQ(entries[i].Green, indexed->FColorTable[256 + i]);
        EXPECT_EQ(entries[i].Blue, indexed->FColorTable[512 + i]);
    }
}

TEST(PSDRead, ImageMagickCmykIsShownThroughTheInkProduct) {
    const Pnm cmyk = ReadPnm(DataPath("psd/cmyk.pam"));
    ASSERT_EQ(cmyk.Channels, 4);
    auto psd = LoadBytes<TPSDGraphic>(Fixture("cmyk_rle.psd"));
    ASSERT_EQ(psd->PixelFormat(), pf24bit);
    auto channel = [](int ink, int k) {
        // (255 - ink) * (255 - k) / 255, rounded: the ink and the black both absorb.
        const int v = ((255 - ink) * (255 - k) * 2 + 255) / 510;
        return uint8_t(std::clamp(v, 0, 255));
    };
    for (int y = 0; y < cmyk.Height; ++y)
        for (int x = 0; x < cmyk.Width; ++x) {
            const int k = cmyk.At(x, y, 3);
            ASSERT_EQ(psd->PixelColor(x, y),
                      RGBColor(channel(cmyk.At(x, y, 0), k), channel(cmyk.At(x, y, 1), k), channel(cmyk.At(x, y, 2), k)))
                << x << "," << y;
        }
}

TEST(PSDRead, SixteenBitCmykCombinesTheWholeInkSamples) {
    const Pnm cmyk = ReadPnm(DataPath("psd/cmyk16.pam"));
    ASSERT_EQ(cmyk.Channels, 4);
    ASSERT_EQ(cmyk.MaxVal, 65535);
    auto channel = [](int64_t ink, int64_t k) {
        // 255 - (ink + k - ink * k / 65535, rounded) / 256: the 16-bit ink product.
        const int64_t product = (ink * k + 32767) / 65535;
        return uint8_t(std::clamp<int64_t>(255 - ((ink + k - product) >> 8), 0, 255));
    };
    for (const char* name : {"cmyk16_raw.psd", "cmyk16_rle.psd"}) {
        SCOPED_TRACE(name);
        auto psd = LoadBytes<TPSDGraphic>(Fixture(name));
        ASSERT_EQ(psd->PixelFormat(), pf24bit);
        ASSERT_EQ(psd->Width(), cmyk.Width);
        ASSERT_EQ(psd->Height(), cmyk.Height);
        for (int y = 0; y < cmyk.Height; ++y)
            for (int x = 0; x < cmyk.Width; ++x) {
                const int k = cmyk.At(x, y, 3);
                ASSERT_EQ(psd->PixelColor(x, y), RGBColor(channel(cmyk.At(x, y, 0), k), channel(cmyk.At(x, y, 1), k),
                                                          channel(cmyk.At(x, y, 2), k)))
                    << x << "," << y;
            }
    }
}

TEST(PSDRead, BitmapModeRowsAreWholeBytesWhiteForZero) {
    // Width 10: two bytes per row. Row 0: 1100000001 (black at 0, 1, 9); row 1: all white.
    const std::vector<uint8_t> raw = {0xC0, 0x40, 0x00, 0x00};
    // PackBits: row 0 as a literal of two bytes, row 1 as a run of two zero bytes.
    std::vector<uint8_t> packed = {0, 3, 0, 2, 0x01, 0xC0, 0x40, 0xFF, 0x00};
    for (const auto& file : {MakePsd(1, 2, 10, 1, 0, {}, 0, raw), MakePsd(1, 2, 10, 1, 0, {}, 1, packed)}) {
        auto psd = LoadBytes<TPSDGraphic>(file);
        ASSERT_EQ(psd->PixelFormat(), pf1bit);
        ASSERT_EQ(psd->Palette().Entries.size(), 2u);
        for (int x = 0; x < 10; ++x) {
            const bool black = x == 0 || x == 1 || x == 9;
            EXPECT_EQ(psd->PixelColor(x, 0), black ? clBlack : clWhite) << x;
            EXPECT_EQ(psd->PixelColor(x, 1), clWhite) << x;
        }
    }
}

TEST(PSDRead, LabCmykDuotoneAndExtraChannelsByHand) {
    // L*a*b*: L = 255, a = b = 128 stored is white; L = 0 is black.
    auto lab = LoadBytes<TPSDGraphic>(MakePsd(3, 1, 2, 8, 9, {}, 0, {255, 0, 128, 128, 128, 128}));
    EXPECT_EQ(lab->PixelColor(0, 0), clWhite);
    EXPECT_EQ(lab->PixelColor(1, 0), clBlack);
    // CMYK stored all 255 is no ink at all; stored 0 in K only is full black.
    auto cmyk = LoadBytes<TPSDGraphic>(MakePsd(4, 1, 2, 8, 4, {}, 0, {255, 255, 255, 255, 255, 255, 255, 0}));
    EXPECT_EQ(cmyk->PixelColor(0, 0), clWhite);
    EXPECT_EQ(cmyk->PixelColor(1, 0), clBlack);
    // Duotone with its own mode data: read as grey.
    auto duo = LoadBytes<TPSDGraphic>(MakePsd(1, 1, 3, 8, 8, std::vector<uint8_t>(40, 7), 0, {0, 100, 255}));
    EXPECT_EQ(duo->PixelFormat(), pf8bit);
    EXPECT_EQ(duo->PixelColor(1, 0), RGBColor(100, 100, 100));
    EXPECT_EQ(duo->Palette().Entries, GreyPalette(256).Entries);
    // Grey with an alpha channel: the alpha plane is not shown.
    auto greyAlpha = LoadBytes<TPSDGraphic>(MakePsd(2, 2, 2, 8, 1, {}, 0, {1, 2, 3, 4, 200, 200, 200, 200}));
    EXPECT_EQ(greyAlpha->ScanLine(0)[0], 1);
    EXPECT_EQ(greyAlpha->ScanLine(1)[1], 4);
    // RGB with five channels: the first three make the colour.
    auto rgb5 = LoadBytes<TPSDGraphic>(MakePsd(5, 1, 1, 8, 3, {}, 0, {10, 20, 30, 40, 50}));
    EXPECT_EQ(rgb5->PixelColor(0, 0), RGBColor(10, 20, 30));
}

TEST(PSDRead, IndexedColourDataOfOtherLengths) {
    std::vector<uint8_t> table(768);
    for (int i = 0; i < 256; ++i) {
        table[size_t(i)] = uint8_t(i);
        table[size_t(256 + i)] = uint8_t(255 - i);
        table[size_t(512 + i)] = uint8_t(i / 2);
    }
    // Longer than the table: the extra bytes are stepped over and the pixels still found.
    std::vector<uint8_t> longer = table;
    longer.insert(longer.end(), 100, 0xEE);
    TPSDGraphic psd;
    {
        TMemoryStream s(MakePsd(1, 1, 2, 8, 2, longer, 0, {3, 200}));
        psd.LoadImageStream(s);
    }
    EXPECT_EQ(psd.PixelColor(0, 0), RGBColor(3, 252, 1));
    EXPECT_EQ(psd.PixelColor(1, 0), RGBColor(200, 55, 100));
    EXPECT_EQ(std::vector<uint8_t>(psd.FColorTable.begin(), psd.FColorTable.end()), table);
    // Shorter: only the bytes given change, the rest of the table stays.
    TMemoryStream s(MakePsd(1, 1, 1, 8, 2, {9, 9, 9}, 0, {1}));
    psd.LoadImageStream(s);
    EXPECT_EQ(psd.FColorTable[0], 9);
    EXPECT_EQ(psd.FColorTable[3], 3);
    EXPECT_EQ(psd.FColorTable[256], 255);
    EXPECT_EQ(psd.PixelColor(0, 0), RGBColor(9, 254, 0));
}

TEST(PSDRead, RefusedFilesLeaveThePictureAlone) {
    TPSDGraphic psd;
    {
        TMemoryStream s(MakePsd(3, 1, 1, 8, 3, {}, 0, {1, 2, 3}));
        psd.LoadImageStream(s);
    }
    auto expectRefused = [&](std::vector<uint8_t> bytes, const std::string& part) {
        TMemoryStream s(std::move(bytes));
        try {
            psd.LoadImageStream(s);
            ADD_FAILURE() << "loaded: " << part;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        EXPECT_EQ(psd.Width(), 1);
        EXPECT_EQ(psd.PixelColor(0, 0), RGBColor(1, 2, 3));
    };
    std::vector<uint8_t> lower = MakePsd(3, 1, 1, 8, 3, {}, 0, {1, 2, 3});
    lower[1] = 'b';
    expectRefused(lower, "Not a valid psd file.");
    expectRefused(MakePsd(2, 1, 1, 8, 3, {}, 0, {1, 2}), "needs 3 channels");
    expectRefused(MakePsd(3, 1, 1, 8, 4, {}, 0, {1, 2, 3}), "needs 4 channels");
    expectRefused(MakePsd(1, 1, 8, 8, 0, {}, 0, std::vector<uint8_t>(8)), "bits per channel");
    expectRefused(MakePsd(1, 1, 8, 1, 1, {}, 0, {1}), "bits per channel");
    expectRefused(MakePsd(3, 1, 1, 32, 3, {}, 0, std::vector<uint8_t>(12)), "bits per channel");
    expectRefused(MakePsd(3, 1, 400000, 8, 3, {}, 0, {}), "width 400000");
    // Huge pictures from tiny files, raw and packed.
    expectRefused(MakePsd(3, 30000, 30000, 8, 3, {}, 0, {1, 2, 3}), "Erreur de lecture du flux");
    std::vector<uint8_t> table(3 * 3000 * 2, 0);
    expectRefused(MakePsd(3, 3000, 3000, 8, 3, {}, 1, table), "cannot fill");
    expectRefused(MakePsd(3, 3000, 3000, 8, 3, {}, 1, {0, 1}), "Erreur de lecture du flux");
    // Data that ends early is the stream's read failure.
    expectRefused(MakePsd(3, 2, 2, 8, 3, {}, 0, std::vector<uint8_t>(11)), "Erreur de lecture du flux");
    // Packed rows that the file does not hold.
    expectRefused(MakePsd(3, 1, 1, 8, 3, {}, 1, {0, 2, 0, 2, 0, 2, 0, 7, 0, 7}), "Erreur de lecture du flux");
}

TEST(PSDRead, UnknownModesGetTheSizeAndNoPixels) {
    auto psd = LoadBytes<TPSDGraphic>(MakePsd(2, 3, 4, 8, 7, {}, 0, std::vector<uint8_t>(24, 0x55)));
    EXPECT_EQ(psd->Width(), 4);
    EXPECT_EQ(psd->Height(), 3);
    EXPECT_EQ(psd->PixelColor(2, 2), clWhite);
}

TEST(PSDRead, ThroughTheGenericPictureByExtension) {
    const std::string path = testing::TempDir() + "/qv_psd_generic.PDD";
    TMemoryStream(Fixture("rgb8_rle.psd")).SaveToFile(path);
    TGenericGraphic g;
    g.LoadImageFile(path);
    EXPECT_EQ(MaxDifference(g, ReadPnm(DataPath("psd/src.ppm"))), 0);
    std::remove(path.c_str());
}

TEST(PSDRead, HostileVariantsFailCleanly) {
    for (const char* name : {"rgb8_rle.psd", "indexed_rle.psd", "rgb16_rle.psd", "gray8_rle.psd", "cmyk16_rle.psd",
                             "cmyk16_raw.psd"}) {
        const std::vector<uint8_t> file = Fixture(name);
        SweepHostileVariants<TPSDGraphic>(file, file.size(), name);
    }
    SweepHostileVariants<TPSDGraphic>(MakePsd(1, 2, 10, 1, 0, {}, 1, {0, 3, 0, 2, 0x01, 0xC0, 0x40, 0xFF, 0x00}), 64,
                                      "bitmap");
}

}  // namespace
}  // namespace qv
