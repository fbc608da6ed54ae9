#pragma once
// The mesh of one picture drawn over a zoomed picture, in screen pixels: lines one screen
// pixel wide through the middle of the points' pixels, the grid's own colours, and marks
// that frame the point's pixel so the pixel itself stays visible however large it is.
#include <QRect>

class QPainter;

namespace qv {

class TMorphGrid;

void PaintGridOverlay(QPainter& painter, const TMorphGrid& grid, bool isStart, double zoom, const QRect& dirty);

}  // namespace qv
