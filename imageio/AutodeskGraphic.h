#pragma once
// Old-style Autodesk Animator pictures and cels: a fixed header, a 256-colour palette of
// 6-bit values and uncompressed 8-bit pixels. Reading only.
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TAutodeskGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads one picture from the stream's position. A short file is not an error: the
    // palette entries and pixels it lacks stay zero and white.
    void LoadImageStream(TStream& stream) override;

    // A picture of at most this many pixels is read however short the file; a larger one
    // must hold all its pixels.
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;
};

}  // namespace qv
