// The movie export of the default 3000 ms plan (76 frames) for a 640 x 480 project, split
// into rendering the frames and writing them (work file plus target, in the temp folder).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "framework/System.h"
#include "morph/UMorph.h"
#include "video/AviWriter.h"
#include "video/FramePlan.h"

namespace {

using namespace qv;

void FillPicture(TBitmap& bmp, int seed) {
    bmp.SetPixelFormat(pf32bit);
    bmp.SetWidth(640);
    bmp.SetHeight(480);
    for (int32_t y = 0; y < 480; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int32_t x = 0; x < 640; ++x) {
            row[x * 4] = uint8_t(x + seed);
            row[x * 4 + 1] = uint8_t(y * 3 + seed);
            row[x * 4 + 2] = uint8_t((x ^ y) + seed * 7);
            row[x * 4 + 3] = 0;
        }
    }
}

// A 5 x 5 grid with the inner points of the end grid moved.
void MakeProject(TMorphGrid& grid) {
    FillPicture(grid.StartBmp, 1);
    FillPicture(grid.EndBmp, 90);
    grid.SetPictureSize(Point(640, 480));
    grid.SetGridSize(Point(5, 5));
    for (size_t i = 1; i < 4; ++i)
        for (size_t j = 1; j < 4; ++j) {
            grid.EndMesh[i][j].X += int32_t(i * 7) - 14;
            grid.EndMesh[i][j].Y += int32_t(j * 5) - 10;
        }
}

void BM_RenderPlan3000(benchmark::State& state) {
    TMorphGrid grid;
    MakeProject(grid);
    const TFramePlan plan = MakeFramePlan(3000);
    std::vector<TBitmap> frames(size_t(plan.FrameCount()));
    for (auto _ : state) {
        for (int32_t b = 0; b <= plan.LastFrame; ++b) RenderFrame(grid, plan, b, frames[size_t(b)]);
        benchmark::DoNotOptimize(frames.back().ScanLine(0));
    }
    state.counters["frames"] = plan.FrameCount();
}
BENCHMARK(BM_RenderPlan3000)->Unit(benchmark::kMillisecond);

void BM_WritePlan3000(benchmark::State& state) {
    TMorphGrid grid;
    MakeProject(grid);
    const TFramePlan plan = MakeFramePlan(3000);
    std::vector<TBitmap> frames(size_t(plan.FrameCount()));
    for (int32_t b = 0; b <= plan.LastFrame; ++b) RenderFrame(grid, plan, b, frames[size_t(b)]);
    const std::string target = GetTempPath() + "quorvalin_bench_avi.avi";
    int64_t bytes = 0;
    for (auto _ : state) {
        TAviWriter writer;
        writer.SetWidth(640);
        writer.SetHeight(480);
        writer.SetFrameTime(plan.FrameTime);
        for (TBitmap& f : frames) writer.Bitmaps().push_back(&f);
        writer.SetFileName(target);
        writer.WriteMovie();
        bytes += int64_t(plan.FrameCount()) * RowStride(640, 24) * 480;
    }
    state.SetBytesProcessed(bytes);
    DeleteFile(target);
}
BENCHMARK(BM_WritePlan3000)->Unit(benchmark::kMillisecond);

}  // namespace
