// Targa reading: files written by ImageMagick, ffmpeg and netpbm decode to the pixels the
// tools put in; the edge cases of the header; hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "TargaTestUtil.h"
#include "imageio/TargaGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("targa/" + name)); }
Pnm Reference(const std::string& name) { return ReadPnm(DataPath("targa/" + name)); }

// A Targa header with the given fields (little-endian as in the file).
std::vector<uint8_t> Header(uint8_t type, uint16_t width, uint16_t height, uint8_t depth, uint8_t descriptor = 32,
                            uint8_t mapType = 0, uint16_t mapLength = 0, uint8_t mapEntry = 0, uint16_t firstIndex = 0) {
    std::vector<uint8_t> h(18, 0);
    h[1] = mapType;
    h[2] = type;
    PutLe16(h, 3, firstIndex);
    PutLe16(h, 5, mapLength);
    h[7] = mapEntry;
    PutLe16(h, 12, width);
    PutLe16(h, 14, height);
    h[16] = depth;
    h[17] = descriptor;
    return h;
}

void Append(std::vector<uint8_t>& to, std::initializer_list<uint8_t> bytes) { to.insert(to.end(), bytes); }

TEST(TargaRead, TrueColourFilesInBothRowOrdersAndEncodings) {
    // netpbm stores the bottom row first, ffmpeg the top row first.
    for (const char* name : {"rgb24.tga", "rgb24_rle.tga"}) {
        auto tga = LoadBytes<TTargaGraphic>(Fixture(name));
        EXPECT_EQ(tga->PixelFormat(), pf24bit) << name;
        EXPECT_EQ(MaxDifference(*tga, Reference("src.ppm")), 0) << name;
    }
    auto top = LoadBytes<TTargaGraphic>(Fixture("top_bgr24.tga"));
    EXPECT_EQ(top->PixelFormat(), pf24bit);
    EXPECT_EQ(MaxDifference(*top, Reference("flat.ppm")), 0);
}

TEST(TargaRead, ThirtyTwoBitFilesKeepTheFourthByte) {
    for (auto [name, ref] : {std::pair{"rgba32.tga", "rgba32.pam"}, {"rgba32_rle.tga", "rgba32.pam"},
                             {"top_bgra.tga", "top_bgra.pam"}}) {
        auto tga = LoadBytes<TTargaGraphic>(Fixture(name));
        const Pnm pam = Reference(ref);
        ASSERT_EQ(tga->PixelFormat(), pf32bit) << name;
        EXPECT_EQ(MaxDifference(*tga, pam), 0) << name;
        for (int y = 0; y < pam.Height; ++y)
            for (int x = 0; x < pam.Width; ++x) {
                const uint8_t* p = tga->ScanLine(y) + 4 * x;
                EXPECT_EQ(p[3], pam.At(x, y, 3)) << name << " " << x << "," << y;
                EXPECT_EQ(p[2], pam.At(x, y, 0)) << name;  // red in the third byte
            }
    }
}

TEST(TargaRead, GreyFilesGetTheGreyRamp) {
    for (auto [name, ref] : {std::pair{"grey.tga", "grey.pgm"}, {"grey_rle.tga", "grey.pgm"}, {"top_gray.tga", "top_gray.pgm"}}) {
        auto tga = LoadBytes<TTargaGraphic>(Fixture(name));
        const Pnm pgm = Reference(ref);
        ASSERT_EQ(tga->PixelFormat(), pf8bit) << name;
        ASSERT_EQ(tga->Palette().Entries.size(), 256u);
        EXPECT_EQ(tga->Palette().Entries[200], (TPaletteEntry{200, 200, 200, 0}));
        for (int y = 0; y < pgm.Height; ++y)
            for (int x = 0; x < pgm.Width; ++x) EXPECT_EQ(tga->ScanLine(y)[x], pgm.At(x, y, 0)) << name;
    }
}

TEST(TargaRead, ColourMappedFiles) {
    for (auto [name, ref] : {std::pair{"pal8.tga", "src.ppm"}, {"pal8_rle.tga", "src.ppm"}, {"top_pal8.tga", "top_pal8.ppm"}}) {
        auto tga = LoadBytes<TTargaGraphic>(Fixture(name));
        EXPECT_EQ(tga->PixelFormat(), pf8bit) << name;
        EXPECT_EQ(MaxDifference(*tga, Reference(ref)), 0) << name;
    }
    EXPECT_EQ(LoadBytes<TTargaGraphic>(Fixture("pal8.tga"))->Palette().Entries.size(), 35u);
}

// 15/16-bit pixels are compared field by field with ImageMagick's decode of the file.
void Expect555(const TBitmap& tga, const Pnm& ref, const std::string& name) {
    ASSERT_EQ(tga.PixelFormat(), pf15bit) << name;
    ASSERT_EQ(tga.Width(), ref.Width);
    for (int y = 0; y < ref.Height; ++y)
        for (int x = 0; x < ref.Width; ++x) {
            const uint8_t* p = tga.ScanLine(y) + 2 * x;
            const int w = p[0] | (p[1] << 8);
            auto five = [&](int c) { return int(std::lround(ref.At(x, y, c) * 31.0 / ref.MaxVal)); };
            EXPECT_EQ((w >> 10) & 31, five(0)) << name << " " << x << "," << y;
            EXPECT_EQ((w >> 5) & 31, five(1)) << name;
            EXPECT_EQ(w & 31, five(2)) << name;
        }
}

TEST(TargaRead, SixteenBitFilesRawAndRunLength) {
    Expect555(*LoadBytes<TTargaGraphic>(Fixture("rgb555.tga")), Reference("rgb555.ppm"), "rgb555.tga");
    Expect555(*LoadBytes<TTargaGraphic>(Fixture("top_rgb555le.tga")), Reference("top_rgb555le.ppm"), "top_rgb555le.tga");
    // Depth 15 is read exactly like depth 16.
    std::vector<uint8_t> file = Fixture("rgb555.tga");
    file[16] = 15;
    auto as15 = LoadBytes<TTargaGraphic>(file);
    auto as16 = LoadBytes<TTargaGraphic>(Fixture("rgb555.tga"));
    ASSERT_EQ(as15->PixelFormat(), pf15bit);
    for (int y = 0; y < as16->Height(); ++y)
        EXPECT_EQ(0, std::memcmp(as15->ScanLine(y), as16->ScanLine(y), size_t(2 * as16->Width())));
}

TEST(TargaRead, DescriptorBitFiveChoosesTheRowOrder) {
    std::vector<uint8_t> file = Header(3, 1, 3, 8, 0);
    Append(file, {10, 20, 30});
    auto bottomFirst = LoadBytes<TTargaGraphic>(file);
    EXPECT_EQ(bottomFirst->ScanLine(0)[0], 30);
    EXPECT_EQ(bottomFirst->ScanLine(2)[0], 10);
    file[17] = 32;
    auto topFirst = LoadBytes<TTargaGraphic>(file);
    EXPECT_EQ(topFirst->ScanLine(0)[0], 10);
    EXPECT_EQ(topFirst->ScanLine(2)[0], 30);
}

TEST(TargaRead, ImageIdIsReadAndClearedByAFileWithout) {
    TTargaGraphic tga;
    TMemoryStream withId(Fixture("rgb24_rle.tga"));
    tga.LoadImageStream(withId);
    EXPECT_EQ(tga.ImageID(), "src");  // ppmtotga names the picture after its input
    TMemoryStream without(Fixture("rgb555.tga"));
    tga.LoadImageStream(without);
    EXPECT_EQ(tga.ImageID(), "");
}

TEST(TargaRead, ColourMapEntriesOfEverySize) {
    // First index 5 is ignored: entries always start at palette index 0.
    std::vector<uint8_t> file = Header(1, 2, 1, 8, 32, 1, 2, 24, 5);
    Append(file, {1, 2, 3, 4, 5, 6, 1, 0});
    auto bgr = LoadBytes<TTargaGraphic>(file);
    ASSERT_EQ(bgr->Palette().Entries.size(), 2u);
    EXPECT_EQ(bgr->Palette().Entries[0], (TPaletteEntry{3, 2, 1, 0}));
    EXPECT_EQ(bgr->Palette().Entries[1], (TPaletteEntry{6, 5, 4, 0}));
    EXPECT_EQ(bgr->ScanLine(0)[0], 1);

    file = Header(1, 1, 1, 8, 32, 1, 1, 32);
    Append(file, {10, 20, 30, 99, 0});
    EXPECT_EQ(LoadBytes<TTargaGraphic>(file)->Palette().Entries[0], (TPaletteEntry{30, 20, 10, 0}));

    // 16-bit entries are 5-5-5 words: red 31, green 1, blue 2.
    file = Header(1, 1, 1, 8, 32, 1, 1, 16);
    Append(file, {0x22, 0x7C, 0});
    EXPECT_EQ(LoadBytes<TTargaGraphic>(file)->Palette().Entries[0], (TPaletteEntry{248, 8, 16, 0}));
}

TEST(TargaRead, LongColourMapsAreSkippedPastEntry256) {
    std::vector<uint8_t> file = Header(1, 2, 1, 8, 32, 1, 300, 24);
    for (int i = 0; i < 300; ++i) Append(file, {uint8_t(i), uint8_t(i >> 8), 7});
    Append(file, {255, 17});
    auto tga = LoadBytes<TTargaGraphic>(file);
    ASSERT_EQ(tga->Palette().Entries.size(), 256u);
    EXPECT_EQ(tga->Palette().Entries[255], (TPaletteEntry{7, 0, 255, 0}));
    EXPECT_EQ(tga->ScanLine(0)[0], 255);
    EXPECT_EQ(tga->ScanLine(0)[1], 17);
}

TEST(TargaRead, GreyFileWithAColourMapStepsOverIt) {
    for (uint8_t type : {uint8_t(3), uint8_t(11)}) {
        std::vector<uint8_t> file = Header(type, 2, 1, 8, 32, 1, 2, 24);
        Append(file, {9, 9, 9, 9, 9, 9});
        if (type == 3) Append(file, {40, 50});
        else Append(file, {0x00, 40, 0x00, 50});
        auto tga = LoadBytes<TTargaGraphic>(file);
        EXPECT_EQ(tga->ScanLine(0)[0], 40) << int(type);
        EXPECT_EQ(tga->ScanLine(0)[1], 50) << int(type);
        EXPECT_EQ(tga->Palette().Entries.size(), 256u);
        EXPECT_EQ(tga->Palette().Entries[9], (TPaletteEntry{9, 9, 9, 0}));
    }
}

TEST(TargaRead, RunPacketsAreCutAtTheRowEnd) {
    // The first run covers four pixels of a two-pixel row; its excess is dropped and the
    // next row starts with the next packet.
    std::vector<uint8_t> file = Header(11, 2, 2, 8);
    Append(file, {0x83, 7, 0x01, 9, 8});
    auto tga = LoadBytes<TTargaGraphic>(file);
    EXPECT_EQ(tga->ScanLine(0)[0], 7);
    EXPECT_EQ(tga->ScanLine(0)[1], 7);
    EXPECT_EQ(tga->ScanLine(1)[0], 9);
    EXPECT_EQ(tga->ScanLine(1)[1], 8);
}

TEST(TargaRead, MaximalPacketsOf128Pixels) {
    std::vector<uint8_t> file = Header(11, 256, 1, 8);
    Append(file, {0xFF, 5, 0x7F});
    for (int i = 0; i < 128; ++i) file.push_back(uint8_t(i));
    auto tga = LoadBytes<TTargaGraphic>(file);
    EXPECT_EQ(tga->ScanLine(0)[127], 5);
    EXPECT_EQ(tga->ScanLine(0)[128], 0);
    EXPECT_EQ(tga->ScanLine(0)[255], 127);
}

TEST(TargaRead, TypeZeroGivesTheHeaderSizeWithoutPixels) {
    auto tga = LoadBytes<TTargaGraphic>(Header(0, 4, 3, 24));
    EXPECT_EQ(tga->Width(), 4);
    EXPECT_EQ(tga->Height(), 3);
    EXPECT_EQ(tga->PixelFormat(), pf24bit);
    EXPECT_EQ(tga->PixelColor(3, 2), clWhite);
}

TEST(TargaRead, BadHeadersAreRefusedBeforeTheRasterChanges) {
    TTargaGraphic tga;
    tga.SetPixelFormat(pf24bit);
    tga.SetSize(3, 2);
    for (uint8_t depth : {uint8_t(0), uint8_t(1), uint8_t(4), uint8_t(12), uint8_t(64)}) {
        std::vector<uint8_t> file = Header(2, 2, 2, depth);
        file.resize(file.size() + 64, 1);
        TMemoryStream stream(file);
        try {
            tga.LoadImageStream(stream);
            ADD_FAILURE() << "depth " << int(depth) << " accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), "Targa: unsupported pixel depth: " + std::to_string(depth) + " bits per pixel");
        }
        EXPECT_EQ(tga.Width(), 3);
        EXPECT_EQ(tga.PixelFormat(), pf24bit);
    }
    // 60000 x 60000 pixels announced by a 100-byte file: refused, nothing allocated.
    for (uint8_t type : {uint8_t(2), uint8_t(10), uint8_t(0)}) {
        std::vector<uint8_t> file = Header(type, 60000, 60000, 24);
        file.resize(100, 0);
        const std::string message = LoadError<TTargaGraphic>(file);
        EXPECT_NE(message.find("Targa: 60000 x 60000 pixels"), std::string::npos) << message;
    }
}

TEST(TargaRead, ShortRawRowsFailShortRunLengthDataDecodesWhatIsThere) {
    std::vector<uint8_t> raw = Fixture("rgb24.tga");
    ASSERT_GT(raw.size(), 5u);
    raw.erase(raw.end() - 5, raw.end());
    EXPECT_EQ(LoadError<TTargaGraphic>(raw), "Targa: invalid image");

    std::vector<uint8_t> rle = Header(10, 2, 2, 24, 0);
    Append(rle, {0x81, 1, 2, 3});  // the first stored row (the bottom one), then nothing
    auto tga = LoadBytes<TTargaGraphic>(rle);
    EXPECT_EQ(tga->PixelColor(0, 1), RGBColor(3, 2, 1));
    EXPECT_EQ(tga->PixelColor(0, 0), clWhite);
}

TEST(TargaRead, TruncatedAndCorruptedFixturesFailCleanly) {
    for (const char* name : {"rgb24.tga", "rgb24_rle.tga", "pal8_rle.tga", "grey_rle.tga", "rgba32_rle.tga",
                             "top_rgb555le.tga", "rgba32.tga"})
        SweepHostileVariants<TTargaGraphic>(Fixture(name), 18, name);
}

}  // namespace
}  // namespace qv
