#include "imageio/PCDGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"

namespace qv {

const TBitmapClass TPCDGraphic::Class{"TPCDGraphic", &TBitmap::Class, &CreateInstance<TPCDGraphic>};

namespace {

constexpr int64_t kSignatureOffset = 2048;
constexpr int64_t kOrientationOffset = 194635;

struct TResolutionInfo {
    int32_t Width;
    int32_t Height;
    int64_t Offset;
};

constexpr TResolutionInfo kResolutions[3] = {{192, 128, 8192}, {384, 256, 47104}, {768, 512, 196608}};

// Rounded to nearest, halves to even (the default rounding mode), limited to 0..255.
uint8_t ClampRound(long double v) {
    const long double r = std::nearbyint(v);
    return uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
}

// One chroma row of a pair up-sampled to full width: first row or second row of the pair.
// c and cn have one extra sample at index w / 2 repeating the last one.
void UpSample(const uint8_t* c, const uint8_t* cn, uint8_t* first, uint8_t* second, int32_t w) {
    for (int32_t x = 0; x < w; x += 2) {
        const int32_t i = x / 2;
        first[x] = c[i];
        first[x + 1] = uint8_t((c[i] + c[i + 1]) / 2);
        second[x] = uint8_t((c[i] + cn[i]) / 2);
        second[x + 1] = uint8_t((c[i] + c[i + 1] + cn[i] + cn[i + 1]) / 4);
    }
}

}  // namespace

TPCDGraphic::TPCDGraphic() = default;

void TPCDGraphic::SaveImageStream(TStream&) {}

void TPCDGraphic::LoadImageStream(TStream& stream) {
    FStart = stream.Position();
    char signature[7];
    stream.SetPosition(FStart + kSignatureOffset);
    stream.ReadBuffer(signature, 7);
    if (std::memcmp(signature, "PCD_IPI", 7) != 0) throw EReaderError("PCD", "wrong image format.");
    uint8_t orientationByte = 0;
    stream.SetPosition(FStart + kOrientationOffset);
    stream.ReadBuffer(&orientationByte, 1);
    const int orientation = orientationByte & 3;
    if (FResolution > 2) throw EReaderError("PCD", "image size currently not supported");

    const TResolutionInfo res = kResolutions[FResolution];
    const int32_t w = res.Width;
    const int32_t h = res.Height;
    const int64_t pairBytes = 3 * int64_t(w);
    const int64_t end = FStart + res.Offset + pairBytes * (h / 2);
    if (stream.Size() < end) throw EReadError();

    const bool turned = orientation == 1 || orientation == 3;
    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    picture.SetPixelFormat(pf24bit);
    picture.SetSize(turned ? h : w, turned ? w : h);

    const int32_t half = w / 2;
    std::vector<uint8_t> luma(size_t(2 * w));
    // C1, C2, C1 of the next pair, C2 of the next pair; one spare sample each.
    std::vector<uint8_t> chroma(size_t(4 * (half + 1)));
    std::vector<uint8_t> full(size_t(4 * w));  // channel 1 rows 1 and 2, channel 2 rows 1 and 2
    auto chromaRow = [&](int k) { return chroma.data() + size_t(k) * size_t(half + 1); };
    auto fullRow = [&](int k) { return full.data() + size_t(k) * size_t(w); };

    for (int32_t y = 0; y < h; y += 2) {
        const int64_t pair = FStart + res.Offset + pairBytes * (y / 2);
        stream.SetPosition(pair);
        stream.ReadBuffer(luma.data(), 2 * w);
        stream.ReadBuffer(chromaRow(0), half);
        stream.ReadBuffer(chromaRow(1), half);
        // The next pair's chroma; the last pair interpolates with its own.
        stream.SetPosition(y + 2 < h ? pair + pairBytes + 2 * w : pair + 2 * w);
        stream.ReadBuffer(chromaRow(2), half);
        stream.ReadBuffer(chromaRow(3), half);
        for (int k = 0; k < 4; ++k) chromaRow(k)[half] = chromaRow(k)[half - 1];
        UpSample(chromaRow(0), chromaRow(2), fullRow(0), fullRow(1), w);
        UpSample(chromaRow(1), chromaRow(3), fullRow(2), fullRow(3), w);

        for (int row = 0; row < 2 && y + row < h; ++row) {
            const int32_t sy = y + row;
            const uint8_t* lum = luma.data() + size_t(row) * size_t(w);
            const uint8_t* c1 = fullRow(row);
            const uint8_t* c2 = fullRow(2 + row);
            for (int32_t x = 0; x < w; ++x) {
                const long double Y = lum[x];
                const long double a = int(c1[x]) - 156;
                const long double b = int(c2[x]) - 137;
                const uint8_t red = ClampRound(1.3584L * Y + 1.8215L * b);
                const uint8_t green = ClampRound(1.3584L * Y - 0.9271435L * b - 0.4302726L * a);
                const uint8_t blue = ClampRound(1.3584L * Y + 2.2179L * a);
                int32_t col = x, line = sy;
                switch (orientation) {
                    case 1: col = sy; line = w - 1 - x; break;
                    case 2: line = h - 1 - sy; break;
                    case 3: col = sy; line = x; break;
                    default: break;
                }
                uint8_t* p = picture.ScanLine(line) + 3 * col;
                p[0] = blue;
                p[1] = green;
                p[2] = red;
            }
        }
    }
    Assign(picture);
    Changed();
}

}  // namespace qv
