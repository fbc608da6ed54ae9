// Drives every decoder (and the row converters) with arbitrary bytes and sizes. The
// first input bytes choose the decoder, the output size and a parameter (sample size,
// LZW code size, Targa pixel depth); the rest is the packed data. Source and output are
// allocated at exactly their sizes so that the address sanitizer sees any overrun.
// QV_FUZZ_DECODER=k (0..10) pins the choice, to give one decoder a whole run.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/Exceptions.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"

namespace {

std::unique_ptr<uint8_t[]> Exact(const uint8_t* data, size_t size) {
    auto p = std::make_unique<uint8_t[]>(size ? size : 1);
    if (size) std::memcpy(p.get(), data, size);
    return p;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

void RunDecoder(qv::TDecoder& d, const uint8_t* src, int32_t packed, int32_t unpacked) {
    auto out = std::make_unique<uint8_t[]>(unpacked ? size_t(unpacked) : 1);
    const uint8_t* p = src;
    try {
        d.Decode(p, out.get(), packed, unpacked);
    } catch (const qv::Exception&) {
        // invalid LZW data is reported, never read past
    }
    Check(p == src);
}

void RunConverters(uint8_t kind, int bits, const uint8_t* src, size_t size) {
    // Count in samples; the source holds Count samples of the given width.
    const int bytes = bits == 16 ? 2 : 1;
    const int count = int(size / size_t(bytes));
    std::vector<uint8_t> dest(size_t(count) * 4 + 1);
    switch (kind % 8) {
        case 0: qv::Samples16To8(src, dest.data(), bits, int(size / 2)); break;
        case 1: qv::CmykToBgr(src, dest.data(), bits, count); break;
        case 2: qv::LabToBgr(src, dest.data(), bits, int(size)); break;
        case 3: qv::RgbToBgr(src, dest.data(), bits, count); break;
        case 4: qv::RgbaToBgra(src, dest.data(), bits, count); break;
        case 5: {
            const size_t plane = size / 4 / size_t(bytes) * size_t(bytes);
            qv::CmykPlanesToBgr(src, src + plane, src + 2 * plane, src + 3 * plane, dest.data(), bits,
                                int(plane / size_t(bytes)) * 4);
            break;
        }
        case 6: {
            const size_t plane = size / 3;
            qv::LabPlanesToBgr(src, src + plane, src + 2 * plane, dest.data(), bits, int(plane) * 3);
            break;
        }
        default: {
            const size_t plane = size / 3 / size_t(bytes) * size_t(bytes);
            qv::RgbPlanesToBgr(src, src + plane, src + 2 * plane, dest.data(), bits,
                               int(plane / size_t(bytes)) * 3);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint8_t which = data[0];
    const int32_t unpacked = int32_t(data[1] | (data[2] & 0x7F) << 8);  // up to 32 KB
    const uint8_t param = data[3];
    const size_t packedSize = size - 4;
    const auto src = Exact(data + 4, packedSize);
    const int32_t packed = int32_t(packedSize);

    static const int pinned = [] {
        const char* v = std::getenv("QV_FUZZ_DECODER");
        return v ? std::atoi(v) : -1;
    }();
    switch (pinned >= 0 ? pinned % 11 : which % 11) {
        case 0: { qv::TPackbitsRLE d; RunDecoder(d, src.get(), packed, unpacked); break; }
        case 1: { qv::TPCXRLE d; RunDecoder(d, src.get(), packed, unpacked); break; }
        case 2: {
            qv::TSGIRLE d;
            d.SampleSize = param % 4;
            RunDecoder(d, src.get(), packed, unpacked);
            break;
        }
        case 3: {
            // Line after line, as the CUT reader walks its rows.
            qv::TCUTRLE d;
            const int32_t width = unpacked % 512;
            auto row = std::make_unique<uint8_t[]>(width ? size_t(width) : 1);
            const uint8_t* p = src.get();
            const uint8_t* end = src.get() + packedSize;
            for (int line = 0; line < 64 && p < end; ++line) {
                const uint8_t* before = p;
                d.Decode(p, row.get(), int32_t(end - p), width);
                Check(p > before && p <= end);
            }
            break;
        }
        case 4: { qv::TRLADecoder d; RunDecoder(d, src.get(), packed, unpacked); break; }
        case 5: { qv::TTIFFLZW d; RunDecoder(d, src.get(), packed, unpacked); break; }
        case 6: {
            qv::TGIFLZW d;
            d.InitialCodeSize = param % 14;
            RunDecoder(d, src.get(), packed, unpacked);
            break;
        }
        case 7: {
            static const int depths[] = {8, 15, 16, 24, 32, 0, 7};
            auto out = std::make_unique<uint8_t[]>(unpacked ? size_t(unpacked) : 1);
            const int32_t used = qv::DecodeTargaRle(src.get(), out.get(), unpacked, depths[param % 7], packed);
            Check(used >= 0 && used <= packed);
            break;
        }
        case 8: {
            // Encode then decode: the pixels must come back.
            const int bpp = 1 + param % 4;
            const int32_t pixels = int32_t(packedSize / size_t(bpp));
            const int64_t room = qv::TargaRleMaxPacked(pixels, bpp);
            auto out = std::make_unique<uint8_t[]>(size_t(room) + 1);
            const int32_t n = qv::EncodeTargaRle(src.get(), out.get(), pixels, bpp, int32_t(room));
            Check(n >= 0 && n <= room);
            const size_t bytes = size_t(pixels) * size_t(bpp);
            auto back = std::make_unique<uint8_t[]>(bytes + 1);
            const int bits = bpp == 2 ? 16 : bpp * 8;
            Check(qv::DecodeTargaRle(out.get(), back.get(), int32_t(bytes), bits, n) == n);
            Check(bytes == 0 || std::memcmp(back.get(), src.get(), bytes) == 0);
            break;
        }
        case 9: RunConverters(param, (param & 0x80) ? 16 : 8, src.get(), packedSize); break;
        default: {
            std::vector<uint8_t> row(src.get(), src.get() + packedSize);
            const int step = param % 3 == 0 ? 1 : (param % 3 == 1 ? 3 : 4);
            const int32_t n = int32_t(packedSize / size_t(step)) - 1;
            if (n >= 1) {
                auto exact = Exact(row.data(), packedSize);
                if (step == 1) qv::UndoHorizontalDiff1(exact.get(), n);
                if (step == 3) qv::UndoHorizontalDiff3(exact.get(), n);
                if (step == 4) qv::UndoHorizontalDiff4(exact.get(), n);
                qv::SwapBytes16Array(exact.get(), int32_t(packedSize / 2));
                qv::SwapBytes32Array(exact.get(), int32_t(packedSize / 4));
            }
            break;
        }
    }
    return 0;
}
