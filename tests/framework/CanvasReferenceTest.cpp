// The canvas's clipped and fast paths against plain per-pixel transcriptions of the drawing
// rules, on many random rectangles and lines that reach past every edge.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "framework/Graphics.h"

namespace qv {
namespace {

void MakeNoise(TBitmap& bmp, TPixelFormat pf, int32_t w, int32_t h, std::mt19937& rng) {
    bmp.SetPixelFormat(pf);
    bmp.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int i = 0; i < bmp.RowBytes(); ++i) row[i] = uint8_t(rng());
    }
}

std::vector<uint8_t> Bytes(const TBitmap& bmp) {
    std::vector<uint8_t> all;
    for (int y = 0; y < bmp.Height(); ++y) all.insert(all.end(), bmp.ScanLine(y), bmp.ScanLine(y) + bmp.RowBytes());
    return all;
}

// Every destination pixel inside both rasters samples source (sx0 + (dx - dx0) * sw / dw, ...).
void ReferenceStretch(TBitmap& dst, const TRect& d, const TBitmap& src, const TRect& s) {
    const int64_t dw = d.Right - d.Left, dh = d.Bottom - d.Top, sw = s.Right - s.Left, sh = s.Bottom - s.Top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    const bool raw = dst.PixelFormat() == src.PixelFormat() && dst.Palette().Entries == src.Palette().Entries;
    const int bytes = dst.StorageBits() / 8;
    for (int64_t dy = d.Top; dy < d.Bottom; ++dy) {
        for (int64_t dx = d.Left; dx < d.Right; ++dx) {
            const int64_t sx = s.Left + (dx - d.Left) * sw / dw, sy = s.Top + (dy - d.Top) * sh / dh;
            if (dx < 0 || dy < 0 || dx >= dst.Width() || dy >= dst.Height()) continue;
            if (sx < 0 || sy < 0 || sx >= src.Width() || sy >= src.Height()) continue;
            if (raw && bytes == 4) {
                for (int k = 0; k < 4; ++k) dst.ScanLine(int(dy))[dx * 4 + k] = src.ScanLine(int(sy))[sx * 4 + k];
            } else {
                dst.SetPixelColor(int(dx), int(dy), src.PixelColor(int(sx), int(sy)));
            }
        }
    }
}

TEST(CanvasReference, StretchAndCopyMatchThePerPixelRule) {
    std::mt19937 rng(12345);
    const TPixelFormat pairs[][2] = {{pf32bit, pf32bit}, {pf24bit, pf32bit}, {pf24bit, pf24bit}, {pf8bit, pf8bit},
                                     {pf1bit, pf1bit},   {pf4bit, pf4bit},   {pf32bit, pf4bit},  {pf16bit, pf15bit}};
    auto coord = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };
    for (const auto& pair : pairs) {
        for (int round = 0; round < 150; ++round) {
            TBitmap src, dst, expect;
            MakeNoise(src, pair[0], coord(1, 13), coord(1, 9), rng);
            MakeNoise(dst, pair[1], coord(1, 17), coord(1, 11), rng);
            expect.Assign(dst);
            const TRect d = Rect(coord(-8, 20), coord(-8, 14), coord(-8, 26), coord(-8, 18));
            const TRect s = Rect(coord(-4, 14), coord(-4, 10), coord(-4, 18), coord(-4, 13));
            dst.Canvas().CopyRect(d, src.Canvas(), s);
            ReferenceStretch(expect, d, src, s);
            ASSERT_EQ(Bytes(dst), Bytes(expect)) << PixelFormatName(pair[0]) << " -> " << PixelFormatName(pair[1])
                                                 << " round " << round;
        }
    }
}

TEST(CanvasReference, DrawIsAnUnscaledStretch) {
    std::mt19937 rng(777);
    for (int round = 0; round < 200; ++round) {
        TBitmap src, dst, expect;
        MakeNoise(src, round % 2 ? pf32bit : pf24bit, 1 + int(rng() % 12), 1 + int(rng() % 12), rng);
        MakeNoise(dst, pf32bit, 1 + int(rng() % 12), 1 + int(rng() % 12), rng);
        expect.Assign(dst);
        const int x = int(rng() % 30) - 15, y = int(rng() % 30) - 15;
        dst.Canvas().Draw(x, y, src);
        ReferenceStretch(expect, Rect(x, y, x + src.Width(), y + src.Height()), src, Rect(0, 0, src.Width(), src.Height()));
        ASSERT_EQ(Bytes(dst), Bytes(expect)) << round;
    }
}

// The line rule without any clipping: step along the longer axis, the other coordinate at
// round(i * minor / major) with halves towards the end, end pixel left out.
void ReferenceLine(TBitmap& bmp, int x0, int y0, int x1, int y1, TColor c) {
    const int dx = x1 - x0, dy = y1 - y0, adx = std::abs(dx), ady = std::abs(dy);
    const int steps = std::max(adx, ady);
    for (int i = 0; i < steps; ++i) {
        int x, y;
        if (adx >= ady) {
            x = x0 + (dx < 0 ? -i : i);
            const int off = (2 * i * ady + adx) / (2 * adx);
            y = y0 + (dy < 0 ? -off : off);
        } else {
            y = y0 + (dy < 0 ? -i : i);
            const int off = (2 * i * adx + ady) / (2 * ady);
            x = x0 + (dx < 0 ? -off : off);
        }
        if (x >= 0 && y >= 0 && x < bmp.Width() && y < bmp.Height()) bmp.SetPixelColor(x, y, c);
    }
}

TEST(CanvasReference, ClippedLinesMatchTheUnclippedRule) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 3000; ++round) {
        TBitmap bmp, expect;
        bmp.SetPixelFormat(pf24bit);
        bmp.SetSize(1 + int(rng() % 20), 1 + int(rng() % 20));
        expect.Assign(bmp);
        const int x0 = int(rng() % 80) - 30, y0 = int(rng() % 80) - 30;
        const int x1 = int(rng() % 80) - 30, y1 = int(rng() % 80) - 30;
        bmp.Canvas().MoveTo(x0, y0);
        bmp.Canvas().LineTo(x1, y1);
        ReferenceLine(expect, x0, y0, x1, y1, clBlack);
        ASSERT_EQ(Bytes(bmp), Bytes(expect)) << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
}

}  // namespace
}  // namespace qv
