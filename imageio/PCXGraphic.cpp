#include "imageio/PCXGraphic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/Decoders.h"
#include "imageio/ReaderSupport.h"

namespace qv {

const TBitmapClass TPCXGraphic::Class{"TPCXGraphic", &TBitmap::Class, &CreateInstance<TPCXGraphic>};

namespace {

constexpr int kHeaderSize = 128;
constexpr int kPaletteBlockSize = 769;  // marker byte 12 and 256 x (red, green, blue)
constexpr uint8_t kPaletteMarker = 12;

struct TPCXHeader {
    uint8_t Maker = 0;
    uint8_t Version = 0;
    uint8_t Encoding = 0;
    uint8_t BitsPerPixel = 0;
    uint16_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
    const uint8_t* ColorMap = nullptr;  // 16 x (red, green, blue), inside the header bytes
    uint8_t Planes = 0;
    uint16_t BytesPerLine = 0;
    uint16_t PaletteKind = 0;

    static TPCXHeader Parse(const uint8_t* b) {
        TPCXHeader h;
        h.Maker = b[0];
        h.Version = b[1];
        h.Encoding = b[2];
        h.BitsPerPixel = b[3];
        h.XMin = GetLE16(b + 4);
        h.YMin = GetLE16(b + 6);
        h.XMax = GetLE16(b + 8);
        h.YMax = GetLE16(b + 10);
        h.ColorMap = b + 16;
        h.Planes = b[65];
        h.BytesPerLine = GetLE16(b + 66);
        h.PaletteKind = GetLE16(b + 68);
        return h;
    }
    int32_t Width() const { return int32_t(XMax) - int32_t(XMin) + 1; }
    int32_t Height() const { return int32_t(YMax) - int32_t(YMin) + 1; }
    bool Grey() const { return PaletteKind == 2; }
};

TPixelFormat FormatOf(const TPCXHeader& h) {
    if (h.BitsPerPixel == 1 && h.Planes == 1) return pf1bit;
    if (h.BitsPerPixel == 1 && h.Planes == 4) return pf4bit;
    if (h.BitsPerPixel == 8 && h.Planes == 1) return pf8bit;
    if (h.BitsPerPixel == 8 && h.Planes == 3) return pf24bit;
    // Red, green, blue and alpha planes, as ImageMagick writes a picture with alpha.
    if (h.BitsPerPixel == 8 && h.Planes == 4) return pf32bit;
    return pfCustom;
}

const TPaletteEntry kStandard16[16] = {
    {0, 0, 0, 0},     {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0},
    {0, 0, 128, 0},   {128, 0, 128, 0}, {0, 128, 128, 0}, {128, 128, 128, 0},
    {192, 192, 192, 0}, {255, 0, 0, 0}, {0, 255, 0, 0},   {255, 255, 0, 0},
    {0, 0, 255, 0},   {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0},
};

// The 256-colour block at the end of 8-bit files; dataStart is where the pixel data
// begins (a block cannot overlap the header). The stream is left where it was.
TLogPalette Palette8(TStream& stream, const TPCXHeader& h, int64_t dataStart) {
    const int64_t remembered = stream.Position();
    const int64_t blockStart = stream.Size() - kPaletteBlockSize;
    uint8_t marker = 0;
    if (blockStart >= dataStart) {
        stream.Seek(blockStart, TSeekOrigin::soBeginning);
        stream.Read(&marker, 1);
    }
    TLogPalette palette;
    if (marker == kPaletteMarker) {
        uint8_t rgb[768] = {};
        stream.Read(rgb, sizeof rgb);
        palette.Entries.resize(256);
        for (int i = 0; i < 256; ++i) palette.Entries[size_t(i)] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
    } else {
        // Not grey and no colours in the file: warn, and show the indexes as grey levels.
        if (!h.Grey()) MessageBeep();
        palette = GreyPalette(256);
    }
    stream.Seek(remembered, TSeekOrigin::soBeginning);
    return palette;
}

TLogPalette BuildPalette(TStream& stream, const TPCXHeader& h, TPixelFormat pf, int64_t dataStart) {
    TLogPalette palette;
    if (h.Version == 3 && pf != pf1bit) {
        palette.Entries.assign(std::begin(kStandard16), std::end(kStandard16));
    } else if (pf == pf1bit) {
        palette.Entries = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    } else if (pf == pf4bit) {
        palette.Entries.resize(16);
        for (int i = 0; i < 16; ++i) {
            const uint8_t* c = h.ColorMap + 3 * i;
            palette.Entries[size_t(i)] = h.Grey() ? TPaletteEntry{uint8_t(16 * i), uint8_t(16 * i), uint8_t(16 * i), 0}
                                                  : TPaletteEntry{c[0], c[1], c[2], 0};
        }
    } else {
        palette = Palette8(stream, h, dataStart);
    }
    return palette;
}

}  // namespace

void TPCXGraphic::SaveImageStream(TStream&) {}

void TPCXGraphic::LoadImageStream(TStream& stream) {
    // A short header is not reported: the missing fields read as zero.
    uint8_t raw[kHeaderSize] = {};
    stream.Read(raw, kHeaderSize);
    const TPCXHeader h = TPCXHeader::Parse(raw);
    const int64_t dataStart = stream.Position();

    if (h.Maker != 10 && h.Maker != 205) throw EInvalidGraphic("Not a PCX or SCR file.");
    const TPixelFormat pf = FormatOf(h);
    if (pf == pfCustom) throw EReaderError("PCX", "wrong pixel format");

    const int32_t width = h.Width();
    const int32_t height = h.Height();
    if (width < 1 || height < 1)
        throw EReaderError("PCX", Format("invalid picture size: Xmin %u, Xmax %u, Ymin %u, Ymax %u",
                                     unsigned(h.XMin), unsigned(h.XMax), unsigned(h.YMin), unsigned(h.YMax)));
    // Each plane of a row must hold the row's pixels.
    const int64_t planeNeeds = h.BitsPerPixel == 1 ? (int64_t(width) + 7) / 8 : width;
    if (h.BytesPerLine < planeNeeds)
        throw EReaderError("PCX", Format("BytesPerLine %u is too small for a width of %d pixels",
                                     unsigned(h.BytesPerLine), width));

    const int64_t rowBytes = int64_t(h.Planes) * h.BytesPerLine;  // S
    const int64_t rowsBytes = rowBytes * height;
    const int64_t rasterBytes = RasterRowBytes(width, pf) * height;
    int64_t dataBytes = stream.Size() - dataStart;  // D
    if (pf == pf8bit) dataBytes -= kPaletteBlockSize;
    dataBytes = std::clamp<int64_t>(dataBytes, 0, INT32_MAX);
    const int64_t largest = std::max(rowsBytes, rasterBytes);
    if (largest > kMaxRasterBytes)
        throw EReaderError("PCX", Format("%d x %d pixels in %u planes are more than this program can hold", width,
                                         height, unsigned(h.Planes)));
    // The densest run-length packing gives 63 bytes from every 2.
    if (largest > SmallPictureBytes) CheckFitsFile("PCX", width, height, (largest * 2 + 62) / 63, dataBytes);

    const bool indexed = pf == pf1bit || pf == pf4bit || pf == pf8bit;
    TLogPalette palette;
    if (indexed) palette = BuildPalette(stream, h, pf, dataStart);

    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    picture.SetPixelFormat(pf);
    if (indexed) picture.SetPalette(palette);
    picture.SetSize(width, height);

    std::vector<uint8_t> data(static_cast<size_t>(dataBytes));
    stream.ReadBuffer(data.data(), dataBytes);
    // Rows the data does not reach read as 0.
    std::vector<uint8_t> area(size_t(rowsBytes), 0);
    if (h.Encoding == 1) {
        TPCXRLE decoder;
        const uint8_t* source = data.data();
        decoder.Decode(source, area.data(), int32_t(dataBytes), int32_t(rowsBytes));
    } else {
        const int64_t present = std::min(dataBytes, rowsBytes);
        if (present > 0) std::memcpy(area.data(), data.data(), size_t(present));
    }
    data = {};

    const int64_t bpl = h.BytesPerLine;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = area.data() + int64_t(y) * rowBytes;
        uint8_t* line = picture.ScanLine(y);
        switch (pf) {
            case pf1bit: std::memcpy(line, row, size_t((int64_t(width) + 7) / 8)); break;
            case pf4bit:
                for (int32_t x = 0; x < width; ++x) {
                    const int bit = 7 - (x % 8);
                    const int64_t byte = x / 8;
                    int value = 0;
                    for (int k = 0; k < 4; ++k) value |= ((row[k * bpl + byte] >> bit) & 1) << k;
                    uint8_t& out = line[x / 2];
                    out = (x % 2 == 0) ? uint8_t((out & 0x0F) | (value << 4)) : uint8_t((out & 0xF0) | value);
                }
                break;
            case pf8bit: std::memcpy(line, row, size_t(width)); break;
            case pf32bit:
                for (int32_t x = 0; x < width; ++x) {
                    line[4 * x] = row[2 * bpl + x];
                    line[4 * x + 1] = row[bpl + x];
                    line[4 * x + 2] = row[x];
                    line[4 * x + 3] = row[3 * bpl + x];
                }
                break;
            default:
                for (int32_t x = 0; x < width; ++x) {
                    line[3 * x] = row[2 * bpl + x];
                    line[3 * x + 1] = row[bpl + x];
                    line[3 * x + 2] = row[x];
                }
                break;
        }
    }
    Assign(picture);
    Changed();
}

}  // namespace qv
