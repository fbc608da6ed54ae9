// PCX reading: files written by ImageMagick and netpbm decode to the pixels the tools put
// in; the palette rules; raw data; hostile files.
#include <gtest/gtest.h>

#include "TargaTestUtil.h"
#include "framework/System.h"
#include "imageio/PCXGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("pcx/" + name)); }
Pnm Reference(const std::string& name) { return ReadPnm(DataPath("pcx/" + name)); }

std::vector<uint8_t> Header(uint8_t bits, uint8_t planes, uint16_t width, uint16_t height, uint16_t bytesPerLine,
                            uint8_t encoding = 0, uint8_t version = 5, uint16_t kind = 1, uint16_t xmin = 0) {
    std::vector<uint8_t> h(128, 0);
    h[0] = 10;
    h[1] = version;
    h[2] = encoding;
    h[3] = bits;
    PutLe16(h, 4, xmin);
    PutLe16(h, 8, uint16_t(xmin + width - 1));
    PutLe16(h, 10, uint16_t(height - 1));
    for (int i = 0; i < 48; ++i) h[16 + i] = uint8_t(i * 5);
    h[65] = planes;
    PutLe16(h, 66, bytesPerLine);
    PutLe16(h, 68, kind);
    return h;
}

// Counts the beeps while it lives.
struct BeepCounter {
    int Count = 0;
    BeepCounter() { SetBeepHook([this] { ++Count; }); }
    ~BeepCounter() { SetBeepHook(nullptr); }
};

TEST(PCXRead, FilesOfEveryLayout) {
    struct Case {
        const char* File;
        const char* Ref;
        TPixelFormat Format;
    };
    for (const Case& c : {Case{"rgb24.pcx", "src.ppm", pf24bit}, Case{"pal8.pcx", "pal8.ppm", pf8bit},
                          Case{"ppm8.pcx", "pal16.ppm", pf8bit}, Case{"pal4.pcx", "pal16.ppm", pf4bit},
                          Case{"mono.pcx", "mono.pbm", pf1bit}}) {
        auto pcx = LoadBytes<TPCXGraphic>(Fixture(c.File));
        EXPECT_EQ(pcx->PixelFormat(), c.Format) << c.File;
        EXPECT_EQ(MaxDifference(*pcx, Reference(c.Ref)), 0) << c.File;
    }
    EXPECT_TRUE(LoadBytes<TPCXGraphic>(Fixture("rgb24.pcx"))->Palette().Entries.empty());
}

// Four 8-bit planes (red, green, blue, alpha), as ImageMagick writes a picture with alpha.
TEST(PCXRead, FourEightBitPlanesKeepTheAlpha) {
    auto pcx = LoadBytes<TPCXGraphic>(Fixture("rgba32.pcx"));
    const Pnm pam = Reference("rgba32.pam");
    ASSERT_EQ(pcx->PixelFormat(), pf32bit);
    EXPECT_EQ(MaxDifference(*pcx, pam), 0);
    int wrong = 0;
    for (int y = 0; y < pam.Height; ++y)
        for (int x = 0; x < pam.Width; ++x) wrong += pcx->ScanLine(y)[4 * x + 3] != pam.At(x, y, 3);
    EXPECT_EQ(wrong, 0);
}

TEST(PCXRead, ScreenCaptureMakerByteLoadsTheSame) {
    std::vector<uint8_t> file = Fixture("pal4.pcx");
    file[0] = 205;
    EXPECT_EQ(MaxDifference(*LoadBytes<TPCXGraphic>(file), Reference("pal16.ppm")), 0);
}

TEST(PCXRead, VersionThreeGetsTheStandardColours) {
    for (const char* name : {"pal4.pcx", "pal8.pcx"}) {
        std::vector<uint8_t> file = Fixture(name);
        file[1] = 3;
        auto pcx = LoadBytes<TPCXGraphic>(file);
        ASSERT_EQ(pcx->Palette().Entries.size(), 16u) << name;
        EXPECT_EQ(pcx->Palette().Entries[1], (TPaletteEntry{128, 0, 0, 0}));
        EXPECT_EQ(pcx->Palette().Entries[8], (TPaletteEntry{192, 192, 192, 0}));
        EXPECT_EQ(pcx->Palette().Entries[13], (TPaletteEntry{255, 0, 255, 0}));
    }
    // A 1-bit file keeps black and white.
    std::vector<uint8_t> mono = Fixture("mono.pcx");
    mono[1] = 3;
    EXPECT_EQ(LoadBytes<TPCXGraphic>(mono)->Palette().Entries.size(), 2u);
}

TEST(PCXRead, WidthFromXminAndXmaxAndOneBitRowsFillBothBytes) {
    std::vector<uint8_t> file = Header(1, 1, 10, 2, 2, 0, 5, 1, 10);
    for (uint8_t b : {0xFF, 0xC0, 0x80, 0x40}) file.push_back(b);
    auto pcx = LoadBytes<TPCXGraphic>(file);
    EXPECT_EQ(pcx->Width(), 10);
    EXPECT_EQ(pcx->ScanLine(0)[0], 0xFF);
    EXPECT_EQ(pcx->ScanLine(0)[1], 0xC0);
    EXPECT_EQ(pcx->PixelColor(9, 0), clWhite);
    EXPECT_EQ(pcx->PixelColor(8, 1), clBlack);
    EXPECT_EQ(pcx->PixelColor(9, 1), clWhite);  // the tenth pixel lives in the second byte
    EXPECT_EQ(pcx->PixelColor(1, 1), clBlack);
}

TEST(PCXRead, FourPlanesWithGreyPaletteKind) {
    // One row of 8 pixels: plane k sets bit k; pixel x has value x, pixel 7 value 15.
    std::vector<uint8_t> file = Header(1, 4, 8, 1, 1, 0, 5, 2);
    for (uint8_t b : {0x55, 0x33, 0x0F, 0x01}) file.push_back(b);
    auto pcx = LoadBytes<TPCXGraphic>(file);
    ASSERT_EQ(pcx->PixelFormat(), pf4bit);
    EXPECT_EQ(pcx->Palette().Entries[15], (TPaletteEntry{240, 240, 240, 0}));
    EXPECT_EQ(pcx->Palette().Entries[3], (TPaletteEntry{48, 48, 48, 0}));
    const uint8_t* row = pcx->ScanLine(0);
    // Left pixel in the high four bits.
    EXPECT_EQ(row[0], 0x01);
    EXPECT_EQ(row[1], 0x23);
    EXPECT_EQ(row[2], 0x45);
    EXPECT_EQ(row[3], 0x6F);
}

TEST(PCXRead, EightBitPaletteBlockAndItsAbsence) {
    std::vector<uint8_t> file = Header(8, 1, 2, 1, 2, 1);
    file.insert(file.end(), {0xC2, 3});  // run of two pixels of index 3
    file.push_back(12);
    for (int i = 0; i < 256; ++i) file.insert(file.end(), {uint8_t(i), uint8_t(255 - i), 9});
    {
        BeepCounter beeps;
        auto pcx = LoadBytes<TPCXGraphic>(file);
        EXPECT_EQ(pcx->Palette().Entries[3], (TPaletteEntry{3, 252, 9, 0}));
        EXPECT_EQ(pcx->ScanLine(0)[0], 3);
        EXPECT_EQ(pcx->ScanLine(0)[1], 3);
        EXPECT_EQ(beeps.Count, 0);
    }
    // Without the marker: a beep, and the indexes show as grey levels.
    file[file.size() - 769] = 0;
    {
        BeepCounter beeps;
        auto pcx = LoadBytes<TPCXGraphic>(file);
        EXPECT_EQ(beeps.Count, 1);
        EXPECT_EQ(pcx->Palette().Entries[3], (TPaletteEntry{3, 3, 3, 0}));
    }
    // Grey palette kind: grey levels and no beep.
    PutLe16(file, 68, 2);
    {
        BeepCounter beeps;
        auto pcx = LoadBytes<TPCXGraphic>(file);
        EXPECT_EQ(beeps.Count, 0);
        EXPECT_EQ(pcx->Palette().Entries[200], (TPaletteEntry{200, 200, 200, 0}));
    }
    // A file too short to hold a block at all.
    std::vector<uint8_t> tiny = Header(8, 1, 2, 1, 2, 1);
    tiny.insert(tiny.end(), {0xC2, 3});
    BeepCounter beeps;
    auto pcx = LoadBytes<TPCXGraphic>(tiny);
    EXPECT_EQ(beeps.Count, 1);
    EXPECT_EQ(pcx->Width(), 2);
}

TEST(PCXRead, RawRowsAndShortRawData) {
    std::vector<uint8_t> file = Header(8, 3, 2, 2, 2, 0);
    // Row 0: red plane, green plane, blue plane; row 1 cut after its red plane. With an
    // encoding byte of 0, bytes of 192 and above are pixels, not counts.
    file.insert(file.end(), {200, 11, 20, 21, 30, 255, 40, 41});
    auto pcx = LoadBytes<TPCXGraphic>(file);
    EXPECT_EQ(pcx->PixelColor(0, 0), RGBColor(200, 20, 30));
    EXPECT_EQ(pcx->PixelColor(1, 0), RGBColor(11, 21, 255));
    EXPECT_EQ(pcx->PixelColor(1, 1), RGBColor(41, 0, 0));  // the missing planes read as 0

    // No data at all after the header.
    auto empty = LoadBytes<TPCXGraphic>(Header(8, 3, 2, 2, 2, 0));
    EXPECT_EQ(empty->PixelColor(1, 1), clBlack);
}

TEST(PCXRead, SaveWritesNothing) {
    auto pcx = LoadBytes<TPCXGraphic>(Fixture("rgb24.pcx"));
    TMemoryStream out;
    pcx->SaveImageStream(out);
    EXPECT_EQ(out.Size(), 0);
}

TEST(PCXRead, BadHeadersAreRefusedBeforeThePictureChanges) {
    auto pcx = LoadBytes<TPCXGraphic>(Fixture("rgb24.pcx"));
    auto refuse = [&](const std::vector<uint8_t>& file) {
        TMemoryStream stream(file);
        std::string message;
        try {
            pcx->LoadImageStream(stream);
        } catch (const Exception& e) {
            message = e.what();
        }
        EXPECT_EQ(MaxDifference(*pcx, Reference("src.ppm")), 0) << message;
        return message;
    };
    std::vector<uint8_t> file = Fixture("rgb24.pcx");
    file[0] = 11;
    EXPECT_EQ(refuse(file), "Not a PCX or SCR file.");
    file = Fixture("rgb24.pcx");
    file[65] = 2;
    EXPECT_EQ(refuse(file), "PCX: wrong pixel format");
    file[65] = 5;
    EXPECT_EQ(refuse(file), "PCX: wrong pixel format");
    file = Fixture("rgb24.pcx");
    PutLe16(file, 66, 3);  // 3 bytes per plane for 7 pixels
    EXPECT_EQ(refuse(file), "PCX: BytesPerLine 3 is too small for a width of 7 pixels");
    file = Fixture("rgb24.pcx");
    PutLe16(file, 4, 100);  // Xmin above Xmax
    EXPECT_NE(refuse(file).find("PCX: invalid picture size"), std::string::npos);
    // 60000 x 60000 pixels in a tiny file.
    std::vector<uint8_t> huge = Header(8, 3, 60000, 60000, 60000, 1);
    huge.resize(228, 0xC1);
    EXPECT_NE(refuse(huge).find("PCX: 60000 x 60000 pixels"), std::string::npos);
}

TEST(PCXRead, TruncatedAndCorruptedFixturesFailCleanly) {
    for (const char* name : {"rgb24.pcx", "pal4.pcx", "mono.pcx", "ppm8.pcx", "rgba32.pcx"})
        SweepHostileVariants<TPCXGraphic>(Fixture(name), 128, name);
}

}  // namespace
}  // namespace qv
