#pragma once
// The view of the two picture panes: their zoom (menu, keys, Ctrl + wheel around the
// cursor), the link that keeps both at the same zoom and scroll position, the fit of a newly
// opened picture, the grid drawn over zoomed pictures, and the status bar's position, point
// and zoom readouts.
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QSize>
#include <array>
#include <functional>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QStatusBar;
class QWidget;

namespace qv {

class IDialogs;
class TMorphGrid;
class TPicturePane;

class TPaneViews : public QObject {
public:
    // Pane 0 is the start picture's, pane 1 the end picture's. Grid gives the editor's grid
    // (null while there is none).
    TPaneViews(IDialogs& dialogs, QScrollArea* startBox, TPicturePane* startPane, QScrollArea* endBox,
               TPicturePane* endPane, std::function<TMorphGrid*()> grid, QObject* parent);

    // Adds the View menu before Before (null: at the end) and the readouts to the bar.
    void BuildViewMenu(QMenuBar* bar, QAction* before);
    void BuildStatusReadouts(QStatusBar* bar);

    // The commands; while the panes are linked they act on both, else on the pane the mouse
    // was last in. Zoom steps keep the middle of the pane in place.
    void ZoomIn();
    void ZoomOut();
    void ZoomActual();
    void ZoomFit();
    // Changes the zoom of a pane keeping the picture point under Anchor (viewport
    // coordinates) where it is.
    void ZoomAt(int pane, double zoom, QPointF anchor);

    bool Linked() const { return FLinked; }
    void SetLinked(bool linked);
    double Zoom(int pane) const;
    int ActivePane() const { return FActive; }

    // After the panes were given their picture size: a picture of a new size opens at fit
    // when it is larger than its pane and at 100 % otherwise; the panes show the grid's
    // pictures under the mesh.
    void PicturesChanged();

    // The readouts, now (they follow mouse events on their own, just after each).
    void UpdateStatus();
    QString PositionText() const;
    QString ZoomText() const;

    QMenu* View1 = nullptr;
    QAction* Zoomin1 = nullptr;
    QAction* Zoomout1 = nullptr;
    QAction* Actualsize1 = nullptr;
    QAction* Fittopane1 = nullptr;
    QAction* Linkpanes1 = nullptr;
    QLabel* PositionLabel = nullptr;
    QLabel* ZoomLabel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int PaneOf(QObject* watched) const;
    // False once the window is being taken down (a scroll area is no longer whole).
    bool Alive() const;
    double FitZoomOf(int pane) const;
    double FitOf(const std::vector<int>& panes) const;
    // Panes at fit take the fit of their present size.
    void Refit();
    // Panes a command acts on.
    std::vector<int> Targets() const;
    void ApplyZoom(const std::vector<int>& panes, double zoom);
    void CopyScroll(int from, int to);
    void ScheduleStatus();

    IDialogs& FDialogs;
    std::array<QScrollArea*, 2> FBoxes{};
    std::array<TPicturePane*, 2> FPanes{};
    std::array<QWidget*, 2> FViewports{};
    std::function<TMorphGrid*()> FGrid;
    bool FLinked = true;
    std::array<bool, 2> FAtFit{false, false};  // follow the pane's size until zoomed otherwise
    int FActive = 0;
    QSize FPictureSize;  // the size the zoom was last chosen for
    // The pane and picture pixel under the mouse, if it is over a pane.
    int FHoverPane = -1;
    QPoint FHover;
    bool FStatusPending = false;
    bool FSyncing = false;
};

}  // namespace qv
