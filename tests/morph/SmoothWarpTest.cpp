#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <random>

#include "morph/MorphTestSupport.h"
#include "morph/ParallelBands.h"
#include "morph/SmoothWarp.h"
#include "morph/UBmpMorph.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using namespace testing;  // the shared morph test helpers

constexpr uint32_t kUntouched = 0xFF5A5A5Au;  // written pixels always get a fourth byte of 0

// Runs body with the eight-pixel loop and again with the plain loop.
void WithBothLoops(const std::function<void()>& body) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "eight-pixel loop" : "plain loop");
        SetWideSpans(wide);
        body();
    }
    SetWidestSpanLoop(TSpanLoop::Avx2);  // the default: the widest the processor has
}

std::unique_ptr<TMorphGrid> RandomGrid(int32_t w, int32_t h, int32_t cols, int32_t rows, std::mt19937& rng) {
    auto g = std::make_unique<TMorphGrid>();
    FillRandom(g->StartBmp, w, h, rng);
    FillRandom(g->EndBmp, w, h, rng);
    g->SetPictureSize({w, h});
    g->SetGridSize({cols, rows});
    return g;
}

int32_t Range(std::mt19937& rng, int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }

// The eight-pixel loop against the plain one, triangle by triangle, on sizes that are
// multiples of nothing, ordinary, sliver, flat, far-away and wrapping coordinates.
TEST(SmoothWarpTest, EightPixelLoopMatchesThePlainLoop) {
    std::mt19937 rng(2026);
    for (int iter = 0; iter < 1500; ++iter) {
        const int kind = iter % 6;
        TBitmap start, end, dest;
        FillRandom(start, Range(rng, 1, 45), Range(rng, 1, 37), rng);
        FillRandom(end, Range(rng, 1, 41), Range(rng, 1, 33), rng);
        FillRandom(dest, Range(rng, 1, 67), Range(rng, 1, 29), rng);
        TMorphTriangleCoords t;
        int32_t* v = &t.X1;
        for (int k = 0; k < 18; ++k) v[k] = Range(rng, -12, 70);
        switch (kind) {
            case 1: t.Y2 = t.Y1; break;                                        // a flat row
            case 2: t.X2 = t.X1 + Range(rng, -1, 1); t.X3 = t.X1; break;       // slivers
            case 3: for (int k = 6; k < 18; ++k) v[k] = Range(rng, -40000, 40000); break;
            case 4: for (int k = 6; k < 18; ++k) v[k] = Range(rng, INT32_MIN, INT32_MAX); break;
            case 5: for (int k = 0; k < 6; ++k) v[k] = Range(rng, -3000, 3000); break;
            default: break;
        }
        const int32_t p = iter % 4 == 0 ? 256 : Range(rng, 0, 256);
        TBitmap other;
        other.Assign(dest);
        TBmpMorph s(start), e(end), d(dest), o(other);
        SetWideSpans(true);
        SmoothMorphTriangles(d, &t, 1, s, e, p, 0, dest.Height());
        SetWideSpans(false);
        SmoothMorphTriangles(o, &t, 1, s, e, p, 0, other.Height());
        SetWideSpans(true);
        ASSERT_EQ(Snapshot(dest), Snapshot(other)) << "iteration " << iter << " kind " << kind;
    }
}

// Pictures wider or taller than 2^15 pixels work out their row offsets another way; at
// both ends of the dissolve.
TEST(SmoothWarpTest, EightPixelLoopMatchesThePlainLoopOnLongPictures) {
    std::mt19937 rng(33000);
    TBitmap start, end;
    FillRandom(start, 33000, 6, rng);
    FillRandom(end, 6, 33000, rng);
    TBmpMorph s(start), e(end);
    for (int iter = 0; iter < 200; ++iter) {
        TBitmap dest, other;
        FillRandom(dest, 40, 24, rng);
        other.Assign(dest);
        TMorphTriangleCoords t;
        int32_t* v = &t.X1;
        for (int k = 0; k < 6; ++k) v[k] = Range(rng, -5, 45);
        for (int k = 0; k < 3; ++k) {
            v[6 + 2 * k] = Range(rng, 32700, 33010);  // start x
            v[7 + 2 * k] = Range(rng, -1, 6);         // start y
            v[12 + 2 * k] = Range(rng, -1, 6);        // end x
            v[13 + 2 * k] = Range(rng, 32700, 33010);  // end y
        }
        // The two ends sample one picture only.
        const int32_t p = iter % 3 == 0 ? 0 : iter % 3 == 1 ? 256 : Range(rng, 1, 255);
        TBmpMorph d(dest), o(other);
        SetWideSpans(true);
        SmoothMorphTriangles(d, &t, 1, s, e, p, 0, dest.Height());
        SetWideSpans(false);
        SmoothMorphTriangles(o, &t, 1, s, e, p, 0, other.Height());
        SetWideSpans(true);
        ASSERT_EQ(Snapshot(dest), Snapshot(other)) << "iteration " << iter;
    }
}

// Positions that fall on whole pixels read exactly those pixels: with all three meshes
// equal, the smooth render is the exact one, byte for byte; and it writes the same pixels
// as the exact warp on any mesh.
TEST(SmoothWarpTest, WholePixelPositionsAndCoverageMatchTheExactWarp) {
    WithBothLoops([] {
        std::mt19937 rng(7);
        for (int iter = 0; iter < 60; ++iter) {
            const int32_t w = Range(rng, 2, 71), h = Range(rng, 2, 53);
            auto g = RandomGrid(w, h, Range(rng, 2, 9), Range(rng, 2, 9), rng);
            const bool moved = iter % 2 == 1;
            if (moved)
                for (int32_t i = 0; i < g->Cols; ++i)
                    for (int32_t j = 0; j < g->Rows; ++j)
                        for (TMesh* m : {&g->StartMesh, &g->EndMesh}) {
                            (*m)[size_t(i)][size_t(j)].X += Range(rng, -6, 6);
                            (*m)[size_t(i)][size_t(j)].Y += Range(rng, -6, 6);
                        }
            const int32_t p = Range(rng, 0, 256);
            TBitmap exact, smooth;
            FillWith(exact, w, h, kUntouched);
            FillWith(smooth, w, h, kUntouched);
            g->RenderMorph(exact, p);
            RenderMorphSplit(*g, smooth, p, p, true);
            // Bands on several threads give what one thread gives.
            TBitmap single;
            FillWith(single, w, h, kUntouched);
            SetRenderThreads(1);
            RenderMorphSplit(*g, single, p, p, true);
            SetRenderThreads(0);
            ASSERT_EQ(Snapshot(single), Snapshot(smooth)) << "iteration " << iter;
            if (!moved) {
                ASSERT_EQ(Snapshot(exact), Snapshot(smooth)) << "iteration " << iter;
            } else {
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x)
                        ASSERT_EQ(Word(exact, x, y) == kUntouched, Word(smooth, x, y) == kUntouched)
                            << "iteration " << iter << " at " << x << "," << y;
            }
        }
    });
}

// A picture drawn twice as large: even pixels are its pixels, odd ones the rounded mean of
// their two neighbours; a shift by whole pixels reads the last column up to the far border
// (x = width) and nothing beyond.
TEST(SmoothWarpTest, MagnifiedAndShiftedPicturesSampleTheRightPixels) {
    WithBothLoops([] {
        std::mt19937 rng(3);
        auto g = RandomGrid(19, 13, 2, 2, rng);
        g->StartMesh[1][0] = {19, 0};
        g->StartMesh[0][1] = {0, 13};
        g->StartMesh[1][1] = {19, 13};
        for (auto [i, j, x, y] : {std::array{1, 0, 38, 0}, {0, 1, 0, 26}, {1, 1, 38, 26}})
            g->EndMesh[size_t(i)][size_t(j)] = {x, y};
        TBitmap big;
        FillWith(big, 38, 26, kUntouched);
        RenderMorphSplit(*g, big, 256, 0, true);  // the start picture on the end mesh
        for (int32_t y = 0; y < 24; y += 2)
            for (int32_t x = 0; x < 36; ++x) {
                const uint32_t a = Word(g->StartBmp, x / 2, y / 2), b = Word(g->StartBmp, x / 2 + 1, y / 2);
                uint32_t want = 0;
                for (int shift = 0; shift < 24; shift += 8)
                    want |= ((((a >> shift) & 255) * 128 + ((b >> shift) & 255) * 128 + 128) >> 8) << shift;
                if (x % 2 == 0) want = a & 0x00FFFFFFu;
                ASSERT_EQ(Word(big, x, y), want) << x << "," << y;
            }

        for (int32_t shift : {1, 2}) {
            auto s = RandomGrid(23, 9, 2, 2, rng);
            for (size_t i = 0; i < 2; ++i)
                for (size_t j = 0; j < 2; ++j) s->StartMesh[i][j].X += shift;
            TBitmap out;
            FillWith(out, 23, 9, kUntouched);
            RenderMorphSplit(*s, out, 256, 0, true);
            for (int32_t y = 0; y < 8; ++y)
                for (int32_t x = 0; x < 23; ++x) {
                    const int32_t from = x + shift;
                    const uint32_t want =
                        from <= 23 ? Word(s->StartBmp, std::min(from, 22), y) & 0x00FFFFFFu : 0u;
                    ASSERT_EQ(Word(out, x, y), want) << "shift " << shift << " at " << x << "," << y;
                }
        }
    });
}

// Split positions: the shape position moves the mesh only (an unmoved mesh renders the
// same at any shape position), the colour position weighs the two samples only (a render
// is the blend of the renders at colour positions 0 and 256), with either sampling.
TEST(SmoothWarpTest, ShapeAndColourPositionsActIndependently) {
    std::mt19937 rng(11);
    for (int iter = 0; iter < 20; ++iter) {
        const int32_t w = Range(rng, 8, 60), h = Range(rng, 8, 40);
        auto g = RandomGrid(w, h, 4, 4, rng);
        const int32_t shape = Range(rng, 0, 256), colour = Range(rng, 0, 256);
        const bool smooth = iter % 4 >= 2;
        auto render = [&](int32_t s, int32_t c) {
            TBitmap out;
            FillWith(out, w, h, kUntouched);
            RenderMorphSplit(*g, out, s, c, smooth);
            return Snapshot(out);
        };
        if (iter % 2 == 0) {
            ASSERT_EQ(render(shape, colour), render(256 - shape, colour)) << "iteration " << iter;
            continue;
        }
        g->StartMesh[1][2] = {Range(rng, 0, w), Range(rng, 0, h)};
        g->EndMesh[2][1] = {Range(rng, 0, w), Range(rng, 0, h)};
        const auto first = render(shape, 0), last = render(shape, 256), mixed = render(shape, colour);
        for (size_t k = 0; k < mixed.size(); ++k) {
            const uint32_t want = first[k] == kUntouched ? kUntouched : BlendColors(first[k], last[k], colour);
            ASSERT_EQ(mixed[k], want) << "iteration " << iter << " pixel " << k;
        }
    }
}

}  // namespace
}  // namespace qv
