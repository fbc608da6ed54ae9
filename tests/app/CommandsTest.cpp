// The project, picture and video commands, driven through the dialog seam.
#include <QScrollArea>
#include <QSlider>
#include <QSplitter>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>
#include <fstream>

#include "EditorFixture.h"
#include "framework/Stream.h"

namespace qv::test {

namespace {

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}

}  // namespace

TEST_F(EditorTest, SaveProjectRightAfterStartWritesTheEmptyThreeByThreeGrid)
{
    const std::string path = PathOf("new.grid");
    Dialogs.Answers.push_back(path);
    Act("Saveproject1")->trigger();
    ASSERT_EQ(Dialogs.Asked, std::vector<std::string>{"SaveDialog1"});
    EXPECT_TRUE(Dialogs.Messages.empty());
    const std::vector<uint8_t> bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 16u + 160000u);
    EXPECT_EQ(U32(bytes, 0), 0u);   // start picture name: empty
    EXPECT_EQ(U32(bytes, 4), 0u);   // end picture name: empty
    EXPECT_EQ(U32(bytes, 8), 3u);   // columns
    EXPECT_EQ(U32(bytes, 12), 3u);  // rows
    // Choosing the file moved the program into its folder; the dialog remembers the name.
    EXPECT_EQ(std::filesystem::canonical(GetCurrentDir()), std::filesystem::canonical(Dir));
    Dialogs.Answers.push_back(std::nullopt);
    Act("Saveproject1")->trigger();
    EXPECT_EQ(Dialogs.Runs.back().FileName, path);
}

TEST_F(EditorTest, CancelledDialogsChangeNothing)
{
    const TMesh start = Grid().StartMesh;
    const std::string cwd = GetCurrentDir();
    for (QAction* a : {Act("Openproject1"), Act("Saveproject1"), Act("Openstartpicture1"), Act("Openendpicture1"),
                       Act("Saveasavi1"), Act("Savecurentmorphpicture1")}) {
        Dialogs.Answers.push_back(std::nullopt);
        a->trigger();
    }
    EXPECT_EQ(Dialogs.Asked, (std::vector<std::string>{"OpenDialog1", "SaveDialog1", "OpenPictureDialog1",
                                                        "OpenPictureDialog1", "SaveDialog2", "SavePictureDialog1"}));
    EXPECT_EQ(Grid().StartMesh, start);
    EXPECT_TRUE(Grid().StartBmp.Empty());
    EXPECT_EQ(Tbpos()->value(), 128);
    EXPECT_TRUE(AllPixels(PreviewImage()->Picture(), clWhite));
    EXPECT_EQ(GetCurrentDir(), cwd);
    EXPECT_TRUE(std::filesystem::is_empty(Dir));
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(EditorTest, OpenProjectWithAMissingPictureSaysSoAndShowsItWhite)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    OpenEnd(MakePicture("b.bmp", 40, 30, 2));

    // A 5 x 4 project whose end picture is gone; its start picture is another one.
    MakePicture("s.bmp", 40, 30, 3);
    {
        TMorphGrid other;
        other.SetPictureSize(Point(40, 30));
        other.SetGridSize(Point(5, 4));
        other.StartMesh[2][2] = Point(7, 9);
        other.EndMesh[2][2] = Point(30, 25);
        other.StartFileName = PathOf("s.bmp");
        other.EndFileName = PathOf("gone_end.bmp");
        other.SaveGridFile(PathOf("moved.grid"));
    }
    Dialogs.SaveAnswers.push_back(TSaveAnswer::Discard);
    Dialogs.Answers.push_back(PathOf("moved.grid"));
    Act("Openproject1")->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_NE(Dialogs.Messages[0].find(PathOf("gone_end.bmp")), std::string::npos) << Dialogs.Messages[0];
    EXPECT_EQ(Grid().Cols, 5);
    EXPECT_EQ(Grid().Rows, 4);
    EXPECT_EQ(Grid().StartMesh[2][2], Point(7, 9));
    EXPECT_EQ(Grid().EndMesh[2][2], Point(30, 25));
    EXPECT_EQ(Grid().EndFileName, PathOf("gone_end.bmp"));
    // The end pane is white at the project's size, not the previous project's picture.
    EXPECT_TRUE(AllPixels(Grid().EndBmp, clWhite));
    EXPECT_EQ(MainImage2()->Picture().Width(), 40);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridWidth")->value(), 5);
    EXPECT_EQ(Find<QSpinBox>(Main(), "SeGridHeight")->value(), 4);
    EXPECT_EQ(MainImage1()->Picture().PixelColor(7 - 2, 9), clLime);
    EXPECT_EQ(MainImage2()->Picture().PixelColor(30 - 2, 25), clLime);
    // The opened project is the current one, saved as it came.
    EXPECT_FALSE(Main().IsModified());
    EXPECT_EQ(Main().ProjectFileName(), PathOf("moved.grid"));
}

TEST_F(EditorTest, OpenProjectFindsPicturesBesideItByBareName)
{
    // Saved elsewhere with full paths, then moved with its pictures into another folder.
    std::filesystem::create_directory(PathOf("moved"));
    MakePicture("moved/s.bmp", 24, 20, 3);
    MakePicture("moved/e.bmp", 24, 20, 4);
    {
        TMorphGrid g;
        g.SetPictureSize(Point(24, 20));
        g.SetGridSize(Point(3, 3));
        g.StartFileName = "/nonexistent/place/s.bmp";
        g.EndFileName = "/nonexistent/place/e.bmp";
        g.SaveGridFile(PathOf("moved/p.grid"));
    }
    Dialogs.Answers.push_back(PathOf("moved/p.grid"));
    Act("Openproject1")->trigger();
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(Grid().PictureWidth, 24);
    EXPECT_EQ(Grid().PictureHeight, 20);
    EXPECT_EQ(MainImage1()->size(), QSize(24, 20));
    ExpectPreviewShowsWholeAt100(24, 20);
}

TEST_F(EditorTest, OpeningPicturesOfDifferentSizesSizesPanesAndPreview)
{
    // The user has made the preview window some other size meanwhile.
    Preview().resize(500, 250);
    OpenStart(MakePicture("small.bmp", 40, 30, 1));
    EXPECT_EQ(Dialogs.Asked, std::vector<std::string>{"OpenPictureDialog1"});
    EXPECT_EQ(Grid().PictureWidth, 40);
    EXPECT_EQ(Grid().PictureHeight, 30);
    EXPECT_EQ(Grid().EndBmp.Width(), 40);  // the first picture fills both
    for (TPicturePane* pane : {MainImage1(), MainImage2()}) {
        EXPECT_EQ(pane->size(), QSize(40, 30));
        EXPECT_EQ(pane->Picture().Width(), 40);
        EXPECT_EQ(pane->Picture().Height(), 30);
    }
    ExpectPreviewShowsWholeAt100(40, 30);
    EXPECT_TRUE(PreviewShowsSlider());

    OpenEnd(MakePicture("large.bmp", 64, 48, 2));
    EXPECT_EQ(Grid().PictureWidth, 64);
    EXPECT_EQ(Grid().PictureHeight, 48);
    EXPECT_EQ(Grid().StartBmp.Width(), 64);  // stretched up
    EXPECT_EQ(MainImage1()->size(), QSize(64, 48));
    EXPECT_EQ(MainImage2()->size(), QSize(64, 48));
    ExpectPreviewShowsWholeAt100(64, 48);
    // The pane shows the picture under the mesh.
    EXPECT_EQ(MainImage2()->Picture().PixelColor(10, 10) & 0xFFFFFF, Grid().EndBmp.PixelColor(10, 10) & 0xFFFFFF);
}

TEST_F(EditorTest, OpeningAPictureWhilePreviewIsClosedStillFitsIt)
{
    Preview().close();
    OpenStart(MakePicture("small.bmp", 40, 30, 1));
    OpenEnd(MakePicture("other.bmp", 50, 36, 2));
    // Another refresh while hidden must not grow the window again.
    RightPress(MainImage1(), QPoint(5, 5));
    Act("Insert1")->trigger();
    Act("Viewmorphwindow1")->trigger();
    ExpectPreviewShowsWholeAt100(50, 36);
}

TEST_F(EditorTest, SaveMorphPictureIsTheMorphAtTheSliderRightAfterOpeningPictures)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    OpenEnd(MakePicture("b.bmp", 40, 30, 2));
    const std::string first = PathOf("first.bmp");
    Dialogs.Answers.push_back(first);
    Act("Savecurentmorphpicture1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    TBitmap saved;
    saved.LoadImageFile(first);
    EXPECT_EQ(saved.Width(), 40);
    EXPECT_EQ(saved.Height(), 30);
    EXPECT_EQ(DifferentPixels(saved, *RenderedOnWhite(Grid(), 128)), 0);

    Tbpos()->setValue(77);
    const std::string rendered = PathOf("rendered.bmp");
    Dialogs.Answers.push_back(rendered);
    Act("Savecurentmorphpicture1")->trigger();
    saved.LoadImageFile(rendered);
    EXPECT_EQ(DifferentPixels(saved, PreviewImage()->Picture()), 0);
    EXPECT_FALSE(AllPixels(saved, clWhite));

    // Whatever size the preview window has, the saved picture has the picture size.
    Preview().resize(Preview().width() - 10, Preview().height());
    Dialogs.Answers.push_back(rendered);
    Act("Savecurentmorphpicture1")->trigger();
    saved.LoadImageFile(rendered);
    EXPECT_EQ(saved.Width(), 40);
    EXPECT_EQ(saved.Height(), 30);
}

TEST_F(EditorTest, SaveAsAviOfThreeSecondsWritesSeventySixFramesAndLeavesSliderAtEnd)
{
    OpenStart(MakePicture("a.bmp", 16, 12, 1));
    OpenEnd(MakePicture("b.bmp", 16, 12, 2));
    Tbpos()->setValue(0);
    ASSERT_EQ(SeDuration()->value(), 3000);
    QStringList progress;
    QObject::connect(Main().statusBar(), &QStatusBar::messageChanged,
                     [&progress](const QString& text) { progress << text; });

    const std::string path = PathOf("movie.avi");
    Dialogs.Answers.push_back(path);
    Act("Saveasavi1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();

    const std::vector<uint8_t> avi = ReadAll(path);
    ASSERT_GT(avi.size(), 64u);
    EXPECT_EQ(std::string(avi.begin(), avi.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(avi.begin() + 8, avi.begin() + 12), "AVI ");
    // The main header: 40 000 microseconds per frame, 76 frames, 16 x 12.
    ASSERT_EQ(std::string(avi.begin() + 24, avi.begin() + 28), "avih");
    EXPECT_EQ(U32(avi, 32), 40000u);
    EXPECT_EQ(U32(avi, 48), 76u);
    EXPECT_EQ(U32(avi, 64), 16u);
    EXPECT_EQ(U32(avi, 68), 12u);

    EXPECT_EQ(Tbpos()->value(), 255);
    // The preview shows the morph at 255.
    TBitmap expected;
    expected.SetPixelFormat(pf32bit);
    expected.SetSize(16, 12);
    expected.Canvas().Brush.Color = clWhite;
    expected.Canvas().FillRect(Rect(0, 0, 16, 12));
    Grid().RenderMorph(expected, 255);
    EXPECT_EQ(DifferentPixels(expected, PreviewImage()->Picture()), 0);
    // The status bar counted the frames, then went back to its own text.
    EXPECT_TRUE(progress.contains("Frame 1 of 76"));
    EXPECT_TRUE(progress.contains("Frame 76 of 76"));
    EXPECT_TRUE(Main().statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(EditorTest, FailingCommandShowsItsMessageAndTheEditorGoesOn)
{
    OpenStart(MakePicture("good.bmp", 40, 30, 1));
    const TMesh mesh = Grid().StartMesh;
    const std::string bad = PathOf("bad.bmp");
    {
        std::ofstream out(bad, std::ios::binary);
        out << "BM this is not a picture at all";
    }
    OpenEnd(bad);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_FALSE(Dialogs.Messages[0].empty());
    // The failed command changed nothing, not even the remembered name, and left no step.
    EXPECT_EQ(Grid().PictureWidth, 40);
    EXPECT_EQ(Grid().StartMesh, mesh);
    EXPECT_TRUE(Grid().EndFileName.empty());
    EXPECT_EQ(Main().History().Stack().count(), 1);

    // The editor goes on: the next command works.
    OpenEnd(MakePicture("next.bmp", 20, 10, 2));
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Grid().PictureWidth, 20);
    EXPECT_EQ(MainImage1()->size(), QSize(20, 10));

    // A project that cannot be written is reported the same way.
    const std::string unwritable = PathOf("no/such/folder/x.grid");
    Dialogs.Answers.push_back(unwritable);
    Act("Saveproject1")->trigger();
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
}

}  // namespace qv::test

namespace qv::test {

TEST_F(EditorTest, DemoProjectOpensWithBothFacesAndItsMeshes)
{
    const std::string demo = std::string(QV_TEST_DATA_DIR) + "/../../examples/faces.grid";
    ASSERT_TRUE(FileExists(demo));
    Dialogs.Answers.push_back(demo);
    Act("Openproject1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    EXPECT_EQ(Grid().StartFileName, "start.jpg");  // found beside the project by bare name
    EXPECT_EQ(Grid().PictureWidth, 320);
    EXPECT_EQ(Grid().PictureHeight, 320);
    EXPECT_EQ(Grid().Cols, 7);
    EXPECT_EQ(Grid().Rows, 7);
    EXPECT_EQ(Grid().StartMesh[2][2], Point(120, 140));  // the left eye on each face
    EXPECT_EQ(Grid().EndMesh[2][2], Point(130, 100));
    EXPECT_EQ(PreviewImage()->size(), QSize(320, 320));
    // The two faces differ, and the middle of the morph is neither of them.
    Tbpos()->setValue(128);
    const TBitmap& shown = PreviewImage()->Picture();
    EXPECT_GT(DifferentPixels(Grid().StartBmp, Grid().EndBmp), 320 * 320 / 2);
    EXPECT_GT(DifferentPixels(shown, Grid().StartBmp), 0);
    EXPECT_GT(DifferentPixels(shown, Grid().EndBmp), 0);
}

}  // namespace qv::test

namespace qv::test {

TEST_F(EditorTest, FailedAviExportShowsItsMessageAndRestoresCursorAndStatusBar)
{
    OpenStart(MakePicture("a.bmp", 16, 12, 1));
    SeDuration()->setValue(40);  // two frames
    Dialogs.Answers.push_back(PathOf("missing/folder/movie.avi"));
    Act("Saveasavi1")->trigger();
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(Main().statusBar()->currentMessage().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(PathOf("missing/folder/movie.avi")));
    // The frames were made before the write failed: the slider followed them to the end.
    EXPECT_EQ(Tbpos()->value(), 255);
}

}  // namespace qv::test

namespace qv::test {


TEST_F(EditorTest, AviFramesHaveThePictureSizeWhateverThePreviewWindowsSize)
{
    OpenStart(MakePicture("a.bmp", 16, 12, 1));
    OpenEnd(MakePicture("b.bmp", 16, 12, 2));
    // A preview window smaller than the picture, showing something else than the slider's
    // position 0.
    Preview().resize(10, Preview().height() - 5);
    SeDuration()->setValue(40);
    Tbpos()->setValue(0);
    TBitmap& shown = PreviewImage()->Picture();
    shown.Canvas().Brush.Color = clBlack;
    shown.Canvas().FillRect(Rect(0, 0, shown.Width(), shown.Height()));

    // The first frame is rendered into the preview at 0 although the slider showed 0.
    int firstFrameDifferences = -2;
    QObject::connect(Main().statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
        if (text == "Frame 1 of 2") {
            TBitmap cut;  // what a 10-pixel-wide preview can show of position 0
            cut.Assign(*RenderedOnWhite(Grid(), 0));
            cut.SetWidth(PreviewImage()->Picture().Width());
            cut.SetHeight(PreviewImage()->Picture().Height());
            firstFrameDifferences = DifferentPixels(cut, PreviewImage()->Picture());
        }
    });
    const std::string path = PathOf("small-preview.avi");
    Dialogs.Answers.push_back(path);
    Act("Saveasavi1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    EXPECT_EQ(firstFrameDifferences, 0);

    const std::vector<uint8_t> avi = ReadAll(path);
    ASSERT_GT(avi.size(), 72u);
    EXPECT_EQ(U32(avi, 48), 2u);   // frames
    EXPECT_EQ(U32(avi, 64), 16u);  // the picture's width, not the preview's
    EXPECT_EQ(U32(avi, 68), 12u);
    // The first frame's pixels (24-bit rows, bottom row first) are the whole morph at 0.
    const std::string movi = "movi";
    const auto at = std::search(avi.begin(), avi.end(), movi.begin(), movi.end());
    ASSERT_NE(at, avi.end());
    const std::string dc = "00dc";
    const auto chunk = std::search(at, avi.end(), dc.begin(), dc.end());
    ASSERT_NE(chunk, avi.end());
    const size_t data = size_t(chunk - avi.begin()) + 8;
    ASSERT_EQ(U32(avi, data - 4), 16u * 3u * 12u);
    const auto expected = RenderedOnWhite(Grid(), 0);
    int wrong = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            const size_t p = data + size_t(11 - y) * 48 + size_t(x) * 3;
            const TColor c = expected->PixelColor(x, y);
            wrong += avi[p] != GetBValue(c) || avi[p + 1] != GetGValue(c) || avi[p + 2] != GetRValue(c);
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(EditorTest, DraggingTheSplitterKeepsThePictureSizes)
{
    Find<QSplitter>(Main(), "Splitter1")->setSizes({150, 644});
    QCoreApplication::processEvents();
    EXPECT_EQ(Find<QScrollArea>(Main(), "ScrollBox1")->width(), 150);
    EXPECT_EQ(MainImage1()->size(), QSize(337, 313));
    EXPECT_EQ(MainImage1()->Picture().Width(), 337);
    EXPECT_EQ(Grid().PictureWidth, 337);
}

TEST_F(EditorTest, OpeningAPictureDiscardsMeshEditsAndAMissingProjectChangesNothing)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    Press(MainImage1(), Qt::LeftButton, QPoint(20, 15));
    Move(MainImage1(), QPoint(25, 18));
    Release(MainImage1(), Qt::LeftButton, QPoint(25, 18));
    ASSERT_EQ(Grid().StartMesh[1][1], Point(25, 18));
    OpenEnd(MakePicture("same-size.bmp", 40, 30, 2));
    EXPECT_EQ(Grid().StartMesh[1][1], Point(20, 15));

    const int steps = Main().History().Stack().count();

    Dialogs.SaveAnswers.push_back(TSaveAnswer::Discard);
    Dialogs.Answers.push_back(PathOf("typed-but-missing.grid"));
    Act("Openproject1")->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_NE(Dialogs.Messages[0].find("typed-but-missing.grid"), std::string::npos) << Dialogs.Messages[0];
    EXPECT_EQ(Grid().PictureWidth, 40);
    EXPECT_EQ(Grid().StartMesh[1][1], Point(20, 15));
    EXPECT_EQ(Main().History().Stack().count(), steps);
    EXPECT_TRUE(Main().IsModified());
}

}  // namespace qv::test

namespace qv::test {

TEST_F(EditorTest, SaveAfterOpeningAPictureOfTheSameSizeWritesTheNewMorph)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    OpenEnd(MakePicture("b.bmp", 40, 30, 2));
    Tbpos()->setValue(77);
    TBitmap shown;
    shown.Assign(PreviewImage()->Picture());
    ASSERT_FALSE(AllPixels(shown, clWhite));

    // Same size: the preview is rendered again all the same.
    OpenStart(MakePicture("c.bmp", 40, 30, 3));
    EXPECT_TRUE(PreviewShowsSlider());
    const std::string path = PathOf("kept.bmp");
    Dialogs.Answers.push_back(path);
    Act("Savecurentmorphpicture1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    TBitmap saved;
    saved.LoadImageFile(path);
    EXPECT_EQ(DifferentPixels(saved, *RenderedOnWhite(Grid(), 77)), 0);
    // Not what the preview showed before the new picture.
    EXPECT_GT(DifferentPixels(saved, shown), 0);
}

}  // namespace qv::test
