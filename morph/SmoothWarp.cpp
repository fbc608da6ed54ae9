#include "morph/SmoothWarp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "morph/ParallelBands.h"
#include "morph/Prefetch.h"
#include "morph/UMorph.h"

namespace qv {

static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian");

namespace {

// Sample positions are kept in float and turned into 1/256 pixel steps; both loops do the
// same float operations in the same order (no fused multiply-add: the build targets plain
// x86-64 and ISO C++, which does not contract), so they give the same bytes. Positions
// beyond this are far outside any picture and are clamped before the conversion.
constexpr float kStepLimit = 1073741824.0f;  // 2^22 pixels in 1/256 steps

// Read access to a source raster: rows, size, and the row distance in pixels (-1 when the
// rows are not evenly spaced).
struct TSource {
    uint8_t* const* Rows;
    int32_t Width, Height;
    int32_t PitchWords;
};

// A pixel word of the source; x and y inside.
inline uint32_t WordAt(const TSource& s, int32_t x, int32_t y) {
    uint32_t w;
    std::memcpy(&w, s.Rows[y] + size_t(x) * 4, 4);
    return w;
}

// A position (in 1/256 pixel steps) to the nearest whole step: a position that should be
// whole but carries a rounding error of the float arithmetic still reads one pixel only.
inline int32_t Steps(float pos) { return int32_t(std::nearbyint(std::clamp(pos, -kStepLimit, kStepLimit))); }

// The four weights of a bilinear sample at fractions wx, wy (in 1/256): they add up to
// 256 exactly, so a flat area stays flat and a whole-pixel position reads one pixel.
struct TWeights {
    uint32_t TL, TR, BL, BR;
};
inline TWeights WeightsAt(uint32_t wx, uint32_t wy) {
    const uint32_t br = (wx * wy + 128) >> 8;
    return {256 - wx - wy + br, wx - br, wy - br, br};
}

// One channel of the bilinear sample, rounded; the eight-pixel loop does the same in
// 16-bit lanes (every partial sum stays below 2^16).
inline uint32_t Bilinear(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br, const TWeights& w) {
    return (tl * w.TL + tr * w.TR + bl * w.BL + br * w.BR + 128) >> 8;
}

// The bilinear sample at (qx, qy) in 1/256 pixel steps, all four bytes, as a pixel word;
// 0 when the nearest pixel is outside the picture. Taps beyond the last column or row
// repeat it, so a position on the far border reads the border pixels.
uint32_t SamplePlain(const TSource& s, int32_t qx, int32_t qy) {
    if (s.Width <= 0 || s.Height <= 0 || qx < -128 || qy < -128 || int64_t(qx) >= int64_t(s.Width) * 256 + 128 ||
        int64_t(qy) >= int64_t(s.Height) * 256 + 128)
        return 0;
    const int32_t ix = qx >> 8, iy = qy >> 8;  // floor
    const uint32_t wx = uint32_t(qx) & 255, wy = uint32_t(qy) & 255;
    const int32_t x0 = std::clamp(ix, 0, s.Width - 1), x1 = std::clamp(ix + 1, 0, s.Width - 1);
    const int32_t y0 = std::clamp(iy, 0, s.Height - 1), y1 = std::clamp(iy + 1, 0, s.Height - 1);
    const uint32_t tl = WordAt(s, x0, y0), tr = WordAt(s, x1, y0), bl = WordAt(s, x0, y1), br = WordAt(s, x1, y1);
    const TWeights w = WeightsAt(wx, wy);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= Bilinear((tl >> shift) & 255, (tr >> shift) & 255, (bl >> shift) & 255, (br >> shift) & 255, w)
               << shift;
    return out;
}

// Blend of two pixel words at a position inside 0 .. 256, fourth byte 0 (as the exact warp).
inline uint32_t BlendWords(uint32_t s, uint32_t e, uint32_t ip, uint32_t p) {
    const uint32_t rb = (((s & 0x00FF00FFu) * ip + (e & 0x00FF00FFu) * p) >> 8) & 0x00FF00FFu;
    const uint32_t g = (((s & 0x0000FF00u) * ip + (e & 0x0000FF00u) * p) >> 8) & 0x0000FF00u;
    return rb | g;
}

// One row's span with its sample positions: pixel x samples coordinate c at
// Base[c] + (clamp(x, XLow, XHigh) - X0) x Slope[c], in 1/256 pixel steps; the coordinates
// are start x, start y, end x, end y.
struct TSpan {
    int32_t XFirst, Count;  // destination pixels, already clipped
    float X0, XLow, XHigh;
    float Base[4], Slope[4];
    bool Deep[2];  // every sample of the start (end) picture lies at least a pixel inside
};

struct TContext {
    TSource Start, End;
    uint8_t* const* DestRows;
    int32_t Position;
    bool Packed;  // position inside 0 .. 256
    bool Wide;
};

inline void PositionsAt(const TSpan& sp, float xf, float out[4]) {
    const float d = std::min(std::max(xf, sp.XLow), sp.XHigh) - sp.X0;
    for (int c = 0; c < 4; ++c) out[c] = sp.Base[c] + d * sp.Slope[c];
}

void SpanPlain(const TContext& c, const TSpan& sp, uint8_t* out) {
    const uint32_t p = uint32_t(c.Position), ip = 256u - p;
    for (int32_t k = 0; k < sp.Count; ++k) {
        float pos[4];
        PositionsAt(sp, float(sp.XFirst + k), pos);
        const uint32_t s = SamplePlain(c.Start, Steps(pos[0]), Steps(pos[1]));
        const uint32_t e = SamplePlain(c.End, Steps(pos[2]), Steps(pos[3]));
        const uint32_t word = c.Packed ? BlendWords(s, e, ip, p) : BlendColors(s, e, c.Position);
        std::memcpy(out + size_t(k) * 4, &word, 4);
    }
}

#if defined(__x86_64__)
#define QV_AVX2 __attribute__((target("avx2")))

// The conversion rounds in the current rounding mode, as nearbyint does. Positions of a
// deep span lie inside the picture, where the clamp changes nothing.
template <bool Deep>
QV_AVX2 inline __m256i Steps8(__m256 pos) {
    if constexpr (Deep) {
        return _mm256_cvtps_epi32(pos);
    } else {
        const __m256 limit = _mm256_set1_ps(kStepLimit);
        return _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(pos, _mm256_sub_ps(_mm256_setzero_ps(), limit)), limit));
    }
}

QV_AVX2 inline __m256i Dup16(__m256i v) { return _mm256_or_si256(v, _mm256_slli_epi32(v, 16)); }

inline uint64_t Pair(const uint8_t* base, uint32_t at) {
    uint64_t v;
    std::memcpy(&v, base + size_t(at) * 4, 8);
    return v;
}

// One channel pair of the bilinear sample in 16-bit lanes (two channels per pixel lane,
// each below 256): the same arithmetic as Bilinear in the plain loop.
QV_AVX2 inline __m256i Bilinear8(__m256i tl, __m256i tr, __m256i bl, __m256i br, const __m256i w[4]) {
    const __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(tl, w[0]), _mm256_mullo_epi16(tr, w[1])),
        _mm256_add_epi16(_mm256_mullo_epi16(bl, w[2]), _mm256_mullo_epi16(br, w[3])));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

// The channels of eight pixels in 16-bit lanes, each below 256: first and third bytes in
// Even, second and fourth in Odd (the blend takes them apart anyway, so they stay apart).
struct TChannels8 {
    __m256i Even, Odd;
};

QV_AVX2 inline __m256i EvenBytes(__m256i v) { return _mm256_and_si256(v, _mm256_set1_epi32(0x00FF00FF)); }
QV_AVX2 inline __m256i OddBytes(__m256i v) { return _mm256_srli_epi16(v, 8); }

// Eight bilinear samples of one picture (at least 2 x 2, rows evenly spaced), 0 where the
// nearest pixel is outside. Each lane reads two neighbouring pixels
// of two neighbouring rows: the left tap is clamped to the last-but-one column (row) and
// the weight moved to the right one, which gives the same values as repeating the last
// column (row) in the plain loop.
// Deep is a promise that every lane's four taps are inside: then nothing is clamped or
// masked (the result is the same).
template <bool Deep>
QV_AVX2 __attribute__((always_inline)) inline TChannels8 Sample8(const TSource& s, __m256i qx, __m256i qy) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i w256 = _mm256_set1_epi32(256);
    __m256i inside, xa, ya, wx, wy;
    if constexpr (Deep) {
        xa = _mm256_srai_epi32(qx, 8);
        ya = _mm256_srai_epi32(qy, 8);
        wx = _mm256_and_si256(qx, _mm256_set1_epi32(255));
        wy = _mm256_and_si256(qy, _mm256_set1_epi32(255));
    } else {
        inside = _mm256_andnot_si256(
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-128), qx),
                                            _mm256_cmpgt_epi32(_mm256_set1_epi32(-128), qy)),
                            _mm256_or_si256(_mm256_cmpgt_epi32(qx, _mm256_set1_epi32(s.Width * 256 + 127)),
                                            _mm256_cmpgt_epi32(qy, _mm256_set1_epi32(s.Height * 256 + 127)))),
            _mm256_set1_epi32(-1));
        xa = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(qx, 8), zero), _mm256_set1_epi32(s.Width - 2));
        ya = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(qy, 8), zero), _mm256_set1_epi32(s.Height - 2));
        wx = _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(qx, _mm256_slli_epi32(xa, 8)), zero), w256);
        wy = _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(qy, _mm256_slli_epi32(ya, 8)), zero), w256);
    }
    // Lanes outside read the first two pixels (always there) and are cleared at the end.
    // Rows and pitches below 2^15 (any real picture) take the cheaper 16-bit multiply.
    const __m256i pitchWords = _mm256_set1_epi32(s.PitchWords);
    __m256i index = _mm256_add_epi32(s.PitchWords < 32768 && s.Height <= 32768 ? _mm256_madd_epi16(ya, pitchWords)
                                                                                : _mm256_mullo_epi32(ya, pitchWords),
                                     xa);
    if constexpr (!Deep) index = _mm256_and_si256(index, inside);
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    // Read the offsets back through memory: the load ports are freer than the shuffle port
    // that extracting them from the register would take.
    asm("" : "+m"(at));
    const uint8_t* top = s.Rows[0];
    const size_t pitch = size_t(s.PitchWords) * 4;
    const uint8_t* bottom = top + pitch;
    // The next blocks sample further along the same rows, and the next row of the triangle
    // about one picture row lower: ask for those lines early (as the exact warp does).
    Prefetch(top, size_t(at[0]) * 4 + 256);
    Prefetch(top, size_t(at[7]) * 4 + 256);
    Prefetch(bottom, size_t(at[0]) * 4 + pitch);
    Prefetch(bottom, size_t(at[7]) * 4 + pitch);
    // Pairs in the order 0, 1, 4, 5 and 2, 3, 6, 7, so that the even and the odd words of
    // both registers give the left and the right taps of lanes 0 .. 7 in order.
    auto taps = [&](const uint8_t* row, __m256i& left, __m256i& right) QV_AVX2 {
        const __m256 a = _mm256_castsi256_ps(_mm256_setr_epi64x(int64_t(Pair(row, at[0])), int64_t(Pair(row, at[1])),
                                                                int64_t(Pair(row, at[4])), int64_t(Pair(row, at[5]))));
        const __m256 b = _mm256_castsi256_ps(_mm256_setr_epi64x(int64_t(Pair(row, at[2])), int64_t(Pair(row, at[3])),
                                                                int64_t(Pair(row, at[6])), int64_t(Pair(row, at[7]))));
        left = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        right = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    };
    __m256i tl, tr, bl, br;
    taps(top, tl, tr);
    taps(bottom, bl, br);
    // Weights in both 16-bit halves of each lane.
    __m256i w[4];
    if constexpr (Deep) {
        // Fractions below 256: their product and rounding fit 16 bits, and the fraction is
        // the low byte of the position, copied into both halves by one shuffle.
        const __m256i low = _mm256_setr_epi8(0, -1, 0, -1, 4, -1, 4, -1, 8, -1, 8, -1, 12, -1, 12, -1, 0, -1, 0, -1, 4,
                                             -1, 4, -1, 8, -1, 8, -1, 12, -1, 12, -1);
        const __m256i wx16 = _mm256_shuffle_epi8(qx, low), wy16 = _mm256_shuffle_epi8(qy, low);
        const __m256i wbr =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(wx16, wy16), _mm256_set1_epi16(128)), 8);
        w[0] = _mm256_add_epi16(_mm256_sub_epi16(_mm256_sub_epi16(_mm256_set1_epi16(256), wx16), wy16), wbr);
        w[1] = _mm256_sub_epi16(wx16, wbr);
        w[2] = _mm256_sub_epi16(wy16, wbr);
        w[3] = wbr;
    } else {
        // A fraction here may be 256 (the far border), so the product takes 32 bits.
        const __m256i wbr = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(wx, wy), _mm256_set1_epi32(128)), 8);
        w[0] = Dup16(_mm256_add_epi32(_mm256_sub_epi32(_mm256_sub_epi32(w256, wx), wy), wbr));
        w[1] = Dup16(_mm256_sub_epi32(wx, wbr));
        w[2] = Dup16(_mm256_sub_epi32(wy, wbr));
        w[3] = Dup16(wbr);
    }
    TChannels8 out{Bilinear8(EvenBytes(tl), EvenBytes(tr), EvenBytes(bl), EvenBytes(br), w),
                   Bilinear8(OddBytes(tl), OddBytes(tr), OddBytes(bl), OddBytes(br), w)};
    if constexpr (!Deep) {
        out.Even = _mm256_and_si256(out.Even, inside);
        out.Odd = _mm256_and_si256(out.Odd, inside);
    }
    return out;
}

// DeepStart and DeepEnd are the span's Deep flags, fixed for the whole span.
template <bool DeepStart, bool DeepEnd>
QV_AVX2 void SpanAvx2(const TContext& c, const TSpan& sp, uint8_t* out) {
    const __m256 xLow = _mm256_set1_ps(sp.XLow), xHigh = _mm256_set1_ps(sp.XHigh), x0 = _mm256_set1_ps(sp.X0);
    __m256 base[4], slope[4];
    for (int k = 0; k < 4; ++k) {
        base[k] = _mm256_set1_ps(sp.Base[k]);
        slope[k] = _mm256_set1_ps(sp.Slope[k]);
    }
    const __m256i p = _mm256_set1_epi16(int16_t(c.Position)), ip = _mm256_set1_epi16(int16_t(256 - c.Position));
    const __m256i maskG = _mm256_set1_epi32(0x0000FF00);
    const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i x = _mm256_add_epi32(_mm256_set1_epi32(sp.XFirst), laneIndex);
    const __m256i lastX = _mm256_set1_epi32(sp.XFirst + sp.Count - 1);
    for (int32_t left = sp.Count; left > 0; left -= 8) {
        // Lanes past the span's end are never stored; they sample at its last pixel, so
        // that they read only what the span reads.
        const __m256 xf = _mm256_cvtepi32_ps(_mm256_min_epi32(x, lastX));
        const __m256 d = _mm256_sub_ps(_mm256_min_ps(_mm256_max_ps(xf, xLow), xHigh), x0);
        __m256i q[4];
        for (int k = 0; k < 2; ++k) q[k] = Steps8<DeepStart>(_mm256_add_ps(base[k], _mm256_mul_ps(d, slope[k])));
        for (int k = 2; k < 4; ++k) q[k] = Steps8<DeepEnd>(_mm256_add_ps(base[k], _mm256_mul_ps(d, slope[k])));
        const TChannels8 s = Sample8<DeepStart>(c.Start, q[0], q[1]);
        const TChannels8 e = Sample8<DeepEnd>(c.End, q[2], q[3]);
        // Every product sum stays below 2^16 (255 x 256); the fourth byte is dropped.
        const __m256i rb = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(s.Even, ip), _mm256_mullo_epi16(e.Even, p)), 8);
        const __m256i g =
            _mm256_and_si256(_mm256_add_epi16(_mm256_mullo_epi16(s.Odd, ip), _mm256_mullo_epi16(e.Odd, p)), maskG);
        const __m256i pixels = _mm256_or_si256(rb, g);
        Prefetch(out, 512, true);
        if (left >= 8) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pixels);
        } else {
            const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(left), laneIndex);
            _mm256_maskstore_epi32(reinterpret_cast<int*>(out), keep, pixels);
        }
        out += 32;
        x = _mm256_add_epi32(x, _mm256_set1_epi32(8));
    }
}

// At colour position 0 (256) the blend is the start (end) sample with its fourth byte
// cleared, whatever the other sample is: only one picture is sampled. First is the index
// of the picture's x coordinate in the span (0 start, 2 end); Deep is its Deep flag.
template <bool Deep>
QV_AVX2 void SpanAvx2Single(const TSource& src, const TSpan& sp, int first, uint8_t* out) {
    const __m256 xLow = _mm256_set1_ps(sp.XLow), xHigh = _mm256_set1_ps(sp.XHigh), x0 = _mm256_set1_ps(sp.X0);
    const __m256 baseX = _mm256_set1_ps(sp.Base[first]), slopeX = _mm256_set1_ps(sp.Slope[first]);
    const __m256 baseY = _mm256_set1_ps(sp.Base[first + 1]), slopeY = _mm256_set1_ps(sp.Slope[first + 1]);
    const __m256i maskG = _mm256_set1_epi32(0x0000FF00);
    const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i x = _mm256_add_epi32(_mm256_set1_epi32(sp.XFirst), laneIndex);
    const __m256i lastX = _mm256_set1_epi32(sp.XFirst + sp.Count - 1);
    for (int32_t left = sp.Count; left > 0; left -= 8) {
        const __m256 xf = _mm256_cvtepi32_ps(_mm256_min_epi32(x, lastX));
        const __m256 d = _mm256_sub_ps(_mm256_min_ps(_mm256_max_ps(xf, xLow), xHigh), x0);
        const TChannels8 v = Sample8<Deep>(src, Steps8<Deep>(_mm256_add_ps(baseX, _mm256_mul_ps(d, slopeX))),
                                           Steps8<Deep>(_mm256_add_ps(baseY, _mm256_mul_ps(d, slopeY))));
        const __m256i pixels = _mm256_or_si256(v.Even, _mm256_and_si256(_mm256_slli_epi32(v.Odd, 8), maskG));
        Prefetch(out, 512, true);
        if (left >= 8) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pixels);
        } else {
            const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(left), laneIndex);
            _mm256_maskstore_epi32(reinterpret_cast<int*>(out), keep, pixels);
        }
        out += 32;
        x = _mm256_add_epi32(x, _mm256_set1_epi32(8));
    }
}
#endif

// A point where a triangle edge crosses a row: the destination x and the matching start
// and end points, unrounded.
struct TRealPoint {
    double X, S[4];
};

struct TVertex {
    int32_t X, Y;
    double S[4];
};

// Where an edge truly crosses row t of H: that decides where a row's pixels sample, while
// the exact warp's WrapLerp decides which pixels they are.
inline TRealPoint RealAt(const TVertex& a, const TVertex& b, int32_t t, int32_t H) {
    const double f = double(t) / double(H);
    TRealPoint r;
    r.X = a.X + (double(b.X) - a.X) * f;
    for (int c = 0; c < 4; ++c) r.S[c] = a.S[c] + (b.S[c] - a.S[c]) * f;
    return r;
}

inline float ToFloat(double v) {
    // Hostile meshes may put points anywhere; keep every value finite and representable.
    return float(std::clamp(v, -1e30, 1e30));
}

// Sample positions of one row from its two crossings. Along a row the positions are the
// triangle's affine map. A pixel the exact edges give to this triangle but whose centre
// lies just outside it extends the map by at most one destination pixel and at most one
// source pixel, so a sliver triangle cannot send its edge pixels far away.
void MakeSpan(const TRealPoint& L, const TRealPoint& R, TSpan& sp) {
    const double w = R.X - L.X;
    double x0 = L.X, reach = 1.0;
    if (w > 1e-6) {
        double steepest = 0;
        for (int c = 0; c < 4; ++c) {
            const double slope = (R.S[c] - L.S[c]) / w;
            sp.Base[c] = ToFloat(L.S[c] * 256);
            sp.Slope[c] = ToFloat(slope * 256);
            steepest = std::max(steepest, std::abs(slope));
        }
        if (steepest > 1.0) reach = 1.0 / steepest;
    } else {
        // The row only touches the triangle: one point for every pixel.
        x0 = (L.X + R.X) / 2;
        for (int c = 0; c < 4; ++c) {
            sp.Base[c] = ToFloat((L.S[c] + R.S[c]) * 128);
            sp.Slope[c] = 0;
        }
    }
    sp.X0 = ToFloat(x0);
    sp.XLow = ToFloat(std::min(L.X, R.X) - reach);
    sp.XHigh = ToFloat(std::max(L.X, R.X) + reach);
}

// Positions are linear along the span, so its two ends bound them; a pixel of margin
// covers the float rounding.
void MarkDeep(TSpan& sp, const TContext& c) {
    float a[4], b[4];
    PositionsAt(sp, float(sp.XFirst), a);
    PositionsAt(sp, float(sp.XFirst + sp.Count - 1), b);
    auto deep = [](float u, float v, int32_t size) {
        return std::min(u, v) >= 256.0f && std::max(u, v) <= (float(size) - 3.0f) * 256.0f;
    };
    sp.Deep[0] = deep(a[0], b[0], c.Start.Width) && deep(a[1], b[1], c.Start.Height);
    sp.Deep[1] = deep(a[2], b[2], c.End.Width) && deep(a[3], b[3], c.End.Height);
}

struct TSmoothTriangle {
    TVertex V1, V2, V3;
    int32_t H12, H13, H23;
    bool LongIsLeft;

    explicit TSmoothTriangle(const TMorphTriangleCoords& t)
        : V1{t.X1, t.Y1, {double(t.S1x), double(t.S1y), double(t.E1x), double(t.E1y)}},
          V2{t.X2, t.Y2, {double(t.S2x), double(t.S2y), double(t.E2x), double(t.E2y)}},
          V3{t.X3, t.Y3, {double(t.S3x), double(t.S3y), double(t.E3x), double(t.E3y)}} {
        LongIsLeft = OrderTriangle(V1, V2, V3, H12, H13, H23);
    }

    void DrawRow(const TContext& c, int32_t destWidth, int32_t y) const {
        const int32_t t = WrapSub(y, V1.Y);
        int32_t longX = WrapLerp(V1.X, V3.X, t, H13), shortX;
        const TRealPoint longReal = RealAt(V1, V3, t, H13);
        TRealPoint shortReal;
        if (y < V2.Y) {
            shortX = WrapLerp(V1.X, V2.X, t, H12);
            shortReal = RealAt(V1, V2, t, H12);
        } else {
            const int32_t u = WrapSub(y, V2.Y);
            shortX = WrapLerp(V2.X, V3.X, u, H23);
            shortReal = RealAt(V2, V3, u, H23);
        }
        const int32_t lx = LongIsLeft ? longX : shortX, rx = LongIsLeft ? shortX : longX;
        // The exact warp's pixels: xl .. xr - 1, or just xl.
        const int64_t xl = lx;
        const int64_t n = std::max<int64_t>(int64_t(rx) - xl, 1);
        const int64_t first = std::max<int64_t>(xl, 0), last = std::min<int64_t>(xl + n - 1, destWidth - 1);
        if (first > last) return;
        TSpan sp;
        sp.XFirst = int32_t(first);
        sp.Count = int32_t(last - first + 1);
        MakeSpan(LongIsLeft ? longReal : shortReal, LongIsLeft ? shortReal : longReal, sp);
        MarkDeep(sp, c);
        uint8_t* out = c.DestRows[y] + size_t(first) * 4;
#if defined(__x86_64__)
        if (c.Wide) {
            if (c.Position == 0 || c.Position == 256) {
                const int which = c.Position == 0 ? 0 : 1;
                const TSource& src = which == 0 ? c.Start : c.End;
                if (sp.Deep[which])
                    SpanAvx2Single<true>(src, sp, 2 * which, out);
                else
                    SpanAvx2Single<false>(src, sp, 2 * which, out);
            } else if (sp.Deep[0])
                sp.Deep[1] ? SpanAvx2<true, true>(c, sp, out) : SpanAvx2<true, false>(c, sp, out);
            else
                sp.Deep[1] ? SpanAvx2<false, true>(c, sp, out) : SpanAvx2<false, false>(c, sp, out);
            return;
        }
#endif
        SpanPlain(c, sp, out);
    }
};

TSource SourceOf(const TBmpMorph& m) { return {m.Rows().data(), m.Width(), m.Height(), m.PitchWords()}; }

bool WideReady(const TSource& s) {
    // Pairs of pixels are read from pairs of rows; positions in 1/256 steps must fit 32 bits.
    return s.PitchWords >= 0 && s.Width >= 2 && s.Height >= 2 && s.Width < (1 << 22) && s.Height < (1 << 22);
}

}  // namespace

void SmoothMorphTriangles(const TBmpMorph& Dest, const TMorphTriangleCoords* Triangles, size_t Count,
                          const TBmpMorph& Start, const TBmpMorph& End, int32_t p, int32_t yBegin,
                          int32_t yEnd) {
    if (Dest.Rows().empty()) return;
    TContext c{SourceOf(Start), SourceOf(End), Dest.Rows().data(), p, p >= 0 && p <= 256, false};
    // Eight pixels are sampled before any is written: a destination that is also a source
    // takes the plain loop, as in the exact warp.
    c.Wide = c.Packed && WideReady(c.Start) && WideReady(c.End) && Start.Graphic() != Dest.Graphic() &&
             End.Graphic() != Dest.Graphic() && WideSpans();
    // An empty source has no rows to read: every sample of it is outside.
    if (c.Start.Height == 0 || c.Start.Width == 0) c.Start.Width = c.Start.Height = 0;
    if (c.End.Height == 0 || c.End.Width == 0) c.End.Width = c.End.Height = 0;
    const int32_t top = std::max<int32_t>(yBegin, 0), bottom = std::min<int32_t>(yEnd, Dest.Height());
    for (size_t k = 0; k < Count; ++k) {
        const TSmoothTriangle t(Triangles[k]);
        const int32_t yFirst = std::max<int32_t>(t.V1.Y, top), yLast = std::min<int32_t>(t.V3.Y, bottom - 1);
        for (int32_t y = yFirst; y <= yLast; ++y) t.DrawRow(c, Dest.Width(), y);
    }
}

namespace {

// The grid's triangles at its current MorphMesh, in drawing order, cut as RenderMorph cuts
// them.
std::vector<TMorphTriangleCoords> MeshTriangles(const TMorphGrid& g) {
    const TMesh& M = g.MorphMesh;
    const TMesh& S = g.StartMesh;
    const TMesh& E = g.EndMesh;
    const int32_t cols = std::clamp<int32_t>(g.Cols, 0, 100), rows = std::clamp<int32_t>(g.Rows, 0, 100);
    std::vector<TMorphTriangleCoords> out;
    if (cols < 2 || rows < 2) return out;
    out.reserve(size_t(cols - 1) * size_t(rows - 1) * 2);
    for (size_t j = 0; j + 1 < size_t(rows); ++j)
        for (size_t i = 0; i + 1 < size_t(cols); ++i) {
            out.push_back({M[i][j].X, M[i][j].Y, M[i + 1][j].X, M[i + 1][j].Y, M[i][j + 1].X, M[i][j + 1].Y,
                           S[i][j].X, S[i][j].Y, S[i + 1][j].X, S[i + 1][j].Y, S[i][j + 1].X, S[i][j + 1].Y,
                           E[i][j].X, E[i][j].Y, E[i + 1][j].X, E[i + 1][j].Y, E[i][j + 1].X, E[i][j + 1].Y});
            out.push_back({M[i + 1][j].X, M[i + 1][j].Y, M[i + 1][j + 1].X, M[i + 1][j + 1].Y, M[i][j + 1].X,
                           M[i][j + 1].Y, S[i + 1][j].X, S[i + 1][j].Y, S[i + 1][j + 1].X, S[i + 1][j + 1].Y,
                           S[i][j + 1].X, S[i][j + 1].Y, E[i + 1][j].X, E[i + 1][j].Y, E[i + 1][j + 1].X,
                           E[i + 1][j + 1].Y, E[i][j + 1].X, E[i][j + 1].Y});
        }
    return out;
}

}  // namespace

void RenderMorphSplit(TMorphGrid& Grid, TBitmap& Dest, int32_t ShapePosition, int32_t ColourPosition, bool Smooth,
                      const uint32_t* Background) {
    if (!Smooth && ShapePosition == ColourPosition) {
        Grid.RenderMorph(Dest, ShapePosition, Background);
        return;
    }
    TBmpMorph start(Grid.StartBmp);
    TBmpMorph end(Grid.EndBmp);
    TBmpMorph dest(Dest);
    Grid.ComputeMorphMesh(ShapePosition);
    const std::vector<TMorphTriangleCoords> triangles = MeshTriangles(Grid);
    if (Smooth) {
        auto band = [&](int32_t first, int32_t last) {
            if (Background) dest.FillRows(first, last, *Background);
            SmoothMorphTriangles(dest, triangles.data(), triangles.size(), start, end, ColourPosition, first, last);
        };
        // As the exact warp: bands of rows in parallel, one band when the destination is
        // also a source (a band could sample rows another one writes).
        if (start.Graphic() == dest.Graphic() || end.Graphic() == dest.Graphic())
            band(0, dest.Height());
        else
            ParallelBands(dest.Height(), band);
    } else
        dest.MorphTriangles(triangles.data(), triangles.size(), start, end, ColourPosition, Background);
}

}  // namespace qv
