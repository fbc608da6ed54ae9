#pragma once
// Silicon Graphics image files: black-and-white, grey, RGB and RGBA, verbatim or
// run-length, one or two bytes per sample. Reading only.
#include <cstdint>
#include <vector>

#include "framework/Graphics.h"

namespace qv {

class TStream;
class TSGIRLE;

class TSGIGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads one SGI image from the stream's position. The header is checked (and, for large
    // pictures, the file's size against it) before the picture changes; rows the file does
    // not hold stay white.
    void LoadImageStream(TStream& stream) override;

    // A picture of at most this many bytes of pixels is read however short the file; a
    // larger one must have the data its header announces (run-length rows counted at
    // their densest, 127 samples from every two).
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;

private:
    // Channel c of stored row r (0 = bottom) into width bytes at dest.
    void ReadChannelRow(int c, int r, uint8_t* dest);

    // Load state; empty between loads.
    int64_t FBase = 0;
    std::vector<uint32_t> FRowStart;
    std::vector<uint32_t> FRowLength;
    std::vector<uint8_t> FWork;
    TStream* FStream = nullptr;
    TSGIRLE* FDecoder = nullptr;
    uint8_t FBytesPerSample = 1;
    int32_t FXSize = 0;
    int32_t FYSize = 0;
};

}  // namespace qv
