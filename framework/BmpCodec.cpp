// The raster's own file format: Windows device-independent bitmaps (BMP).
//
// Reading takes every header generation (core 12 bytes, info 40 bytes and the 52/56/108/124-byte
// extensions), uncompressed 1/4/8/16/24/32 bits, RLE8, RLE4 and bit fields. Every header field
// is checked against the bytes the file really has before anything is allocated, and the whole
// picture is decoded into a scratch raster first, so a bad file leaves this raster untouched.
//
// Writing stores the raster's own pixel format, bottom-up, behind a 40-byte header.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "Exceptions.h"
#include "framework/ByteOrder.h"
#include "Graphics.h"
#include "Stream.h"
#include "System.h"

namespace qv {
namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

constexpr int32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// 40 + the colour masks (52), + alpha mask (56), V4 (108), V5 (124).
constexpr std::array<uint32_t, 6> kKnownHeaderSizes = {12, 40, 52, 56, 108, 124};
constexpr int32_t kPixelsPerMetre = 2835;  // 72 dots per inch

// Run-length data that sets every pixel needs at least two bytes per 255 pixels (one encoded
// run), i.e. fewer than 128 pixels per byte. Deltas and an early end-of-bitmap can leave pixels
// unset, so the bound is twice that: 256 pixels per byte of compressed data. It keeps a tiny
// file from asking for a huge raster.
constexpr int64_t kMaxRlePixelsPerByte = 256;

[[noreturn]] void Invalid(const std::string& what) {
    throw EInvalidGraphic("Invalid bitmap file: " + what);
}

int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetLE32(p)); }

// Bytes of one stored row: whole 32-bit words. Computed in 64 bits because the width comes
// from the file and 32 x width overflows 32 bits.
int64_t DibRowBytes(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

// One colour channel of a bit-field pixel: where it sits and how to widen it to 8 bits.
struct TChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    uint32_t Max = 0;  // largest field value, 0 for an absent channel

    static TChannel FromMask(uint32_t mask) {
        TChannel c;
        c.Mask = mask;
        if (mask == 0) return c;
        while (((mask >> c.Shift) & 1u) == 0) ++c.Shift;
        c.Max = mask >> c.Shift;
        return c;
    }
    // Rounded scaling of the field to 0..255 (a 1-bit field gives 0 or 255).
    uint8_t Extract(uint32_t pixel) const {
        if (Max == 0) return 0;
        uint64_t v = (pixel & Mask) >> Shift;
        return uint8_t((v * 255 + Max / 2) / Max);
    }
};

bool IsContiguous(uint32_t mask) {
    if (mask == 0) return true;
    while ((mask & 1u) == 0) mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

// Everything the headers say, checked; nothing allocated yet.
struct TBmpInfo {
    uint32_t HeaderSize = 0;
    int32_t Width = 0;
    int32_t Height = 0;  // rows, always positive
    bool TopDown = false;
    int Bits = 0;
    uint32_t Compression = BI_RGB;
    uint32_t SizeImage = 0;
    int64_t PixelOffset = 0;  // from the start of the file
    uint32_t Masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    TLogPalette Palette;
    TPixelFormat Format = pfDevice;
    bool ConvertMasks = false;  // bit fields that do not match a raster format
};

// How the pixels of one uncompressed row turn into raster bytes.
void ConvertMaskedRow(const TBmpInfo& info, const TChannel ch[4], const uint8_t* src, uint8_t* dst) {
    const int bytesIn = info.Bits / 8;
    const int bytesOut = info.Format == pf32bit ? 4 : 3;
    for (int32_t x = 0; x < info.Width; ++x) {
        const uint8_t* p = src + int64_t(x) * bytesIn;
        uint32_t v = bytesIn == 2 ? GetLE16(p) : GetLE32(p);
        uint8_t* q = dst + int64_t(x) * bytesOut;
        q[0] = ch[2].Extract(v);
        q[1] = ch[1].Extract(v);
        q[2] = ch[0].Extract(v);
        if (bytesOut == 4) q[3] = ch[3].Extract(v);
    }
}

// Pixels 0 .. count - 1 of a 24-bit row as 32-bit pixels (fourth byte 0). Four bytes are read
// per pixel, the fourth (the next pixel's first) cleared; the last pixel byte by byte, as it
// may end the buffer.
void WidenRowPlain(const uint8_t* s, uint8_t* d, int64_t count, int64_t x = 0) {
    for (; x + 1 < count; ++x) {
        uint32_t w;
        std::memcpy(&w, s + x * 3, 4);
        w &= 0x00FFFFFFu;
        std::memcpy(d + x * 4, &w, 4);
    }
    if (x < count) {
        d[x * 4] = s[x * 3];
        d[x * 4 + 1] = s[x * 3 + 1];
        d[x * 4 + 2] = s[x * 3 + 2];
        d[x * 4 + 3] = 0;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per byte shuffle: sixteen bytes loaded at pixel x reach pixel x + 5, so the
// shuffled part stops six pixels before the end and the rest goes the plain way.
__attribute__((target("ssse3"))) void WidenRowShuffled(const uint8_t* s, uint8_t* d, int64_t count) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int64_t x = 0;
    for (; x + 6 <= count; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x * 4), _mm_shuffle_epi8(v, order));
    }
    WidenRowPlain(s, d, count, x);
}
#endif

// The plain loop where the processor lacks the byte shuffle or fast row conversions are off
// (the switch the differential tests use).
void WidenRow(const uint8_t* s, uint8_t* d, int64_t count) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool shuffle = __builtin_cpu_supports("ssse3");
    if (shuffle && FastRowConversions()) {
        WidenRowShuffled(s, d, count);
        return;
    }
#endif
    WidenRowPlain(s, d, count);
}

class TBmpReader {
public:
    // widen: 24-bit rows are stored as 32-bit pixels (fourth byte 0) as they are read.
    explicit TBmpReader(TStream& stream, bool widen = false) : FStream(stream), FWiden(widen) {}

    void Read(TBitmap& result) {
        FStart = FStream.Position();
        FAvail = std::max<int64_t>(0, FStream.Size() - FStart);
        ReadHeaders();
        PreparePixels(result);
        if (FInfo.Compression == BI_RLE8 || FInfo.Compression == BI_RLE4)
            ReadRunLength(result);
        else
            ReadUncompressed(result);
    }

private:
    // Reads count bytes at offset (from the start of the file); they are known to exist.
    void ReadAt(int64_t offset, void* buffer, int64_t count) {
        FStream.SetPosition(FStart + offset);
        if (FStream.Read(buffer, count) != count) Invalid("the file ends early");
    }

    void ReadHeaders();
    void ReadMasks(const uint8_t* header, int64_t headerEnd);
    void ReadPalette(int64_t paletteOffset, int entrySize, int count);
    void PreparePixels(TBitmap& result);
    void ReadUncompressed(TBitmap& result);
    void ReadRunLength(TBitmap& result);
    void ReadWidened(TBitmap& result, int64_t fileRow);

    TStream& FStream;
    bool FWiden = false;
    int64_t FStart = 0;
    int64_t FAvail = 0;
    TBmpInfo FInfo;
};

void TBmpReader::ReadHeaders() {
    if (FAvail < kFileHeaderSize + 4) Invalid("the file is too short for a bitmap header");
    uint8_t fileHeader[kFileHeaderSize + 4];
    ReadAt(0, fileHeader, sizeof fileHeader);
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') Invalid("no \"BM\" signature");
    const uint32_t offBits = GetLE32(fileHeader + 10);
    const uint32_t headerSize = GetLE32(fileHeader + 14);
    if (std::find(kKnownHeaderSizes.begin(), kKnownHeaderSizes.end(), headerSize) ==
        kKnownHeaderSizes.end())
        Invalid(Format("unknown header size %u", headerSize));
    int64_t headerEnd = kFileHeaderSize + int64_t(headerSize);
    if (headerEnd > FAvail) Invalid("the file ends inside the bitmap header");

    std::vector<uint8_t> header(headerSize);
    ReadAt(kFileHeaderSize, header.data(), headerSize);
    const uint8_t* h = header.data();
    FInfo.HeaderSize = headerSize;

    int64_t width, height;
    int entrySize;
    uint32_t clrUsed = 0;
    if (headerSize == kCoreHeaderSize) {
        // Core headers hold unsigned 16-bit sizes and are always bottom-up.
        width = GetLE16(h + 4);
        height = GetLE16(h + 6);
        FInfo.Bits = GetLE16(h + 10);
        FInfo.Compression = BI_RGB;
        entrySize = 3;
        if (FInfo.Bits != 1 && FInfo.Bits != 4 && FInfo.Bits != 8 && FInfo.Bits != 24)
            Invalid(Format("%d bits per pixel in a core header", FInfo.Bits));
    } else {
        width = GetI32(h + 4);
        height = GetI32(h + 8);
        FInfo.Bits = GetLE16(h + 14);
        FInfo.Compression = GetLE32(h + 16);
        FInfo.SizeImage = GetLE32(h + 20);
        clrUsed = GetLE32(h + 32);
        entrySize = 4;
    }
    if (width <= 0) Invalid(Format("width %lld", static_cast<long long>(width)));
    if (height == 0) Invalid("height 0");
    FInfo.TopDown = height < 0;
    if (height < 0) height = -height;  // 64-bit: -INT32_MIN fits
    if (height > std::numeric_limits<int32_t>::max() / 2)
        Invalid(Format("height %lld", static_cast<long long>(height)));
    FInfo.Width = static_cast<int32_t>(width);
    FInfo.Height = static_cast<int32_t>(height);

    const int bits = FInfo.Bits;
    switch (FInfo.Compression) {
        case BI_RGB:
            if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
                Invalid(Format("%d bits per pixel", bits));
            break;
        case BI_RLE8:
            if (bits != 8) Invalid(Format("RLE8 compression with %d bits per pixel", bits));
            break;
        case BI_RLE4:
            if (bits != 4) Invalid(Format("RLE4 compression with %d bits per pixel", bits));
            break;
        case BI_BITFIELDS:
            if (bits != 16 && bits != 32)
                Invalid(Format("bit fields with %d bits per pixel", bits));
            break;
        default:
            Invalid(Format("compression %u is not supported", FInfo.Compression));
    }
    const bool runLength = FInfo.Compression == BI_RLE8 || FInfo.Compression == BI_RLE4;
    if (runLength && FInfo.TopDown) Invalid("a run-length compressed bitmap cannot be top-down");

    if (FInfo.Compression == BI_BITFIELDS) {
        ReadMasks(h, headerEnd);
        if (headerSize == kInfoHeaderSize) headerEnd += 12;  // the masks follow the header
    }

    if (offBits < headerEnd) Invalid(Format("pixel data offset %u lies inside the header", offBits));
    if (offBits > FAvail) Invalid(Format("pixel data offset %u lies beyond the end of the file", offBits));
    FInfo.PixelOffset = offBits;

    if (bits <= 8) {
        // clrUsed 0 means the full 2^bits entries; more than 2^bits cannot be addressed.
        int64_t count = 1 << bits;
        if (clrUsed != 0 && clrUsed < count) count = clrUsed;
        // Only the entries stored before the pixel data count (older writers store fewer
        // entries than the bit depth allows and place the pixels right after them).
        const int64_t room = (FInfo.PixelOffset - headerEnd) / entrySize;
        count = std::min(count, room);
        if (count <= 0) Invalid("no room for the colour table");
        ReadPalette(headerEnd, entrySize, static_cast<int>(count));
    }
}

void TBmpReader::ReadMasks(const uint8_t* header, int64_t headerEnd) {
    uint32_t* m = FInfo.Masks;
    if (FInfo.HeaderSize == kInfoHeaderSize) {
        if (headerEnd + 12 > FAvail) Invalid("the file ends inside the bit-field masks");
        uint8_t raw[12];
        ReadAt(headerEnd, raw, sizeof raw);
        for (int i = 0; i < 3; ++i) m[i] = GetLE32(raw + 4 * i);
    } else {
        for (int i = 0; i < 3; ++i) m[i] = GetLE32(header + 40 + 4 * i);
        if (FInfo.HeaderSize >= 56) m[3] = GetLE32(header + 52);
    }
    const uint32_t limit = FInfo.Bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    static const char* const names[4] = {"red", "green", "blue", "alpha"};
    for (int i = 0; i < 4; ++i) {
        if ((m[i] & ~limit) != 0 || !IsContiguous(m[i]))
            Invalid(Format("%s mask 0x%08X for %d bits per pixel", names[i], m[i], FInfo.Bits));
    }
    if ((m[0] | m[1] | m[2]) == 0) Invalid("all colour masks are zero");
}

void TBmpReader::ReadPalette(int64_t paletteOffset, int entrySize, int count) {
    std::vector<uint8_t> raw(static_cast<size_t>(count * entrySize));
    ReadAt(paletteOffset, raw.data(), static_cast<int64_t>(raw.size()));
    FInfo.Palette.Entries.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + int64_t(i) * entrySize;
        FInfo.Palette.Entries[static_cast<size_t>(i)] = TPaletteEntry{e[2], e[1], e[0], 0};
    }
}

void TBmpReader::PreparePixels(TBitmap& result) {
    const uint32_t* m = FInfo.Masks;
    switch (FInfo.Bits) {
        case 1: FInfo.Format = pf1bit; break;
        case 4: FInfo.Format = pf4bit; break;
        case 8: FInfo.Format = pf8bit; break;
        case 16:
            if (FInfo.Compression == BI_RGB || (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F))
                FInfo.Format = pf15bit;
            else if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F)
                FInfo.Format = pf16bit;
            else {
                FInfo.ConvertMasks = true;
                FInfo.Format = m[3] != 0 ? pf32bit : pf24bit;
            }
            break;
        case 24: FInfo.Format = pf24bit; break;
        case 32:
            FInfo.Format = pf32bit;
            FInfo.ConvertMasks = FInfo.Compression == BI_BITFIELDS &&
                                 !(m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF);
            break;
    }

    // Check that the data can be there before allocating the raster for it.
    const int64_t dataAvail = FAvail - FInfo.PixelOffset;
    if (FInfo.Compression == BI_RLE8 || FInfo.Compression == BI_RLE4) {
        int64_t dataSize = FInfo.SizeImage != 0 ? int64_t(FInfo.SizeImage) : dataAvail;
        if (dataSize > dataAvail)
            Invalid(Format("%lld bytes of compressed data announced, %lld present",
                           static_cast<long long>(dataSize), static_cast<long long>(dataAvail)));
        if (int64_t(FInfo.Width) * FInfo.Height > kMaxRlePixelsPerByte * dataSize)
            Invalid(Format("%d x %d pixels cannot come from %lld bytes of compressed data",
                           FInfo.Width, FInfo.Height, static_cast<long long>(dataSize)));
        FInfo.SizeImage = static_cast<uint32_t>(dataSize);
    } else {
        const int64_t rowBytes = DibRowBytes(FInfo.Width, FInfo.Bits);
        if (rowBytes > dataAvail || FInfo.Height > dataAvail / rowBytes)
            Invalid(Format("%lld bytes of pixel data needed, %lld present",
                           static_cast<long long>(rowBytes) * FInfo.Height,
                           static_cast<long long>(dataAvail)));
    }

    // Widened only where rows are read as they are stored; other layouts are converted
    // after decoding, by the caller.
    FWiden = FWiden && FInfo.Format == pf24bit && FInfo.Bits == 24 && FInfo.Compression == BI_RGB && !FInfo.ConvertMasks;
    if (FWiden) FInfo.Format = pf32bit;
    result.SetPixelFormat(FInfo.Format);
    if (FInfo.Bits <= 8) result.SetPalette(FInfo.Palette);
    // Uncompressed rows in the raster's own layout are read straight in, every byte of them.
    if (FInfo.Compression != BI_RLE8 && FInfo.Compression != BI_RLE4 && !FInfo.ConvertMasks)
        result.SetSizeForDecoding(FInfo.Width, FInfo.Height);
    else
        result.SetSize(FInfo.Width, FInfo.Height);
    if (result.Width() != FInfo.Width || result.Height() != FInfo.Height ||
        result.PixelFormat() != FInfo.Format ||
        result.RowBytes() < DibRowBytes(FInfo.Width, BitsPerPixel(FInfo.Format)))
        throw EInvalidGraphicOperation("Bitmap storage does not match the requested size");
}

void TBmpReader::ReadUncompressed(TBitmap& result) {
    const int64_t fileRow = DibRowBytes(FInfo.Width, FInfo.Bits);
    const int64_t rasterRow = DibRowBytes(FInfo.Width, BitsPerPixel(FInfo.Format));
    TChannel ch[4];
    for (int i = 0; i < 4; ++i) ch[i] = TChannel::FromMask(FInfo.Masks[i]);
    FStream.SetPosition(FStart + FInfo.PixelOffset);
    if (FWiden) {
        ReadWidened(result, fileRow);
        return;
    }
    // Rows stored as the raster stores them are read straight into it.
    if (!FInfo.ConvertMasks && fileRow == rasterRow && fileRow <= result.RowBytes()) {
        for (int32_t r = 0; r < FInfo.Height; ++r) {
            uint8_t* dst = result.ScanLine(FInfo.TopDown ? r : FInfo.Height - 1 - r);
            if (FStream.Read(dst, fileRow) != fileRow) Invalid("the file ends inside the pixel data");
        }
        return;
    }
    std::vector<uint8_t> row(static_cast<size_t>(fileRow));
    for (int32_t r = 0; r < FInfo.Height; ++r) {
        if (FStream.Read(row.data(), fileRow) != fileRow) Invalid("the file ends inside the pixel data");
        uint8_t* dst = result.ScanLine(FInfo.TopDown ? r : FInfo.Height - 1 - r);
        if (FInfo.ConvertMasks)
            ConvertMaskedRow(FInfo, ch, row.data(), dst);
        else
            std::memcpy(dst, row.data(), static_cast<size_t>(std::min(fileRow, rasterRow)));
    }
}

// 24-bit rows into a 32-bit raster: read some rows at a time into a small buffer (it stays
// in the cache) and widened from there, one pass over the raster instead of a 24-bit
// raster written, read back and converted.
void TBmpReader::ReadWidened(TBitmap& result, int64_t fileRow) {
    const int32_t blockRows = static_cast<int32_t>(std::clamp<int64_t>((int64_t(256) << 10) / fileRow, 1, FInfo.Height));
    std::vector<uint8_t> block(static_cast<size_t>(fileRow * blockRows));
    const int64_t width = FInfo.Width;
    for (int32_t r = 0; r < FInfo.Height;) {
        const int32_t n = std::min(blockRows, FInfo.Height - r);
        if (FStream.Read(block.data(), fileRow * n) != fileRow * n) Invalid("the file ends inside the pixel data");
        for (int32_t k = 0; k < n; ++k, ++r) {
            const uint8_t* s = block.data() + k * fileRow;
            WidenRow(s, result.ScanLine(FInfo.TopDown ? r : FInfo.Height - 1 - r), width);
        }
    }
}

// RLE8 and RLE4: rows run bottom-up; pixels the data never sets keep index 0, as the platform's
// own decoder leaves them. Runs and deltas that leave the row or the picture are cut.
void TBmpReader::ReadRunLength(TBitmap& result) {
    std::vector<uint8_t> data(FInfo.SizeImage);
    ReadAt(FInfo.PixelOffset, data.data(), static_cast<int64_t>(data.size()));

    const bool four = FInfo.Compression == BI_RLE4;
    const int64_t width = FInfo.Width;
    const int32_t height = FInfo.Height;
    for (int32_t r = 0; r < height; ++r)
        std::memset(result.ScanLine(r), 0, static_cast<size_t>(result.RowBytes()));

    int64_t x = 0;
    int32_t y = 0;  // counted from the bottom row
    uint8_t* row = result.ScanLine(height - 1);
    auto put = [&](uint8_t index) {
        if (x < width) {
            if (four) {
                uint8_t& b = row[x >> 1];
                b = (x & 1) ? uint8_t((b & 0xF0) | (index & 0x0F)) : uint8_t((b & 0x0F) | (index << 4));
            } else {
                row[x] = index;
            }
        }
        ++x;
    };

    const size_t size = data.size();
    size_t pos = 0;
    while (y < height) {
        if (pos == size) break;  // no end-of-bitmap mark: the data's end ends the picture
        if (pos + 2 > size) Invalid("the compressed data ends inside a code");
        const uint8_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            // Encoded run; RLE4 alternates the two nibbles, high first.
            if (x >= width) continue;
            for (int i = 0; i < count && x < width; ++i)
                put(four ? uint8_t((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                if (y < height) row = result.ScanLine(height - 1 - y);
                break;
            case 1:  // end of bitmap
                return;
            case 2: {  // delta: right and up (further from the bottom)
                if (pos + 2 > size) Invalid("the compressed data ends inside a delta");
                x = std::min<int64_t>(x + data[pos], width);
                const int64_t ny = int64_t(y) + data[pos + 1];
                pos += 2;
                if (ny >= height) return;
                if (ny != y) {
                    y = static_cast<int32_t>(ny);
                    row = result.ScanLine(height - 1 - y);
                }
                break;
            }
            default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
                const size_t n = value;
                size_t bytes = four ? (n + 1) / 2 : n;
                const size_t padded = bytes + (bytes & 1);
                if (pos + bytes > size) Invalid("the compressed data ends inside an absolute run");
                for (size_t i = 0; i < n && x < width; ++i) {
                    const uint8_t b = data[pos + (four ? i / 2 : i)];
                    put(four ? uint8_t((i & 1) ? b & 0x0F : b >> 4) : b);
                }
                // The pad byte may be missing at the very end of the data.
                pos = std::min(pos + padded, size);
                break;
            }
        }
    }
}

// What the raster's format is written as.
struct TSaveLayout {
    int Bits;
    uint32_t Compression;
};

TSaveLayout SaveLayoutOf(const TBitmap& bmp) {
    switch (bmp.PixelFormat()) {
        case pf1bit: return {1, BI_RGB};
        case pf4bit: return {4, BI_RGB};
        case pf8bit: return {8, BI_RGB};
        case pf15bit: return {16, BI_RGB};
        case pf16bit: return {16, BI_BITFIELDS};
        case pf24bit: return {24, BI_RGB};
        case pf32bit: return {32, BI_RGB};
        case pfDevice: return {32, BI_RGB};
        case pfCustom: break;
    }
    throw EInvalidGraphicOperation(
        Format("Cannot save a bitmap of pixel format %s", PixelFormatName(bmp.PixelFormat())));
}

}  // namespace

void TBitmap::LoadImageStream(TStream& stream) {
    TBitmap fresh;
    TBmpReader(stream).Read(fresh);
    // Decoded completely before this raster changes; then its storage is taken, not copied.
    TakePixels(fresh);
}

void TBitmap::LoadImageStreamAs32(TStream& stream) {
    TBitmap fresh;
    TBmpReader(stream, true).Read(fresh);
    fresh.SetPixelFormat(pf32bit);  // formats the reader does not widen
    TakePixels(fresh);
}

void TBitmap::SaveImageStream(TStream& stream) {
    if (Empty())
        throw EInvalidGraphicOperation(
            Format("Cannot save an empty bitmap (%d x %d pixels)", Width(), Height()));
    const TSaveLayout layout = SaveLayoutOf(*this);
    if (StorageBits() != layout.Bits)
        throw EInvalidGraphicOperation(
            Format("Cannot save a bitmap of pixel format %s", PixelFormatName(PixelFormat())));

    const int64_t rowBytes = DibRowBytes(Width(), layout.Bits);
    // Bytes of a row that carry pixels; the padding after them is written as zeros.
    const int64_t usedBytes = (int64_t(Width()) * layout.Bits + 7) / 8;
    const uint32_t masksSize = layout.Compression == BI_BITFIELDS ? 12 : 0;
    uint32_t tableEntries = 0, clrUsed = 0;
    if (layout.Bits <= 8) {
        // clrUsed tells the real palette size (at least one entry); the table itself always has
        // 2^bits entries, padded with black, for readers that ignore clrUsed.
        tableEntries = 1u << layout.Bits;
        clrUsed = static_cast<uint32_t>(
            std::clamp<size_t>(Palette().Entries.size(), 1, tableEntries));
    }
    const int64_t offBits = kFileHeaderSize + kInfoHeaderSize + masksSize + 4 * tableEntries;
    const int64_t imageSize = rowBytes * Height();
    const int64_t fileSize = offBits + imageSize;
    if (fileSize > std::numeric_limits<uint32_t>::max())
        throw EInvalidGraphicOperation("Bitmap too large for a bitmap file");

    std::vector<uint8_t> head;
    head.reserve(static_cast<size_t>(offBits));
    head.push_back('B');
    head.push_back('M');
    AppendLE32(head, static_cast<uint32_t>(fileSize));
    AppendLE32(head, 0);
    AppendLE32(head, static_cast<uint32_t>(offBits));
    AppendLE32(head, kInfoHeaderSize);
    AppendLE32(head, static_cast<uint32_t>(Width()));
    AppendLE32(head, static_cast<uint32_t>(Height()));  // positive: bottom-up
    AppendLE16(head, 1);
    AppendLE16(head, static_cast<uint16_t>(layout.Bits));
    AppendLE32(head, layout.Compression);
    AppendLE32(head, static_cast<uint32_t>(imageSize));
    AppendLE32(head, kPixelsPerMetre);
    AppendLE32(head, kPixelsPerMetre);
    AppendLE32(head, clrUsed);
    AppendLE32(head, 0);
    if (masksSize) {
        AppendLE32(head, 0xF800);
        AppendLE32(head, 0x07E0);
        AppendLE32(head, 0x001F);
    }
    for (uint32_t i = 0; i < tableEntries; ++i) {
        TPaletteEntry e;
        if (i < clrUsed && i < Palette().Entries.size()) e = Palette().Entries[i];
        head.push_back(e.Blue);
        head.push_back(e.Green);
        head.push_back(e.Red);
        head.push_back(0);
    }
    stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

    // Rows go out in blocks of about 1 MiB: one write per row costs a call per row.
    const int32_t blockRows = static_cast<int32_t>(std::clamp<int64_t>((int64_t(1) << 20) / rowBytes, 1, Height()));
    std::vector<uint8_t> block(static_cast<size_t>(rowBytes * blockRows), 0);
    const int64_t copy = std::min<int64_t>(usedBytes, RowBytes());
    for (int32_t r = Height() - 1; r >= 0;) {
        int32_t n = 0;
        for (; n < blockRows && r >= 0; ++n, --r)
            std::memcpy(block.data() + n * rowBytes, ScanLine(r), static_cast<size_t>(copy));
        stream.WriteBuffer(block.data(), n * rowBytes);
    }
}

void TBitmap::LoadImageFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    LoadImageStream(file);
}

void TBitmap::SaveImageFile(const std::string& fileName) {
    WriteFileReplacing(fileName, [this](TStream& stream) { SaveImageStream(stream); }, TSync::WhenReplacing);
}

}  // namespace qv
