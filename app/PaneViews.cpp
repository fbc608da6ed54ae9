#include "app/PaneViews.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QWheelEvent>
#include <cmath>

#include "app/ErrorGuard.h"
#include "app/GridOverlay.h"
#include "app/PaneView.h"
#include "app/PicturePane.h"
#include "app/QtOwn.h"
#include "morph/UMorph.h"

namespace qv {

TPaneViews::TPaneViews(IDialogs& dialogs, QScrollArea* startBox, TPicturePane* startPane, QScrollArea* endBox,
                       TPicturePane* endPane, std::function<TMorphGrid*()> grid, QObject* parent)
    : QObject(parent), FDialogs(dialogs), FBoxes{startBox, endBox}, FPanes{startPane, endPane}, FGrid(std::move(grid))
{
    for (int i : {0, 1}) {
        const bool isStart = i == 0;
        FPanes[size_t(i)]->OnPaintOverlay = [this, isStart](QPainter& painter, const QRect& dirty, double zoom) {
            if (TMorphGrid* g = FGrid())
                PaintGridOverlay(painter, *g, isStart, zoom, dirty);
        };
        FViewports[size_t(i)] = FBoxes[size_t(i)]->viewport();
        FPanes[size_t(i)]->installEventFilter(this);
        FViewports[size_t(i)]->installEventFilter(this);
        for (QScrollBar* bar : {FBoxes[size_t(i)]->horizontalScrollBar(), FBoxes[size_t(i)]->verticalScrollBar()})
            QObject::connect(bar, &QScrollBar::valueChanged, this, [this, i](int) {
                if (FLinked && !FSyncing)
                    CopyScroll(i, 1 - i);
            });
    }
}

void TPaneViews::BuildViewMenu(QMenuBar* bar, QAction* before)
{
    View1 = Own<QMenu>("&View", bar);
    View1->setObjectName("View1");
    if (before)
        bar->insertMenu(before, View1);
    else
        bar->addMenu(View1);
    auto add = [this](const char* name, const char* text, QList<QKeySequence> keys, void (TPaneViews::*command)()) {
        QAction* a = View1->addAction(text);
        a->setObjectName(name);
        a->setShortcuts(keys);
        QObject::connect(a, &QAction::triggered, this, [this, command] { Guarded(FDialogs, [&] { (this->*command)(); }); });
        return a;
    };
    Zoomin1 = add("Zoomin1", "Zoom &in", {QKeySequence("Ctrl+="), QKeySequence("Ctrl++")}, &TPaneViews::ZoomIn);
    Zoomout1 = add("Zoomout1", "Zoom &out", {QKeySequence("Ctrl+-")}, &TPaneViews::ZoomOut);
    Actualsize1 = add("Actualsize1", "&Actual size (100 %)", {QKeySequence("Ctrl+0")}, &TPaneViews::ZoomActual);
    Fittopane1 = add("Fittopane1", "&Fit to pane", {QKeySequence("Ctrl+9")}, &TPaneViews::ZoomFit);
    View1->addSeparator();
    Linkpanes1 = View1->addAction("&Link panes");
    Linkpanes1->setObjectName("Linkpanes1");
    Linkpanes1->setCheckable(true);
    Linkpanes1->setChecked(FLinked);
    QObject::connect(Linkpanes1, &QAction::toggled, this,
                     [this](bool on) { Guarded(FDialogs, [&] { SetLinked(on); }); });
}

void TPaneViews::BuildStatusReadouts(QStatusBar* bar)
{
    PositionLabel = Own<QLabel>(bar);
    PositionLabel->setObjectName("PositionLabel");
    PositionLabel->setTextFormat(Qt::PlainText);
    ZoomLabel = Own<QLabel>(bar);
    ZoomLabel->setObjectName("ZoomLabel");
    ZoomLabel->setTextFormat(Qt::PlainText);
    bar->addPermanentWidget(PositionLabel);
    bar->addPermanentWidget(ZoomLabel);
    UpdateStatus();
}

double TPaneViews::Zoom(int pane) const
{
    return FPanes[size_t(pane)]->Zoom();
}

double TPaneViews::FitZoomOf(int pane) const
{
    return FitZoom(FPanes[size_t(pane)]->ControlSize(), FBoxes[size_t(pane)]->maximumViewportSize());
}

std::vector<int> TPaneViews::Targets() const
{
    if (FLinked)
        return {0, 1};
    return {FActive};
}

void TPaneViews::ApplyZoom(const std::vector<int>& panes, double zoom)
{
    for (int i : panes) {
        const QScrollArea* box = FBoxes[size_t(i)];
        ZoomAt(i, zoom, QPointF(box->viewport()->width() / 2.0, box->viewport()->height() / 2.0));
    }
}

void TPaneViews::ZoomIn()
{
    const std::vector<int> panes = Targets();
    ApplyZoom(panes, ZoomInStep(Zoom(panes.front())));
}

void TPaneViews::ZoomOut()
{
    const std::vector<int> panes = Targets();
    ApplyZoom(panes, ZoomOutStep(Zoom(panes.front()), std::min(1.0, FitOf(panes))));
}

void TPaneViews::ZoomActual()
{
    ApplyZoom(Targets(), 1.0);
}

void TPaneViews::ZoomFit()
{
    const std::vector<int> panes = Targets();
    ApplyZoom(panes, FitOf(panes));
    for (int i : panes)
        FAtFit[size_t(i)] = true;
}

double TPaneViews::FitOf(const std::vector<int>& panes) const
{
    // Linked panes share one zoom: the one at which the picture fits both.
    double z = kMaxZoom;
    for (int i : panes)
        z = std::min(z, FitZoomOf(i));
    return z;
}

void TPaneViews::Refit()
{
    for (const std::vector<int>& panes : FLinked ? std::vector<std::vector<int>>{{0, 1}}
                                                 : std::vector<std::vector<int>>{{0}, {1}}) {
        if (!FAtFit[size_t(panes.front())])
            continue;
        const double fit = FitOf(panes);
        for (int i : panes)
            FPanes[size_t(i)]->SetZoom(fit);
    }
    ScheduleStatus();
}

void TPaneViews::ZoomAt(int pane, double zoom, QPointF anchor)
{
    TPicturePane* p = FPanes[size_t(pane)];
    QScrollArea* box = FBoxes[size_t(pane)];
    const double old = p->Zoom();
    // The picture point (in picture pixels, fractional) under the anchor before the change.
    const QPointF picture = (anchor - QPointF(p->pos())) / old;
    // A chosen zoom no longer follows the pane's size (fit sets this again afterwards).
    FAtFit[size_t(pane)] = false;
    if (FLinked)
        FAtFit[size_t(1 - pane)] = false;
    FSyncing = true;  // the other pane follows once, below, not through every bar change
    p->SetZoom(zoom);
    if (FLinked)
        FPanes[size_t(1 - pane)]->SetZoom(zoom);
    const QPointF scroll = picture * p->Zoom() - anchor;
    box->horizontalScrollBar()->setValue(int(std::lround(scroll.x())));
    box->verticalScrollBar()->setValue(int(std::lround(scroll.y())));
    FSyncing = false;
    if (FLinked)
        CopyScroll(pane, 1 - pane);
    UpdateStatus();
}

void TPaneViews::CopyScroll(int from, int to)
{
    FSyncing = true;
    FBoxes[size_t(to)]->horizontalScrollBar()->setValue(FBoxes[size_t(from)]->horizontalScrollBar()->value());
    FBoxes[size_t(to)]->verticalScrollBar()->setValue(FBoxes[size_t(from)]->verticalScrollBar()->value());
    FSyncing = false;
}

void TPaneViews::SetLinked(bool linked)
{
    if (Linkpanes1 && Linkpanes1->isChecked() != linked)
        Linkpanes1->setChecked(linked);  // comes back here through toggled
    if (FLinked == linked)
        return;
    FLinked = linked;
    if (linked) {
        // The pane in use leads: the other takes its zoom and place.
        const int other = 1 - FActive;
        FAtFit[size_t(other)] = FAtFit[size_t(FActive)];
        FPanes[size_t(other)]->SetZoom(Zoom(FActive));
        CopyScroll(FActive, other);
    }
    UpdateStatus();
}

void TPaneViews::PicturesChanged()
{
    TMorphGrid* grid = FGrid();
    // The panes notice a picture's change signal themselves; only the picture's object is
    // set here (a new grid brings new ones).
    for (int i : {0, 1})
        FPanes[size_t(i)]->SetPlainPicture(grid ? &grid->Bmp(i == 0) : nullptr);
    const QSize size = FPanes[0]->ControlSize();
    if (size != FPictureSize) {
        FPictureSize = size;
        const double fit = FitOf({0, 1});
        for (int i : {0, 1}) {
            FAtFit[size_t(i)] = fit < 1.0;
            FPanes[size_t(i)]->SetZoom(std::min(fit, 1.0));
        }
        CopyScroll(0, 1);
    }
    UpdateStatus();
}

int TPaneViews::PaneOf(QObject* watched) const
{
    // Only remembered addresses are compared: while the window is taken down, events reach
    // this filter from widgets whose scroll area is already half destroyed.
    for (int i : {0, 1})
        if (watched == FPanes[size_t(i)] || watched == FViewports[size_t(i)])
            return i;
    return -1;
}

bool TPaneViews::Alive() const
{
    // Inside a widget's destructor its dynamic type is QWidget: the cast fails then.
    return qobject_cast<QScrollArea*>(FBoxes[0]) && qobject_cast<QScrollArea*>(FBoxes[1]);
}

bool TPaneViews::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Wheel:
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Leave:
    case QEvent::Resize:
        break;
    default:
        return QObject::eventFilter(watched, event);
    }
    const int pane = PaneOf(watched);
    if (pane < 0 || !Alive())
        return QObject::eventFilter(watched, event);
    QWidget* viewport = FViewports[size_t(pane)];
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (!(wheel->modifiers() & Qt::ControlModifier))
            break;  // the scroll area scrolls
        const int delta = wheel->angleDelta().y();
        if (delta == 0)
            return true;
        FActive = pane;
        const QPointF anchor = watched == viewport
                                   ? wheel->position()
                                   : wheel->position() + QPointF(FPanes[size_t(pane)]->pos());
        Guarded(FDialogs, [&] {
            const double z = Zoom(pane);
            const double next = delta > 0 ? ZoomInStep(z) : ZoomOutStep(z, std::min(1.0, FitOf(Targets())));
            ZoomAt(pane, next, anchor);
        });
        return true;
    }
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        if (watched == FPanes[size_t(pane)]) {
            FActive = pane;
            FHoverPane = pane;
            FHover = FPanes[size_t(pane)]->WidgetToPicture(static_cast<QMouseEvent*>(event)->position());
            ScheduleStatus();
        }
        break;
    case QEvent::Leave:
        if (watched == FPanes[size_t(pane)] && FHoverPane == pane) {
            FHoverPane = -1;
            ScheduleStatus();
        }
        break;
    case QEvent::Resize:
        // A pane at fit stays at fit when the window or the splitter changes its size.
        if (watched == viewport && FAtFit[size_t(pane)])
            Refit();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void TPaneViews::ScheduleStatus()
{
    // The handlers of the event run after this filter; the readouts show their result.
    if (FStatusPending)
        return;
    FStatusPending = true;
    QMetaObject::invokeMethod(this, [this] {
        FStatusPending = false;
        UpdateStatus();
    }, Qt::QueuedConnection);
}

QString TPaneViews::PositionText() const
{
    QString text;
    if (FHoverPane >= 0)
        text = QString("%1 %2, %3").arg(FHoverPane == 0 ? "Start" : "End").arg(FHover.x()).arg(FHover.y());
    const TMorphGrid* g = FGrid();
    if (g && g->SelCol >= 0 && g->SelRow >= 0 && g->SelCol < g->Cols && g->SelRow < g->Rows &&
        g->SelCol < MeshSize && g->SelRow < MeshSize) {
        const TPoint& s = g->StartMesh[size_t(g->SelCol)][size_t(g->SelRow)];
        const TPoint& e = g->EndMesh[size_t(g->SelCol)][size_t(g->SelRow)];
        if (!text.isEmpty())
            text += "   ";
        text += QString("Point %1, %2: start %3, %4  end %5, %6")
                    .arg(g->SelCol).arg(g->SelRow).arg(s.X).arg(s.Y).arg(e.X).arg(e.Y);
    }
    return text;
}

QString TPaneViews::ZoomText() const
{
    auto percent = [](double z) { return QString("%1 %").arg(std::lround(z * 100)); };
    if (FLinked || Zoom(0) == Zoom(1))
        return percent(Zoom(0));
    return percent(Zoom(0)) + " | " + percent(Zoom(1));
}

void TPaneViews::UpdateStatus()
{
    if (PositionLabel)
        PositionLabel->setText(PositionText());
    if (ZoomLabel)
        ZoomLabel->setText(ZoomText());
}

}  // namespace qv
