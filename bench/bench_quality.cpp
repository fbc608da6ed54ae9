// Picture quality of the two samplings (not a speed): PSNR against the known correct
// picture of a photograph pushed through a known deformation (tests/morph/WarpQuality.h).
// The figures are the counters exact_dB, smooth_dB and grid_error_px; one iteration each.
#include <benchmark/benchmark.h>

#include <string>

#include "imageio/GenericGraphic.h"
#include "morph/WarpQuality.h"

namespace {

#ifndef QV_SOURCE_DIR
#define QV_SOURCE_DIR "."
#endif

void Quality(benchmark::State& state, bool swirl) {
    qv::TGenericGraphic file;
    file.LoadImageFile(std::string(QV_SOURCE_DIR) + "/tests/data/photo/astronaut.jpg");
    qv::TBitmap photo;
    photo.Assign(file);
    photo.SetPixelFormat(qv::pf32bit);
    const int32_t w = photo.Width(), h = photo.Height();
    qv::testing::TWarpQuality q;
    for (auto _ : state)
        q = qv::testing::MeasureWarp(photo, swirl ? qv::testing::Swirl(w, h) : qv::testing::TurnAndShrink(w, h), 32);
    state.counters["exact_dB"] = q.ExactPsnr;
    state.counters["smooth_dB"] = q.SmoothPsnr;
    state.counters["grid_error_px"] = q.GridError;
    state.counters["pixels"] = double(q.Pixels);
}

const bool registered = [] {
    benchmark::RegisterBenchmark("WarpQuality/turn", Quality, false)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("WarpQuality/swirl", Quality, true)->Iterations(1)->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
