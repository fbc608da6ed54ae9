// Dr. Halo CUT reader on files built from the byte layout: packed rows, the palette file
// beside the picture with its 512-byte block rule, grey levels without one, and damaged
// files.
#include <gtest/gtest.h>

#include <cstdio>

#include "TargaTestUtil.h"
#include "framework/System.h"
#include "imageio/CUTGraphic.h"
#include "imageio/GenericGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> CutFile(uint16_t width, uint16_t height, const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint8_t> b(6, 0);
    PutLe16(b, 0, width);
    PutLe16(b, 2, height);
    for (const auto& r : rows) {
        const size_t at = b.size();
        b.resize(at + 2);
        PutLe16(b, at, uint16_t(r.size()));
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

// A palette file of count entries; entry i is (red(i), green(i), blue(i)) as 16-bit words.
std::vector<uint8_t> PaletteFile(int count, int blocks, const std::function<uint16_t(int, int)>& word) {
    std::vector<uint8_t> b(size_t(blocks) * 512, 0);
    PutLe16(b, 12, uint16_t(count - 1));
    for (int i = 0; i < count; ++i) {
        size_t at;
        if (i < 78) {
            at = 40 + 6 * size_t(i);
        } else {
            const int j = i - 78;
            at = 512 * size_t(1 + j / 85) + 6 * size_t(j % 85);
        }
        if (at + 6 > b.size()) break;
        for (int c = 0; c < 3; ++c) PutLe16(b, at + 2 * size_t(c), word(i, c));
    }
    return b;
}

class CUTFiles : public testing::Test {
protected:
    std::string Dir = testing::TempDir();
    std::string Picture = Dir + "/qv_cut_photo.cut";
    std::string Palette = Dir + "/qv_cut_photo.pal";
    void TearDown() override {
        std::remove(Picture.c_str());
        std::remove(Palette.c_str());
    }
    void Write(const std::string& path, const std::vector<uint8_t>& bytes) { TMemoryStream(bytes).SaveToFile(path); }
};

TEST(CUTRead, RowsArePackedRunsAndLiterals) {
    // The row of the example: a run of three 7s, then the literals 1 and 2.
    auto cut = LoadBytes<TCUTGraphic>(CutFile(5, 2, {{0x83, 0x07, 0x02, 0x01, 0x02, 0x00}, {0x05, 9, 8, 7, 6, 5, 0x00}}));
    ASSERT_EQ(cut->PixelFormat(), pf8bit);
    const std::vector<uint8_t> row0(cut->ScanLine(0), cut->ScanLine(0) + 5);
    const std::vector<uint8_t> row1(cut->ScanLine(1), cut->ScanLine(1) + 5);
    EXPECT_EQ(row0, (std::vector<uint8_t>{7, 7, 7, 1, 2}));
    EXPECT_EQ(row1, (std::vector<uint8_t>{9, 8, 7, 6, 5}));
    EXPECT_EQ(cut->Palette().Entries, GreyPalette(256).Entries);
}

TEST(CUTRead, RowsLongerThanTheWidthAreCut) {
    // Row 0 describes 130 pixels for a width of 3; row 1 must still be found.
    auto cut = LoadBytes<TCUTGraphic>(CutFile(3, 2, {{0xFF, 0x11, 0x83, 0x22, 0x00}, {0x83, 0x33, 0x00}}));
    EXPECT_EQ(cut->ScanLine(0)[2], 0x11);
    EXPECT_EQ(cut->ScanLine(0)[3], 0);  // nothing lands in the row padding past the width
    EXPECT_EQ(cut->ScanLine(1)[0], 0x33);
    EXPECT_EQ(cut->ScanLine(1)[2], 0x33);
}

TEST_F(CUTFiles, PaletteFileBesideThePicture) {
    Write(Picture, CutFile(2, 1, {{0x02, 3, 15, 0}}));
    // 16 entries; words above 255 give their low byte (300 -> 44).
    Write(Palette, PaletteFile(16, 1, [](int i, int c) { return uint16_t(c == 0 ? 300 : i * 10 + c); }));
    TCUTGraphic cut;
    cut.LoadImageFile(Picture);
    EXPECT_EQ(cut.PaletteFile(), Palette);
    ASSERT_EQ(cut.Palette().Entries.size(), 16u);
    EXPECT_EQ(cut.Palette().Entries[3], (TPaletteEntry{44, 31, 32, 0}));
    EXPECT_EQ(cut.PixelColor(1, 0), RGBColor(44, 151, 152));

    // The generic picture reads the stream only: grey levels although the file is there.
    TGenericGraphic g;
    g.LoadImageFile(Picture);
    EXPECT_EQ(g.Palette().Entries, GreyPalette(256).Entries);
    EXPECT_EQ(g.PixelColor(1, 0), RGBColor(15, 15, 15));
}

TEST_F(CUTFiles, EntriesNeverCrossABlockBoundary) {
    Write(Picture, CutFile(4, 1, {{0x04, 77, 78, 162, 163, 0}}));
    Write(Palette, PaletteFile(256, 4, [](int i, int c) { return uint16_t((i + c * 50) & 255); }));
    TCUTGraphic cut;
    cut.LoadImageFile(Picture);
    const auto& e = cut.Palette().Entries;
    ASSERT_EQ(e.size(), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(e[size_t(i)], (TPaletteEntry{uint8_t(i), uint8_t(i + 50), uint8_t(i + 100), 0})) << i;
}

TEST_F(CUTFiles, LongAndShortPaletteFiles) {
    Write(Picture, CutFile(1, 1, {{0x81, 200, 0}}));
    // 301 entries: the first 256 are kept, the rest is read and dropped.
    Write(Palette, PaletteFile(301, 4, [](int i, int) { return uint16_t(i); }));
    TCUTGraphic cut;
    cut.LoadImageFile(Picture);
    EXPECT_EQ(cut.Palette().Entries.size(), 256u);
    EXPECT_EQ(cut.PixelColor(0, 0), RGBColor(200, 200, 200));

    // A palette file shorter than its blocks: the read failure, the picture unchanged.
    Write(Palette, PaletteFile(400, 4, [](int, int) { return uint16_t(1); }));
    EXPECT_THROW(cut.LoadImageFile(Picture), EReadError);
    EXPECT_EQ(cut.PixelColor(0, 0), RGBColor(200, 200, 200));
    Write(Palette, std::vector<uint8_t>(100, 0));
    EXPECT_THROW(cut.LoadImageFile(Picture), EReadError);
}

TEST(CUTRead, ShortAndOversizedFiles) {
    EXPECT_THROW(LoadBytes<TCUTGraphic>({1, 0, 1, 0, 0}), EReadError);
    EXPECT_NE(LoadError<TCUTGraphic>(CutFile(60000, 60000, {{0x81, 1, 0}})).find("need at least"), std::string::npos);
    // Rows missing at the end of a small picture stay white.
    auto cut = LoadBytes<TCUTGraphic>(CutFile(2, 3, {{0x82, 5, 0}}));
    EXPECT_EQ(cut->ScanLine(0)[1], 5);
    EXPECT_EQ(cut->ScanLine(2)[0], 255);
}

TEST(CUTRead, HostileVariantsFailCleanly) {
    const std::vector<uint8_t> file =
        CutFile(7, 3, {{0x83, 1, 0x04, 2, 3, 4, 5, 0}, {0x87, 9, 0}, {0x02, 1, 2, 0x85, 3, 0}});
    SweepHostileVariants<TCUTGraphic>(file, file.size(), "cut");
}

}  // namespace
}  // namespace qv
