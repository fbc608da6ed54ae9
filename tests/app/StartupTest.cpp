// The state every start begins in, and the windows' components, texts and sizes.
#include <QLabel>
#include <set>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>

#include "EditorFixture.h"
#include "qv/Version.h"

namespace qv::test {

TEST_F(EditorTest, StartsWithEvenThreeByThreeGridOverDefaultPicture)
{
    EXPECT_EQ(Grid().PictureWidth, 337);
    EXPECT_EQ(Grid().PictureHeight, 313);
    EXPECT_EQ(Grid().Cols, 3);
    EXPECT_EQ(Grid().Rows, 3);
    EXPECT_EQ(Grid().SelCol, -1);
    const int xs[] = {0, 168, 337}, ys[] = {0, 156, 313};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(Grid().StartMesh[i][j], Point(xs[i], ys[j])) << i << "," << j;
            EXPECT_EQ(Grid().EndMesh[i][j], Point(xs[i], ys[j])) << i << "," << j;
        }
    EXPECT_TRUE(Grid().StartBmp.Empty());
    EXPECT_TRUE(Grid().EndBmp.Empty());
    EXPECT_TRUE(Grid().StartFileName.empty());
}

TEST_F(EditorTest, PanesAndPreviewShowThePictureSize)
{
    for (TPicturePane* pane : {MainImage1(), MainImage2()}) {
        EXPECT_EQ(pane->size(), QSize(337, 313));
        EXPECT_EQ(pane->Picture().Width(), 337);
        EXPECT_EQ(pane->Picture().Height(), 313);
        EXPECT_EQ(pane->Picture().PixelFormat(), pf32bit);
    }
    // The mesh is drawn over the (empty, white) picture: a lime marker at the centre point,
    // row 0 in the selection colour before the first click.
    EXPECT_EQ(MainImage1()->Picture().PixelColor(168 - 2, 156), clLime);
    EXPECT_EQ(MainImage2()->Picture().PixelColor(168 - 2, 156), clLime);
    EXPECT_EQ(MainImage1()->Picture().PixelColor(100, 0), clGreen);
    EXPECT_EQ(MainImage1()->Picture().PixelColor(100, 100), clWhite);

    EXPECT_TRUE(Preview().isVisible());
    EXPECT_EQ(PreviewImage()->size(), QSize(337, 313));
    const TBitmap& preview = PreviewImage()->Picture();
    EXPECT_EQ(preview.PixelFormat(), pf32bit);
    EXPECT_EQ(preview.Width(), 337);
    EXPECT_EQ(preview.Height(), 313);
    EXPECT_TRUE(AllPixels(preview, clWhite));
    EXPECT_FALSE(Editor->FrmAbout().isVisible());
}

TEST_F(EditorTest, MainWindowComponentsTextsAndLayout)
{
    TFMorpherGridEdit& w = Main();
    EXPECT_EQ(w.objectName(), "FMorpherGridEdit");
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Untitled[*] \u2014 Quorvalin"));
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_EQ(w.size(), QSize(800, 600));
    EXPECT_EQ(Find<QLabel>(w, "StatusText")->text(), "  Use right mouse button to insert/delete row/column");
    EXPECT_EQ(w.statusBar()->height(), 19);

    // Every component is found under its name.
    for (const char* name : {"MainMenu1", "Panel1", "ScrollBox1", "Image1", "Splitter1", "ScrollBox2", "Image2",
                             "Panel2", "SeGridWidth", "SeGridHeight", "StatusBar1", "PopupMenu"})
        EXPECT_NE(w.findChild<QObject*>(name), nullptr) << name;

    // Every item has its text, with a mnemonic of its own within its menu.
    struct Item { QAction* action; const char* name; const char* text; };
    const Item items[] = {
        {Find<QAction>(w, "Openproject1"), "Openproject1", "Open project"},
        {Find<QAction>(w, "Save1"), "Save1", "Save"},
        {Find<QAction>(w, "Saveproject1"), "Saveproject1", "Save project"},
        {Find<QAction>(w, "Quit1"), "Quit1", "Quit"},
        {Find<QAction>(w, "Openstartpicture1"), "Openstartpicture1", "Open start picture"},
        {Find<QAction>(w, "Openendpicture1"), "Openendpicture1", "Open end picture"},
        {Find<QAction>(w, "Saveasavi1"), "Saveasavi1", "Save as avi"},
        {Find<QAction>(w, "Savecurentmorphpicture1"), "Savecurentmorphpicture1", "Save curent morph picture"},
        {Find<QAction>(w, "Viewmorphwindow1"), "Viewmorphwindow1", "View morph window"},
        {Find<QAction>(w, "About1"), "About1", "About"},
        {Find<QAction>(w, "Insert1"), "Insert1", "Insert row"},
        {Find<QAction>(w, "Insertrow1"), "Insertrow1", "Insert column"},
        {Find<QAction>(w, "MnuDeleterow"), "MnuDeleterow", "Delete row"},
        {Find<QAction>(w, "MnuDeletecolumn"), "MnuDeletecolumn", "Delete column"},
        {Find<QAction>(w, "Smoothpreview1"), "Smoothpreview1", "Smooth preview"},
    };
    for (const Item& item : items) {
        ASSERT_NE(item.action, nullptr) << item.name;
        EXPECT_EQ(QString(item.action->text()).remove('&'), item.text) << item.name;
        EXPECT_EQ(item.action->text().count('&'), 1) << item.name;
    }
    for (const char* menuName : {"File1", "Edit1", "Morph1", "View1", "Help1", "PopupMenu"}) {
        std::set<char16_t> keys;
        for (QAction* a : Find<QMenu>(w, menuName)->actions()) {
            if (a->isSeparator())
                continue;
            const qsizetype at = a->text().indexOf('&');
            ASSERT_GE(at, 0) << menuName << ": " << a->text().toStdString();
            EXPECT_TRUE(keys.insert(a->text().at(at + 1).toLower().unicode()).second) << a->text().toStdString();
        }
    }
    EXPECT_EQ(Find<QAction>(w, "Openproject1")->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Find<QAction>(w, "Save1")->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(Find<QAction>(w, "Saveproject1")->shortcut(), QKeySequence("Ctrl+Shift+S"));
    EXPECT_EQ(Find<QAction>(w, "Quit1")->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(Find<QAction>(w, "About1")->shortcut(), QKeySequence("F1"));
    EXPECT_EQ(Find<QAction>(w, "Undo1")->shortcut(), QKeySequence("Ctrl+Z"));
    EXPECT_EQ(Find<QAction>(w, "Redo1")->shortcuts(),
              (QList<QKeySequence>{QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));
    // Menus in order, with the separators where they belong.
    const QList<QAction*> menus = Find<QMenuBar>(w, "MainMenu1")->actions();
    ASSERT_EQ(menus.size(), 5);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Edit");
    EXPECT_EQ(menus[2]->text(), "&Morph");
    EXPECT_EQ(menus[3]->text(), "&View");
    EXPECT_EQ(menus[4]->text(), "&?");
    QStringList morph;
    for (QAction* a : Find<QMenu>(w, "Morph1")->actions())
        morph << (a->isSeparator() ? "-" : QString(a->text()).remove('&'));
    EXPECT_EQ(morph.join('|'), "Open start picture|Open end picture|-|Save as avi|-|Save curent morph picture|-|"
                               "View morph window|-|Match end grid|Face grid");
    QStringList popup;
    for (QAction* a : PopupMenu()->actions())
        popup << (a->isSeparator() ? "-" : QString(a->text()).remove('&'));
    EXPECT_EQ(popup.join('|'), "Insert row|Insert column|-|Delete row|Delete column");

    // The two panes share the width equally.
    const int left = Find<QScrollArea>(w, "ScrollBox1")->width();
    EXPECT_EQ(left, Find<QScrollArea>(w, "ScrollBox2")->width());
    EXPECT_EQ(2 * left + 6, Find<QSplitter>(w, "Splitter1")->width());
    EXPECT_EQ(Find<QSplitter>(w, "Splitter1")->handleWidth(), 6);
    EXPECT_EQ(MainImage1()->pos(), QPoint(0, 0));
    EXPECT_FALSE(Find<QScrollArea>(w, "ScrollBox1")->widgetResizable());

    EXPECT_FALSE(Find<QFrame>(w, "Panel2")->isVisible());
    EXPECT_EQ(Find<QFrame>(w, "Panel2")->height(), 41);
    for (QSpinBox* spin : {Find<QSpinBox>(w, "SeGridWidth"), Find<QSpinBox>(w, "SeGridHeight")}) {
        EXPECT_EQ(spin->value(), 3);
        EXPECT_EQ(spin->minimum(), 2);
        EXPECT_EQ(spin->maximum(), 100);
    }
    EXPECT_EQ(Find<QLabel>(w, "Label1")->text(), "Grid width");
    EXPECT_EQ(Find<QLabel>(w, "Label2")->text(), "Grid height");
    EXPECT_EQ(Find<QLabel>(w, "Label3")->text(), "use right mouse button to insert cols or rows");

    // The file dialogs, as the commands run them.
    for (const char* action : {"Openproject1", "Saveproject1", "Saveasavi1", "Openstartpicture1",
                               "Savecurentmorphpicture1"}) {
        Dialogs.Answers.push_back(std::nullopt);
        Act(action)->trigger();
    }
    ASSERT_EQ(Dialogs.Runs.size(), 5u);
    const TFileDialog& open = Dialogs.Runs[0];
    const TFileDialog& save = Dialogs.Runs[1];
    const TFileDialog& avi = Dialogs.Runs[2];
    const TFileDialog& openPicture = Dialogs.Runs[3];
    const TFileDialog& savePicture = Dialogs.Runs[4];
    EXPECT_EQ(open.Filter, "Morphing Grid|*.grid");
    EXPECT_EQ(save.DefaultExt, "*.grid");
    EXPECT_EQ(save.FileName, "*.grid");
    EXPECT_EQ(avi.Filter, "Avi file|*.avi");
    EXPECT_EQ(avi.FileName, "*.avi");
    // The picture dialogs list the registered formats, "Tous" first.
    // The open dialog offers what reads, the save dialog what writes.
    for (const std::string& filter : {openPicture.Filter, savePicture.Filter}) {
        EXPECT_EQ(filter.rfind("Tous", 0), 0u) << filter;
        for (const char* ext : {"*.bmp", "*.png", "*.jpeg", "*.tga"}) EXPECT_NE(filter.find(ext), std::string::npos) << ext;
        EXPECT_EQ(filter.find("*.ico"), std::string::npos);
    }
    EXPECT_NE(openPicture.Filter.find("*.gif"), std::string::npos);
    EXPECT_EQ(savePicture.Filter.find("*.gif"), std::string::npos);
    EXPECT_TRUE(savePicture.DefaultExt.empty());

}

TEST_F(EditorTest, PreviewWindowComponentsTextsAndLayout)
{
    TFPreview& p = Preview();
    EXPECT_EQ(p.objectName(), "FPreview");
    EXPECT_EQ(p.windowTitle(), "Preview");
    EXPECT_TRUE(p.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Find<QFrame>(p, "Panel1")->height(), 48);
    EXPECT_EQ(PreviewImage()->width(), p.width());
    // The picture, the slider panel, then the Timing panel.
    const QWidget* timing = Find<QWidget>(p, "PnlTiming");
    EXPECT_EQ(PreviewImage()->height() + 48 + timing->height(), p.height());
    EXPECT_EQ(timing->y(), Find<QFrame>(p, "Panel1")->y() + 48);
    EXPECT_EQ(Find<QLabel>(p, "Label2")->text(), "Morph position");
    EXPECT_EQ(Find<QLabel>(p, "Label1")->text(), "Duration (ms)");
    EXPECT_EQ(Tbpos()->minimum(), 0);
    EXPECT_EQ(Tbpos()->maximum(), 255);
    EXPECT_EQ(Tbpos()->value(), 128);
    EXPECT_EQ(Tbpos()->tickInterval(), 8);
    EXPECT_EQ(Tbpos()->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(Tbpos()->orientation(), Qt::Horizontal);
    EXPECT_EQ(SeDuration()->minimum(), 10);
    EXPECT_EQ(SeDuration()->maximum(), 10000);
    EXPECT_EQ(SeDuration()->value(), 3000);
    EXPECT_FALSE(SpeedButton1()->icon().isNull());
    // The duration label stays inside the panel also in this narrow (337-pixel) window.
    EXPECT_LE(Find<QLabel>(p, "Label1")->geometry().right(), Find<QFrame>(p, "Panel1")->width());
    EXPECT_GE(Find<QLabel>(p, "Label1")->x(), 0);
    EXPECT_EQ(SpeedButton1()->geometry(), QRect(16, 14, 23, 22));
}

TEST_F(EditorTest, AboutBoxComponents)
{
    TFrmAbout& about = Editor->FrmAbout();
    EXPECT_EQ(about.objectName(), "FrmAbout");
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.size(), QSize(298, 213));
    EXPECT_EQ(about.ProductName->text(), "Quorvalin");
    EXPECT_EQ(about.Version->text(), "Version " + QString::fromUtf8(ProgramVersion.data(), ProgramVersion.size()));
    EXPECT_EQ(about.OKButton->text(), "OK");
    EXPECT_EQ(about.OKButton->geometry(), QRect(111, 180, 75, 25));
    EXPECT_TRUE(about.OKButton->isDefault());
    EXPECT_EQ(about.Panel1->geometry(), QRect(8, 8, 281, 161));
    EXPECT_EQ(about.ProgramIcon->geometry(), QRect(8, 8, 65, 57));
    EXPECT_FALSE(about.ProgramIcon->pixmap().isNull());

    // About opens the box modally; its OK button closes it with the OK result.
    QTimer::singleShot(0, &about, [&about] {
        EXPECT_TRUE(about.isVisible());
        EXPECT_TRUE(about.isModal());
        about.OKButton->click();
    });
    Act("About1")->trigger();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(EditorTest, QuitEndsTheProgramWithoutQuestionsOrFiles)
{
    Grid().StartMesh[1][1] = Point(10, 10);  // unsaved change
    Act("Quit1")->trigger();
    EXPECT_EQ(Terminations, 1);
    EXPECT_TRUE(Dialogs.Asked.empty());
    EXPECT_TRUE(Dialogs.Questions.empty());
    EXPECT_TRUE(std::filesystem::is_empty(Dir));
    // Closing the main window is Quit too, even with the preview still open.
    Main().close();
    EXPECT_EQ(Terminations, 2);
}

TEST_F(EditorTest, ViewMorphWindowShowsTheClosedPreviewUnchanged)
{
    Tbpos()->setValue(40);  // renders something that is not white
    TBitmap before;
    before.Assign(PreviewImage()->Picture());
    const QRect geometry = Preview().geometry();
    Preview().close();
    EXPECT_FALSE(Preview().isVisible());
    Act("Viewmorphwindow1")->trigger();
    EXPECT_TRUE(Preview().isVisible());
    EXPECT_EQ(Preview().geometry(), geometry);
    EXPECT_EQ(DifferentPixels(before, PreviewImage()->Picture()), 0);
}

}  // namespace qv::test
