// Loading the start and end pictures into the morph grid.
#include <gtest/gtest.h>

#include <functional>

#include "imageio/GenericTestUtil.h"
#include "imageio/JPEGTestUtil.h"
#include "framework/Exceptions.h"
#include "framework/System.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using testing::TempFolder;

using ColourFn = std::function<TColor(int, int)>;

// Writes a 24-bit Windows bitmap whose pixel (x, y) has colour f(x, y).
void WritePicture(const std::string& path, int w, int h, const ColourFn& f) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixelColor(x, y, f(x, y));
    b.SaveImageFile(path);
}

// A colour per block of bw x bh pixels, so that any nearest-colour scaling by those factors
// must give exactly the block's colour.
ColourFn Blocks(int bw, int bh, int seed) {
    return [=](int x, int y) {
        int bx = x / bw, by = y / bh;
        return RGBColor(uint8_t(bx * 7 + seed), uint8_t(by * 11 + seed * 3), uint8_t((bx * by + seed * 5) & 255));
    };
}

// Number of pixels of bmp (w x h) that differ from f.
int Mismatches(const TBitmap& bmp, int w, int h, const ColourFn& f) {
    if (bmp.Width() != w || bmp.Height() != h) return -1;
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((bmp.PixelColor(x, y) & 0xFFFFFF) != f(x, y)) ++bad;
    return bad;
}

void ExpectEvenLayout(const TMorphGrid& g) {
    TMorphGrid ref;
    ref.SetGridSize(Point(g.Cols, g.Rows));
    ref.SetPictureSize(Point(g.PictureWidth, g.PictureHeight));
    ref.ResetGrid();
    for (int i = 0; i < g.Cols; ++i)
        for (int j = 0; j < g.Rows; ++j) {
            EXPECT_EQ(g.StartMesh[i][j], ref.StartMesh[i][j]) << i << "," << j;
            EXPECT_EQ(g.EndMesh[i][j], ref.StartMesh[i][j]) << i << "," << j;
        }
}

struct GridSnapshot {
    int32_t W, H, Cols, Rows;
    TMesh Start, End;
    int32_t SW, SH, EW, EH;
    TColor SPixel, EPixel;
    std::string StartName, EndName;
    explicit GridSnapshot(const TMorphGrid& g)
        : W(g.PictureWidth), H(g.PictureHeight), Cols(g.Cols), Rows(g.Rows), Start(g.StartMesh), End(g.EndMesh),
          SW(g.StartBmp.Width()), SH(g.StartBmp.Height()), EW(g.EndBmp.Width()), EH(g.EndBmp.Height()),
          SPixel(SW > 0 ? g.StartBmp.PixelColor(SW - 1, SH - 1) : 0),
          EPixel(EW > 0 ? g.EndBmp.PixelColor(EW - 1, EH - 1) : 0), StartName(g.StartFileName),
          EndName(g.EndFileName) {}
    // Everything but the stored file names.
    void ExpectPicturesAndMeshesOf(const TMorphGrid& g) const {
        EXPECT_EQ(g.PictureWidth, W);
        EXPECT_EQ(g.PictureHeight, H);
        EXPECT_EQ(g.Cols, Cols);
        EXPECT_EQ(g.Rows, Rows);
        EXPECT_TRUE(g.StartMesh == Start);
        EXPECT_TRUE(g.EndMesh == End);
        EXPECT_EQ(g.StartBmp.Width(), SW);
        EXPECT_EQ(g.StartBmp.Height(), SH);
        EXPECT_EQ(g.EndBmp.Width(), EW);
        EXPECT_EQ(g.EndBmp.Height(), EH);
        if (SW > 0) {
            EXPECT_EQ(g.StartBmp.PixelColor(SW - 1, SH - 1), SPixel);
        }
        if (EW > 0) {
            EXPECT_EQ(g.EndBmp.PixelColor(EW - 1, EH - 1), EPixel);
        }
    }
};

TEST(PictureLoad, FirstPictureFillsBothRasters) {
    TempFolder dir;
    WritePicture(dir / "a.bmp", 30, 20, Blocks(1, 1, 3));
    TMorphGrid g;
    g.LoadStartPicture(dir / "a.bmp");
    EXPECT_EQ(g.PictureWidth, 30);
    EXPECT_EQ(g.PictureHeight, 20);
    EXPECT_EQ(g.StartBmp.PixelFormat(), pf32bit);
    EXPECT_EQ(g.EndBmp.PixelFormat(), pf32bit);
    EXPECT_EQ(Mismatches(g.StartBmp, 30, 20, Blocks(1, 1, 3)), 0);
    EXPECT_EQ(Mismatches(g.EndBmp, 30, 20, Blocks(1, 1, 3)), 0);
    EXPECT_EQ(g.StartFileName, dir / "a.bmp");
    EXPECT_EQ(g.EndFileName, "");
    ExpectEvenLayout(g);
}

TEST(PictureLoad, OtherPictureIsStretchedBothWaysWithoutBlending) {
    TempFolder dir;
    WritePicture(dir / "end.bmp", 400, 300, Blocks(2, 3, 1));
    WritePicture(dir / "start.bmp", 200, 100, Blocks(1, 1, 9));
    TMorphGrid g;
    g.LoadEndPicture(dir / "end.bmp");
    ASSERT_EQ(g.StartBmp.Width(), 400);

    g.LoadStartPicture(dir / "start.bmp");
    EXPECT_EQ(g.PictureWidth, 200);
    EXPECT_EQ(g.PictureHeight, 100);
    EXPECT_EQ(Mismatches(g.StartBmp, 200, 100, Blocks(1, 1, 9)), 0);
    // Each end pixel comes from its own 2 x 3 block of the 400 x 300 picture.
    EXPECT_EQ(Mismatches(g.EndBmp, 200, 100, Blocks(1, 1, 1)), 0);

    g.LoadEndPicture(dir / "end.bmp");
    EXPECT_EQ(g.PictureWidth, 400);
    EXPECT_EQ(g.PictureHeight, 300);
    EXPECT_EQ(Mismatches(g.EndBmp, 400, 300, Blocks(2, 3, 1)), 0);
    // The 200 x 100 start picture is scaled up by 2 x 3: every pixel repeated.
    EXPECT_EQ(Mismatches(g.StartBmp, 400, 300, Blocks(2, 3, 9)), 0);
    ExpectEvenLayout(g);
}

TEST(PictureLoad, SameSizeKeepsTheOtherPictureButResetsTheMeshes) {
    TempFolder dir;
    WritePicture(dir / "a.bmp", 40, 30, Blocks(1, 1, 1));
    WritePicture(dir / "b.bmp", 40, 30, Blocks(1, 1, 2));
    WritePicture(dir / "c.bmp", 40, 30, Blocks(1, 1, 3));
    TMorphGrid g;
    g.LoadStartPicture(dir / "a.bmp");
    g.LoadEndPicture(dir / "b.bmp");
    EXPECT_EQ(Mismatches(g.StartBmp, 40, 30, Blocks(1, 1, 1)), 0);
    g.StartMesh[1][1] = Point(5, 6);
    g.EndMesh[2][2] = Point(-7, 8);
    g.LoadStartPicture(dir / "c.bmp");
    EXPECT_EQ(Mismatches(g.StartBmp, 40, 30, Blocks(1, 1, 3)), 0);
    EXPECT_EQ(Mismatches(g.EndBmp, 40, 30, Blocks(1, 1, 2)), 0);
    ExpectEvenLayout(g);
}

TEST(PictureLoad, MovedPictureIsFoundByBareNameAndTheFullPathKept) {
    TempFolder dir;
    testing::CurrentFolderGuard keep;
    WritePicture(dir / "moved.bmp", 12, 8, Blocks(1, 1, 4));
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    TMorphGrid g;
    const std::string oldPath = "/no/such/folder/moved.bmp";
    g.LoadEndPicture(oldPath);
    EXPECT_EQ(g.EndFileName, oldPath);
    EXPECT_EQ(g.PictureWidth, 12);
    EXPECT_EQ(Mismatches(g.EndBmp, 12, 8, Blocks(1, 1, 4)), 0);
    EXPECT_EQ(Mismatches(g.StartBmp, 12, 8, Blocks(1, 1, 4)), 0);
}

// Projects written on Windows name their pictures with backslashes and a drive letter.
TEST(PictureLoad, WindowsPathIsFoundByBareNameAndKeptAsStored) {
    TempFolder dir;
    testing::CurrentFolderGuard keep;
    WritePicture(dir / "start.bmp", 9, 7, Blocks(1, 1, 2));
    WritePicture(dir / "end.bmp", 9, 7, Blocks(1, 1, 5));
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    TMorphGrid g;
    const std::string startPath = "C:\\Users\\ann\\Pictures\\start.bmp";
    g.LoadStartPicture(startPath);
    EXPECT_EQ(g.StartFileName, startPath);
    EXPECT_EQ(g.PictureWidth, 9);
    EXPECT_EQ(Mismatches(g.StartBmp, 9, 7, Blocks(1, 1, 2)), 0);
    g.LoadEndPicture("D:end.bmp");
    EXPECT_EQ(g.EndFileName, "D:end.bmp");
    EXPECT_EQ(Mismatches(g.EndBmp, 9, 7, Blocks(1, 1, 5)), 0);

    // A name whose last part is not in the folder still changes nothing but the name.
    GridSnapshot before(g);
    g.LoadStartPicture("C:\\Users\\ann\\missing.bmp");
    before.ExpectPicturesAndMeshesOf(g);
    g.LoadStartPicture("C:\\Users\\ann\\");
    before.ExpectPicturesAndMeshesOf(g);
}

TEST(PictureLoad, MissingPictureChangesOnlyTheStoredName) {
    TempFolder dir;
    WritePicture(dir / "a.bmp", 10, 10, Blocks(1, 1, 1));
    TMorphGrid g;
    g.LoadStartPicture(dir / "a.bmp");
    g.StartMesh[1][1] = Point(3, 3);
    GridSnapshot before(g);
    g.LoadStartPicture(dir / "gone.bmp");
    EXPECT_EQ(g.StartFileName, dir / "gone.bmp");
    before.ExpectPicturesAndMeshesOf(g);
    g.LoadEndPicture("");
    EXPECT_EQ(g.EndFileName, "");
    before.ExpectPicturesAndMeshesOf(g);
}

TEST(PictureLoad, UnreadablePicturesRaiseAndLeaveTheGridAlone) {
    TempFolder dir;
    WritePicture(dir / "a.bmp", 16, 12, Blocks(1, 1, 1));
    WritePicture(dir / "b.bmp", 16, 12, Blocks(1, 1, 5));
    testing::CopyFile(dir / "a.bmp", dir / "picture.xyz");
    auto jpg = testing::ReadAll(testing::DataPath("jpeg/colour420.jpg"));
    jpg.resize(jpg.size() / 2);
    testing::WriteBytes(dir / "cut.jpg", jpg);

    TMorphGrid g;
    g.LoadStartPicture(dir / "a.bmp");
    g.LoadEndPicture(dir / "b.bmp");
    g.StartMesh[1][2] = Point(9, 9);
    GridSnapshot before(g);

    try {
        g.LoadStartPicture(dir / "picture.xyz");
        ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unknown picture file type: .xyz");
    }
    EXPECT_EQ(g.StartFileName, dir / "picture.xyz");
    before.ExpectPicturesAndMeshesOf(g);

    EXPECT_THROW(g.LoadEndPicture(dir / "cut.jpg"), EInvalidGraphic);
    EXPECT_EQ(g.EndFileName, dir / "cut.jpg");
    before.ExpectPicturesAndMeshesOf(g);
}

TEST(PictureLoad, IndexedPictureDoesNotRecolourTheOtherPicture) {
    TempFolder dir;
    WritePicture(dir / "colour.bmp", 18, 12, Blocks(2, 2, 7));
    TMorphGrid g;
    g.LoadEndPicture(dir / "colour.bmp");
    g.LoadStartPicture(testing::DataPath("generic/pal.bmp"));  // 9 x 6, 16-colour palette
    EXPECT_EQ(g.PictureWidth, 9);
    EXPECT_EQ(g.PictureHeight, 6);
    EXPECT_EQ(testing::MaxChannelDifference(g.StartBmp, testing::ReadPpm(testing::DataPath("generic/pal.ppm"))), 0);
    EXPECT_EQ(Mismatches(g.EndBmp, 9, 6, Blocks(1, 1, 7)), 0);
}

}  // namespace
}  // namespace qv
