#pragma once
// Dr. Halo CUT pictures: 8-bit palette indexes packed row by row, with the colours in a
// palette file of the same name and the extension ".pal" (grey levels without one).
// Reading only.
#include <cstdint>
#include <string>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TCUTGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // The palette file the next load takes its colours from; set by LoadImageFile.
    const std::string& PaletteFile() const { return FPaletteFile; }
    void SetPaletteFile(const std::string& value) { FPaletteFile = value; }

    // Remembers the ".pal" file beside the picture, then loads the picture.
    void LoadImageFile(const std::string& fileName) override;
    // Reads the picture from the stream's position to its end, with the colours of
    // PaletteFile when such a file exists and grey levels otherwise. The header and the
    // palette file are read and checked before the picture changes.
    void LoadImageStream(TStream& stream) override;

    // A picture of at most this many bytes of pixels is read however short the file; a
    // larger one must have the bytes its rows need at the densest packing (127 pixels from
    // every two bytes, plus each row's length and end bytes).
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;

private:
    TLogPalette ReadPalette() const;
    std::string FPaletteFile;
};

}  // namespace qv
