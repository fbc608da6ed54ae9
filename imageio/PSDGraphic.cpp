#include "imageio/PSDGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"

namespace qv {

const TBitmapClass TPSDGraphic::Class{"TPSDGraphic", &TBitmap::Class, &CreateInstance<TPSDGraphic>};

namespace {

constexpr int kHeaderSize = 26;
constexpr int kTableSize = 768;

enum : uint16_t {
    modeBitmap = 0,
    modeGrey = 1,
    modeIndexed = 2,
    modeRGB = 3,
    modeCMYK = 4,
    modeDuotone = 8,
    modeLab = 9,
};

uint32_t ReadBe32(TStream& stream) {
    uint8_t b[4];
    stream.ReadBuffer(b, 4);
    return GetBE32(b);
}

void Skip(TStream& stream, int64_t count) { stream.Seek(count, TSeekOrigin::soCurrent); }

bool PaletteMode(uint16_t mode) {
    return mode == modeBitmap || mode == modeGrey || mode == modeIndexed || mode == modeDuotone;
}
bool KnownMode(uint16_t mode) {
    return PaletteMode(mode) || mode == modeRGB || mode == modeCMYK || mode == modeLab;
}

struct TPSDHeader {
    uint16_t Channels = 0;
    uint32_t Height = 0;
    uint32_t Width = 0;
    uint16_t Depth = 0;
    uint16_t Mode = 0;

    // Channels whose data is read: one for the palette modes, three or four for the
    // true-colour ones, none for modes this reader does not know.
    int UsedChannels() const {
        if (PaletteMode(Mode)) return 1;
        if (Mode == modeCMYK) return 4;
        if (Mode == modeRGB || Mode == modeLab) return 3;
        return 0;
    }
    // Bytes of one stored row of one channel.
    int64_t RowBytes() const { return (int64_t(Width) * std::max<int>(Depth, 1) + 7) / 8; }
    TPixelFormat PixelFormat() const {
        if (Mode == modeBitmap) return pf1bit;
        return PaletteMode(Mode) ? pf8bit : pf24bit;
    }

    static TPSDHeader Read(TStream& stream) {
        uint8_t b[kHeaderSize];
        stream.ReadBuffer(b, kHeaderSize);
        if (std::memcmp(b, "8BPS", 4) != 0) throw EInvalidGraphic("Not a valid psd file.");
        TPSDHeader h;
        h.Channels = GetBE16(b + 12);
        h.Height = GetBE32(b + 14);
        h.Width = GetBE32(b + 18);
        h.Depth = GetBE16(b + 22);
        h.Mode = GetBE16(b + 24);
        h.Validate();
        return h;
    }

    void Validate() const {
        if (Width > TPSDGraphic::MaxSide)
            throw EReaderError("PSD", Format("width %u is larger than the format allows", Width));
        if (Height > TPSDGraphic::MaxSide)
            throw EReaderError("PSD", Format("height %u is larger than the format allows", Height));
        if (!KnownMode(Mode)) return;  // such files only get their size
        const bool depthFits = Mode == modeBitmap ? Depth == 1 : (Depth == 8 || Depth == 16);
        if (!depthFits)
            throw EReaderError("PSD", Format("colour mode %u with %u bits per channel is not supported", unsigned(Mode),
                                         unsigned(Depth)));
        if (Channels < UsedChannels())
            throw EReaderError("PSD", Format("colour mode %u needs %d channels, the file has %u", unsigned(Mode),
                                         UsedChannels(), unsigned(Channels)));
    }
};

TLogPalette PaletteOf(const TPSDHeader& h, const std::array<uint8_t, kTableSize>& table) {
    TLogPalette pal;
    if (h.Depth == 1) {
        pal.Entries = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    } else if (h.Mode == modeGrey || h.Mode == modeDuotone) {
        pal = GreyPalette(256);
    } else {
        pal.Entries.resize(256);
        for (int i = 0; i < 256; ++i)
            pal.Entries[size_t(i)] = {table[size_t(i)], table[size_t(256 + i)], table[size_t(512 + i)], 0};
    }
    return pal;
}

// Where the stored rows of the used channels lie, and how they are read.
class TRowSource {
public:
    TRowSource(TStream& stream, const TPSDHeader& h, bool packed) : FStream(stream), FHeader(h), FPacked(packed) {}

    // Reads what locates the rows (the row byte counts of packed data) and checks that the
    // file holds the rows of the used channels. Throws before anything is allocated from
    // the header's numbers alone.
    void Prepare(int64_t rasterBytes) {
        const int64_t rows = int64_t(FHeader.UsedChannels()) * FHeader.Height;
        const int64_t rowBytes = FHeader.RowBytes();
        int64_t remaining = FStream.Size() - FStream.Position();
        if (!FPacked) {
            FDataStart = FStream.Position();
            const int64_t need = rows * rowBytes;
            if (need > remaining) throw EReadError();
            return;
        }
        const int64_t tableBytes = int64_t(FHeader.Channels) * FHeader.Height * 2;
        if (tableBytes > remaining) throw EReadError();
        std::vector<uint8_t> counts(size_t(rows * 2));
        FStream.ReadBuffer(counts.data(), int64_t(counts.size()));
        Skip(FStream, tableBytes - int64_t(counts.size()));
        remaining -= tableBytes;
        FDataStart = FStream.Position();

        FRowStart.resize(size_t(rows) + 1);
        int64_t total = 0;
        for (int64_t i = 0; i < rows; ++i) {
            FRowStart[size_t(i)] = total;
            total += GetBE16(&counts[size_t(2 * i)]);
        }
        FRowStart[size_t(rows)] = total;
        if (total > remaining) throw EReadError();
        const int64_t least = rows * 2 * ((rowBytes + 127) / 128);
        if (rasterBytes > TPSDGraphic::SmallPictureBytes && total < least)
            throw EReaderError("PSD", Format("%lld bytes of packed rows cannot fill %u x %u pixels", (long long)total,
                                         FHeader.Width, FHeader.Height));
        FPackedRow.resize(size_t(std::max<int64_t>(MaxPackedRow(), 1)));
    }

    // The stored row y of channel k, rowBytes bytes (missing packed bytes read as 0).
    void ReadRow(int k, uint32_t y, uint8_t* dest) {
        const int64_t rowBytes = FHeader.RowBytes();
        const int64_t index = int64_t(k) * FHeader.Height + y;
        if (!FPacked) {
            FStream.SetPosition(FDataStart + index * rowBytes);
            FStream.ReadBuffer(dest, rowBytes);
            return;
        }
        const int64_t start = FRowStart[size_t(index)];
        const int32_t length = int32_t(FRowStart[size_t(index) + 1] - start);
        FStream.SetPosition(FDataStart + start);
        FStream.ReadBuffer(FPackedRow.data(), length);
        std::fill(dest, dest + rowBytes, uint8_t(0));
        const uint8_t* src = FPackedRow.data();
        FDecoder.Decode(src, dest, length, int32_t(rowBytes));
    }

private:
    int64_t MaxPackedRow() const {
        int64_t m = 0;
        for (size_t i = 0; i + 1 < FRowStart.size(); ++i) m = std::max(m, FRowStart[i + 1] - FRowStart[i]);
        return m;
    }

    TStream& FStream;
    const TPSDHeader& FHeader;
    bool FPacked;
    int64_t FDataStart = 0;
    std::vector<int64_t> FRowStart;
    std::vector<uint8_t> FPackedRow;
    TPackbitsRLE FDecoder;
};

// 16-bit samples (big-endian) keep their high byte; 8-bit and 1-bit rows are copied.
void ToBytes(const uint8_t* row, uint8_t* dest, int64_t count, int depth) {
    if (depth == 16) {
        for (int64_t i = 0; i < count; ++i) dest[i] = row[2 * i];
    } else {
        std::memcpy(dest, row, size_t(count));
    }
}

}  // namespace

void TPSDGraphic::LoadImageStream(TStream& stream) {
    const TPSDHeader h = TPSDHeader::Read(stream);

    std::array<uint8_t, kTableSize> table = FColorTable;
    const uint32_t modeDataLength = ReadBe32(stream);
    int64_t toSkip = modeDataLength;
    if (h.Mode == modeIndexed) {
        // Only 768 bytes have a place in the table; the rest is stepped over.
        const int64_t kept = std::min<int64_t>(modeDataLength, kTableSize);
        stream.ReadBuffer(table.data(), kept);
        toSkip -= kept;
    }
    Skip(stream, toSkip);
    Skip(stream, ReadBe32(stream));  // image resources
    Skip(stream, ReadBe32(stream));  // layer and mask information
    uint8_t compression[2];
    stream.ReadBuffer(compression, 2);
    const bool packed = GetBE16(compression) == 1;

    const bool known = KnownMode(h.Mode);
    const TPixelFormat pf = known ? h.PixelFormat() : (PixelFormat() == pfDevice ? pf32bit : PixelFormat());
    const int64_t rasterBytes = RasterRowBytes(h.Width, pf) * h.Height;
    TRowSource rows(stream, h, packed);
    if (known) {
        rows.Prepare(rasterBytes);
    } else if (rasterBytes > SmallPictureBytes) {
        // Nothing of such a file is read, but a raster of its size must still be justified
        // by image data of at least one channel.
        TPSDHeader one = h;
        one.Mode = modeGrey;
        one.Channels = std::max<uint16_t>(h.Channels, 1);
        TRowSource(stream, one, packed).Prepare(rasterBytes);
    }

    // The file is sound as far as it can be checked: the picture changes from here on.
    SetSize(0, 0);
    if (known) {
        SetPixelFormat(pf);
        if (h.Mode == modeIndexed) FColorTable = table;
        if (PaletteMode(h.Mode)) SetPalette(PaletteOf(h, FColorTable));
    }
    SetWidth(int32_t(h.Width));
    SetHeight(int32_t(h.Height));
    if (!known || h.Width == 0 || h.Height == 0) {
        Changed();
        return;
    }

    const int64_t rowBytes = h.RowBytes();
    const int64_t samples = h.Depth == 1 ? rowBytes : int64_t(h.Width);  // bytes per channel row after reduction
    const int used = h.UsedChannels();
    std::vector<uint8_t> stored(static_cast<size_t>(rowBytes));
    std::vector<uint8_t> channel(size_t(samples) * size_t(used));
    auto plane = [&](int k) { return channel.data() + size_t(k) * size_t(samples); };
    const int count = int(h.Width) * used;
    // 16-bit inks keep their whole samples: the ink product is worked out on them, not on
    // their high bytes.
    const bool wideInks = h.Mode == modeCMYK && h.Depth == 16;
    std::vector<uint16_t> inks(wideInks ? size_t(h.Width) * 4 : 0);

    for (uint32_t y = 0; y < h.Height; ++y) {
        uint8_t* line = ScanLine(int32_t(y));
        if (wideInks) {
            for (int k = 0; k < 4; ++k) {
                rows.ReadRow(k, y, stored.data());
                // Big-endian samples, stored inverted.
                for (uint32_t x = 0; x < h.Width; ++x)
                    inks[size_t(k) * h.Width + x] = uint16_t(65535 - GetBE16(&stored[size_t(2) * x]));
            }
            CmykPlanesToBgr(inks.data(), inks.data() + h.Width, inks.data() + 2 * size_t(h.Width),
                            inks.data() + 3 * size_t(h.Width), line, 16, count);
            continue;
        }
        for (int k = 0; k < used; ++k) {
            rows.ReadRow(k, y, stored.data());
            ToBytes(stored.data(), plane(k), samples, h.Depth);
        }
        switch (h.Mode) {
            case modeRGB: RgbPlanesToBgr(plane(0), plane(1), plane(2), line, 8, count); break;
            case modeCMYK:
                // The file stores the inks inverted.
                for (int64_t i = 0; i < 4 * samples; ++i) channel[size_t(i)] = uint8_t(255 - channel[size_t(i)]);
                CmykPlanesToBgr(plane(0), plane(1), plane(2), plane(3), line, 8, count);
                break;
            case modeLab:
                // a and b are stored with an offset of 128; the converter takes them signed.
                for (int64_t i = samples; i < 3 * samples; ++i) channel[size_t(i)] = uint8_t(channel[size_t(i)] - 128);
                LabPlanesToBgr(plane(0), plane(1), plane(2), line, 8, count);
                break;
            default: std::memcpy(line, plane(0), size_t(samples)); break;
        }
    }
    Changed();
}

}  // namespace qv
