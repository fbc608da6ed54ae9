// Morph > Match end grid and Morph > Face grid in the editor: one step of the history each,
// the status bar says what was done, and a failure shows its message and changes nothing.
#include <QLabel>
#include <QSpinBox>
#include <QUndoStack>

#include "EditorFixture.h"
#include "app/ProjectHistory.h"

namespace qv::test {

namespace {

std::string AlignFixture(const std::string& name) { return std::string(QV_TEST_DATA_DIR) + "/align/" + name; }

}  // namespace

TEST_F(EditorTest, FaceGridAndMatchEndGridAreOneUndoStepEach)
{
    OpenStart(AlignFixture("astronaut-face.jpg"));
    OpenEnd(AlignFixture("hopper-face.jpg"));
    QUndoStack& stack = Main().History().Stack();
    const int steps = stack.count();
    const int cols = Grid().Cols, rows = Grid().Rows;
    const auto start = std::make_unique<TMesh>(Grid().StartMesh);
    const auto end = std::make_unique<TMesh>(Grid().EndMesh);

    Act("FaceGrid1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    EXPECT_GE(Grid().Cols, 9);
    EXPECT_GE(Grid().Rows, 7);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), Grid().Cols);
    EXPECT_EQ(stack.count(), steps + 1);
    EXPECT_EQ(Find<QLabel>(Main(), "StatusText")->text().toStdString(), "  Face grid laid on both faces.");
    const auto faceStart = std::make_unique<TMesh>(Grid().StartMesh);
    const auto faceEnd = std::make_unique<TMesh>(Grid().EndMesh);

    // Auto sees one face in each picture; only end points move.
    Act("MatchAuto1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    EXPECT_EQ(stack.count(), steps + 2);
    EXPECT_EQ(Find<QLabel>(Main(), "StatusText")->text().toStdString(),
              "  End grid matched as faces.  One face in each picture: matched as faces.");
    EXPECT_TRUE(Grid().StartMesh == *faceStart);

    Act("Undo1")->trigger();
    EXPECT_TRUE(Grid().EndMesh == *faceEnd);
    Act("Undo1")->trigger();
    EXPECT_EQ(Grid().Cols, cols);
    EXPECT_EQ(Grid().Rows, rows);
    EXPECT_TRUE(Grid().StartMesh == *start);
    EXPECT_TRUE(Grid().EndMesh == *end);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), cols);
}

TEST_F(EditorTest, MatchingUniformPicturesShowsWhyAndChangesNothing)
{
    TBitmap white;
    white.SetPixelFormat(pf24bit);
    white.SetSize(64, 48);
    white.SaveImageFile(PathOf("white.bmp"));
    OpenStart(PathOf("white.bmp"));
    OpenEnd(PathOf("white.bmp"));
    const int steps = Main().History().Stack().count();
    const auto end = std::make_unique<TMesh>(Grid().EndMesh);
    const std::string status = Find<QLabel>(Main(), "StatusText")->text().toStdString();

    Act("MatchSimilar1")->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0],
              "No reliable match between the start and the end picture: they are too different or too uniform.");
    EXPECT_EQ(Main().History().Stack().count(), steps);
    EXPECT_TRUE(Grid().EndMesh == *end);
    EXPECT_EQ(Find<QLabel>(Main(), "StatusText")->text().toStdString(), status);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the busy cursor is gone again
}

}  // namespace qv::test
