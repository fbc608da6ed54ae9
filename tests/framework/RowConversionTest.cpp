// The row-wise conversion loops against the pixel-by-pixel path: every source format into
// every true-colour format, by SetPixelFormat and by Draw, at widths that are multiples of
// nothing, with palettes shorter than their indices.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "framework/Graphics.h"

namespace qv {
namespace {

struct TSource {
    TPixelFormat Format;
    int PaletteSize;
};

void FillRandom(TBitmap& b, const TSource& s, int32_t w, int32_t h, std::mt19937& rng) {
    if (s.Format != pfDevice) b.SetPixelFormat(s.Format);
    b.SetSize(w, h);
    if (BitsPerPixel(s.Format) <= 8) {
        TLogPalette pal;
        for (int i = 0; i < s.PaletteSize; ++i)
            pal.Entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0});
        b.SetPalette(pal);
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < (w * b.StorageBits() + 7) / 8; ++i) b.ScanLine(y)[i] = uint8_t(rng());
}

// Whole rows, padding included.
std::vector<uint8_t> Bytes(const TBitmap& b) {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < b.Height(); ++y)
        out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + b.RowBytes());
    return out;
}

template <class F>
std::vector<uint8_t> WithRows(bool fast, F make) {
    struct Restore {
        ~Restore() { SetFastRowConversions(true); }
    } restore;
    SetFastRowConversions(fast);
    return make();
}

const TSource kSources[] = {{pf1bit, 2},  {pf4bit, 9},   {pf8bit, 256}, {pf8bit, 37}, {pf8bit, 0},
                            {pf15bit, 0}, {pf16bit, 0}, {pf24bit, 0}, {pf32bit, 0}, {pfDevice, 0}};
const TPixelFormat kTargets[] = {pf15bit, pf16bit, pf24bit, pf32bit};

TEST(RowConversion, FastRowsMatchPixelByPixel) {
    std::mt19937 rng(31337);
    for (const TSource& s : kSources)
        for (TPixelFormat to : kTargets)
            for (int32_t w : {1, 2, 3, 5, 333}) {
                SCOPED_TRACE(std::string(PixelFormatName(s.Format)) + "/" + std::to_string(s.PaletteSize) + " -> " +
                             PixelFormatName(to) + " width " + std::to_string(w));
                TBitmap src;
                FillRandom(src, s, w, 7, rng);
                auto converted = [&] {
                    TBitmap b;
                    b.Assign(src);
                    b.SetPixelFormat(to);
                    EXPECT_EQ(b.PixelFormat(), to);
                    return Bytes(b);
                };
                EXPECT_EQ(WithRows(true, converted), WithRows(false, converted));
                // Drawn unscaled onto a larger raster, partly outside it.
                auto drawn = [&] {
                    TBitmap d;
                    d.SetPixelFormat(to);
                    d.SetSize(w + 4, 9);
                    d.Canvas().Draw(3, -1, src);
                    return Bytes(d);
                };
                EXPECT_EQ(WithRows(true, drawn), WithRows(false, drawn));
            }
}

}  // namespace
}  // namespace qv
