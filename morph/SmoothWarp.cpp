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

#include "morph/UMorph.h"

namespace qv {

static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian");

namespace {

// Sample positions are kept in float and turned into 1/256 pixel steps; both loops do the
// same float operations in the same order (no fused multiply-add: the build targets plain
// x86-64 and ISO C++, which does not contract), so they give the same bytes. Positions
// beyond this are far outside any picture and are clamped before the conversion.
constexpr float kPositionLimit = 4194304.0f;  // 2^22 pixels

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

// Position in 1/256 pixel steps, to the nearest step: a position that should be whole
// but carries a rounding error of the float arithmetic still reads one pixel only.
inline int32_t Steps(float pos) {
    const float scaled = std::clamp(pos, -kPositionLimit, kPositionLimit) * 256.0f;
    return int32_t(std::nearbyint(scaled));
}

// One channel of the bilinear sample: the two columns first (kept to 8 bits, rounded),
// then across them. The eight-pixel loop does the same in 16-bit lanes.
inline uint32_t Bilinear(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br, uint32_t wx, uint32_t wy) {
    const uint32_t left = (tl * (256 - wy) + bl * wy + 128) >> 8;
    const uint32_t right = (tr * (256 - wy) + br * wy + 128) >> 8;
    return (left * (256 - wx) + right * wx + 128) >> 8;
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
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= Bilinear((tl >> shift) & 255, (tr >> shift) & 255, (bl >> shift) & 255, (br >> shift) & 255, wx, wy)
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
// Base[c] + (clamp(x, XLow, XHigh) - X0) x Slope[c]; coordinates are start x, start y,
// end x, end y.
struct TSpan {
    int32_t XFirst, Count;  // destination pixels, already clipped
    float X0, XLow, XHigh;
    float Base[4], Slope[4];
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

QV_AVX2 inline __m256i Steps8(__m256 pos) {
    const __m256 limit = _mm256_set1_ps(kPositionLimit);
    const __m256 clamped = _mm256_min_ps(_mm256_max_ps(pos, _mm256_sub_ps(_mm256_setzero_ps(), limit)), limit);
    return _mm256_cvttps_epi32(
        _mm256_round_ps(_mm256_mul_ps(clamped, _mm256_set1_ps(256.0f)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

inline __m128i Load2x64(const uint8_t* base, uint32_t lo, uint32_t hi) {
    uint64_t a, b;
    std::memcpy(&a, base + size_t(lo) * 4, 8);
    std::memcpy(&b, base + size_t(hi) * 4, 8);
    return _mm_set_epi64x(int64_t(b), int64_t(a));
}

QV_AVX2 inline __m256i Dup16(__m256i v) { return _mm256_or_si256(v, _mm256_slli_epi32(v, 16)); }

// Eight bilinear samples of one picture (at least 2 x 2, rows evenly spaced) as pixel
// words, 0 where the nearest pixel is outside. Each lane reads two neighbouring pixels
// of two neighbouring rows: the left tap is clamped to the last-but-one column (row) and
// the weight moved to the right one, which gives the same values as repeating the last
// column (row) in the plain loop.
QV_AVX2 __m256i Sample8(const TSource& s, __m256i qx, __m256i qy) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i inside = _mm256_andnot_si256(
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-128), qx),
                                        _mm256_cmpgt_epi32(_mm256_set1_epi32(-128), qy)),
                        _mm256_or_si256(_mm256_cmpgt_epi32(qx, _mm256_set1_epi32(s.Width * 256 + 127)),
                                        _mm256_cmpgt_epi32(qy, _mm256_set1_epi32(s.Height * 256 + 127)))),
        _mm256_set1_epi32(-1));
    const __m256i xa = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(qx, 8), zero),
                                        _mm256_set1_epi32(s.Width - 2));
    const __m256i ya = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(qy, 8), zero),
                                        _mm256_set1_epi32(s.Height - 2));
    const __m256i w256 = _mm256_set1_epi32(256);
    const __m256i wx = _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(qx, _mm256_slli_epi32(xa, 8)), zero), w256);
    const __m256i wy = _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(qy, _mm256_slli_epi32(ya, 8)), zero), w256);
    // Lanes outside read the first two pixels (always there) and are cleared at the end.
    const __m256i index =
        _mm256_and_si256(_mm256_add_epi32(_mm256_mullo_epi32(ya, _mm256_set1_epi32(s.PitchWords)), xa), inside);
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    const uint8_t* top = s.Rows[0];
    const uint8_t* bottom = top + size_t(s.PitchWords) * 4;

    // Weights as two equal 16-bit halves of each 32-bit lane, so that a lane permute
    // spreads one pixel's weight over its 16-bit channels.
    const __m256i wyDup = Dup16(wy), iwyDup = Dup16(_mm256_sub_epi32(w256, wy));
    const __m256i wxDup = Dup16(wx), iwxDup = Dup16(_mm256_sub_epi32(w256, wx));
    const __m256i round = _mm256_set1_epi16(128);

    __m256i pairs[4];
    for (int k = 0; k < 4; ++k) {
        const uint32_t a = at[2 * k], b = at[2 * k + 1];
        // Low half: lane 2k, high half: lane 2k + 1; in each, the left pixel's four
        // channels, then the right pixel's.
        const __m256i t = _mm256_cvtepu8_epi16(Load2x64(top, a, b));
        const __m256i u = _mm256_cvtepu8_epi16(Load2x64(bottom, a, b));
        const __m256i spread = _mm256_setr_epi32(2 * k, 2 * k, 2 * k, 2 * k, 2 * k + 1, 2 * k + 1, 2 * k + 1, 2 * k + 1);
        const __m256i col = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(t, _mm256_permutevar8x32_epi32(iwyDup, spread)),
                                              _mm256_mullo_epi16(u, _mm256_permutevar8x32_epi32(wyDup, spread))),
                             round),
            8);
        const __m256i wxv = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(iwxDup, spread),
                                               _mm256_permutevar8x32_epi32(wxDup, spread), 0b11001100);
        const __m256i h = _mm256_mullo_epi16(col, wxv);
        pairs[k] = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(h, _mm256_srli_si256(h, 8)), round), 8);
    }
    // Low 64 bits of each half hold a result: gather them as 0, 2, 4, 6 | 1, 3, 5, 7 and
    // put them in order.
    const __m256i packed = _mm256_packus_epi16(_mm256_unpacklo_epi64(pairs[0], pairs[1]),
                                               _mm256_unpacklo_epi64(pairs[2], pairs[3]));
    const __m256i ordered = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    return _mm256_and_si256(ordered, inside);
}

QV_AVX2 void SpanAvx2(const TContext& c, const TSpan& sp, uint8_t* out) {
    const __m256 xLow = _mm256_set1_ps(sp.XLow), xHigh = _mm256_set1_ps(sp.XHigh), x0 = _mm256_set1_ps(sp.X0);
    __m256 base[4], slope[4];
    for (int k = 0; k < 4; ++k) {
        base[k] = _mm256_set1_ps(sp.Base[k]);
        slope[k] = _mm256_set1_ps(sp.Slope[k]);
    }
    const __m256i p = _mm256_set1_epi16(int16_t(c.Position)), ip = _mm256_set1_epi16(int16_t(256 - c.Position));
    const __m256i maskRB = _mm256_set1_epi32(0x00FF00FF), maskLow = _mm256_set1_epi32(0x000000FF),
                  maskG = _mm256_set1_epi32(0x0000FF00);
    const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i x = _mm256_add_epi32(_mm256_set1_epi32(sp.XFirst), laneIndex);
    for (int32_t left = sp.Count; left > 0; left -= 8) {
        const __m256 d = _mm256_sub_ps(_mm256_min_ps(_mm256_max_ps(_mm256_cvtepi32_ps(x), xLow), xHigh), x0);
        __m256i q[4];
        for (int k = 0; k < 4; ++k) q[k] = Steps8(_mm256_add_ps(base[k], _mm256_mul_ps(d, slope[k])));
        const __m256i s = Sample8(c.Start, q[0], q[1]);
        const __m256i e = Sample8(c.End, q[2], q[3]);
        const __m256i rb = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(s, maskRB), ip),
                             _mm256_mullo_epi16(_mm256_and_si256(e, maskRB), p)),
            8);
        const __m256i g = _mm256_and_si256(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(s, 8), maskLow), ip),
                             _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(e, 8), maskLow), p)),
            maskG);
        const __m256i pixels = _mm256_or_si256(rb, g);
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

// The same interpolation as the exact warp's edges (which decide the pixels), and the
// true crossing (which decides where they sample).
inline int32_t Lerp(int32_t A, int32_t B, int32_t t, int32_t H) {
    return WrapAdd(WrapDiv(WrapMul(WrapSub(B, A), t), H), A);
}

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
            sp.Base[c] = ToFloat(L.S[c]);
            sp.Slope[c] = ToFloat(slope);
            steepest = std::max(steepest, std::abs(slope));
        }
        if (steepest > 1.0) reach = 1.0 / steepest;
    } else {
        // The row only touches the triangle: one point for every pixel.
        x0 = (L.X + R.X) / 2;
        for (int c = 0; c < 4; ++c) {
            sp.Base[c] = ToFloat((L.S[c] + R.S[c]) / 2);
            sp.Slope[c] = 0;
        }
    }
    sp.X0 = ToFloat(x0);
    sp.XLow = ToFloat(std::min(L.X, R.X) - reach);
    sp.XHigh = ToFloat(std::max(L.X, R.X) + reach);
}

struct TSmoothTriangle {
    TVertex V1, V2, V3;
    int32_t H12, H13, H23;
    bool LongIsLeft;

    explicit TSmoothTriangle(const TMorphTriangleCoords& t)
        : V1{t.X1, t.Y1, {double(t.S1x), double(t.S1y), double(t.E1x), double(t.E1y)}},
          V2{t.X2, t.Y2, {double(t.S2x), double(t.S2y), double(t.E2x), double(t.E2y)}},
          V3{t.X3, t.Y3, {double(t.S3x), double(t.S3y), double(t.E3x), double(t.E3y)}} {
        // As the exact warp: strict comparisons, so vertices on one row keep their order.
        if (V2.Y < V1.Y) std::swap(V1, V2);
        if (V3.Y < V1.Y) std::swap(V1, V3);
        if (V3.Y < V2.Y) std::swap(V2, V3);
        H12 = WrapSub(V2.Y, V1.Y);
        H13 = WrapSub(V3.Y, V1.Y);
        H23 = WrapSub(V3.Y, V2.Y);
        if (H12 == 0) H12 = 1;
        if (H13 == 0) H13 = 1;
        if (H23 == 0) H23 = 1;
        LongIsLeft = Lerp(V1.X, V3.X, H12, H13) < V2.X;
    }

    void DrawRow(const TContext& c, int32_t destWidth, int32_t y) const {
        const int32_t t = WrapSub(y, V1.Y);
        int32_t longX = Lerp(V1.X, V3.X, t, H13), shortX;
        const TRealPoint longReal = RealAt(V1, V3, t, H13);
        TRealPoint shortReal;
        if (y < V2.Y) {
            shortX = Lerp(V1.X, V2.X, t, H12);
            shortReal = RealAt(V1, V2, t, H12);
        } else {
            const int32_t u = WrapSub(y, V2.Y);
            shortX = Lerp(V2.X, V3.X, u, H23);
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
        uint8_t* out = c.DestRows[y] + size_t(first) * 4;
#if defined(__x86_64__)
        if (c.Wide) {
            SpanAvx2(c, sp, out);
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

void RenderMorphSplit(TMorphGrid& Grid, TBitmap& Dest, int32_t ShapePosition, int32_t ColourPosition, bool Smooth) {
    if (!Smooth && ShapePosition == ColourPosition) {
        Grid.RenderMorph(Dest, ShapePosition);
        return;
    }
    TBmpMorph start(Grid.StartBmp);
    TBmpMorph end(Grid.EndBmp);
    TBmpMorph dest(Dest);
    Grid.ComputeMorphMesh(ShapePosition);
    const std::vector<TMorphTriangleCoords> triangles = MeshTriangles(Grid);
    if (Smooth)
        SmoothMorphTriangles(dest, triangles.data(), triangles.size(), start, end, ColourPosition, 0, dest.Height());
    else
        dest.MorphTriangles(triangles.data(), triangles.size(), start, end, ColourPosition);
}

}  // namespace qv
