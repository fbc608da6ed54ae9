// A 1080p, 10-second MP4 export (250 frames at 25 fps, H.264 at the default quality) of a
// project with a 10 x 10 mesh: rendering, colour conversion, encoding and writing, with the
// next frame rendered while the encoder works on the last. Seconds per export and frames
// per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "framework/Graphics.h"
#include "framework/System.h"
#include "morph/UMorph.h"
#include "video/VideoExport.h"

namespace {

using namespace qv;

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

// Soft, photo-like colour fields: an encoder has real work, unlike flat colours.
void FillPicture(TBitmap& bmp, double phase) {
    bmp.SetPixelFormat(pf32bit);
    bmp.SetWidth(kWidth);
    bmp.SetHeight(kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int32_t x = 0; x < kWidth; ++x) {
            const double u = double(x) / kWidth, v = double(y) / kHeight;
            row[x * 4] = uint8_t(127.5 + 120 * std::sin(7 * u + phase));
            row[x * 4 + 1] = uint8_t(127.5 + 120 * std::sin(5 * v - phase + 9 * u * v));
            row[x * 4 + 2] = uint8_t(127.5 + 120 * std::sin(11 * u * v + 2 * phase) * std::cos(3 * v));
            row[x * 4 + 3] = 0;
        }
    }
}

// A 10 x 10 mesh with every inner point of the end mesh moved.
void MakeProject(TMorphGrid& grid) {
    FillPicture(grid.StartBmp, 0.0);
    FillPicture(grid.EndBmp, 2.5);
    grid.SetPictureSize(Point(kWidth, kHeight));
    grid.SetGridSize(Point(10, 10));
    for (size_t i = 1; i < 9; ++i)
        for (size_t j = 1; j < 9; ++j) {
            grid.EndMesh[i][j].X += int32_t(i * 37 % 41) - 20;
            grid.EndMesh[i][j].Y += int32_t(j * 29 % 31) - 15;
        }
}

void BM_ExportMp4_1080p_10s(benchmark::State& state) {
    TMorphGrid grid;
    MakeProject(grid);
    TVideoSettings settings;
    settings.DurationMs = 10000;
    settings.Fps = 25;
    const std::string target = GetTempPath() + "quorvalin_bench_video.mp4";
    int32_t frames = 0;
    for (auto _ : state) {
        ExportVideo(grid, settings, target, [&frames](int32_t frame, int32_t) {
            frames = frame;
            return true;
        });
    }
    state.counters["frames"] = frames;
    state.counters["fps"] = benchmark::Counter(double(frames) * double(state.iterations()), benchmark::Counter::kIsRate);
    DeleteFile(target);
}
BENCHMARK(BM_ExportMp4_1080p_10s)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
