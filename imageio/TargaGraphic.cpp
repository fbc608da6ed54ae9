#include "imageio/TargaGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/ReaderSupport.h"
#include "imageio/Decoders.h"

namespace qv {

const TBitmapClass TTargaGraphic::Class{"TTargaGraphic", &TBitmap::Class, &CreateInstance<TTargaGraphic>};

namespace {

constexpr int kHeaderSize = 18;
constexpr uint8_t kTopRowFirst = 32;  // descriptor bit 5
constexpr int kPaletteEntries = 256;
const char* const kConvertQuestion =
    "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?";

struct TTargaHeader {
    uint8_t IdLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t FirstIndex = 0;
    uint16_t MapLength = 0;
    uint8_t MapEntrySize = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t Depth = 0;
    uint8_t Descriptor = 0;

    static TTargaHeader Parse(const uint8_t* b) {
        TTargaHeader h;
        h.IdLength = b[0];
        h.ColorMapType = b[1];
        h.ImageType = b[2];
        h.FirstIndex = GetLE16(b + 3);
        h.MapLength = GetLE16(b + 5);
        h.MapEntrySize = b[7];
        h.Width = GetLE16(b + 12);
        h.Height = GetLE16(b + 14);
        h.Depth = b[16];
        h.Descriptor = b[17];
        return h;
    }

    bool Grey() const { return ImageType == 3 || ImageType == 11; }
    bool Raw() const { return ImageType >= 1 && ImageType <= 3; }
    bool RunLength() const { return ImageType >= 9 && ImageType <= 11; }
    bool HasMap() const { return ColorMapType == 1; }
    // A 16-bit word for every entry size but 24 and 32.
    int MapEntryBytes() const { return MapEntrySize == 24 ? 3 : MapEntrySize == 32 ? 4 : 2; }
    // Bytes of the colour map in the file (none unless the map type says one follows).
    int64_t MapBytes() const { return HasMap() ? int64_t(MapLength) * MapEntryBytes() : 0; }
};

int BytesPerPixelOfDepth(int depth) {
    switch (depth) {
        case 8: return 1;
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

TPixelFormat FormatOfDepth(int depth) {
    switch (depth) {
        case 8: return pf8bit;
        case 15:
        case 16: return pf15bit;
        case 24: return pf24bit;
        default: return pf32bit;
    }
}

// Least number of pixel-data bytes a file of this header must carry. Run-length rows
// cannot share packets (a packet is cut at the row end), so each row needs at least one
// packet of header and pixel per 128 pixels.
int64_t LeastDataBytes(const TTargaHeader& h, int bytesPerPixel) {
    if (h.RunLength()) return int64_t(h.Height) * ((int64_t(h.Width) + 127) / 128) * (1 + bytesPerPixel);
    return int64_t(h.Height) * h.Width * bytesPerPixel;
}

TLogPalette ReadColorMap(TStream& stream, const TTargaHeader& h) {
    const int entryBytes = h.MapEntryBytes();
    const int kept = std::min<int>(h.MapLength, kPaletteEntries);
    // A short map is not reported: the missing entries stay zero.
    std::vector<uint8_t> map(size_t(kept) * size_t(entryBytes), 0);
    stream.Read(map.data(), int64_t(map.size()));
    // Entries past 256 have no place in the palette; skip them to reach the pixels.
    if (h.MapLength > kPaletteEntries)
        stream.Seek(int64_t(h.MapLength - kPaletteEntries) * entryBytes, TSeekOrigin::soCurrent);

    TLogPalette palette;
    palette.Entries.resize(size_t(kept));
    for (int i = 0; i < kept; ++i) {
        const uint8_t* e = map.data() + size_t(i) * size_t(entryBytes);
        TPaletteEntry& p = palette.Entries[size_t(i)];
        if (entryBytes >= 3) {
            p.Blue = e[0];
            p.Green = e[1];
            p.Red = e[2];
        } else {
            const uint16_t w = GetLE16(e);
            p.Red = uint8_t((w & 0x7C00) >> 7);
            p.Green = uint8_t((w & 0x03E0) >> 2);
            p.Blue = uint8_t((w & 0x1F) << 3);
        }
    }
    return palette;
}

int BytesPerPixelOfFormat(TPixelFormat pf) {
    switch (pf) {
        case pf8bit: return 1;
        case pf15bit:
        case pf16bit: return 2;
        case pf24bit: return 3;
        case pf32bit: return 4;
        default: return BitsPerPixel(pfDevice) / 8;
    }
}

// Targa's 16-bit pixels are 5-5-5; a 5-6-5 row is brought to that layout (the green
// channel loses its lowest bit) so that readers show the right colours.
void Row565To555(const uint8_t* src, uint8_t* dst, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const uint16_t w = GetLE16(src + 2 * x);
        const uint16_t r = (w >> 11) & 0x1F, g = (w >> 5) & 0x3F, b = w & 0x1F;
        PutLE16(dst + 2 * x, uint16_t((r << 10) | ((g >> 1) << 5) | b));
    }
}

}  // namespace

void TTargaGraphic::LoadImageStream(TStream& stream) {
    // A short header is not reported: the missing fields read as zero.
    uint8_t raw[kHeaderSize] = {};
    stream.Read(raw, kHeaderSize);
    const TTargaHeader h = TTargaHeader::Parse(raw);

    const int bpp = BytesPerPixelOfDepth(h.Depth);
    if (bpp == 0) throw EReaderError("Targa", Format("unsupported pixel depth: %d bits per pixel", h.Depth));
    const int64_t rowLength = int64_t(h.Width) * bpp;
    const int64_t pixelBytes = rowLength * h.Height;
    const int64_t dataStart = stream.Position() + h.IdLength + h.MapBytes();
    const int64_t available = std::max<int64_t>(0, stream.Size() - dataStart);
    const int64_t needed = LeastDataBytes(h, bpp);
    if (pixelBytes > SmallPictureBytes) CheckFitsFile("Targa", h.Width, h.Height, needed, available);

    std::string id(h.IdLength, '\0');
    if (h.IdLength > 0) stream.Read(id.data(), h.IdLength);

    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    picture.SetPixelFormat(FormatOfDepth(h.Depth));
    if (h.Grey()) {
        // Grey pictures ignore a colour map but must step over it.
        if (h.HasMap()) stream.Seek(h.MapBytes(), TSeekOrigin::soCurrent);
        picture.SetPalette(GreyPalette(kPaletteEntries));
    } else if (h.HasMap()) {
        picture.SetPalette(ReadColorMap(stream, h));
    }
    picture.SetSize(h.Width, h.Height);

    const bool topFirst = (h.Descriptor & kTopRowFirst) != 0;
    const int32_t height = h.Height;
    const int32_t length = int32_t(rowLength);
    auto rowOf = [&](int32_t i) { return topFirst ? i : height - 1 - i; };

    if (h.Raw()) {
        for (int32_t i = 0; i < height; ++i)
            if (stream.Read(picture.ScanLine(rowOf(i)), length) < length) throw EReaderError("Targa", "invalid image");
    } else if (h.RunLength()) {
        // A row's packets never take more than twice its bytes (one header per pixel at
        // worst); read that much ahead and step back to the end of the row's packets.
        std::vector<uint8_t> work(size_t(2 * rowLength), 0);
        for (int32_t i = 0; i < height; ++i) {
            const int32_t got = int32_t(stream.Read(work.data(), int64_t(work.size())));
            const int32_t used = DecodeTargaRle(work.data(), picture.ScanLine(rowOf(i)), length, h.Depth, got);
            stream.Seek(int64_t(used) - got, TSeekOrigin::soCurrent);
        }
    }
    Assign(picture);
    FImageID = std::move(id);
    Changed();
}

void TTargaGraphic::SaveImageStream(TStream& stream) { SaveTarga(stream, true); }

void TTargaGraphic::SaveTarga(TStream& stream, bool compressed) {
    int bpp = BytesPerPixelOfFormat(PixelFormat());
    if (PixelFormat() == pf1bit || PixelFormat() == pf4bit) {
        if (!AskOkCancel(kConvertQuestion)) return;
        SetPixelFormat(pf8bit);
        bpp = 1;
    }
    if (Empty()) return;

    const int32_t width = Width();
    const int32_t height = Height();
    // The header holds 16-bit sizes.
    if (width > 0xFFFF || height > 0xFFFF)
        throw EReaderError("Targa", Format("%d x %d pixels is larger than a Targa file can hold", width, height));
    const size_t idLength = std::min<size_t>(FImageID.size(), 255);

    uint8_t header[kHeaderSize] = {};
    header[0] = uint8_t(idLength);
    header[1] = bpp == 1 ? 1 : 0;
    header[2] = uint8_t(compressed ? (bpp == 1 ? 9 : 10) : (bpp == 1 ? 1 : 2));
    PutLE16(header + 5, kPaletteEntries);
    header[7] = 24;
    PutLE16(header + 12, uint16_t(width));
    PutLE16(header + 14, uint16_t(height));
    header[16] = uint8_t(8 * bpp);
    // Rows are written top row first, and the descriptor says so.
    header[17] = kTopRowFirst;
    stream.WriteBuffer(header, kHeaderSize);
    if (idLength > 0) stream.WriteBuffer(FImageID.data(), int64_t(idLength));

    if (bpp == 1) {
        const std::vector<TPaletteEntry> entries = GetPaletteEntries(0, kPaletteEntries);
        uint8_t map[kPaletteEntries * 3];
        for (int i = 0; i < kPaletteEntries; ++i) {
            map[3 * i] = entries[size_t(i)].Blue;
            map[3 * i + 1] = entries[size_t(i)].Green;
            map[3 * i + 2] = entries[size_t(i)].Red;
        }
        stream.WriteBuffer(map, sizeof map);
    }

    const int32_t rowLength = width * bpp;
    const bool from565 = PixelFormat() == pf16bit;
    std::vector<uint8_t> converted(from565 ? size_t(rowLength) : 0);
    std::vector<uint8_t> work(compressed ? size_t(TargaRleMaxPacked(width, bpp)) : 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = ScanLine(y);
        if (from565) {
            Row565To555(row, converted.data(), width);
            row = converted.data();
        }
        const uint8_t* out = row;
        int32_t count = rowLength;
        if (compressed) {
            count = EncodeTargaRle(row, work.data(), width, bpp, int32_t(work.size()));
            out = work.data();
        }
        if (stream.Write(out, count) < count) throw EInvalidGraphic("Targa: could not write image data");
    }
}

}  // namespace qv
