#pragma once
// Wavefront RLA pictures: red, green, blue and an optional matte channel, 8 bits per
// sample, run-length packed channel by channel for each row. Reading only.
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TRLAGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads the picture whose header starts at the stream's position; row offsets count
    // from there. The header and the row offset table are checked before the picture
    // changes; a row whose data is missing fails with the stream's read failure.
    void LoadImageStream(TStream& stream) override;

    // A picture of at most this many bytes of pixels is read whatever its row data; a
    // larger one must have a file that can hold its rows at the densest packing.
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;
};

}  // namespace qv
