#pragma once
// PNG pictures through libpng.
#include "framework/Graphics.h"

namespace qv {

class TStream;

class TPNGGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads every colour type and depth, interlaced or not:
    //   grey 1/2/4/8/16      -> pf8bit with a grey palette (low depths scaled to 0..255)
    //   palette 1/2/4/8      -> pf8bit with the file's palette (tRNS is not applied)
    //   RGB 8/16             -> pf24bit
    //   grey+alpha, RGBA     -> pf32bit, alpha in the fourth byte
    // 16-bit samples become 8-bit by rounding, (v * 255 + 32767) / 65535. Gamma, colour
    // profiles and transparency chunks are ignored. A bad file raises EReaderError ("PNG: ...")
    // and leaves this raster as it was.
    void LoadImageStream(TStream& stream) override;
    // Writes 8-bit RGB, not interlaced; other pixel formats are converted on a copy. The
    // fourth byte of 32-bit pixels is not written: drawing leaves it 0 throughout the
    // program, so it is no alpha one could trust.
    void SaveImageStream(TStream& stream) override;

    // Deflate turns one input byte into at most about 1032 output bytes; a file smaller
    // than the pixel rows divided by this cannot hold the picture it announces.
    static constexpr int64_t MaxInflateRatio = 1032;
};

}  // namespace qv
