#include "imageio/TIFFGraphic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"

namespace qv {

const TBitmapClass TTIFFGraphic::Class{"TTIFFGraphic", &TBitmap::Class, &CreateInstance<TTIFFGraphic>};

namespace {

enum : uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagStripOffsets = 273,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagPredictor = 317,
    tagColorMap = 320,
    tagExtraSamples = 338,
};

enum : uint16_t { ttByte = 1, ttAscii = 2, ttShort = 3, ttLong = 4, ttSByte = 6, ttUndefined = 7, ttSShort = 8, ttSLong = 9 };

// Bytes of one value of a type whose values this reader can use as numbers; 0 otherwise.
int TypeSize(uint16_t type) {
    switch (type) {
        case ttByte:
        case ttAscii:
        case ttSByte:
        case ttUndefined: return 1;
        case ttShort:
        case ttSShort: return 2;
        case ttLong:
        case ttSLong: return 4;
        default: return 0;
    }
}

constexpr int64_t kMaxPixelBytes = int64_t(1) << 30;  // the raster's own limit

[[noreturn]] void Invalid() { throw EInvalidGraphic("Invalid TIFF file."); }

// How a decoded row reaches the scan line.
enum class TRowKind { Copy, Samples16To8, Rgb, Rgba, Cmyk, Lab };

struct TRowPlan {
    TPixelFormat Format = pfDevice;
    TRowKind Kind = TRowKind::Copy;
};

TPixelConverter ConverterOf(TRowKind kind) {
    switch (kind) {
        case TRowKind::Samples16To8: return &Samples16To8;
        case TRowKind::Rgb: return &RgbToBgr;
        case TRowKind::Rgba: return &RgbaToBgra;
        case TRowKind::Cmyk: return &CmykToBgr;
        case TRowKind::Lab: return &LabToBgr;
        case TRowKind::Copy: break;
    }
    return nullptr;
}

TRowPlan ChoosePlan(int colourSamples, int extraSamples, uint32_t photometric, uint32_t bits) {
    const bool bits8or16 = bits == 8 || bits == 16;
    switch (colourSamples) {
        case 1:
            switch (bits) {
                case 1: return {pf1bit, TRowKind::Copy};
                case 4: return {pf4bit, TRowKind::Copy};
                case 8: return {pf8bit, TRowKind::Copy};
                case 16: return {pf8bit, TRowKind::Samples16To8};
                default: return {pfDevice, TRowKind::Copy};
            }
        case 3:
            // One extra sample (associated or unassociated alpha, or unspecified data)
            // travels in the fourth byte.
            if (photometric == 2 && bits8or16)
                return extraSamples == 0 ? TRowPlan{pf24bit, TRowKind::Rgb} : TRowPlan{pf32bit, TRowKind::Rgba};
            if (photometric == 6 && bits == 8) return {pf24bit, TRowKind::Copy};
            if (photometric == 8 && bits == 8) return {pf24bit, TRowKind::Lab};
            return {pfDevice, TRowKind::Copy};
        case 4:
            if (photometric == 2 && bits8or16) return {pf32bit, TRowKind::Rgba};
            if (photometric == 5 && bits8or16) return {pf24bit, TRowKind::Cmyk};
            return {pfDevice, TRowKind::Copy};
        default: return {pfDevice, TRowKind::Copy};
    }
}

// Bytes a converter reads from and writes for one row of count samples.
int64_t InputBytes(TRowKind kind, int64_t count, uint32_t bits) {
    switch (kind) {
        case TRowKind::Samples16To8: return 2 * count;
        case TRowKind::Lab: return count;
        default: return bits == 16 ? 2 * count : count;
    }
}
int64_t OutputBytes(TRowKind kind, int64_t count) {
    switch (kind) {
        case TRowKind::Samples16To8: return count;
        case TRowKind::Rgb:
        case TRowKind::Lab: return count / 3 * 3;
        case TRowKind::Rgba: return count / 4 * 4;
        case TRowKind::Cmyk: return count / 4 * 3;
        case TRowKind::Copy: break;
    }
    return 0;
}

int64_t RasterRowBytes(int64_t width, TPixelFormat pf) {
    const int bits = pf == pfDevice ? 32 : BitsPerPixel(pf);
    return (width * bits + 31) / 32 * 4;
}

uint8_t Grey(int k, int count) { return uint8_t(count <= 1 ? 0 : k * 255 / (count - 1)); }

// Horizontal differencing of 16-bit samples (already in machine order): the sums are
// taken on whole samples, step samples apart.
void UndoHorizontalDiff16(uint8_t* row, int step, int64_t n) {
    auto* w = reinterpret_cast<uint16_t*>(row);
    for (int64_t k = 0; k < int64_t(step) * n; ++k) {
        uint16_t a, b;
        std::memcpy(&a, w + k, 2);
        std::memcpy(&b, w + k + step, 2);
        b = uint16_t(b + a);
        std::memcpy(w + k + step, &b, 2);
    }
}

}  // namespace

TTIFFGraphic::TTIFFGraphic() { SetPixelFormat(pf24bit); }

void TTIFFGraphic::SaveImageStream(TStream&) {}

uint32_t TTIFFGraphic::Get16(const uint8_t* p) const {
    return FBigEndian ? uint32_t((p[0] << 8) | p[1]) : uint32_t(p[0] | (p[1] << 8));
}

uint32_t TTIFFGraphic::Get32(const uint8_t* p) const {
    return FBigEndian ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                      : uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

const TTIFFGraphic::TDirEntry* TTIFFGraphic::FindTag(uint16_t tag) const {
    auto it = std::lower_bound(FDirectory.begin(), FDirectory.end(), tag,
                               [](const TDirEntry& e, uint16_t t) { return e.Tag < t; });
    return it != FDirectory.end() && it->Tag == tag ? &*it : nullptr;
}

uint32_t TTIFFGraphic::SingleValue(uint16_t tag, uint32_t def) const {
    const TDirEntry* e = FindTag(tag);
    if (e == nullptr) return def;
    if (e->Count != 1) return Get32(e->Raw);
    switch (e->Type) {
        case ttByte: return e->Raw[0];
        case ttShort:
        case ttSShort: return Get16(e->Raw);
        case ttLong:
        case ttSLong: return Get32(e->Raw);
        default: return def;
    }
}

uint32_t TTIFFGraphic::CountOf(uint16_t tag, uint32_t def) const {
    const TDirEntry* e = FindTag(tag);
    if (e == nullptr) return def;
    switch (e->Type) {
        case ttByte: return e->Count & 0xFF;
        case ttShort:
        case ttSShort: return e->Count & 0xFFFF;
        case ttLong:
        case ttSLong: return e->Count;
        default: return def;
    }
}

std::vector<uint32_t> TTIFFGraphic::ValueList(TStream& stream, uint16_t tag) const {
    const TDirEntry* e = FindTag(tag);
    if (e == nullptr) return {};
    const int size = TypeSize(e->Type);
    if (size == 0) throw EInvalidGraphic(Format("TIFF: tag %u has a type this reader cannot use: %u", unsigned(tag), unsigned(e->Type)));
    const int64_t bytes = int64_t(e->Count) * size;
    std::vector<uint8_t> data;
    if (bytes <= 4) {
        // Values that fit are stored in the entry itself.
        data.assign(e->Raw, e->Raw + bytes);
    } else {
        stream.Seek(FBasePosition + Get32(e->Raw), TSeekOrigin::soBeginning);
        // Sized by what the file holds, not by the count it announces.
        if (bytes > stream.Size() - stream.Position()) throw EReadError();
        data.resize(size_t(bytes));
        stream.ReadBuffer(data.data(), bytes);
    }
    std::vector<uint32_t> values(e->Count);
    for (size_t i = 0; i < values.size(); ++i) {
        const uint8_t* p = data.data() + i * size_t(size);
        values[i] = size == 1 ? p[0] : size == 2 ? Get16(p) : Get32(p);
    }
    return values;
}

void TTIFFGraphic::LoadImageStream(TStream& stream) {
    // ---- header and directory
    FBasePosition = stream.Position();
    uint8_t header[8];
    stream.ReadBuffer(header, 8);
    FBigEndian = header[0] == 'M' && header[1] == 'M';
    FVersion = uint16_t(Get16(header + 2));
    FFirstIFD = Get32(header + 4);
    if (FVersion != 42) Invalid();

    stream.Seek(FBasePosition + FFirstIFD, TSeekOrigin::soBeginning);
    uint8_t countBytes[2];
    stream.ReadBuffer(countBytes, 2);
    const uint32_t entryCount = Get16(countBytes);
    std::vector<uint8_t> entries(size_t(entryCount) * 12);
    stream.ReadBuffer(entries.data(), int64_t(entries.size()));
    FDirectory.assign(entryCount, TDirEntry{});
    for (uint32_t i = 0; i < entryCount; ++i) {
        const uint8_t* p = entries.data() + size_t(i) * 12;
        TDirEntry& e = FDirectory[i];
        e.Tag = uint16_t(Get16(p));
        e.Type = uint16_t(Get16(p + 2));
        e.Count = Get32(p + 4);
        std::memcpy(e.Raw, p + 8, 4);
    }

    // ---- fields
    const uint32_t photometric = SingleValue(tagPhotometric, 0) & 0xFF;
    const uint32_t stripCount = CountOf(tagStripOffsets, 1);
    const uint32_t samples = SingleValue(tagSamplesPerPixel, 1) & 0xFF;
    std::vector<uint32_t> bitsList = ValueList(stream, tagBitsPerSample);
    if (bitsList.empty()) bitsList.push_back(1);
    const uint32_t bits = bitsList[0];
    const int64_t bitsPerPixel = int64_t(bits) * samples;
    if (bitsPerPixel > 255)
        throw EInvalidGraphic(Format("TIFF: unsupported pixel size: %u samples of %u bits", samples, bits));

    if (stripCount == 0) throw EInvalidGraphic("TIFF: StripOffsets has no strips (count 0)");
    // With one strip the picture's height stands in for RowsPerStrip.
    std::vector<uint32_t> rowsPerStrip, offsets, byteCounts;
    if (stripCount < 2) {
        offsets.push_back(SingleValue(tagStripOffsets, 0));
        byteCounts.push_back(SingleValue(tagStripByteCounts, 0));
    } else {
        rowsPerStrip = ValueList(stream, tagRowsPerStrip);
        if (rowsPerStrip.empty())
            throw EInvalidGraphic(Format("TIFF: RowsPerStrip is missing for %u strips", stripCount));
        offsets = ValueList(stream, tagStripOffsets);
        offsets.resize(stripCount);
        // Strips without a byte count hold nothing to decode.
        byteCounts = ValueList(stream, tagStripByteCounts);
        byteCounts.resize(stripCount, 0);
    }

    const TDirEntry* extra = FindTag(tagExtraSamples);
    const int extraSamples = extra != nullptr ? int(std::min<uint32_t>(extra->Count, 256)) : 0;
    const int colourSamples = int(samples) - extraSamples;
    const TRowPlan plan = ChoosePlan(colourSamples, extraSamples, photometric, bits);

    const uint32_t width = SingleValue(tagImageWidth, 0);
    const uint32_t height = SingleValue(tagImageLength, 0);
    if (width == 0 || height == 0) Invalid();
    const int64_t rasterRow = RasterRowBytes(width, plan.Format);
    if (width > INT32_MAX || height > INT32_MAX || rasterRow * int64_t(height) > kMaxPixelBytes)
        throw EInvalidGraphic(Format("TIFF: %u x %u pixels are more than this program can hold", width, height));

    // ---- what one stored row is and where it goes
    const int64_t bytesPerRow = (int64_t(width) * bitsPerPixel + 7) / 8;
    const int64_t sampleCount = int64_t(width) * samples;
    if (plan.Kind == TRowKind::Copy) {
        if (bytesPerRow > rasterRow)
            throw EInvalidGraphic(Format("TIFF: rows of %u samples of %u bits do not fit a %s picture",
                                         samples, bits, PixelFormatName(plan.Format)));
    } else if (InputBytes(plan.Kind, sampleCount, bits) > bytesPerRow ||
               OutputBytes(plan.Kind, sampleCount) > rasterRow) {
        throw EInvalidGraphic(Format("TIFF: %u samples per pixel (%d extra) of %u bits do not fit a %s picture",
                                     samples, extraSamples, bits, PixelFormatName(plan.Format)));
    }

    const int64_t decodedBytes = bytesPerRow * int64_t(height);
    const int64_t largest = std::max(decodedBytes, rasterRow * int64_t(height));
    const int64_t available = std::max<int64_t>(0, stream.Size() - FBasePosition);
    if (decodedBytes > kMaxPixelBytes ||
        (largest > SmallPictureBytes && largest > MaxExpansion * available))
        throw EInvalidGraphic(Format("TIFF: %u x %u pixels of %lld bits cannot come from a file of %lld bytes",
                                     width, height, static_cast<long long>(bitsPerPixel),
                                     static_cast<long long>(available)));

    const uint32_t predictor = SingleValue(tagPredictor, 0);
    const int diffStep = samples == 3 ? 3 : samples == 4 ? 4 : 1;
    if (predictor == 2) {
        const int64_t touched = bits == 16 ? 2 * int64_t(diffStep) * width : int64_t(diffStep) * width;
        if (touched > bytesPerRow)
            throw EInvalidGraphic(Format("TIFF: Predictor 2 with %u samples of %u bits is not supported", samples, bits));
    }

    const uint32_t compression = SingleValue(tagCompression, 0);
    std::unique_ptr<TDecoder> decoder;
    switch (compression) {
        case 1: break;
        case 5: decoder = std::make_unique<TTIFFLZW>(); break;
        case 32773: decoder = std::make_unique<TPackbitsRLE>(); break;
        default: throw EInvalidGraphic("TIFF: Unknown compression scheme");
    }

    // ---- palette of one-sample pictures
    TLogPalette palette;
    if (colourSamples == 1) {
        const int entryCount = bitsPerPixel == 1 ? 2 : bitsPerPixel == 4 ? 16 : 256;
        palette.Entries.resize(size_t(entryCount));
        if (photometric == 3 && bitsPerPixel > 1) {
            // The colour map has room for 256 entries per table.
            if (bitsPerPixel > 8)
                throw EInvalidGraphic(Format("TIFF: palette pictures of %lld bits per pixel are not supported",
                                             static_cast<long long>(bitsPerPixel)));
            const int n = 1 << bitsPerPixel;
            uint8_t map[6 * 256];
            stream.Seek(FBasePosition + SingleValue(tagColorMap, 0), TSeekOrigin::soBeginning);
            stream.ReadBuffer(map, 6 * n);
            for (int i = 0; i < 3 * n; ++i) FColorMap[i] = uint16_t(Get16(map + 2 * i));
            for (int k = 0; k < std::min(n, entryCount); ++k)
                palette.Entries[size_t(k)] = {uint8_t(FColorMap[k] >> 8), uint8_t(FColorMap[n + k] >> 8),
                                              uint8_t(FColorMap[2 * n + k] >> 8), 0};
        } else {
            for (int k = 0; k < entryCount; ++k) {
                uint8_t g;
                if (photometric == 0)
                    g = entryCount == 2 ? uint8_t(k == 0 ? 255 : 0) : entryCount == 16 ? uint8_t((15 - k) * 16) : uint8_t(255 - k);
                else if (photometric == 1)
                    g = entryCount == 2 ? uint8_t(k == 0 ? 0 : 255) : entryCount == 16 ? uint8_t(k * 16) : uint8_t(k);
                else  // 1-bit palette pictures and other kinds: a plain grey ramp
                    g = Grey(k, entryCount);
                palette.Entries[size_t(k)] = {g, g, g, 0};
            }
        }
    }

    // ---- the picture changes from here on
    ReleaseHandle();
    SetPixelFormat(plan.Format);
    if (colourSamples == 1) SetPalette(palette);
    SetWidth(int32_t(width));
    SetHeight(int32_t(height));

    const TPixelConverter convert = ConverterOf(plan.Kind);
    const bool swap16 = FBigEndian && bits == 16;
    const int64_t streamSize = stream.Size();
    int32_t r = 0;
    for (uint32_t s = 0; s < stripCount && r < int32_t(height); ++s) {
        const int64_t start = FBasePosition + offsets[s];
        const uint32_t listed = stripCount == 1 ? height : rowsPerStrip[std::min<size_t>(s, rowsPerStrip.size() - 1)];
        // Rows below the picture are never shown, so they need no room.
        const int64_t rows = std::min<int64_t>(listed, int64_t(height) - r);
        const int64_t stripSize = rows * bytesPerRow;
        if (stripSize == 0) continue;
        std::vector<uint8_t> strip(size_t(stripSize), 0);
        stream.Seek(start, TSeekOrigin::soBeginning);
        if (decoder) {
            // No LZW or PackBits stream needs more than about one and a half times the
            // bytes it decodes to; the cap keeps a file whose strips all name one huge byte
            // range from being read once per strip.
            const int64_t packedSize = std::min<int64_t>(
                {byteCounts[s], std::max<int64_t>(0, streamSize - start), 2 * stripSize + 4096, INT32_MAX});
            std::vector<uint8_t> packed(static_cast<size_t>(packedSize));
            const int64_t got = stream.Read(packed.data(), packedSize);
            const uint8_t* source = packed.data();
            decoder->Decode(source, strip.data(), int32_t(got), int32_t(stripSize));
        } else {
            stream.Read(strip.data(), stripSize);
        }
        for (int64_t off = 0; off < stripSize && r < int32_t(height); off += bytesPerRow, ++r) {
            uint8_t* row = strip.data() + off;
            if (swap16) SwapBytes16Array(row, int32_t(bytesPerRow / 2));
            if (predictor == 2) {
                if (bits == 16)
                    UndoHorizontalDiff16(row, diffStep, int64_t(width) - 1);
                else if (diffStep == 3)
                    UndoHorizontalDiff3(row, int32_t(width) - 1);
                else if (diffStep == 4)
                    UndoHorizontalDiff4(row, int32_t(width) - 1);
                else
                    UndoHorizontalDiff1(row, int32_t(width) - 1);
            }
            if (convert != nullptr)
                convert(row, ScanLine(r), int(bits), int(sampleCount));
            else
                std::memcpy(ScanLine(r), row, size_t(bytesPerRow));
        }
    }
    Changed();
}

}  // namespace qv
