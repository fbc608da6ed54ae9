#pragma once
// CompuServe GIF pictures: the first image of the file into an 8-bit indexed raster.
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TGIFGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads the first image of the GIF file at the stream's position; extensions are
    // skipped, later images are not read. The file is read whole before the picture
    // changes, so a failure leaves it as it was.
    void LoadImageStream(TStream& stream) override;

    // A picture of at most this many pixels is always read, however short its code stream
    // (what is missing stays index 0); a larger one must be one that its code stream could
    // decode to (an LZW code of at most 12 bits stands for at most 4096 pixels).
    static constexpr int64_t SmallPicturePixels = int64_t(1) << 20;
    static constexpr int64_t MaxExpansion = 4096;
};

}  // namespace qv
