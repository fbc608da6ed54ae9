#include "imageio/GIFGraphic.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"
#include "imageio/Decoders.h"

namespace qv {

const TBitmapClass TGIFGraphic::Class{"TGIFGraphic", &TBitmap::Class, &CreateInstance<TGIFGraphic>};

namespace {

constexpr uint8_t kExtension = 33;  // '!'
constexpr uint8_t kImage = 44;      // ','
constexpr uint8_t kTrailer = 59;    // ';'
constexpr uint8_t kTableFlag = 0x80;
constexpr uint8_t kInterlacedFlag = 0x40;

uint8_t ReadByte(TStream& stream) {
    uint8_t b;
    stream.ReadBuffer(&b, 1);
    return b;
}

// Reads a colour table of 2 << (flags & 7) entries into the first entries of table and
// returns the palette of those entries.
TLogPalette ReadColorTable(TStream& stream, uint8_t flags, TPaletteEntry (&table)[256]) {
    const int count = 2 << (flags & 7);
    uint8_t rgb[256 * 3];
    stream.ReadBuffer(rgb, 3 * count);
    for (int i = 0; i < count; ++i) table[i] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
    TLogPalette palette;
    palette.Entries.assign(table, table + count);
    return palette;
}

void SkipSubBlocks(TStream& stream) {
    for (uint8_t n = ReadByte(stream); n != 0; n = ReadByte(stream)) stream.Seek(n, TSeekOrigin::soCurrent);
}

// The image's code stream: its data sub-blocks joined. The end of the stream before the
// zero length byte ends it too.
std::vector<uint8_t> ReadCodeStream(TStream& stream) {
    std::vector<uint8_t> packed;
    for (;;) {
        uint8_t n = 0;
        if (stream.Read(&n, 1) < 1 || n == 0) break;
        const size_t had = packed.size();
        packed.resize(had + n);
        const int64_t got = stream.Read(packed.data() + had, n);
        if (got < n) {
            packed.resize(had + size_t(got));
            break;
        }
    }
    return packed;
}

// Destination row of the k-th stored row of an interlaced picture.
std::vector<int32_t> InterlacedRows(int32_t height) {
    std::vector<int32_t> rows;
    rows.reserve(size_t(height));
    const int32_t starts[4] = {0, 4, 2, 1};
    const int32_t steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int32_t y = starts[pass]; y < height; y += steps[pass]) rows.push_back(y);
    return rows;
}

}  // namespace

void TGIFGraphic::LoadImageStream(TStream& stream) {
    uint8_t header[6];
    stream.ReadBuffer(header, 6);
    if (std::toupper(header[0]) != 'G' || std::toupper(header[1]) != 'I' || std::toupper(header[2]) != 'F')
        throw EInvalidGraphic("Not a valid GIF file.");
    uint8_t screen[7];
    stream.ReadBuffer(screen, 7);
    const uint16_t screenWidth = GetLE16(screen);
    const uint16_t screenHeight = GetLE16(screen + 2);

    TPaletteEntry table[256] = {};
    bool hasPalette = false;
    TLogPalette palette;
    if (screen[4] & kTableFlag) {
        palette = ReadColorTable(stream, screen[4], table);
        hasPalette = true;
    }

    // Block scan up to the first image; anything else between blocks is passed over.
    bool hasImage = false;
    for (;;) {
        const uint8_t b = ReadByte(stream);
        if (b == kExtension) {
            ReadByte(stream);  // label
            SkipSubBlocks(stream);
        } else if (b == kImage) {
            hasImage = true;
            break;
        } else if (b == kTrailer) {
            break;
        }
    }

    int32_t width = 0, height = 0;
    bool interlaced = false;
    std::vector<uint8_t> pixels;
    if (hasImage) {
        uint8_t desc[9];
        stream.ReadBuffer(desc, 9);
        width = GetLE16(desc + 4);
        height = GetLE16(desc + 6);
        if (width == 0) width = screenWidth;
        if (height == 0) height = screenHeight;
        interlaced = (desc[8] & kInterlacedFlag) != 0;
        if (desc[8] & kTableFlag) {
            palette = ReadColorTable(stream, desc[8], table);
            hasPalette = true;
        }
        const uint8_t codeSize = ReadByte(stream);
        const std::vector<uint8_t> packed = ReadCodeStream(stream);

        const int64_t pixelCount = int64_t(width) * height;
        const int64_t rasterBytes = RasterRowBytes(width, pf8bit) * height;
        if (rasterBytes > kMaxRasterBytes ||
            (pixelCount > SmallPicturePixels && pixelCount > MaxExpansion * int64_t(packed.size())))
            throw EReaderError("GIF", Format("%d x %d pixels cannot come from %zu bytes of image data", width, height,
                                         packed.size()));
        pixels.assign(size_t(pixelCount), 0);
        TGIFLZW decoder;
        decoder.InitialCodeSize = codeSize;
        const uint8_t* source = packed.data();
        decoder.Decode(source, pixels.data(), int32_t(packed.size()), int32_t(pixelCount));
    }

    // ---- the picture changes from here on
    ReleaseHandle();
    SetPixelFormat(pf8bit);
    if (hasPalette) SetPalette(palette);
    SetWidth(width);
    SetHeight(height);
    const std::vector<int32_t> order = interlaced ? InterlacedRows(height) : std::vector<int32_t>();
    for (int32_t k = 0; k < height && width > 0; ++k) {
        const int32_t y = interlaced ? order[size_t(k)] : k;
        std::copy_n(pixels.data() + int64_t(k) * width, width, ScanLine(y));
    }
    Changed();
}

}  // namespace qv
