#pragma once
// The portable maps: bitmap, grey map and pixel map, each as text (P1, P2, P3) and raw
// (P4, P5, P6). The magic number, not the extension, chooses the variant. Reading only.
#include <cstdint>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TPPMGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // Reads one file from the stream's position through a 4096-byte read-ahead; the stream
    // is left where the read-ahead stopped. The header is read whole before the picture
    // changes; data that ends early fails with "PPM: Stream read error." and keeps the
    // rows read so far.
    void LoadImageStream(TStream& stream) override;

    // A picture of at most this many bytes of pixels is read however short the file; a
    // larger one must have at least the bytes its rows need (one per text digit).
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;

private:
    uint8_t NextByte();
    uint8_t PeekByte() const;
    bool AtEnd();
    void SkipLine();
    // Skips to the next decimal digit and returns it; a "#" on the way starts a comment
    // that runs to the end of its line.
    uint8_t FirstDigit();
    // Decimal digits from the current byte on; the first non-digit is consumed, the end of
    // the stream also ends them. Wraps modulo 2^32 and says so in overflow.
    uint32_t ReadDigits(uint8_t first, bool& overflow);
    // A text number: its value modulo 2^32, enough for the low bits that are kept.
    uint32_t ReadSample();
    // One pixel of a plain bitmap: the next digit, separated or not.
    uint8_t ReadBit();
    // Bytes already in the read-ahead but not used yet.
    int64_t Buffered() const { return FBufferLen - FBufferPos; }

    TStream* FStream = nullptr;
    uint8_t FBuffer[4096] = {};
    int32_t FBufferPos = 4096;
    int32_t FBufferLen = 4096;  // valid bytes in FBuffer; short after the stream's last read
};

}  // namespace qv
