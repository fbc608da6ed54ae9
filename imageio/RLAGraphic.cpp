#include "imageio/RLAGraphic.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"

namespace qv {

const TBitmapClass TRLAGraphic::Class{"TRLAGraphic", &TBitmap::Class, &CreateInstance<TRLAGraphic>};

namespace {

constexpr int kHeaderSize = 740;

int16_t Be16(const uint8_t* p) { return int16_t(GetBE16(p)); }

struct TRLAHeader {
    int16_t ActiveLeft = 0, ActiveRight = 0, ActiveBottom = 0, ActiveTop = 0;
    int16_t ColorChannels = 0;
    int16_t MatteChannels = 0;
    int16_t ColorBits = 0;
    int16_t MatteBits = 0;

    static TRLAHeader Read(TStream& stream) {
        uint8_t b[kHeaderSize];
        stream.ReadBuffer(b, kHeaderSize);
        TRLAHeader h;
        h.ActiveLeft = Be16(b + 8);
        h.ActiveRight = Be16(b + 10);
        h.ActiveBottom = Be16(b + 12);
        h.ActiveTop = Be16(b + 14);
        h.ColorChannels = Be16(b + 20);
        h.MatteChannels = Be16(b + 22);
        h.ColorBits = Be16(b + 658);
        h.MatteBits = Be16(b + 662);
        h.Validate();
        return h;
    }

    void Validate() const {
        if (ColorChannels != 3 && ColorChannels != 4) throw EReaderError("RLA", "image must be RGB(A).");
        // Old files leave the bit counts at 0; they hold bytes.
        if (ColorBits != 0 && ColorBits != 8)
            throw EReaderError("RLA", Format("%d bits per colour sample are not supported, only 8", int(ColorBits)));
        if (HasMatte() && MatteBits != 0 && MatteBits != 8)
            throw EReaderError("RLA", Format("%d bits per matte sample are not supported, only 8", int(MatteBits)));
        if (Width() < 1)
            throw EReaderError("RLA", Format("the active window from left %d to right %d has no columns",
                                         int(ActiveLeft), int(ActiveRight)));
    }

    bool HasMatte() const { return MatteChannels != 0; }
    int32_t Width() const { return int32_t(ActiveRight) - ActiveLeft + 1; }
    int32_t Height() const { return std::abs(int32_t(ActiveBottom) - ActiveTop) + 1; }
    bool BottomUp() const { return ActiveBottom < ActiveTop; }
    int ChannelsRead() const { return HasMatte() ? 4 : 3; }
};

}  // namespace

void TRLAGraphic::LoadImageStream(TStream& stream) {
    const int64_t start = stream.Position();
    const TRLAHeader h = TRLAHeader::Read(stream);
    const int32_t width = h.Width();
    const int32_t height = h.Height();
    const int64_t tableBytes = int64_t(height) * 4;
    const int64_t available = std::max<int64_t>(0, stream.Size() - stream.Position());
    if (tableBytes > available) throw EReadError();
    const TPixelFormat pf = h.HasMatte() ? pf32bit : pf24bit;
    const int bytesPerPixel = h.HasMatte() ? 4 : 3;
    const int64_t rasterBytes = RasterRowBytes(width, pf) * height;
    // Each channel row: its 2-byte length and runs of at most 128 bytes from two.
    const int64_t least = tableBytes + int64_t(height) * h.ChannelsRead() * (2 + 2 * ((int64_t(width) + 127) / 128));
    if (rasterBytes > SmallPictureBytes) CheckFitsFile("RLA", width, height, least, available);

    std::vector<uint32_t> offsets(static_cast<size_t>(height));
    stream.ReadBuffer(offsets.data(), tableBytes);
    SwapBytes32Array(offsets.data(), height);

    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    picture.SetPixelFormat(pf);
    picture.SetSize(width, height);

    const int32_t maxPacked = 2 * width;
    std::vector<uint8_t> packed(static_cast<size_t>(maxPacked));
    std::vector<uint8_t> channels(size_t(width) * 4, 0);
    TRLADecoder decoder;
    auto readLength = [&]() {
        uint8_t b[2];
        stream.ReadBuffer(b, 2);
        return int32_t(uint16_t((b[0] << 8) | b[1]));
    };
    auto readChannel = [&](uint8_t* dest) {
        const int32_t n = readLength();
        if (n > maxPacked)
            throw EReaderError("RLA", Format("a packed row of %d bytes is longer than twice the width (%d)", n, width));
        stream.ReadBuffer(packed.data(), n);
        std::fill(dest, dest + width, uint8_t(0));
        const uint8_t* src = packed.data();
        decoder.Decode(src, dest, n, width);
    };

    for (int32_t y = 0; y < height; ++y) {
        stream.SetPosition(start + offsets[size_t(y)]);
        uint8_t* red = channels.data();
        uint8_t* green = red + width;
        uint8_t* blue = green + width;
        uint8_t* alpha = blue + width;
        readChannel(red);
        readChannel(green);
        readChannel(blue);
        if (h.HasMatte()) {
            // A fourth colour channel comes before the matte; it has no place in the raster.
            if (h.ColorChannels == 4) stream.Seek(readLength(), TSeekOrigin::soCurrent);
            readChannel(alpha);
        }
        uint8_t* line = picture.ScanLine(h.BottomUp() ? height - 1 - y : y);
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = line + x * bytesPerPixel;
            p[0] = blue[x];
            p[1] = green[x];
            p[2] = red[x];
            if (bytesPerPixel == 4) p[3] = alpha[x];
        }
    }
    Assign(picture);
    Changed();
}

}  // namespace qv
