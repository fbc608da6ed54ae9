#pragma once
// ZSoft PCX pictures (and word-processor screen captures of the same layout): 1-bit,
// 4-plane 4-bit, 8-bit, 3-plane 24-bit and 4-plane 32-bit (with alpha). Reading only.
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TPCXGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads one PCX file from the stream's position to its end. Every header field is
    // checked before the picture changes.
    void LoadImageStream(TStream& stream) override;
    // PCX files are not written: nothing goes to the stream.
    void SaveImageStream(TStream& stream) override;

    // A picture of at most this many bytes of rows is always read, however short the
    // file (missing bytes read as 0); a larger one must fit the file's data at the densest
    // run-length packing (63 bytes from every 2).
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;
};

}  // namespace qv
