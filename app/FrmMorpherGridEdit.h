#pragma once
// The main window FMorpherGridEdit: the two picture panes with their meshes, the menus, the
// popup menu of the panes, and every command of the editor.
#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/Dialogs.h"
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

class TFMorpherGridEdit : public QMainWindow {
public:
    // Runs FormCreate.
    explicit TFMorpherGridEdit(IDialogs& dialogs);
    // Runs FormDestroy.
    ~TFMorpherGridEdit() override;

    // The other two windows, created after this one (start-up order).
    void SetPreview(TFPreview* preview) { FPreview = preview; }
    void SetAbout(TFrmAbout* about) { FrmAbout = about; }
    TFPreview* Preview() const { return FPreview; }

    // What Quit does: ends the application's event loop. Replaceable for tests.
    std::function<void()> OnTerminate;

    // The one grid, owned for the window's whole life.
    std::unique_ptr<TMorphGrid> MorphGrid;
    int32_t PopupX = 0;
    int32_t PopupY = 0;
    bool PopupOnStart = true;

    void RefreshPanes();

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
    void SeGridWidthChange();
    void SeGridHeightChange();
    void Openproject1Click();
    void Saveproject1Click();
    void Quit1Click();
    void Openstartpicture1Click();
    void Openendpicture1Click();
    void Saveasavi1Click();
    void Savecurentmorphpicture1Click();
    void Viewmorphwindow1Click();
    void About1Click();

    // Components, under their object names.
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Openproject1 = nullptr;
    QAction* Saveproject1 = nullptr;
    QAction* Quit1 = nullptr;
    QMenu* Morph1 = nullptr;
    QAction* Openstartpicture1 = nullptr;
    QAction* Openendpicture1 = nullptr;
    QAction* Saveasavi1 = nullptr;
    QAction* Savecurentmorphpicture1 = nullptr;
    QAction* Viewmorphwindow1 = nullptr;
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
    TPaneViews* PaneViews = nullptr;  // zoom, the View menu, the position readouts

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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildClientArea();
    void BuildDialogs();
    void ConnectHandlers();
    // The shared work of the two panes' handlers.
    TPicturePane& Pane(bool IsStart) const;
    void PaneMouseDown(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y);
    void PaneMouseUp(bool IsStart, TMouseButton Button, TShiftState Shift, int X, int Y);
    void AfterGridEdit();
    // Runs a handler inside the error guard.
    template <class F>
    void Guard(F&& handler);

    IDialogs& FDialogs;
    TFPreview* FPreview = nullptr;
    TFrmAbout* FrmAbout = nullptr;
    bool FShown = false;
};

}  // namespace qv
