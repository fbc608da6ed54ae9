// Editing the meshes with the mouse on the panes, and the popup menu's commands.
#include <QSlider>
#include <QSpinBox>

#include "EditorFixture.h"

namespace qv::test {

namespace {
const QPoint kCentre(168, 156);  // the middle point of the start-up grid
}

TEST_F(EditorTest, LeftPressOnEmptyAreaClearsSelectionAndDisablesDeletes)
{
    Press(Main().Image1, Qt::LeftButton, kCentre);
    Release(Main().Image1, Qt::LeftButton, kCentre);
    ASSERT_EQ(Grid().SelCol, 1);
    RightPress(Main().Image1, kCentre);
    EXPECT_TRUE(PopupShown);
    EXPECT_TRUE(Main().MnuDeleterow->isEnabled());
    EXPECT_TRUE(Main().MnuDeletecolumn->isEnabled());

    Press(Main().Image1, Qt::LeftButton, QPoint(60, 60));
    Release(Main().Image1, Qt::LeftButton, QPoint(60, 60));
    EXPECT_EQ(Grid().SelCol, -1);
    EXPECT_EQ(Grid().SelRow, -1);
    RightPress(Main().Image1, QPoint(60, 60));
    EXPECT_TRUE(PopupShown);
    EXPECT_FALSE(Main().MnuDeleterow->isEnabled());
    EXPECT_FALSE(Main().MnuDeletecolumn->isEnabled());
    EXPECT_TRUE(Main().Insert1->isEnabled());
    EXPECT_TRUE(Main().Insertrow1->isEnabled());
    // The right press alone neither selects nor moves anything.
    EXPECT_EQ(Grid().SelCol, -1);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(168, 156));
    EXPECT_FALSE(Main().PopupOnStart == false);
    EXPECT_EQ(Main().PopupX, 60);
    EXPECT_EQ(Main().PopupY, 60);
}

TEST_F(EditorTest, PressAndReleaseOnStartPointSelectsOnBothPanesAndRendersPreview)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    OpenEnd(MakePicture("b.bmp", 40, 30, 2));
    ASSERT_TRUE(AllPixels(Preview().Image1->Picture(), clWhite));  // not rendered yet
    const QPoint point(20, 15);
    ASSERT_EQ(Grid().StartMesh[1][1], Point(20, 15));

    Press(Main().Image1, Qt::LeftButton, point);
    EXPECT_EQ(Grid().SelCol, 1);
    EXPECT_EQ(Grid().SelRow, 1);
    EXPECT_EQ(Main().Image1->Picture().PixelColor(point.x() - 2, point.y()), clRed);
    EXPECT_EQ(Main().Image1->Picture().PixelColor(point.x() - 1, point.y()), clWhite);
    // The other pane is brought up to date only on release.
    EXPECT_EQ(Main().Image2->Picture().PixelColor(point.x() - 2, point.y()), clLime);

    Release(Main().Image1, Qt::LeftButton, point);
    EXPECT_EQ(Main().Image2->Picture().PixelColor(point.x() - 2, point.y()), clRed);
    EXPECT_EQ(Main().Image2->Picture().PixelColor(point.x() - 1, point.y()), clWhite);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(20, 15));  // a click does not move the point

    // The preview now shows the morph at the slider's position.
    TBitmap expected;
    expected.SetPixelFormat(pf32bit);
    expected.SetSize(40, 30);
    expected.Canvas().Brush.Color = clWhite;
    expected.Canvas().FillRect(Rect(0, 0, 40, 30));
    Grid().RenderMorph(expected, Preview().Tbpos->value());
    EXPECT_EQ(DifferentPixels(expected, Preview().Image1->Picture()), 0);
    EXPECT_FALSE(AllPixels(Preview().Image1->Picture(), clWhite));
}

TEST_F(EditorTest, DragOnEndPaneMovesOnlyTheEndMeshAndFollowsTheMouseOutside)
{
    const TMesh startBefore = Grid().StartMesh;
    Press(Main().Image2, Qt::LeftButton, kCentre);
    ASSERT_EQ(Grid().SelCol, 1);
    Move(Main().Image2, QPoint(200, 170));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(200, 170));
    EXPECT_EQ(Main().Image2->Picture().PixelColor(200 - 2, 170), clRed);

    // Leaving the pane, over the other scroll box: the end pane keeps the mouse, and the
    // interior point follows to coordinates outside its picture.
    Move(Main().Image2, QPoint(-40, 400));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(-40, 400));
    Release(Main().Image2, Qt::LeftButton, QPoint(-40, 400));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(-40, 400));
    EXPECT_EQ(Grid().StartMesh, startBefore);

    // Moves without a button change nothing.
    Move(Main().Image2, QPoint(100, 100));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(-40, 400));
}

TEST_F(EditorTest, DraggingBorderPointsKeepsThemOnTheirEdge)
{
    Press(Main().Image1, Qt::LeftButton, QPoint(335, 156));  // last column (x = 337), middle row
    ASSERT_EQ(Grid().SelCol, 2);
    Move(Main().Image1, QPoint(300, 200));
    Release(Main().Image1, Qt::LeftButton, QPoint(300, 200));
    EXPECT_EQ(Grid().StartMesh[2][1], Point(337, 200));
    Press(Main().Image1, Qt::LeftButton, QPoint(0, 0));
    Move(Main().Image1, QPoint(50, 50));
    Release(Main().Image1, Qt::LeftButton, QPoint(50, 50));
    EXPECT_EQ(Grid().StartMesh[0][0], Point(0, 0));
}

TEST_F(EditorTest, InsertRowOnEndPaneUsesTheEndMesh)
{
    // The end mesh's middle row lies lower than the start mesh's.
    for (int i = 0; i < 3; ++i)
        Grid().EndMesh[i][1].Y = 250;
    // A point of the start pane is selected; the right press is on the end pane.
    Press(Main().Image1, Qt::LeftButton, kCentre);
    Release(Main().Image1, Qt::LeftButton, kCentre);
    RightPress(Main().Image2, QPoint(100, 200));
    EXPECT_FALSE(Main().PopupOnStart);
    Main().Insert1->trigger();

    ASSERT_EQ(Grid().Rows, 4);
    // Located by the end mesh: between its rows at 0 and 250.
    EXPECT_EQ(Grid().EndMesh[0][1].Y, 125);
    EXPECT_EQ(Grid().EndMesh[0][2].Y, 250);
    EXPECT_EQ(Grid().StartMesh[0][1].Y, 78);
    EXPECT_EQ(Grid().StartMesh[0][2].Y, 156);
    EXPECT_EQ(Grid().SelCol, 0);
    EXPECT_EQ(Grid().SelRow, 1);
    EXPECT_EQ(Main().SeGridHeight->value(), 4);
    EXPECT_EQ(Main().SeGridWidth->value(), 3);
    // Both panes were redrawn with the new row.
    EXPECT_EQ(Main().Image1->Picture().PixelColor(168 - 2, 78), clLime);
    EXPECT_EQ(Main().Image2->Picture().PixelColor(168 - 2, 125), clLime);
}

TEST_F(EditorTest, InsertColumnAtOneHundredColumnsChangesNothing)
{
    Main().SeGridWidth->setValue(100);  // the spin edit applies the size
    ASSERT_EQ(Grid().Cols, 100);
    const TMesh start = Grid().StartMesh, end = Grid().EndMesh;
    RightPress(Main().Image1, QPoint(100, 100));
    Main().Insertrow1->trigger();
    EXPECT_EQ(Grid().Cols, 100);
    EXPECT_EQ(Grid().StartMesh, start);
    EXPECT_EQ(Grid().EndMesh, end);
    EXPECT_EQ(Main().SeGridWidth->value(), 100);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(EditorTest, InsertColumnKeepsSelectionAndEditedPoints)
{
    Press(Main().Image1, Qt::LeftButton, kCentre);
    Move(Main().Image1, QPoint(150, 140));
    Release(Main().Image1, Qt::LeftButton, QPoint(150, 140));
    RightPress(Main().Image1, QPoint(250, 50));
    Main().Insertrow1->trigger();
    EXPECT_EQ(Grid().Cols, 4);
    EXPECT_EQ(Grid().SelCol, 1);
    EXPECT_EQ(Grid().SelRow, 1);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(150, 140));
    EXPECT_EQ(Grid().StartMesh[2][0].X, (168 + 337) / 2);
    EXPECT_EQ(Main().SeGridWidth->value(), 4);
}

TEST_F(EditorTest, DeleteColumnWithThreeColumnsLeavesTwoWhenSpinShowedThree)
{
    Press(Main().Image1, Qt::LeftButton, kCentre);
    Release(Main().Image1, Qt::LeftButton, kCentre);
    RightPress(Main().Image1, kCentre);
    ASSERT_TRUE(Main().MnuDeletecolumn->isEnabled());
    Main().MnuDeletecolumn->trigger();
    // 2 is shown as 3, which the spin edit already showed: nothing more happens.
    EXPECT_EQ(Grid().Cols, 2);
    EXPECT_EQ(Main().SeGridWidth->value(), 3);
    EXPECT_EQ(Grid().StartMesh[0][1], Point(0, 156));
    EXPECT_EQ(Grid().StartMesh[1][1], Point(337, 156));
}

TEST_F(EditorTest, DeleteColumnDownToTwoGivesEvenThreeColumnsWhenSpinShowedMore)
{
    // A 3-column project opened while the spin edit shows 4 (Open project leaves it alone).
    const std::string project = PathOf("three.grid");
    Grid().SaveGridFile(project);
    Main().SeGridWidth->setValue(4);
    ASSERT_EQ(Grid().Cols, 4);
    Dialogs.Answers.push_back(project);
    Main().Openproject1->trigger();
    ASSERT_EQ(Grid().Cols, 3);
    ASSERT_EQ(Main().SeGridWidth->value(), 4);

    Press(Main().Image1, Qt::LeftButton, kCentre);
    Move(Main().Image1, QPoint(120, 100));  // an edit that the even layout discards
    Release(Main().Image1, Qt::LeftButton, QPoint(120, 100));
    RightPress(Main().Image1, QPoint(120, 100));
    Main().MnuDeletecolumn->trigger();
    EXPECT_EQ(Grid().Cols, 3);
    EXPECT_EQ(Main().SeGridWidth->value(), 3);
    const int xs[] = {0, 168, 337};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Grid().StartMesh[i][1], Point(xs[i], 156));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(EditorTest, DeleteRowRemovesTheSelectedRow)
{
    Main().SeGridHeight->setValue(5);
    ASSERT_EQ(Grid().Rows, 5);
    const int32_t y3 = Grid().StartMesh[0][3].Y;
    Press(Main().Image1, Qt::LeftButton, QPoint(0, Grid().StartMesh[0][2].Y));
    Release(Main().Image1, Qt::LeftButton, QPoint(0, Grid().StartMesh[0][2].Y));
    ASSERT_EQ(Grid().SelRow, 2);
    RightPress(Main().Image1, QPoint(10, 10));
    Main().MnuDeleterow->trigger();
    EXPECT_EQ(Grid().Rows, 4);
    EXPECT_EQ(Grid().StartMesh[0][2].Y, y3);
    EXPECT_EQ(Main().SeGridHeight->value(), 4);
    EXPECT_EQ(Grid().Cols, 3);
}

}  // namespace qv::test

namespace qv::test {

TEST_F(EditorTest, SideButtonsNeitherPressNorReleaseOnAPane)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    ASSERT_TRUE(AllPixels(Preview().Image1->Picture(), clWhite));
    const int32_t selCol = Grid().SelCol;
    // A click of the "back" button is no button of the pane: no release handler, no render.
    Press(Main().Image1, Qt::BackButton, QPoint(20, 15));
    Release(Main().Image1, Qt::BackButton, QPoint(20, 15));
    EXPECT_TRUE(AllPixels(Preview().Image1->Picture(), clWhite));
    EXPECT_EQ(Grid().SelCol, selCol);

    // Nor does it pass for a left press in the middle of a drag: the dragged border point,
    // pinned to its edge away from the mouse, stays selected and keeps following.
    Press(Main().Image1, Qt::LeftButton, QPoint(39, 15));  // last column, middle row
    ASSERT_EQ(Grid().SelCol, 2);
    Move(Main().Image1, QPoint(30, 20));
    ASSERT_EQ(Grid().StartMesh[2][1], Point(40, 20));
    Press(Main().Image1, Qt::ForwardButton, QPoint(30, 20));
    Release(Main().Image1, Qt::ForwardButton, QPoint(30, 20));
    EXPECT_EQ(Grid().SelCol, 2);
    EXPECT_EQ(Grid().SelRow, 1);
    Move(Main().Image1, QPoint(30, 25));
    Release(Main().Image1, Qt::LeftButton, QPoint(30, 25));
    EXPECT_EQ(Grid().StartMesh[2][1], Point(40, 25));
}

}  // namespace qv::test
