#pragma once
// What the exact warp's span loops share: the fixed-point sample lines, read access to a
// source picture, the blend, and the wide loops of WarpSpansX86.cpp.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "morph/UBmpMorph.h"

namespace qv::spans {

// The sample coordinates along one span: Base + (D x z) div W for z = z0, z0 + 1, ...
// (D x z wrapped to 32 bits, div truncating toward zero).
//
// Fixed point: Base x 2^40 + z x |D| x ceil(2^40 / W), shifted down. The quotient is exact
// when |D| x z x W <= 2^40 (the rounding error of the reciprocal stays below one step of the
// remainder); negative D rounds up from below so that the result truncates toward zero.
// Needs |Base|, |D| <= 2^21 so that the accumulator stays inside 63 bits.
constexpr int kFrac = 40;
constexpr int64_t kOne = int64_t(1) << kFrac;
constexpr int64_t kFixedLimit = int64_t(1) << 21;

struct TFixedLine {
    int64_t Acc;
    int64_t Inc;

    TFixedLine() = default;
    TFixedLine(int32_t Base, int32_t D, int64_t z0, int64_t reciprocal) {
        const int64_t step = std::abs(int64_t(D)) * reciprocal;
        if (D >= 0) {
            Acc = int64_t(Base) * kOne + z0 * step;
            Inc = step;
        } else {
            Acc = int64_t(Base) * kOne + (kOne - 1) - z0 * step;
            Inc = -step;
        }
    }
    int32_t Get() const { return int32_t(Acc >> kFrac); }
    void Step() { Acc += Inc; }
    // The value after k steps; the stepping itself reaches it without overflow.
    int64_t At(int64_t k) const { return (Acc + k * Inc) >> kFrac; }
};

// ceil(2^40 / W) for W > 0: the step of a fixed-point line over W.
inline int64_t Reciprocal(int64_t W) { return (kOne + W - 1) / W; }

// True when fixed-point lines over W > 0 with |D| <= maxD and |Base| <= maxBase give the
// exact quotients for z = 0 .. zLast: |D| x zLast <= 2^40 div W, with 2^40 div W taken from
// the reciprocal (the two differ by one unless W, a power of two, divides 2^40).
inline bool FixedLineExact(int64_t maxD, int64_t maxBase, int64_t zLast, int64_t W, int64_t reciprocal) {
    return maxD <= kFixedLimit && maxBase <= kFixedLimit &&
           maxD * zLast <= reciprocal - int64_t((W & (W - 1)) != 0);
}

// Read access to a source raster as pixel words. The grid's right and bottom edges lie one
// beyond the last pixel, so a sample exactly on x = Width or y = Height reads the last
// column or row; samples further outside read 0 (black).
struct TSource {
    uint8_t* const* Rows;
    uint32_t Width, Height;
    int32_t PitchWords;  // -1: rows not evenly spaced

    inline uint32_t Word(int32_t x, int32_t y) const {
        // An empty raster has Width = Height = 0: the edge step then gives -1, still outside.
        x -= int32_t(uint32_t(x) == Width);
        y -= int32_t(uint32_t(y) == Height);
        if (uint32_t(x) >= Width || uint32_t(y) >= Height) return 0;
        return WordInside(x, y);
    }
    // For 0 <= x < Width, 0 <= y < Height only.
    inline uint32_t WordInside(int32_t x, int32_t y) const {
        uint32_t w;
        std::memcpy(&w, Rows[uint32_t(y)] + size_t(uint32_t(x)) * 4, 4);
        return w;
    }
};

// Blend of two pixel words. Each field is (s x (256 - p) + e x p) shr 8: red and blue share
// one multiplication because each partial sum stays below 2^16; the fourth byte becomes 0.
inline uint32_t BlendWords(uint32_t s, uint32_t e, uint32_t ip, uint32_t p) {
    const uint32_t rb = (((s & 0x00FF00FFu) * ip + (e & 0x00FF00FFu) * p) >> 8) & 0x00FF00FFu;
    const uint32_t g = (((s & 0x0000FF00u) * ip + (e & 0x0000FF00u) * p) >> 8) & 0x0000FF00u;
    return rb | g;
}

inline void Store(uint8_t* at, uint32_t word) { std::memcpy(at, &word, 4); }

struct TSpanContext {
    TSource Start, End;
    uint8_t* const* DestRows;
    int64_t DestWidth;
    int32_t Position;
    bool PackedBlend;  // position inside 0 .. 256
    TSpanLoop Loop;    // the loop for fixed-point spans (see SpanContext)
};

// The four lines of a span: start x, y and end x, y.
struct TSpanLines {
    const TFixedLine &Sx, &Sy, &Ex, &Ey;
};

// The wide loops for spans on fixed-point lines with a position in 0 .. 256 and both
// pictures evenly spaced: the plain loop's integer formulas, lane by lane. Inside: every
// sample of the span lies inside the pictures that show (both, or the one at either end of
// the dissolve).
void SpanFixedAvx2(const TSpanContext& c, uint8_t* out, int64_t count, bool inside, const TSpanLines& l);
void SpanFixedSse41(const TSpanContext& c, uint8_t* out, int64_t count, bool inside, const TSpanLines& l);

bool HasAvx2();
bool HasSse41();

}  // namespace qv::spans
