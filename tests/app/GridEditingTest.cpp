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
    Press(MainImage1(), Qt::LeftButton, kCentre);
    Release(MainImage1(), Qt::LeftButton, kCentre);
    ASSERT_EQ(Grid().SelCol, 1);
    RightPress(MainImage1(), kCentre);
    EXPECT_TRUE(PopupShown);
    EXPECT_TRUE(Act("MnuDeleterow")->isEnabled());
    EXPECT_TRUE(Act("MnuDeletecolumn")->isEnabled());

    Press(MainImage1(), Qt::LeftButton, QPoint(60, 60));
    Release(MainImage1(), Qt::LeftButton, QPoint(60, 60));
    EXPECT_EQ(Grid().SelCol, -1);
    EXPECT_EQ(Grid().SelRow, -1);
    RightPress(MainImage1(), QPoint(60, 60));
    EXPECT_TRUE(PopupShown);
    EXPECT_FALSE(Act("MnuDeleterow")->isEnabled());
    EXPECT_FALSE(Act("MnuDeletecolumn")->isEnabled());
    EXPECT_TRUE(Act("Insert1")->isEnabled());
    EXPECT_TRUE(Act("Insertrow1")->isEnabled());
    // The right press alone neither selects nor moves anything.
    EXPECT_EQ(Grid().SelCol, -1);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(168, 156));
    // The popup's Insert row works where the right press was: on the start pane at y 60.
    Act("Insert1")->trigger();
    ASSERT_EQ(Grid().Rows, 4);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(168, 78));
}

TEST_F(EditorTest, PressAndReleaseOnStartPointSelectsOnBothPanesAndRendersPreview)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    OpenEnd(MakePicture("b.bmp", 40, 30, 2));
    BlackenPreview();  // to see that the release renders it again
    const QPoint point(20, 15);
    ASSERT_EQ(Grid().StartMesh[1][1], Point(20, 15));

    Press(MainImage1(), Qt::LeftButton, point);
    EXPECT_EQ(Grid().SelCol, 1);
    EXPECT_EQ(Grid().SelRow, 1);
    EXPECT_EQ(MainImage1()->Picture().PixelColor(point.x() - 2, point.y()), clRed);
    EXPECT_EQ(MainImage1()->Picture().PixelColor(point.x() - 1, point.y()), clWhite);
    // The other pane is brought up to date only on release.
    EXPECT_EQ(MainImage2()->Picture().PixelColor(point.x() - 2, point.y()), clLime);

    Release(MainImage1(), Qt::LeftButton, point);
    EXPECT_EQ(MainImage2()->Picture().PixelColor(point.x() - 2, point.y()), clRed);
    EXPECT_EQ(MainImage2()->Picture().PixelColor(point.x() - 1, point.y()), clWhite);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(20, 15));  // a click does not move the point

    // The preview now shows the morph at the slider's position.
    TBitmap expected;
    expected.SetPixelFormat(pf32bit);
    expected.SetSize(40, 30);
    expected.Canvas().Brush.Color = clWhite;
    expected.Canvas().FillRect(Rect(0, 0, 40, 30));
    Grid().RenderMorph(expected, Tbpos()->value());
    EXPECT_EQ(DifferentPixels(expected, PreviewImage()->Picture()), 0);
    EXPECT_FALSE(AllPixels(PreviewImage()->Picture(), clWhite));
}

TEST_F(EditorTest, DragOnEndPaneMovesOnlyTheEndMeshAndFollowsTheMouseOutside)
{
    const TMesh startBefore = Grid().StartMesh;
    Press(MainImage2(), Qt::LeftButton, kCentre);
    ASSERT_EQ(Grid().SelCol, 1);
    Move(MainImage2(), QPoint(200, 170));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(200, 170));
    EXPECT_EQ(MainImage2()->Picture().PixelColor(200 - 2, 170), clRed);

    // Leaving the pane, over the other scroll box: the end pane keeps the mouse, and the
    // interior point follows to coordinates outside its picture.
    Move(MainImage2(), QPoint(-40, 400));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(-40, 400));
    Release(MainImage2(), Qt::LeftButton, QPoint(-40, 400));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(-40, 400));
    EXPECT_EQ(Grid().StartMesh, startBefore);

    // Moves without a button change nothing.
    Move(MainImage2(), QPoint(100, 100));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(-40, 400));
}

TEST_F(EditorTest, DraggingBorderPointsKeepsThemOnTheirEdge)
{
    Press(MainImage1(), Qt::LeftButton, QPoint(335, 156));  // last column (x = 337), middle row
    ASSERT_EQ(Grid().SelCol, 2);
    Move(MainImage1(), QPoint(300, 200));
    Release(MainImage1(), Qt::LeftButton, QPoint(300, 200));
    EXPECT_EQ(Grid().StartMesh[2][1], Point(337, 200));
    Press(MainImage1(), Qt::LeftButton, QPoint(0, 0));
    Move(MainImage1(), QPoint(50, 50));
    Release(MainImage1(), Qt::LeftButton, QPoint(50, 50));
    EXPECT_EQ(Grid().StartMesh[0][0], Point(0, 0));
}

TEST_F(EditorTest, InsertRowOnEndPaneUsesTheEndMesh)
{
    // The end mesh's middle row lies lower than the start mesh's.
    for (int i = 0; i < 3; ++i)
        Grid().EndMesh[i][1].Y = 250;
    // A point of the start pane is selected; the right press is on the end pane.
    Press(MainImage1(), Qt::LeftButton, kCentre);
    Release(MainImage1(), Qt::LeftButton, kCentre);
    RightPress(MainImage2(), QPoint(100, 200));
    Act("Insert1")->trigger();

    ASSERT_EQ(Grid().Rows, 4);
    // Located by the end mesh: between its rows at 0 and 250.
    EXPECT_EQ(Grid().EndMesh[0][1].Y, 125);
    EXPECT_EQ(Grid().EndMesh[0][2].Y, 250);
    EXPECT_EQ(Grid().StartMesh[0][1].Y, 78);
    EXPECT_EQ(Grid().StartMesh[0][2].Y, 156);
    EXPECT_EQ(Grid().SelCol, 0);
    EXPECT_EQ(Grid().SelRow, 1);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridHeight")->value(), 4);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 3);
    // Both panes were redrawn with the new row.
    EXPECT_EQ(MainImage1()->Picture().PixelColor(168 - 2, 78), clLime);
    EXPECT_EQ(MainImage2()->Picture().PixelColor(168 - 2, 125), clLime);
}

TEST_F(EditorTest, InsertColumnAtOneHundredColumnsChangesNothing)
{
    SetGridSize(100, 3);
    ASSERT_EQ(Grid().Cols, 100);
    const TMesh start = Grid().StartMesh, end = Grid().EndMesh;
    RightPress(MainImage1(), QPoint(100, 100));
    Act("Insertrow1")->trigger();
    EXPECT_EQ(Grid().Cols, 100);
    EXPECT_EQ(Grid().StartMesh, start);
    EXPECT_EQ(Grid().EndMesh, end);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 100);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(EditorTest, InsertColumnKeepsSelectionAndEditedPoints)
{
    Press(MainImage1(), Qt::LeftButton, kCentre);
    Move(MainImage1(), QPoint(150, 140));
    Release(MainImage1(), Qt::LeftButton, QPoint(150, 140));
    RightPress(MainImage1(), QPoint(250, 50));
    Act("Insertrow1")->trigger();
    EXPECT_EQ(Grid().Cols, 4);
    EXPECT_EQ(Grid().SelCol, 1);
    EXPECT_EQ(Grid().SelRow, 1);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(150, 140));
    EXPECT_EQ(Grid().StartMesh[2][0].X, (168 + 337) / 2);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 4);
}

TEST_F(EditorTest, DeleteColumnWithThreeColumnsLeavesTwoWhenSpinShowedThree)
{
    Press(MainImage1(), Qt::LeftButton, kCentre);
    Release(MainImage1(), Qt::LeftButton, kCentre);
    RightPress(MainImage1(), kCentre);
    ASSERT_TRUE(Act("MnuDeletecolumn")->isEnabled());
    Act("MnuDeletecolumn")->trigger();
    EXPECT_EQ(Grid().Cols, 2);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 2);
    EXPECT_EQ(Grid().StartMesh[0][1], Point(0, 156));
    EXPECT_EQ(Grid().StartMesh[1][1], Point(337, 156));
}

TEST_F(EditorTest, DeletingColumnsDownToTwoKeepsEveryPlacedPoint)
{
    // A 3-column project opened while the spin edit shows 4.
    const std::string project = PathOf("three.grid");
    Grid().SaveGridFile(project);
    SetGridSize(4, 3);
    ASSERT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 4);
    Dialogs.SaveAnswers.push_back(TSaveAnswer::Discard);
    Dialogs.Answers.push_back(project);
    Act("Openproject1")->trigger();
    ASSERT_EQ(Grid().Cols, 3);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 3);

    Press(MainImage1(), Qt::LeftButton, QPoint(0, 156));  // first column, middle row
    Move(MainImage1(), QPoint(0, 100));
    Release(MainImage1(), Qt::LeftButton, QPoint(0, 100));
    Press(MainImage1(), Qt::LeftButton, kCentre);
    Release(MainImage1(), Qt::LeftButton, kCentre);
    RightPress(MainImage1(), kCentre);
    Act("MnuDeletecolumn")->trigger();
    EXPECT_EQ(Grid().Cols, 2);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 2);
    // The placed point is still where it was put; nothing was laid out again.
    EXPECT_EQ(Grid().StartMesh[0][1], Point(0, 100));
    EXPECT_EQ(Grid().StartMesh[1][1], Point(337, 156));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(EditorTest, DeleteRowRemovesTheSelectedRow)
{
    SetGridSize(3, 5);
    ASSERT_EQ(Grid().Rows, 5);
    const int32_t y3 = Grid().StartMesh[0][3].Y;
    Press(MainImage1(), Qt::LeftButton, QPoint(0, Grid().StartMesh[0][2].Y));
    Release(MainImage1(), Qt::LeftButton, QPoint(0, Grid().StartMesh[0][2].Y));
    ASSERT_EQ(Grid().SelRow, 2);
    RightPress(MainImage1(), QPoint(10, 10));
    Act("MnuDeleterow")->trigger();
    EXPECT_EQ(Grid().Rows, 4);
    EXPECT_EQ(Grid().StartMesh[0][2].Y, y3);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridHeight")->value(), 4);
    EXPECT_EQ(Grid().Cols, 3);
}

}  // namespace qv::test

namespace qv::test {

TEST_F(EditorTest, SideButtonsNeitherPressNorReleaseOnAPane)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    BlackenPreview();
    const int32_t selCol = Grid().SelCol;
    // A click of the "back" button is no button of the pane: no release handler, no render.
    Press(MainImage1(), Qt::BackButton, QPoint(20, 15));
    Release(MainImage1(), Qt::BackButton, QPoint(20, 15));
    EXPECT_TRUE(AllPixels(PreviewImage()->Picture(), clBlack));
    EXPECT_EQ(Grid().SelCol, selCol);

    // Nor does it pass for a left press in the middle of a drag: the dragged border point,
    // pinned to its edge away from the mouse, stays selected and keeps following.
    Press(MainImage1(), Qt::LeftButton, QPoint(39, 15));  // last column, middle row
    ASSERT_EQ(Grid().SelCol, 2);
    Move(MainImage1(), QPoint(30, 20));
    ASSERT_EQ(Grid().StartMesh[2][1], Point(40, 20));
    Press(MainImage1(), Qt::ForwardButton, QPoint(30, 20));
    Release(MainImage1(), Qt::ForwardButton, QPoint(30, 20));
    EXPECT_EQ(Grid().SelCol, 2);
    EXPECT_EQ(Grid().SelRow, 1);
    Move(MainImage1(), QPoint(30, 25));
    Release(MainImage1(), Qt::LeftButton, QPoint(30, 25));
    EXPECT_EQ(Grid().StartMesh[2][1], Point(40, 25));
}

}  // namespace qv::test
