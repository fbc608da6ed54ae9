#pragma once
// The arithmetic of a zoomed picture pane: which zoom levels there are, how a picture pixel
// maps to the screen and back, and how far a press may be from a point and still pick it.
// A picture pixel (x, y) covers the screen square [x * Zoom, (x + 1) * Zoom) on each axis.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <span>

namespace qv {

constexpr double kMaxZoom = 16.0;  // 1600 %
// Zooming past this draws each picture pixel as a crisp square instead of smoothing.
constexpr double kCrispZoom = 4.0;

// The zoom levels the menu and the wheel step through (1 = 100 %).
std::span<const double> ZoomSteps();

// The largest zoom at which the whole picture fits the area (at most kMaxZoom).
double FitZoom(QSize picture, QSize area);
// The next level above (below) Zoom; below never goes under Floor, which is returned when
// the next level would (the fit of a large picture is between two levels).
double ZoomInStep(double zoom);
double ZoomOutStep(double zoom, double floor);
// The smallest zoom offered for a picture: fit for a picture larger than the area, else 100 %.
double MinZoom(QSize picture, QSize area);

// The widget size showing the picture at Zoom (every picture pixel at least partly shown).
QSize ScaledSize(QSize picture, double zoom);
// The picture pixel under a widget position; positions left of or above the picture give
// negative coordinates, as a drag outside the pane reports them.
QPoint WidgetToPicture(QPointF widget, double zoom);
// The screen pixels picture pixel P covers: left and top are the first ones, right and
// bottom the last ones (at least one screen pixel even when zoomed out).
QRect PixelOnScreen(QPoint picture, double zoom);
// The picture pixels any of whose screen area lies in the widget rectangle.
QRect PictureArea(const QRect& widgetRect, double zoom);

// How many picture pixels a press may lie from a point and still pick it: the grid's own
// three at 100 % and closer, and enough for a press three screen pixels off when zoomed out.
int PickReach(double zoom);

}  // namespace qv
