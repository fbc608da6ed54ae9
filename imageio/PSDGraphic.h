#pragma once
// Photoshop pictures: the merged image at the end of the file, in the colour modes bitmap,
// grey scale, indexed, duotone (as grey), RGB, CMYK and L*a*b*, raw or PackBits, 8 or 16
// bits per sample. Reading only.
#include <array>
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TPSDGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads one file from the stream's position. Every header field and every section
    // length is checked against the file before the picture changes; 16-bit samples keep
    // their high byte (16-bit CMYK inks are combined at full precision first); channels
    // beyond those the mode uses are ignored.
    void LoadImageStream(TStream& stream) override;

    // The indexed-mode colour table as stored: 256 reds, 256 greens, 256 blues. Zero until
    // an indexed file is loaded; a shorter table in a file leaves the rest as it was.
    std::array<uint8_t, 768> FColorTable{};

    // A picture of at most this many bytes of pixels is read whatever its packed rows
    // hold; a larger one must have rows that can fill it (2 packed bytes give at most 128).
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;
    // The largest width and height the format allows.
    static constexpr uint32_t MaxSide = 300000;
};

}  // namespace qv
