#pragma once
// TIFF pictures: the first image of a file, in strips, uncompressed, LZW or PackBits, with
// or without horizontal differencing, samples interleaved or in separate planes. Reading
// only.
#include <cstdint>
#include <vector>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TTIFFGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    TTIFFGraphic();

    // Reads the first image of the TIFF data that starts at the stream's position. Every
    // header field is checked before the picture changes; a file this reader cannot hold
    // raises with a message naming the field.
    void LoadImageStream(TStream& stream) override;
    // TIFF files are not written: nothing goes to the stream.
    void SaveImageStream(TStream& stream) override;

    // One directory entry as read (numbers in machine order; Raw keeps the value field's
    // four bytes as they are in the file, for values stored inline).
    struct TDirEntry {
        uint16_t Tag = 0;
        uint16_t Type = 0;
        uint32_t Count = 0;
        uint8_t Raw[4] = {};
    };

    // A picture of at most this many bytes of pixels is always read, however short the
    // file; a larger one must be one that the file's bytes could decode to (an LZW code
    // of at most 12 bits stands for at most 4096 bytes).
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;
    static constexpr int64_t MaxExpansion = 4096;

    struct TLayout;  // what the directory says, checked

private:
    // The steps of a load; each checks what it reads. Nothing of this raster changes
    // before the last step succeeded.
    void ReadDirectory(TStream& stream);
    TLayout ReadLayout(TStream& stream) const;
    void ReadStripTable(TStream& stream, TLayout& layout) const;
    void ReadPalette(TStream& stream, TLayout& layout);
    void DecodeStrips(TStream& stream, const TLayout& layout, TBitmap& picture) const;

    // Directory access (tags looked up by binary search: TIFF sorts them).
    const TDirEntry* FindTag(uint16_t tag) const;
    uint32_t Get16(const uint8_t* p) const;
    uint32_t Get32(const uint8_t* p) const;
    uint32_t SingleValue(uint16_t tag, uint32_t def) const;
    uint32_t CountOf(uint16_t tag, uint32_t def) const;
    std::vector<uint32_t> ValueList(TStream& stream, uint16_t tag) const;

    bool FBigEndian = false;
    uint16_t FVersion = 0;
    uint32_t FFirstIFD = 0;
    std::vector<TDirEntry> FDirectory;
    int64_t FBasePosition = 0;
    uint16_t FColorMap[768] = {};
};

}  // namespace qv
