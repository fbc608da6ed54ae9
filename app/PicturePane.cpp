#include "app/PicturePane.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

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
    // A click gives the pane the keyboard, for moving the selected point with the arrows.
    setFocusPolicy(Qt::StrongFocus);
}

TPicturePane::~TPicturePane()
{
    FPicture.OnChange = nullptr;
}

void TPicturePane::SetControlSize(int width, int height)
{
    setFixedSize(std::max(width, 0), std::max(height, 0));
}

void TPicturePane::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    const QImage image = ToQImage(FPicture, dirty);
    const QRect shown = dirty.intersected(QRect(0, 0, FPicture.Width(), FPicture.Height()));
    if (!image.isNull())
        painter.drawImage(shown.topLeft(), image);
    // The control may be larger than its picture: the rest shows the background.
    const QRegion rest = QRegion(dirty).subtracted(QRegion(shown));
    for (const QRect& part : rest)
        painter.fillRect(part, palette().window());
}

void TPicturePane::mousePressEvent(QMouseEvent* event)
{
    if (!IsPaneButton(event->button())) {
        event->ignore();
        return;
    }
    const QPoint p = event->position().toPoint();
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
    const QPoint p = event->position().toPoint();
    TShiftState shift = ShiftStateOf(event->buttons(), event->modifiers());
    shift.insert(ssDouble);
    if (OnMouseDown)
        OnMouseDown(MouseButtonOf(event->button()), shift, p.x(), p.y());
    event->accept();
}

void TPicturePane::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
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
    const QPoint p = event->position().toPoint();
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
