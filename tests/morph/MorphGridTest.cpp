#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "morph/MorphReference.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

std::unique_ptr<TMorphGrid> MakeGrid(int32_t width, int32_t height, int32_t cols, int32_t rows) {
    auto g = std::make_unique<TMorphGrid>();
    g->SetPictureSize({width, height});
    g->SetGridSize({cols, rows});
    return g;
}

std::vector<int32_t> ColumnXs(const TMorphGrid& g, int32_t row = 0) {
    std::vector<int32_t> xs;
    for (int32_t i = 0; i < g.Cols; ++i) xs.push_back(g.StartMesh[size_t(i)][size_t(row)].X);
    return xs;
}
std::vector<int32_t> RowYs(const TMorphGrid& g, int32_t col = 0) {
    std::vector<int32_t> ys;
    for (int32_t j = 0; j < g.Rows; ++j) ys.push_back(g.StartMesh[size_t(col)][size_t(j)].Y);
    return ys;
}

// Trunc(i x step) from the exact binary value of the double step, in integers only.
int64_t ExactTrunc(int32_t i, double step) {
    int exp = 0;
    const double mant = std::frexp(step, &exp);  // step = mant x 2^exp, 0.5 <= mant < 1
    const int64_t m = int64_t(std::ldexp(mant, 53));
    const int64_t prod = int64_t(i) * m;  // exact: m < 2^53, i <= 100
    const int shift = 53 - exp;
    return shift >= 63 ? 0 : (shift <= 0 ? prod << -shift : prod >> shift);
}

TEST(MorphGridTest, StartsWithFiveByFiveAndRowZeroAsSelection) {
    auto g = std::make_unique<TMorphGrid>();
    EXPECT_EQ(g->Cols, 5);
    EXPECT_EQ(g->Rows, 5);
    EXPECT_EQ(g->PictureWidth, 0);
    EXPECT_EQ(g->PictureHeight, 0);
    EXPECT_EQ(g->SelCol, -1);
    EXPECT_EQ(g->SelRow, 0);
    EXPECT_EQ(g->StartBmp.PixelFormat(), pf32bit);
    EXPECT_EQ(g->EndBmp.PixelFormat(), pf32bit);
    EXPECT_TRUE(g->StartBmp.Empty());
    EXPECT_FALSE(g->EndBmp.Transparent());
}

TEST(MorphGridTest, EvenGridFollowsTheRoundedStep) {
    auto g = MakeGrid(100, 100, 3, 3);
    EXPECT_EQ(ColumnXs(*g), (std::vector<int32_t>{0, 50, 100}));
    EXPECT_EQ(RowYs(*g), (std::vector<int32_t>{0, 50, 100}));
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) EXPECT_EQ(g->StartMesh[i][j], g->EndMesh[i][j]);

    // Step rounded up: the last column lands on the width; rounded down: one inside.
    g = MakeGrid(100, 256, 4, 4);
    EXPECT_EQ(ColumnXs(*g), (std::vector<int32_t>{0, 33, 66, 100}));
    EXPECT_EQ(RowYs(*g), (std::vector<int32_t>{0, 85, 170, 255}));
    g = MakeGrid(256, 100, 4, 10);
    EXPECT_EQ(ColumnXs(*g), (std::vector<int32_t>{0, 85, 170, 255}));
    EXPECT_EQ(RowYs(*g).back(), 99);
    g = MakeGrid(100, 50, 10, 2);
    EXPECT_EQ(ColumnXs(*g).back(), 99);
}

TEST(MorphGridTest, EvenGridProductIsExactForEverySizeAndCount) {
    auto g = std::make_unique<TMorphGrid>();
    for (int32_t width : {1, 2, 3, 7, 99, 100, 101, 255, 256, 337, 640, 1000, 1920, 4099}) {
        g->PictureWidth = width;
        g->PictureHeight = width + 1;
        for (int32_t cols = 2; cols <= 100; ++cols) {
            g->Cols = cols;
            g->Rows = cols;
            g->ResetGrid();
            const double stepX = double(width) / double(cols - 1);
            const double stepY = double(width + 1) / double(cols - 1);
            for (int32_t i = 0; i < cols; ++i) {
                ASSERT_EQ(g->StartMesh[size_t(i)][size_t(cols - 1)].X, ExactTrunc(i, stepX))
                    << "width " << width << " cols " << cols << " i " << i;
                ASSERT_EQ(g->EndMesh[size_t(cols - 1)][size_t(i)].Y, ExactTrunc(i, stepY))
                    << "height " << width + 1 << " rows " << cols << " j " << i;
            }
        }
    }
}

TEST(MorphGridTest, DegenerateCountsNeitherDivideByZeroNorWrite) {
    auto g = MakeGrid(100, 100, 3, 3);
    g->StartMesh[5][5] = {7, 7};
    g->SetGridSize({1, 3});
    EXPECT_EQ(g->StartMesh[0][2], (TPoint{0, 100}));
    EXPECT_EQ(g->EndMesh[0][1], (TPoint{0, 50}));
    g->SetGridSize({4, 1});
    EXPECT_EQ(g->StartMesh[3][0], (TPoint{100, 0}));
    EXPECT_EQ(g->StartMesh[5][5], (TPoint{7, 7}));

    // A count of 0 does nothing; counts outside the meshes stay inside them.
    const TMesh before = g->StartMesh;
    g->SetGridSize({0, 7});
    EXPECT_EQ(g->StartMesh, before);
    g->SetGridSize({5000, -3});
    EXPECT_EQ(g->StartMesh, before);
    g->SetGridSize({5000, 2});
    EXPECT_EQ(g->StartMesh[100][1].Y, 100);
}

TEST(MorphGridTest, PictureSizeLaysOutOnlyTheFirstTime) {
    auto g = std::make_unique<TMorphGrid>();
    g->SetPictureSize({200, 100});
    EXPECT_EQ(g->StartMesh[4][4], (TPoint{200, 100}));  // 5 x 5 from construction
    g->StartMesh[1][1] = {3, 4};
    g->SetPictureSize({400, 300});
    EXPECT_EQ(g->PictureWidth, 400);
    EXPECT_EQ(g->PictureHeight, 300);
    EXPECT_EQ(g->StartMesh[1][1], (TPoint{3, 4}));
    EXPECT_EQ(g->StartMesh[4][4], (TPoint{200, 100}));
}

TEST(MorphGridTest, InBetweenMeshRoundsTowardTheStart) {
    auto g = std::make_unique<TMorphGrid>();
    std::mt19937 rng(3);
    std::uniform_int_distribution<int32_t> coord(-5000, 5000);
    for (auto* m : {&g->StartMesh, &g->EndMesh})
        for (auto& col : *m)
            for (auto& p : col) p = {coord(rng), coord(rng)};
    g->ComputeMorphMesh(0);
    for (size_t i = 0; i < 100; ++i)
        for (size_t j = 0; j < 100; ++j) ASSERT_EQ(g->MorphMesh[i][j], g->StartMesh[i][j]);
    g->ComputeMorphMesh(256);
    for (size_t i = 0; i < 100; ++i)
        for (size_t j = 0; j < 100; ++j) ASSERT_EQ(g->MorphMesh[i][j], g->EndMesh[i][j]);

    // Differences of 1 .. 256 in either direction stop one pixel short at 255.
    for (int32_t d = 1; d <= 256; ++d) {
        g->StartMesh[0][0] = {0, 1000};
        g->EndMesh[0][0] = {d, 1000 - d};
        g->ComputeMorphMesh(255);
        ASSERT_EQ(g->MorphMesh[0][0], (TPoint{d - 1, 1000 - d + 1})) << d;
    }
    g->StartMesh[0][0] = {100, 0};
    g->EndMesh[0][0] = {0, 100};
    g->ComputeMorphMesh(1);
    EXPECT_EQ(g->MorphMesh[0][0], (TPoint{100, 0}));

    // The spare column and row 100 are never computed.
    g->MorphMesh[100][3] = {-9, -9};
    g->MorphMesh[3][100] = {-8, -8};
    g->ComputeMorphMesh(77);
    EXPECT_EQ(g->MorphMesh[100][3], (TPoint{-9, -9}));
    EXPECT_EQ(g->MorphMesh[3][100], (TPoint{-8, -8}));
}

TEST(MorphGridTest, InBetweenMeshWrapsLike32BitArithmetic) {
    auto g = std::make_unique<TMorphGrid>();
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1000000000, -1, 0, 1, 1000000000, INT32_MAX};
    for (int32_t p : {1, 128, 255, 256}) {
        size_t k = 0;
        for (int32_t s : extremes)
            for (int32_t e : extremes) {
                g->StartMesh[k % 100][k / 100] = {s, e};
                g->EndMesh[k % 100][k / 100] = {e, s};
                ++k;
            }
        g->ComputeMorphMesh(p);
        k = 0;
        for (int32_t s : extremes)
            for (int32_t e : extremes) {
                using namespace reference;
                const TPoint expected{Add(s, Div(Mul(p, Sub(e, s)), 256)), Add(e, Div(Mul(p, Sub(s, e)), 256))};
                ASSERT_EQ(g->MorphMesh[k % 100][k / 100], expected) << s << " " << e << " " << p;
                ++k;
            }
    }
}

// 5 x 5 on 100 x 100: rows at 0, 25, 50, 75, 100. The end mesh is moved so that the two
// meshes differ and the midpoints need truncation toward zero.
std::unique_ptr<TMorphGrid> EditedGrid() {
    auto g = MakeGrid(100, 100, 5, 5);
    for (size_t i = 0; i < 5; ++i)
        for (size_t j = 0; j < 5; ++j) {
            g->EndMesh[i][j].X = int32_t(i * 25) - 51;
            g->EndMesh[i][j].Y = int32_t(j * 25) - 51;
        }
    return g;
}

TEST(MorphGridTest, InsertRowShiftsRowsAndPlacesTheMidpoint) {
    auto g = EditedGrid();
    const TMesh s0 = g->StartMesh, e0 = g->EndMesh;
    g->SelCol = 3;
    g->SelRow = 4;
    g->InsertRow(true, 999, 30);  // row 1 at 25 <= 30 < row 2 at 50
    EXPECT_EQ(g->Rows, 6);
    EXPECT_EQ(g->Cols, 5);
    EXPECT_EQ(g->SelCol, 0);
    EXPECT_EQ(g->SelRow, 2);
    for (size_t i = 0; i < 5; ++i) {
        for (size_t j : {0u, 1u}) {
            EXPECT_EQ(g->StartMesh[i][j], s0[i][j]);
            EXPECT_EQ(g->EndMesh[i][j], e0[i][j]);
        }
        for (size_t j = 2; j < 5; ++j) {
            EXPECT_EQ(g->StartMesh[i][j + 1], s0[i][j]);
            EXPECT_EQ(g->EndMesh[i][j + 1], e0[i][j]);
        }
        EXPECT_EQ(g->StartMesh[i][2], (TPoint{int32_t(i * 25), 37}));
        // End: rows at -26 and -1 -> (-27) div 2 = -13 (toward zero, not -14).
        const int32_t ex = int32_t(i * 25) - 51;
        EXPECT_EQ(g->EndMesh[i][2], (TPoint{ex, -13}));
    }
    // Columns beyond those in use are left alone.
    EXPECT_EQ(g->StartMesh[5][3], s0[5][3]);
}

TEST(MorphGridTest, InsertRowUsesTheMeshOfThePictureClicked) {
    auto g = EditedGrid();  // end rows at -51, -26, -1, 24, 49
    g->InsertRow(false, 0, 30);
    EXPECT_EQ(g->SelRow, 4);
    EXPECT_EQ(g->EndMesh[0][4].Y, (24 + 49) / 2);
    EXPECT_EQ(g->StartMesh[0][4].Y, (75 + 100) / 2);
}

TEST(MorphGridTest, InsertRowOutsideTheGridStaysInsideTheMeshes) {
    // Below the last row (which the step put one pixel inside the picture).
    auto g = MakeGrid(100, 100, 3, 10);
    ASSERT_EQ(g->StartMesh[0][9].Y, 99);
    g->StartMesh[0][11] = {-5, -5};
    const TPoint spare = g->StartMesh[1][10];
    g->InsertRow(true, 0, 99);
    EXPECT_EQ(g->Rows, 11);
    EXPECT_EQ(g->SelRow, 9);
    EXPECT_EQ(g->StartMesh[1][10], (TPoint{50, 99}));
    EXPECT_EQ(g->StartMesh[1][9], (TPoint{50, (88 + 99) / 2}));
    EXPECT_NE(g->StartMesh[1][9], spare);
    EXPECT_EQ(g->StartMesh[0][11], (TPoint{-5, -5}));

    // Above the first row: never past row 0.
    g = MakeGrid(100, 100, 3, 3);
    for (auto& col : g->StartMesh) col[0].Y = 40;
    g->InsertRow(true, 0, 10);
    EXPECT_EQ(g->Rows, 4);
    EXPECT_EQ(g->SelRow, 1);
    EXPECT_EQ(g->StartMesh[2][0], (TPoint{100, 40}));
    EXPECT_EQ(g->StartMesh[2][1], (TPoint{100, 45}));
    EXPECT_EQ(g->StartMesh[2][2], (TPoint{100, 50}));
    EXPECT_EQ(g->StartMesh[2][3], (TPoint{100, 100}));
}

TEST(MorphGridTest, InsertColumnKeepsTheSelection) {
    auto g = EditedGrid();
    g->SelCol = 4;
    g->SelRow = 1;
    const TMesh s0 = g->StartMesh, e0 = g->EndMesh;
    g->InsertColumn(true, 80, 999);  // column 3 at 75 <= 80 < column 4 at 100
    EXPECT_EQ(g->Cols, 6);
    EXPECT_EQ(g->Rows, 5);
    EXPECT_EQ(g->SelCol, 4);
    EXPECT_EQ(g->SelRow, 1);
    for (size_t j = 0; j < 5; ++j) {
        EXPECT_EQ(g->StartMesh[5][j], s0[4][j]);
        EXPECT_EQ(g->EndMesh[5][j], e0[4][j]);
        EXPECT_EQ(g->StartMesh[4][j].X, (75 + 100) / 2);
        EXPECT_EQ(g->EndMesh[4][j].X, (24 + 49) / 2);
        EXPECT_EQ(g->StartMesh[3][j], s0[3][j]);
    }
    // Right of the last column: inserted between the last two.
    g = MakeGrid(100, 100, 10, 3);
    g->InsertColumn(true, 99, 0);
    EXPECT_EQ(g->Cols, 11);
    EXPECT_EQ(g->StartMesh[9][0].X, (88 + 99) / 2);
    EXPECT_EQ(g->StartMesh[10][2].X, 99);
}

TEST(MorphGridTest, InsertAndDeleteStopAtTheLimits) {
    auto g = MakeGrid(1000, 1000, 100, 100);
    const TMesh s0 = g->StartMesh;
    g->InsertRow(true, 5, 5);
    g->InsertColumn(true, 5, 5);
    EXPECT_EQ(g->Rows, 100);
    EXPECT_EQ(g->Cols, 100);
    EXPECT_EQ(g->StartMesh, s0);

    g = MakeGrid(100, 100, 2, 2);
    g->SelCol = 0;
    g->SelRow = 0;
    g->DeleteRow();
    g->DeleteColumn();
    EXPECT_EQ(g->Rows, 2);
    EXPECT_EQ(g->Cols, 2);
}

TEST(MorphGridTest, DeleteRowAndColumnRemoveTheSelectedLine) {
    auto g = EditedGrid();
    const TMesh s0 = g->StartMesh, e0 = g->EndMesh;
    g->SelCol = 2;
    g->SelRow = 1;
    g->DeleteRow();
    EXPECT_EQ(g->Rows, 4);
    EXPECT_EQ(g->Cols, 5);
    EXPECT_EQ(g->SelRow, 1);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(g->StartMesh[i][0], s0[i][0]);
        for (size_t j = 1; j < 5; ++j) {
            EXPECT_EQ(g->StartMesh[i][j], s0[i][j + 1]);  // the last copy takes the spare row
            EXPECT_EQ(g->EndMesh[i][j], e0[i][j + 1]);
        }
    }
    g->DeleteColumn();
    EXPECT_EQ(g->Cols, 4);
    EXPECT_EQ(g->SelCol, 2);
    for (size_t j = 0; j < 4; ++j) {
        EXPECT_EQ(g->StartMesh[2][j], s0[3][j + (j >= 1)]);
        EXPECT_EQ(g->EndMesh[3][j], e0[4][j + (j >= 1)]);
    }
    // The new border keeps its coordinates.
    g->SelRow = 0;
    g->DeleteRow();
    EXPECT_EQ(g->StartMesh[0][0], s0[0][2]);
}

TEST(MorphGridTest, DeleteWithoutSelectionChangesNothing) {
    auto g = EditedGrid();
    const TMesh s0 = g->StartMesh, e0 = g->EndMesh;
    g->SelCol = -1;
    g->SelRow = -1;
    g->DeleteRow();
    g->DeleteColumn();
    EXPECT_EQ(g->Rows, 5);
    EXPECT_EQ(g->Cols, 5);
    EXPECT_EQ(g->StartMesh, s0);
    EXPECT_EQ(g->EndMesh, e0);
}

}  // namespace
}  // namespace qv
