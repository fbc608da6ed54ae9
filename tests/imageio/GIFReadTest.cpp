// GIF reading: files written by ImageMagick and ffmpeg decode to the pixels the tools put
// in; colour tables, extensions, interlacing, the screen size; hostile files.
#include <gtest/gtest.h>

#include "TargaTestUtil.h"
#include "imageio/GIFGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("gif/" + name)); }
Pnm Reference(const std::string& name) { return ReadPnm(DataPath("gif/" + name)); }

// Offset of the first image descriptor (its 44 byte) of a well-formed file.
size_t ImageStart(const std::vector<uint8_t>& d) {
    size_t p = 13;
    if (d[10] & 0x80) p += 3 * (size_t(2) << (d[10] & 7));
    while (d[p] == 0x21) {
        p += 2;
        while (d[p] != 0) p += d[p] + 1u;
        ++p;
    }
    EXPECT_EQ(d[p], 44);
    return p;
}

// LZW codes of the given width packed least significant bit first.
std::vector<uint8_t> PackLsb(const std::vector<int>& codes, int width) {
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int held = 0;
    for (int c : codes) {
        acc |= uint32_t(c) << held;
        held += width;
        while (held >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            held -= 8;
        }
    }
    if (held > 0) out.push_back(uint8_t(acc));
    return out;
}

// A GIF of width x height pixels with the given indexes (each one literal code, code size
// 4: clear 16, end 17, codes 5 bits wide for up to 14 pixels), a 16-entry global table.
std::vector<uint8_t> TinyGif(uint16_t width, uint16_t height, const std::vector<int>& pixels, uint8_t imageFlags = 0,
                             uint16_t screenWidth = 0, uint16_t screenHeight = 0) {
    std::vector<uint8_t> f = {'G', 'I', 'F', '8', '9', 'a'};
    f.insert(f.end(), {uint8_t(screenWidth), uint8_t(screenWidth >> 8), uint8_t(screenHeight), uint8_t(screenHeight >> 8),
                       0x83, 0, 0});
    for (int i = 0; i < 16; ++i) f.insert(f.end(), {uint8_t(i * 16), uint8_t(i), uint8_t(255 - i)});
    f.insert(f.end(), {44, 0, 0, 0, 0, uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), imageFlags, 4});
    std::vector<int> codes = {16};
    codes.insert(codes.end(), pixels.begin(), pixels.end());
    codes.push_back(17);
    const std::vector<uint8_t> data = PackLsb(codes, 5);
    f.push_back(uint8_t(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    f.insert(f.end(), {0, 59});
    return f;
}

TEST(GIFRead, FilesFromImageMagickAndFfmpeg) {
    for (auto [name, ref] : {std::pair{"global.gif", "src.ppm"}, {"interlaced.gif", "src.ppm"},
                             {"anim.gif", "src.ppm"}, {"ffmpeg.gif", "ffmpeg.ppm"}}) {
        auto gif = LoadBytes<TGIFGraphic>(Fixture(name));
        EXPECT_EQ(gif->PixelFormat(), pf8bit) << name;
        EXPECT_EQ(MaxDifference(*gif, Reference(ref)), 0) << name;
    }
    EXPECT_EQ(LoadBytes<TGIFGraphic>(Fixture("global.gif"))->Palette().Entries.size(), 64u);
    EXPECT_EQ(LoadBytes<TGIFGraphic>(Fixture("ffmpeg.gif"))->Palette().Entries.size(), 256u);
}

TEST(GIFRead, TwoColourFileIsEightBitWithTwoEntries) {
    auto gif = LoadBytes<TGIFGraphic>(Fixture("mono.gif"));
    EXPECT_EQ(gif->PixelFormat(), pf8bit);
    EXPECT_EQ(gif->Palette().Entries.size(), 2u);
    EXPECT_EQ(MaxDifference(*gif, Reference("mono.ppm")), 0);
}

TEST(GIFRead, LowerCaseSignatureIsAccepted) {
    std::vector<uint8_t> file = Fixture("global.gif");
    file[0] = 'g';
    file[1] = 'i';
    file[2] = 'f';
    EXPECT_EQ(MaxDifference(*LoadBytes<TGIFGraphic>(file), Reference("src.ppm")), 0);
}

TEST(GIFRead, LocalTableWinsOverAGlobalOne) {
    // global.gif's table moves behind the image descriptor; a 256-entry grey table
    // takes its place in the screen descriptor.
    const std::vector<uint8_t> g = Fixture("global.gif");
    const uint8_t size = g[10] & 7;
    const size_t tableBytes = 3 * (size_t(2) << size);
    const size_t image = ImageStart(g);
    std::vector<uint8_t> f(g.begin(), g.begin() + 13);
    f[10] = 0x80 | 7;
    for (int i = 0; i < 256; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    f.insert(f.end(), g.begin() + 13 + ptrdiff_t(tableBytes), g.begin() + ptrdiff_t(image) + 10);
    f.back() = uint8_t(0x80 | size);
    f.insert(f.end(), g.begin() + 13, g.begin() + 13 + ptrdiff_t(tableBytes));
    f.insert(f.end(), g.begin() + ptrdiff_t(image) + 10, g.end());
    auto gif = LoadBytes<TGIFGraphic>(f);
    EXPECT_EQ(gif->Palette().Entries.size(), size_t(2) << size);
    EXPECT_EQ(MaxDifference(*gif, Reference("src.ppm")), 0);
}

TEST(GIFRead, NoTableKeepsTheDefaultPalette) {
    std::vector<uint8_t> f = TinyGif(2, 1, {3, 5});
    f[10] = 0;
    f.erase(f.begin() + 13, f.begin() + 13 + 48);
    auto gif = LoadBytes<TGIFGraphic>(f);
    TBitmap plain;
    plain.SetPixelFormat(pf8bit);
    EXPECT_EQ(gif->Palette().Entries, plain.Palette().Entries);
    EXPECT_EQ(gif->ScanLine(0)[1], 5);
}

TEST(GIFRead, ZeroImageSizeTakesTheScreenSizeOtherwiseTheImageSizeCounts) {
    auto zero = LoadBytes<TGIFGraphic>(TinyGif(0, 0, {1, 2, 3, 4, 5, 6}, 0, 3, 2));
    EXPECT_EQ(zero->Width(), 3);
    EXPECT_EQ(zero->Height(), 2);
    EXPECT_EQ(zero->ScanLine(1)[2], 6);
    auto own = LoadBytes<TGIFGraphic>(TinyGif(2, 1, {7, 8}, 0, 40, 30));
    EXPECT_EQ(own->Width(), 2);
    EXPECT_EQ(own->Height(), 1);
}

TEST(GIFRead, ExtensionsAreSkippedWholeEvenWhenTheyHoldBlockBytes) {
    std::vector<uint8_t> f = TinyGif(2, 1, {9, 10});
    const size_t image = 13 + 48;
    // A graphic control extension whose transparent index is 44, then a comment of ";,".
    f.insert(f.begin() + image, {0x21, 0xF9, 4, 0x01, 0, 0, 44, 0, 0x21, 0xFE, 2, 59, 44, 0});
    auto gif = LoadBytes<TGIFGraphic>(f);
    EXPECT_EQ(gif->Width(), 2);
    EXPECT_EQ(gif->ScanLine(0)[0], 9);
    EXPECT_EQ(gif->ScanLine(0)[1], 10);
}

TEST(GIFRead, InterlacedRowsGoToTheirPasses) {
    auto gif = LoadBytes<TGIFGraphic>(TinyGif(1, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0x40));
    const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(gif->ScanLine(order[k])[0], k) << "stored row " << k;
}

TEST(GIFRead, TrailerBeforeAnyImageGivesAnEmptyPicture) {
    std::vector<uint8_t> f = TinyGif(2, 1, {1, 2});
    f.resize(13 + 48);
    f.push_back(59);
    auto gif = LoadBytes<TGIFGraphic>(f);
    EXPECT_TRUE(gif->Empty());
    EXPECT_EQ(gif->PixelFormat(), pf8bit);
    EXPECT_EQ(gif->Palette().Entries.size(), 16u);
}

TEST(GIFRead, FailuresLeaveThePictureAsItWas) {
    auto gif = LoadBytes<TGIFGraphic>(Fixture("global.gif"));
    auto attempt = [&](const std::vector<uint8_t>& f) {
        TMemoryStream stream(f);
        std::string message;
        try {
            gif->LoadImageStream(stream);
        } catch (const Exception& e) {
            message = e.what();
        }
        EXPECT_EQ(MaxDifference(*gif, Reference("src.ppm")), 0) << message;
        return message;
    };
    std::vector<uint8_t> f = Fixture("global.gif");
    f[2] = 'T';
    EXPECT_EQ(attempt(f), "Not a valid GIF file.");
    // The stream ends inside the colour table.
    const std::vector<uint8_t> good = Fixture("global.gif");
    EXPECT_EQ(attempt(std::vector<uint8_t>(good.begin(), good.begin() + 20)), EReadError().Message());
    // 60000 x 60000 pixels from a few bytes of codes.
    std::vector<uint8_t> huge = TinyGif(60000, 60000, {1, 2});
    EXPECT_NE(attempt(huge).find("GIF: 60000 x 60000 pixels"), std::string::npos);
    // A code stream that breaks off mid-way is no failure: what arrived is shown.
    std::vector<uint8_t> cut = TinyGif(4, 1, {1, 2, 3, 4});
    cut.resize(cut.size() - 4);
    auto partial = LoadBytes<TGIFGraphic>(cut);
    EXPECT_EQ(partial->ScanLine(0)[0], 1);
    EXPECT_EQ(partial->ScanLine(0)[3], 0);
}

TEST(GIFRead, TruncatedAndCorruptedFixturesFailCleanly) {
    for (const char* name : {"global.gif", "interlaced.gif", "mono.gif", "anim.gif"}) {
        const std::vector<uint8_t> file = Fixture(name);
        SweepHostileVariants<TGIFGraphic>(file, file.size(), name);
    }
}

}  // namespace
}  // namespace qv
