#pragma once
// A known smooth deformation for measuring matches (shared by the align tests and the
// benchmarks). The end picture shows at q what the start picture shows at q + U(q), U being
// a shift plus a few Gaussian bumps; so the true match of a start point p is the q with
// q + U(q) = p, found by fixed-point iteration (U changes slowly enough for it to converge).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "align/ThinPlateSpline.h"
#include "framework/Graphics.h"

namespace qv::testing {

struct TSyntheticWarp {
    struct TBump {
        double X, Y, Sigma, Dx, Dy;
    };
    double ShiftX = 0, ShiftY = 0;
    std::vector<TBump> Bumps;

    TPointD Back(TPointD q) const {
        double x = q.X + ShiftX, y = q.Y + ShiftY;
        for (const TBump& b : Bumps) {
            const double g = std::exp(-((q.X - b.X) * (q.X - b.X) + (q.Y - b.Y) * (q.Y - b.Y)) / (2 * b.Sigma * b.Sigma));
            x += b.Dx * g;
            y += b.Dy * g;
        }
        return {x, y};
    }

    TPointD Forward(TPointD p) const {
        TPointD q = p;
        for (int k = 0; k < 100; ++k) {
            const TPointD b = Back(q);
            q = {q.X + (p.X - b.X), q.Y + (p.Y - b.Y)};
        }
        return q;
    }

    // A shift and four bumps from the seed, scaled so that the largest displacement over
    // the picture is MaxDisplacement pixels; bumps wide enough that nothing folds.
    static TSyntheticWarp Make(int32_t Width, int32_t Height, double MaxDisplacement, uint32_t Seed) {
        std::mt19937 random(Seed);
        auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * (double(random()) / 4294967296.0); };
        TSyntheticWarp w;
        w.ShiftX = uniform(-0.4, 0.4);
        w.ShiftY = uniform(-0.4, 0.4);
        const double side = std::min(Width, Height);
        for (int i = 0; i < 4; ++i)
            w.Bumps.push_back({uniform(0.2, 0.8) * Width, uniform(0.2, 0.8) * Height, uniform(0.14, 0.22) * side,
                               uniform(-0.5, 0.5), uniform(-0.5, 0.5)});
        double largest = 0;
        for (int32_t y = 0; y <= Height; y += 8)
            for (int32_t x = 0; x <= Width; x += 8) {
                const TPointD b = w.Back({double(x), double(y)});
                largest = std::max(largest, std::hypot(b.X - x, b.Y - y));
            }
        const double k = MaxDisplacement / largest;
        w.ShiftX *= k;
        w.ShiftY *= k;
        for (TBump& b : w.Bumps) b.Dx *= k, b.Dy *= k;
        return w;
    }

    // End := Start pushed through the deformation (bilinear, edges repeated); 32-bit.
    void Render(const TBitmap& Start, TBitmap& End) const {
        TBitmap src;
        src.Assign(Start);
        src.SetPixelFormat(pf32bit);
        End.SetPixelFormat(pf32bit);
        End.SetSize(src.Width(), src.Height());
        const int32_t w = src.Width(), h = src.Height();
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* out = End.ScanLine(y);
            for (int32_t x = 0; x < w; ++x) {
                const TPointD s = Back({double(x), double(y)});
                const double sx = std::clamp(s.X, 0.0, double(w - 1)), sy = std::clamp(s.Y, 0.0, double(h - 1));
                const int32_t x0 = int32_t(sx), y0 = int32_t(sy);
                const int32_t x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
                const double fx = sx - x0, fy = sy - y0;
                const uint8_t* r0 = src.ScanLine(y0);
                const uint8_t* r1 = src.ScanLine(y1);
                for (int c = 0; c < 4; ++c) {
                    const double top = r0[x0 * 4 + c] * (1 - fx) + r0[x1 * 4 + c] * fx;
                    const double bottom = r1[x0 * 4 + c] * (1 - fx) + r1[x1 * 4 + c] * fx;
                    out[x * 4 + c] = uint8_t(std::lround(top * (1 - fy) + bottom * fy));
                }
            }
        }
    }
};

// Errors of proposed matches against the truth: mean, 95th percentile, largest.
struct TErrorStats {
    double Mean = 0, P95 = 0, Max = 0;
    size_t Count = 0;
};

inline TErrorStats ErrorStats(std::vector<double> errors) {
    TErrorStats s;
    s.Count = errors.size();
    if (errors.empty()) return s;
    std::sort(errors.begin(), errors.end());
    for (double e : errors) s.Mean += e / double(errors.size());
    s.P95 = errors[std::min(errors.size() - 1, size_t(std::ceil(0.95 * double(errors.size()))) - 1)];
    s.Max = errors.back();
    return s;
}

}  // namespace qv::testing
