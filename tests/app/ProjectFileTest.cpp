// The current project: title, Save, the save-changes question before anything replaces
// unsaved work, drops, recent projects and the command line.
#include <QDir>
#include <QStatusBar>
#include <fstream>
#include <QMimeData>
#include <QUndoStack>
#include <QUrl>

#include "EditorFixture.h"

namespace qv::test {

class ProjectFileTest : public EditorTest {
protected:
    // An unsaved change: the middle point of the start mesh dragged up and left.
    void Edit()
    {
        const QPoint from(Grid().StartMesh[1][1].X, Grid().StartMesh[1][1].Y);
        Press(MainImage1(), Qt::LeftButton, from);
        Move(MainImage1(), from - QPoint(9, 7));
        Release(MainImage1(), Qt::LeftButton, from - QPoint(9, 7));
        ASSERT_TRUE(Main().IsModified());
    }
    void Drop(const std::vector<std::string>& files, QWidget* on)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const std::string& f : files)
            urls << QUrl::fromLocalFile(QString::fromStdString(f));
        mime.setUrls(urls);
        const QPoint at = on->mapTo(&Main(), QPoint(5, 5));
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Main(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Main(), &event);
    }
    std::string MakeProject(const std::string& name, int cols)
    {
        TMorphGrid g;
        g.SetPictureSize(Point(50, 40));
        g.SetGridSize(Point(cols, 3));
        const std::string path = PathOf(name);
        g.SaveGridFile(path);
        return path;
    }
    QString Title(const char* name) { return QString::fromUtf8("%1[*] \u2014 Quorvalin").arg(name); }
};

TEST_F(ProjectFileTest, TitleSaveAndSaveAsFollowTheCurrentProject)
{
    EXPECT_EQ(Main().windowTitle(), Title("Untitled"));
    Edit();
    EXPECT_TRUE(Main().isWindowModified());
    // Save without a name asks for one, like Save project.
    const std::string first = PathOf("first.grid");
    Dialogs.Answers.push_back(first);
    Act("Save1")->trigger();
    EXPECT_EQ(Dialogs.Asked, std::vector<std::string>{"SaveDialog1"});
    EXPECT_EQ(Main().windowTitle(), Title("first.grid"));
    EXPECT_FALSE(Main().isWindowModified());

    // Later saves write to it without asking; undo past the save is a change again.
    Edit();
    EXPECT_TRUE(Main().isWindowModified());
    Act("Save1")->trigger();
    EXPECT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_FALSE(Main().IsModified());
    TMorphGrid saved;
    saved.LoadGridFile(first);
    EXPECT_TRUE(saved.StartMesh == Grid().StartMesh);
    Act("Undo1")->trigger();
    EXPECT_TRUE(Main().isWindowModified());
    Act("Redo1")->trigger();
    EXPECT_FALSE(Main().isWindowModified());

    // Save project is Save As: it always asks, and the new name becomes current.
    const std::string second = PathOf("second.grid");
    Dialogs.Answers.push_back(second);
    Act("Saveproject1")->trigger();
    EXPECT_EQ(Dialogs.Asked.size(), 2u);
    EXPECT_EQ(Main().windowTitle(), Title("second.grid"));
    EXPECT_TRUE(FileExists(second));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(ProjectFileTest, UnsavedWorkIsAskedAboutBeforeQuitCloseOpenAndDrop)
{
    enum class TWay { Quit, Close, Open, Drop };
    const std::string other = MakeProject("other.grid", 6);
    for (TWay way : {TWay::Quit, TWay::Close, TWay::Open, TWay::Drop}) {
        for (TSaveAnswer answer : {TSaveAnswer::Cancel, TSaveAnswer::Discard, TSaveAnswer::Save}) {
            SCOPED_TRACE(int(way) * 10 + int(answer));
            // A fresh, edited, never saved project each time.
            Editor.reset();
            Editor = std::make_unique<TEditor>(Dialogs);
            Main().OnTerminate = [this] { ++Terminations; };
            Editor->Show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main()));
            Terminations = 0;
            Dialogs.SavePrompts.clear();
            Edit();
            const TMesh edited = Grid().StartMesh;
            const int steps = Main().History().Stack().count();
            const std::string saveAs = PathOf("saved.grid");
            std::filesystem::remove(saveAs);

            Dialogs.SaveAnswers.push_back(answer);
            if (answer == TSaveAnswer::Save)
                Dialogs.Answers.push_back(saveAs);
            if (way == TWay::Open && answer != TSaveAnswer::Cancel)
                Dialogs.Answers.push_back(other);
            switch (way) {
            case TWay::Quit: Act("Quit1")->trigger(); break;
            case TWay::Close: Main().close(); break;
            case TWay::Open: Act("Openproject1")->trigger(); break;
            case TWay::Drop: Drop({other}, MainImage1()); break;
            }
            EXPECT_EQ(Dialogs.SavePrompts, std::vector<std::string>{"Untitled"});
            EXPECT_TRUE(Dialogs.Answers.empty());
            EXPECT_TRUE(Dialogs.Messages.empty());
            EXPECT_EQ(FileExists(saveAs), answer == TSaveAnswer::Save);
            if (answer == TSaveAnswer::Save) {
                TMorphGrid saved;
                saved.LoadGridFile(saveAs);
                EXPECT_TRUE(saved.StartMesh == edited);
            }
            const bool goesOn = answer != TSaveAnswer::Cancel;
            if (way == TWay::Quit || way == TWay::Close) {
                EXPECT_EQ(Terminations, goesOn ? 1 : 0);
                EXPECT_EQ(Main().isVisible(), !(goesOn && way == TWay::Close));
            } else {
                EXPECT_EQ(Grid().Cols, goesOn ? 6 : 3);
                EXPECT_EQ(Main().ProjectFileName(), goesOn ? other : (answer == TSaveAnswer::Save ? saveAs : ""));
            }
            if (!goesOn) {
                // Cancel leaves everything as it was.
                EXPECT_TRUE(Grid().StartMesh == edited);
                EXPECT_TRUE(Main().IsModified());
                EXPECT_EQ(Main().History().Stack().count(), steps);
            }
        }
    }
}

TEST_F(ProjectFileTest, DropsOpenProjectsAndPicturesAndRefuseEverythingElse)
{
    const std::string picture = MakePicture("drop.bmp", 44, 33, 1);
    Drop({picture}, MainImage2());
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(Grid().EndFileName, picture);
    EXPECT_TRUE(Grid().StartFileName.empty());
    EXPECT_EQ(Grid().PictureWidth, 44);
    Drop({picture}, Find<QWidget>(Main(), "ScrollBox1"));
    EXPECT_EQ(Grid().StartFileName, picture);
    Act("Undo1")->trigger();  // a dropped picture is a step like any other
    EXPECT_TRUE(Grid().StartFileName.empty());

    const TMesh mesh = Grid().StartMesh;
    const int steps = Main().History().Stack().count();
    const std::string text = PathOf("notes.txt");
    std::ofstream(text) << "hello";
    struct Refused {
        std::vector<std::string> files;
        QWidget* on;
        const char* mentions;
    } refused[] = {
        {{text}, MainImage1(), "notes.txt"},
        {{picture, picture}, MainImage1(), "one"},
        {{picture}, Main().statusBar(), "start or the end"},
        {{PathOf("gone.grid")}, MainImage1(), "gone.grid"},
        {{PathOf("gone.bmp")}, MainImage1(), "gone.bmp"},
    };
    for (const Refused& r : refused) {
        Dialogs.Messages.clear();
        Drop(r.files, r.on);
        ASSERT_EQ(Dialogs.Messages.size(), 1u) << r.mentions;
        EXPECT_NE(Dialogs.Messages[0].find(r.mentions), std::string::npos) << Dialogs.Messages[0];
        EXPECT_TRUE(Grid().StartMesh == mesh);
        EXPECT_EQ(Main().History().Stack().count(), steps);
    }

    // A project dropped anywhere opens (nothing unsaved here after a save).
    Dialogs.Answers.push_back(PathOf("mine.grid"));
    Act("Save1")->trigger();
    const std::string project = MakeProject("dropped.grid", 5);
    Drop({project}, Main().statusBar());
    EXPECT_EQ(Grid().Cols, 5);
    EXPECT_EQ(Main().ProjectFileName(), project);
    EXPECT_TRUE(Dialogs.SavePrompts.empty());
}

TEST_F(ProjectFileTest, RecentProjectsAreRememberedAndAMissingOneIsRemovedWithAMessage)
{
    // The settings of this test run live in a folder of their own.
    EXPECT_FALSE(EditorSettings()->fileName().startsWith(QDir::homePath())) << EditorSettings()->fileName().toStdString();
    QMenu* recent = Find<QMenu>(Main(), "OpenRecent1");
    EXPECT_FALSE(recent->isEnabled());
    for (int i = 0; i < 10; ++i) {
        Dialogs.Answers.push_back(MakeProject("p" + std::to_string(i) + ".grid", 3 + i));
        Act("Openproject1")->trigger();
    }
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    QStringList list = RecentProjects();
    ASSERT_EQ(list.size(), 8);
    EXPECT_EQ(list.first(), QString::fromStdString(PathOf("p9.grid")));
    EXPECT_EQ(list.last(), QString::fromStdString(PathOf("p2.grid")));

    // The menu lists them; choosing one opens it.
    emit recent->aboutToShow();
    ASSERT_EQ(recent->actions().size(), 8);
    EXPECT_EQ(recent->actions()[3]->text(), "&4 p6.grid");
    recent->actions()[3]->trigger();
    EXPECT_EQ(Grid().Cols, 9);
    EXPECT_EQ(RecentProjects().first(), QString::fromStdString(PathOf("p6.grid")));

    // A project that has gone since: a message, out of the list, nothing else changes.
    std::filesystem::remove(PathOf("p8.grid"));
    emit recent->aboutToShow();
    QAction* gone = nullptr;
    for (QAction* a : recent->actions())
        if (a->text().endsWith("p8.grid"))
            gone = a;
    ASSERT_NE(gone, nullptr);
    gone->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_NE(Dialogs.Messages[0].find("p8.grid"), std::string::npos);
    EXPECT_EQ(Grid().Cols, 9);
    EXPECT_EQ(RecentProjects().size(), 7);
    EXPECT_FALSE(RecentProjects().contains(QString::fromStdString(PathOf("p8.grid"))));

    // Remembered by the next run, with the preview's duration and each dialog's folder.
    SeDuration()->setValue(1234);
    Editor.reset();
    Editor = std::make_unique<TEditor>(Dialogs);
    EXPECT_EQ(SeDuration()->value(), 1234);
    Dialogs.Answers.push_back(std::nullopt);
    Act("Openproject1")->trigger();
    EXPECT_EQ(std::filesystem::path(Dialogs.Runs.back().FileName).parent_path(), std::filesystem::path(Dir));
}

TEST_F(ProjectFileTest, ACommandLineProjectOpensAndABadOneLeavesTheEmptyStart)
{
    Editor->OpenProject(PathOf("nothing-here.grid"));
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_NE(Dialogs.Messages[0].find("nothing-here.grid"), std::string::npos);
    EXPECT_EQ(Grid().Cols, 3);
    EXPECT_EQ(Main().History().Stack().count(), 0);
    EXPECT_EQ(Main().windowTitle(), Title("Untitled"));

    const std::string demo = std::string(QV_TEST_DATA_DIR) + "/../../examples/faces.grid";
    Editor->OpenProject(demo);
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Main().windowTitle(), Title("faces.grid"));
    EXPECT_FALSE(Main().IsModified());
    EXPECT_FALSE(Grid().StartBmp.Empty());
    EXPECT_TRUE(PreviewShowsSlider());
}

}  // namespace qv::test
