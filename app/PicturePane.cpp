#include "app/PicturePane.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "app/PaneView.h"

namespace qv {

TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    TShiftState shift;
    if (modifiers & Qt::ShiftModifier) shift.insert(ssShift);
    if (modifiers & Qt::AltModifier) shift.insert(ssAlt);
    if (modifiers & Qt::ControlModifier) shift.insert(ssCtrl);
    if (buttons & Qt::LeftButton) shift.insert(ssLeft);
    if (buttons & Qt::RightButton) shift.insert(ssRight);
    if (buttons & Qt::MiddleButton) shift.insert(ssMiddle);
    return shift;
}

TMouseButton MouseButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton: return TMouseButton::mbRight;
    case Qt::MiddleButton: return TMouseButton::mbMiddle;
    default: return TMouseButton::mbLeft;
    }
}

bool IsPaneButton(Qt::MouseButton button)
{
    return button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
}

QImage ToQImage(const TBitmap& picture, const QRect& area)
{
    const QRect r = area.intersected(QRect(0, 0, picture.Width(), picture.Height()));
    if (r.isEmpty())
        return QImage();
    QImage image(r.size(), QImage::Format_RGB32);
    const bool direct = picture.StorageBits() == 32;  // B, G, R, X as Qt's RGB32 stores it
    for (int y = 0; y < r.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int row = r.top() + y;
        if (direct) {
            const uint8_t* in = picture.ScanLine(row) + 4 * r.left();
            for (int x = 0; x < r.width(); ++x, in += 4)
                out[x] = qRgb(in[2], in[1], in[0]);  // the fourth byte is not alpha: opaque
        } else {
            for (int x = 0; x < r.width(); ++x) {
                const TColor c = picture.PixelColor(r.left() + x, row);
                out[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
            }
        }
    }
    return image;
}

TPicturePane::TPicturePane(QWidget* parent) : QWidget(parent)
{
    // Moves without a button reach the handlers too, as on the platform.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    FPicture.OnChange = [this] { update(); };
    FScaledOwn.SetSource(&FPicture);
    // A click gives the pane the keyboard, for moving the selected point with the arrows.
    setFocusPolicy(Qt::StrongFocus);
}

TPicturePane::~TPicturePane()
{
    FPicture.OnChange = nullptr;
}

void TPicturePane::SetControlSize(int width, int height)
{
    FControlSize = QSize(std::max(width, 0), std::max(height, 0));
    ApplySize();
}

void TPicturePane::ApplySize()
{
    if (!FFit)
        setFixedSize(ScaledSize(FControlSize, FZoom));
}

double TPicturePane::Zoom() const
{
    if (!FFit)
        return FZoom;
    return std::min(1.0, FitZoom(QSize(FPicture.Width(), FPicture.Height()), size()));
}

void TPicturePane::SetZoom(double zoom)
{
    zoom = std::clamp(zoom, 1.0 / 1024, kMaxZoom);
    if (zoom == FZoom)
        return;
    FZoom = zoom;
    ApplySize();
    update();
}

void TPicturePane::SetFitToWidget(bool fit)
{
    FFit = fit;
    if (fit) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    ApplySize();
    update();
}

void TPicturePane::SetPlainPicture(const TBitmap* plain)
{
    FPlain = plain;
    FScaledPlain.SetSource(plain);
    update();
}

void TPicturePane::PlainPictureChanged()
{
    FScaledPlain.Invalidate();
    update();
}

QPoint TPicturePane::Origin() const
{
    if (!FFit)
        return QPoint(0, 0);
    const QSize shown = ScaledSize(QSize(FPicture.Width(), FPicture.Height()), Zoom());
    return QPoint(std::max(0, (width() - shown.width()) / 2), std::max(0, (height() - shown.height()) / 2));
}

QPoint TPicturePane::PictureToWidget(QPoint picture) const
{
    return PixelOnScreen(picture, Zoom()).topLeft() + Origin();
}

QPoint TPicturePane::WidgetToPicture(QPointF widget) const
{
    return qv::WidgetToPicture(widget - QPointF(Origin()), Zoom());
}

void TPicturePane::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    const double zoom = Zoom();
    const QPoint origin = Origin();
    const bool plain = FPlain && zoom != 1.0;
    const QSize pictureSize(FPicture.Width(), FPicture.Height());
    const QRect shown = QRect(origin, ScaledSize(pictureSize, zoom)).intersected(dirty);
    if (zoom == 1.0) {
        FScaledOwn.Paint(painter, dirty, 1.0, origin);
    } else if (plain) {
        // The plain picture may be smaller than the control (before any picture is opened):
        // the rest of the picture area is white, as the 100 % raster has it.
        const QRect plainShown = QRect(origin, ScaledSize(QSize(FPlain->Width(), FPlain->Height()), zoom));
        for (const QRect& part : QRegion(shown).subtracted(QRegion(plainShown)))
            painter.fillRect(part, Qt::white);
        FScaledPlain.Paint(painter, dirty, zoom, origin);
    } else {
        // The own picture is drawn into behind our back (the morph renders through row
        // addresses without a change signal): its halved copies are never trusted.
        FScaledOwn.Invalidate();
        FScaledOwn.Paint(painter, dirty, zoom, origin);
    }
    // The control may be larger than its picture: the rest shows the background.
    for (const QRect& part : QRegion(dirty).subtracted(QRegion(shown)))
        painter.fillRect(part, palette().window());
    if (plain && OnPaintOverlay)
        OnPaintOverlay(painter, dirty, zoom);
}

void TPicturePane::mousePressEvent(QMouseEvent* event)
{
    if (!IsPaneButton(event->button())) {
        event->ignore();
        return;
    }
    const QPoint p = WidgetToPicture(event->position());
    if (OnMouseDown)
        OnMouseDown(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()),
                    p.x(), p.y());
    event->accept();
}

void TPicturePane::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!IsPaneButton(event->button())) {
        event->ignore();
        return;
    }
    // Qt turns the second press of a double click into this event; it is still a press.
    const QPoint p = WidgetToPicture(event->position());
    TShiftState shift = ShiftStateOf(event->buttons(), event->modifiers());
    shift.insert(ssDouble);
    if (OnMouseDown)
        OnMouseDown(MouseButtonOf(event->button()), shift, p.x(), p.y());
    event->accept();
}

void TPicturePane::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = WidgetToPicture(event->position());
    if (OnMouseMove)
        OnMouseMove(ShiftStateOf(event->buttons(), event->modifiers()), p.x(), p.y());
    event->accept();
}

void TPicturePane::mouseReleaseEvent(QMouseEvent* event)
{
    if (!IsPaneButton(event->button())) {
        event->ignore();
        return;
    }
    const QPoint p = WidgetToPicture(event->position());
    if (OnMouseUp)
        OnMouseUp(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()),
                  p.x(), p.y());
    event->accept();
}

void TPicturePane::keyPressEvent(QKeyEvent* event)
{
    if (OnKeyDown && OnKeyDown(event->key(), event->modifiers()))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

}  // namespace qv
