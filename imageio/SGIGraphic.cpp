#include "imageio/SGIGraphic.h"

#include <algorithm>
#include <cstring>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"

namespace qv {

const TBitmapClass TSGIGraphic::Class{"TSGIGraphic", &TBitmap::Class, &CreateInstance<TSGIGraphic>};

namespace {

constexpr int kHeaderSize = 512;
constexpr uint16_t kMagic = 474;

struct TSGIHeader {
    bool RunLength = false;
    uint8_t BytesPerSample = 1;
    uint16_t XSize = 0;
    uint16_t YSize = 0;
    uint16_t ZSize = 0;

    // A short header is not reported: the missing fields read as zero.
    static TSGIHeader Read(TStream& stream) {
        uint8_t b[kHeaderSize] = {};
        stream.Read(b, kHeaderSize);
        if (GetBE16(b) != kMagic) throw EInvalidGraphic("Not a valid sgi, bw or rgb(a) image.");
        TSGIHeader h;
        h.RunLength = b[2] == 1;
        h.BytesPerSample = b[3];
        h.XSize = GetBE16(b + 6);
        h.YSize = GetBE16(b + 8);
        h.ZSize = GetBE16(b + 10);
        if (h.BytesPerSample != 1 && h.BytesPerSample != 2)
            throw EReaderError("SGI", Format("%u bytes per sample are not supported", unsigned(h.BytesPerSample)));
        // Verbatim rows of a z size 0 file are still found (channel 0, read as grey); the
        // row tables of a run-length one have no entries at all.
        if (h.ZSize == 0 && h.RunLength)
            throw EReaderError("SGI", "the run-length image has no channels (z size 0)");
        return h;
    }

    int UsedChannels() const { return ZSize == 3 ? 3 : ZSize == 4 ? 4 : 1; }
    TPixelFormat PixelFormat() const { return ZSize == 3 ? pf24bit : ZSize == 4 ? pf32bit : pf8bit; }
    int64_t TableBytes() const { return RunLength ? int64_t(YSize) * ZSize * 8 : 0; }
    // Least number of bytes after the header that the channels read need.
    int64_t LeastDataBytes() const {
        const int64_t rows = int64_t(UsedChannels()) * YSize;
        if (!RunLength) return rows * XSize * BytesPerSample;
        // A packet gives at most 127 samples from a count and one sample.
        return TableBytes() + rows * 2 * BytesPerSample * ((int64_t(XSize) + 126) / 127);
    }
};

}  // namespace

void TSGIGraphic::ReadChannelRow(int c, int r, uint8_t* dest) {
    const int64_t index = int64_t(c) * FYSize + r;
    if (FDecoder != nullptr) {
        FStream->SetPosition(FBase + FRowStart[size_t(index)]);
        // A row never needs more than the work buffer; longer entries are corrupt and cut.
        const int64_t wanted = std::min<int64_t>(int64_t(FRowLength[size_t(index)]) * FBytesPerSample, int64_t(FWork.size()));
        const int32_t got = int32_t(FStream->Read(FWork.data(), wanted));
        const uint8_t* src = FWork.data();
        FDecoder->Decode(src, dest, got, FXSize);
    } else if (FBytesPerSample == 1) {
        FStream->SetPosition(FBase + kHeaderSize + index * FXSize);
        FStream->Read(dest, FXSize);
    } else {
        FStream->SetPosition(FBase + kHeaderSize + index * FXSize * 2);
        const int64_t got = FStream->Read(FWork.data(), int64_t(FXSize) * 2);
        // Big-endian samples: the first byte is the high-order one.
        for (int64_t i = 0; i < got / 2; ++i) dest[i] = FWork[size_t(2 * i)];
    }
}

void TSGIGraphic::LoadImageStream(TStream& stream) {
    const int64_t base = stream.Position();
    const TSGIHeader h = TSGIHeader::Read(stream);

    const int64_t available = std::max<int64_t>(0, stream.Size() - base - kHeaderSize);
    if (h.TableBytes() > available) throw EReadError();
    const int64_t rasterBytes = RasterRowBytes(h.XSize, h.PixelFormat()) * h.YSize;
    if (rasterBytes > SmallPictureBytes) CheckFitsFile("SGI", h.XSize, h.YSize, h.LeastDataBytes(), available);

    // The load state lives only for this call, also when it fails.
    struct TStateGuard {
        TSGIGraphic& G;
        ~TStateGuard() {
            G.FRowStart.clear();
            G.FRowLength.clear();
            G.FWork.clear();
            G.FWork.shrink_to_fit();
            G.FStream = nullptr;
            G.FDecoder = nullptr;
        }
    } guard{*this};
    FBase = base;
    FStream = &stream;
    FBytesPerSample = h.BytesPerSample;
    FXSize = h.XSize;
    FYSize = h.YSize;
    FWork.assign(size_t(h.XSize) * h.BytesPerSample * 3, 0);

    TSGIRLE decoder;
    if (h.RunLength) {
        const size_t entries = size_t(h.YSize) * h.ZSize;
        FRowStart.resize(entries);
        FRowLength.resize(entries);
        stream.SetPosition(base + kHeaderSize);
        if (entries > 0) {
            stream.ReadBuffer(FRowStart.data(), int64_t(entries) * 4);
            stream.ReadBuffer(FRowLength.data(), int64_t(entries) * 4);
            SwapBytes32Array(FRowStart.data(), int32_t(entries));
            SwapBytes32Array(FRowLength.data(), int32_t(entries));
        }
        decoder.SampleSize = h.BytesPerSample;
        FDecoder = &decoder;
    }

    SetSize(0, 0);
    SetPixelFormat(h.PixelFormat());
    if (h.PixelFormat() == pf8bit) SetPalette(GreyPalette(256));
    SetWidth(h.XSize);
    SetHeight(h.YSize);

    const int used = h.UsedChannels();
    const int32_t width = h.XSize;
    std::vector<uint8_t> channels(size_t(width) * 4);
    for (int32_t i = 0; i < h.YSize; ++i) {
        uint8_t* line = ScanLine(h.YSize - 1 - i);  // the first stored row is the bottom one
        if (used == 1) {
            ReadChannelRow(0, i, line);
            continue;
        }
        // What a short file does not hold shows white (and opaque).
        std::fill(channels.begin(), channels.end(), uint8_t(255));
        for (int c = 0; c < used; ++c) ReadChannelRow(c, i, channels.data() + size_t(c) * size_t(width));
        const uint8_t* red = channels.data();
        const uint8_t* green = red + width;
        const uint8_t* blue = green + width;
        const uint8_t* alpha = blue + width;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = line + x * used;
            p[0] = blue[x];
            p[1] = green[x];
            p[2] = red[x];
            if (used == 4) p[3] = alpha[x];
        }
    }
    Changed();
}

}  // namespace qv
