// Rendering speed: the production warp against the plain transcription, on a 10 x 10 grid
// whose interior points are moved, at positions 0, 128 and 255 per iteration; the render on
// 1, 2 and all threads; the frames of a movie; and a whole batch render from files to file,
// in this process and as the batch tool itself.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <thread>

#include "bench/BenchScene.h"
#include "framework/System.h"
#include "morph/MorphReference.h"
#include "morph/MorphTiming.h"
#include "morph/ParallelBands.h"
#include "morph/UBmpMorph.h"
#include "morph/UMorph.h"
#include "video/FramePlan.h"

namespace {

using qv::TBitmap;
using qv::TMorphGrid;
using qvbench::MakeScene;

// Render threads for the length of one benchmark.
struct TThreadsFor {
    explicit TThreadsFor(int32_t n) { qv::SetRenderThreads(n); }
    ~TThreadsFor() { qv::SetRenderThreads(0); }
};

// The widest span loop allowed for the length of one benchmark.
struct TSpanLoopFor {
    explicit TSpanLoopFor(qv::TSpanLoop widest) { qv::SetWidestSpanLoop(widest); }
    ~TSpanLoopFor() { qv::SetWidestSpanLoop(qv::TSpanLoop::Avx2); }
};

enum class TKind { Production, Sse, PlainLoop, Reference };

template <TKind Kind>
void Render(benchmark::State& state, int32_t w, int32_t h) {
    auto g = MakeScene(w, h);
    TThreadsFor one(1);  // the kernel alone
    TSpanLoopFor loop(Kind == TKind::Sse         ? qv::TSpanLoop::Sse41
                      : Kind == TKind::PlainLoop ? qv::TSpanLoop::Plain
                                                 : qv::TSpanLoop::Avx2);
    if (Kind == TKind::Sse && qv::ActiveSpanLoop() != qv::TSpanLoop::Sse41) {
        state.SkipWithError("no SSE4.1 on this processor");
        return;
    }
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
    qvbench::CountThreeRenders(state, w, h);
}

// One render at position 128 on the given number of threads (0: all the machine has).
void RenderOnThreads(benchmark::State& state, int32_t w, int32_t h, int32_t threads) {
    auto g = MakeScene(w, h);
    TThreadsFor set(threads);
    TBitmap dest;
    dest.SetPixelFormat(qv::pf32bit);
    dest.SetSize(w, h);
    for (auto _ : state) {
        g->RenderMorph(dest, 128);
        benchmark::DoNotOptimize(dest.ScanLine(h / 2));
        benchmark::ClobberMemory();
    }
    state.counters["threads"] = double(qv::RenderThreads());
}

// The movie export's frames: 250 frames of 1080p, each cleared to white and rendered, on all
// threads; "fps" is frames rendered per second.
void MovieFrames(benchmark::State& state) {
    auto g = MakeScene(1920, 1080);
    const qv::TFramePlan plan{40, 249};
    TBitmap dest;
    for (auto _ : state) {
        for (int32_t f = 0; f < plan.FrameCount(); ++f) qv::RenderFrame(*g, plan, f, dest);
        benchmark::ClobberMemory();
    }
    state.counters["fps"] = benchmark::Counter(double(plan.FrameCount()), benchmark::Counter::kIsIterationInvariantRate);
}

// What the batch tool's render does, from two 1080p 24-bit BMPs and a project file (in the
// page cache after the first round) to a saved BMP: open the project, load both pictures,
// render at 128 on all threads, save. The files stay in the temporary folder for timing the
// batch tool itself on the same input.
std::string EndToEndFolder() { return qv::GetTempPath() + "quorvalin-bench-1080p/"; }

void MakeEndToEndFiles() {
    const std::string dir = EndToEndFolder();
    std::filesystem::create_directories(dir);
    auto g = MakeScene(1920, 1080);
    for (TBitmap* b : {static_cast<TBitmap*>(&g->StartBmp), static_cast<TBitmap*>(&g->EndBmp)})
        b->SetPixelFormat(qv::pf24bit);
    g->StartBmp.SaveImageFile(dir + "start.bmp");
    g->EndBmp.SaveImageFile(dir + "end.bmp");
    g->StartFileName = dir + "start.bmp";
    g->EndFileName = dir + "end.bmp";
    g->SaveGridFile(dir + "scene.grid");
}

void EndToEnd(benchmark::State& state) {
    MakeEndToEndFiles();
    const std::string dir = EndToEndFolder();
    for (auto _ : state) {
        TMorphGrid grid;
        grid.LoadGridFile(dir + "scene.grid");
        qv::TBitmap picture;
        qv::RenderOnWhite(grid, picture, 128, {});
        picture.SaveImageFile(dir + "out.bmp");
    }
}

#ifdef QV_CLI_PROGRAM
// The batch tool itself on the same files, start-up to exit: `quorvalin-cli render
// scene.grid --position 128 OUT`, writing a new OUT each time (removed between rounds,
// outside the timing) or replacing the previous one (then the save waits for the disk).
void CliRender(benchmark::State& state, bool replacing) {
    MakeEndToEndFiles();
    const std::string dir = EndToEndFolder();
    const std::string out = dir + (replacing ? "cli-replaced.bmp" : "cli-new.bmp");
    std::vector<std::string> args{QV_CLI_PROGRAM, "render", dir + "scene.grid", "--position", "128", out};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto run = [&] {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 || waitpid(pid, &status, 0) != pid ||
            !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("quorvalin-cli render failed");
    };
    if (replacing) run();
    for (auto _ : state) {
        if (!replacing) {
            state.PauseTiming();
            std::filesystem::remove(out);
            state.ResumeTiming();
        }
        run();
    }
}
#endif

const bool registered = [] {
    using enum TKind;
    benchmark::RegisterBenchmark("RenderMorph/480p", Render<Production>, 640, 480)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorph/1080p", Render<Production>, 1920, 1080)->Unit(benchmark::kMillisecond);
    // The four-pixel spans a processor without AVX2 takes, and the plain loop.
    benchmark::RegisterBenchmark("RenderMorphSse/1080p", Render<Sse>, 1920, 1080)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorphPlainLoop/1080p", Render<PlainLoop>, 1920, 1080)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorphReference/480p", Render<Reference>, 640, 480)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RenderMorphReference/1080p", Render<Reference>, 1920, 1080)
        ->Unit(benchmark::kMillisecond);
    for (int32_t threads : {1, 2, 0})
        benchmark::RegisterBenchmark(
            ("RenderMorphOnce/1080p/threads:" + (threads ? std::to_string(threads) : std::string("all"))).c_str(),
            RenderOnThreads, 1920, 1080, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::RegisterBenchmark("MovieFrames/1080p/250", MovieFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("EndToEndRender/1080p", EndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef QV_CLI_PROGRAM
    benchmark::RegisterBenchmark("CliRender/1080p/new", CliRender, false)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("CliRender/1080p/replacing", CliRender, true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
#endif
    return true;
}();

}  // namespace
