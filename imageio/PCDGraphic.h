#pragma once
// Kodak Photo-CD image packs: one of the three lower resolutions, stored uncompressed in
// Photo YCC, converted to 24-bit. Reading only: saving writes nothing.
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TPCDGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    TPCDGraphic();

    // Which stored resolution is read: 0 = 192 x 128, 1 = 384 x 256, 2 = 768 x 512.
    uint8_t Resolution() const { return FResolution; }
    void SetResolution(uint8_t value) { FResolution = value; }

    // Reads the picture of the image pack that starts at the stream's position; all
    // offsets count from there. The signature, the resolution and the file's size are
    // checked before the picture changes.
    void LoadImageStream(TStream& stream) override;
    // Photo-CD files are not written: nothing goes to the stream.
    void SaveImageStream(TStream& stream) override;

private:
    uint8_t FResolution = 2;
    int64_t FStart = 0;  // the stream position where the pack starts, during a load
};

}  // namespace qv
