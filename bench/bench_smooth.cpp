// Smooth (bilinear) rendering speed beside the exact warp, on the same kind of scene as
// bench_morph: a 10 x 10 grid with moved interior points, positions 0, 128 and 255.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

#include "morph/ParallelBands.h"
#include "morph/SmoothWarp.h"
#include "morph/UBmpMorph.h"
#include "morph/UMorph.h"

namespace {

using qv::TBitmap;
using qv::TMorphGrid;

void Fill(TBitmap& b, int32_t w, int32_t h, uint32_t seed) {
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

std::unique_ptr<TMorphGrid> Scene(int32_t w, int32_t h) {
    auto g = std::make_unique<TMorphGrid>();
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

void Render(benchmark::State& state, int32_t w, int32_t h, bool smooth, bool wide, int32_t threads) {
    auto g = Scene(w, h);
    const bool saved = qv::WideSpans();
    qv::SetWideSpans(wide);
    qv::SetRenderThreads(threads);
    TBitmap dest;
    dest.SetPixelFormat(qv::pf32bit);
    dest.SetWidth(w);
    dest.SetHeight(h);
    for (auto _ : state) {
        for (int32_t p : {0, 128, 255}) qv::RenderMorphSplit(*g, dest, p, p, smooth);
        benchmark::DoNotOptimize(dest.ScanLine(h / 2));
        benchmark::ClobberMemory();
    }
    const double pixels = 3.0 * double(w) * double(h);
    state.SetItemsProcessed(int64_t(state.iterations() * pixels));
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    qv::SetWideSpans(saved);
    qv::SetRenderThreads(0);
}

const bool registered = [] {
    // The exact warp through the same entry point, for the ratio on one machine and load;
    // on the machine's threads (wall time) and on one thread.
    benchmark::RegisterBenchmark("SplitExact/1080p", Render, 1920, 1080, false, true, 0)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("SplitSmooth/1080p", Render, 1920, 1080, true, true, 0)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("SplitExactOneThread/1080p", Render, 1920, 1080, false, true, 1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SplitSmoothOneThread/1080p", Render, 1920, 1080, true, true, 1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SplitSmoothPlainLoop/1080p", Render, 1920, 1080, true, false, 1)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
