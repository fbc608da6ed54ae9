#include <gtest/gtest.h>

#include <memory>

#include "morph/MorphTestSupport.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using testing::SetWord;
using testing::Snapshot;

// 3 x 3 points at 0, 20, 40 over a black 40 x 40 start picture and a dark-blue end picture.
std::unique_ptr<TMorphGrid> DrawingGrid() {
    auto g = std::make_unique<TMorphGrid>();
    for (TBmp* b : {&g->StartBmp, &g->EndBmp}) {
        b->SetWidth(40);
        b->SetHeight(40);
        for (int32_t y = 0; y < 40; ++y)
            for (int32_t x = 0; x < 40; ++x) SetWord(*b, x, y, b == &g->StartBmp ? 0xFF000000u : 0x00000040u);
    }
    g->SetPictureSize({40, 40});
    g->SetGridSize({3, 3});
    return g;
}

int CountColour(TBitmap& b, TColor c) {
    int n = 0;
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) n += b.Canvas().Pixel(x, y) == c;
    return n;
}

const TShiftState kLeft{ssLeft};

// The pane's raster: sized by the editor to the picture, white until drawn.
void SizePane(TBitmap& pane, int32_t w = 40, int32_t h = 40) {
    pane.SetWidth(w);
    pane.SetHeight(h);
}

TEST(GridDrawTest, FreshGridShowsRowZeroAsSelectedButNoSelectedPoint) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    g->DrawGrid(true, pane);
    ASSERT_EQ(pane.Width(), 40);
    EXPECT_EQ(pane.PixelFormat(), pf32bit);
    TCanvas& c = pane.Canvas();
    EXPECT_EQ(c.Pixel(10, 0), clGreen);  // row 0
    EXPECT_EQ(c.Pixel(10, 20), clGray);  // row 1
    EXPECT_EQ(c.Pixel(20, 10), clGray);  // column 1
    EXPECT_EQ(c.Pixel(0, 10), clGray);   // column 0: SelCol is -1
    // Markers: 5 x 5 lime outlines centred on the points, inside left as drawn before.
    EXPECT_EQ(c.Pixel(18, 18), clLime);
    EXPECT_EQ(c.Pixel(22, 22), clLime);
    EXPECT_EQ(c.Pixel(22, 19), clLime);
    EXPECT_EQ(c.Pixel(23, 23), clBlack);
    EXPECT_EQ(c.Pixel(19, 19), clBlack);  // brush is clear
    EXPECT_EQ(CountColour(pane, clRed), 0);
    EXPECT_EQ(CountColour(pane, clWhite), 0);
    // The picture underneath is copied whole, fourth byte included.
    EXPECT_EQ(testing::Word(pane, 30, 30), 0xFF000000u);
}

TEST(GridDrawTest, ClickSelectsWithinThreePixelsLeftAndAboveTwoRightAndBelow) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    struct Click {
        int32_t X, Y;
        bool Hits;
        int32_t Reach = 3;  // a zoomed-out pane reaches further, by the same rule
    };
    for (const Click k : {Click{17, 20, true}, Click{22, 20, true}, Click{23, 20, false}, Click{16, 20, false},
                          Click{20, 17, true}, Click{20, 22, true}, Click{20, 23, false}, Click{20, 16, false},
                          Click{17, 22, true}, Click{12, 27, true, 8}, Click{11, 20, false, 8},
                          Click{28, 20, false, 8}, Click{20, 28, false, 8}}) {
        g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, k.X, k.Y, k.Reach);
        if (k.Hits) {
            EXPECT_EQ(g->SelCol, 1) << k.X << "," << k.Y;
            EXPECT_EQ(g->SelRow, 1) << k.X << "," << k.Y;
        } else {
            EXPECT_EQ(g->SelCol, -1) << k.X << "," << k.Y;
            EXPECT_EQ(g->SelRow, -1) << k.X << "," << k.Y;
        }
    }
}

TEST(GridDrawTest, SelectedPointAndLinesAreHighlighted) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 21, 19);
    ASSERT_EQ(g->SelCol, 1);
    ASSERT_EQ(g->SelRow, 1);
    TCanvas& c = pane.Canvas();
    EXPECT_EQ(c.Pixel(18, 18), clRed);
    EXPECT_EQ(c.Pixel(22, 20), clRed);
    EXPECT_EQ(c.Pixel(19, 19), clWhite);
    EXPECT_EQ(c.Pixel(21, 20), clWhite);
    EXPECT_EQ(c.Pixel(10, 20), clGreen);  // row 1
    EXPECT_EQ(c.Pixel(20, 30), clGreen);  // column 1
    EXPECT_EQ(c.Pixel(10, 0), clGray);    // row 0 no longer
    EXPECT_EQ(c.Pixel(38, 38), clLime);   // another point
}

TEST(GridDrawTest, HighestRowThenHighestColumnWins) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    g->StartMesh[2][1] = {23, 20};
    g->StartMesh[1][2] = {20, 23};
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 21, 21);
    EXPECT_EQ(g->SelCol, 1);
    EXPECT_EQ(g->SelRow, 2);
    g->StartMesh[1][2] = {20, 40};
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 21, 21);
    EXPECT_EQ(g->SelCol, 2);
    EXPECT_EQ(g->SelRow, 1);
    // The end picture is hit-tested against its own mesh.
    g->GridMouseDown(false, pane, TMouseButton::mbLeft, kLeft, 21, 21);
    EXPECT_EQ(g->SelCol, 1);
    EXPECT_EQ(g->SelRow, 1);
}

TEST(GridDrawTest, ClickAwayClearsTheSelection) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 20, 20);
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 10, 10);
    EXPECT_EQ(g->SelCol, -1);
    EXPECT_EQ(g->SelRow, -1);
    EXPECT_EQ(CountColour(pane, clRed), 0);
    EXPECT_EQ(CountColour(pane, clGreen), 0);
    EXPECT_EQ(CountColour(pane, clWhite), 0);
}

TEST(GridDrawTest, WithoutTheLeftButtonNothingHappens) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    g->DrawGrid(true, pane);
    pane.SetModified(false);
    int changes = 0;
    pane.OnChange = [&] { ++changes; };
    const auto before = Snapshot(pane);
    const TMesh mesh = g->StartMesh;

    g->GridMouseDown(true, pane, TMouseButton::mbLeft, TShiftState{ssShift, ssRight}, 20, 20);
    g->GridMouseDown(true, pane, TMouseButton::mbRight, TShiftState{ssRight}, 20, 20);
    EXPECT_EQ(g->SelCol, -1);
    EXPECT_EQ(g->SelRow, 0);

    g->SelCol = 1;
    g->SelRow = 1;
    g->GridMouseMove(true, pane, TShiftState{ssCtrl, ssMiddle}, 5, 5);
    g->GridMouseUp(true, pane, TMouseButton::mbLeft, TShiftState{}, 5, 5);
    EXPECT_EQ(g->StartMesh, mesh);
    EXPECT_EQ(Snapshot(pane), before);
    EXPECT_FALSE(pane.Modified());
    EXPECT_EQ(changes, 0);
}

TEST(GridDrawTest, DragMovesOnlyTheChosenMeshAndReleaseWithoutButtonKeepsIt) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    const TMesh endBefore = g->EndMesh;
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 20, 20);
    g->GridMouseMove(true, pane, kLeft, 27, 9);
    g->GridMouseMove(true, pane, kLeft, -50, 90);  // interior points may leave the picture
    EXPECT_EQ(g->StartMesh[1][1], (TPoint{-50, 90}));
    g->GridMouseMove(true, pane, kLeft, 25, 11);
    // The release event no longer carries the left button.
    g->GridMouseUp(true, pane, TMouseButton::mbLeft, TShiftState{}, 33, 33);
    EXPECT_EQ(g->StartMesh[1][1], (TPoint{25, 11}));
    EXPECT_EQ(g->EndMesh, endBefore);
    EXPECT_EQ(g->SelCol, 1);
    EXPECT_EQ(g->SelRow, 1);
    EXPECT_EQ(pane.Canvas().Pixel(23, 9), clRed);  // redrawn at the new place
    // A release that still holds the button moves like a mouse move.
    g->GridMouseUp(true, pane, TMouseButton::mbLeft, kLeft, 30, 12);
    EXPECT_EQ(g->StartMesh[1][1], (TPoint{30, 12}));
}

TEST(GridDrawTest, BorderPointsArePinnedToTheirEdges) {
    // 10 columns over 100 pixels: the step puts the last column at 99.
    auto g = std::make_unique<TMorphGrid>();
    g->SetPictureSize({100, 60});
    g->SetGridSize({10, 4});
    ASSERT_EQ(g->StartMesh[9][0].X, 99);
    TBitmap pane;

    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 1, 1);  // top-left corner
    ASSERT_EQ(g->SelCol, 0);
    ASSERT_EQ(g->SelRow, 0);
    g->GridMouseMove(true, pane, kLeft, 15, 17);
    EXPECT_EQ(g->StartMesh[0][0], (TPoint{0, 0}));

    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, 99, 20);  // last column, row 1
    ASSERT_EQ(g->SelCol, 9);
    ASSERT_EQ(g->SelRow, 1);
    g->GridMouseMove(true, pane, kLeft, 70, 33);
    EXPECT_EQ(g->StartMesh[9][1], (TPoint{100, 33}));

    g->SelCol = 4;
    g->SelRow = 3;  // bottom row slides horizontally
    EXPECT_EQ(g->ConstrainPoint({-7, 12}), (TPoint{-7, 60}));
    g->SelCol = 9;  // bottom-right corner
    EXPECT_EQ(g->ConstrainPoint({-7, 12}), (TPoint{100, 60}));
    g->SelCol = 3;
    g->SelRow = 2;  // interior: unlimited
    EXPECT_EQ(g->ConstrainPoint({-7, 1000}), (TPoint{-7, 1000}));
}

TEST(GridDrawTest, ExtremeCoordinatesDrawAndPickSafely) {
    auto g = DrawingGrid();
    TBitmap pane;
    SizePane(pane);
    g->StartMesh[1][1] = {INT32_MAX, INT32_MIN};
    g->StartMesh[2][2] = {INT32_MIN, INT32_MAX};
    g->SelCol = 1;
    g->SelRow = 1;
    g->DrawGrid(true, pane);
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, INT32_MAX, INT32_MIN);
    EXPECT_EQ(g->SelCol, 1);
    EXPECT_EQ(g->SelRow, 1);
    g->GridMouseDown(true, pane, TMouseButton::mbLeft, kLeft, INT32_MIN + 2, INT32_MAX);
    EXPECT_EQ(g->SelCol, 2);
    EXPECT_EQ(g->SelRow, 2);
    // A selection outside the mesh (the fields are public) is never written through.
    g->SelCol = 500;
    g->SelRow = -7;
    const TMesh before = g->StartMesh;
    g->GridMouseMove(true, pane, kLeft, 1, 1);
    EXPECT_EQ(g->StartMesh, before);
}

}  // namespace
}  // namespace qv
