#pragma once
// Pixel accessor over one 32-bit raster and the triangle warp with cross-dissolve.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "framework/Graphics.h"

namespace qv {

// Mesh and pixel arithmetic is 32-bit two's complement that wraps on overflow, with
// division truncating toward zero. C++ leaves signed overflow undefined, so these do the
// wrapping explicitly; every caller of the warp gets the same result on any input.
inline int32_t WrapAdd(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t WrapSub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
inline int32_t WrapMul(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }
// Truncating division; the one quotient that does not fit (INT32_MIN / -1) wraps to
// INT32_MIN instead of trapping. b must not be 0.
inline int32_t WrapDiv(int32_t a, int32_t b) { return b == -1 ? WrapSub(0, a) : a / b; }

// (B - A) x t div H + A in that arithmetic: a triangle edge from A to B at row t of H.
inline int32_t WrapLerp(int32_t A, int32_t B, int32_t t, int32_t H) {
    return WrapAdd(WrapDiv(WrapMul(WrapSub(B, A), t), H), A);
}

// Puts a triangle's vertices (anything with X and Y) in row order and gives its edges'
// heights, a flat edge counting 1; returns whether the long edge V1-V3 passes left of V2.
// Strict comparisons: vertices on one row keep their order. The exact and the smooth warp
// both start from this, so they cover the same pixels.
template <class TV>
bool OrderTriangle(TV& V1, TV& V2, TV& V3, int32_t& H12, int32_t& H13, int32_t& H23) {
    if (V2.Y < V1.Y) std::swap(V1, V2);
    if (V3.Y < V1.Y) std::swap(V1, V3);
    if (V3.Y < V2.Y) std::swap(V2, V3);
    H12 = WrapSub(V2.Y, V1.Y);
    H13 = WrapSub(V3.Y, V1.Y);
    H23 = WrapSub(V3.Y, V2.Y);
    if (H12 == 0) H12 = 1;
    if (H13 == 0) H13 = 1;
    if (H23 == 0) H23 = 1;
    // The long edge's x at row Y2 decides on which side it lies.
    return WrapLerp(V1.X, V3.X, H12, H13) < V2.X;
}

// Packed colour: red in bits 0-7, green 8-15, blue 16-23, the pixel's fourth byte 24-31.
// Each colour field becomes (S * (256 - p) + E * p) shr 8; the fourth byte of the result
// is 0. For a position outside 0 .. 256 each field keeps its low 8 bits.
uint32_t BlendColors(uint32_t S, uint32_t E, int32_t p);

// The span loops of the warp, narrowest first: one pixel per step, four with SSE4.1, eight
// with AVX2. Each gives the same pixels; spans take the widest the processor has, up to
// the one allowed here (the tests and the benchmark force each in turn).
enum class TSpanLoop { Plain, Sse41, Avx2 };
void SetWidestSpanLoop(TSpanLoop widest);
// The loop spans take now: the widest allowed that the processor has.
TSpanLoop ActiveSpanLoop();

// Kept for callers: true allows every loop, false forces the plain one.
void SetWideSpans(bool enabled);
// True when spans take the eight-pixel (AVX2) loop.
bool WideSpans();

// One triangle of the warp: its destination vertices, then the same vertices in the start
// picture and in the end picture.
struct TMorphTriangleCoords {
    int32_t X1, Y1, X2, Y2, X3, Y3;
    int32_t S1x, S1y, S2x, S2y, S3x, S3y;
    int32_t E1x, E1y, E2x, E2y, E3x, E3y;
};

class TBmpMorph {
public:
    TBmpMorph() = default;
    explicit TBmpMorph(TBitmap& G) { Attach(G); }
    TBmpMorph(const TBmpMorph&) = delete;
    TBmpMorph& operator=(const TBmpMorph&) = delete;

    // Makes G 32-bit (before any address is taken) and takes the address of every row.
    // G must keep its size and format while attached.
    void Attach(TBitmap& G);

    TBitmap* Graphic() const { return FGraphic; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // Row addresses taken when attaching, and their common distance in pixels (-1 when the
    // rows are not evenly spaced).
    const std::vector<uint8_t*>& Rows() const { return FRows; }
    int32_t PitchWords() const { return FPitchWords; }

    // 0 outside the raster.
    uint32_t GetPixel(int32_t X, int32_t Y) const;
    // Dropped outside the raster.
    void PutPixel(int32_t X, int32_t Y, uint32_t C);

    // Fills the destination triangle (X1, Y1) (X2, Y2) (X3, Y3) of this raster row by row;
    // every pixel blends a sample of Start taken in triangle S and a sample of End taken in
    // triangle E at position p. Vertex k of the destination matches vertex k of S and E.
    // A sample on x = width or y = height reads the last column or row (the grid's outer
    // edges lie there); samples further outside read black.
    void MorphTriangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3,
                       const TBmpMorph& Start, const TBmpMorph& End,
                       int32_t S1x, int32_t S1y, int32_t S2x, int32_t S2y, int32_t S3x, int32_t S3y,
                       int32_t E1x, int32_t E1y, int32_t E2x, int32_t E2y, int32_t E3x, int32_t E3y,
                       int32_t p);

    // MorphTriangle on each triangle in order (later triangles win where they overlap).
    // Bands of rows are drawn on RenderThreads() threads with the same pixels as one
    // thread gives (a destination that is also a source is drawn on one thread).
    // With Background, every band's rows are first filled with that pixel: a fresh
    // destination needs no pass of its own, and each band is filled where it is drawn.
    void MorphTriangles(const TMorphTriangleCoords* Triangles, size_t Count, const TBmpMorph& Start,
                        const TBmpMorph& End, int32_t p, const uint32_t* Background = nullptr);

    // Sets every pixel of rows First .. Last - 1 to Pixel.
    void FillRows(int32_t First, int32_t Last, uint32_t Pixel) const;

private:
    TBitmap* FGraphic = nullptr;
    std::vector<uint8_t*> FRows;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    // Distance of consecutive rows in pixels when every row follows the previous one at
    // the same distance (then a pixel is found from the first row without the table), else -1.
    int32_t FPitchWords = -1;
};

}  // namespace qv
