#include "app/PaneView.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace qv {

namespace {
constexpr std::array<double, 19> kSteps = {1.0 / 32, 1.0 / 24, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4,
                                           1.0 / 3, 1.0 / 2, 2.0 / 3, 1.0, 1.5, 2.0, 3.0, 4.0, 6.0,
                                           8.0, 12.0, kMaxZoom};
// Two zooms this close are the same level (fit zooms are computed, steps are exact).
constexpr double kSame = 1e-9;

int ClampToInt(double v)
{
    constexpr double lo = std::numeric_limits<int>::min() / 2, hi = std::numeric_limits<int>::max() / 2;
    return int(std::clamp(v, lo, hi));
}
}  // namespace

std::span<const double> ZoomSteps()
{
    return kSteps;
}

double FitZoom(QSize picture, QSize area)
{
    if (picture.width() <= 0 || picture.height() <= 0 || area.width() <= 0 || area.height() <= 0)
        return 1.0;
    const double z = std::min(double(area.width()) / picture.width(), double(area.height()) / picture.height());
    return std::min(z, kMaxZoom);
}

double MinZoom(QSize picture, QSize area)
{
    return std::min(1.0, FitZoom(picture, area));
}

double ZoomInStep(double zoom)
{
    for (double step : ZoomSteps())
        if (step > zoom + kSame)
            return step;
    return kMaxZoom;
}

double ZoomOutStep(double zoom, double floor)
{
    double next = floor;
    for (double step : ZoomSteps())
        if (step < zoom - kSame)
            next = step;
    return std::max(next, floor);
}

QSize ScaledSize(QSize picture, double zoom)
{
    auto side = [zoom](int n) { return n <= 0 ? 0 : std::max(1, ClampToInt(std::ceil(n * zoom - kSame))); };
    return {side(picture.width()), side(picture.height())};
}

QPoint WidgetToPicture(QPointF widget, double zoom)
{
    // The nudge keeps a position on a pixel's first screen column in that pixel when the
    // zoom is not a power of two (2/3 does not divide exactly).
    return {ClampToInt(std::floor(widget.x() / zoom + kSame)), ClampToInt(std::floor(widget.y() / zoom + kSame))};
}

QRect PixelOnScreen(QPoint picture, double zoom)
{
    auto span = [zoom](int p) {
        const int first = ClampToInt(std::ceil(p * zoom - kSame));
        const int last = ClampToInt(std::ceil((p + 1.0) * zoom - kSame)) - 1;
        if (last >= first)
            return std::pair{first, last};
        // Zoomed out, a pixel may have no screen pixel of its own: it is in the one it
        // shares with its neighbours.
        const int shared = ClampToInt(std::floor(p * zoom + kSame));
        return std::pair{shared, shared};
    };
    const auto [x0, x1] = span(picture.x());
    const auto [y0, y1] = span(picture.y());
    return QRect(QPoint(x0, y0), QPoint(x1, y1));
}

QRect PictureArea(const QRect& widgetRect, double zoom)
{
    if (widgetRect.isEmpty())
        return {};
    return QRect(WidgetToPicture(widgetRect.topLeft(), zoom), WidgetToPicture(widgetRect.bottomRight(), zoom));
}

int PickReach(double zoom)
{
    if (zoom >= 1.0)
        return 3;
    // A press three screen pixels off lands up to four screen pixels' worth of picture
    // pixels away once the position is rounded down to a picture pixel.
    return std::max(3, ClampToInt(std::ceil(4.0 / zoom - kSame)));
}

}  // namespace qv
