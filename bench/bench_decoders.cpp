// Decoding speed (output bytes per second) of the two LZW decoders and PackBits on one
// large image-like strip. The strips are made here by small encoders; each is decoded once
// and compared with the original before timing starts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "imageio/Decoders.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 1024 x 1365 RGB: smooth gradients with a little noise, like a photo, beside flat
// areas, like a drawing's background.
Bytes MakePicture() {
    const int w = 1024, h = 1365;
    Bytes p(size_t(w) * h * 3);
    uint32_t seed = 12345;
    size_t i = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            if ((x / 128 + y / 96) % 3 == 0) {
                p[i++] = 236;  // a grey background: runs for PackBits too
                p[i++] = 236;
                p[i++] = 236;
                continue;
            }
            const int noise = int(seed >> 28) & 3;
            p[i++] = uint8_t((x / 4 + noise) & 255);
            p[i++] = uint8_t((y / 6 + x / 16) & 255);
            p[i++] = uint8_t(((x * y) >> 12) + noise);
        }
    }
    return p;
}

class BitWriter {
public:
    explicit BitWriter(bool msb) : FMsb(msb) {}
    void Put(uint32_t code, uint32_t width) {
        if (FMsb) {
            FAcc = (FAcc << width) | code;
            FBits += width;
            while (FBits >= 8) {
                FBits -= 8;
                FOut.push_back(uint8_t(FAcc >> FBits));
            }
        } else {
            FAcc |= uint64_t(code) << FBits;
            FBits += width;
            while (FBits >= 8) {
                FOut.push_back(uint8_t(FAcc));
                FAcc >>= 8;
                FBits -= 8;
            }
        }
    }
    Bytes Finish() {
        if (FBits) FOut.push_back(FMsb ? uint8_t(FAcc << (8 - FBits)) : uint8_t(FAcc));
        return FOut;
    }

private:
    bool FMsb;
    uint64_t FAcc = 0;
    uint32_t FBits = 0;
    Bytes FOut;
};

// LZW with the TIFF (MSB first, early change) or GIF (LSB first) code widths. The width
// of each code is the one the decoder will read it with, tracked by following the
// decoder's own table growth; the table is cleared before it fills.
Bytes LzwEncode(const Bytes& in, bool tiff) {
    const uint32_t clear = 256, eoi = 257, initialWidth = 9;
    BitWriter out(tiff);
    std::unordered_map<uint32_t, uint32_t> dict;
    uint32_t nextE = 0, nextD = 0, width = 0, emitted = 0;
    auto reset = [&] {
        dict.clear();
        nextE = nextD = clear + 2;
        width = initialWidth;
        emitted = 0;
    };
    auto emit = [&](uint32_t code) {
        out.Put(code, width);
        if (++emitted >= 2 && nextD < 4096) {
            const uint32_t mask = (1u << width) - 1;
            if (tiff) {
                ++nextD;
                if (nextD == mask && width < 12) ++width;
            } else {
                if (nextD == mask && width < 12) ++width;
                ++nextD;
            }
        }
    };
    reset();
    out.Put(clear, width);
    uint32_t w = in[0];
    for (size_t i = 1; i < in.size(); ++i) {
        const uint32_t key = (w << 8) | in[i];
        const auto it = dict.find(key);
        if (it != dict.end()) {
            w = it->second;
            continue;
        }
        emit(w);
        dict.emplace(key, nextE++);
        w = in[i];
        if (nextE == 4094) {
            out.Put(clear, width);
            reset();
        }
    }
    emit(w);
    out.Put(eoi, width);
    return out.Finish();
}

Bytes PackBitsEncode(const Bytes& in) {
    Bytes out;
    size_t i = 0;
    while (i < in.size()) {
        size_t run = 1;
        while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
        if (run >= 3) {
            out.push_back(uint8_t(1 - int(run)));
            out.push_back(in[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < in.size() && lit < 128) {
            if (i + lit + 2 < in.size() && in[i + lit] == in[i + lit + 1] && in[i + lit] == in[i + lit + 2]) break;
            ++lit;
        }
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), in.begin() + long(i), in.begin() + long(i + lit));
        i += lit;
    }
    return out;
}

struct Strip {
    Bytes Raw, Packed;
};

void Verify(qv::TDecoder& d, const Strip& s, const char* name) {
    Bytes out(s.Raw.size());
    const uint8_t* p = s.Packed.data();
    d.Decode(p, out.data(), int32_t(s.Packed.size()), int32_t(out.size()));
    if (out != s.Raw) {
        std::fprintf(stderr, "%s: decoded strip differs from the original\n", name);
        std::abort();
    }
}

void Decode(benchmark::State& state, qv::TDecoder& d, const Strip& s, const char* name) {
    Verify(d, s, name);
    Bytes out(s.Raw.size());
    for (auto _ : state) {
        const uint8_t* p = s.Packed.data();
        d.Decode(p, out.data(), int32_t(s.Packed.size()), int32_t(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.Raw.size()));
    state.counters["ratio"] = double(s.Raw.size()) / double(s.Packed.size());
}

const Strip& TiffStrip() {
    static const Strip s = [] { Strip t{MakePicture(), {}}; t.Packed = LzwEncode(t.Raw, true); return t; }();
    return s;
}
const Strip& GifStrip() {
    static const Strip s = [] { Strip t{MakePicture(), {}}; t.Packed = LzwEncode(t.Raw, false); return t; }();
    return s;
}
const Strip& PackBitsStrip() {
    static const Strip s = [] { Strip t{MakePicture(), {}}; t.Packed = PackBitsEncode(t.Raw); return t; }();
    return s;
}

void BM_TIFFLZW(benchmark::State& state) {
    qv::TTIFFLZW d;
    Decode(state, d, TiffStrip(), "TIFF LZW");
}
void BM_GIFLZW(benchmark::State& state) {
    qv::TGIFLZW d;
    d.InitialCodeSize = 8;
    Decode(state, d, GifStrip(), "GIF LZW");
}
void BM_PackbitsRLE(benchmark::State& state) {
    qv::TPackbitsRLE d;
    Decode(state, d, PackBitsStrip(), "PackBits");
}

BENCHMARK(BM_TIFFLZW)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GIFLZW)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackbitsRLE)->Unit(benchmark::kMillisecond);

}  // namespace
