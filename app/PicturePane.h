#pragma once
// The image control: shows its picture (a TBitmap) from the top-left corner at a zoom, and
// repaints whenever the picture reports a change. At 100 % the picture is shown 1:1 as it
// is; at any other zoom the pane shows its plain picture scaled (when it has one) with the
// overlay its owner paints in screen pixels, or else its own picture scaled. Mouse presses,
// moves and releases go to the owner's handlers with the button, the shift state and the
// picture pixel under the mouse. The pane that got a press keeps the mouse until every
// button is up (Qt's implicit grab), so a drag that leaves the pane keeps reporting, with
// coordinates below 0 or beyond the picture.
#include <QImage>
#include <QWidget>
#include <functional>

#include "app/ScaledPicture.h"
#include "framework/Graphics.h"
#include "morph/UMorph.h"

namespace qv {

// Qt's view of a mouse event in the framework's terms. In a release the released button is
// no longer among the held ones, as the grid's mouse operations expect.
TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
TMouseButton MouseButtonOf(Qt::MouseButton button);
// Only the left, right and middle buttons are the pane's buttons; the others (back,
// forward, ...) neither press nor release anything, so they never pass for the left one.
bool IsPaneButton(Qt::MouseButton button);

// A copy of a rectangle of the picture in a form Qt can paint: opaque RGB32. Pixels outside
// the picture are left out (the result is clipped to the picture).
QImage ToQImage(const TBitmap& picture, const QRect& area);
inline QImage ToQImage(const TBitmap& picture)
{
    return ToQImage(picture, QRect(0, 0, picture.Width(), picture.Height()));
}

class TPicturePane : public QWidget {
public:
    using TMouseHandler = std::function<void(TMouseButton, TShiftState, int, int)>;
    using TMoveHandler = std::function<void(TShiftState, int, int)>;

    explicit TPicturePane(QWidget* parent = nullptr);
    ~TPicturePane() override;

    // The control's picture bitmap ("Picture.Bitmap").
    TBitmap& Picture() { return FPicture; }
    const TBitmap& Picture() const { return FPicture; }

    // Sets the control's size in picture pixels (the picture's size is set separately, as
    // on the platform); the widget is that size times the zoom.
    void SetControlSize(int width, int height);
    QSize ControlSize() const { return FControlSize; }

    // 1 = 100 %. The widget grows or shrinks with it (unless it fits its window).
    double Zoom() const;
    void SetZoom(double zoom);
    // The picture is shown whole in the widget, at 100 % when it fits, else shrunk keeping
    // its proportions, centred; the widget's size is left to its layout.
    void SetFitToWidget(bool fit);

    // The picture under the overlay at zooms other than 100 % (not owned; null: the pane's
    // own picture is scaled). PlainPictureChanged after its pixels were written without a
    // change signal.
    void SetPlainPicture(const TBitmap* plain);
    void PlainPictureChanged();
    std::function<void(QPainter&, const QRect& dirty, double zoom)> OnPaintOverlay;

    // Widget position of the top-left screen pixel of a picture pixel, and back.
    QPoint PictureToWidget(QPoint picture) const;
    QPoint WidgetToPicture(QPointF widget) const;

    TMouseHandler OnMouseDown;
    TMoveHandler OnMouseMove;
    TMouseHandler OnMouseUp;
    // A key pressed while the pane has the focus; returns true when it used the key.
    std::function<bool(int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPoint Origin() const;
    void ApplySize();

    TBitmap FPicture;
    QSize FControlSize;
    double FZoom = 1.0;
    bool FFit = false;
    const TBitmap* FPlain = nullptr;
    TScaledPicture FScaledOwn;    // the pane's own picture
    TScaledPicture FScaledPlain;  // the plain picture
};

}  // namespace qv
