#include "imageio/TIFFGraphic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"
#include "imageio/ReaderSupport.h"

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
    tagPlanarConfiguration = 284,
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

constexpr const char* kFormat = "TIFF";

[[noreturn]] void Invalid() { throw EInvalidGraphic("Invalid TIFF file."); }

// How a decoded row reaches the scan line.
enum class TRowKind { Copy, Samples16To8, Rgb, Rgba, Cmyk, Lab, Expand2 };

struct TRowPlan {
    TPixelFormat Format = pfDevice;
    TRowKind Kind = TRowKind::Copy;
};

// Two-bit samples, four to a byte with the first in the high bits, one byte each.
void Expand2To8(const void* source, void* dest, int, int count) {
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count; ++i) out[i] = uint8_t((in[i / 4] >> (6 - 2 * (i % 4))) & 3);
}

TPixelConverter ConverterOf(TRowKind kind) {
    switch (kind) {
        case TRowKind::Expand2: return &Expand2To8;
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
                case 2: return {pf8bit, TRowKind::Expand2};
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
        case TRowKind::Expand2: return (count + 3) / 4;
        default: return bits == 16 ? 2 * count : count;
    }
}
int64_t OutputBytes(TRowKind kind, int64_t count) {
    switch (kind) {
        case TRowKind::Samples16To8:
        case TRowKind::Expand2: return count;
        case TRowKind::Rgb:
        case TRowKind::Lab: return count / 3 * 3;
        case TRowKind::Rgba: return count / 4 * 4;
        case TRowKind::Cmyk: return count / 4 * 3;
        case TRowKind::Copy: break;
    }
    return 0;
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
    if (size == 0) throw EReaderError("TIFF", Format("tag %u has a type this reader cannot use: %u", unsigned(tag), unsigned(e->Type)));
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

// Everything the directory says about the picture, checked before anything is allocated.
struct TTIFFGraphic::TLayout {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t Bits = 0;
    uint32_t Samples = 0;
    int ExtraSamples = 0;
    int ColourSamples = 0;
    uint32_t Photometric = 0;
    bool Planar = false;  // PlanarConfiguration 2: one plane of strips per sample
    TRowPlan Plan;
    int64_t BytesPerRow = 0;  // one stored row (of one plane, when planar)
    int64_t PlaneRowBytes = 0;
    uint32_t Compression = 1;
    uint32_t Predictor = 1;
    int DiffStep = 1;
    uint32_t StripCount = 0;
    std::vector<uint32_t> RowsPerStrip, Offsets, ByteCounts;
    TLogPalette Palette;
};

void TTIFFGraphic::ReadDirectory(TStream& stream) {
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
}

TTIFFGraphic::TLayout TTIFFGraphic::ReadLayout(TStream& stream) const {
    TLayout l;
    l.Photometric = SingleValue(tagPhotometric, 0) & 0xFF;
    l.Samples = SingleValue(tagSamplesPerPixel, 1) & 0xFF;
    std::vector<uint32_t> bitsList = ValueList(stream, tagBitsPerSample);
    if (bitsList.empty()) bitsList.push_back(1);
    l.Bits = bitsList[0];
    const int64_t bitsPerPixel = int64_t(l.Bits) * l.Samples;
    if (bitsPerPixel > 255)
        ReaderFail(kFormat, Format("unsupported pixel size: %u samples of %u bits", l.Samples, l.Bits));
    l.Planar = SingleValue(tagPlanarConfiguration, 1) == 2 && l.Samples > 1;
    l.Compression = SingleValue(tagCompression, 0);
    if (l.Compression != 1 && l.Compression != 5 && l.Compression != 32773)
        ReaderFail(kFormat, "Unknown compression scheme");

    const TDirEntry* extra = FindTag(tagExtraSamples);
    l.ExtraSamples = extra != nullptr ? int(std::min<uint32_t>(extra->Count, 256)) : 0;
    l.ColourSamples = int(l.Samples) - l.ExtraSamples;
    l.Plan = ChoosePlan(l.ColourSamples, l.ExtraSamples, l.Photometric, l.Bits);

    l.Width = SingleValue(tagImageWidth, 0);
    l.Height = SingleValue(tagImageLength, 0);
    if (l.Width == 0 || l.Height == 0) Invalid();
    // A layout without a raster format would be copied as raw bytes: garbage, not a picture.
    if (l.Plan.Format == pfDevice)
        ReaderFail(kFormat, Format("%u samples per pixel (%d extra) of %u bits with photometric interpretation %u "
                                   "are not supported",
                                   l.Samples, l.ExtraSamples, l.Bits, l.Photometric));
    if (l.Width > INT32_MAX || l.Height > INT32_MAX ||
        RasterRowBytes(l.Width, l.Plan.Format) * int64_t(l.Height) > kMaxRasterBytes)
        ReaderFail(kFormat, Format("%u x %u pixels are more than this program can hold", l.Width, l.Height));
    const int64_t rasterRow = RasterRowBytes(l.Width, l.Plan.Format);

    // What one stored row is and where it goes. Separate planes are put back together into
    // interleaved rows of whole bytes per sample.
    l.BytesPerRow = (int64_t(l.Width) * bitsPerPixel + 7) / 8;
    l.PlaneRowBytes = l.Planar ? (int64_t(l.Width) * l.Bits + 7) / 8 : l.BytesPerRow;
    if (l.Planar && l.Bits != 8 && l.Bits != 16)
        ReaderFail(kFormat, Format("separate planes of %u-bit samples are not supported", l.Bits));
    const int64_t sampleCount = int64_t(l.Width) * l.Samples;
    if (l.Plan.Kind == TRowKind::Copy) {
        if (l.BytesPerRow > rasterRow)
            ReaderFail(kFormat, Format("rows of %u samples of %u bits do not fit a %s picture", l.Samples, l.Bits,
                                       PixelFormatName(l.Plan.Format)));
    } else if (InputBytes(l.Plan.Kind, sampleCount, l.Bits) > l.BytesPerRow ||
               OutputBytes(l.Plan.Kind, sampleCount) > rasterRow) {
        ReaderFail(kFormat, Format("%u samples per pixel (%d extra) of %u bits do not fit a %s picture", l.Samples,
                                   l.ExtraSamples, l.Bits, PixelFormatName(l.Plan.Format)));
    }

    const int64_t decodedBytes = l.BytesPerRow * int64_t(l.Height);
    const int64_t largest = std::max(decodedBytes, rasterRow * int64_t(l.Height));
    const int64_t available = std::max<int64_t>(0, stream.Size() - FBasePosition);
    if (decodedBytes > kMaxRasterBytes)
        ReaderFail(kFormat, Format("%u x %u pixels of %lld bits are more than this program can hold", l.Width, l.Height,
                                   static_cast<long long>(bitsPerPixel)));
    if (largest > SmallPictureBytes)
        CheckFitsFile(kFormat, l.Width, l.Height, (largest + MaxExpansion - 1) / MaxExpansion, available);

    l.Predictor = SingleValue(tagPredictor, 0);
    // Within a plane a pixel has one sample.
    l.DiffStep = l.Planar ? 1 : l.Samples == 3 ? 3 : l.Samples == 4 ? 4 : 1;
    if (l.Predictor == 2) {
        const int64_t touched = int64_t(l.DiffStep) * l.Width * (l.Bits == 16 ? 2 : 1);
        if (touched > l.PlaneRowBytes || (l.Bits != 8 && l.Bits != 16))
            ReaderFail(kFormat, Format("Predictor 2 with %u samples of %u bits is not supported", l.Samples, l.Bits));
    }

    return l;
}

void TTIFFGraphic::ReadStripTable(TStream& stream, TLayout& l) const {
    l.StripCount = CountOf(tagStripOffsets, 1);
    if (l.StripCount == 0) ReaderFail(kFormat, "StripOffsets has no strips (count 0)");
    // With one strip the picture's height stands in for RowsPerStrip.
    if (l.StripCount < 2) {
        l.Offsets.push_back(SingleValue(tagStripOffsets, 0));
        l.ByteCounts.push_back(SingleValue(tagStripByteCounts, 0));
        l.RowsPerStrip.push_back(l.Height);
        return;
    }
    l.RowsPerStrip = ValueList(stream, tagRowsPerStrip);
    if (l.RowsPerStrip.empty()) ReaderFail(kFormat, Format("RowsPerStrip is missing for %u strips", l.StripCount));
    l.Offsets = ValueList(stream, tagStripOffsets);
    l.Offsets.resize(l.StripCount);
    // Strips without a byte count hold nothing to decode.
    l.ByteCounts = ValueList(stream, tagStripByteCounts);
    l.ByteCounts.resize(l.StripCount, 0);
}

void TTIFFGraphic::ReadPalette(TStream& stream, TLayout& l) {
    if (l.ColourSamples != 1) return;
    const int64_t bitsPerPixel = int64_t(l.Bits) * l.Samples;
    const int entryCount = bitsPerPixel == 1 ? 2 : bitsPerPixel == 2 ? 4 : bitsPerPixel == 4 ? 16 : 256;
    l.Palette.Entries.resize(size_t(entryCount));
    if (l.Photometric == 3 && bitsPerPixel > 1) {
        // The colour map has room for 256 entries per table.
        if (bitsPerPixel > 8)
            ReaderFail(kFormat, Format("palette pictures of %lld bits per pixel are not supported",
                                       static_cast<long long>(bitsPerPixel)));
        const int n = 1 << bitsPerPixel;
        uint8_t map[6 * 256];
        stream.Seek(FBasePosition + SingleValue(tagColorMap, 0), TSeekOrigin::soBeginning);
        stream.ReadBuffer(map, 6 * n);
        for (int i = 0; i < 3 * n; ++i) FColorMap[i] = uint16_t(Get16(map + 2 * i));
        for (int k = 0; k < std::min(n, entryCount); ++k)
            l.Palette.Entries[size_t(k)] = {uint8_t(FColorMap[k] >> 8), uint8_t(FColorMap[n + k] >> 8),
                                            uint8_t(FColorMap[2 * n + k] >> 8), 0};
        return;
    }
    for (int k = 0; k < entryCount; ++k) {
        uint8_t g;
        if (entryCount == 4 && l.Photometric <= 1)
            g = uint8_t(l.Photometric == 0 ? 255 - 85 * k : 85 * k);
        else if (l.Photometric == 0)
            g = entryCount == 2 ? uint8_t(k == 0 ? 255 : 0) : entryCount == 16 ? uint8_t((15 - k) * 16) : uint8_t(255 - k);
        else if (l.Photometric == 1)
            g = entryCount == 2 ? uint8_t(k == 0 ? 0 : 255) : entryCount == 16 ? uint8_t(k * 16) : uint8_t(k);
        else  // 1-bit palette pictures and other kinds: a plain grey ramp
            g = Grey(k, entryCount);
        l.Palette.Entries[size_t(k)] = {g, g, g, 0};
    }
}

void TTIFFGraphic::DecodeStrips(TStream& stream, const TLayout& l, TBitmap& picture) const {
    std::unique_ptr<TDecoder> decoder;
    if (l.Compression == 5) decoder = std::make_unique<TTIFFLZW>();
    if (l.Compression == 32773) decoder = std::make_unique<TPackbitsRLE>();
    const TPixelConverter convert = ConverterOf(l.Plan.Kind);
    const bool swap16 = FBigEndian && l.Bits == 16;
    const int64_t streamSize = stream.Size();
    const int64_t sampleCount = int64_t(l.Width) * l.Samples;

    // One stored row, ready: byte order, then differencing.
    auto prepare = [&](uint8_t* row) {
        if (swap16) SwapBytes16Array(row, int32_t(l.PlaneRowBytes / 2));
        if (l.Predictor != 2) return;
        if (l.Bits == 16)
            UndoHorizontalDiff16(row, l.DiffStep, int64_t(l.Width) - 1);
        else if (l.DiffStep == 3)
            UndoHorizontalDiff3(row, int32_t(l.Width) - 1);
        else if (l.DiffStep == 4)
            UndoHorizontalDiff4(row, int32_t(l.Width) - 1);
        else
            UndoHorizontalDiff1(row, int32_t(l.Width) - 1);
    };
    auto emit = [&](const uint8_t* row, int32_t y) {
        if (convert != nullptr)
            convert(row, picture.ScanLine(y), int(l.Bits), int(sampleCount));
        else
            std::memcpy(picture.ScanLine(y), row, size_t(l.BytesPerRow));
    };

    // Separate planes: the planes' rows are kept until the last plane is in.
    const uint32_t planes = l.Planar ? l.Samples : 1;
    std::vector<uint8_t> planeData;
    if (l.Planar) planeData.assign(size_t(l.PlaneRowBytes * l.Height * planes), 0);
    const uint32_t rowsPerStrip = std::max<uint32_t>(1, l.RowsPerStrip.empty() ? l.Height : l.RowsPerStrip[0]);
    const uint32_t stripsPerPlane = l.Planar ? uint32_t((int64_t(l.Height) + rowsPerStrip - 1) / rowsPerStrip)
                                             : l.StripCount;

    for (uint32_t plane = 0; plane < planes; ++plane) {
        int32_t r = 0;
        for (uint32_t i = 0; i < stripsPerPlane && r < int32_t(l.Height); ++i) {
            const uint64_t s = uint64_t(plane) * stripsPerPlane + i;
            if (s >= l.StripCount) break;  // missing strips leave their rows zero
            const int64_t start = FBasePosition + l.Offsets[s];
            const uint32_t listed = l.RowsPerStrip[std::min<size_t>(s, l.RowsPerStrip.size() - 1)];
            // Rows below the picture are never shown, so they need no room.
            const int64_t rows = std::min<int64_t>(listed, int64_t(l.Height) - r);
            const int64_t stripSize = rows * l.PlaneRowBytes;
            if (stripSize == 0) continue;
            std::vector<uint8_t> strip(size_t(stripSize), 0);
            stream.Seek(start, TSeekOrigin::soBeginning);
            if (decoder) {
                // No LZW or PackBits stream needs more than about one and a half times the
                // bytes it decodes to; the cap keeps a file whose strips all name one huge
                // byte range from being read once per strip.
                const int64_t packedSize = std::min<int64_t>(
                    {l.ByteCounts[s], std::max<int64_t>(0, streamSize - start), 2 * stripSize + 4096, INT32_MAX});
                std::vector<uint8_t> packed(static_cast<size_t>(packedSize));
                const int64_t got = stream.Read(packed.data(), packedSize);
                const uint8_t* source = packed.data();
                decoder->Decode(source, strip.data(), int32_t(got), int32_t(stripSize));
            } else {
                stream.Read(strip.data(), stripSize);
            }
            for (int64_t off = 0; off < stripSize && r < int32_t(l.Height); off += l.PlaneRowBytes, ++r) {
                uint8_t* row = strip.data() + off;
                prepare(row);
                if (l.Planar)
                    std::memcpy(&planeData[size_t((int64_t(plane) * l.Height + r) * l.PlaneRowBytes)], row,
                                size_t(l.PlaneRowBytes));
                else
                    emit(row, r);
            }
        }
    }
    if (!l.Planar) return;
    const int bytesPerSample = l.Bits == 16 ? 2 : 1;
    std::vector<uint8_t> row(size_t(l.BytesPerRow));
    for (int32_t y = 0; y < int32_t(l.Height); ++y) {
        for (uint32_t p = 0; p < planes; ++p) {
            const uint8_t* in = &planeData[size_t((int64_t(p) * l.Height + y) * l.PlaneRowBytes)];
            for (uint32_t x = 0; x < l.Width; ++x)
                std::memcpy(&row[(size_t(x) * planes + p) * size_t(bytesPerSample)], in + size_t(x) * bytesPerSample,
                            size_t(bytesPerSample));
        }
        emit(row.data(), y);
    }
}

void TTIFFGraphic::LoadImageStream(TStream& stream) {
    ReadDirectory(stream);
    TLayout layout = ReadLayout(stream);
    ReadStripTable(stream, layout);
    ReadPalette(stream, layout);

    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    picture.SetPixelFormat(layout.Plan.Format);
    if (layout.ColourSamples == 1) picture.SetPalette(layout.Palette);
    picture.SetSize(int32_t(layout.Width), int32_t(layout.Height));
    DecodeStrips(stream, layout, picture);
    Assign(picture);
    Changed();
}

}  // namespace qv
