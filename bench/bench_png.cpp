// PNG decoding speed at 1920 x 1080, in decoded raster bytes per second. The file is the
// one QV_BENCH_PNG names (to compare with another program on the same file), or else one
// this program writes from a photo-like picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "framework/Stream.h"
#include "imageio/PNGGraphic.h"

namespace {

std::vector<uint8_t> ReadFile(const char* path) {
    qv::TFileStream in(path, qv::fmOpenRead);
    std::vector<uint8_t> bytes(size_t(in.Size()));
    in.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    return bytes;
}

// Smooth gradients with a little noise beside flat areas, saved by our writer.
std::vector<uint8_t> MakeFile() {
    qv::TPNGGraphic picture;
    picture.SetPixelFormat(qv::pf24bit);
    picture.SetSize(1920, 1080);
    uint32_t seed = 12345;
    for (int y = 0; y < 1080; ++y) {
        uint8_t* p = picture.ScanLine(y);
        for (int x = 0; x < 1920; ++x, p += 3) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int(seed >> 28) & 3;
            const bool flat = (x / 128 + y / 96) % 3 == 0;
            p[0] = flat ? 236 : uint8_t(((x * y) >> 12) + noise);
            p[1] = flat ? 236 : uint8_t((y / 6 + x / 16) & 255);
            p[2] = flat ? 236 : uint8_t((x / 4 + noise) & 255);
        }
    }
    qv::TMemoryStream out;
    picture.SaveImageStream(out);
    std::vector<uint8_t> bytes(size_t(out.Size()));
    out.SetPosition(0);
    out.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    return bytes;
}

void BM_PngDecode(benchmark::State& state) {
    const char* path = std::getenv("QV_BENCH_PNG");
    const std::vector<uint8_t> file = path ? ReadFile(path) : MakeFile();
    int64_t decoded = 0;
    for (auto _ : state) {
        qv::TMemoryStream stream(file.data(), int64_t(file.size()));
        qv::TPNGGraphic picture;
        picture.LoadImageStream(stream);
        decoded = int64_t(picture.RowBytes()) * picture.Height();
        benchmark::DoNotOptimize(picture.ScanLine(0));
    }
    state.SetBytesProcessed(state.iterations() * decoded);
    state.counters["file_bytes"] = double(file.size());
}
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMillisecond);

}  // namespace
