#pragma once
// The smooth (bilinear) warp: the same triangles and the same pixels as the exact warp, but
// each pixel samples both pictures at its true sub-pixel position and blends the four
// nearest pixels, so shrunk or turned regions get no stair steps and a video no shimmer.
#include <cstddef>
#include <cstdint>

#include "framework/Graphics.h"
#include "morph/UBmpMorph.h"

namespace qv {

class TMorphGrid;

// Draws the triangles in order (later ones win where they overlap), each row inside
// yBegin .. yEnd - 1 only, so that bands of rows can be drawn independently. Every pixel
// blends a bilinear sample of Start and one of End at colour position p (as the exact
// warp blends). A sample whose nearest pixel lies outside its picture is 0, as in the
// exact warp; a position on the far border (x = width, y = height) reads the last
// column or row. Uses eight-pixel steps when WideSpans() allows, with the same result.
void SmoothMorphTriangles(const TBmpMorph& Dest, const TMorphTriangleCoords* Triangles, size_t Count,
                          const TBmpMorph& Start, const TBmpMorph& End, int32_t p, int32_t yBegin,
                          int32_t yEnd);

// Renders the grid's in-between picture into Dest (made 32-bit) with the mesh at
// ShapePosition and the dissolve at ColourPosition (both 0 = start .. 256 = end); Smooth
// chooses bilinear sampling. Pixels outside every triangle keep their contents. With
// equal positions and exact sampling this is RenderMorph itself. Leaves the grid's
// MorphMesh at ShapePosition. Background: see TBmpMorph::MorphTriangles.
void RenderMorphSplit(TMorphGrid& Grid, TBitmap& Dest, int32_t ShapePosition, int32_t ColourPosition,
                      bool Smooth, const uint32_t* Background = nullptr);

}  // namespace qv
