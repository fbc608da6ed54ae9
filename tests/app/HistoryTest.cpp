// Undo and redo of every kind of change, arrow keys, and the history's memory.
#include <QUndoStack>

#include "EditorFixture.h"

namespace qv::test {

namespace {

std::vector<TColor> Pixels(const TBitmap& b)
{
    std::vector<TColor> p{TColor(b.Width()), TColor(b.Height())};
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            p.push_back(b.PixelColor(x, y) & 0xFFFFFF);
    return p;
}

// Everything the user can see of the project, and the project itself.
struct TLook {
    std::vector<TColor> Pane1, Pane2, Preview, Start, End;
    TMesh StartMesh, EndMesh;
    int32_t Cols, Rows, Width, Height;
    std::string StartName, EndName;
    bool operator==(const TLook&) const = default;
};

// The names of the parts in which two looks differ, for the failure message.
std::string Differences(const TLook& a, const TLook& b)
{
    std::string d;
    auto part = [&](bool same, const char* name) { if (!same) d += std::string(name) + " "; };
    part(a.Pane1 == b.Pane1, "start-pane");
    part(a.Pane2 == b.Pane2, "end-pane");
    part(a.Preview == b.Preview, "preview");
    part(a.Start == b.Start, "start-picture");
    part(a.End == b.End, "end-picture");
    part(a.StartMesh == b.StartMesh && a.EndMesh == b.EndMesh, "meshes");
    part(a.Cols == b.Cols && a.Rows == b.Rows && a.Width == b.Width && a.Height == b.Height, "sizes");
    part(a.StartName == b.StartName && a.EndName == b.EndName, "names");
    return d;
}

}  // namespace

class HistoryTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
    }
    // The panes are looked at without the selection's marker: undo keeps the point that
    // was worked on selected.
    TLook Look()
    {
        const int32_t col = Grid().SelCol, row = Grid().SelRow;
        Grid().SelCol = Grid().SelRow = -1;
        Main().RefreshPanes();
        TLook look{Pixels(MainImage1()->Picture()), Pixels(MainImage2()->Picture()), Pixels(PreviewImage()->Picture()),
                   Pixels(Grid().StartBmp), Pixels(Grid().EndBmp), Grid().StartMesh, Grid().EndMesh, Grid().Cols,
                   Grid().Rows, Grid().PictureWidth, Grid().PictureHeight, Grid().StartFileName, Grid().EndFileName};
        Grid().SelCol = col;
        Grid().SelRow = row;
        Main().RefreshPanes();
        return look;
    }
    void Drag(TPicturePane* pane, QPoint from, std::vector<QPoint> path)
    {
        Press(pane, Qt::LeftButton, from);
        for (QPoint p : path)
            Move(pane, p);
        Release(pane, Qt::LeftButton, path.back());
    }
    QUndoStack& Stack() { return Main().History().Stack(); }
};

TEST_F(HistoryTest, UndoAndRedoOfEveryKindOfChangeRestoreTheExactPixelsAndMeshes)
{
    OpenStart(MakePicture("a.bmp", 60, 40, 1));
    OpenEnd(MakePicture("b.bmp", 60, 40, 2));
    const std::string project = PathOf("p.grid");
    {
        TMorphGrid other;
        other.SetPictureSize(Point(30, 20));
        other.SetGridSize(Point(4, 5));
        other.StartFileName = MakePicture("c.bmp", 30, 20, 3);
        other.EndFileName = MakePicture("d.bmp", 30, 20, 4);
        other.EndMesh[1][1] = Point(3, 4);
        other.SaveGridFile(project);
    }
    struct Step {
        const char* name;  // as the Edit menu names it
        std::function<void()> run;
    };
    const Step steps[] = {
        {"Move point", [&] { Drag(MainImage1(), QPoint(30, 20), {QPoint(31, 22), QPoint(35, 25), QPoint(40, 27)}); }},
        {"Move point", [&] { Drag(MainImage2(), QPoint(30, 20), {QPoint(10, 10), QPoint(12, 8)}); }},
        {"Insert row", [&] { RightPress(MainImage1(), QPoint(5, 30)); Act("Insert1")->trigger(); }},
        {"Insert column", [&] { RightPress(MainImage2(), QPoint(50, 5)); Act("Insertrow1")->trigger(); }},
        {"Delete row", [&] { Drag(MainImage1(), QPoint(0, 0), {QPoint(0, 0)}); Act("MnuDeleterow")->trigger(); }},
        {"Delete column", [&] { Drag(MainImage1(), QPoint(59, 39), {QPoint(59, 39)}); Act("MnuDeletecolumn")->trigger(); }},
        // A smaller picture: the other is stretched to it, both meshes are laid out again.
        {"Open start picture", [&] { OpenStart(MakePicture("small.bmp", 24, 16, 5)); }},
        {"Open end picture", [&] { OpenEnd(MakePicture("large.bmp", 50, 30, 6)); }},
        {"Open project", [&] {
             Dialogs.SaveAnswers.push_back(TSaveAnswer::Discard);
             Dialogs.Answers.push_back(project);
             Act("Openproject1")->trigger();
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const TLook before = Look();
        const int count = Stack().count();
        step.run();
        ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
        ASSERT_EQ(Stack().count(), count + 1);
        EXPECT_EQ(Act("Undo1")->text(), QString("&Undo %1").arg(step.name));
        const TLook after = Look();
        ASSERT_FALSE(after == before);
        Act("Undo1")->trigger();
        EXPECT_EQ(Differences(Look(), before), "");
        EXPECT_EQ(Act("Redo1")->text(), QString("&Redo %1").arg(step.name));
        Act("Redo1")->trigger();
        EXPECT_EQ(Differences(Look(), after), "");
    }
    // All the way back to the start, then forward again, by the keys.
    const TLook last = Look();
    QApplication::setActiveWindow(&Main());
    ASSERT_EQ(QApplication::activeWindow(), &Main());
    for (int i = 0; i < 20 && Stack().canUndo(); ++i)
        QTest::keyClick(&Main(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(Grid().StartFileName.empty());
    EXPECT_EQ(Grid().PictureWidth, 337);
    QTest::keyClick(&Main(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Grid().PictureWidth, 60);
    QTest::keyClick(&Main(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Stack().index(), 2);
    while (Stack().canRedo())
        Act("Redo1")->trigger();
    EXPECT_EQ(Differences(Look(), last), "");
    EXPECT_EQ(Main().ProjectFileName(), project);
    EXPECT_FALSE(Main().IsModified());
}

TEST_F(HistoryTest, ArrowKeysMoveTheSelectedPointAsOneStepWithTheDragsEdgeRules)
{
    OpenStart(MakePicture("a.bmp", 60, 40, 1));
    const int count = Stack().count();
    // Nothing selected: the keys do not touch the project.
    Grid().SelCol = -1;
    QTest::keyClick(MainImage1(), Qt::Key_Right);
    EXPECT_EQ(Stack().count(), count);

    Drag(MainImage1(), QPoint(30, 20), {QPoint(30, 20)});  // selects the middle point
    ASSERT_EQ(Stack().count(), count);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(MainImage1(), Qt::Key_Right);
    QTest::keyClick(MainImage1(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(MainImage1(), Qt::Key_Left);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(32, 30));
    EXPECT_EQ(Grid().EndMesh[1][1], Point(30, 20));
    EXPECT_EQ(Stack().count(), count + 1);  // consecutive presses: one step
    EXPECT_TRUE(PreviewShowsSlider());
    Act("Undo1")->trigger();
    EXPECT_EQ(Grid().StartMesh[1][1], Point(30, 20));

    // The end pane's keys move the end mesh; a border point stays on its border.
    Drag(MainImage2(), QPoint(59, 20), {QPoint(59, 20)});  // last column, middle row
    ASSERT_EQ(Grid().SelCol, 2);
    QTest::keyClick(MainImage2(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(MainImage2(), Qt::Key_Up);
    EXPECT_EQ(Grid().EndMesh[2][1], Point(60, 19));
    EXPECT_EQ(Grid().StartMesh[2][1], Point(60, 20));
}

TEST_F(HistoryTest, TwoHundredStepsAndAPictureMemoryCapThatDropsTheOldestFirst)
{
    OpenStart(MakePicture("a.bmp", 60, 40, 1));
    for (int i = 0; i < 220; ++i)
        Main().ChangeProject("Nudge", [&] { Grid().StartMesh[1][1].X += 1; });
    EXPECT_GE(Stack().count(), 200);
    int undone = 0;
    while (Stack().canUndo() && undone < 200) {
        Stack().undo();
        ++undone;
    }
    EXPECT_EQ(undone, 200);
    EXPECT_EQ(Grid().StartMesh[1][1].X, 30 + 20);
    Stack().setIndex(Stack().count());

    // Each picture step holds new pictures; the cap keeps the newest steps that fit.
    const int64_t onePicture = 200 * 100 * 4;
    Main().History().SetPictureMemoryLimit(6 * onePicture);
    for (int i = 0; i < 6; ++i)
        OpenStart(MakePicture("p" + std::to_string(i) + ".bmp", 200, 100, i));
    EXPECT_LE(Main().History().PictureMemory(), 6 * onePicture);
    ASSERT_TRUE(Dialogs.Messages.empty());
    // The steps that are left still undo exactly, back to a picture of the sequence.
    Stack().undo();
    TBitmap expected;
    PaintPattern(expected, 200, 100, 4);
    EXPECT_EQ(Grid().StartBmp.PixelColor(77, 33) & 0xFFFFFF, expected.PixelColor(77, 33) & 0xFFFFFF);
    const int left = Stack().index();
    while (Stack().canUndo())
        Stack().undo();
    EXPECT_LT(Stack().count(), 220 + 7);  // the oldest steps are gone
    EXPECT_GE(left, 1);
    // Undone as far as the history goes, the pictures are those of a step that was kept.
    EXPECT_EQ(Grid().StartBmp.Width(), 200);
    EXPECT_TRUE(Main().IsModified());
}

}  // namespace qv::test
