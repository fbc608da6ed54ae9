// Matching points between two pictures. Speed: end-grid proposals for pairs of 1080p
// pictures. Accuracy, reported as counters in pixels (mean_px, p95_px, max_px): photographs
// pushed through a known smooth deformation, so the true match of every start point is known.
// The photographs are Debian's (python3-skimage's sample pictures, python3-matplotlib's
// portrait); ImageMagick converts them to PPM in a temporary folder on first use.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "align/Align.h"
#include "align/FaceLandmarks.h"
#include "align/SimilarMatch.h"
#include "align/SyntheticWarp.h"
#include "imageio/GenericGraphic.h"

namespace {

using qv::TBitmap;
using qv::TMorphGrid;
using qv::TPointD;
using qv::testing::ErrorStats;
using qv::testing::TErrorStats;
using qv::testing::TSyntheticWarp;

const char* const kPhotos[] = {"/usr/lib/python3/dist-packages/skimage/data/astronaut.png",
                               "/usr/lib/python3/dist-packages/skimage/data/coffee.png",
                               "/usr/lib/python3/dist-packages/skimage/data/chelsea.png",
                               "/usr/lib/python3/dist-packages/skimage/data/motorcycle_left.png",
                               "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg"};

// The photograph cut to Width x Height (scaled to cover, centred; portraits keep their top)
// as a 32-bit raster; false when the photograph or ImageMagick is missing.
bool LoadPhoto(int index, int32_t width, int32_t height, TBitmap& out) {
    const char* gravity = index == 0 || index == 4 ? "north" : "center";
    const std::filesystem::path source = kPhotos[index];
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quorvalin-bench-photos";
    const std::filesystem::path ppm =
        folder / (source.stem().string() + "-" + std::to_string(width) + "x" + std::to_string(height) + ".ppm");
    if (!std::filesystem::exists(ppm)) {
        if (!std::filesystem::exists(source)) return false;
        std::filesystem::create_directories(folder);
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const std::string command = "convert '" + source.string() + "' -resize " + size + "^ -gravity " + gravity + " -extent " +
                                    size + " '" + ppm.string() + "'";
        if (std::system(command.c_str()) != 0) return false;
    }
    qv::TGenericGraphic g;
    g.LoadImageFile(ppm.string());
    out.Assign(g);
    out.SetPixelFormat(qv::pf32bit);
    return true;
}

std::unique_ptr<TMorphGrid> MakePair(const TBitmap& start, const TSyntheticWarp& warp, int32_t grid) {
    auto g = std::make_unique<TMorphGrid>();
    g->StartBmp.Assign(start);
    warp.Render(start, g->EndBmp);
    g->SetPictureSize({start.Width(), start.Height()});
    g->SetGridSize({grid, grid});
    return g;
}

// Processor time of the whole process (every thread: OpenCV spreads its work), in ms.
double ProcessCpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3 +
           (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
}

// Runs body once per iteration; reports the process's processor time per iteration
// (cpu_all_ms): on a busy machine the wall time says more about the others.
template <class F>
void Timed(benchmark::State& state, F&& body) {
    const double before = ProcessCpuMs();
    for (auto _ : state) body();
    state.counters["cpu_all_ms"] = (ProcessCpuMs() - before) / double(state.iterations());
}

void SetCounters(benchmark::State& state, const TErrorStats& s) {
    state.counters["mean_px"] = s.Mean;
    state.counters["p95_px"] = s.P95;
    state.counters["max_px"] = s.Max;
    state.counters["points"] = double(s.Count);
}

// Interior points of a 33 x 33 lattice whose true match lies in the picture.
TErrorStats LatticeErrors(const qv::TThinPlateSpline& map, const TSyntheticWarp& warp, int32_t w, int32_t h) {
    std::vector<double> errors;
    for (int j = 1; j < 32; ++j)
        for (int i = 1; i < 32; ++i) {
            const TPointD p{i * w / 32.0, j * h / 32.0};
            const TPointD truth = warp.Forward(p);
            if (truth.X < 1 || truth.Y < 1 || truth.X > w - 2 || truth.Y > h - 2) continue;
            const TPointD got = map.Map(p);
            errors.push_back(std::hypot(got.X - truth.X, got.Y - truth.Y));
        }
    return ErrorStats(errors);
}

// Args: photograph, with (1) or without (0) the global feature alignment, largest
// displacement (pixels).
void BM_AlignSimilarAccuracy512(benchmark::State& state) {
    TBitmap start, end;
    if (!LoadPhoto(int(state.range(0)), 512, 512, start)) return state.SkipWithError("photograph not available");
    const TSyntheticWarp warp = TSyntheticWarp::Make(512, 512, double(state.range(2)), uint32_t(17 + state.range(0)));
    warp.Render(start, end);
    qv::TSimilarOptions options;
    options.GlobalAlignment = state.range(1) != 0;
    qv::TSimilarMatch match;
    for (auto _ : state) match = qv::MatchSimilar(start, end, options);
    SetCounters(state, LatticeErrors(match.Map, warp, 512, 512));
    state.counters["global"] = match.UsedGlobalAlignment;
    state.counters["reliable"] = match.ReliableFraction;
}
BENCHMARK(BM_AlignSimilarAccuracy512)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}, {40, 100}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A large rigid motion: the whole picture shifted by (70, -45) pixels. Args: photograph,
// global alignment off (0) or on (1).
void BM_AlignSimilarShift512(benchmark::State& state) {
    TBitmap start, end;
    if (!LoadPhoto(int(state.range(0)), 512, 512, start)) return state.SkipWithError("photograph not available");
    TSyntheticWarp warp;
    warp.ShiftX = -70;  // the end shows at q what the start shows at q - (70, -45)
    warp.ShiftY = 45;
    warp.Render(start, end);
    qv::TSimilarOptions options;
    options.GlobalAlignment = state.range(1) != 0;
    qv::TSimilarMatch match;
    try {
        for (auto _ : state) match = qv::MatchSimilar(start, end, options);
    } catch (const qv::Exception& e) {
        return state.SkipWithError(e.what());
    }
    SetCounters(state, LatticeErrors(match.Map, warp, 512, 512));
    state.counters["global"] = match.UsedGlobalAlignment;
}
BENCHMARK(BM_AlignSimilarShift512)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(1);

// The whole end-grid proposal (10 x 10 grid) for a 1920 x 1080 pair, similar pictures.
void BM_AlignMatchEndGrid1080p(benchmark::State& state) {
    TBitmap start;
    if (!LoadPhoto(int(state.range(0)), 1920, 1080, start)) return state.SkipWithError("photograph not available");
    const TSyntheticWarp warp = TSyntheticWarp::Make(1920, 1080, 80, 5);
    auto g = MakePair(start, warp, 10);
    qv::TAlignOptions options;
    options.Mode = qv::TMatchMode::Similar;
    qv::TGridProposal p;
    Timed(state, [&] { p = qv::ProposeMatchedEndGrid(*g, options); });
    std::vector<double> errors;
    for (int i = 1; i < 9; ++i)
        for (int j = 1; j < 9; ++j) {
            const qv::TPoint s = g->StartMesh[size_t(i)][size_t(j)];
            const TPointD truth = warp.Forward({double(s.X), double(s.Y)});
            const qv::TPoint e = p.EndMesh[size_t(i)][size_t(j)];
            errors.push_back(std::hypot(e.X - truth.X, e.Y - truth.Y));
        }
    SetCounters(state, ErrorStats(errors));
}
BENCHMARK(BM_AlignMatchEndGrid1080p)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);

// Faces mode and the face grid on a 1920 x 1080 portrait and a deformed copy (the model is
// loaded before timing: once per process).
template <bool FaceGrid>
void BM_AlignFaces1080p(benchmark::State& state) {
    TBitmap start;
    if (!LoadPhoto(0, 1920, 1080, start)) return state.SkipWithError("photograph not available");
    const TSyntheticWarp warp = TSyntheticWarp::Make(1920, 1080, 25, 9);
    auto g = MakePair(start, warp, 10);
    qv::TAlignOptions options;
    options.Mode = qv::TMatchMode::Faces;
    qv::TFaceModel::Load(qv::DefaultFaceModelFile());
    try {
        Timed(state, [&] {
            benchmark::DoNotOptimize(FaceGrid ? qv::ProposeFaceGrid(*g, options) : qv::ProposeMatchedEndGrid(*g, options));
        });
    } catch (const qv::Exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(BM_AlignFaces1080p<false>)->Name("BM_AlignFacesMatchEndGrid1080p")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlignFaces1080p<true>)->Name("BM_AlignFaceGrid1080p")->Unit(benchmark::kMillisecond);

// Landmarks on a portrait and on a deformed copy against their known places. Args:
// photograph (astronaut, Grace Hopper), largest displacement.
void BM_AlignLandmarkAccuracy(benchmark::State& state) {
    TBitmap start, end;
    const int photo = state.range(0) == 0 ? 0 : 4;
    if (!LoadPhoto(photo, 512, 512, start)) return state.SkipWithError("photograph not available");
    const TSyntheticWarp warp = TSyntheticWarp::Make(512, 512, double(state.range(1)), 23);
    warp.Render(start, end);
    auto model = qv::TFaceModel::Load(qv::DefaultFaceModelFile());
    qv::TFace a, b;
    for (auto _ : state) {
        a = qv::FindFace(start, *model);
        b = qv::FindFace(end, *model);
    }
    if (a.FacesFound == 0 || b.FacesFound == 0) return state.SkipWithError("no face found");
    std::vector<double> errors;
    for (size_t k = 0; k < size_t(qv::kLandmarkCount); ++k) {
        const TPointD truth = warp.Forward(a.Points[k]);
        errors.push_back(std::hypot(b.Points[k].X - truth.X, b.Points[k].Y - truth.Y));
    }
    SetCounters(state, ErrorStats(errors));
    state.counters["over_3px"] = double(std::count_if(errors.begin(), errors.end(), [](double e) { return e > 3; }));
}
BENCHMARK(BM_AlignLandmarkAccuracy)->ArgsProduct({{0, 1}, {10, 20}})->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
