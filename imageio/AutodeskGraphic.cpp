#include "imageio/AutodeskGraphic.h"

#include <algorithm>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"

namespace qv {

const TBitmapClass TAutodeskGraphic::Class{"TAutodeskGraphic", &TBitmap::Class, &CreateInstance<TAutodeskGraphic>};

namespace {

constexpr int kHeaderSize = 32;
constexpr int kPaletteBytes = 768;

}  // namespace

void TAutodeskGraphic::LoadImageStream(TStream& stream) {
    uint8_t header[kHeaderSize] = {};
    stream.Read(header, 2);
    if (header[0] != 0x19 || header[1] != 0x91)
        throw EInvalidGraphic("Cannot load image. Only old style Autodesk images are supported.");
    // Short reads are not errors here: what the file lacks reads as zero.
    stream.Read(header + 2, kHeaderSize - 2);
    const uint16_t width = GetLE16(header + 2);
    const uint16_t height = GetLE16(header + 4);
    uint8_t colours[kPaletteBytes] = {};
    stream.Read(colours, kPaletteBytes);

    const int64_t pixels = int64_t(width) * height;
    const int64_t available = std::max<int64_t>(0, stream.Size() - stream.Position());
    const int64_t rasterBytes = RasterRowBytes(width, pf8bit) * height;
    if (rasterBytes > SmallPictureBytes) CheckFitsFile("Autodesk", width, height, pixels, available);

    TLogPalette palette;
    palette.Entries.resize(256);
    for (int i = 0; i < 256; ++i) {
        // 6-bit values; the shift keeps 8 bits, so values above 63 lose their high bits.
        palette.Entries[size_t(i)] = {uint8_t(colours[3 * i] << 2), uint8_t(colours[3 * i + 1] << 2),
                                      uint8_t(colours[3 * i + 2] << 2), 0};
    }

    SetSize(0, 0);
    SetPixelFormat(pf8bit);
    SetPalette(palette);
    SetWidth(width);
    SetHeight(height);
    for (int32_t y = 0; y < height; ++y) stream.Read(ScanLine(y), width);
    Changed();
}

}  // namespace qv
