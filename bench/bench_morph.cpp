// Rendering speed: the production warp against the plain transcription, on a 10 x 10 grid
// whose interior points are moved, at positions 0, 128 and 255 per iteration.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

#include "morph/MorphReference.h"
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

std::unique_ptr<TMorphGrid> MakeScene(int32_t w, int32_t h) {
    auto g = std::make_unique<TMorphGrid>();
    Fill(g->StartBmp, w, h, 1);
    Fill(g->EndBmp, w, h, 2);
    g->SetPictureSize({w, h});
    g->SetGridSize({10, 10});
    std::mt19937 rng(3);
    const int32_t reachX = w / 9 / 3, reachY = h / 9 / 3;
    std::uniform_int_distribution<int32_t> dx(-reachX, reachX), dy(-reachY, reachY);
    for (int32_t i = 1; i < 9; ++i)
        for (int32_t j = 1; j < 9; ++j) {
            g->StartMesh[size_t(i)][size_t(j)].X += dx(rng);
            g->StartMesh[size_t(i)][size_t(j)].Y += dy(rng);
            g->EndMesh[size_t(i)][size_t(j)].X += dx(rng);
            g->EndMesh[size_t(i)][size_t(j)].Y += dy(rng);
        }
    return g;
}

enum class TKind { Production, PlainLoop, Reference };

template <TKind Kind>
void Render(benchmark::State& state, int32_t w, int32_t h) {
    auto g = MakeScene(w, h);
    const bool wide = qv::WideSpans();
    qv::SetWideSpans(Kind != TKind::PlainLoop);
    TBitmap dest;
    dest.SetPixelFormat(qv::pf32bit);
    dest.SetWidth(w);
    dest.SetHeight(h);
    for (auto _ : state) {
        for (int32_t p : {0, 128, 255}) {
            if constexpr (Kind == TKind::Reference)
                qv::reference::RenderMorph(*g, dest, p);
            else
                g->RenderMorph(dest, p);
        }
        benchmark::DoNotOptimize(dest.ScanLine(h / 2));
        benchmark::ClobberMemory();
    }
    const double pixels = 3.0 * double(w) * double(h);
    state.SetItemsProcessed(int64_t(state.iterations() * pixels));
    // Seconds per pixel: shown as e.g. "2.1n" for 2.1 ns.
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    qv::SetWideSpans(wide);
}

const bool registered = [] {
    using enum TKind;
    benchmark::RegisterBenchmark("RenderMorph/480p", Render<Production>, 640, 480)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorph/1080p", Render<Production>, 1920, 1080)->Unit(benchmark::kMillisecond);
    // The same without eight-pixel spans, as on a processor without AVX2.
    benchmark::RegisterBenchmark("RenderMorphPlainLoop/1080p", Render<PlainLoop>, 1920, 1080)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorphReference/480p", Render<Reference>, 640, 480)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorphReference/1080p", Render<Reference>, 1920, 1080)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
