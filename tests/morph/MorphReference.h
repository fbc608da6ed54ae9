#pragma once
// A plain, slow transcription of the triangle warp: one accessor call per pixel read and
// write, four divisions per pixel, 32-bit arithmetic that wraps. The differential test
// holds the production render to it pixel for pixel, and the benchmark measures against it.
// It shares no code with the engine beyond the framework raster and the grid's fields.
#include <cstdint>
#include <utility>
#include <vector>

#include "framework/Graphics.h"
#include "morph/UMorph.h"

namespace qv::reference {

inline int32_t Wrap(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }
inline int32_t Add(int32_t a, int32_t b) { return Wrap(int64_t(a) + b); }
inline int32_t Sub(int32_t a, int32_t b) { return Wrap(int64_t(a) - b); }
inline int32_t Mul(int32_t a, int32_t b) { return Wrap(int64_t(a) * b); }
inline int32_t Div(int32_t a, int32_t b) { return Wrap(int64_t(a) / b); }

class Accessor {
public:
    explicit Accessor(TBitmap& g) {
        g.SetPixelFormat(pf32bit);
        W = g.Width();
        H = g.Height();
        if (W > 0 && H > 0)
            for (int32_t y = 0; y < H; ++y) Rows.push_back(g.ScanLine(y));
        else
            W = H = 0;
    }
    uint32_t GetPixel(int32_t x, int32_t y) const {
        if (y < 0 || y >= H || x < 0 || x >= W) return 0;
        const uint8_t* b = Rows[size_t(y)] + size_t(x) * 4;
        return uint32_t(b[0]) * 65536 + uint32_t(b[1]) * 256 + uint32_t(b[2]) + uint32_t(b[3]) * 16777216;
    }
    // A warp sample: on x = width or y = height (the grid's outer edges) it reads the last
    // column or row; further outside it reads black.
    uint32_t Sample(int32_t x, int32_t y) const {
        if (W > 0 && x == W) x = W - 1;
        if (H > 0 && y == H) y = H - 1;
        return GetPixel(x, y);
    }
    void PutPixel(int32_t x, int32_t y, uint32_t c) {
        if (y < 0 || y >= H || x < 0 || x >= W) return;
        uint8_t* b = Rows[size_t(y)] + size_t(x) * 4;
        b[0] = uint8_t(c >> 16);
        b[1] = uint8_t(c >> 8);
        b[2] = uint8_t(c);
        b[3] = uint8_t(c >> 24);
    }

private:
    int32_t W = 0, H = 0;
    std::vector<uint8_t*> Rows;
};

inline uint32_t Blend(uint32_t S, uint32_t E, int32_t p) {
    uint32_t r = 0;
    for (int f = 0; f < 3; ++f) {
        const int64_t s = (S >> (8 * f)) & 255, e = (E >> (8 * f)) & 255;
        const int64_t v = (s * (256 - int64_t(p)) + e * p) >> 8;
        r |= (uint32_t(v) & 255) << (8 * f);
    }
    return r;
}

inline void MorphTriangle(Accessor& dst, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3,
                          int32_t Y3, const Accessor& src, const Accessor& end, int32_t S1x,
                          int32_t S1y, int32_t S2x, int32_t S2y, int32_t S3x, int32_t S3y,
                          int32_t E1x, int32_t E1y, int32_t E2x, int32_t E2y, int32_t E3x,
                          int32_t E3y, int32_t p) {
    auto swapVertex = [&](int a, int b) {
        int32_t* xs[3] = {&X1, &X2, &X3};
        int32_t* ys[3] = {&Y1, &Y2, &Y3};
        int32_t* sxs[3] = {&S1x, &S2x, &S3x};
        int32_t* sys[3] = {&S1y, &S2y, &S3y};
        int32_t* exs[3] = {&E1x, &E2x, &E3x};
        int32_t* eys[3] = {&E1y, &E2y, &E3y};
        std::swap(*xs[a], *xs[b]);
        std::swap(*ys[a], *ys[b]);
        std::swap(*sxs[a], *sxs[b]);
        std::swap(*sys[a], *sys[b]);
        std::swap(*exs[a], *exs[b]);
        std::swap(*eys[a], *eys[b]);
    };
    if (Y2 < Y1) swapVertex(0, 1);
    if (Y3 < Y1) swapVertex(0, 2);
    if (Y3 < Y2) swapVertex(1, 2);

    int32_t H12 = Sub(Y2, Y1), H13 = Sub(Y3, Y1), H23 = Sub(Y3, Y2);
    if (H12 == 0) H12 = 1;
    if (H13 == 0) H13 = 1;
    if (H23 == 0) H23 = 1;
    const int32_t Xm = Add(Div(Mul(Sub(X3, X1), H12), H13), X1);
    const bool longLeft = Xm < X2;

    auto span = [&](int32_t y, int32_t xl, int32_t SLx, int32_t SLy, int32_t ELx, int32_t ELy,
                    int32_t xr, int32_t SRx, int32_t SRy, int32_t ERx, int32_t ERy) {
        int32_t W = Sub(xr, xl);
        if (W == 0) W = 1;
        for (int64_t z = 0;; ++z) {
            const int32_t zz = Wrap(z);
            const int32_t sx = Add(SLx, Div(Mul(Sub(SRx, SLx), zz), W));
            const int32_t sy = Add(SLy, Div(Mul(Sub(SRy, SLy), zz), W));
            const int32_t ex = Add(ELx, Div(Mul(Sub(ERx, ELx), zz), W));
            const int32_t ey = Add(ELy, Div(Mul(Sub(ERy, ELy), zz), W));
            const uint32_t c = Blend(src.Sample(sx, sy), end.Sample(ex, ey), p);
            const int64_t x = int64_t(xl) + z;
            if (x >= INT32_MIN && x <= INT32_MAX) dst.PutPixel(int32_t(x), y, c);
            if (!(int64_t(xl) + z + 1 < xr)) break;
        }
    };
    auto row = [&](int32_t y, bool upper) {
        const int32_t t = Sub(y, Y1), u = Sub(y, Y2);
        const int32_t lx = Add(Div(Mul(Sub(X3, X1), t), H13), X1);
        const int32_t lsx = Add(Div(Mul(Sub(S3x, S1x), t), H13), S1x);
        const int32_t lsy = Add(Div(Mul(Sub(S3y, S1y), t), H13), S1y);
        const int32_t lex = Add(Div(Mul(Sub(E3x, E1x), t), H13), E1x);
        const int32_t ley = Add(Div(Mul(Sub(E3y, E1y), t), H13), E1y);
        int32_t kx, ksx, ksy, kex, key;
        if (upper) {
            kx = Add(Div(Mul(Sub(X2, X1), t), H12), X1);
            ksx = Add(Div(Mul(Sub(S2x, S1x), t), H12), S1x);
            ksy = Add(Div(Mul(Sub(S2y, S1y), t), H12), S1y);
            kex = Add(Div(Mul(Sub(E2x, E1x), t), H12), E1x);
            key = Add(Div(Mul(Sub(E2y, E1y), t), H12), E1y);
        } else {
            kx = Add(Div(Mul(Sub(X3, X2), u), H23), X2);
            ksx = Add(Div(Mul(Sub(S3x, S2x), u), H23), S2x);
            ksy = Add(Div(Mul(Sub(S3y, S2y), u), H23), S2y);
            kex = Add(Div(Mul(Sub(E3x, E2x), u), H23), E2x);
            key = Add(Div(Mul(Sub(E3y, E2y), u), H23), E2y);
        }
        if (longLeft)
            span(y, lx, lsx, lsy, lex, ley, kx, ksx, ksy, kex, key);
        else
            span(y, kx, ksx, ksy, kex, key, lx, lsx, lsy, lex, ley);
    };
    for (int64_t y = Y1; y < Y2; ++y) row(int32_t(y), true);
    for (int64_t y = Y2; y <= Y3; ++y) row(int32_t(y), false);
}

// The whole render: the in-between mesh, then two triangles per cell, row of cells by row.
inline void RenderMorph(TMorphGrid& g, TBitmap& dest, int32_t p) {
    Accessor s(g.StartBmp), e(g.EndBmp), d(dest);
    auto M = [&](int i, int j) {
        const TPoint S = g.StartMesh[size_t(i)][size_t(j)], E = g.EndMesh[size_t(i)][size_t(j)];
        return TPoint{Add(S.X, Div(Mul(p, Sub(E.X, S.X)), 256)), Add(S.Y, Div(Mul(p, Sub(E.Y, S.Y)), 256))};
    };
    auto S = [&](int i, int j) { return g.StartMesh[size_t(i)][size_t(j)]; };
    auto E = [&](int i, int j) { return g.EndMesh[size_t(i)][size_t(j)]; };
    for (int j = 0; j <= g.Rows - 2; ++j)
        for (int i = 0; i <= g.Cols - 2; ++i) {
            MorphTriangle(d, M(i, j).X, M(i, j).Y, M(i + 1, j).X, M(i + 1, j).Y, M(i, j + 1).X,
                          M(i, j + 1).Y, s, e, S(i, j).X, S(i, j).Y, S(i + 1, j).X, S(i + 1, j).Y,
                          S(i, j + 1).X, S(i, j + 1).Y, E(i, j).X, E(i, j).Y, E(i + 1, j).X,
                          E(i + 1, j).Y, E(i, j + 1).X, E(i, j + 1).Y, p);
            MorphTriangle(d, M(i + 1, j).X, M(i + 1, j).Y, M(i + 1, j + 1).X, M(i + 1, j + 1).Y,
                          M(i, j + 1).X, M(i, j + 1).Y, s, e, S(i + 1, j).X, S(i + 1, j).Y,
                          S(i + 1, j + 1).X, S(i + 1, j + 1).Y, S(i, j + 1).X, S(i, j + 1).Y,
                          E(i + 1, j).X, E(i + 1, j).Y, E(i + 1, j + 1).X, E(i + 1, j + 1).Y,
                          E(i, j + 1).X, E(i, j + 1).Y, p);
        }
}

}  // namespace qv::reference
