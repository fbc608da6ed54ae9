#pragma once
// Draws a raster at any zoom, touching only the part that is on screen. Zoomed out it
// draws from halved copies (made when first needed after a change), so a repaint reads
// about as many pixels as it shows, whatever the picture's size.
#include <QImage>
#include <QRect>
#include <vector>

#include "framework/Graphics.h"

class QPainter;

namespace qv {

// A copy of the picture at half its size, each pixel the mean of a 2 x 2 block (a last
// odd row or column is averaged with itself).
QImage HalvedImage(const QImage& image);
QImage HalvedImage(const TBitmap& picture);

class TScaledPicture {
public:
    // The raster to draw; not owned. The halved copies are made again when the source
    // signals a change, or after Invalidate (for pixels written without a signal).
    void SetSource(const TBitmap* source);
    const TBitmap* Source() const { return FSource; }
    void Invalidate();

    // Paints the source's pixels that fall in Dirty (widget coordinates) at Zoom, with the
    // picture's top-left corner at Origin. Above the crisp zoom every picture pixel is a
    // square of one colour; otherwise the picture is smoothed.
    void Paint(QPainter& painter, const QRect& dirty, double zoom, QPoint origin);

private:
    // Level k is the picture at 1 / 2^k; level 0 is never kept (read straight from the source).
    const QImage& Level(int k);
    bool SourceChanged() const;

    const TBitmap* FSource = nullptr;
    std::vector<QImage> FLevels;  // FLevels[k - 1] is level k
    // What the copies were made from.
    const void* FBase = nullptr;
    QSize FBaseSize;
    uint64_t FBaseChanges = 0;
};

}  // namespace qv
