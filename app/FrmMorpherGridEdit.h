#pragma once
// The main window FMorpherGridEdit: the two picture panes with their meshes, the menus, the
// popup menu of the panes, and every command of the editor. Widgets and handlers are
// private; tests and other code find a component by its object name (findChild).
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>

#include "app/Dialogs.h"
#include "morph/MorphTiming.h"
#include "morph/UMorph.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QSpinBox;
class QSplitter;
class QStatusBar;

namespace qv {

class TFPreview;
class TFrmAbout;
class TPaneViews;
class TPicturePane;
class TProjectHistory;

class TFMorpherGridEdit : public QMainWindow {
public:
    // Runs FormCreate.
    explicit TFMorpherGridEdit(IDialogs& dialogs);
    // Runs FormDestroy.
    ~TFMorpherGridEdit() override;

    // The other two windows, created after this one (start-up order).
    void SetPreview(TFPreview* preview);
    void SetAbout(TFrmAbout* about) { FrmAbout = about; }
    TFPreview* Preview() const { return FPreview; }

    // What Quit does once the user agreed: ends the application's event loop. Replaceable
    // for tests.
    std::function<void()> OnTerminate;

    // The one grid, owned for the window's whole life. Read it freely; change it only
    // through ChangeProject, so that the change can be undone.
    std::unique_ptr<TMorphGrid> MorphGrid;

    // Runs Change on MorphGrid as one undoable step named Name (the Edit menu then offers
    // "Undo Name"), then refreshes the panes, the preview and the menus. Pass
    // PicturesMayChange when Change may replace a picture. Steps with the same MergeId
    // (>= 0) that follow each other become one. A Change that throws leaves the project as
    // it was and records nothing; the exception goes on to the caller's error guard.
    // Returns true when the project changed.
    bool ChangeProject(const QString& name, const std::function<void()>& change, bool picturesMayChange = false,
                       int mergeId = -1);
    TProjectHistory& History() { return *FHistory; }

    // Opens a project file as File > Open project does, without the file dialog (command
    // line, drops, recent list): asks to save changes first; a file that cannot be used
    // gets a message and changes nothing. Runs inside the error guard.
    void OpenProject(const std::string& fileName);
    // The project file Save writes to ("" before the first save), and whether the project
    // has changes that are not saved.
    std::string ProjectFileName() const;
    bool IsModified() const;

    // The menus, for commands added later.
    QMenu* FileMenu() const { return File1; }
    QMenu* EditMenu() const { return Edit1; }
    QMenu* MorphMenu() const { return Morph1; }
    QMenu* HelpMenu() const { return Help1; }

    // Redraws both panes (picture plus mesh) at the picture size.
    void RefreshPanes();
    // The panes' zoom and scroll position, the View menu and the position readouts.
    TPaneViews& Views() const { return *PaneViews; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenus();
    void BuildClientArea();
    void BuildDialogs();
    void ConnectHandlers();
    // Everything that shows the project follows it: panes, spin edits, preview, menus,
    // title.
    void ProjectChanged(bool render = true);
    // Sets what is enabled from the project and the selection.
    void UpdateActions();
    void UpdateTitle();
    // Writes (or removes) the project's timing file beside it.
    void SaveProjectTiming(const std::string& file);
    void RebuildRecentMenu();
    // Runs a file dialog and remembers its folder for the next run of the program.
    bool Ask(TFileDialog& dialog);
    // True when the project may be replaced or the program may end: nothing unsaved, or
    // the user saved or discarded it.
    bool MaybeSave();
    bool SaveProject();
    bool SaveProjectAs();
    void OpenProjectNow(const std::string& fileName);
    void LoadPicture(bool isStart, const std::string& fileName);
    void OpenRecent(const QString& fileName);
    void DropFile(const QString& fileName, const QPoint& at);
    // Arrow keys on a pane: the selected point moves by (dx, dy). False when nothing is
    // selected, so the key goes on to the scroll box.
    bool MoveSelectedPoint(bool isStart, int dx, int dy);

    // Event handlers and commands; Qt reaches each of them through the error guard.
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void Image1MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void Image1MouseMove(TShiftState Shift, int X, int Y);
    void Image1MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void Image2MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void Image2MouseMove(TShiftState Shift, int X, int Y);
    void Image2MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void Insert1Click();
    void Insertrow1Click();
    void MnuDeleterowClick();
    void MnuDeletecolumnClick();
    void Openproject1Click();
    void Save1Click();
    void Saveproject1Click();
    void Quit1Click();
    void Openstartpicture1Click();
    void Openendpicture1Click();
    void Saveasavi1Click();
    void Exportvideo1Click();
    void Savecurentmorphpicture1Click();
    void Viewmorphwindow1Click();
    void Smoothpreview1Click();
    void About1Click();

    // The shared work of the two panes' handlers.
    TPicturePane& Pane(bool IsStart) const;
    void PaneMouseDown(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y);
    void PaneMouseUp(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y);
    // Runs a handler inside the error guard.
    template <class F>
    void Guard(F&& handler);

    // Components, under their object names.
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Openproject1 = nullptr;
    QMenu* OpenRecent1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Saveproject1 = nullptr;
    QAction* Exportvideo1 = nullptr;
    QAction* Quit1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
    QMenu* Morph1 = nullptr;
    QAction* Openstartpicture1 = nullptr;
    QAction* Openendpicture1 = nullptr;
    QAction* Saveasavi1 = nullptr;
    QAction* Savecurentmorphpicture1 = nullptr;
    QAction* Viewmorphwindow1 = nullptr;
    QAction* Smoothpreview1 = nullptr;  // in the View menu; checkable; off: the exact warp
    QMenu* Help1 = nullptr;
    QAction* About1 = nullptr;

    QFrame* Panel1 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    TPicturePane* Image1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QScrollArea* ScrollBox2 = nullptr;
    TPicturePane* Image2 = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* SeGridWidth = nullptr;
    QLabel* Label2 = nullptr;
    QSpinBox* SeGridHeight = nullptr;
    QLabel* Label3 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusText = nullptr;  // the status bar's one simple panel

    QMenu* PopupMenu = nullptr;
    QAction* Insert1 = nullptr;
    QAction* Insertrow1 = nullptr;
    QAction* MnuDeleterow = nullptr;
    QAction* MnuDeletecolumn = nullptr;

    TFileDialog OpenDialog1;
    TFileDialog SaveDialog1;
    TFileDialog SaveDialog2;
    TFileDialog OpenPictureDialog1;
    TFileDialog SavePictureDialog1;

    int32_t PopupX = 0;
    int32_t PopupY = 0;
    bool PopupOnStart = true;

    IDialogs& FDialogs;
    std::unique_ptr<TProjectHistory> FHistory;
    TFPreview* FPreview = nullptr;
    TFrmAbout* FrmAbout = nullptr;
    TPaneViews* PaneViews = nullptr;  // zoom, the View menu, the position readouts
    bool FShown = false;
    bool FTerminating = false;  // the user agreed to end: a later close asks nothing
    TMorphTiming FSavedTiming;  // the timing as last opened or saved
};

}  // namespace qv
