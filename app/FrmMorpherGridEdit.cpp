#include "app/FrmMorpherGridEdit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUndoStack>
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

#include "app/AlignCommands.h"
#include "app/ErrorGuard.h"
#include "app/ExportVideoDialog.h"
#include "app/FAbout.h"
#include "app/FrmPlay.h"
#include "app/MovieExport.h"
#include "app/PaneView.h"
#include "app/PaneViews.h"
#include "app/PicturePane.h"
#include "app/ProjectHistory.h"
#include "app/QtOwn.h"
#include "app/Settings.h"
#include "framework/Exceptions.h"
#include "framework/Picture.h"
#include "framework/System.h"
#include "imageio/GenericGraphic.h"
#include "morph/MorphTiming.h"

namespace qv {

namespace {
constexpr int kStartPaneWidth = 337, kEndPaneWidth = 345, kPaneHeight = 313;
constexpr const char* kStatusText = "  Use right mouse button to insert/delete row/column";

QString FromLocal(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }
std::string ToLocal(const QString& s) { return QFile::encodeName(s).toStdString(); }

bool IsProjectFile(const std::string& fileName)
{
    return LowerCase(ExtractFileExt(fileName)) == ".grid";
}

// Merge ids of arrow-key moves: one per point, so presses on the same point become one
// step and a press on another point starts a new one.
int KeyMoveId(bool isStart, int32_t col, int32_t row)
{
    return 1 + ((isStart ? 0 : 1) * MeshSize + col) * MeshSize + row;
}

}  // namespace

template <class F>
void TFMorpherGridEdit::Guard(F&& handler)
{
    Guarded(FDialogs, std::forward<F>(handler));
}

TFMorpherGridEdit::TFMorpherGridEdit(IDialogs& dialogs) : FDialogs(dialogs)
{
    setObjectName("FMorpherGridEdit");
    resize(800, 600);
    setAcceptDrops(true);
    OnTerminate = [] { QCoreApplication::quit(); };
    BuildMenus();
    BuildClientArea();
    BuildDialogs();
    FormCreate();
    ConnectHandlers();
    UpdateTitle();
    UpdateActions();
}

TFMorpherGridEdit::~TFMorpherGridEdit()
{
    FormDestroy();
}

void TFMorpherGridEdit::BuildMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    auto add = [](QMenu* menu, const char* text, const char* name, const QList<QKeySequence>& keys = {}) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        action->setShortcuts(keys);
        return action;
    };

    File1 = MainMenu1->addMenu("&File");
    File1->setObjectName("File1");
    Openproject1 = add(File1, "&Open project", "Openproject1", {QKeySequence::Open});
    OpenRecent1 = File1->addMenu("Open &Recent");
    OpenRecent1->setObjectName("OpenRecent1");
    Save1 = add(File1, "&Save", "Save1", {QKeySequence("Ctrl+S")});
    Saveproject1 = add(File1, "Save pro&ject", "Saveproject1", {QKeySequence("Ctrl+Shift+S")});
    File1->addSeparator();
    Exportvideo1 = add(File1, "E&xport video\u2026", "Exportvideo1", {QKeySequence("Ctrl+E")});
    File1->addSeparator();
    Quit1 = add(File1, "&Quit", "Quit1", {QKeySequence("Ctrl+Q")});

    Edit1 = MainMenu1->addMenu("&Edit");
    Edit1->setObjectName("Edit1");

    Morph1 = MainMenu1->addMenu("&Morph");
    Morph1->setObjectName("Morph1");
    Openstartpicture1 = add(Morph1, "Open &start picture", "Openstartpicture1");
    Openendpicture1 = add(Morph1, "Open &end picture", "Openendpicture1");
    Morph1->addSeparator();
    Saveasavi1 = add(Morph1, "Save as &avi", "Saveasavi1");
    Morph1->addSeparator();
    Savecurentmorphpicture1 = add(Morph1, "Save &curent morph picture", "Savecurentmorphpicture1");
    Morph1->addSeparator();
    Viewmorphwindow1 = add(Morph1, "&View morph window", "Viewmorphwindow1");

    Help1 = MainMenu1->addMenu("&?");
    Help1->setObjectName("Help1");
    About1 = add(Help1, "&About", "About1", {QKeySequence(Qt::Key_F1)});

    PopupMenu = Own<QMenu>(this);
    PopupMenu->setObjectName("PopupMenu");
    Insert1 = add(PopupMenu, "Insert &row", "Insert1");
    Insertrow1 = add(PopupMenu, "Insert &column", "Insertrow1");
    PopupMenu->addSeparator();
    MnuDeleterow = add(PopupMenu, "&Delete row", "MnuDeleterow");
    MnuDeletecolumn = add(PopupMenu, "De&lete column", "MnuDeletecolumn");
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
    // The spin edits mirror the counts for display only; they never lay the grid out.
    for (QSpinBox* spin : {SeGridWidth, SeGridHeight}) {
        spin->setRange(2, 100);
        spin->setValue(3);
        spin->setReadOnly(true);
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
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
    // The preview's sampling, beside the panes' view choices.
    PaneViews->View1->addSeparator();
    Smoothpreview1 = PaneViews->View1->addAction("&Smooth preview");
    Smoothpreview1->setObjectName("Smoothpreview1");
    Smoothpreview1->setCheckable(true);
    PaneViews->BuildStatusReadouts(StatusBar1);
}

void TFMorpherGridEdit::BuildDialogs()
{
    OpenDialog1 = {"OpenDialog1", TFileDialogKind::OpenFile, "Morphing Grid|*.grid", "*.grid", "*.grid"};
    SaveDialog1 = {"SaveDialog1", TFileDialogKind::SaveFile, "Morphing Grid|*.grid", "*.grid", "*.grid"};
    SaveDialog2 = {"SaveDialog2", TFileDialogKind::SaveFile, "Avi file|*.avi", "*.avi", "*.avi"};
    // The picture dialogs list the formats registered when the window is made: the open
    // dialog what reads, the save dialog what writes.
    OpenPictureDialog1 = {"OpenPictureDialog1", TFileDialogKind::OpenPicture, TPicture::GraphicFilter(TFilterUse::Open), "", ""};
    SavePictureDialog1 = {"SavePictureDialog1", TFileDialogKind::SavePicture, TPicture::GraphicFilter(TFilterUse::Save), "", ""};
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
    for (bool isStart : {true, false}) {
        Pane(isStart).OnKeyDown = [this, isStart](int key, Qt::KeyboardModifiers modifiers) {
            const int step = (modifiers & Qt::ShiftModifier) ? 10 : 1;
            int dx = 0, dy = 0;
            switch (key) {
            case Qt::Key_Left: dx = -step; break;
            case Qt::Key_Right: dx = step; break;
            case Qt::Key_Up: dy = -step; break;
            case Qt::Key_Down: dy = step; break;
            default: return false;
            }
            bool used = false;
            Guard([&] { used = MoveSelectedPoint(isStart, dx, dy); });
            return used;
        };
    }

    auto bind = [this](QAction* action, void (TFMorpherGridEdit::*handler)()) {
        QObject::connect(action, &QAction::triggered, this, [this, handler] { Guard([&] { (this->*handler)(); }); });
    };
    bind(Openproject1, &TFMorpherGridEdit::Openproject1Click);
    bind(Save1, &TFMorpherGridEdit::Save1Click);
    bind(Saveproject1, &TFMorpherGridEdit::Saveproject1Click);
    bind(Quit1, &TFMorpherGridEdit::Quit1Click);
    bind(Openstartpicture1, &TFMorpherGridEdit::Openstartpicture1Click);
    bind(Openendpicture1, &TFMorpherGridEdit::Openendpicture1Click);
    bind(Saveasavi1, &TFMorpherGridEdit::Saveasavi1Click);
    bind(Exportvideo1, &TFMorpherGridEdit::Exportvideo1Click);
    bind(Savecurentmorphpicture1, &TFMorpherGridEdit::Savecurentmorphpicture1Click);
    bind(Viewmorphwindow1, &TFMorpherGridEdit::Viewmorphwindow1Click);
    bind(Smoothpreview1, &TFMorpherGridEdit::Smoothpreview1Click);
    bind(About1, &TFMorpherGridEdit::About1Click);
    bind(Insert1, &TFMorpherGridEdit::Insert1Click);
    bind(Insertrow1, &TFMorpherGridEdit::Insertrow1Click);
    bind(MnuDeleterow, &TFMorpherGridEdit::MnuDeleterowClick);
    bind(MnuDeletecolumn, &TFMorpherGridEdit::MnuDeletecolumnClick);

    // Undo and redo come with the stack's own actions, named after the step they undo.
    QUndoStack& stack = FHistory->Stack();
    Undo1 = stack.createUndoAction(this, "&Undo");
    Undo1->setObjectName("Undo1");
    Undo1->setShortcuts({QKeySequence("Ctrl+Z")});
    Redo1 = stack.createRedoAction(this, "&Redo");
    Redo1->setObjectName("Redo1");
    Redo1->setShortcuts({QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")});
    Edit1->addAction(Undo1);
    Edit1->addAction(Redo1);
    FHistory->OnApplied = [this] { ProjectChanged(); };
    QObject::connect(&stack, &QUndoStack::cleanChanged, this, [this](bool) { UpdateTitle(); });
    QObject::connect(&stack, &QUndoStack::indexChanged, this, [this](int) { UpdateTitle(); });
    QObject::connect(OpenRecent1, &QMenu::aboutToShow, this, [this] { RebuildRecentMenu(); });
    AddAlignActions(*this, FDialogs);
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
    FHistory = std::make_unique<TProjectHistory>(*MorphGrid);
    // The last folder of each file dialog, from the last run.
    const auto settings = EditorSettings();
    for (TFileDialog* dialog : {&OpenDialog1, &SaveDialog1, &SaveDialog2, &OpenPictureDialog1, &SavePictureDialog1}) {
        const QString folder = settings->value("Folders/" + FromLocal(dialog->Name)).toString();
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            dialog->FileName = ToLocal(folder) + "/";
    }
}

void TFMorpherGridEdit::SetPreview(TFPreview* preview)
{
    FPreview = preview;
    // A timing change is a change to the project (kept in its timing file).
    if (FPreview)
        FPreview->OnTimingChange = [this] { UpdateTitle(); };
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
    // The preview stays white until there is something to show.
    ProjectChanged(false);
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

void TFMorpherGridEdit::ProjectChanged(bool render)
{
    RefreshPanes();
    for (auto [spin, count] : {std::pair{SeGridWidth, MorphGrid->Cols}, std::pair{SeGridHeight, MorphGrid->Rows}}) {
        const QSignalBlocker quiet(spin);
        spin->setValue(count);
    }
    // The preview always shows the project as it is now, at the slider's position.
    if (FPreview && render)
        FPreview->Rerender();
    UpdateActions();
    UpdateTitle();
}

void TFMorpherGridEdit::UpdateActions()
{
    const TMorphGrid& g = *MorphGrid;
    const bool selected = g.SelCol != -1 && g.SelRow != -1;
    Insert1->setEnabled(g.Rows >= 2 && g.Rows < 100);
    Insertrow1->setEnabled(g.Cols >= 2 && g.Cols < 100);
    MnuDeleterow->setEnabled(selected);
    MnuDeletecolumn->setEnabled(selected);
    OpenRecent1->setEnabled(!RecentProjects().isEmpty());
}

void TFMorpherGridEdit::UpdateTitle()
{
    const std::string& file = FHistory->ProjectFileName();
    const QString name = file.empty() ? QString("Untitled") : FromLocal(ExtractFileName(file));
    setWindowTitle(name + QString::fromUtf8("[*] \u2014 Quorvalin"));
    setWindowModified(IsModified());
}

std::string TFMorpherGridEdit::ProjectFileName() const
{
    return FHistory->ProjectFileName();
}

bool TFMorpherGridEdit::IsModified() const
{
    // The timing is no undo step; it counts as modified until saved.
    return !FHistory->Stack().isClean() || (FPreview && !(FPreview->RenderOptions().Timing == FSavedTiming));
}

void TFMorpherGridEdit::FormDestroy()
{
    if (FPreview)
        FPreview->SetMorphGrid(nullptr);
    QObject::disconnect(&FHistory->Stack(), nullptr, this, nullptr);
    FHistory->OnApplied = nullptr;
    FHistory.reset();
    MorphGrid.reset();
}

void TFMorpherGridEdit::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program, like Quit, even while the preview is open.
    bool agreed = FTerminating;
    if (!agreed)
        Guard([&] { agreed = MaybeSave(); });
    if (!agreed) {
        event->ignore();
        return;
    }
    event->accept();
    FTerminating = true;
    if (OnTerminate)
        OnTerminate();
}

// ---- undoable changes

bool TFMorpherGridEdit::ChangeProject(const QString& name, const std::function<void()>& change,
                                      bool picturesMayChange, int mergeId)
{
    bool changed = false;
    try {
        changed = FHistory->Change(name, change, picturesMayChange, mergeId);
    } catch (...) {
        ProjectChanged();  // the panes may show part of the failed change
        throw;
    }
    ProjectChanged();
    return changed;
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
        UpdateActions();
        PopupMenu->popup(screen);
    }
    MorphGrid->GridMouseDown(IsStart, Pane(IsStart).Picture(), Button, Shift, X, Y, PickReach(Pane(IsStart).Zoom()));
    UpdateActions();
}

void TFMorpherGridEdit::PaneMouseUp(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    // The moves before the release changed the grid already; the step records the whole
    // drag, from the press to here.
    const bool changed = ChangeProject("Move point", [&] {
        MorphGrid->GridMouseUp(IsStart, Pane(IsStart).Picture(), Button, Shift, X, Y);
    });
    if (!changed && FPreview)
        FPreview->Rerender();
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

bool TFMorpherGridEdit::MoveSelectedPoint(bool isStart, int dx, int dy)
{
    TMorphGrid& g = *MorphGrid;
    if (g.SelCol < 0 || g.SelRow < 0 || g.SelCol >= std::min(g.Cols, MeshSize) ||
        g.SelRow >= std::min(g.Rows, MeshSize))
        return false;
    ChangeProject("Move point", [&] {
        TPoint& p = g.Mesh(isStart)[size_t(g.SelCol)][size_t(g.SelRow)];
        // The same edge rules as a drag: border points stay on their border.
        p = g.ConstrainPoint(Point(p.X + dx, p.Y + dy));
    }, false, KeyMoveId(isStart, g.SelCol, g.SelRow));
    return true;
}

void TFMorpherGridEdit::Insert1Click()
{
    ChangeProject("Insert row", [&] { MorphGrid->InsertRow(PopupOnStart, PopupX, PopupY); });
}

void TFMorpherGridEdit::Insertrow1Click()
{
    ChangeProject("Insert column", [&] { MorphGrid->InsertColumn(PopupOnStart, PopupX, PopupY); });
}

void TFMorpherGridEdit::MnuDeleterowClick()
{
    ChangeProject("Delete row", [&] { MorphGrid->DeleteRow(); });
}

void TFMorpherGridEdit::MnuDeletecolumnClick()
{
    ChangeProject("Delete column", [&] { MorphGrid->DeleteColumn(); });
}

// ---- project files

bool TFMorpherGridEdit::Ask(TFileDialog& dialog)
{
    if (!Execute(dialog, FDialogs))
        return false;
    const std::string folder = ExtractFilePath(ExpandFileName(dialog.FileName));
    if (!folder.empty())
        EditorSettings()->setValue("Folders/" + FromLocal(dialog.Name), FromLocal(folder));
    return true;
}

bool TFMorpherGridEdit::MaybeSave()
{
    if (!IsModified())
        return true;
    const std::string& file = FHistory->ProjectFileName();
    switch (FDialogs.AskSaveChanges(file.empty() ? "Untitled" : ExtractFileName(file))) {
    case TSaveAnswer::Save: return SaveProject();
    case TSaveAnswer::Discard: return true;
    case TSaveAnswer::Cancel: break;
    }
    return false;
}

bool TFMorpherGridEdit::SaveProject()
{
    const std::string file = FHistory->ProjectFileName();
    if (file.empty())
        return SaveProjectAs();
    MorphGrid->SaveGridFile(file);
    SaveProjectTiming(file);
    FHistory->Stack().setClean();
    AddRecentProject(FromLocal(file));
    UpdateTitle();
    return true;
}

bool TFMorpherGridEdit::SaveProjectAs()
{
    if (!Ask(SaveDialog1))
        return false;
    const std::string file = ExpandFileName(SaveDialog1.FileName);
    MorphGrid->SaveGridFile(file);
    SaveProjectTiming(file);
    FHistory->SetProjectFileName(file);
    FHistory->Stack().setClean();
    AddRecentProject(FromLocal(file));
    UpdateTitle();
    UpdateActions();
    return true;
}

void TFMorpherGridEdit::OpenProjectNow(const std::string& fileName)
{
    if (!FileExists(fileName))
        throw EFOpenError("Cannot open project " + fileName + ": the file does not exist");
    const std::string file = ExpandFileName(fileName);
    // A project finds its pictures by bare name in its own folder.
    const std::string oldDir = GetCurrentDir();
    SetCurrentDir(ExtractFilePath(file));
    try {
        FHistory->SetPendingProjectFileName(file);
        ChangeProject("Open project", [&] { MorphGrid->LoadGridFile(file); }, true);
    } catch (...) {
        SetCurrentDir(oldDir);
        throw;
    }
    // The timing beside the project; a damaged one is reported and left linear.
    const TTimingLoad timing = LoadTiming(file);
    FPreview->SetTiming(timing.Timing, timing.Note);
    FSavedTiming = FPreview->RenderOptions().Timing;
    FHistory->Stack().setClean();
    AddRecentProject(FromLocal(file));
    UpdateTitle();
    UpdateActions();
    // The project is open all the same; the user learns what it lacks.
    if (!MorphGrid->MissingPictures.empty())
        FDialogs.ShowMessage(MorphGrid->MissingPictures);
    if (!timing.Note.empty())
        FDialogs.ShowMessage(timing.Note);
}

void TFMorpherGridEdit::SaveProjectTiming(const std::string& file)
{
    SaveTiming(file, FPreview->RenderOptions().Timing);
    FSavedTiming = FPreview->RenderOptions().Timing;
}

void TFMorpherGridEdit::OpenProject(const std::string& fileName)
{
    Guard([&] {
        if (!FileExists(fileName))
            throw EFOpenError("Cannot open project " + fileName + ": the file does not exist");
        if (MaybeSave())
            OpenProjectNow(fileName);
    });
}

void TFMorpherGridEdit::Openproject1Click()
{
    if (!MaybeSave())
        return;
    if (!Ask(OpenDialog1))
        return;
    OpenProjectNow(OpenDialog1.FileName);
}

void TFMorpherGridEdit::Save1Click()
{
    SaveProject();
}

void TFMorpherGridEdit::Saveproject1Click()
{
    SaveProjectAs();
}

void TFMorpherGridEdit::RebuildRecentMenu()
{
    OpenRecent1->clear();
    const QStringList recent = RecentProjects();
    for (int i = 0; i < recent.size(); ++i) {
        const QString& file = recent[i];
        QAction* action = OpenRecent1->addAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(file).fileName()));
        action->setObjectName(QString("Recent%1").arg(i + 1));
        action->setToolTip(file);
        action->setStatusTip(file);
        QObject::connect(action, &QAction::triggered, this, [this, file] { Guard([&] { OpenRecent(file); }); });
    }
    OpenRecent1->setEnabled(!recent.isEmpty());
}

void TFMorpherGridEdit::OpenRecent(const QString& fileName)
{
    if (!QFileInfo(fileName).isFile()) {
        RemoveRecentProject(fileName);
        UpdateActions();
        throw EFOpenError("The project " + ToLocal(fileName) +
                          " no longer exists; it was removed from the recent projects");
    }
    if (MaybeSave())
        OpenProjectNow(ToLocal(fileName));
}

// ---- pictures, drops, video

void TFMorpherGridEdit::LoadPicture(bool isStart, const std::string& fileName)
{
    if (!FileExists(fileName))
        throw EFOpenError("Cannot open picture " + fileName + ": the file does not exist");
    ChangeProject(isStart ? "Open start picture" : "Open end picture", [&] {
        if (isStart)
            MorphGrid->LoadStartPicture(fileName);
        else
            MorphGrid->LoadEndPicture(fileName);
    }, true);
}

void TFMorpherGridEdit::Openstartpicture1Click()
{
    if (!Ask(OpenPictureDialog1))
        return;
    LoadPicture(true, OpenPictureDialog1.FileName);
}

void TFMorpherGridEdit::Openendpicture1Click()
{
    if (!Ask(OpenPictureDialog1))
        return;
    LoadPicture(false, OpenPictureDialog1.FileName);
}

void TFMorpherGridEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TFMorpherGridEdit::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    const QPoint at = event->position().toPoint();
    event->acceptProposedAction();
    Guard([&] {
        if (urls.size() != 1 || !urls.first().isLocalFile())
            throw EFOpenError("Drop one project (.grid) or one picture file");
        DropFile(urls.first().toLocalFile(), at);
    });
}

void TFMorpherGridEdit::DropFile(const QString& fileName, const QPoint& at)
{
    const std::string file = ToLocal(fileName);
    if (IsProjectFile(file)) {
        OpenProject(file);
        return;
    }
    if (!TGenericGraphic::FindClass(file))
        throw EFOpenError("Cannot use " + file + ": it is neither a project (.grid) nor a picture of a known type");
    // The pane under the drop, or the scroll box around it.
    for (QWidget* w = childAt(at); w; w = w->parentWidget()) {
        if (w == ScrollBox1 || w == Image1)
            return LoadPicture(true, file);
        if (w == ScrollBox2 || w == Image2)
            return LoadPicture(false, file);
    }
    throw EFOpenError("Drop the picture " + file + " on the start or the end picture");
}

void TFMorpherGridEdit::Savecurentmorphpicture1Click()
{
    if (!Ask(SavePictureDialog1))
        return;
    // What is saved is the project as it is now, at the slider's position.
    FPreview->Rerender();
    TGenericGraphic picture;  // starts white once sized; the picture's size, not the pane's
    picture.SetWidth(MorphGrid->PictureWidth);
    picture.SetHeight(MorphGrid->PictureHeight);
    picture.Canvas().Draw(0, 0, FPreview->Picture());
    picture.SaveImageFile(SavePictureDialog1.FileName);
}

void TFMorpherGridEdit::Saveasavi1Click()
{
    if (!Ask(SaveDialog2))
        return;
    SaveAsAvi(*this, *FPreview, SaveDialog2.FileName);
}

void TFMorpherGridEdit::Exportvideo1Click()
{
    ExportVideoCommand(this, *MorphGrid, FDialogs, FPreview->Duration(), FPreview->RenderOptions().Timing);
}

// ---- small commands

void TFMorpherGridEdit::Quit1Click()
{
    if (!MaybeSave())
        return;
    FTerminating = true;
    if (OnTerminate)
        OnTerminate();
}

void TFMorpherGridEdit::Viewmorphwindow1Click()
{
    FPreview->show();
    FPreview->raise();
    FPreview->activateWindow();
}

void TFMorpherGridEdit::Smoothpreview1Click()
{
    FPreview->SetSmooth(Smoothpreview1->isChecked());
}

void TFMorpherGridEdit::About1Click()
{
    if (FrmAbout)
        FrmAbout->exec();
}

}  // namespace qv
