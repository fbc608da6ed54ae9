#include "imageio/PPMGraphic.h"

#include <algorithm>
#include <climits>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"

namespace qv {

const TBitmapClass TPPMGraphic::Class{"TPPMGraphic", &TBitmap::Class, &CreateInstance<TPPMGraphic>};

namespace {

constexpr int32_t kBufferSize = 4096;
const char* const kReadError = "PPM: Stream read error.";

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

TLogPalette BlackAndWhite() {
    TLogPalette pal;
    pal.Entries = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    return pal;
}

}  // namespace

uint8_t TPPMGraphic::NextByte() {
    if (FBufferPos >= FBufferLen) {
        const int64_t got = FStream->Read(FBuffer, kBufferSize);
        if (got <= 0) throw Exception(kReadError);
        FBufferLen = int32_t(got);
        FBufferPos = 0;
    }
    return FBuffer[FBufferPos++];
}

uint8_t TPPMGraphic::PeekByte() const { return FBufferPos < FBufferLen ? FBuffer[FBufferPos] : 0; }

bool TPPMGraphic::AtEnd() {
    if (FBufferPos < FBufferLen) return false;
    const int64_t got = FStream->Read(FBuffer, kBufferSize);
    if (got <= 0) return true;
    FBufferLen = int32_t(got);
    FBufferPos = 0;
    return false;
}

void TPPMGraphic::SkipLine() {
    while (!AtEnd()) {
        const uint8_t b = NextByte();
        if (b == 10) return;
        if (b == 13) {
            if (PeekByte() == 10) ++FBufferPos;
            return;
        }
    }
}

uint32_t TPPMGraphic::ReadDigits(uint8_t first, bool& overflow) {
    uint64_t value = uint8_t(first - '0');
    overflow = false;
    while (!AtEnd()) {
        const uint8_t b = NextByte();
        if (!IsDigit(b)) break;
        value = value * 10 + uint8_t(b - '0');
        if (value > UINT32_MAX) {
            overflow = true;
            value &= UINT32_MAX;  // the low bits stay right
        }
    }
    return uint32_t(value);
}

uint8_t TPPMGraphic::FirstDigit() {
    for (;;) {
        const uint8_t b = NextByte();
        if (IsDigit(b)) return b;
        if (b == '#') SkipLine();
    }
}

uint32_t TPPMGraphic::ReadSample() {
    bool overflow = false;
    return ReadDigits(FirstDigit(), overflow);
}

uint8_t TPPMGraphic::ReadBit() { return uint8_t((FirstDigit() - '0') & 1); }

void TPPMGraphic::LoadImageStream(TStream& stream) {
    FStream = &stream;
    FBufferPos = FBufferLen = kBufferSize;
    struct TStreamGuard {
        TStream*& S;
        ~TStreamGuard() { S = nullptr; }
    } guard{FStream};

    if (NextByte() != 'P') throw EInvalidGraphic("Not a valid ppm file.");
    const uint8_t kind = AtEnd() ? 10 : NextByte();
    if (!IsDigit(kind)) {
        // The magic line ends at its line break, and a comment ends it too.
        const std::string text = (kind == 10 || kind == 13 || kind == '#') ? std::string() : std::string(1, char(kind));
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    }
    const int variant = kind - '0';
    if (variant < 1 || variant > 6) {
        ReleaseHandle();
        Changed();
        return;
    }

    // Header numbers, also those on the magic number's own line.
    auto headerNumber = [&](const char* name) {
        bool overflow = false;
        const uint32_t v = ReadDigits(FirstDigit(), overflow);
        if (overflow || v > uint32_t(INT32_MAX))
            throw EReaderError("PPM", Format("the %s is larger than a picture can have", name));
        return int32_t(v);
    };
    const bool bitmap = variant == 1 || variant == 4;
    const bool raw = variant >= 4;
    const int32_t width = headerNumber("width");
    const int32_t height = headerNumber("height");
    int64_t maxValue = 1;
    if (!bitmap) {
        // The maximum only chooses the sample size; any value is accepted.
        bool overflow = false;
        maxValue = ReadDigits(FirstDigit(), overflow);
        if (overflow) maxValue = int64_t(UINT32_MAX) + 1;
    }
    // Samples of more than 8 bits keep their high byte.
    const bool wide = maxValue > 255;
    const int sampleBytes = raw && wide ? 2 : 1;
    const int channels = (variant == 3 || variant == 6) ? 3 : 1;
    const TPixelFormat pf = bitmap ? pf1bit : channels == 3 ? pf24bit : pf8bit;

    const int64_t pixels = int64_t(width) * height;
    if (pixels > (int64_t(1) << 33))
        throw EReaderError("PPM", Format("%d x %d pixels is more than a picture can hold", width, height));
    const int64_t rasterBytes = RasterRowBytes(width, pf) * height;
    const int64_t least = variant == 4 ? (int64_t(width) + 7) / 8 * height : pixels * channels * sampleBytes;
    const int64_t available = std::max<int64_t>(0, stream.Size() - stream.Position()) + Buffered();
    if (rasterBytes > SmallPictureBytes) CheckFitsFile("PPM", width, height, least, available);

    // Decoded into a scratch raster so that a failure (data that ends early) leaves this
    // one as it was.
    TBitmap picture;
    picture.SetPixelFormat(pf);
    picture.SetSize(width, height);
    if (channels == 1) picture.SetPalette(bitmap ? BlackAndWhite() : GreyPalette(256));
    // Rows of no pixels read nothing, however many the header claims.
    if (width == 0 || height == 0) {
        Assign(picture);
        Changed();
        return;
    }
    auto sample = [&]() -> uint8_t {
        if (raw) {
            const uint8_t high = NextByte();
            if (sampleBytes == 2) NextByte();
            return high;
        }
        const uint32_t v = ReadSample();
        return uint8_t(wide ? v >> 8 : v);
    };

    for (int32_t y = 0; y < height; ++y) {
        uint8_t* line = picture.ScanLine(y);
        switch (variant) {
            case 1: {
                uint8_t acc = 0;
                for (int32_t x = 0; x < width; ++x) {
                    acc = uint8_t((acc << 1) | ReadBit());
                    if (x % 8 == 7) {
                        line[x / 8] = acc;
                        acc = 0;
                    }
                }
                if (width % 8 != 0) line[width / 8] = uint8_t(acc << (8 - width % 8));
                break;
            }
            case 4:
                for (int32_t i = 0; i < (width + 7) / 8; ++i) line[i] = NextByte();
                break;
            case 2:
            case 5:
                for (int32_t x = 0; x < width; ++x) line[x] = sample();
                break;
            default:
                for (int32_t x = 0; x < width; ++x) {
                    const uint8_t r = sample(), g = sample(), b = sample();
                    line[3 * x] = b;
                    line[3 * x + 1] = g;
                    line[3 * x + 2] = r;
                }
                break;
        }
    }
    Assign(picture);
    Changed();
}

}  // namespace qv
