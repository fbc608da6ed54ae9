#pragma once
// How close a warp comes to the right answer: a photograph is pushed through a known
// smooth deformation, so the correct end picture is known (the photograph resampled with
// a bicubic kernel at the true positions). The grid holds the true correspondence at its
// points; the render puts the start picture's colours on the end shape (shape position
// 256, colour position 0) and is compared with the correct picture away from the borders.
// Used by the morph tests (smooth must clearly beat exact) and by the benchmark program,
// which prints the figures.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "morph/SmoothWarp.h"
#include "morph/UMorph.h"

namespace qv::testing {

// A point of the end picture to its point in the start picture.
using TDeformation = std::function<std::array<double, 2>(double x, double y)>;

struct TWarpQuality {
    double ExactPsnr = 0, SmoothPsnr = 0;  // dB, over the red, green and blue channels
    double GridError = 0;                  // largest distance (pixels) of the grid's map from the true one
    int64_t Pixels = 0;                    // pixels compared
};

namespace quality {

inline double Keys(double t) {  // the bicubic kernel with a = -0.5
    t = std::abs(t);
    if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
    if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
    return 0;
}

inline uint8_t Byte(const TBitmap& b, int32_t x, int32_t y, int channel) {
    x = std::clamp(x, 0, b.Width() - 1);
    y = std::clamp(y, 0, b.Height() - 1);
    return b.ScanLine(y)[size_t(x) * 4 + size_t(channel)];
}

inline double Bicubic(const TBitmap& b, double x, double y, int channel) {
    const int32_t ix = int32_t(std::floor(x)), iy = int32_t(std::floor(y));
    double sum = 0;
    for (int32_t j = -1; j <= 2; ++j)
        for (int32_t i = -1; i <= 2; ++i)
            sum += Keys(x - (ix + i)) * Keys(y - (iy + j)) * Byte(b, ix + i, iy + j, channel);
    return std::clamp(sum, 0.0, 255.0);
}

}  // namespace quality

// photo: a 32-bit picture; cells: grid cells along each side (the grid has cells + 1
// points); margin: pixels left out at every border of both pictures.
inline TWarpQuality MeasureWarp(const TBitmap& photo, const TDeformation& f, int32_t cells, int32_t margin = 8) {
    const int32_t w = photo.Width(), h = photo.Height();
    TMorphGrid g;
    g.StartBmp.Assign(photo);
    g.EndBmp.Assign(photo);
    g.SetPictureSize({w, h});
    g.SetGridSize({cells + 1, cells + 1});  // the end mesh: an even grid over the picture
    for (size_t i = 0; i <= size_t(cells); ++i)
        for (size_t j = 0; j <= size_t(cells); ++j) {
            const TPoint e = g.EndMesh[i][j];
            const auto s = f(e.X, e.Y);
            g.StartMesh[i][j] = {int32_t(std::lround(s[0])), int32_t(std::lround(s[1]))};
        }

    TWarpQuality q;
    // The grid's own map (the triangles' affine maps, cut as the render cuts them) against
    // the true one, at every pixel.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            size_t i = 0, j = 0;
            while (i + 1 < size_t(cells) && g.EndMesh[i + 1][0].X <= x) ++i;
            while (j + 1 < size_t(cells) && g.EndMesh[0][j + 1].Y <= y) ++j;
            const TPoint e0 = g.EndMesh[i][j], e1 = g.EndMesh[i + 1][j + 1];
            const double u = double(x - e0.X) / (e1.X - e0.X), v = double(y - e0.Y) / (e1.Y - e0.Y);
            auto at = [&](size_t a, size_t b) { return g.StartMesh[a][b]; };
            double px, py;
            if (u + v <= 1) {
                px = at(i, j).X + u * (at(i + 1, j).X - at(i, j).X) + v * (at(i, j + 1).X - at(i, j).X);
                py = at(i, j).Y + u * (at(i + 1, j).Y - at(i, j).Y) + v * (at(i, j + 1).Y - at(i, j).Y);
            } else {
                const TPoint c = at(i + 1, j + 1);
                px = c.X + (1 - u) * (at(i, j + 1).X - c.X) + (1 - v) * (at(i + 1, j).X - c.X);
                py = c.Y + (1 - u) * (at(i, j + 1).Y - c.Y) + (1 - v) * (at(i + 1, j).Y - c.Y);
            }
            const auto t = f(x, y);
            q.GridError = std::max(q.GridError, std::hypot(px - t[0], py - t[1]));
        }

    TBitmap exact, smooth;
    for (TBitmap* b : {&exact, &smooth}) {
        b->SetPixelFormat(pf32bit);
        b->SetWidth(w);
        b->SetHeight(h);
    }
    RenderMorphSplit(g, exact, 256, 0, false);
    RenderMorphSplit(g, smooth, 256, 0, true);

    double errExact = 0, errSmooth = 0;
    for (int32_t y = margin; y < h - margin; ++y)
        for (int32_t x = margin; x < w - margin; ++x) {
            const auto s = f(x, y);
            if (s[0] < margin || s[1] < margin || s[0] >= w - margin || s[1] >= h - margin) continue;
            ++q.Pixels;
            for (int c = 0; c < 3; ++c) {
                const double truth = quality::Bicubic(photo, s[0], s[1], c);
                const double a = exact.ScanLine(y)[size_t(x) * 4 + size_t(c)] - truth;
                const double b = smooth.ScanLine(y)[size_t(x) * 4 + size_t(c)] - truth;
                errExact += a * a;
                errSmooth += b * b;
            }
        }
    auto psnr = [&](double sum) { return 10 * std::log10(255.0 * 255.0 * 3.0 * double(q.Pixels) / sum); };
    q.ExactPsnr = psnr(errExact);
    q.SmoothPsnr = psnr(errSmooth);
    return q;
}

// A turn by atan(1/3) (18.4 degrees) with a scale of sqrt(250) / 16 (0.988) about the
// picture's centre: on a grid of 16-pixel cells every point lands on a whole pixel, so the
// grid holds the deformation without error.
inline TDeformation TurnAndShrink(int32_t w, int32_t h) {
    const double cx = w / 2, cy = h / 2;
    return [=](double x, double y) {
        const double dx = x - cx, dy = y - cy;
        return std::array<double, 2>{cx + (15 * dx - 5 * dy) / 16, cy + (5 * dx + 15 * dy) / 16};
    };
}

// A swirl: the turn fades from 0.5 radians at the centre to nothing at the borders.
// Grid points are rounded to whole pixels, so the grid carries up to about half a pixel of
// error.
inline TDeformation Swirl(int32_t w, int32_t h) {
    const double cx = w / 2.0, cy = h / 2.0, reach = std::min(w, h) / 3.0;
    return [=](double x, double y) {
        const double dx = x - cx, dy = y - cy;
        const double a = 0.5 * std::exp(-(dx * dx + dy * dy) / (reach * reach));
        return std::array<double, 2>{cx + std::cos(a) * dx - std::sin(a) * dy, cy + std::sin(a) * dx + std::cos(a) * dy};
    };
}

}  // namespace qv::testing
