// Autodesk Animator reader on files built from the byte layout: the 2 x 2 picture, the
// 6-bit palette, the magic number, short and oversized files.
#include <gtest/gtest.h>

#include "TargaTestUtil.h"
#include "imageio/AutodeskGraphic.h"
#include "imageio/GenericGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> PicFile(uint16_t width, uint16_t height, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> b(32, 0);
    b[0] = 0x19;
    b[1] = 0x91;
    PutLe16(b, 2, width);
    PutLe16(b, 4, height);
    for (size_t i = 6; i < 32; ++i) b[i] = 0xEE;  // the rest of the header is not used
    std::vector<uint8_t> pal = palette;
    pal.resize(768, 0);
    b.insert(b.end(), pal.begin(), pal.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

TEST(AutodeskRead, TheTwoByTwoPicture) {
    // Entry 1 = (63, 0, 0); pixels 1, 0 / 0, 1.
    auto pic = LoadBytes<TAutodeskGraphic>(PicFile(2, 2, {0, 0, 0, 63, 0, 0}, {1, 0, 0, 1}));
    ASSERT_EQ(pic->PixelFormat(), pf8bit);
    ASSERT_EQ(pic->Width(), 2);
    ASSERT_EQ(pic->Height(), 2);
    ASSERT_EQ(pic->Palette().Entries.size(), 256u);
    EXPECT_EQ(pic->Palette().Entries[1], (TPaletteEntry{252, 0, 0, 0}));
    EXPECT_EQ(pic->ScanLine(0)[0], 1);
    EXPECT_EQ(pic->ScanLine(0)[1], 0);
    EXPECT_EQ(pic->ScanLine(1)[0], 0);
    EXPECT_EQ(pic->ScanLine(1)[1], 1);
    EXPECT_EQ(pic->PixelColor(1, 1), RGBColor(252, 0, 0));
}

TEST(AutodeskRead, PaletteAndRowsAreNotRoundedUp) {
    // 64 loses its high bits; 255 keeps 252. Width 3: rows follow each other directly.
    auto pic = LoadBytes<TAutodeskGraphic>(PicFile(3, 2, {64, 255, 1}, {0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(pic->Palette().Entries[0], (TPaletteEntry{0, 252, 4, 0}));
    auto rows = LoadBytes<TAutodeskGraphic>(PicFile(3, 2, {}, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(rows->ScanLine(1)[0], 4);
    EXPECT_EQ(rows->ScanLine(1)[2], 6);
}

TEST(AutodeskRead, MagicShortAndOversizedFiles) {
    const char* message = "Cannot load image. Only old style Autodesk images are supported.";
    std::vector<uint8_t> swapped = PicFile(1, 1, {}, {0});
    std::swap(swapped[0], swapped[1]);
    EXPECT_EQ(LoadError<TAutodeskGraphic>(swapped), message);
    EXPECT_EQ(LoadError<TAutodeskGraphic>({0x19}), message);
    // A short file is read as far as it goes: the missing pixels keep the new raster's
    // white (the palette entry nearest to it), the missing palette entries are zero.
    std::vector<uint8_t> shortFile = PicFile(2, 2, {0, 0, 0, 10, 20, 30}, {1, 1});
    shortFile.resize(32 + 6);
    auto pic = LoadBytes<TAutodeskGraphic>(shortFile);
    EXPECT_EQ(pic->Palette().Entries[1], (TPaletteEntry{40, 80, 120, 0}));
    EXPECT_EQ(pic->Palette().Entries[2], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(pic->ScanLine(0)[0], pic->NearestIndex(clWhite));
    std::vector<uint8_t> halfPixels = PicFile(2, 2, {0, 0, 0, 10, 20, 30}, {0, 0});
    pic = LoadBytes<TAutodeskGraphic>(halfPixels);
    EXPECT_EQ(pic->ScanLine(0)[1], 0);
    EXPECT_EQ(pic->ScanLine(1)[0], 1);  // entry 1 is the nearest to white
    // A large picture must hold its pixels.
    EXPECT_NE(LoadError<TAutodeskGraphic>(PicFile(60000, 60000, {}, {1, 2, 3})).find("need"), std::string::npos);
}

TEST(AutodeskRead, RefusedFileLeavesThePictureAndGenericLoadsCel) {
    TAutodeskGraphic pic;
    {
        TMemoryStream s(PicFile(1, 1, {1, 2, 3}, {0}));
        pic.LoadImageStream(s);
    }
    TMemoryStream bad(std::vector<uint8_t>{0x91, 0x19, 1, 0, 1, 0});
    EXPECT_THROW(pic.LoadImageStream(bad), Exception);
    EXPECT_EQ(pic.PixelColor(0, 0), RGBColor(4, 8, 12));

    const std::string path = testing::TempDir() + "/qv_autodesk.CEL";
    TMemoryStream(PicFile(2, 2, {0, 0, 0, 63, 0, 0}, {1, 0, 0, 1})).SaveToFile(path);
    TGenericGraphic g;
    g.LoadImageFile(path);
    EXPECT_EQ(g.PixelColor(0, 0), RGBColor(252, 0, 0));
    std::remove(path.c_str());
}

TEST(AutodeskRead, HostileVariantsFailCleanly) {
    std::vector<uint8_t> pal(768);
    for (size_t i = 0; i < pal.size(); ++i) pal[i] = uint8_t(i);
    const std::vector<uint8_t> file = PicFile(5, 4, pal, std::vector<uint8_t>(20, 7));
    SweepHostileVariants<TAutodeskGraphic>(file, 40, "pic");
}

}  // namespace
}  // namespace qv
