// Portable map reader: ImageMagick and netpbm files in all six variants (8 and 16 bits),
// header layouts with comments and numbers on the magic line, the read-ahead at the end of
// the stream, failure texts and hostile variants.
#include <gtest/gtest.h>

#include <string>

#include "TargaTestUtil.h"
#include "imageio/PPMGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("ppm/" + name)); }

std::vector<uint8_t> Bytes(const std::string& text, std::vector<uint8_t> tail = {}) {
    std::vector<uint8_t> b(text.begin(), text.end());
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

uint8_t High(int v) { return uint8_t(v >> 8); }

TEST(PPMRead, ToolFilesInAllSixVariants) {
    const Pnm colour = ReadPnm(DataPath("ppm/p6_im.ppm"));
    const Pnm grey = ReadPnm(DataPath("ppm/p5_im.pgm"));
    const Pnm bits = ReadPnm(DataPath("ppm/p4_im.pbm"));
    const Pnm pattern = ReadPnm(DataPath("ppm/p4_pbmmake.pbm"));
    struct Case {
        const char* Name;
        const Pnm& Ref;
        TPixelFormat Format;
    };
    for (const Case& c : {Case{"p6_im.ppm", colour, pf24bit}, Case{"p3_im.ppm", colour, pf24bit},
                          Case{"p5_im.pgm", grey, pf8bit}, Case{"p2_im.pgm", grey, pf8bit},
                          Case{"p4_im.pbm", bits, pf1bit}, Case{"p1_netpbm.pbm", bits, pf1bit},
                          Case{"p4_pbmmake.pbm", pattern, pf1bit}, Case{"p1_pbmmake.pbm", pattern, pf1bit}}) {
        SCOPED_TRACE(c.Name);
        auto ppm = LoadBytes<TPPMGraphic>(Fixture(c.Name));
        EXPECT_EQ(ppm->PixelFormat(), c.Format);
        EXPECT_EQ(MaxDifference(*ppm, c.Ref), 0);
    }
}

TEST(PPMRead, SamplesAboveEightBitsKeepTheirHighByte) {
    const Pnm colour = ReadPnm(DataPath("ppm/p6_16bit_im.ppm"));
    ASSERT_EQ(colour.MaxVal, 65535);
    for (const char* name : {"p6_16bit_im.ppm", "p3_16bit_netpbm.ppm"}) {
        SCOPED_TRACE(name);
        auto ppm = LoadBytes<TPPMGraphic>(Fixture(name));
        for (int y = 0; y < colour.Height; ++y)
            for (int x = 0; x < colour.Width; ++x)
                ASSERT_EQ(ppm->PixelColor(x, y),
                          RGBColor(High(colour.At(x, y, 0)), High(colour.At(x, y, 1)), High(colour.At(x, y, 2))));
    }
    const Pnm grey = ReadPnm(DataPath("ppm/p5_16bit_im.pgm"));
    auto ppm = LoadBytes<TPPMGraphic>(Fixture("p5_16bit_im.pgm"));
    for (int y = 0; y < grey.Height; ++y)
        for (int x = 0; x < grey.Width; ++x) ASSERT_EQ(ppm->ScanLine(y)[x], High(grey.At(x, y, 0)));
}

TEST(PPMRead, HeaderLayouts) {
    // Comment lines between the numbers, also two in a row, and a comment on the magic line.
    for (const char* header : {"P6\n# made by hand\n2 1\n255\n", "P6\n# one\n# two\n2 1\n255\n",
                               "P6 # magic comment\n2 1\n255\n", "P6\r\n2\r\n1 #c\r\n255\n", "P6 2 1 255\n"}) {
        SCOPED_TRACE(header);
        auto ppm = LoadBytes<TPPMGraphic>(Bytes(header, {10, 20, 30, 40, 50, 60}));
        ASSERT_EQ(ppm->PixelFormat(), pf24bit);
        ASSERT_EQ(ppm->Width(), 2);
        ASSERT_EQ(ppm->Height(), 1);
        EXPECT_EQ(ppm->PixelColor(0, 0), RGBColor(10, 20, 30));
        EXPECT_EQ(ppm->PixelColor(1, 0), RGBColor(40, 50, 60));
    }
    // Raw bitmap: a top row of black, a bottom row of white.
    auto p4 = LoadBytes<TPPMGraphic>(Bytes("P4\n8 2\n", {0xFF, 0x00}));
    EXPECT_EQ(p4->PixelColor(3, 0), clBlack);
    EXPECT_EQ(p4->PixelColor(3, 1), clWhite);
    // A maximum of 15 keeps its samples as they are.
    auto dark = LoadBytes<TPPMGraphic>(Bytes("P5\n2 1\n15\n", {0, 15}));
    EXPECT_EQ(dark->ScanLine(0)[1], 15);
}

TEST(PPMRead, PlainBitmapDigitsSeparatedOrNot) {
    // Width 10: the second byte of each row holds two pixels in its high bits.
    for (const char* text : {"P1\n10 1\n1 0 1 0 1 0 1 0 1 1\n", "P1\n10 1\n1010101011\n", "P1 10 1 10101#x\n01011"}) {
        SCOPED_TRACE(text);
        auto ppm = LoadBytes<TPPMGraphic>(Bytes(text));
        ASSERT_EQ(ppm->PixelFormat(), pf1bit);
        EXPECT_EQ(ppm->ScanLine(0)[0], 0xAA);
        EXPECT_EQ(ppm->ScanLine(0)[1], 0xC0);
    }
    // Text grey and colour samples keep their low eight bits; the last needs no line end.
    auto p2 = LoadBytes<TPPMGraphic>(Bytes("P2\n3 1\n255\n7 300 12"));
    EXPECT_EQ(p2->ScanLine(0)[0], 7);
    EXPECT_EQ(p2->ScanLine(0)[1], 300 & 255);
    EXPECT_EQ(p2->ScanLine(0)[2], 12);
}

TEST(PPMRead, FailureTexts) {
    EXPECT_EQ(LoadError<TPPMGraphic>({}), "PPM: Stream read error.");
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("Q6\n1 1\n255\n", {1, 2, 3})), "Not a valid ppm file.");
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("\nP6\n1 1\n255\n", {1, 2, 3})), "Not a valid ppm file.");
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("Px\n1 1\n")), "'x' is not a valid integer value");
    // Nothing after the "P" of the magic line, before a comment or the line end.
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("P# 6\n1 1\n255\n", {1, 2, 3})), "'' is not a valid integer value");
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("P\r\n6 1 1 255\n", {1, 2, 3})), "'' is not a valid integer value");
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("P")), "'' is not a valid integer value");
    try {
        LoadBytes<TPPMGraphic>(Bytes("Px\n"));
        ADD_FAILURE();
    } catch (const EConvertError&) {
    }
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes("P6\n2 2\n255\n", {1, 2, 3, 4, 5, 6, 7})), "PPM: Stream read error.");
    EXPECT_NE(LoadError<TPPMGraphic>(Bytes("P6\n99999999999 1\n255\n")).find("width"), std::string::npos);
    EXPECT_NE(LoadError<TPPMGraphic>(Bytes("P5\n30000 30000\n255\n", {1})).find("need at least"), std::string::npos);
    // No pixels in a row: a billion rows are done at once.
    auto empty = LoadBytes<TPPMGraphic>(Bytes("P1\n0\n1100101001\n"));
    EXPECT_EQ(empty->Width(), 0);
    EXPECT_EQ(empty->Height(), 1100101001);
    // Variant digits without a format load nothing and fail nothing.
    for (const char* magic : {"P7\n", "P0\n", "P9 1 1\n"}) {
        auto ppm = LoadBytes<TPPMGraphic>(Bytes(magic));
        EXPECT_TRUE(ppm->Empty()) << magic;
    }
}

// A refused header and data that end early both leave the picture as it was.
TEST(PPMRead, FailedLoadsKeepThePicture) {
    TPPMGraphic ppm;
    {
        TMemoryStream s(Bytes("P5 1 1 255\n", {99}));
        ppm.LoadImageStream(s);
    }
    {
        TMemoryStream s(Bytes("Q5 1 1 255\n", {1}));
        EXPECT_THROW(ppm.LoadImageStream(s), Exception);
        EXPECT_EQ(ppm.ScanLine(0)[0], 99);
    }
    TMemoryStream s(Bytes("P6\n2 2\n255\n", {1, 2, 3}));
    EXPECT_THROW(ppm.LoadImageStream(s), Exception);
    ASSERT_EQ(ppm.Width(), 1);
    ASSERT_EQ(ppm.Height(), 1);
    EXPECT_EQ(ppm.PixelFormat(), pf8bit);
    EXPECT_EQ(ppm.ScanLine(0)[0], 99);
}

TEST(PPMRead, TheReadAheadServesNoBytesPastTheEnd) {
    // 5000 pixels after a 15-byte header: the second block of the read-ahead is short.
    const std::string header = "P5 5000 1 255\n";
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    auto whole = LoadBytes<TPPMGraphic>(Bytes(header, data));
    EXPECT_EQ(whole->ScanLine(0)[4999], uint8_t(4999 * 7));
    EXPECT_EQ(whole->ScanLine(0)[4096], uint8_t(4096 * 7));
    data.resize(4990);
    EXPECT_EQ(LoadError<TPPMGraphic>(Bytes(header, data)), "PPM: Stream read error.");
}

TEST(PPMRead, HostileVariantsFailCleanly) {
    for (const char* name : {"p3_im.ppm", "p1_netpbm.pbm", "p6_16bit_im.ppm", "p5_im.pgm", "p4_im.pbm"}) {
        const std::vector<uint8_t> file = Fixture(name);
        SweepHostileVariants<TPPMGraphic>(file, file.size(), name);
    }
}

}  // namespace
}  // namespace qv
