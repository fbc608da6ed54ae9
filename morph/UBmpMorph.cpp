#include "morph/UBmpMorph.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "morph/Bmp_.h"
#include "morph/ParallelBands.h"
#include "morph/Prefetch.h"
#include "morph/WarpSpans.h"

namespace qv {

// The span loop reads pixels as native words: B | G << 8 | R << 16 | X << 24.
static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian");

namespace {
TSpanLoop gWidestLoop = TSpanLoop::Avx2;
}  // namespace

void SetWidestSpanLoop(TSpanLoop widest) { gWidestLoop = widest; }

TSpanLoop ActiveSpanLoop() {
    if (gWidestLoop == TSpanLoop::Avx2 && spans::HasAvx2()) return TSpanLoop::Avx2;
    if (gWidestLoop != TSpanLoop::Plain && spans::HasSse41()) return TSpanLoop::Sse41;
    return TSpanLoop::Plain;
}

void SetWideSpans(bool enabled) { SetWidestSpanLoop(enabled ? TSpanLoop::Avx2 : TSpanLoop::Plain); }
bool WideSpans() { return ActiveSpanLoop() == TSpanLoop::Avx2; }

using spans::BlendWords;
using spans::FixedLineExact;
using spans::kFixedLimit;
using spans::Reciprocal;
using spans::Store;
using spans::TFixedLine;
using spans::TSource;
using spans::TSpanContext;

uint32_t BlendColors(uint32_t S, uint32_t E, int32_t p) {
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int64_t s = (S >> shift) & 0xFF;
        const int64_t e = (E >> shift) & 0xFF;
        // 64-bit: a position far outside 0 .. 256 must not overflow.
        const int64_t v = (s * (256 - int64_t(p)) + e * int64_t(p)) >> 8;
        result |= (uint32_t(v) & 0xFF) << shift;
    }
    return result;
}

void TBmpMorph::Attach(TBitmap& G) {
    G.SetPixelFormat(pf32bit);
    FGraphic = &G;
    FWidth = G.Width();
    FHeight = G.Height();
    const int32_t rows = (FWidth > 0 && FHeight > 0) ? FHeight : 0;
    FRows.assign(size_t(rows), nullptr);
    for (int32_t i = 0; i < rows; ++i) FRows[size_t(i)] = FastRowAddress(G, i);
    if (rows == 0) FWidth = FHeight = 0;
    FPitchWords = -1;
    if (rows > 0) {
        const ptrdiff_t pitch = rows > 1 ? FRows[1] - FRows[0] : ptrdiff_t(FWidth) * 4;
        bool even = pitch >= ptrdiff_t(FWidth) * 4 && pitch % 4 == 0 &&
                    int64_t(pitch / 4) * rows <= INT32_MAX;
        for (int32_t i = 1; even && i < rows; ++i) even = FRows[size_t(i)] - FRows[size_t(i - 1)] == pitch;
        if (even) FPitchWords = int32_t(pitch / 4);
    }
}

uint32_t TBmpMorph::GetPixel(int32_t X, int32_t Y) const {
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight) return 0;
    const uint8_t* px = FRows[size_t(Y)] + size_t(X) * 4;
    return uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | uint32_t(px[2]) | uint32_t(px[3]) << 24;
}

void TBmpMorph::PutPixel(int32_t X, int32_t Y, uint32_t C) {
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight) return;
    uint8_t* px = FRows[size_t(Y)] + size_t(X) * 4;
    px[0] = uint8_t(C >> 16);
    px[1] = uint8_t(C >> 8);
    px[2] = uint8_t(C);
    px[3] = uint8_t(C >> 24);
}

namespace {

struct TVertex {
    int32_t X, Y, Sx, Sy, Ex, Ey;
};

// A point on a triangle edge at one row: destination x and the matching start and end points.
struct TEdgePoint {
    int32_t X, Sx, Sy, Ex, Ey;
};

inline TEdgePoint EdgeAt(const TVertex& a, const TVertex& b, int32_t t, int32_t H) {
    return {WrapLerp(a.X, b.X, t, H), WrapLerp(a.Sx, b.Sx, t, H), WrapLerp(a.Sy, b.Sy, t, H),
            WrapLerp(a.Ex, b.Ex, t, H), WrapLerp(a.Ey, b.Ey, t, H)};
}

// The sample coordinates along one span: Base + (D x z) div W for z = z0, z0 + 1, ...
// (D x z wrapped to 32 bits, div truncating toward zero). Three ways to step them, all
// exact; the span picks the cheapest whose conditions hold: the fixed-point line of
// WarpSpans.h, and these two.

// Quotient and remainder, stepped without division or branches. Valid while |D| x z
// stays inside 32 bits (then nothing wraps) and W > 0.
struct TRemainderLine {
    uint32_t Value;   // Base + (D x z) div W, wrapped
    uint32_t Rem;     // |D| x z mod W
    uint32_t Inc;     // sign(D) x (|D| div W)
    uint32_t RemInc;  // |D| mod W
    uint32_t Carry;   // sign(D)
    uint32_t W;

    TRemainderLine() = default;
    TRemainderLine(int32_t Base, int32_t D, int64_t z0, uint32_t w) : W(w) {
        const uint32_t a = uint32_t(std::abs(int64_t(D)));
        const uint64_t prod = uint64_t(a) * uint64_t(z0);
        const uint32_t q = uint32_t(prod / W);
        const bool neg = D < 0;
        Value = uint32_t(Base) + (neg ? 0u - q : q);
        Rem = uint32_t(prod % W);
        Inc = neg ? 0u - a / W : a / W;
        RemInc = a % W;
        Carry = neg ? 0xFFFFFFFFu : 1u;
    }
    int32_t Get() const { return int32_t(Value); }
    void Step() {
        Value += Inc;
        Rem += RemInc;
        const uint32_t over = 0u - uint32_t(Rem >= W);
        Rem -= W & over;
        Value += Carry & over;
    }
};

// The formula itself, per pixel: for products that wrap (sample points far outside the
// pictures, or a span wider than 2^31 pixels).
struct TDivisionLine {
    int32_t Base, D, W;
    uint32_t Z;

    TDivisionLine(int32_t base, int32_t d, int64_t z0, int32_t w)
        : Base(base), D(d), W(w), Z(uint32_t(uint64_t(z0))) {}
    int32_t Get() const { return WrapAdd(Base, WrapDiv(WrapMul(D, int32_t(Z)), W)); }
    void Step() { ++Z; }
};

inline void PrefetchAround(const TSource& src, int32_t x, int32_t y) {
    if (uint32_t(x) >= src.Width || uint32_t(y) >= src.Height) return;
    const uint8_t* row = src.Rows[uint32_t(y)];
    Prefetch(row, size_t(uint32_t(x)) * 4 + 256);
    if (uint32_t(y) + 1 < src.Height) Prefetch(src.Rows[uint32_t(y) + 1], size_t(uint32_t(x)) * 4);
}

template <bool Packed, bool Inside, class TLine>
void SpanLoop(const TSpanContext& c, uint8_t* out, int64_t count, TLine sx, TLine sy, TLine ex, TLine ey) {
    const TSource start = c.Start, end = c.End;
    const uint32_t p = uint32_t(c.Position), ip = 256u - p;
    for (int64_t k = 0; k < count; ++k) {
        if ((k & 7) == 0) {
            // As in the eight-pixel loop: the lines further along this row and the next.
            PrefetchAround(start, sx.Get(), sy.Get());
            PrefetchAround(end, ex.Get(), ey.Get());
        }
        const uint32_t s = Inside ? start.WordInside(sx.Get(), sy.Get()) : start.Word(sx.Get(), sy.Get());
        const uint32_t e = Inside ? end.WordInside(ex.Get(), ey.Get()) : end.Word(ex.Get(), ey.Get());
        Store(out, Packed ? BlendWords(s, e, ip, p) : BlendColors(s, e, c.Position));
        out += 4;
        sx.Step();
        sy.Step();
        ex.Step();
        ey.Step();
    }
}

// True when a fixed-point line stays in 0 .. limit - 1 for count steps. The values of a
// line only rise or only fall along a span, so its two ends decide; the last one is the
// accumulator after count - 1 steps, which the stepping itself reaches without overflow.
bool StaysInside(const TFixedLine& l, int64_t count, uint32_t limit) {
    const int64_t first = l.At(0), last = l.At(count - 1);
    return first >= 0 && last >= 0 && first < int64_t(limit) && last < int64_t(limit);
}

template <bool Inside, class TLine>
void RunSpanLoop(const TSpanContext& c, uint8_t* out, int64_t count, const TLine& sx, const TLine& sy,
                 const TLine& ex, const TLine& ey) {
    if (c.PackedBlend)
        SpanLoop<true, Inside>(c, out, count, sx, sy, ex, ey);
    else
        SpanLoop<false, Inside>(c, out, count, sx, sy, ex, ey);
}

template <class TLine, class... TArgs>
void RunSpan(const TSpanContext& c, uint8_t* out, int64_t count, const TEdgePoint& L, const TEdgePoint& R,
             int64_t z0, TArgs... args) {
    TLine sx(L.Sx, WrapSub(R.Sx, L.Sx), z0, args...), sy(L.Sy, WrapSub(R.Sy, L.Sy), z0, args...);
    TLine ex(L.Ex, WrapSub(R.Ex, L.Ex), z0, args...), ey(L.Ey, WrapSub(R.Ey, L.Ey), z0, args...);
    if constexpr (std::is_same_v<TLine, TFixedLine>) {
        // Most spans of a morph sample well inside both pictures: they skip every bounds
        // check and edge step.
        auto startInside = [&] {
            return StaysInside(sx, count, c.Start.Width) && StaysInside(sy, count, c.Start.Height);
        };
        auto endInside = [&] { return StaysInside(ex, count, c.End.Width) && StaysInside(ey, count, c.End.Height); };
#if defined(__x86_64__)
        if (c.Loop != TSpanLoop::Plain) {
            // The wide loops read only the picture that shows at either end of the dissolve.
            const bool inside = c.Position == 0     ? startInside()
                                : c.Position == 256 ? endInside()
                                                    : startInside() && endInside();
            if (c.Loop == TSpanLoop::Avx2)
                spans::SpanFixedAvx2(c, out, count, inside, {sx, sy, ex, ey});
            else
                spans::SpanFixedSse41(c, out, count, inside, {sx, sy, ex, ey});
            return;
        }
#endif
        if (startInside() && endInside()) {
            RunSpanLoop<true>(c, out, count, sx, sy, ex, ey);
            return;
        }
    }
    RunSpanLoop<false>(c, out, count, sx, sy, ex, ey);
}

// Writes pixels xl .. xr - 1 of row y (just xl when xr <= xl + 1), clipped to the
// destination; the pixel at xl + z samples L + (R - L) x z div W in both pictures.
void DrawSpan(const TSpanContext& c, int32_t y, const TEdgePoint& L, const TEdgePoint& R) {
    const int64_t xl = L.X;
    const int64_t n = std::max<int64_t>(int64_t(R.X) - xl, 1);
    int32_t W = WrapSub(R.X, L.X);
    if (W == 0) W = 1;
    const int64_t z0 = std::max<int64_t>(0, -xl);
    const int64_t z1 = std::min<int64_t>(n - 1, c.DestWidth - 1 - xl);
    if (z0 > z1) return;
    const int64_t count = z1 - z0 + 1;
    // First written pixel; z counts from the span's left end.
    uint8_t* out = c.DestRows[y] + size_t(xl + z0) * 4;

    const int64_t maxD = std::max({std::abs(int64_t(WrapSub(R.Sx, L.Sx))), std::abs(int64_t(WrapSub(R.Sy, L.Sy))),
                                   std::abs(int64_t(WrapSub(R.Ex, L.Ex))), std::abs(int64_t(WrapSub(R.Ey, L.Ey)))});
    const int64_t maxBase = std::max({std::abs(int64_t(L.Sx)), std::abs(int64_t(L.Sy)), std::abs(int64_t(L.Ex)),
                                      std::abs(int64_t(L.Ey))});
    if (W > 0 && maxD <= kFixedLimit && maxBase <= kFixedLimit) {
        const int64_t reciprocal = Reciprocal(W);
        if (FixedLineExact(maxD, maxBase, z1, W, reciprocal)) {
            RunSpan<TFixedLine>(c, out, count, L, R, z0, reciprocal);
            return;
        }
    }
    if (W > 0 && maxD * z1 <= INT32_MAX)
        RunSpan<TRemainderLine>(c, out, count, L, R, z0, uint32_t(W));
    else
        RunSpan<TDivisionLine>(c, out, count, L, R, z0, W);
}

// One edge of a triangle walked down its rows: at row offset t the five values are
// A + (B - A) x t div H, as EdgeAt gives them, the same form as a span's sample lines. While
// no product wraps they are stepped on fixed-point lines where those are exact, else with
// remainders (no division per row); otherwise each row takes the formula.
class TEdgeWalk {
public:
    // Rows t0 .. t0 + rows - 1 of the edge from a to b, of height H.
    TEdgeWalk(const TVertex& a, const TVertex& b, int32_t t0, int32_t H, int32_t rows)
        : FA(a), FB(b), FT(t0), FH(H) {
        const int64_t tLast = int64_t(t0) + rows - 1;
        const int32_t d[5] = {WrapSub(b.X, a.X), WrapSub(b.Sx, a.Sx), WrapSub(b.Sy, a.Sy), WrapSub(b.Ex, a.Ex),
                              WrapSub(b.Ey, a.Ey)};
        const int32_t base[5] = {a.X, a.Sx, a.Sy, a.Ex, a.Ey};
        int64_t maxD = 0, maxBase = 0;
        for (int k = 0; k < 5; ++k) {
            maxD = std::max(maxD, std::abs(int64_t(d[k])));
            maxBase = std::max(maxBase, std::abs(int64_t(base[k])));
        }
        FMode = H > 0 && t0 >= 0 && maxD * tLast <= INT32_MAX ? TMode::Remainder : TMode::Formula;
        if (FMode == TMode::Remainder && maxD <= kFixedLimit && maxBase <= kFixedLimit) {
            const int64_t reciprocal = Reciprocal(H);
            if (FixedLineExact(maxD, maxBase, tLast, H, reciprocal)) {
                FMode = TMode::Fixed;
                for (int k = 0; k < 5; ++k) FFixed[k] = TFixedLine(base[k], d[k], t0, reciprocal);
                return;
            }
        }
        if (FMode == TMode::Remainder)
            for (int k = 0; k < 5; ++k) FLines[k] = TRemainderLine(base[k], d[k], t0, uint32_t(H));
    }

    TEdgePoint Get() const {
        if (FMode == TMode::Fixed)
            return {FFixed[0].Get(), FFixed[1].Get(), FFixed[2].Get(), FFixed[3].Get(), FFixed[4].Get()};
        if (FMode == TMode::Remainder)
            return {FLines[0].Get(), FLines[1].Get(), FLines[2].Get(), FLines[3].Get(), FLines[4].Get()};
        return EdgeAt(FA, FB, FT, FH);
    }
    void Step() {
        if (FMode == TMode::Fixed)
            for (TFixedLine& l : FFixed) l.Step();
        else if (FMode == TMode::Remainder)
            for (TRemainderLine& l : FLines) l.Step();
        else
            FT = WrapAdd(FT, 1);
    }

private:
    enum class TMode : uint8_t { Fixed, Remainder, Formula };
    TVertex FA, FB;
    int32_t FT, FH;
    TMode FMode;
    TFixedLine FFixed[5];
    TRemainderLine FLines[5];
};

// A destination triangle with its vertices sorted by row and its edge heights, ready to
// give the two ends of any of its rows.
struct TPreparedTriangle {
    TVertex V1, V2, V3;
    int32_t H12, H13, H23;
    bool LongIsLeft;
    int32_t YFirst, YLast;  // rows inside the destination; none when YFirst > YLast

    TPreparedTriangle(const TMorphTriangleCoords& t, int32_t destHeight)
        : V1{t.X1, t.Y1, t.S1x, t.S1y, t.E1x, t.E1y},
          V2{t.X2, t.Y2, t.S2x, t.S2y, t.E2x, t.E2y},
          V3{t.X3, t.Y3, t.S3x, t.S3y, t.E3x, t.E3y} {
        LongIsLeft = OrderTriangle(V1, V2, V3, H12, H13, H23);
        // Rows outside the destination write nothing, so only the visible ones are visited.
        YFirst = std::max<int32_t>(V1.Y, 0);
        YLast = std::min<int32_t>(V3.Y, destHeight - 1);
    }

    // Draws rows yFrom .. yTo, which lie in YFirst .. YLast.
    void DrawRows(const TSpanContext& c, int32_t yFrom, int32_t yTo) const {
        if (yFrom > yTo) return;
        TEdgeWalk longEdge(V1, V3, WrapSub(yFrom, V1.Y), H13, yTo - yFrom + 1);
        int32_t y = yFrom;
        auto run = [&](TEdgeWalk& shortEdge, int32_t last) {
            for (; y <= last; ++y) {
                const TEdgePoint l = longEdge.Get(), s = shortEdge.Get();
                if (LongIsLeft)
                    DrawSpan(c, y, l, s);
                else
                    DrawSpan(c, y, s, l);
                longEdge.Step();
                shortEdge.Step();
            }
        };
        if (y < V2.Y) {
            const int32_t last = std::min(yTo, V2.Y - 1);
            TEdgeWalk upper(V1, V2, WrapSub(y, V1.Y), H12, last - y + 1);
            run(upper, last);
        }
        if (y <= yTo) {
            TEdgeWalk lower(V2, V3, WrapSub(y, V2.Y), H23, yTo - y + 1);
            run(lower, yTo);
        }
    }
};

TSource SourceOf(const TBmpMorph& m) {
    return {m.Rows().data(), uint32_t(m.Width()), uint32_t(m.Height()), m.PitchWords()};
}

TSpanContext SpanContext(const TBmpMorph& Dest, const TBmpMorph& Start, const TBmpMorph& End, int32_t p) {
    TSpanContext c{SourceOf(Start), SourceOf(End), Dest.Rows().data(), Dest.Width(), p, p >= 0 && p <= 256,
                   TSpanLoop::Plain};
    // The wide loops sample several pixels before writing any, so a destination that is
    // also a source (where a pixel may sample one written just before) takes the plain loop.
    if (c.PackedBlend && c.Start.PitchWords >= 0 && c.End.PitchWords >= 0 && Start.Graphic() != Dest.Graphic() &&
        End.Graphic() != Dest.Graphic())
        c.Loop = ActiveSpanLoop();
    return c;
}

}  // namespace

void TBmpMorph::MorphTriangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3,
                              int32_t Y3, const TBmpMorph& Start, const TBmpMorph& End,
                              int32_t S1x, int32_t S1y, int32_t S2x, int32_t S2y, int32_t S3x,
                              int32_t S3y, int32_t E1x, int32_t E1y, int32_t E2x, int32_t E2y,
                              int32_t E3x, int32_t E3y, int32_t p) {
    // The three rasters were made 32-bit when attached, before their rows were taken.
    if (FRows.empty()) return;  // nothing can be written
    const TPreparedTriangle t(
        {X1, Y1, X2, Y2, X3, Y3, S1x, S1y, S2x, S2y, S3x, S3y, E1x, E1y, E2x, E2y, E3x, E3y}, FHeight);
    const TSpanContext c = SpanContext(*this, Start, End, p);
    t.DrawRows(c, t.YFirst, t.YLast);
}

void TBmpMorph::FillRows(int32_t First, int32_t Last, uint32_t Pixel) const {
    for (int32_t y = std::max(First, 0); y < std::min(Last, FHeight); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(FRows[size_t(y)]);
        std::fill(row, row + FWidth, Pixel);
    }
}

void TBmpMorph::MorphTriangles(const TMorphTriangleCoords* Triangles, size_t Count, const TBmpMorph& Start,
                               const TBmpMorph& End, int32_t p, const uint32_t* Background) {
    if (FRows.empty()) return;
    const TSpanContext c = SpanContext(*this, Start, End, p);
    std::vector<TPreparedTriangle> prepared;
    prepared.reserve(Count);
    for (size_t k = 0; k < Count; ++k) {
        const TPreparedTriangle t(Triangles[k], FHeight);
        if (t.YFirst <= t.YLast) prepared.push_back(t);
    }
    // Each band draws the triangles in their order, each top to bottom, on its own rows
    // only: every row sees the same writes in the same order as a single-thread render.
    // Drawing a band in picture row order across triangles was measured slower (the
    // processor's prefetching follows a triangle's rows better).
    auto band = [&](int32_t first, int32_t last) {
        if (Background) FillRows(first, last, *Background);
        for (const TPreparedTriangle& t : prepared)
            t.DrawRows(c, std::max(t.YFirst, first), std::min(t.YLast, last - 1));
    };
    // A destination that is also a source may sample rows another band writes: one band.
    if (Start.Graphic() == FGraphic || End.Graphic() == FGraphic)
        band(0, FHeight);
    else
        ParallelBands(FHeight, band);
}

}  // namespace qv
