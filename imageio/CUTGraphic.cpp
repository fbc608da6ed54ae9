#include "imageio/CUTGraphic.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/ReaderSupport.h"
#include "imageio/Decoders.h"

namespace qv {

const TBitmapClass TCUTGraphic::Class{"TCUTGraphic", &TBitmap::Class, &CreateInstance<TCUTGraphic>};

namespace {

constexpr int kHeaderSize = 6;
constexpr int kBlockSize = 512;
constexpr int kCountOffset = 12;
constexpr int kFirstEntry = 40;
constexpr int kLastEntryStart = 506;  // an entry never crosses a block boundary
constexpr int kEntrySize = 6;
constexpr int kMaxEntries = 256;

}  // namespace

void TCUTGraphic::LoadImageFile(const std::string& fileName) {
    FPaletteFile = ChangeFileExt(fileName, ".pal");
    TBitmap::LoadImageFile(fileName);
}

TLogPalette TCUTGraphic::ReadPalette() const {
    if (FPaletteFile.empty() || !FileExists(FPaletteFile)) return GreyPalette(256);

    TFileStream file(FPaletteFile, fmOpenRead | fmShareDenyNone);
    uint8_t block[kBlockSize];
    file.ReadBuffer(block, kBlockSize);
    const int32_t count = int32_t(GetLE16(block + kCountOffset)) + 1;
    TLogPalette pal;
    pal.Entries.reserve(size_t(std::min(count, kMaxEntries)));
    int offset = kFirstEntry;
    for (int32_t i = 0; i < count; ++i) {
        if (offset > kLastEntryStart) {
            // Entries past the 256 the palette holds are read (the file must have them)
            // but not kept.
            file.ReadBuffer(block, kBlockSize);
            offset = 0;
        }
        if (i < kMaxEntries)
            pal.Entries.push_back({uint8_t(GetLE16(block + offset)), uint8_t(GetLE16(block + offset + 2)),
                                   uint8_t(GetLE16(block + offset + 4)), 0});
        offset += kEntrySize;
    }
    return pal;
}

void TCUTGraphic::LoadImageStream(TStream& stream) {
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    const uint16_t width = GetLE16(header);
    const uint16_t height = GetLE16(header + 2);

    const int64_t remaining = std::max<int64_t>(0, stream.Size() - stream.Position());
    const int64_t rasterBytes = RasterRowBytes(width, pf8bit) * height;
    // Each row: its 2-byte length, runs of at most 127 pixels in two bytes, the end byte.
    const int64_t least = int64_t(height) * (3 + 2 * ((int64_t(width) + 126) / 127));
    if (rasterBytes > SmallPictureBytes) CheckFitsFile("CUT", width, height, least, remaining);

    // The rows are decoded from one area, addressed with 32-bit counts.
    if (remaining > INT32_MAX)
        throw EReaderError("CUT", Format("%lld bytes of rows are more than this reader takes", (long long)remaining));
    const TLogPalette palette = ReadPalette();
    std::vector<uint8_t> packed(static_cast<size_t>(remaining));
    stream.ReadBuffer(packed.data(), remaining);

    ReleaseHandle();
    SetPixelFormat(pf8bit);
    SetWidth(width);
    SetHeight(height);
    SetPalette(palette);

    TCUTRLE decoder;
    const uint8_t* source = packed.data();
    const uint8_t* end = packed.data() + packed.size();
    for (int32_t y = 0; y < height; ++y) decoder.Decode(source, ScanLine(y), int32_t(end - source), width);
    Changed();
}

}  // namespace qv
