#include "app/ScaledPicture.h"

#include <QPainter>
#include <cmath>

#include "app/PaneView.h"
#include "app/PicturePane.h"

namespace qv {

namespace {

// The mean of four RGB32 pixels, per channel, rounded.
inline QRgb Mean4(QRgb a, QRgb b, QRgb c, QRgb d)
{
    const int r = (qRed(a) + qRed(b) + qRed(c) + qRed(d) + 2) >> 2;
    const int g = (qGreen(a) + qGreen(b) + qGreen(c) + qGreen(d) + 2) >> 2;
    const int bl = (qBlue(a) + qBlue(b) + qBlue(c) + qBlue(d) + 2) >> 2;
    return qRgb(r, g, bl);
}

// Halves rows given by a row reader (row -> pointer to opaque RGB32 pixels).
template <class RowOf>
QImage Halve(int width, int height, RowOf rowOf)
{
    if (width <= 0 || height <= 0)
        return QImage();
    const int w = (width + 1) / 2, h = (height + 1) / 2;
    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb* r0 = rowOf(2 * y);
        const QRgb* r1 = rowOf(std::min(2 * y + 1, height - 1));
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int x0 = 2 * x, x1 = std::min(2 * x + 1, width - 1);
            o[x] = Mean4(r0[x0], r0[x1], r1[x0], r1[x1]);
        }
    }
    return out;
}

}  // namespace

QImage HalvedImage(const QImage& image)
{
    const QImage in = image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    return Halve(in.width(), in.height(), [&](int y) { return reinterpret_cast<const QRgb*>(in.constScanLine(y)); });
}

QImage HalvedImage(const TBitmap& picture)
{
    if (picture.StorageBits() != 32) {
        return HalvedImage(ToQImage(picture));
    }
    // The fourth byte of a 32-bit raster is not alpha: each row is copied opaque first.
    std::vector<QRgb> rows[2];
    int cached[2] = {-1, -1};
    auto rowOf = [&](int y) -> const QRgb* {
        const int slot = y & 1;
        if (cached[slot] != y) {
            rows[slot].resize(size_t(picture.Width()));
            const uint8_t* in = const_cast<TBitmap&>(picture).ScanLine(y);
            for (int x = 0; x < picture.Width(); ++x, in += 4)
                rows[slot][size_t(x)] = qRgb(in[2], in[1], in[0]);
            cached[slot] = y;
        }
        return rows[slot].data();
    };
    return Halve(picture.Width(), picture.Height(), rowOf);
}

void TScaledPicture::SetSource(const TBitmap* source)
{
    if (source != FSource) {
        FSource = source;
        Invalidate();
    }
}

void TScaledPicture::Invalidate()
{
    FLevels.clear();
    FBase = nullptr;
}

bool TScaledPicture::SourceChanged() const
{
    if (!FSource || FSource->Empty())
        return FBase != nullptr;
    return FBaseChanges != FSource->ChangeCount() || FBase != const_cast<TBitmap*>(FSource)->ScanLine(0) ||
           FBaseSize != QSize(FSource->Width(), FSource->Height());
}

const QImage& TScaledPicture::Level(int k)
{
    if (SourceChanged())
        Invalidate();
    if (FLevels.empty() && FSource && !FSource->Empty()) {
        FBase = const_cast<TBitmap*>(FSource)->ScanLine(0);
        FBaseSize = QSize(FSource->Width(), FSource->Height());
        FBaseChanges = FSource->ChangeCount();
    }
    while (int(FLevels.size()) < k) {
        if (FLevels.empty())
            FLevels.push_back(FSource ? HalvedImage(*FSource) : QImage());
        else
            FLevels.push_back(HalvedImage(FLevels.back()));
    }
    return FLevels[size_t(k - 1)];
}

void TScaledPicture::Paint(QPainter& painter, const QRect& dirty, double zoom, QPoint origin)
{
    if (!FSource || FSource->Empty() || zoom <= 0)
        return;
    const QRect whole(0, 0, FSource->Width(), FSource->Height());
    const QRect wanted = PictureArea(dirty.translated(-origin), zoom).intersected(whole);
    if (wanted.isEmpty())
        return;
    painter.save();
    painter.setClipRect(dirty);
    const bool crisp = zoom > kCrispZoom;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !crisp && zoom != 1.0);

    // Level k holds the picture at scale 1 / 2^k; the one just above the zoom is drawn
    // shrunk by at most half, which smoothing handles without losing detail.
    int k = 0;
    while (k < 30 && std::ldexp(1.0, -(k + 1)) >= zoom)
        ++k;
    const double scale = std::ldexp(1.0, -k);
    // A border of one pixel around the part shown, so smoothing at the edge of a partial
    // repaint blends with the true neighbours and no seam shows.
    const int margin = crisp ? 0 : 1;
    const QRect levelWhole(0, 0, int(std::ceil(whole.width() * scale)), int(std::ceil(whole.height() * scale)));
    const QRect part = QRect(QPoint(int(std::floor(wanted.left() * scale)) - margin, int(std::floor(wanted.top() * scale)) - margin),
                             QPoint(int(std::floor(wanted.right() * scale)) + margin, int(std::floor(wanted.bottom() * scale)) + margin))
                           .intersected(levelWhole);
    const double f = zoom / scale;  // level pixels to screen pixels
    const QRectF target(origin.x() + part.x() * f, origin.y() + part.y() * f, part.width() * f, part.height() * f);
    if (k == 0) {
        const QImage image = ToQImage(*FSource, part);
        painter.drawImage(target, image, QRectF(image.rect()));
    } else {
        painter.drawImage(target, Level(k), QRectF(part));
    }
    painter.restore();
}

}  // namespace qv
