// Grid (project) files: the byte layout, round trips, moved pictures, and damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/Exceptions.h"
#include "framework/System.h"
#include "imageio/GenericTestUtil.h"
#include "imageio/JPEGTestUtil.h"
#include "morph/ParallelBands.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using testing::ReadAll;
using testing::TempFolder;
using testing::WriteBytes;

constexpr size_t kBlock = 160000;

int32_t Int32At(const std::vector<uint8_t>& d, size_t off) {
    uint32_t v = uint32_t(d[off]) | uint32_t(d[off + 1]) << 8 | uint32_t(d[off + 2]) << 16 | uint32_t(d[off + 3]) << 24;
    return int32_t(v);
}

void PutInt32(std::vector<uint8_t>& d, size_t off, int32_t value) {
    uint32_t v = uint32_t(value);
    for (int k = 0; k < 4; ++k) d[off + k] = uint8_t(v >> (8 * k));
}

void WritePicture(const std::string& path, int w, int h, uint8_t seed) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixelColor(x, y, RGBColor(uint8_t(x * 9 + seed), uint8_t(y * 13), seed));
    b.SaveImageFile(path);
}

// Fills every stored point of both meshes with a distinct value.
void FillMeshes(TMorphGrid& g) {
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 100; ++j) {
            g.StartMesh[i][j] = Point(i * 1000 + j, -(i * 7 + j * 3));
            g.EndMesh[i][j] = Point(j * 1000 + i + 0x10000000, i - j);
        }
}

void ExpectSameStoredPoints(const TMorphGrid& a, const TMorphGrid& b) {
    int bad = 0;
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 100; ++j)
            if (!(a.StartMesh[i][j] == b.StartMesh[i][j]) || !(a.EndMesh[i][j] == b.EndMesh[i][j])) ++bad;
    EXPECT_EQ(bad, 0);
}

TEST(GridFileLayout, EmptyNamesThreeByThree) {
    TempFolder dir;
    TMorphGrid g;
    g.SetPictureSize(Point(337, 313));
    g.SetGridSize(Point(3, 3));
    g.StartMesh[1][0] = Point(11, -12);
    g.EndMesh[1][0] = Point(13, 0x12345678);
    g.StartMesh[0][1] = Point(21, 22);
    g.EndMesh[0][1] = Point(-23, 24);
    g.StartMesh[99][99] = Point(-1, 2);
    g.SaveGridFile(dir / "p.grid");

    auto d = ReadAll(dir / "p.grid");
    ASSERT_EQ(d.size(), 16 + kBlock);
    EXPECT_EQ(Int32At(d, 0), 0);
    EXPECT_EQ(Int32At(d, 4), 0);
    EXPECT_EQ(Int32At(d, 8), 3);
    EXPECT_EQ(Int32At(d, 12), 3);
    // Record 0: column 0 of row 0, the even layout's corner.
    EXPECT_EQ(Int32At(d, 16), g.StartMesh[0][0].X);
    // Record 1: column 1 of row 0, start point then end point.
    EXPECT_EQ(Int32At(d, 32), 11);
    EXPECT_EQ(Int32At(d, 36), -12);
    EXPECT_EQ(Int32At(d, 40), 13);
    EXPECT_EQ(d[44], 0x78);  // little-endian
    EXPECT_EQ(d[47], 0x12);
    // Record 100: column 0 of row 1.
    const size_t r100 = 16 + 100 * 16;
    EXPECT_EQ(Int32At(d, r100), 21);
    EXPECT_EQ(Int32At(d, r100 + 4), 22);
    EXPECT_EQ(Int32At(d, r100 + 8), -23);
    EXPECT_EQ(Int32At(d, r100 + 12), 24);
    // Record 9999: column 99 of row 99, a spare point.
    EXPECT_EQ(Int32At(d, 16 + 9999 * 16), -1);
    EXPECT_EQ(Int32At(d, 16 + 9999 * 16 + 4), 2);
}

TEST(GridFileLayout, NamesAreLengthPrefixed) {
    TempFolder dir;
    TMorphGrid g;
    g.StartFileName = "abc";
    g.EndFileName = "/x/y.bmp";
    g.SaveGridFile(dir / "p.grid");
    auto d = ReadAll(dir / "p.grid");
    ASSERT_EQ(d.size(), 16 + 3 + 8 + kBlock);
    EXPECT_EQ((std::vector<uint8_t>(d.begin(), d.begin() + 7)), (std::vector<uint8_t>{3, 0, 0, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(Int32At(d, 7), 8);
    EXPECT_EQ(std::string(d.begin() + 11, d.begin() + 19), "/x/y.bmp");
    EXPECT_EQ(Int32At(d, 19), 5);  // Cols of a new grid
    EXPECT_EQ(Int32At(d, 23), 5);
}

TEST(GridFileRoundTrip, PicturesCountsAndAllPointsIncludingSpares) {
    TempFolder dir;
    WritePicture(dir / "s.bmp", 20, 10, 1);
    WritePicture(dir / "e.bmp", 20, 10, 2);
    TMorphGrid g;
    g.LoadStartPicture(dir / "s.bmp");
    g.LoadEndPicture(dir / "e.bmp");
    g.SetGridSize(Point(4, 7));
    FillMeshes(g);
    g.SaveGridFile(dir / "p.grid");

    TMorphGrid back;
    back.LoadGridFile(dir / "p.grid");
    EXPECT_EQ(back.StartFileName, dir / "s.bmp");
    EXPECT_EQ(back.EndFileName, dir / "e.bmp");
    EXPECT_EQ(back.Cols, 4);
    EXPECT_EQ(back.Rows, 7);
    EXPECT_EQ(back.PictureWidth, 20);
    EXPECT_EQ(back.PictureHeight, 10);
    EXPECT_EQ(testing::MaxChannelDifference(back.StartBmp, g.StartBmp), 0);
    EXPECT_EQ(testing::MaxChannelDifference(back.EndBmp, g.EndBmp), 0);
    ExpectSameStoredPoints(g, back);

    // Saved again, the file is the same byte for byte.
    back.SaveGridFile(dir / "again.grid");
    EXPECT_EQ(ReadAll(dir / "again.grid"), ReadAll(dir / "p.grid"));
}

TEST(GridFileRoundTrip, MovedPicturesAreFoundByBareNameAndTheOldPathsKept) {
    TempFolder dir;
    testing::CurrentFolderGuard keep;
    std::filesystem::create_directory(dir / "old");
    std::filesystem::create_directory(dir / "new");
    WritePicture(dir / "old/s.bmp", 8, 6, 1);
    WritePicture(dir / "old/e.bmp", 8, 6, 2);
    TMorphGrid g;
    g.LoadStartPicture(dir / "old/s.bmp");
    g.LoadEndPicture(dir / "old/e.bmp");
    g.SaveGridFile(dir / "new/p.grid");
    std::filesystem::rename(dir / "old/s.bmp", dir / "new/s.bmp");
    std::filesystem::rename(dir / "old/e.bmp", dir / "new/e.bmp");

    ASSERT_TRUE(SetCurrentDir(dir / "new"));
    TMorphGrid back;
    back.LoadGridFile("p.grid");
    EXPECT_EQ(back.PictureWidth, 8);
    EXPECT_EQ(testing::MaxChannelDifference(back.StartBmp, g.StartBmp), 0);
    EXPECT_EQ(testing::MaxChannelDifference(back.EndBmp, g.EndBmp), 0);
    EXPECT_EQ(back.StartFileName, dir / "old/s.bmp");
    back.SaveGridFile("p2.grid");
    EXPECT_EQ(ReadAll(dir / "new/p2.grid"), ReadAll(dir / "new/p.grid"));
}

TEST(GridFileRoundTrip, MissingFileOrMissingPictures) {
    TempFolder dir;
    WritePicture(dir / "s.bmp", 10, 10, 1);
    TMorphGrid g;
    g.LoadStartPicture(dir / "s.bmp");
    g.StartMesh[1][1] = Point(4, 4);
    const TMesh before = g.StartMesh;
    g.LoadGridFile(dir / "absent.grid");
    EXPECT_TRUE(g.StartMesh == before);
    EXPECT_EQ(g.StartFileName, dir / "s.bmp");

    // A project naming pictures that exist nowhere: counts, meshes and names load, and the
    // pictures are white at the picture size instead of the previous project's.
    TMorphGrid other;
    other.StartFileName = dir / "nowhere/a.bmp";
    other.EndFileName = dir / "nowhere/b.bmp";
    other.SetGridSize(Point(6, 3));
    FillMeshes(other);
    other.SaveGridFile(dir / "p.grid");
    g.LoadGridFile(dir / "p.grid");
    EXPECT_EQ(g.PictureWidth, 10);
    EXPECT_EQ(g.Cols, 6);
    EXPECT_EQ(g.Rows, 3);
    EXPECT_EQ(g.StartFileName, dir / "nowhere/a.bmp");
    ExpectSameStoredPoints(g, other);
    for (const TBmp* b : {&g.StartBmp, &g.EndBmp}) {
        ASSERT_EQ(b->Width(), 10);
        ASSERT_EQ(b->Height(), 10);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) ASSERT_EQ(b->PixelColor(x, y) & 0xFFFFFF, clWhite);
    }
    // One message: both stored names and the places looked in.
    for (const std::string& part : {dir / "nowhere/a.bmp", dir / "nowhere/b.bmp", ExpandFileName("a.bmp"), ExpandFileName("b.bmp")})
        EXPECT_NE(g.MissingPictures.find(part), std::string::npos) << part << " in " << g.MissingPictures;
}

TEST(GridFileRoundTrip, OneMissingPictureIsWhiteAtTheProjectsSize) {
    TempFolder dir;
    WritePicture(dir / "s.bmp", 30, 20, 1);
    WritePicture(dir / "old.bmp", 50, 40, 2);
    struct Case {
        const char* start;  // file names stored in the project
        const char* end;
        int width, height;  // the size the missing picture gets
        bool startMissing, endMissing;
    } cases[] = {
        {"s.bmp", "gone.bmp", 30, 20, false, true},
        {"gone.bmp", "s.bmp", 30, 20, true, false},
        {"gone1.bmp", "gone2.bmp", 50, 40, true, true},  // no size known: the present one
        {"", "", 50, 40, false, false},                  // saved before it had pictures
    };
    for (const Case& c : cases) {
        TMorphGrid project;
        project.SetPictureSize(Point(64, 48));
        project.SetGridSize(Point(4, 3));
        project.EndMesh[1][1] = Point(11, 12);
        project.StartFileName = dir / c.start;
        if (!*c.start) project.StartFileName.clear();
        project.EndFileName = dir / c.end;
        if (!*c.end) project.EndFileName.clear();
        project.SaveGridFile(dir / "p.grid");

        TMorphGrid g;
        g.LoadStartPicture(dir / "old.bmp");  // a previous project's picture
        g.LoadGridFile(dir / "p.grid");
        SCOPED_TRACE(std::string(c.start) + " / " + c.end);
        EXPECT_EQ(g.PictureWidth, c.width);
        EXPECT_EQ(g.PictureHeight, c.height);
        EXPECT_EQ(g.EndMesh[1][1], Point(11, 12));
        EXPECT_EQ(g.StartFileName, project.StartFileName);
        EXPECT_EQ(g.EndFileName, project.EndFileName);
        for (bool isStart : {true, false}) {
            const TBmp& b = g.Bmp(isStart);
            EXPECT_EQ(b.Width(), c.width);
            EXPECT_EQ(b.Height(), c.height);
            const bool missing = isStart ? c.startMissing : c.endMissing;
            const bool noName = !*(isStart ? c.start : c.end);
            if (missing || noName) {
                EXPECT_EQ(b.PixelColor(c.width / 2, c.height / 2) & 0xFFFFFF, clWhite);
            }
            const std::string& name = isStart ? g.StartFileName : g.EndFileName;
            EXPECT_EQ(missing, !name.empty() && g.MissingPictures.find(name) != std::string::npos);
        }
        // The stored names are written back unchanged.
        g.SaveGridFile(dir / "again.grid");
        EXPECT_EQ(ReadAll(dir / "again.grid"), ReadAll(dir / "p.grid"));
    }
}

TEST(GridFileRoundTrip, NameEdgeCasesOfTheStreamStrings) {
    TempFolder dir;
    TMorphGrid g;
    FillMeshes(g);
    g.SaveGridFile(dir / "p.grid");
    auto d = ReadAll(dir / "p.grid");
    // A start name of exactly 8192 bytes with zero bytes among them, and trailing bytes
    // after the point block: both accepted.
    std::vector<uint8_t> name(8192, 'n');
    name[0] = 0;
    name[100] = 0;
    std::vector<uint8_t> f = {0, 0x20, 0, 0};
    f.insert(f.end(), name.begin(), name.end());
    f.insert(f.end(), d.begin() + 4, d.end());
    f.push_back(0xEE);
    WriteBytes(dir / "long.grid", f);
    TMorphGrid back;
    back.LoadGridFile(dir / "long.grid");
    EXPECT_EQ(back.StartFileName, std::string(8190, 'n'));
    ExpectSameStoredPoints(g, back);
}

class DamagedGridFile : public ::testing::Test {
protected:
    void SetUp() override {
        WritePicture(dir / "s.bmp", 12, 9, 1);
        grid.LoadStartPicture(dir / "s.bmp");
        grid.SetGridSize(Point(4, 4));
        grid.StartMesh[2][2] = Point(77, 78);
        TMorphGrid source;
        source.StartFileName = "ab";
        source.EndFileName = "cde";
        source.SetGridSize(Point(3, 3));
        FillMeshes(source);
        source.SaveGridFile(dir / "good.grid");
        good = ReadAll(dir / "good.grid");
        ASSERT_EQ(good.size(), 16 + 5 + kBlock);
    }

    // Loads bytes as a grid file; expects a refusal naming the problem and no change.
    void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& problem) {
        WriteBytes(dir / "bad.grid", bytes);
        const TMesh start = grid.StartMesh, end = grid.EndMesh;
        try {
            grid.LoadGridFile(dir / "bad.grid");
            ADD_FAILURE() << "accepted: " << problem;
        } catch (const EReadError& e) {
            EXPECT_NE(std::string(e.what()).find("Damaged grid file"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(problem), std::string::npos) << e.what();
        }
        EXPECT_EQ(grid.StartFileName, dir / "s.bmp");
        EXPECT_EQ(grid.EndFileName, "");
        EXPECT_EQ(grid.Cols, 4);
        EXPECT_EQ(grid.Rows, 4);
        EXPECT_EQ(grid.PictureWidth, 12);
        EXPECT_EQ(grid.StartBmp.Width(), 12);
        EXPECT_TRUE(grid.StartMesh == start);
        EXPECT_TRUE(grid.EndMesh == end);
    }

    std::vector<uint8_t> With(size_t off, int32_t v) {
        auto d = good;
        PutInt32(d, off, v);
        return d;
    }
    std::vector<uint8_t> Cut(size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); }

    TempFolder dir;
    TMorphGrid grid;
    std::vector<uint8_t> good;
};

TEST_F(DamagedGridFile, NameLengthsOutsideTheBuffer) {
    ExpectRefused(With(0, -1), "start picture name length -1");
    ExpectRefused(With(0, 8193), "start picture name length 8193");
    ExpectRefused(With(0, INT32_MAX), "outside 0..8192");
    ExpectRefused(With(6, INT32_MIN), "end picture name length");
}

TEST_F(DamagedGridFile, CountsOutsideTwoToHundred) {
    const size_t cols = 4 + 2 + 4 + 3, rows = cols + 4;
    ExpectRefused(With(cols, 1), "column count 1");
    ExpectRefused(With(cols, 101), "column count 101");
    ExpectRefused(With(cols, -5), "column count -5");
    ExpectRefused(With(rows, 0), "row count 0");
    ExpectRefused(With(rows, 1000000), "row count 1000000");
}

TEST_F(DamagedGridFile, FilesShorterThanTheLayout) {
    ExpectRefused({}, "ends before the start picture name length");
    ExpectRefused(Cut(5), "ends inside the start picture name");
    ExpectRefused(Cut(8), "ends before the end picture name length");
    ExpectRefused(Cut(12), "ends inside the end picture name");
    ExpectRefused(Cut(15), "ends before the column count");
    ExpectRefused(Cut(19), "ends before the row count");
    ExpectRefused(Cut(21), "point block (0 of 160000 bytes)");
    ExpectRefused(Cut(good.size() - 1), "point block (159999 of 160000 bytes)");
    // A name length that swallows the point data shifts every later field.
    ExpectRefused(With(0, 8192), "end picture name length");
}

TEST(GridFileLoad, UndecodablePictureEndsTheLoadBeforeTheCounts) {
    TempFolder dir;
    auto jpg = ReadAll(testing::DataPath("jpeg/colour420.jpg"));
    jpg.resize(jpg.size() / 2);
    WriteBytes(dir / "cut.jpg", jpg);
    TMorphGrid source;
    source.StartFileName = dir / "cut.jpg";
    source.SetGridSize(Point(7, 7));
    source.SaveGridFile(dir / "p.grid");
    TMorphGrid g;
    EXPECT_THROW(g.LoadGridFile(dir / "p.grid"), EInvalidGraphic);
    EXPECT_EQ(g.Cols, 5);
    EXPECT_EQ(g.StartFileName, dir / "cut.jpg");
}

// The two pictures are read at once; failures still come out as one load after the other
// gives them: a bad start picture changes nothing (the end picture is not taken), a bad end
// picture is reported after the start picture has come in, with the old end picture
// stretched to it.
TEST(GridFileLoad, PictureFailuresAsInOrderOnAnyThreadCount) {
    TempFolder dir;
    WritePicture(dir / "s.bmp", 30, 20, 1);
    WritePicture(dir / "old.bmp", 50, 40, 2);
    auto jpg = ReadAll(testing::DataPath("jpeg/colour420.jpg"));
    jpg.resize(jpg.size() / 2);
    WriteBytes(dir / "cut.jpg", jpg);
    struct Restore {
        ~Restore() { SetRenderThreads(0); }
    } restore;
    TColor oneThreadEnd[2] = {};
    for (int32_t threads : {1, 2})
        for (bool startBad : {true, false}) {
            SetRenderThreads(threads);
            TMorphGrid project;
            project.StartFileName = dir / (startBad ? "cut.jpg" : "s.bmp");
            project.EndFileName = dir / "cut.jpg";
            project.SaveGridFile(dir / "p.grid");
            TMorphGrid g;
            g.LoadStartPicture(dir / "old.bmp");
            SCOPED_TRACE(std::to_string(threads) + " threads, bad start " + std::to_string(startBad));
            EXPECT_THROW(g.LoadGridFile(dir / "p.grid"), EInvalidGraphic);
            EXPECT_EQ(g.PictureWidth, startBad ? 50 : 30);
            EXPECT_EQ(g.EndBmp.Width(), g.PictureWidth);
            // The previous end picture, stretched to the new start picture when that came in.
            const TColor endPixel = g.EndBmp.PixelColor(g.PictureWidth - 1, g.PictureHeight - 1);
            if (threads == 1)
                oneThreadEnd[startBad] = endPixel;
            else
                EXPECT_EQ(endPixel, oneThreadEnd[startBad]);
        }
}

TEST(GridFileSave, FailedSaveKeepsThePreviousFile) {
    TempFolder dir;
    TMorphGrid g;
    g.SaveGridFile(dir / "p.grid");
    const auto before = ReadAll(dir / "p.grid");
    g.StartFileName = std::string(9000, 'x');  // longer than a stored name may be
    g.SetGridSize(Point(9, 9));
    EXPECT_THROW(g.SaveGridFile(dir / "p.grid"), Exception);
    EXPECT_EQ(ReadAll(dir / "p.grid"), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"p.grid"});
    EXPECT_THROW(g.SaveGridFile(dir / "no/such/folder/p.grid"), Exception);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

void ExpectSamePicture(const TBmp& a, const TBmp& b) {
    ASSERT_EQ(a.PixelFormat(), b.PixelFormat());
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    int bad = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 4) != 0) ++bad;
    EXPECT_EQ(bad, 0);
}

// A project load leaves both pictures as loading the start picture and then the end picture
// one by one leaves them: the same sizes, stretches and copies, also when the end picture
// is missing or cannot be read, and whatever pictures the grid had before.
TEST(GridFileLoad, PicturesAsTwoLoneLoads) {
    TempFolder dir;
    WritePicture(dir / "a.bmp", 40, 30, 1);
    WritePicture(dir / "b.bmp", 40, 30, 2);
    WritePicture(dir / "c.bmp", 23, 57, 3);
    WritePicture(dir / "old.bmp", 64, 16, 4);
    auto jpg = ReadAll(testing::DataPath("jpeg/colour420.jpg"));
    jpg.resize(jpg.size() / 2);
    WriteBytes(dir / "cut.jpg", jpg);
    struct Case {
        const char* start;
        const char* end;
    } cases[] = {{"a.bmp", "b.bmp"}, {"a.bmp", "c.bmp"}, {"c.bmp", "a.bmp"}, {"a.bmp", "gone.bmp"}, {"a.bmp", "cut.jpg"}};
    for (const Case& c : cases)
        for (const char* before : {"", "old.bmp", "c.bmp"}) {
            SCOPED_TRACE(std::string(c.start) + " / " + c.end + " after " + before);
            TMorphGrid project;
            project.StartFileName = dir / c.start;
            project.EndFileName = dir / c.end;
            project.SetGridSize(Point(4, 4));
            project.SaveGridFile(dir / "p.grid");

            TMorphGrid loaded, lone;
            if (*before) {
                loaded.LoadStartPicture(dir / before);
                lone.LoadStartPicture(dir / before);
            }
            bool threw = false;
            try {
                loaded.LoadGridFile(dir / "p.grid");
            } catch (const EInvalidGraphic&) {
                threw = true;
            }
            lone.LoadStartPicture(dir / c.start);
            EXPECT_EQ(threw, std::string(c.end) == "cut.jpg");
            if (!threw) lone.LoadEndPicture(dir / c.end);
            EXPECT_EQ(loaded.PictureWidth, lone.PictureWidth);
            EXPECT_EQ(loaded.PictureHeight, lone.PictureHeight);
            ExpectSamePicture(loaded.StartBmp, lone.StartBmp);
            // A missing end picture is made white after the lone load's copy; compare sizes.
            if (std::string(c.end) == "gone.bmp") {
                EXPECT_EQ(loaded.EndBmp.Width(), lone.EndBmp.Width());
                EXPECT_EQ(loaded.EndBmp.Height(), lone.EndBmp.Height());
                EXPECT_EQ(loaded.EndBmp.PixelFormat(), lone.EndBmp.PixelFormat());
            } else {
                ExpectSamePicture(loaded.EndBmp, lone.EndBmp);
            }
        }
}

}  // namespace
}  // namespace qv
