// The state every start begins in, and the windows' components, texts and sizes.
#include <QLabel>
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
    for (TPicturePane* pane : {Main().Image1, Main().Image2}) {
        EXPECT_EQ(pane->size(), QSize(337, 313));
        EXPECT_EQ(pane->Picture().Width(), 337);
        EXPECT_EQ(pane->Picture().Height(), 313);
        EXPECT_EQ(pane->Picture().PixelFormat(), pf32bit);
    }
    // The mesh is drawn over the (empty, white) picture: a lime marker at the centre point,
    // row 0 in the selection colour before the first click.
    EXPECT_EQ(Main().Image1->Picture().PixelColor(168 - 2, 156), clLime);
    EXPECT_EQ(Main().Image2->Picture().PixelColor(168 - 2, 156), clLime);
    EXPECT_EQ(Main().Image1->Picture().PixelColor(100, 0), clGreen);
    EXPECT_EQ(Main().Image1->Picture().PixelColor(100, 100), clWhite);

    EXPECT_TRUE(Preview().isVisible());
    EXPECT_EQ(Preview().Image1->size(), QSize(337, 313));
    const TBitmap& preview = Preview().Image1->Picture();
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
    EXPECT_EQ(w.windowTitle(), "Quorvalin");
    EXPECT_EQ(w.size(), QSize(800, 600));
    EXPECT_EQ(w.StatusText->text(), "  Use right mouse button to insert/delete row/column");
    EXPECT_EQ(w.StatusBar1->height(), 19);

    // Every component is found under its name.
    for (const char* name : {"MainMenu1", "Panel1", "ScrollBox1", "Image1", "Splitter1", "ScrollBox2", "Image2",
                             "Panel2", "SeGridWidth", "SeGridHeight", "StatusBar1", "PopupMenu"})
        EXPECT_NE(w.findChild<QObject*>(name), nullptr) << name;

    struct Item { QAction* action; const char* name; const char* text; };
    const Item items[] = {
        {w.Openproject1, "Openproject1", "Open project"},
        {w.Saveproject1, "Saveproject1", "Save project"},
        {w.Quit1, "Quit1", "Quit"},
        {w.Openstartpicture1, "Openstartpicture1", "Open start picture"},
        {w.Openendpicture1, "Openendpicture1", "Open end picture"},
        {w.Saveasavi1, "Saveasavi1", "Save as avi"},
        {w.Savecurentmorphpicture1, "Savecurentmorphpicture1", "Save curent morph picture"},
        {w.Viewmorphwindow1, "Viewmorphwindow1", "View morph window"},
        {w.About1, "About1", "About"},
        {w.Insert1, "Insert1", "Insert row"},
        {w.Insertrow1, "Insertrow1", "Insert column"},
        {w.MnuDeleterow, "MnuDeleterow", "Delete row"},
        {w.MnuDeletecolumn, "MnuDeletecolumn", "Delete column"},
    };
    for (const Item& item : items) {
        EXPECT_EQ(item.action->objectName(), item.name);
        EXPECT_EQ(item.action->text(), item.text) << item.name;
        EXPECT_EQ(w.findChild<QAction*>(item.name), item.action) << item.name;
    }
    // Menus in order, with the separators where they belong.
    const QList<QAction*> menus = w.MainMenu1->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "File");
    EXPECT_EQ(menus[1]->text(), "Morph");
    EXPECT_EQ(menus[2]->text(), "?");
    QStringList morph;
    for (QAction* a : w.Morph1->actions())
        morph << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(morph.join('|'), "Open start picture|Open end picture|-|Save as avi|-|Save curent morph picture|-|"
                               "View morph window");
    QStringList popup;
    for (QAction* a : w.PopupMenu->actions())
        popup << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(popup.join('|'), "Insert row|Insert column|-|Delete row|Delete column");

    EXPECT_EQ(w.ScrollBox1->width(), 401);
    EXPECT_EQ(w.Splitter1->handleWidth(), 6);
    EXPECT_EQ(w.Image1->pos(), QPoint(0, 0));
    EXPECT_FALSE(w.ScrollBox1->widgetResizable());

    EXPECT_FALSE(w.Panel2->isVisible());
    EXPECT_EQ(w.Panel2->height(), 41);
    for (QSpinBox* spin : {w.SeGridWidth, w.SeGridHeight}) {
        EXPECT_EQ(spin->value(), 3);
        EXPECT_EQ(spin->minimum(), 3);
        EXPECT_EQ(spin->maximum(), 100);
    }
    EXPECT_EQ(w.Label1->text(), "Grid width");
    EXPECT_EQ(w.Label2->text(), "Grid height");
    EXPECT_EQ(w.Label3->text(), "use right mouse button to insert cols or rows");

    EXPECT_EQ(w.OpenDialog1.Filter, "Morphing Grid|*.grid");
    EXPECT_EQ(w.SaveDialog1.DefaultExt, "*.grid");
    EXPECT_EQ(w.SaveDialog1.FileName, "*.grid");
    EXPECT_EQ(w.SaveDialog2.Filter, "Avi file|*.avi");
    EXPECT_EQ(w.SaveDialog2.FileName, "*.avi");
    // The picture dialogs list the registered formats, "Tous" first.
    EXPECT_EQ(w.OpenPictureDialog1.Filter.rfind("Tous", 0), 0u) << w.OpenPictureDialog1.Filter;
    EXPECT_NE(w.OpenPictureDialog1.Filter.find("*.bmp"), std::string::npos);
    EXPECT_EQ(w.SavePictureDialog1.Filter, w.OpenPictureDialog1.Filter);
    EXPECT_TRUE(w.SavePictureDialog1.DefaultExt.empty());
}

TEST_F(EditorTest, PreviewWindowComponentsTextsAndLayout)
{
    TFPreview& p = Preview();
    EXPECT_EQ(p.objectName(), "FPreview");
    EXPECT_EQ(p.windowTitle(), "Preview");
    EXPECT_TRUE(p.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(p.Panel1->height(), 48);
    EXPECT_EQ(p.Image1->width(), p.width());
    EXPECT_EQ(p.Image1->height() + 48, p.height());
    EXPECT_EQ(p.Label2->text(), "Morph position");
    EXPECT_EQ(p.Label1->text(), "Duration (ms)");
    EXPECT_EQ(p.Tbpos->minimum(), 0);
    EXPECT_EQ(p.Tbpos->maximum(), 255);
    EXPECT_EQ(p.Tbpos->value(), 128);
    EXPECT_EQ(p.Tbpos->tickInterval(), 8);
    EXPECT_EQ(p.Tbpos->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(p.Tbpos->orientation(), Qt::Horizontal);
    EXPECT_EQ(p.SeDuration->minimum(), 10);
    EXPECT_EQ(p.SeDuration->maximum(), 10000);
    EXPECT_EQ(p.SeDuration->value(), 3000);
    EXPECT_FALSE(p.SpeedButton1->icon().isNull());
    // The duration label stays inside the panel also in this narrow (337-pixel) window.
    EXPECT_LE(p.Label1->geometry().right(), p.Panel1->width());
    EXPECT_GE(p.Label1->x(), 0);
    EXPECT_EQ(p.SpeedButton1->geometry(), QRect(16, 14, 23, 22));
    EXPECT_EQ(p.findChild<QSlider*>("Tbpos"), p.Tbpos);
    EXPECT_EQ(p.findChild<QSpinBox*>("SeDuration"), p.SeDuration);
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
    Main().About1->trigger();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(EditorTest, QuitEndsTheProgramWithoutQuestionsOrFiles)
{
    Grid().StartMesh[1][1] = Point(10, 10);  // unsaved change
    Main().Quit1->trigger();
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
    Preview().Tbpos->setValue(40);  // renders something that is not white
    TBitmap before;
    before.Assign(Preview().Image1->Picture());
    const QRect geometry = Preview().geometry();
    Preview().close();
    EXPECT_FALSE(Preview().isVisible());
    Main().Viewmorphwindow1->trigger();
    EXPECT_TRUE(Preview().isVisible());
    EXPECT_EQ(Preview().geometry(), geometry);
    EXPECT_EQ(DifferentPixels(before, Preview().Image1->Picture()), 0);
}

}  // namespace qv::test
