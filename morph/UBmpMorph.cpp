#include "morph/UBmpMorph.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "morph/Bmp_.h"

namespace qv {

// The span loop reads pixels as native words: B | G << 8 | R << 16 | X << 24.
static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian");

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

// (B - A) x t div H + A, wrapped to 32 bits.
inline int32_t Lerp(int32_t A, int32_t B, int32_t t, int32_t H) {
    return WrapAdd(WrapDiv(WrapMul(WrapSub(B, A), t), H), A);
}

inline TEdgePoint EdgeAt(const TVertex& a, const TVertex& b, int32_t t, int32_t H) {
    return {Lerp(a.X, b.X, t, H), Lerp(a.Sx, b.Sx, t, H), Lerp(a.Sy, b.Sy, t, H),
            Lerp(a.Ex, b.Ex, t, H), Lerp(a.Ey, b.Ey, t, H)};
}

// One sample coordinate along a span: Base + (D x z) div W for z = z0, z0 + 1, ...
// kept as quotient and remainder so that no division is needed per pixel. Valid while
// D x z stays inside 32 bits (then wrapping never happens) and W > 0.
struct TStepper {
    uint32_t Value;  // Base + (D x z) div W, as a wrapped 32-bit value
    uint32_t Rem;    // |D| x z mod W
    uint32_t Inc;    // sign(D) x (|D| div W)
    uint32_t RemInc; // |D| mod W
    uint32_t Carry;  // sign(D)

    void Init(int32_t Base, int32_t D, int64_t z0, uint32_t W) {
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
    inline void Step(uint32_t W) {
        Value += Inc;
        Rem += RemInc;
        if (Rem >= W) {
            Rem -= W;
            Value += Carry;
        }
    }
};

// Read access to a source raster as pixel words; 0 outside.
struct TSource {
    uint8_t* const* Rows;
    uint32_t Width, Height;

    inline uint32_t Word(int32_t x, int32_t y) const {
        if (uint32_t(x) >= Width || uint32_t(y) >= Height) return 0;
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
};

inline uint32_t Blend(const TSpanContext& c, uint32_t s, uint32_t e) {
    if (c.PackedBlend) return BlendWords(s, e, uint32_t(256 - c.Position), uint32_t(c.Position));
    // The per-field rule treats red and blue alike, so it applies to pixel words unchanged.
    return BlendColors(s, e, c.Position);
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

    const int32_t Dsx = WrapSub(R.Sx, L.Sx), Dsy = WrapSub(R.Sy, L.Sy);
    const int32_t Dex = WrapSub(R.Ex, L.Ex), Dey = WrapSub(R.Ey, L.Ey);
    // First written pixel; z counts from the span's left end.
    uint8_t* out = c.DestRows[y] + size_t(xl + z0) * 4;

    const int64_t maxD = std::max({std::abs(int64_t(Dsx)), std::abs(int64_t(Dsy)),
                                   std::abs(int64_t(Dex)), std::abs(int64_t(Dey))});
    if (W > 0 && maxD * z1 <= INT32_MAX) {
        // No product wraps: step quotients and remainders instead of dividing.
        const uint32_t uw = uint32_t(W);
        TStepper sx, sy, ex, ey;
        sx.Init(L.Sx, Dsx, z0, uw);
        sy.Init(L.Sy, Dsy, z0, uw);
        ex.Init(L.Ex, Dex, z0, uw);
        ey.Init(L.Ey, Dey, z0, uw);
        const TSource start = c.Start, end = c.End;
        if (c.PackedBlend) {
            const uint32_t p = uint32_t(c.Position), ip = 256u - p;
            for (int64_t z = z0; z <= z1; ++z) {
                const uint32_t s = start.Word(int32_t(sx.Value), int32_t(sy.Value));
                const uint32_t e = end.Word(int32_t(ex.Value), int32_t(ey.Value));
                Store(out, BlendWords(s, e, ip, p));
                out += 4;
                sx.Step(uw);
                sy.Step(uw);
                ex.Step(uw);
                ey.Step(uw);
            }
        } else {
            for (int64_t z = z0; z <= z1; ++z) {
                const uint32_t s = start.Word(int32_t(sx.Value), int32_t(sy.Value));
                const uint32_t e = end.Word(int32_t(ex.Value), int32_t(ey.Value));
                Store(out, BlendColors(s, e, c.Position));
                out += 4;
                sx.Step(uw);
                sy.Step(uw);
                ex.Step(uw);
                ey.Step(uw);
            }
        }
        return;
    }
    // Products that wrap (sample points far outside the pictures, or a span wider than
    // 2^31): the exact wrapped formula per pixel.
    for (int64_t z = z0; z <= z1; ++z) {
        const int32_t zz = int32_t(uint32_t(uint64_t(z)));
        const int32_t px = WrapAdd(L.Sx, WrapDiv(WrapMul(Dsx, zz), W));
        const int32_t py = WrapAdd(L.Sy, WrapDiv(WrapMul(Dsy, zz), W));
        const int32_t qx = WrapAdd(L.Ex, WrapDiv(WrapMul(Dex, zz), W));
        const int32_t qy = WrapAdd(L.Ey, WrapDiv(WrapMul(Dey, zz), W));
        Store(out, Blend(c, c.Start.Word(px, py), c.End.Word(qx, qy)));
        out += 4;
    }
}

}  // namespace

void TBmpMorph::MorphTriangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3,
                              int32_t Y3, const TBmpMorph& Start, const TBmpMorph& End,
                              int32_t S1x, int32_t S1y, int32_t S2x, int32_t S2y, int32_t S3x,
                              int32_t S3y, int32_t E1x, int32_t E1y, int32_t E2x, int32_t E2y,
                              int32_t E3x, int32_t E3y, int32_t p) {
    // The three rasters were made 32-bit when attached, before their rows were taken.
    if (FRows.empty()) return;  // nothing can be written

    TVertex v1{X1, Y1, S1x, S1y, E1x, E1y};
    TVertex v2{X2, Y2, S2x, S2y, E2x, E2y};
    TVertex v3{X3, Y3, S3x, S3y, E3x, E3y};
    // Strict comparisons: vertices on one row keep their order.
    if (v2.Y < v1.Y) std::swap(v1, v2);
    if (v3.Y < v1.Y) std::swap(v1, v3);
    if (v3.Y < v2.Y) std::swap(v2, v3);

    int32_t H12 = WrapSub(v2.Y, v1.Y);
    int32_t H13 = WrapSub(v3.Y, v1.Y);
    int32_t H23 = WrapSub(v3.Y, v2.Y);
    if (H12 == 0) H12 = 1;
    if (H13 == 0) H13 = 1;
    if (H23 == 0) H23 = 1;
    const int32_t Xm = Lerp(v1.X, v3.X, H12, H13);
    const bool longIsLeft = Xm < v2.X;

    TSpanContext c;
    c.Start = {Start.FRows.data(), uint32_t(Start.FWidth), uint32_t(Start.FHeight)};
    c.End = {End.FRows.data(), uint32_t(End.FWidth), uint32_t(End.FHeight)};
    c.DestRows = FRows.data();
    c.DestWidth = FWidth;
    c.Position = p;
    c.PackedBlend = p >= 0 && p <= 256;

    // Rows outside the destination write nothing, so only the visible ones are visited.
    const int32_t yFirst = std::max<int32_t>(v1.Y, 0);
    const int32_t yLast = std::min<int32_t>(v3.Y, FHeight - 1);
    for (int32_t y = yFirst; y <= yLast; ++y) {
        const int32_t t = WrapSub(y, v1.Y);
        const TEdgePoint longEdge = EdgeAt(v1, v3, t, H13);
        const TEdgePoint shortEdge =
            y < v2.Y ? EdgeAt(v1, v2, t, H12) : EdgeAt(v2, v3, WrapSub(y, v2.Y), H23);
        if (longIsLeft)
            DrawSpan(c, y, longEdge, shortEdge);
        else
            DrawSpan(c, y, shortEdge, longEdge);
    }
}

}  // namespace qv
