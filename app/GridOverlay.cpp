#include "app/GridOverlay.h"

#include <QColor>
#include <QLineF>
#include <QPainter>
#include <algorithm>

#include "app/PaneView.h"
#include "morph/UMorph.h"

namespace qv {

namespace {

QColor ColorOf(TColor c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

// Cuts the segment A-B to the box (Liang-Barsky); false when nothing of it is inside.
// Mesh points may lie far outside the picture (a grid file brings any value): the painter
// only ever sees coordinates near the part being repainted.
bool ClipSegment(QPointF& a, QPointF& b, const QRectF& box)
{
    double t0 = 0, t1 = 1;
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF start = a;
    a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
    b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
    return true;
}

// The outline of the screen pixels Left..Right x Top..Bottom (inclusive), one pixel wide.
void OutlinePixels(QPainter& painter, const QRect& r)
{
    painter.drawRect(QRect(r.left(), r.top(), r.width() - 1, r.height() - 1));
}

}  // namespace

void PaintGridOverlay(QPainter& painter, const TMorphGrid& grid, bool isStart, double zoom, const QRect& dirty)
{
    const TMesh& mesh = grid.Mesh(isStart);
    const int cols = std::clamp<int32_t>(grid.Cols, 0, MeshSize - 1);
    const int rows = std::clamp<int32_t>(grid.Rows, 0, MeshSize - 1);
    auto pixel = [&](int i, int j) {
        const TPoint& p = mesh[size_t(i)][size_t(j)];
        return PixelOnScreen(QPoint(p.X, p.Y), zoom);
    };
    auto centre = [&](int i, int j) { return QPointF(pixel(i, j).center()); };

    painter.save();
    painter.setClipRect(dirty);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    const QRectF box = QRectF(dirty).adjusted(-2, -2, 2, 2);
    auto line = [&](QPointF a, QPointF b) {
        if (ClipSegment(a, b, box))
            painter.drawLine(QLineF(a, b));
    };
    QPen pen;
    pen.setWidth(0);  // one screen pixel whatever the zoom
    // Rows first, then columns, then the marks on top, as the 100 % drawing has them.
    for (int j = 0; j < rows; ++j) {
        pen.setColor(ColorOf(j == grid.SelRow ? clGreen : clGray));
        painter.setPen(pen);
        for (int i = 1; i < cols; ++i)
            line(centre(i - 1, j), centre(i, j));
    }
    for (int i = 0; i < cols; ++i) {
        pen.setColor(ColorOf(i == grid.SelCol ? clGreen : clGray));
        painter.setPen(pen);
        for (int j = 1; j < rows; ++j)
            line(centre(i, j - 1), centre(i, j));
    }
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            const QRect px = pixel(i, j);
            const QRect outer = px.adjusted(-2, -2, 2, 2);
            if (!outer.intersects(dirty))
                continue;
            const bool selected = i == grid.SelCol && j == grid.SelRow;
            if (selected) {
                pen.setColor(ColorOf(clWhite));
                painter.setPen(pen);
                OutlinePixels(painter, px.adjusted(-1, -1, 1, 1));
            }
            pen.setColor(ColorOf(selected ? clRed : clLime));
            painter.setPen(pen);
            OutlinePixels(painter, outer);
        }
    painter.restore();
}

}  // namespace qv
