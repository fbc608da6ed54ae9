#include "app/FrmMorpherGridEdit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/ErrorGuard.h"
#include "app/FAbout.h"
#include "app/FrmPlay.h"
#include "app/MovieExport.h"
#include "app/PaneView.h"
#include "app/PaneViews.h"
#include "app/PicturePane.h"
#include "app/QtOwn.h"
#include "framework/Picture.h"
#include "imageio/GenericGraphic.h"

namespace qv {

namespace {
constexpr int kStartPaneWidth = 337, kEndPaneWidth = 345, kPaneHeight = 313;
constexpr const char* kStatusText = "  Use right mouse button to insert/delete row/column";
}  // namespace

template <class F>
void TFMorpherGridEdit::Guard(F&& handler)
{
    Guarded(FDialogs, std::forward<F>(handler));
}

TFMorpherGridEdit::TFMorpherGridEdit(IDialogs& dialogs) : FDialogs(dialogs)
{
    setObjectName("FMorpherGridEdit");
    setWindowTitle("Quorvalin");
    resize(800, 600);
    OnTerminate = [] { QCoreApplication::quit(); };
    BuildMenus();
    BuildClientArea();
    BuildDialogs();
    ConnectHandlers();
    FormCreate();
}

TFMorpherGridEdit::~TFMorpherGridEdit()
{
    FormDestroy();
}

void TFMorpherGridEdit::BuildMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");

    File1 = MainMenu1->addMenu("File");
    File1->setObjectName("File1");
    Openproject1 = File1->addAction("Open project");
    Openproject1->setObjectName("Openproject1");
    Saveproject1 = File1->addAction("Save project");
    Saveproject1->setObjectName("Saveproject1");
    File1->addSeparator();
    Quit1 = File1->addAction("Quit");
    Quit1->setObjectName("Quit1");

    Morph1 = MainMenu1->addMenu("Morph");
    Morph1->setObjectName("Morph1");
    Openstartpicture1 = Morph1->addAction("Open start picture");
    Openstartpicture1->setObjectName("Openstartpicture1");
    Openendpicture1 = Morph1->addAction("Open end picture");
    Openendpicture1->setObjectName("Openendpicture1");
    Morph1->addSeparator();
    Saveasavi1 = Morph1->addAction("Save as avi");
    Saveasavi1->setObjectName("Saveasavi1");
    Morph1->addSeparator();
    Savecurentmorphpicture1 = Morph1->addAction("Save curent morph picture");
    Savecurentmorphpicture1->setObjectName("Savecurentmorphpicture1");
    Morph1->addSeparator();
    Viewmorphwindow1 = Morph1->addAction("View morph window");
    Viewmorphwindow1->setObjectName("Viewmorphwindow1");

    Help1 = MainMenu1->addMenu("?");
    Help1->setObjectName("Help1");
    About1 = Help1->addAction("About");
    About1->setObjectName("About1");

    PopupMenu = Own<QMenu>(this);
    PopupMenu->setObjectName("PopupMenu");
    Insert1 = PopupMenu->addAction("Insert row");
    Insert1->setObjectName("Insert1");
    Insertrow1 = PopupMenu->addAction("Insert column");
    Insertrow1->setObjectName("Insertrow1");
    PopupMenu->addSeparator();
    MnuDeleterow = PopupMenu->addAction("Delete row");
    MnuDeleterow->setObjectName("MnuDeleterow");
    MnuDeletecolumn = PopupMenu->addAction("Delete column");
    MnuDeletecolumn->setObjectName("MnuDeletecolumn");
}

void TFMorpherGridEdit::BuildClientArea()
{
    auto* client = Own<QWidget>(this);
    auto* column = Own<QVBoxLayout>(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(client);

    Panel1 = Own<QFrame>(client);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::NoFrame);
    column->addWidget(Panel1, 1);
    auto* row = Own<QHBoxLayout>(Panel1);
    row->setContentsMargins(0, 0, 0, 0);

    Splitter1 = Own<QSplitter>(Qt::Horizontal, Panel1);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(6);
    Splitter1->setChildrenCollapsible(false);
    row->addWidget(Splitter1);

    auto makeBox = [this](const char* boxName, const char* imageName, int width) {
        auto* box = Own<QScrollArea>(Splitter1);
        box->setObjectName(boxName);
        box->setWidgetResizable(false);
        box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        box->setMinimumWidth(30);  // the splitter never squeezes a pane away
        auto* image = Own<TPicturePane>(box);
        image->setObjectName(imageName);
        image->SetControlSize(width, kPaneHeight);
        box->setWidget(image);
        return std::pair{box, image};
    };
    std::tie(ScrollBox1, Image1) = makeBox("ScrollBox1", "Image1", kStartPaneWidth);
    std::tie(ScrollBox2, Image2) = makeBox("ScrollBox2", "Image2", kEndPaneWidth);
    Splitter1->addWidget(ScrollBox1);
    Splitter1->addWidget(ScrollBox2);
    // The panes share the width equally and both follow the window's size.
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({397, 397});

    Panel2 = Own<QFrame>(client);
    Panel2->setObjectName("Panel2");
    Panel2->setFixedHeight(41);
    auto* bar = Own<QHBoxLayout>(Panel2);
    Label1 = Own<QLabel>("Grid width", Panel2);
    Label1->setObjectName("Label1");
    SeGridWidth = Own<QSpinBox>(Panel2);
    SeGridWidth->setObjectName("SeGridWidth");
    Label2 = Own<QLabel>("Grid height", Panel2);
    Label2->setObjectName("Label2");
    SeGridHeight = Own<QSpinBox>(Panel2);
    SeGridHeight->setObjectName("SeGridHeight");
    Label3 = Own<QLabel>("use right mouse button to insert cols or rows", Panel2);
    Label3->setObjectName("Label3");
    for (QSpinBox* spin : {SeGridWidth, SeGridHeight}) {
        spin->setRange(3, 100);
        spin->setValue(3);
    }
    bar->addWidget(Label1);
    bar->addWidget(SeGridWidth);
    bar->addWidget(Label2);
    bar->addWidget(SeGridHeight);
    bar->addWidget(Label3, 1);
    column->addWidget(Panel2);
    Panel2->hide();  // nothing in the program shows it

    StatusBar1 = statusBar();
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(19);
    StatusText = Own<QLabel>(kStatusText, StatusBar1);
    StatusText->setObjectName("StatusText");
    StatusText->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(StatusText, 1);

    PaneViews = Own<TPaneViews>(FDialogs, ScrollBox1, Image1, ScrollBox2, Image2,
                                [this] { return MorphGrid.get(); }, this);
    PaneViews->BuildViewMenu(MainMenu1, Help1->menuAction());
    PaneViews->BuildStatusReadouts(StatusBar1);
}

void TFMorpherGridEdit::BuildDialogs()
{
    OpenDialog1 = {"OpenDialog1", TFileDialogKind::OpenFile, "Morphing Grid|*.grid", "*.grid", "*.grid"};
    SaveDialog1 = {"SaveDialog1", TFileDialogKind::SaveFile, "Morphing Grid|*.grid", "*.grid", "*.grid"};
    SaveDialog2 = {"SaveDialog2", TFileDialogKind::SaveFile, "Avi file|*.avi", "*.avi", "*.avi"};
    // The picture dialogs list the formats registered when the window is made.
    const std::string pictures = TPicture::GraphicFilter();
    OpenPictureDialog1 = {"OpenPictureDialog1", TFileDialogKind::OpenPicture, pictures, "", ""};
    SavePictureDialog1 = {"SavePictureDialog1", TFileDialogKind::SavePicture, pictures, "", ""};
}

void TFMorpherGridEdit::ConnectHandlers()
{
    Image1->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) {
        Guard([&] { Image1MouseDown(b, s, x, y); });
    };
    Image1->OnMouseMove = [this](TShiftState s, int x, int y) { Guard([&] { Image1MouseMove(s, x, y); }); };
    Image1->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) {
        Guard([&] { Image1MouseUp(b, s, x, y); });
    };
    Image2->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) {
        Guard([&] { Image2MouseDown(b, s, x, y); });
    };
    Image2->OnMouseMove = [this](TShiftState s, int x, int y) { Guard([&] { Image2MouseMove(s, x, y); }); };
    Image2->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) {
        Guard([&] { Image2MouseUp(b, s, x, y); });
    };

    auto bind = [this](QAction* action, void (TFMorpherGridEdit::*handler)()) {
        QObject::connect(action, &QAction::triggered, this, [this, handler] { Guard([&] { (this->*handler)(); }); });
    };
    bind(Openproject1, &TFMorpherGridEdit::Openproject1Click);
    bind(Saveproject1, &TFMorpherGridEdit::Saveproject1Click);
    bind(Quit1, &TFMorpherGridEdit::Quit1Click);
    bind(Openstartpicture1, &TFMorpherGridEdit::Openstartpicture1Click);
    bind(Openendpicture1, &TFMorpherGridEdit::Openendpicture1Click);
    bind(Saveasavi1, &TFMorpherGridEdit::Saveasavi1Click);
    bind(Savecurentmorphpicture1, &TFMorpherGridEdit::Savecurentmorphpicture1Click);
    bind(Viewmorphwindow1, &TFMorpherGridEdit::Viewmorphwindow1Click);
    bind(About1, &TFMorpherGridEdit::About1Click);
    bind(Insert1, &TFMorpherGridEdit::Insert1Click);
    bind(Insertrow1, &TFMorpherGridEdit::Insertrow1Click);
    bind(MnuDeleterow, &TFMorpherGridEdit::MnuDeleterowClick);
    bind(MnuDeletecolumn, &TFMorpherGridEdit::MnuDeletecolumnClick);

    QObject::connect(SeGridWidth, &QSpinBox::valueChanged, this, [this](int) { Guard([&] { SeGridWidthChange(); }); });
    QObject::connect(SeGridHeight, &QSpinBox::valueChanged, this, [this](int) { Guard([&] { SeGridHeightChange(); }); });
}

// ---- start-up, refresh, shut-down

void TFMorpherGridEdit::FormCreate()
{
    Image1->Picture().SetPixelFormat(pf32bit);
    Image1->Picture().SetSize(Image1->width(), Image1->height());
    Image2->Picture().SetPixelFormat(pf32bit);
    Image2->Picture().SetSize(Image2->width(), Image2->height());
    MorphGrid = std::make_unique<TMorphGrid>();
    MorphGrid->SetPictureSize(Point(Image1->width(), Image1->height()));
    MorphGrid->SetGridSize(Point(3, 3));
}

void TFMorpherGridEdit::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!FShown) {  // the first showing only; later ones (after minimising) are not FormShow
        FShown = true;
        Guard([this] { FormShow(); });
    }
}

void TFMorpherGridEdit::FormShow()
{
    for (bool isStart : {true, false}) {
        TPicturePane& pane = Pane(isStart);
        pane.SetControlSize(MorphGrid->PictureWidth, MorphGrid->PictureHeight);
        pane.Picture().SetPixelFormat(pf32bit);
        pane.Picture().SetSize(MorphGrid->PictureWidth, MorphGrid->PictureHeight);
    }
    if (FPreview)
        FPreview->show();
    SeGridWidth->setValue(MorphGrid->Cols);
    SeGridHeight->setValue(MorphGrid->Rows);
    SeGridWidth->setMaximum(100);
    SeGridHeight->setMaximum(100);
    RefreshPanes();
}

void TFMorpherGridEdit::RefreshPanes()
{
    const int32_t w = MorphGrid->PictureWidth;
    const int32_t h = MorphGrid->PictureHeight;
    for (bool isStart : {true, false}) {
        TPicturePane& pane = Pane(isStart);
        pane.SetControlSize(w, h);
        pane.Picture().SetWidth(w);
        pane.Picture().SetHeight(h);
    }
    if (FPreview)
        FPreview->FitPictureArea(w, h);
    MorphGrid->DrawGrid(true, Image1->Picture());
    MorphGrid->DrawGrid(false, Image2->Picture());
    PaneViews->PicturesChanged();
}

void TFMorpherGridEdit::FormDestroy()
{
    if (FPreview)
        FPreview->SetMorphGrid(nullptr);
    MorphGrid.reset();
}

void TFMorpherGridEdit::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program, like Quit, even while the preview is open.
    Guard([this] { Quit1Click(); });
    event->accept();
}

// ---- grid editing

TPicturePane& TFMorpherGridEdit::Pane(bool IsStart) const
{
    return IsStart ? *Image1 : *Image2;
}

void TFMorpherGridEdit::PaneMouseDown(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == TMouseButton::mbRight) {
        PopupOnStart = IsStart;
        PopupX = X;
        PopupY = Y;
        const QPoint screen = Pane(IsStart).mapToGlobal(Pane(IsStart).PictureToWidget(QPoint(X, Y)));
        MnuDeletecolumn->setEnabled(MorphGrid->SelCol != -1);
        MnuDeleterow->setEnabled(MnuDeletecolumn->isEnabled());
        PopupMenu->popup(screen);
    }
    MorphGrid->GridMouseDown(IsStart, Pane(IsStart).Picture(), Button, Shift, X, Y, PickReach(Pane(IsStart).Zoom()));
}

void TFMorpherGridEdit::PaneMouseUp(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    MorphGrid->GridMouseUp(IsStart, Pane(IsStart).Picture(), Button, Shift, X, Y);
    MorphGrid->DrawGrid(!IsStart, Pane(!IsStart).Picture());
    if (FPreview)
        FPreview->TbposChange();
}

void TFMorpherGridEdit::Image1MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    PaneMouseDown(true, Button, Shift, X, Y);
}

void TFMorpherGridEdit::Image2MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    PaneMouseDown(false, Button, Shift, X, Y);
}

void TFMorpherGridEdit::Image1MouseMove(TShiftState Shift, int X, int Y)
{
    MorphGrid->GridMouseMove(true, Image1->Picture(), Shift, X, Y);
}

void TFMorpherGridEdit::Image2MouseMove(TShiftState Shift, int X, int Y)
{
    MorphGrid->GridMouseMove(false, Image2->Picture(), Shift, X, Y);
}

void TFMorpherGridEdit::Image1MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    PaneMouseUp(true, Button, Shift, X, Y);
}

void TFMorpherGridEdit::Image2MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    PaneMouseUp(false, Button, Shift, X, Y);
}

void TFMorpherGridEdit::AfterGridEdit()
{
    RefreshPanes();
    SeGridWidth->setValue(MorphGrid->Cols);
    SeGridHeight->setValue(MorphGrid->Rows);
}

void TFMorpherGridEdit::Insert1Click()
{
    MorphGrid->InsertRow(PopupOnStart, PopupX, PopupY);
    AfterGridEdit();
}

void TFMorpherGridEdit::Insertrow1Click()
{
    MorphGrid->InsertColumn(PopupOnStart, PopupX, PopupY);
    AfterGridEdit();
}

void TFMorpherGridEdit::MnuDeleterowClick()
{
    MorphGrid->DeleteRow();
    AfterGridEdit();
}

void TFMorpherGridEdit::MnuDeletecolumnClick()
{
    MorphGrid->DeleteColumn();
    AfterGridEdit();
}

void TFMorpherGridEdit::SeGridWidthChange()
{
    if (SeGridWidth->value() != MorphGrid->Cols) {
        MorphGrid->SetGridSize(Point(SeGridWidth->value(), MorphGrid->Rows));
        RefreshPanes();
    }
}

void TFMorpherGridEdit::SeGridHeightChange()
{
    if (SeGridHeight->value() != MorphGrid->Rows) {
        MorphGrid->SetGridSize(Point(MorphGrid->Cols, SeGridHeight->value()));
        RefreshPanes();
    }
}

// ---- project, picture and video commands

void TFMorpherGridEdit::Openproject1Click()
{
    if (!Execute(OpenDialog1, FDialogs))
        return;
    MorphGrid->LoadGridFile(OpenDialog1.FileName);
    RefreshPanes();
}

void TFMorpherGridEdit::Saveproject1Click()
{
    if (!Execute(SaveDialog1, FDialogs))
        return;
    MorphGrid->SaveGridFile(SaveDialog1.FileName);
}

void TFMorpherGridEdit::Openstartpicture1Click()
{
    if (!Execute(OpenPictureDialog1, FDialogs))
        return;
    MorphGrid->LoadStartPicture(OpenPictureDialog1.FileName);
    RefreshPanes();
}

void TFMorpherGridEdit::Openendpicture1Click()
{
    if (!Execute(OpenPictureDialog1, FDialogs))
        return;
    MorphGrid->LoadEndPicture(OpenPictureDialog1.FileName);
    RefreshPanes();
}

void TFMorpherGridEdit::Savecurentmorphpicture1Click()
{
    if (!Execute(SavePictureDialog1, FDialogs))
        return;
    TGenericGraphic picture;  // starts white once sized; the picture's size, not the pane's
    picture.SetWidth(MorphGrid->PictureWidth);
    picture.SetHeight(MorphGrid->PictureHeight);
    picture.Canvas().Draw(0, 0, FPreview->Image1->Picture());
    picture.SaveImageFile(SavePictureDialog1.FileName);
}

void TFMorpherGridEdit::Saveasavi1Click()
{
    if (!Execute(SaveDialog2, FDialogs))
        return;
    SaveAsAvi(*this, *FPreview, SaveDialog2.FileName);
}

// ---- small commands

void TFMorpherGridEdit::Quit1Click()
{
    if (OnTerminate)
        OnTerminate();
}

void TFMorpherGridEdit::Viewmorphwindow1Click()
{
    FPreview->show();
    FPreview->raise();
    FPreview->activateWindow();
}

void TFMorpherGridEdit::About1Click()
{
    if (FrmAbout)
        FrmAbout->exec();
}

}  // namespace qv
