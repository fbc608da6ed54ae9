#pragma once
// The scene the render benchmarks share: two pictures of random pixels and a 10 x 10 grid
// whose interior points are moved by up to a third of a cell; and how they count pixels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "morph/UMorph.h"

namespace qvbench {

// Sizes b and fills every pixel word (the fourth byte too) from a generator seeded with seed.
inline void Fill(qv::TBitmap& b, int32_t w, int32_t h, uint32_t seed) {
    b.SetWidth(w);
    b.SetHeight(h);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = rng();
            std::memcpy(row + size_t(x) * 4, &v, 4);
        }
    }
}

inline std::unique_ptr<qv::TMorphGrid> MakeScene(int32_t w, int32_t h) {
    auto g = std::make_unique<qv::TMorphGrid>();
    Fill(g->StartBmp, w, h, 1);
    Fill(g->EndBmp, w, h, 2);
    g->SetPictureSize({w, h});
    g->SetGridSize({10, 10});
    std::mt19937 rng(3);
    const int32_t reachX = w / 9 / 3, reachY = h / 9 / 3;
    std::uniform_int_distribution<int32_t> dx(-reachX, reachX), dy(-reachY, reachY);
    for (size_t i = 1; i < 9; ++i)
        for (size_t j = 1; j < 9; ++j) {
            g->StartMesh[i][j].X += dx(rng);
            g->StartMesh[i][j].Y += dy(rng);
            g->EndMesh[i][j].X += dx(rng);
            g->EndMesh[i][j].Y += dy(rng);
        }
    return g;
}

// Renders of three positions per iteration over w x h pixels: pixels per second, and
// seconds per pixel (shown as e.g. "2.1n" for 2.1 ns).
inline void CountThreeRenders(benchmark::State& state, int32_t w, int32_t h) {
    const double pixels = 3.0 * double(w) * double(h);
    state.SetItemsProcessed(int64_t(state.iterations() * pixels));
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace qvbench
