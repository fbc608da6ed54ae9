#pragma once
// Small helpers shared by the morph tests: patterned rasters and whole-raster snapshots.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "framework/Graphics.h"

namespace qv::testing {

// Pixel word as stored: B | G << 8 | R << 16 | fourth << 24.
inline uint32_t Word(const TBitmap& b, int32_t x, int32_t y) {
    uint32_t w;
    std::memcpy(&w, b.ScanLine(y) + size_t(x) * 4, 4);
    return w;
}
inline void SetWord(TBitmap& b, int32_t x, int32_t y, uint32_t w) {
    std::memcpy(b.ScanLine(y) + size_t(x) * 4, &w, 4);
}

// Sizes b as 32-bit and fills every byte (the fourth included) from the generator.
inline void FillRandom(TBitmap& b, int32_t w, int32_t h, std::mt19937& rng) {
    b.SetPixelFormat(pf32bit);
    b.SetWidth(w);
    b.SetHeight(h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) SetWord(b, x, y, uint32_t(rng()));
}

// Sizes b as 32-bit and sets every pixel word to word.
inline void FillWith(TBitmap& b, int32_t w, int32_t h, uint32_t word) {
    b.SetPixelFormat(pf32bit);
    b.SetWidth(w);
    b.SetHeight(h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) SetWord(b, x, y, word);
}

// Every pixel word, row by row.
inline std::vector<uint32_t> Snapshot(const TBitmap& b) {
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) out.push_back(Word(b, x, y));
    return out;
}

}  // namespace qv::testing
