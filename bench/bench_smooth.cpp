// Smooth (bilinear) rendering speed beside the exact warp, on the same kind of scene as
// bench_morph: a 10 x 10 grid with moved interior points, positions 0, 128 and 255.
#include <benchmark/benchmark.h>

#include "bench/BenchScene.h"
#include "morph/ParallelBands.h"
#include "morph/SmoothWarp.h"
#include "morph/UBmpMorph.h"
#include "morph/UMorph.h"

namespace {

using qv::TBitmap;
using qvbench::MakeScene;

void Render(benchmark::State& state, int32_t w, int32_t h, bool smooth, bool wide, int32_t threads) {
    auto g = MakeScene(w, h);
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
    qvbench::CountThreeRenders(state, w, h);
    qv::SetWidestSpanLoop(qv::TSpanLoop::Avx2);  // the default: the widest the processor has
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
