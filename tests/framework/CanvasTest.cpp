// GDI drawing rules of the canvas: line end pixels, half-open rectangles, nearest-colour
// stretching, clipping.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace qv {
namespace {

// A white 32-bit raster.
void MakeWhite(TBitmap& bmp, int32_t w, int32_t h, TPixelFormat pf = pf32bit) {
    bmp.SetPixelFormat(pf);
    bmp.SetSize(w, h);
}

// The raster as text, one string per row: '#' for black, '.' for white, '?' otherwise.
std::vector<std::string> Picture(const TBitmap& bmp) {
    std::vector<std::string> rows;
    for (int y = 0; y < bmp.Height(); ++y) {
        std::string row;
        for (int x = 0; x < bmp.Width(); ++x) {
            const TColor c = bmp.PixelColor(x, y);
            row += c == clBlack ? '#' : c == clWhite ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(CanvasLine, LeavesOutTheEndPixel) {
    TBitmap bmp;
    MakeWhite(bmp, 7, 7);
    TCanvas& c = bmp.Canvas();
    c.MoveTo(1, 1);
    c.LineTo(5, 1);  // horizontal
    c.MoveTo(0, 2);
    c.LineTo(0, 6);  // vertical
    c.MoveTo(2, 2);
    c.LineTo(6, 6);  // diagonal
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{
                                ".......",
                                ".####..",
                                "#.#....",
                                "#..#...",
                                "#...#..",
                                "#....#.",
                                ".......",
                            }));
    EXPECT_EQ(c.PenPos(), Point(6, 6));
}

TEST(CanvasLine, SteepAndShallowLinesStepOnePixelPerMainStep) {
    TBitmap bmp;
    MakeWhite(bmp, 6, 6);
    bmp.Canvas().MoveTo(0, 0);
    bmp.Canvas().LineTo(2, 5);
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{
                                "#.....",
                                "#.....",
                                ".#....",
                                ".#....",
                                "..#...",
                                "......",
                            }));
    TBitmap flat;
    MakeWhite(flat, 6, 3);
    flat.Canvas().MoveTo(5, 2);
    flat.Canvas().LineTo(0, 0);  // right to left, upwards
    // Minor steps at round(i * 2 / 5), halves towards the end: 0 0 1 1 2.
    EXPECT_EQ(Picture(flat), (std::vector<std::string>{
                                 ".#....",
                                 "..##..",
                                 "....##",
                             }));
}

TEST(CanvasLine, ReversedLinesLeaveOutTheirOwnEnd) {
    TBitmap bmp;
    MakeWhite(bmp, 5, 5);
    bmp.Canvas().MoveTo(4, 4);
    bmp.Canvas().LineTo(0, 0);
    EXPECT_EQ(bmp.Canvas().Pixel(0, 0), clWhite);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(bmp.Canvas().Pixel(i, i), clBlack) << i;
}

TEST(CanvasLine, PointToItselfAndClearPenDrawNothing) {
    TBitmap bmp;
    MakeWhite(bmp, 4, 4);
    const std::vector<std::string> white = Picture(bmp);
    bmp.Canvas().MoveTo(2, 2);
    bmp.Canvas().LineTo(2, 2);
    EXPECT_EQ(Picture(bmp), white);
    bmp.Canvas().Pen.Style = psClear;
    bmp.Canvas().LineTo(2, 0);
    EXPECT_EQ(Picture(bmp), white);
    EXPECT_EQ(bmp.Canvas().PenPos(), Point(2, 0));
}

TEST(CanvasLine, PenColourAndIndexedTarget) {
    TBitmap bmp;
    MakeWhite(bmp, 4, 1, pf4bit);
    bmp.Canvas().Pen.Color = RGBColor(250, 5, 5);
    bmp.Canvas().MoveTo(0, 0);
    bmp.Canvas().LineTo(2, 0);
    EXPECT_EQ(bmp.PixelColor(0, 0), clRed);  // nearest VGA entry
    EXPECT_EQ(bmp.PixelColor(1, 0), clRed);
    EXPECT_EQ(bmp.PixelColor(2, 0), clWhite);
}

TEST(CanvasLine, ClipsAtNegativeAndHugeCoordinates) {
    TBitmap bmp;
    MakeWhite(bmp, 5, 4);
    bmp.Canvas().MoveTo(-10, 1);
    bmp.Canvas().LineTo(3, 1);
    EXPECT_EQ(Picture(bmp)[1], "###..");
    // A diagonal across the whole coordinate range still lands on the raster's diagonal.
    TBitmap diag;
    MakeWhite(diag, 4, 4);
    diag.Canvas().MoveTo(-2000000000, -2000000000);
    diag.Canvas().LineTo(2000000000, 2000000000);
    EXPECT_EQ(Picture(diag), (std::vector<std::string>{"#...", ".#..", "..#.", "...#"}));
    TBitmap wide;
    MakeWhite(wide, 3, 3);
    wide.Canvas().MoveTo(INT32_MIN, INT32_MAX);
    wide.Canvas().LineTo(INT32_MAX, INT32_MIN);  // passes just above the top-left corner
    wide.Canvas().MoveTo(INT32_MAX, 1);
    wide.Canvas().LineTo(INT32_MIN, 1);
    EXPECT_EQ(Picture(wide), (std::vector<std::string>{"...", "###", "..."}));
}

TEST(CanvasRectangle, OutlinesTheHalfOpenBoxAndFillsTheInside) {
    TBitmap bmp;
    MakeWhite(bmp, 7, 6);
    TCanvas& c = bmp.Canvas();
    c.Brush.Color = clRed;
    c.Rectangle(1, 1, 6, 5);
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{
                                ".......",
                                ".#####.",
                                ".#???#.",
                                ".#???#.",
                                ".#####.",
                                ".......",
                            }));
    EXPECT_EQ(bmp.PixelColor(3, 2), clRed);
}

TEST(CanvasRectangle, SwappedCornersAreNormalised) {
    TBitmap a, b;
    MakeWhite(a, 6, 6);
    MakeWhite(b, 6, 6);
    a.Canvas().Rectangle(1, 1, 5, 4);
    b.Canvas().Rectangle(5, 4, 1, 1);
    EXPECT_EQ(Picture(a), Picture(b));
    EXPECT_EQ(Picture(a)[3], ".####.");
}

TEST(CanvasRectangle, ClearBrushLeavesTheInside) {
    TBitmap bmp;
    MakeWhite(bmp, 5, 5);
    bmp.Canvas().Brush.Color = clBlack;
    bmp.Canvas().FillRect(Rect(0, 0, 5, 5));
    bmp.Canvas().Pen.Color = clWhite;
    bmp.Canvas().Brush.Style = bsClear;
    bmp.Canvas().Rectangle(0, 0, 5, 5);
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{".....", ".###.", ".###.", ".###.", "....."}));
}

TEST(CanvasRectangle, ClippedAtTheEdgesAndEmptyBoxesDrawNothing) {
    TBitmap bmp;
    MakeWhite(bmp, 4, 4);
    bmp.Canvas().Brush.Style = bsClear;
    bmp.Canvas().Rectangle(-5, -5, 3, 3);
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{"..#.", "..#.", "###.", "...."}));
    TBitmap other;
    MakeWhite(other, 4, 4);
    other.Canvas().Rectangle(2, 1, 2, 3);
    other.Canvas().Rectangle(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
    EXPECT_EQ(Picture(other), (std::vector<std::string>{"....", "....", "....", "...."}));
}

TEST(CanvasRectangle, OneByOneBoxIsOnePixel) {
    TBitmap bmp;
    MakeWhite(bmp, 3, 3);
    bmp.Canvas().Rectangle(1, 1, 2, 2);
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{"...", ".#.", "..."}));
}

TEST(CanvasFill, FillRectUsesTheBrushOnTheHalfOpenBox) {
    TBitmap bmp;
    MakeWhite(bmp, 5, 3, pf24bit);
    bmp.Canvas().Brush.Color = clBlack;
    bmp.Canvas().Brush.Style = bsClear;  // FillRect fills whatever the style
    bmp.Canvas().FillRect(Rect(-1, 1, 3, 9));
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{".....", "###..", "###.."}));
    bmp.Canvas().FillRect(Rect(4, 0, 2, 3));  // right before left: nothing
    EXPECT_EQ(Picture(bmp)[0], ".....");
}

// A raster whose pixel x, y has a colour unique to it.
void MakeGradient(TBitmap& bmp, int32_t w, int32_t h) {
    MakeWhite(bmp, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bmp.SetPixelColor(x, y, RGBColor(uint8_t(10 + x), uint8_t(20 + y), 99));
}
TColor GradientColor(int x, int y) { return RGBColor(uint8_t(10 + x), uint8_t(20 + y), 99); }

TEST(CanvasStretch, UpscalingRepeatsPixels) {
    TBitmap src;
    MakeGradient(src, 2, 2);
    TBitmap dst;
    MakeWhite(dst, 4, 4);
    dst.Canvas().StretchDraw(Rect(0, 0, 4, 4), src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.PixelColor(x, y), GradientColor(x / 2, y / 2)) << x << "," << y;
}

TEST(CanvasStretch, DownscalingDropsPixelsWithoutBlending) {
    TBitmap src;
    MakeGradient(src, 4, 6);
    TBitmap dst;
    MakeWhite(dst, 2, 2);
    dst.Canvas().StretchDraw(Rect(0, 0, 2, 2), src);
    EXPECT_EQ(dst.PixelColor(0, 0), GradientColor(0, 0));
    EXPECT_EQ(dst.PixelColor(1, 0), GradientColor(2, 0));
    EXPECT_EQ(dst.PixelColor(0, 1), GradientColor(0, 3));
    EXPECT_EQ(dst.PixelColor(1, 1), GradientColor(2, 3));
}

TEST(CanvasStretch, UnevenRatiosTruncate) {
    TBitmap src;
    MakeGradient(src, 3, 1);
    TBitmap dst;
    MakeWhite(dst, 5, 1);
    dst.Canvas().StretchDraw(Rect(0, 0, 5, 1), src);
    const int expect[5] = {0, 0, 1, 1, 2};  // dx * 3 / 5
    for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.PixelColor(x, 0), GradientColor(expect[x], 0)) << x;
    // Only source colours appear when shrinking 7 -> 3 too.
    TBitmap src7;
    MakeGradient(src7, 7, 1);
    TBitmap dst3;
    MakeWhite(dst3, 3, 1);
    dst3.Canvas().StretchDraw(Rect(0, 0, 3, 1), src7);
    const int expect3[3] = {0, 2, 4};  // dx * 7 / 3
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst3.PixelColor(x, 0), GradientColor(expect3[x], 0)) << x;
}

TEST(CanvasStretch, CopyRectSamplesTheSourceRectangle) {
    TBitmap src;
    MakeGradient(src, 4, 3);
    TBitmap dst;
    MakeWhite(dst, 6, 2);
    const int old = SetStretchBltMode(dst.Canvas().Handle(), COLORONCOLOR);
    EXPECT_EQ(SetStretchBltMode(dst.Canvas().Handle(), COLORONCOLOR), COLORONCOLOR);
    EXPECT_NE(old, COLORONCOLOR);
    dst.Canvas().CopyRect(Rect(1, 0, 5, 2), src.Canvas(), Rect(1, 1, 3, 3));
    EXPECT_EQ(dst.PixelColor(0, 0), clWhite);
    EXPECT_EQ(dst.PixelColor(5, 1), clWhite);
    const int sx[4] = {1, 1, 2, 2};  // 1 + (dx - 1) * 2 / 4
    for (int y = 0; y < 2; ++y)
        for (int x = 1; x < 5; ++x) EXPECT_EQ(dst.PixelColor(x, y), GradientColor(sx[x - 1], 1 + y)) << x << "," << y;
}

TEST(CanvasStretch, EmptyRectanglesCopyNothing) {
    TBitmap src;
    MakeGradient(src, 3, 3);
    TBitmap dst;
    MakeWhite(dst, 3, 3);
    const auto white = Picture(dst);
    dst.Canvas().CopyRect(Rect(0, 0, 3, 3), src.Canvas(), Rect(1, 1, 1, 3));
    dst.Canvas().CopyRect(Rect(0, 0, 0, 3), src.Canvas(), Rect(0, 0, 3, 3));
    dst.Canvas().CopyRect(Rect(3, 3, 0, 0), src.Canvas(), Rect(0, 0, 3, 3));
    TBitmap empty;
    dst.Canvas().StretchDraw(Rect(0, 0, 3, 3), empty);
    EXPECT_EQ(Picture(dst), white);
    // Into an empty raster: nothing to write, no failure.
    empty.Canvas().StretchDraw(Rect(0, 0, 3, 3), src);
    EXPECT_TRUE(empty.Empty());
}

TEST(CanvasStretch, ClipsAtNegativeCoordinatesAndOutsideTheSource) {
    TBitmap src;
    MakeGradient(src, 4, 4);
    TBitmap dst;
    MakeWhite(dst, 4, 4);
    dst.Canvas().StretchDraw(Rect(-2, -2, 2, 2), src);
    EXPECT_EQ(dst.PixelColor(0, 0), GradientColor(2, 2));
    EXPECT_EQ(dst.PixelColor(1, 1), GradientColor(3, 3));
    EXPECT_EQ(dst.PixelColor(2, 2), clWhite);
    // A source rectangle reaching outside the source writes only what it has.
    TBitmap dst2;
    MakeWhite(dst2, 4, 1);
    dst2.Canvas().CopyRect(Rect(0, 0, 4, 1), src.Canvas(), Rect(-2, 0, 2, 1));
    EXPECT_EQ(dst2.PixelColor(0, 0), clWhite);
    EXPECT_EQ(dst2.PixelColor(1, 0), clWhite);
    EXPECT_EQ(dst2.PixelColor(2, 0), GradientColor(0, 0));
    EXPECT_EQ(dst2.PixelColor(3, 0), GradientColor(1, 0));
}

TEST(CanvasDraw, CopiesUnscaledAndClipped) {
    TBitmap src;
    MakeGradient(src, 3, 3);
    TBitmap dst;
    MakeWhite(dst, 4, 4);
    dst.Canvas().Draw(2, -1, src);
    EXPECT_EQ(dst.PixelColor(2, 0), GradientColor(0, 1));
    EXPECT_EQ(dst.PixelColor(3, 1), GradientColor(1, 2));
    EXPECT_EQ(dst.PixelColor(1, 0), clWhite);
    EXPECT_EQ(dst.PixelColor(2, 2), clWhite);
    dst.Canvas().Draw(INT32_MAX, INT32_MAX, src);
    dst.Canvas().Draw(INT32_MIN, 0, src);
    EXPECT_EQ(dst.PixelColor(0, 0), clWhite);
}

TEST(CanvasDraw, ThirtyTwoBitKeepsTheFourthByteOtherFormatsConvert) {
    TBitmap src;
    MakeWhite(src, 2, 1);
    src.ScanLine(0)[3] = 0x55;
    src.ScanLine(0)[7] = 0xAA;
    TBitmap dst;
    MakeWhite(dst, 2, 1);
    dst.Canvas().Draw(0, 0, src);
    EXPECT_EQ(dst.ScanLine(0)[3], 0x55);
    EXPECT_EQ(dst.ScanLine(0)[7], 0xAA);

    TBitmap pal8;
    pal8.SetPixelFormat(pf8bit);
    TLogPalette pal;
    pal.Entries = {{10, 20, 30, 0}, {40, 50, 60, 0}};
    pal8.SetPalette(pal);
    pal8.SetSize(2, 1);
    pal8.ScanLine(0)[0] = 1;
    pal8.ScanLine(0)[1] = 0;
    dst.Canvas().Draw(0, 0, pal8);
    EXPECT_EQ(dst.PixelColor(0, 0), RGBColor(40, 50, 60));
    EXPECT_EQ(dst.PixelColor(1, 0), RGBColor(10, 20, 30));
    EXPECT_EQ(dst.ScanLine(0)[3], 0);

    // Same indexed format, other palette: colours, not indices, carry over.
    TBitmap grey;
    MakeWhite(grey, 2, 1, pf8bit);
    grey.Canvas().Draw(0, 0, pal8);
    EXPECT_EQ(grey.ScanLine(0)[0], 50);  // grey nearest to (40, 50, 60)
    // Bit-packed pictures at an odd offset.
    TBitmap mono;
    MakeWhite(mono, 3, 1, pf1bit);
    mono.SetPixelColor(1, 0, clBlack);
    TBitmap monoDst;
    MakeWhite(monoDst, 10, 1, pf1bit);
    monoDst.Canvas().Draw(5, 0, mono);
    EXPECT_EQ(Picture(monoDst)[0], "......#...");
}

TEST(CanvasDraw, DrawingARasterOntoItselfUsesTheOriginalPixels) {
    TBitmap bmp;
    MakeGradient(bmp, 4, 1);
    bmp.Canvas().Draw(1, 0, bmp);
    EXPECT_EQ(bmp.PixelColor(0, 0), GradientColor(0, 0));
    EXPECT_EQ(bmp.PixelColor(1, 0), GradientColor(0, 0));
    EXPECT_EQ(bmp.PixelColor(2, 0), GradientColor(1, 0));
    EXPECT_EQ(bmp.PixelColor(3, 0), GradientColor(2, 0));
}

TEST(CanvasDraw, DrawingMarksTheTargetChanged) {
    TBitmap src;
    MakeGradient(src, 2, 2);
    TBitmap dst;
    MakeWhite(dst, 2, 2);
    int calls = 0;
    dst.OnChange = [&] { ++calls; };
    dst.Canvas().Draw(0, 0, src);
    dst.Canvas().StretchDraw(Rect(0, 0, 1, 1), src);
    dst.Canvas().CopyRect(Rect(0, 0, 1, 1), src.Canvas(), Rect(0, 0, 1, 1));
    dst.Canvas().MoveTo(0, 0);
    dst.Canvas().LineTo(1, 1);
    dst.Canvas().Rectangle(0, 0, 2, 2);
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(dst.Modified());
}

TEST(CanvasPixel, OutsideReadsBlackAndWritesAreDropped) {
    TBitmap bmp;
    MakeWhite(bmp, 2, 2);
    EXPECT_EQ(bmp.Canvas().Pixel(-1, 0), clBlack);
    EXPECT_EQ(bmp.Canvas().Pixel(2, 0), clBlack);
    bmp.Canvas().SetPixel(2, 2, clRed);
    bmp.Canvas().SetPixel(-1, -1, clRed);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(bmp.Canvas().Pixel(x, y), clWhite);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(CanvasRectangle, ClearPenFillsOnePixelLessRightAndBottom) {
    TBitmap bmp;
    MakeWhite(bmp, 5, 4);
    bmp.Canvas().Pen.Style = psClear;
    bmp.Canvas().Brush.Color = clBlack;
    bmp.Canvas().Rectangle(1, 0, 4, 4);
    EXPECT_EQ(Picture(bmp), (std::vector<std::string>{".##..", ".##..", ".##..", "....."}));
}

TEST(CanvasRectangle, BitPackedRastersAreDrawnPixelByPixel) {
    for (TPixelFormat pf : {pf1bit, pf4bit}) {
        TBitmap bmp;
        MakeWhite(bmp, 11, 3, pf);
        bmp.Canvas().Brush.Color = clBlack;
        bmp.Canvas().Rectangle(3, 0, 10, 3);
        EXPECT_EQ(Picture(bmp), (std::vector<std::string>{"...#######.", "...#######.", "...#######."}))
            << PixelFormatName(pf);
    }
}

TEST(CanvasStretch, IntoAnIndexedRasterTakesNearestEntries) {
    TBitmap src;
    MakeWhite(src, 2, 1);
    src.SetPixelColor(0, 0, RGBColor(0, 0, 120));
    src.SetPixelColor(1, 0, RGBColor(250, 250, 0));
    TBitmap dst;
    MakeWhite(dst, 4, 1, pf4bit);
    dst.Canvas().StretchDraw(Rect(0, 0, 4, 1), src);
    EXPECT_EQ(dst.ScanLine(0)[0], 0x44);  // navy twice
    EXPECT_EQ(dst.ScanLine(0)[1], 0xBB);  // yellow twice
}

}  // namespace
}  // namespace qv
