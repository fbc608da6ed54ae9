// The raster: storage layout, sizing, white new areas, palettes, pixel-format conversion.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"

namespace qv {
namespace {

const TPixelFormat kStorableFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfDevice};

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

TEST(Raster, NewRasterIsEmptyDeviceFormat) {
    TBitmap bmp;
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_EQ(bmp.Height(), 0);
    EXPECT_TRUE(bmp.Empty());
    EXPECT_EQ(bmp.PixelFormat(), pfDevice);
    EXPECT_TRUE(bmp.Palette().Entries.empty());
    EXPECT_FALSE(bmp.Modified());
}

TEST(Raster, SizedDeviceRasterStoresThirtyTwoBitPixels) {
    TBitmap bmp;
    bmp.SetSize(3, 2);
    EXPECT_EQ(bmp.PixelFormat(), pfDevice);
    EXPECT_EQ(ScreenBitsPerPixel(), 32);
    EXPECT_EQ(bmp.StorageBits(), 32);
    EXPECT_EQ(bmp.RowBytes(), 12);
    const uint8_t* p = bmp.ScanLine(1) + 8;
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 0);
}

TEST(Raster, RowsArePaddedToFourBytesAndTopDown) {
    struct Case { TPixelFormat pf; int32_t width; int32_t rowBytes; };
    const Case cases[] = {{pf1bit, 1, 4}, {pf1bit, 32, 4}, {pf1bit, 33, 8}, {pf4bit, 9, 8},
                          {pf8bit, 5, 8}, {pf15bit, 3, 8}, {pf16bit, 2, 4}, {pf24bit, 3, 12},
                          {pf24bit, 1, 4}, {pf32bit, 3, 12}};
    for (const Case& c : cases) {
        TBitmap bmp;
        bmp.SetPixelFormat(c.pf);
        bmp.SetSize(c.width, 3);
        EXPECT_EQ(bmp.RowBytes(), c.rowBytes) << PixelFormatName(c.pf) << " width " << c.width;
        EXPECT_EQ(bmp.ScanLine(1) - bmp.ScanLine(0), c.rowBytes);
        EXPECT_EQ(bmp.ScanLine(2) - bmp.ScanLine(1), c.rowBytes);
    }
}

TEST(Raster, ScanLineOutOfRangeThrows) {
    TBitmap bmp;
    EXPECT_THROW(bmp.ScanLine(0), EInvalidGraphicOperation);
    bmp.SetSize(2, 2);
    EXPECT_NO_THROW(bmp.ScanLine(1));
    EXPECT_THROW(bmp.ScanLine(2), EInvalidGraphicOperation);
    EXPECT_THROW(bmp.ScanLine(-1), EInvalidGraphicOperation);
    const TBitmap& cbmp = bmp;
    EXPECT_THROW(cbmp.ScanLine(INT32_MAX), EInvalidGraphicOperation);
}

TEST(Raster, SameSizeOrFormatKeepsTheStorage) {
    for (TPixelFormat pf : kStorableFormats) {
        TBitmap bmp;
        bmp.SetPixelFormat(pf);
        bmp.SetSize(7, 5);
        bmp.Canvas().SetPixel(1, 1, clRed);
        const TColor red = bmp.PixelColor(1, 1);
        ASSERT_NE(red, clWhite);
        const uint8_t* before = bmp.ScanLine(0);
        int changes = 0;
        bmp.OnChange = [&] { ++changes; };
        bmp.SetWidth(7);
        bmp.SetHeight(5);
        bmp.SetSize(7, 5);
        bmp.SetPixelFormat(pf);
        EXPECT_EQ(bmp.ScanLine(0), before) << PixelFormatName(pf);
        EXPECT_EQ(changes, 0) << PixelFormatName(pf);
        EXPECT_EQ(bmp.PixelColor(1, 1), red);
    }
}

TEST(Raster, NegativeSizesCountAsZero) {
    TBitmap bmp;
    bmp.SetSize(4, 4);
    bmp.SetWidth(-3);
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_TRUE(bmp.Empty());
    bmp.SetHeight(INT32_MIN);
    EXPECT_EQ(bmp.Height(), 0);
}

// Every pixel of the new area reads as white, and the stored bytes are the format's white.
TEST(Raster, NewAndGrownAreasAreWhiteInEveryFormat) {
    for (TPixelFormat pf : kStorableFormats) {
        SCOPED_TRACE(PixelFormatName(pf));
        TBitmap bmp;
        bmp.SetPixelFormat(pf);
        bmp.SetSize(3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(bmp.PixelColor(x, y), clWhite) << x << "," << y;
        // A black pixel survives growth; everything new is white.
        bmp.SetPixelColor(2, 1, clBlack);
        bmp.SetWidth(37);
        bmp.SetHeight(4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 37; ++x)
                EXPECT_EQ(bmp.PixelColor(x, y), (x == 2 && y == 1) ? clBlack : clWhite) << x << "," << y;
        // Shrinking and growing again does not bring the old pixel back, and keeps the others.
        bmp.SetPixelColor(1, 1, clBlack);
        bmp.SetWidth(2);
        bmp.SetWidth(3);
        EXPECT_EQ(bmp.PixelColor(2, 1), clWhite);
        EXPECT_EQ(bmp.PixelColor(1, 1), clBlack);
        EXPECT_EQ(bmp.PixelColor(0, 1), clWhite);
        bmp.SetWidth(9);
        bmp.SetPixelColor(8, 2, clBlack);
        bmp.SetWidth(17);
        EXPECT_EQ(bmp.PixelColor(8, 2), clBlack);
        for (int x = 9; x < 17; ++x) EXPECT_EQ(bmp.PixelColor(x, 2), clWhite) << x;
    }
}

TEST(Raster, WhiteBytesPerFormat) {
    TBitmap b32;
    b32.SetPixelFormat(pf32bit);
    b32.SetSize(1, 1);
    EXPECT_EQ(std::memcmp(b32.ScanLine(0), "\xFF\xFF\xFF\x00", 4), 0);
    TBitmap b15;
    b15.SetPixelFormat(pf15bit);
    b15.SetSize(1, 1);
    EXPECT_EQ(Word(b15.ScanLine(0)), 0x7FFF);
    TBitmap b16;
    b16.SetPixelFormat(pf16bit);
    b16.SetSize(1, 1);
    EXPECT_EQ(Word(b16.ScanLine(0)), 0xFFFF);
    TBitmap b8;
    b8.SetPixelFormat(pf8bit);
    b8.SetSize(1, 1);
    EXPECT_EQ(b8.ScanLine(0)[0], 255);  // the grey ramp's white
    TBitmap b4;
    b4.SetPixelFormat(pf4bit);
    b4.SetSize(2, 1);
    EXPECT_EQ(b4.ScanLine(0)[0], 0xFF);  // VGA index 15 twice
    TBitmap b1;
    b1.SetPixelFormat(pf1bit);
    b1.SetSize(8, 1);
    EXPECT_EQ(b1.ScanLine(0)[0], 0xFF);
}

TEST(Raster, NewAreaOfIndexedRasterUsesEntryNearestWhite) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    TLogPalette pal;
    pal.Entries = {{0, 0, 0, 0}, {250, 250, 240, 0}, {255, 0, 0, 0}};
    bmp.SetPalette(pal);
    bmp.SetSize(2, 2);
    EXPECT_EQ(bmp.ScanLine(1)[1], 1);
}

TEST(Raster, DefaultPalettes) {
    TBitmap b1;
    b1.SetPixelFormat(pf1bit);
    ASSERT_EQ(b1.Palette().Entries.size(), 2u);
    EXPECT_EQ(b1.Palette().Entries[0], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(b1.Palette().Entries[1], (TPaletteEntry{255, 255, 255, 0}));

    TBitmap b4;
    b4.SetPixelFormat(pf4bit);
    ASSERT_EQ(b4.Palette().Entries.size(), 16u);
    EXPECT_EQ(b4.Palette().Entries[1], (TPaletteEntry{128, 0, 0, 0}));
    EXPECT_EQ(b4.Palette().Entries[7], (TPaletteEntry{192, 192, 192, 0}));
    EXPECT_EQ(b4.Palette().Entries[8], (TPaletteEntry{128, 128, 128, 0}));
    EXPECT_EQ(b4.Palette().Entries[12], (TPaletteEntry{0, 0, 255, 0}));
    EXPECT_EQ(b4.Palette().Entries[15], (TPaletteEntry{255, 255, 255, 0}));

    TBitmap b8;
    b8.SetPixelFormat(pf8bit);
    ASSERT_EQ(b8.Palette().Entries.size(), 256u);
    for (int k = 0; k < 256; ++k) EXPECT_EQ(b8.Palette().Entries[k], (TPaletteEntry{uint8_t(k), uint8_t(k), uint8_t(k), 0}));
    EXPECT_EQ(b8.Palette().Version, 0x300);

    TBitmap b24;
    b24.SetPixelFormat(pf24bit);
    EXPECT_TRUE(b24.Palette().Entries.empty());
}

TEST(Raster, PaletteIsLimitedToTheFormatsEntries) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf1bit);
    bmp.SetPalette(GreyPalette(256));
    EXPECT_EQ(bmp.Palette().Entries.size(), 2u);
    TBitmap tc;
    tc.SetPixelFormat(pf24bit);
    TLogPalette big = GreyPalette(256);
    big.Entries.resize(300);
    tc.SetPalette(big);
    EXPECT_EQ(tc.Palette().Entries.size(), 256u);
    const auto entries = bmp.GetPaletteEntries(0, 4);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1], (TPaletteEntry{1, 1, 1, 0}));
    EXPECT_EQ(entries[2], TPaletteEntry{});
    EXPECT_EQ(entries[3], TPaletteEntry{});
    EXPECT_EQ(bmp.GetPaletteEntries(0, 100000).size(), 256u);
    EXPECT_TRUE(bmp.GetPaletteEntries(0, -5).empty());
}

// Black and white survive every conversion; colours that a format holds exactly survive
// conversions into formats that hold them too.
TEST(Raster, ConversionBetweenEveryPairKeepsBlackAndWhite) {
    for (TPixelFormat from : kStorableFormats) {
        for (TPixelFormat to : kStorableFormats) {
            if (to == pfDevice) continue;  // a sized raster is not relabelled
            SCOPED_TRACE(std::string(PixelFormatName(from)) + " -> " + PixelFormatName(to));
            TBitmap bmp;
            bmp.SetPixelFormat(from);
            bmp.SetSize(9, 3);
            for (int x = 0; x < 9; ++x) bmp.SetPixelColor(x, 1, (x % 2) ? clBlack : clWhite);
            bmp.SetPixelFormat(to);
            EXPECT_EQ(bmp.PixelFormat(), to);
            EXPECT_EQ(bmp.Width(), 9);
            EXPECT_EQ(bmp.Height(), 3);
            for (int x = 0; x < 9; ++x) {
                EXPECT_EQ(bmp.PixelColor(x, 0), clWhite);
                EXPECT_EQ(bmp.PixelColor(x, 1), (x % 2) ? clBlack : clWhite) << x;
            }
        }
    }
}

TEST(Raster, ConversionOfColoursBetweenTrueColourFormats) {
    // Colours that both 5-5-5 and 5-6-5 words hold exactly (green 8, 16, 231, 239 expand back
    // to themselves from 5 and from 6 bits) survive every true-colour format.
    const TColor colours[] = {RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255),
                              RGBColor(132, 231, 8), RGBColor(16, 8, 255)};
    const TPixelFormat tc[] = {pf15bit, pf16bit, pf24bit, pf32bit};
    for (TPixelFormat from : tc) {
        for (TPixelFormat to : tc) {
            SCOPED_TRACE(std::string(PixelFormatName(from)) + " -> " + PixelFormatName(to));
            TBitmap bmp;
            bmp.SetPixelFormat(from);
            bmp.SetSize(5, 1);
            for (int x = 0; x < 5; ++x) bmp.SetPixelColor(x, 0, colours[x]);
            bmp.SetPixelFormat(to);
            for (int x = 0; x < 5; ++x) EXPECT_EQ(bmp.PixelColor(x, 0), colours[x]) << x;
        }
    }
}

TEST(Raster, FifteenAndSixteenBitExpandByBitReplication) {
    TBitmap b15;
    b15.SetPixelFormat(pf15bit);
    b15.SetSize(1, 1);
    // red 31, green 16, blue 1
    const uint16_t w15 = (31 << 10) | (16 << 5) | 1;
    b15.ScanLine(0)[0] = uint8_t(w15);
    b15.ScanLine(0)[1] = uint8_t(w15 >> 8);
    b15.SetPixelFormat(pf24bit);
    const uint8_t* p = b15.ScanLine(0);
    EXPECT_EQ(p[0], 8);    // (1 << 3) | (1 >> 2)
    EXPECT_EQ(p[1], 132);  // (16 << 3) | (16 >> 2)
    EXPECT_EQ(p[2], 255);

    TBitmap b16;
    b16.SetPixelFormat(pf16bit);
    b16.SetSize(1, 1);
    // red 1, green 32, blue 30
    const uint16_t w16 = (1 << 11) | (32 << 5) | 30;
    b16.ScanLine(0)[0] = uint8_t(w16);
    b16.ScanLine(0)[1] = uint8_t(w16 >> 8);
    b16.SetPixelFormat(pf32bit);
    p = b16.ScanLine(0);
    EXPECT_EQ(p[0], 247);  // (30 << 3) | (30 >> 2)
    EXPECT_EQ(p[1], 130);  // (32 << 2) | (32 >> 4)
    EXPECT_EQ(p[2], 8);
    EXPECT_EQ(p[3], 0);

    // The 15-bit layout: bits 0-4 blue, 5-9 green, 10-14 red.
    TBitmap back;
    back.SetPixelFormat(pf15bit);
    back.SetSize(1, 1);
    back.SetPixelColor(0, 0, RGBColor(255, 8, 0));
    EXPECT_EQ(Word(back.ScanLine(0)), (31 << 10) | (1 << 5));
    TBitmap back16;
    back16.SetPixelFormat(pf16bit);
    back16.SetSize(1, 1);
    back16.SetPixelColor(0, 0, RGBColor(0, 4, 255));
    EXPECT_EQ(Word(back16.ScanLine(0)), (1 << 5) | 31);
}

TEST(Raster, ConvertingToThirtyTwoBitClearsTheFourthByte) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(2, 1);
    bmp.SetPixelColor(0, 0, RGBColor(1, 2, 3));
    bmp.SetPixelFormat(pf32bit);
    EXPECT_EQ(std::memcmp(bmp.ScanLine(0), "\x03\x02\x01\x00\xFF\xFF\xFF\x00", 8), 0);

    // A device raster (stored as 32 bits) with a fourth byte set, converted to 32-bit.
    // It keeps its storage: the layout is the same.
    TBitmap dev;
    dev.SetSize(2, 2);
    dev.ScanLine(1)[7] = 0x7F;
    dev.SetPixelColor(0, 1, RGBColor(5, 6, 7));
    const uint8_t* before = dev.ScanLine(0);
    dev.SetPixelFormat(pf32bit);
    EXPECT_EQ(dev.PixelFormat(), pf32bit);
    EXPECT_EQ(dev.ScanLine(0), before);
    EXPECT_EQ(dev.ScanLine(1)[7], 0);
    EXPECT_EQ(dev.PixelColor(1, 1), clWhite);
    EXPECT_EQ(dev.PixelColor(0, 1), RGBColor(5, 6, 7));
}

TEST(Raster, IndexedToTrueColourGoesThroughThePalette) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    TLogPalette pal;
    pal.Entries = {{10, 20, 30, 0}, {200, 100, 50, 0}, {7, 8, 9, 0}};
    bmp.SetPalette(pal);
    bmp.SetSize(4, 1);
    uint8_t* row = bmp.ScanLine(0);
    row[0] = 2;
    row[1] = 1;
    row[2] = 0;
    row[3] = 200;  // no such entry: black
    bmp.SetPixelFormat(pf24bit);
    EXPECT_EQ(bmp.PixelColor(0, 0), RGBColor(7, 8, 9));
    EXPECT_EQ(bmp.PixelColor(1, 0), RGBColor(200, 100, 50));
    EXPECT_EQ(bmp.PixelColor(2, 0), RGBColor(10, 20, 30));
    EXPECT_EQ(bmp.PixelColor(3, 0), clBlack);
    EXPECT_TRUE(bmp.Palette().Entries.empty());
}

TEST(Raster, OneAndFourBitToEightBitKeepIndicesAndPalette) {
    TBitmap b1;
    b1.SetPixelFormat(pf1bit);
    TLogPalette pal;
    pal.Entries = {{255, 0, 0, 0}, {0, 0, 255, 0}};
    b1.SetPalette(pal);
    b1.SetSize(10, 2);
    b1.ScanLine(0)[0] = 0xA5;  // 1 0 1 0 0 1 0 1
    b1.ScanLine(0)[1] = 0x40;  // pixel 9 set
    b1.SetPixelFormat(pf8bit);
    EXPECT_EQ(b1.Palette().Entries, pal.Entries);
    const uint8_t expect[10] = {1, 0, 1, 0, 0, 1, 0, 1, 0, 1};
    for (int x = 0; x < 10; ++x) EXPECT_EQ(b1.ScanLine(0)[x], expect[x]) << x;

    TBitmap b4;
    b4.SetPixelFormat(pf4bit);
    b4.SetSize(3, 1);
    b4.ScanLine(0)[0] = 0x9C;  // pixels 9, 12
    b4.ScanLine(0)[1] = 0x30;  // pixel 3
    b4.SetPixelFormat(pf8bit);
    EXPECT_EQ(b4.Palette().Entries.size(), 16u);
    EXPECT_EQ(b4.ScanLine(0)[0], 9);
    EXPECT_EQ(b4.ScanLine(0)[1], 12);
    EXPECT_EQ(b4.ScanLine(0)[2], 3);
    EXPECT_EQ(b4.PixelColor(0, 0), clRed);
}

TEST(Raster, IndexedToSmallerIndexedKeepsIndicesWhenThePaletteFits) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    TLogPalette pal;
    for (int i = 0; i < 10; ++i) pal.Entries.push_back({uint8_t(i * 20), 0, uint8_t(255 - i * 20), 0});
    bmp.SetPalette(pal);
    bmp.SetSize(3, 1);
    bmp.ScanLine(0)[0] = 9;
    bmp.ScanLine(0)[1] = 4;
    bmp.ScanLine(0)[2] = 0;
    bmp.SetPixelFormat(pf4bit);
    EXPECT_EQ(bmp.Palette().Entries, pal.Entries);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x94);
    EXPECT_EQ(bmp.ScanLine(0)[1] >> 4, 0);
}

TEST(Raster, IndexedToSmallerIndexedMapsNearestColourOtherwise) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);  // grey ramp
    bmp.SetSize(4, 1);
    uint8_t* row = bmp.ScanLine(0);
    row[0] = 0;
    row[1] = 120;  // nearest VGA colour: grey 128 (index 8)
    row[2] = 200;  // silver 192 (index 7)
    row[3] = 250;  // white (index 15)
    bmp.SetPixelFormat(pf4bit);
    EXPECT_EQ(bmp.Palette().Entries.size(), 16u);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x08);
    EXPECT_EQ(bmp.ScanLine(0)[1], 0x7F);
    bmp.SetPixelFormat(pf1bit);
    EXPECT_EQ(bmp.ScanLine(0)[0] >> 4, 0x7);  // black, then three whites
}

TEST(Raster, TrueColourToIndexedTakesTheNearestEntry) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 1);
    bmp.SetPixelColor(0, 0, RGBColor(250, 10, 5));
    bmp.SetPixelColor(1, 0, RGBColor(90, 90, 90));
    bmp.SetPixelColor(2, 0, RGBColor(0, 0, 140));
    // Without a palette the 4-bit default applies.
    TBitmap copy;
    copy.Assign(bmp);
    copy.SetPixelFormat(pf4bit);
    EXPECT_EQ(copy.PixelColor(0, 0), clRed);
    EXPECT_EQ(copy.PixelColor(1, 0), RGBColor(128, 128, 128));
    EXPECT_EQ(copy.PixelColor(2, 0), RGBColor(0, 0, 128));
    // A palette set on the true-colour raster is the one the conversion uses.
    TLogPalette pal;
    pal.Entries = {{0, 0, 0, 0}, {100, 100, 100, 0}, {255, 0, 0, 0}, {0, 0, 255, 0}};
    bmp.SetPalette(pal);
    bmp.SetPixelFormat(pf8bit);
    EXPECT_EQ(bmp.Palette().Entries, pal.Entries);
    EXPECT_EQ(bmp.ScanLine(0)[0], 2);
    EXPECT_EQ(bmp.ScanLine(0)[1], 1);
    EXPECT_EQ(bmp.ScanLine(0)[2], 3);
}

TEST(Raster, DeviceAndCustomRequestsOnlyRelabelEmptyRasters) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(2, 2);
    const uint8_t* before = bmp.ScanLine(0);
    bmp.SetPixelFormat(pfDevice);
    bmp.SetPixelFormat(pfCustom);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(bmp.ScanLine(0), before);
    TBitmap empty;
    empty.SetPixelFormat(pf8bit);
    empty.SetPixelFormat(pfDevice);
    EXPECT_EQ(empty.PixelFormat(), pfDevice);
    empty.SetPixelFormat(pfCustom);
    EXPECT_EQ(empty.PixelFormat(), pfCustom);
    EXPECT_EQ(BitsPerPixel(pfCustom), 0);
    empty.SetSize(3, 1);  // stored like a device raster
    EXPECT_EQ(empty.RowBytes(), 12);
    EXPECT_EQ(empty.PixelColor(2, 0), clWhite);
}

TEST(Raster, RefusesMoreThanOneGibibyteAndStaysUnchanged) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetSize(65536, 1);
    bmp.SetPixelColor(5, 0, clBlack);
    const uint8_t* before = bmp.ScanLine(0);
    try {
        bmp.SetHeight(4097);  // 65536 * 4 * 4097 bytes: just over 1 GiB
        FAIL() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_NE(std::string(e.what()).find("1 GiB"), std::string::npos) << e.what();
    }
    EXPECT_EQ(bmp.Height(), 1);
    EXPECT_EQ(bmp.ScanLine(0), before);
    EXPECT_EQ(bmp.PixelColor(5, 0), clBlack);
    // Widths whose row alone overflows 32 bits.
    EXPECT_THROW(bmp.SetWidth(INT32_MAX), EInvalidGraphicOperation);
    EXPECT_EQ(bmp.Width(), 65536);
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetHeight(INT32_MAX);
    EXPECT_THROW(mono.SetWidth(INT32_MAX), EInvalidGraphicOperation);
    EXPECT_EQ(mono.Width(), 0);
}

TEST(Raster, RefusedConversionLeavesTheRasterAsItWas) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf1bit);
    bmp.SetSize(65536, 4097);  // 32 MiB at 1 bit, just over 1 GiB at 32 bits
    bmp.SetPixelColor(3, 4000, clBlack);
    const uint8_t* before = bmp.ScanLine(0);
    EXPECT_THROW(bmp.SetPixelFormat(pf32bit), EInvalidGraphicOperation);
    EXPECT_EQ(bmp.PixelFormat(), pf1bit);
    EXPECT_EQ(bmp.ScanLine(0), before);
    EXPECT_EQ(bmp.RowBytes(), 8192);
    EXPECT_EQ(bmp.Palette().Entries.size(), 2u);
    EXPECT_EQ(bmp.PixelColor(3, 4000), clBlack);
}

TEST(Raster, PaletteGivenToATrueColourRasterWaitsForTheIndexedConversion) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    TLogPalette pal;
    pal.Entries = {{0, 0, 0, 0}, {0, 200, 0, 0}};
    bmp.SetPalette(pal);
    bmp.SetSize(1, 1);
    bmp.SetPixelColor(0, 0, RGBColor(10, 180, 20));
    bmp.SetPixelFormat(pf32bit);
    bmp.SetPixelFormat(pf8bit);
    EXPECT_EQ(bmp.Palette().Entries, pal.Entries);
    EXPECT_EQ(bmp.ScanLine(0)[0], 1);
}

TEST(Raster, ModifiedFlagAndChangeCallback) {
    TBitmap bmp;
    int calls = 0;
    bmp.OnChange = [&] { ++calls; };
    bmp.SetModified(true);
    EXPECT_TRUE(bmp.Modified());
    EXPECT_EQ(calls, 1);
    bmp.SetModified(false);
    EXPECT_FALSE(bmp.Modified());
    EXPECT_EQ(calls, 1);
    bmp.SetSize(2, 2);
    EXPECT_GE(calls, 2);
    const int afterResize = calls;
    bmp.Canvas().FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(calls, afterResize + 1);
}

TEST(Raster, AssignCopiesSizeFormatPaletteAndPixelsButNotTheCallback) {
    TBitmap src;
    src.SetPixelFormat(pf8bit);
    TLogPalette pal;
    pal.Entries = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    src.SetPalette(pal);
    src.SetSize(3, 2);
    src.ScanLine(1)[2] = 1;
    int srcCalls = 0;
    src.OnChange = [&] { ++srcCalls; };

    TBitmap dst;
    int dstCalls = 0;
    dst.OnChange = [&] { ++dstCalls; };
    dst.Assign(src);
    EXPECT_EQ(dst.Width(), 3);
    EXPECT_EQ(dst.Height(), 2);
    EXPECT_EQ(dst.PixelFormat(), pf8bit);
    EXPECT_EQ(dst.Palette().Entries, pal.Entries);
    EXPECT_EQ(dst.PixelColor(2, 1), RGBColor(4, 5, 6));
    EXPECT_NE(dst.ScanLine(0), src.ScanLine(0));
    // The copy is independent and keeps its own callback.
    dst.ScanLine(1)[2] = 0;
    EXPECT_EQ(src.ScanLine(1)[2], 1);
    EXPECT_EQ(srcCalls, 0);
    EXPECT_GE(dstCalls, 1);
    dst.Assign(dst);
    EXPECT_EQ(dst.Width(), 3);
}

TEST(Raster, ReleaseHandleEmptiesEverything) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    bmp.SetSize(5, 5);
    bmp.ReleaseHandle();
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_EQ(bmp.Height(), 0);
    EXPECT_EQ(bmp.PixelFormat(), pfDevice);
    EXPECT_TRUE(bmp.Palette().Entries.empty());
    bmp.SetSize(2, 1);
    EXPECT_EQ(bmp.StorageBits(), 32);
}

TEST(Raster, ClassIdentityAndInheritance) {
    static const TBitmapClass child{"TChild", &TBitmap::Class, &CreateInstance<TBitmap>};
    static const TBitmapClass grandChild{"TGrandChild", &child, &CreateInstance<TBitmap>};
    EXPECT_TRUE(grandChild.InheritsFrom(TBitmap::Class));
    EXPECT_TRUE(grandChild.InheritsFrom(child));
    EXPECT_FALSE(child.InheritsFrom(grandChild));
    EXPECT_FALSE(TBitmap::Class.InheritsFrom(child));
    auto made = TBitmap::Class.Create();
    EXPECT_EQ(&made->ClassType(), &TBitmap::Class);
}

}  // namespace
}  // namespace qv
