#pragma once
// Shared body of the reader fuzz targets: a load either fails with a qv::Exception and
// leaves the picture exactly as it was, or gives a picture whose every row can be read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"
#include "framework/Stream.h"

namespace qv {

template <class TReader>
int FuzzReader(const uint8_t* data, size_t size) {
    TMemoryStream stream(data, static_cast<int64_t>(size));
    TReader picture;
    // A small 4-bit picture with a palette of its own, unlike anything a reader makes.
    picture.SetPixelFormat(pf4bit);
    picture.SetPalette(TLogPalette{0x300, std::vector<TPaletteEntry>(16, TPaletteEntry{1, 2, 3, 0})});
    picture.SetSize(3, 2);
    picture.ScanLine(1)[0] = 0x5A;
    try {
        picture.LoadImageStream(stream);
    } catch (const Exception&) {
        if (picture.Width() != 3 || picture.Height() != 2 || picture.PixelFormat() != pf4bit ||
            picture.Palette().Entries.size() != 16 || picture.ScanLine(1)[0] != 0x5A)
            std::abort();  // a failed load changed the picture
        return 0;
    }
    if (picture.Width() < 0 || picture.Height() < 0) std::abort();
    // Touch every byte so ASan sees rows that are shorter than they claim.
    volatile unsigned sink = 0;
    // Rows without bytes (width 0) have nothing to check, however many there are.
    for (int32_t y = 0; picture.RowBytes() > 0 && y < picture.Height(); ++y) {
        const uint8_t* row = picture.ScanLine(y);
        unsigned sum = 0;
        for (int32_t i = 0; i < picture.RowBytes(); ++i) sum += row[i];
        sink = sink + sum;
    }
    return 0;
}

}  // namespace qv
