#pragma once
// JPEG pictures through libjpeg: decoding to 24-bit pixels, encoding in colour.
#include "framework/Graphics.h"

namespace qv {

class TStream;

class TJPEGImage : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Quality used when writing (1..100).
    static constexpr int DefaultQuality = 90;
    int CompressionQuality() const { return FCompressionQuality; }
    void SetCompressionQuality(int value);

    // Decodes the whole JPEG stream at full size with smoothing into pf24bit pixels; grey
    // pictures become grey 24-bit pixels, CMYK and YCCK pictures are turned into colour.
    // A bad or truncated stream raises EInvalidGraphic and leaves this raster unchanged.
    void LoadImageStream(TStream& stream) override;
    // Encodes the picture in colour, baseline, sequential. Other formats than 24 bits are
    // converted to 24-bit colour first (on a copy).
    void SaveImageStream(TStream& stream) override;

    // Largest ratio of decoded pixels to input bytes accepted for pictures above
    // MinBoundedPixels: even the emptiest real JPEG spends bits on every 8 x 8 block, so a
    // tiny file announcing a huge picture is refused before anything is allocated.
    static constexpr int64_t MaxPixelsPerInputByte = 1024;
    static constexpr int64_t MinBoundedPixels = int64_t(1) << 24;

private:
    int FCompressionQuality = DefaultQuality;
};

}  // namespace qv
