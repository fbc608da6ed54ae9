#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

#include "framework/System.h"
#include "morph/MorphReference.h"
#include "morph/ParallelBands.h"
#include "morph/MorphTestSupport.h"
#include "morph/UBmpMorph.h"
#include "morph/UMorph.h"
#include "morph/WarpSpans.h"

namespace qv {
namespace {

using namespace testing;  // the shared morph test helpers

constexpr uint32_t kSentinel = 0x5A5A5A5Au;

// Runs a check on every drawing path: eight-pixel spans, four-pixel spans (each where the
// processor has them) and the plain loop, each on one thread and on several, restoring the
// settings afterwards. Single triangles are always drawn on the calling thread: they pass {1}.
template <class F>
void WithEveryPath(F check, std::initializer_list<int32_t> threadCounts = {1, 3}) {
    struct Restore {
        ~Restore() {
            SetWidestSpanLoop(TSpanLoop::Avx2);
            SetRenderThreads(0);
        }
    } restore;
    for (TSpanLoop widest : {TSpanLoop::Avx2, TSpanLoop::Sse41, TSpanLoop::Plain})
        for (int32_t threads : threadCounts) {
            SetWidestSpanLoop(widest);
            SetRenderThreads(threads);
            const char* names[] = {"plain spans, ", "four-pixel spans, ", "eight-pixel spans, "};
            SCOPED_TRACE(names[int(ActiveSpanLoop())] + std::to_string(threads) + " threads");
            check();
        }
}

TEST(BmpMorphTest, PackedColourHasRedLowestAndTheFourthByteOnTop) {
    TBitmap b;
    FillWith(b, 2, 2, 0);
    SetWord(b, 1, 0, 0x04030201u);  // bytes B=1, G=2, R=3, fourth=4
    TBmpMorph a(b);
    EXPECT_EQ(a.GetPixel(1, 0), 0x04010203u);
    a.PutPixel(0, 1, 0x80112233u);
    EXPECT_EQ(Word(b, 0, 1), 0x80332211u);
    EXPECT_EQ(a.GetPixel(0, 1), 0x80112233u);

    for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 2}, {INT32_MIN, INT32_MAX}}) {
        EXPECT_EQ(a.GetPixel(x, y), 0u);
        a.PutPixel(x, y, 0xFFFFFFFFu);
    }
    EXPECT_EQ(Snapshot(b), (std::vector<uint32_t>{0, 0x04030201u, 0x80332211u, 0}));
}

TEST(BmpMorphTest, BlendWeighsEachFieldAndDropsTheFourthByte) {
    EXPECT_EQ(BlendColors(200, 100, 128), 150u);
    EXPECT_EQ(BlendColors(0x000000u, 0xFFFFFFu, 255), 0xFEFEFEu);
    EXPECT_EQ(BlendColors(0xFF123456u, 0x7F654321u, 0), 0x123456u);
    EXPECT_EQ(BlendColors(0xFF123456u, 0x7F654321u, 256), 0x654321u);
    // Fields never carry into each other.
    EXPECT_EQ(BlendColors(0x00FF00FFu, 0x0000FF00u, 128), 0x007F7F7Fu);
}

// Runs one triangle through the engine on a fresh copy of the destination and returns the
// pixels that changed.
std::set<std::pair<int32_t, int32_t>> Written(int32_t w, int32_t h, int32_t X1, int32_t Y1, int32_t X2,
                                              int32_t Y2, int32_t X3, int32_t Y3) {
    TBitmap src, dst;
    FillWith(src, w, h, 0x00FFFFFFu);
    FillWith(dst, w, h, kSentinel);
    TBmpMorph s(src), d(dst);
    d.MorphTriangle(X1, Y1, X2, Y2, X3, Y3, s, s, X1, Y1, X2, Y2, X3, Y3, X1, Y1, X2, Y2, X3, Y3, 0);
    std::set<std::pair<int32_t, int32_t>> out;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (Word(dst, x, y) != kSentinel) out.insert({x, y});
    return out;
}

TEST(BmpMorphTest, FlatTriangleDrawsOnlyItsRowLeftEndIncluded) {
    const auto got = Written(12, 10, 2, 5, 8, 5, 5, 5);
    std::set<std::pair<int32_t, int32_t>> expected;
    for (int32_t x = 2; x < 8; ++x) expected.insert({x, 5});
    EXPECT_EQ(got, expected);
}

TEST(BmpMorphTest, RowWithoutWidthWritesOnePixel) {
    // A vertical line: every row has its left end on its right end.
    auto got = Written(12, 12, 5, 1, 5, 4, 5, 9);
    std::set<std::pair<int32_t, int32_t>> expected;
    for (int32_t y = 1; y <= 9; ++y) expected.insert({5, y});
    EXPECT_EQ(got, expected);
    // A single point.
    got = Written(12, 12, 3, 3, 3, 3, 3, 3);
    EXPECT_EQ(got, (std::set<std::pair<int32_t, int32_t>>{{3, 3}}));
}

std::unique_ptr<TMorphGrid> PatternGrid(int32_t w, int32_t h, int32_t cols, int32_t rows, uint32_t seed) {
    auto g = std::make_unique<TMorphGrid>();
    std::mt19937 rng(seed);
    FillRandom(g->StartBmp, w, h, rng);
    FillRandom(g->EndBmp, w, h, rng);
    g->SetPictureSize({w, h});
    g->SetGridSize({cols, rows});
    return g;
}

TEST(RenderMorphTest, EndPositionsReproduceTheirPictures) {
    auto g = PatternGrid(37, 23, 4, 3, 11);
    for (int32_t p : {0, 256}) {
        TBitmap dest;
        FillWith(dest, 37, 23, kSentinel);
        g->RenderMorph(dest, p);
        const TBitmap& pic = p == 0 ? static_cast<TBitmap&>(g->StartBmp) : g->EndBmp;
        for (int32_t y = 0; y < 23; ++y)
            for (int32_t x = 0; x < 37; ++x)
                ASSERT_EQ(Word(dest, x, y), Word(pic, x, y) & 0x00FFFFFFu) << p << " at " << x << "," << y;
    }
}

TEST(RenderMorphTest, LastColumnOnTheWidthFillsToTheEdgeAndDropsTheRowBelow) {
    auto g = PatternGrid(20, 10, 3, 3, 5);  // points at x 0, 10, 20 and y 0, 5, 10
    ASSERT_EQ(g->StartMesh[2][2], (TPoint{20, 10}));
    TBitmap dest;
    FillWith(dest, 20, 10, kSentinel);
    g->RenderMorph(dest, 100);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) ASSERT_NE(Word(dest, x, y), kSentinel) << x << "," << y;
}

TEST(RenderMorphTest, LastColumnOnePixelInsideIsWrittenOnlyOnCellTopRows) {
    auto g = PatternGrid(256, 16, 4, 4, 9);  // x 0, 85, 170, 255; y 0, 5, 10, 15
    ASSERT_EQ(g->StartMesh[3][0].X, 255);
    ASSERT_EQ(g->StartMesh[0][3].Y, 15);
    TBitmap dest;
    FillWith(dest, 256, 16, kSentinel);
    g->RenderMorph(dest, 0);
    std::set<int32_t> rowsWithLastColumn;
    for (int32_t y = 0; y < 16; ++y) {
        if (Word(dest, 255, y) != kSentinel) rowsWithLastColumn.insert(y);
        for (int32_t x = 0; x < 255; ++x) ASSERT_NE(Word(dest, x, y), kSentinel) << x << "," << y;
    }
    EXPECT_EQ(rowsWithLastColumn, (std::set<int32_t>{0, 5, 10}));
}

TEST(RenderMorphTest, SamplesOutsideThePictureReadBlack) {
    auto g = std::make_unique<TMorphGrid>();
    const uint32_t A = 0x11C08040u, B = 0x22306090u;  // pixel words, fourth bytes set
    FillWith(g->StartBmp, 30, 30, A);
    FillWith(g->EndBmp, 30, 30, B);
    g->SetPictureSize({30, 30});
    g->SetGridSize({3, 3});
    g->StartMesh[1][1] = {-500, -500};  // start samples around the centre leave the picture

    TBitmap dest;
    FillWith(dest, 30, 30, kSentinel);
    g->RenderMorph(dest, 128);
    std::map<uint32_t, int> counts;
    for (uint32_t w : Snapshot(dest)) ++counts[w];
    const uint32_t inside = BlendColors(A, B, 128), outside = BlendColors(0, B, 128);
    EXPECT_GT(counts[inside], 0);
    EXPECT_GT(counts[outside], 0);
    // Every written pixel is one of the two; pixels of no triangle keep the sentinel.
    EXPECT_EQ(counts[inside] + counts[outside] + counts[kSentinel], 900);

    // At the end position the start picture has no weight left.
    g->RenderMorph(dest, 256);
    for (uint32_t w : Snapshot(dest)) ASSERT_EQ(w, B & 0x00FFFFFFu);
}

// The grid's right and bottom edges lie on x = width and y = height, one beyond the last
// pixel: a sample exactly there reads the last column or row, one further out reads black.
TEST(RenderMorphTest, SamplesOnTheOuterEdgeReadTheLastColumnOrRow) {
    struct Case {
        int32_t Sx, Sy;
        int32_t ReadX, ReadY;  // -1: black
    };
    const Case cases[] = {
        {10, 3, 9, 3}, {3, 7, 3, 6}, {10, 7, 9, 6},   // on the right, bottom edge, corner
        {11, 3, -1, -1}, {3, 8, -1, -1}, {-1, 3, -1, -1}, {3, -1, -1, -1}, {10, 8, -1, -1},
    };
    std::mt19937 rng(5);
    TBitmap pic;
    FillRandom(pic, 10, 7, rng);
    WithEveryPath([&] {
        for (const Case& k : cases)
            for (int32_t p : {0, 256}) {
                TBitmap dst;
                FillWith(dst, 20, 3, kSentinel);
                TBmpMorph s(pic), d(dst);
                // A flat destination triangle: row 1, columns 0 .. 15, every sample at (Sx, Sy).
                d.MorphTriangle(0, 1, 16, 1, 0, 1, s, s, k.Sx, k.Sy, k.Sx, k.Sy, k.Sx, k.Sy, k.Sx, k.Sy, k.Sx,
                                k.Sy, k.Sx, k.Sy, p);
                const uint32_t want = k.ReadX < 0 ? 0 : Word(pic, k.ReadX, k.ReadY) & 0x00FFFFFFu;
                for (int32_t x = 0; x < 16; ++x)
                    ASSERT_EQ(Word(dst, x, 1), want) << "sample " << k.Sx << "," << k.Sy << " p " << p << " x " << x;
            }
    }, {1});
}

// The demo project rendered half way: pixels on the right edge used to sample the line
// one beyond the picture and came out dark.
TEST(RenderMorphTest, DemoHasNoDarkPixelsOnItsRightEdge) {
    const std::string folder = std::string(QV_TEST_DATA_DIR) + "/../../examples";
    const std::string before = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(folder));
    TMorphGrid g;
    try {
        g.LoadGridFile(folder + "/faces.grid");
    } catch (...) {
        SetCurrentDir(before);
        throw;
    }
    SetCurrentDir(before);
    ASSERT_EQ(g.PictureWidth, 320);
    TBitmap dest, ref;
    FillWith(dest, 320, 320, 0);
    FillWith(ref, 320, 320, 0);
    g.RenderMorph(dest, 128);
    reference::RenderMorph(g, ref, 128);
    EXPECT_EQ(Snapshot(dest), Snapshot(ref));
    // Each pixel of the last column is close to its left neighbour (a sample that read
    // black would be about half as bright).
    for (int32_t y = 0; y < 320; ++y) {
        const uint32_t a = Word(dest, 319, y), b = Word(dest, 318, y);
        for (int shift = 0; shift <= 16; shift += 8)
            ASSERT_LE(std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)), 40) << "row " << y;
    }
}

TEST(RenderMorphTest, DestinationOfAnotherFormatIsMade32BitFirst) {
    auto g = PatternGrid(21, 17, 3, 3, 4);
    g->StartMesh[1][1] = {13, 6};
    TBitmap expected;
    FillWith(expected, 21, 17, 0);
    g->RenderMorph(expected, 90);
    TBitmap dest;
    dest.SetPixelFormat(pf24bit);
    dest.SetWidth(21);
    dest.SetHeight(17);
    g->RenderMorph(dest, 90);
    EXPECT_EQ(dest.PixelFormat(), pf32bit);
    EXPECT_EQ(Snapshot(dest), Snapshot(expected));
}

TEST(RenderMorphTest, HugeTriangleIsClippedToTheDestination) {
    // Forty thousand rows and columns around a 16 x 16 picture, sampled where it is drawn:
    // only the visible part is visited, and it is the picture itself.
    const uint32_t A = 0x7F3C5A96u;
    TBitmap src, dst;
    FillWith(src, 16, 16, A);
    FillWith(dst, 16, 16, kSentinel);
    TBmpMorph s(src), d(dst);
    const int32_t v[6] = {-20000, -20000, 20000, -20000, 0, 20000};
    d.MorphTriangle(v[0], v[1], v[2], v[3], v[4], v[5], s, s, v[0], v[1], v[2], v[3], v[4], v[5], v[0], v[1], v[2],
                    v[3], v[4], v[5], 0);
    for (uint32_t w : Snapshot(dst)) ASSERT_EQ(w, A & 0x00FFFFFFu);
}

// ---- Differential: the engine against the plain transcription ------------------------

struct RandomCoords {
    std::mt19937& rng;
    int32_t Range(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
};

TEST(RenderMorphDifferentialTest, TrianglesMatchTheTranscriptionPixelForPixel) {
    WithEveryPath([] {
    std::mt19937 rng(20240607);
    RandomCoords r{rng};
    for (int iter = 0; iter < 3000; ++iter) {
        const int kind = iter % 9;
        const int32_t dw = r.Range(1, 48), dh = r.Range(1, 40);
        TBitmap start, end, a, b;
        FillRandom(start, r.Range(0, 3) == 0 ? 0 : r.Range(1, 40), r.Range(1, 40), rng);
        FillRandom(end, r.Range(1, 40), r.Range(0, 3) == 0 ? 0 : r.Range(1, 40), rng);
        FillRandom(a, dw, dh, rng);
        b.Assign(a);

        int32_t d[6], s[6], e[6];
        auto fill = [&](int32_t* v, int32_t lo, int32_t hi) {
            for (int k = 0; k < 6; ++k) v[k] = r.Range(lo, hi);
        };
        fill(d, -10, 55);
        fill(s, -10, 50);
        fill(e, -10, 50);
        switch (kind) {
            case 0: break;                                  // ordinary, partly outside
            case 1: d[3] = d[1]; if (iter % 16 == 1) d[5] = d[1]; break;  // flat rows
            case 2: d[2] = d[0] + r.Range(-1, 1); d[4] = d[0] + r.Range(-1, 1); break;  // one-pixel spans
            case 3: fill(d, -200, 250); break;              // mostly outside
            case 4: fill(s, -1000000000, 1000000000); fill(e, -30000, 30000); break;  // products wrap
            case 5: fill(s, INT32_MIN, INT32_MAX); fill(e, INT32_MIN, INT32_MAX); break;
            case 6: {  // long rows: wide, shallow, huge x within 32-bit products
                for (int k = 0; k < 6; k += 2) d[k] = r.Range(-3000, 3000);
                for (int k = 1; k < 6; k += 2) d[k] = r.Range(-3, 15);
                break;
            }
            case 8: fill(s, -5000000, 5000000); fill(e, -5000000, 5000000); break;  // large, no wrap
            case 7: {  // tall, narrow, far above and below
                for (int k = 1; k < 6; k += 2) d[k] = r.Range(-5000, 5000);
                for (int k = 0; k < 6; k += 2) d[k] = r.Range(-5, 50);
                fill(s, -40000, 40000);
                break;
            }
        }
        int32_t p;
        switch (iter % 5) {
            case 0: p = 0; break;
            case 1: p = 256; break;
            case 2: p = r.Range(0, 256); break;
            case 3: p = 255; break;
            default: p = iter % 50 == 4 ? r.Range(-100000, 100000) : 128; break;
        }

        TBmpMorph ps(start), pe(end), pd(a);
        pd.MorphTriangle(d[0], d[1], d[2], d[3], d[4], d[5], ps, pe, s[0], s[1], s[2], s[3], s[4], s[5],
                         e[0], e[1], e[2], e[3], e[4], e[5], p);
        reference::Accessor rs(start), re(end), rd(b);
        reference::MorphTriangle(rd, d[0], d[1], d[2], d[3], d[4], d[5], rs, re, s[0], s[1], s[2], s[3],
                                 s[4], s[5], e[0], e[1], e[2], e[3], e[4], e[5], p);
        ASSERT_EQ(Snapshot(a), Snapshot(b))
            << "iteration " << iter << " kind " << kind << " p " << p << " dest " << d[0] << "," << d[1]
            << " " << d[2] << "," << d[3] << " " << d[4] << "," << d[5];
    }
    }, {1});
}

// The fixed-point lines that spans and edges step on, against the formula, up to the last
// step at which they are still taken as exact. Random meshes seldom come near that limit:
// here the sample coordinates move by up to 2^21 over rows and spans thousands of pixels
// long (z never passes W: a span ends at its width, an edge at its height).
TEST(RenderMorphDifferentialTest, FixedPointLinesAreExactUpToTheirLimit) {
    std::mt19937 rng(40);
    RandomCoords r{rng};
    const int32_t limit = int32_t(spans::kFixedLimit);
    for (int iter = 0; iter < 3000; ++iter) {
        const int32_t W = iter % 4 == 0 ? 1 << r.Range(10, 16) : r.Range(800, 200000);
        // Far enough that the limit falls inside the span: |D| x W x W > 2^40.
        const int32_t least = int32_t(std::min<int64_t>(limit, (spans::kOne / W) / W + 1));
        const int32_t D = r.Range(least, limit) * (iter % 2 ? -1 : 1);
        const int32_t base = r.Range(-limit, limit);
        const int64_t reciprocal = spans::Reciprocal(W);
        int64_t lo = 0, hi = W;  // the last z still taken as exact
        while (lo < hi) {
            const int64_t mid = (lo + hi + 1) / 2;
            if (spans::FixedLineExact(std::abs(int64_t(D)), std::abs(int64_t(base)), mid, W, reciprocal))
                lo = mid;
            else
                hi = mid - 1;
        }
        const int64_t first = std::max<int64_t>(0, lo - 3000);
        spans::TFixedLine line(base, D, first, reciprocal);
        for (int64_t z = first; z <= lo; ++z, line.Step())
            ASSERT_EQ(line.Get(), base + int64_t(D) * z / W) << "D " << D << " W " << W << " z " << z;
    }
}

// Coordinates beyond two million pixels take the remainder stepping; a very wide picture
// makes those samples land inside it, so every one of them is checked.
TEST(RenderMorphDifferentialTest, SamplesFarRightInAWidePictureMatch) {
    std::mt19937 rng(99);
    RandomCoords r{rng};
    TBitmap wide, end;
    FillRandom(wide, 2500000, 2, rng);
    FillRandom(end, 30, 30, rng);
    WithEveryPath([&] {
        for (int iter = 0; iter < 300; ++iter) {
            TBitmap a, b;
            FillRandom(a, 48, 8, rng);
            b.Assign(a);
            int32_t d[6], s[6], e[6];
            for (int k = 0; k < 6; k += 2) {
                d[k] = r.Range(-5, 52);
                d[k + 1] = r.Range(-2, 9);
                s[k] = r.Range(2100000, 2499999);
                s[k + 1] = r.Range(-1, 2);
                e[k] = r.Range(-5, 35);
                e[k + 1] = r.Range(-5, 35);
            }
            const int32_t p = r.Range(0, 256);
            TBmpMorph ps(wide), pe(end), pd(a);
            pd.MorphTriangle(d[0], d[1], d[2], d[3], d[4], d[5], ps, pe, s[0], s[1], s[2], s[3], s[4], s[5],
                             e[0], e[1], e[2], e[3], e[4], e[5], p);
            reference::Accessor rs(wide), re(end), rd(b);
            reference::MorphTriangle(rd, d[0], d[1], d[2], d[3], d[4], d[5], rs, re, s[0], s[1], s[2], s[3],
                                     s[4], s[5], e[0], e[1], e[2], e[3], e[4], e[5], p);
            ASSERT_EQ(Snapshot(a), Snapshot(b)) << "iteration " << iter;
        }
    }, {1});
}

// A pixel may sample one written a moment before when the destination is also a source:
// the result must still be the one-pixel-at-a-time result.
TEST(RenderMorphDifferentialTest, RenderingOntoItsOwnPictureMatches) {
    WithEveryPath([] {
        for (uint32_t seed = 0; seed < 40; ++seed) {
            std::unique_ptr<TMorphGrid> grids[2];
            for (auto& g : grids) {
                g = PatternGrid(50, 40, 4, 4, seed);
                std::mt19937 rng(seed);
                for (size_t i = 1; i < 3; ++i)
                    for (size_t j = 1; j < 3; ++j) {
                        g->StartMesh[i][j].X += int32_t(rng() % 21) - 10;
                        g->EndMesh[i][j].Y += int32_t(rng() % 21) - 10;
                    }
            }
            const int32_t p = int32_t(seed * 7 % 257);
            TBitmap& own = seed % 2 ? static_cast<TBitmap&>(grids[0]->StartBmp) : grids[0]->EndBmp;
            TBitmap& ownRef = seed % 2 ? static_cast<TBitmap&>(grids[1]->StartBmp) : grids[1]->EndBmp;
            grids[0]->RenderMorph(own, p);
            reference::RenderMorph(*grids[1], ownRef, p);
            ASSERT_EQ(Snapshot(own), Snapshot(ownRef)) << "seed " << seed;
        }
    });
}

TEST(RenderMorphDifferentialTest, WholeMeshesMatchTheTranscription) {
    WithEveryPath([] {
    std::mt19937 rng(77);
    RandomCoords r{rng};
    for (int iter = 0; iter < 400; ++iter) {
        const int32_t w = r.Range(1, 60), h = r.Range(1, 50);
        auto g = PatternGrid(w, h, r.Range(2, 9), r.Range(2, 9), uint32_t(iter));
        const int style = iter % 4;
        for (int32_t i = 0; i < g->Cols; ++i)
            for (int32_t j = 0; j < g->Rows; ++j)
                for (TMesh* m : {&g->StartMesh, &g->EndMesh}) {
                    TPoint& pt = (*m)[size_t(i)][size_t(j)];
                    if (style == 1) {  // jittered: small folds
                        pt.X += r.Range(-8, 8);
                        pt.Y += r.Range(-8, 8);
                    } else if (style == 2) {  // crossed and folded anywhere near the picture
                        pt = {r.Range(-20, w + 20), r.Range(-20, h + 20)};
                    } else if (style == 3 && m == &g->StartMesh) {  // dragged far outside
                        pt = {r.Range(-20000, 20000), r.Range(-20000, 20000)};
                    }
                }
        // Start points dragged far away are rendered close to the end, where the in-between
        // mesh stays near the picture (the transcription visits every row and column).
        const int32_t p = style == 3 ? r.Range(255, 256)
                                     : (iter % 3 == 0 ? r.Range(0, 256) : (iter % 3 == 1 ? 255 : 1));
        TBitmap a, b;
        FillRandom(a, w + r.Range(-5, 5) + 5, h + r.Range(-5, 5) + 5, rng);
        b.Assign(a);
        g->RenderMorph(a, p);
        reference::RenderMorph(*g, b, p);
        ASSERT_EQ(Snapshot(a), Snapshot(b)) << "iteration " << iter << " style " << style << " p " << p;
    }
    });
}

// Pictures tall enough for many bands, sizes that are multiples of nothing, meshes folded,
// crossed and dragged outside: each thread count gives the transcription's pixels.
TEST(RenderMorphDifferentialTest, BandsOnManyThreadsMatchTheTranscription) {
    std::mt19937 rng(4242);
    RandomCoords r{rng};
    struct Restore {
        ~Restore() { SetRenderThreads(0); }
    } restore;
    for (int iter = 0; iter < 12; ++iter) {
        const int32_t w = r.Range(97, 331), h = r.Range(101, 347);
        auto g = PatternGrid(w, h, r.Range(2, 23), r.Range(2, 23), uint32_t(iter));
        for (int32_t i = 0; i < g->Cols; ++i)
            for (int32_t j = 0; j < g->Rows; ++j)
                for (TMesh* m : {&g->StartMesh, &g->EndMesh}) {
                    TPoint& pt = (*m)[size_t(i)][size_t(j)];
                    if (iter % 3 == 0) {
                        pt.X += r.Range(-30, 30);
                        pt.Y += r.Range(-30, 30);
                    } else if (iter % 3 == 1) {
                        pt = {r.Range(-40, w + 40), r.Range(-40, h + 40)};
                    } else if (m == &g->StartMesh && r.Range(0, 4) == 0) {
                        pt = {r.Range(-3000000, 3000000), r.Range(-3000000, 3000000)};
                    }
                }
        const int32_t p = iter % 3 == 2 ? 256 : r.Range(0, 256);
        TBitmap expected;
        FillRandom(expected, w, h, rng);
        TBitmap start;
        start.Assign(expected);
        reference::RenderMorph(*g, expected, p);
        WithEveryPath([&] {
            for (int32_t threads : {2, 5, 16}) {
                SetRenderThreads(threads);
                TBitmap a;
                a.Assign(start);
                g->RenderMorph(a, p);
                ASSERT_EQ(Snapshot(a), Snapshot(expected)) << "iteration " << iter << " threads " << threads;
            }
        });
    }
}

TEST(ParallelBandsTest, EveryRowOnceAndErrorsReachTheCaller) {
    struct Restore {
        ~Restore() { SetRenderThreads(0); }
    } restore;
    for (int32_t threads : {1, 2, 3, 8})
        for (int32_t height : {0, 1, 15, 16, 17, 100, 1081}) {
            SetRenderThreads(threads);
            std::vector<std::atomic<int>> seen(static_cast<size_t>(height));
            ParallelBands(height, [&](int32_t first, int32_t last) {
                ASSERT_LT(first, last);
                for (int32_t y = first; y < last; ++y) seen[size_t(y)].fetch_add(1);
                // A call from inside a band runs on its caller and still covers its rows.
                int inner = 0;
                ParallelBands(3, [&](int32_t a, int32_t b) { inner += b - a; });
                EXPECT_EQ(inner, 3);
            });
            for (int32_t y = 0; y < height; ++y)
                ASSERT_EQ(seen[size_t(y)].load(), 1) << threads << " threads, height " << height << ", row " << y;
            if (height == 0) continue;
            auto failFirst = [](int32_t first, int32_t) {
                if (first == 0) throw std::runtime_error("band failed");
            };
            EXPECT_THROW(ParallelBands(height, failFirst), std::runtime_error);
            // Tasks: each index once, failures reach the caller after all have run.
            std::vector<std::atomic<int>> ran(static_cast<size_t>(height));
            EXPECT_THROW(ParallelTasks(height,
                                       [&](int32_t i) {
                                           ran[size_t(i)].fetch_add(1);
                                           if (i == height - 1) throw std::runtime_error("task failed");
                                       }),
                         std::runtime_error);
            for (int32_t i = 0; i < height; ++i) ASSERT_EQ(ran[size_t(i)].load(), 1) << threads << " threads, task " << i;
        }
}

}  // namespace
}  // namespace qv
