#include "framework/Graphics.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "framework/Exceptions.h"

namespace qv {

namespace {

// Pixels of one raster may take at most this many bytes.
constexpr int64_t kMaxPixelBytes = int64_t(1) << 30;

bool IsIndexed(TPixelFormat pf) { return pf == pf1bit || pf == pf4bit || pf == pf8bit; }

// Bits per pixel as stored; device and custom rasters are stored as 32-bit pixels.
int StoredBits(TPixelFormat pf) {
    const int bits = BitsPerPixel(pf);
    return bits == 0 ? 32 : bits;
}

int64_t RowBytesFor(int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }

// Two formats whose pixels can be copied byte for byte.
bool SameStorage(TPixelFormat a, TPixelFormat b) {
    if (a == b) return true;
    auto is32 = [](TPixelFormat pf) { return pf == pf32bit || pf == pfDevice || pf == pfCustom; };
    return is32(a) && is32(b);
}

TLogPalette DefaultPalette(TPixelFormat pf) {
    TLogPalette pal;
    if (pf == pf1bit) {
        pal.Entries = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    } else if (pf == pf4bit) {
        // The 16 standard VGA colours in the platform's order.
        static constexpr uint8_t vga[16][3] = {
            {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
            {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
            {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (const auto& c : vga) pal.Entries.push_back({c[0], c[1], c[2], 0});
    } else if (pf == pf8bit) {
        pal = GreyPalette(256);
    }
    return pal;
}

size_t PaletteCapacity(TPixelFormat pf) { return IsIndexed(pf) ? size_t(1) << BitsPerPixel(pf) : 256; }

uint8_t Expand5(unsigned v) { return uint8_t((v << 3) | (v >> 2)); }
uint8_t Expand6(unsigned v) { return uint8_t((v << 2) | (v >> 4)); }

unsigned GetIndex(const uint8_t* row, int32_t x, int bits) {
    switch (bits) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
        default: return row[x];
    }
}

void SetIndex(uint8_t* row, int32_t x, int bits, unsigned index) {
    switch (bits) {
        case 1: {
            const uint8_t mask = uint8_t(0x80u >> (x & 7));
            row[x >> 3] = (index & 1u) ? uint8_t(row[x >> 3] | mask) : uint8_t(row[x >> 3] & ~mask);
            break;
        }
        case 4:
            if (x & 1)
                row[x >> 1] = uint8_t((row[x >> 1] & 0xF0u) | (index & 0x0Fu));
            else
                row[x >> 1] = uint8_t((row[x >> 1] & 0x0Fu) | ((index & 0x0Fu) << 4));
            break;
        default: row[x] = uint8_t(index); break;
    }
}

TColor PaletteColor(const TLogPalette& pal, unsigned index) {
    if (index >= pal.Entries.size()) return clBlack;
    const TPaletteEntry& e = pal.Entries[index];
    return RGBColor(e.Red, e.Green, e.Blue);
}

uint8_t NearestEntry(const std::vector<TPaletteEntry>& entries, TColor color) {
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int best = 0;
    int bestDist = 1 << 30;
    for (size_t i = 0; i < entries.size() && i < 256; ++i) {
        const int dr = entries[i].Red - r, dg = entries[i].Green - g, db = entries[i].Blue - b;
        const int dist = dr * dr + dg * dg + db * db;
        if (dist < bestDist) {
            bestDist = dist;
            best = int(i);
            if (dist == 0) break;
        }
    }
    return uint8_t(best);
}

// Nearest-entry search with a cache: conversions meet the same colours over and over.
class TNearestMap {
public:
    explicit TNearestMap(const std::vector<TPaletteEntry>& entries) : FEntries(entries) {}
    uint8_t operator()(TColor color) {
        const auto it = FCache.find(color);
        if (it != FCache.end()) return it->second;
        const uint8_t index = NearestEntry(FEntries, color);
        if (FCache.size() < (1u << 16)) FCache.emplace(color, index);
        return index;
    }

private:
    const std::vector<TPaletteEntry>& FEntries;
    std::unordered_map<TColor, uint8_t> FCache;
};

TColor ReadColor(const uint8_t* row, int32_t x, TPixelFormat pf, const TLogPalette& pal) {
    switch (pf) {
        case pf1bit: return PaletteColor(pal, GetIndex(row, x, 1));
        case pf4bit: return PaletteColor(pal, GetIndex(row, x, 4));
        case pf8bit: return PaletteColor(pal, row[x]);
        case pf15bit: {
            const unsigned w = row[2 * x] | (unsigned(row[2 * x + 1]) << 8);
            return RGBColor(Expand5((w >> 10) & 31), Expand5((w >> 5) & 31), Expand5(w & 31));
        }
        case pf16bit: {
            const unsigned w = row[2 * x] | (unsigned(row[2 * x + 1]) << 8);
            return RGBColor(Expand5((w >> 11) & 31), Expand6((w >> 5) & 63), Expand5(w & 31));
        }
        case pf24bit: {
            const uint8_t* p = row + 3 * int64_t(x);
            return RGBColor(p[2], p[1], p[0]);
        }
        default: {
            const uint8_t* p = row + 4 * int64_t(x);
            return RGBColor(p[2], p[1], p[0]);
        }
    }
}

// Stores a true colour; indexed formats take the index the caller chose.
void WriteColor(uint8_t* row, int32_t x, TPixelFormat pf, TColor c, unsigned index) {
    const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    switch (pf) {
        case pf1bit: SetIndex(row, x, 1, index); break;
        case pf4bit: SetIndex(row, x, 4, index); break;
        case pf8bit: row[x] = uint8_t(index); break;
        case pf15bit: {
            const unsigned w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
            row[2 * x] = uint8_t(w);
            row[2 * x + 1] = uint8_t(w >> 8);
            break;
        }
        case pf16bit: {
            const unsigned w = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
            row[2 * x] = uint8_t(w);
            row[2 * x + 1] = uint8_t(w >> 8);
            break;
        }
        case pf24bit: {
            uint8_t* p = row + 3 * int64_t(x);
            p[0] = uint8_t(b);
            p[1] = uint8_t(g);
            p[2] = uint8_t(r);
            break;
        }
        default: {
            uint8_t* p = row + 4 * int64_t(x);
            p[0] = uint8_t(b);
            p[1] = uint8_t(g);
            p[2] = uint8_t(r);
            p[3] = 0;
            break;
        }
    }
}

int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) { return std::max(lo, std::min(v, hi)); }

}  // namespace

// ---------------------------------------------------------------- free functions

int BitsPerPixel(TPixelFormat pf) {
    switch (pf) {
        case pfDevice: return ScreenBitsPerPixel();
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit: return 16;
        case pf16bit: return 16;
        case pf24bit: return 24;
        case pf32bit: return 32;
        case pfCustom: return 0;
    }
    return 0;
}

const char* PixelFormatName(TPixelFormat pf) {
    switch (pf) {
        case pfDevice: return "pfDevice";
        case pf1bit: return "pf1bit";
        case pf4bit: return "pf4bit";
        case pf8bit: return "pf8bit";
        case pf15bit: return "pf15bit";
        case pf16bit: return "pf16bit";
        case pf24bit: return "pf24bit";
        case pf32bit: return "pf32bit";
        case pfCustom: return "pfCustom";
    }
    return "pfCustom";
}

TLogPalette GreyPalette(int count) {
    TLogPalette pal;
    count = std::clamp(count, 0, 256);
    pal.Entries.reserve(size_t(count));
    for (int k = 0; k < count; ++k) pal.Entries.push_back({uint8_t(k), uint8_t(k), uint8_t(k), 0});
    return pal;
}

bool TBitmapClass::InheritsFrom(const TBitmapClass& other) const {
    for (const TBitmapClass* c = this; c != nullptr; c = c->Parent)
        if (c == &other) return true;
    return false;
}

int ScreenBitsPerPixel() { return 32; }

int SetStretchBltMode(HDC dc, int mode) {
    if (dc == nullptr) return 0;
    const int previous = dc->StretchMode();
    dc->SetStretchMode(mode);
    return previous;
}

// ---------------------------------------------------------------- TBitmap

const TBitmapClass TBitmap::Class{"TBitmap", nullptr, &CreateInstance<TBitmap>};

TBitmap::TBitmap() : FCanvas(std::make_unique<TCanvas>(*this)) {}

TBitmap::~TBitmap() = default;

int TBitmap::StorageBits() const { return StoredBits(FPixelFormat); }

void TBitmap::Reallocate(int32_t width, int32_t height, TPixelFormat pf) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const int bits = StoredBits(pf);
    // 64-bit: a hostile width times 32 bits, times the height, overflows 32 (and even 64) bits.
    const int64_t rowBytes = RowBytesFor(width, bits);
    if (rowBytes > 0 && height > kMaxPixelBytes / rowBytes)
        throw EInvalidGraphicOperation(Format("Picture too large: %d x %d pixels at %d bits per pixel need more than 1 GiB",
                                              width, height, bits));
    std::vector<uint8_t> bitsNew(size_t(rowBytes * height));
    const int32_t keepRows = (pf == FPixelFormat) ? std::min(height, FHeight) : 0;
    const int32_t keepCols = (pf == FPixelFormat) ? std::min(width, FWidth) : 0;
    if (keepCols > 0) {
        for (int32_t y = 0; y < keepRows; ++y) {
            const uint8_t* src = FBits.data() + int64_t(y) * FRowBytes;
            uint8_t* dst = bitsNew.data() + int64_t(y) * rowBytes;
            if (bits >= 8) {
                std::memcpy(dst, src, size_t(int64_t(keepCols) * (bits / 8)));
            } else {
                for (int32_t x = 0; x < keepCols; ++x) SetIndex(dst, x, bits, GetIndex(src, x, bits));
            }
        }
    }
    FBits = std::move(bitsNew);
    FWidth = width;
    FHeight = height;
    FRowBytes = int32_t(rowBytes);
    FPixelFormat = pf;
    FillWhite(0, keepRows, keepCols);
    FillWhite(keepRows, height, 0);
}

void TBitmap::FillWhite(int32_t fromRow, int32_t toRow, int32_t fromCol) {
    if (fromCol >= FWidth || fromRow >= toRow) return;
    const int bits = StorageBits();
    if (bits < 8 || FPixelFormat == pf8bit) {
        const unsigned index = NearestIndex(clWhite);
        const uint8_t pattern = bits == 1 ? uint8_t(index ? 0xFF : 0) : bits == 4 ? uint8_t(index * 0x11) : uint8_t(index);
        const int perByte = 8 / bits;
        // Pixels up to the next whole byte one by one, the rest of the row byte by byte.
        const int32_t aligned = std::min(FWidth, (fromCol + perByte - 1) / perByte * perByte);
        const int64_t endByte = (int64_t(FWidth) * bits + 7) / 8;
        for (int32_t y = fromRow; y < toRow; ++y) {
            uint8_t* row = FBits.data() + int64_t(y) * FRowBytes;
            for (int32_t x = fromCol; x < aligned; ++x) SetIndex(row, x, bits, index);
            const int64_t startByte = (int64_t(aligned) * bits + 7) / 8;
            if (endByte > startByte) std::memset(row + startByte, pattern, size_t(endByte - startByte));
        }
        return;
    }
    uint8_t white[4];
    WriteColor(white, 0, FPixelFormat == pfDevice || FPixelFormat == pfCustom ? pf32bit : FPixelFormat, clWhite, 0);
    const int bytes = bits / 8;
    for (int32_t y = fromRow; y < toRow; ++y) {
        uint8_t* p = FBits.data() + int64_t(y) * FRowBytes + int64_t(fromCol) * bytes;
        for (int32_t x = fromCol; x < FWidth; ++x, p += bytes) std::memcpy(p, white, size_t(bytes));
    }
}

void TBitmap::SetWidth(int32_t value) {
    value = std::max(value, 0);
    if (value == FWidth) return;
    Reallocate(value, FHeight, FPixelFormat);
    Changed();
}

void TBitmap::SetHeight(int32_t value) {
    value = std::max(value, 0);
    if (value == FHeight) return;
    Reallocate(FWidth, value, FPixelFormat);
    Changed();
}

void TBitmap::SetSize(int32_t width, int32_t height) {
    // Through the virtual setters, so that descendants keeping row tables see both changes.
    SetWidth(width);
    SetHeight(height);
}

// Pixel-format conversion rules:
// - indexed to true colour: each pixel takes its palette colour (missing entries are black);
//   the palette is dropped;
// - indexed to indexed: when the palette fits the new format (1/4-bit to 8-bit always does),
//   palette and indices stay; otherwise the new format's default palette is used and each
//   pixel takes its nearest colour;
// - true colour to true colour: through the colour, 5- and 6-bit channels widened by bit
//   replication, the fourth byte of 32-bit pixels 0 (a device raster becoming 32-bit keeps
//   its storage);
// - true colour to indexed: nearest entry of the palette given earlier with SetPalette, else
//   of the default palette.
// Default palettes: 1-bit black and white, 4-bit the 16 VGA colours, 8-bit the grey ramp.
void TBitmap::SetPixelFormat(TPixelFormat value) {
    if (value == FPixelFormat) return;
    if (value == pfDevice || value == pfCustom) {
        if (Empty()) Reallocate(FWidth, FHeight, value);
        return;
    }
    if (value == pf32bit && StorageBits() == 32) {
        // Device pixels are already 32-bit: relabel in place so row addresses stay valid.
        for (int32_t y = 0; y < FHeight; ++y) {
            uint8_t* row = FBits.data() + int64_t(y) * FRowBytes;
            for (int32_t x = 0; x < FWidth; ++x) row[4 * int64_t(x) + 3] = 0;
        }
        FPixelFormat = pf32bit;
    } else {
        ConvertTo(value);
    }
    Changed();
}

void TBitmap::ConvertTo(TPixelFormat pf) {
    const int64_t rowBytes = RowBytesFor(FWidth, StoredBits(pf));
    if (rowBytes > 0 && FHeight > kMaxPixelBytes / rowBytes)
        throw EInvalidGraphicOperation(Format("Picture too large: %d x %d pixels at %d bits per pixel need more than 1 GiB",
                                              FWidth, FHeight, StoredBits(pf)));
    const TPixelFormat from = FPixelFormat;
    const int fromBits = StoredBits(from);
    const int toBits = StoredBits(pf);

    // Palette of the result, and whether indices carry over unchanged.
    TLogPalette palette;
    bool keepIndices = false;
    if (IsIndexed(pf)) {
        const size_t cap = PaletteCapacity(pf);
        if (IsIndexed(from)) {
            if (FPalette.Entries.empty()) {
                palette = DefaultPalette(pf);
                keepIndices = true;
            } else if (FPalette.Entries.size() <= cap) {
                palette = FPalette;
                keepIndices = true;
            } else {
                palette = DefaultPalette(pf);
            }
        } else if (!FPalette.Entries.empty()) {
            palette = FPalette;  // set earlier for this conversion
            if (palette.Entries.size() > cap) palette.Entries.resize(cap);
        } else {
            palette = DefaultPalette(pf);
        }
    } else if (!IsIndexed(from)) {
        palette = FPalette;  // still waiting for a conversion to an indexed format
    }

    std::vector<uint8_t> bitsNew(size_t(rowBytes * FHeight));
    TNearestMap nearest(palette.Entries);
    const unsigned cap = unsigned(PaletteCapacity(pf));
    for (int32_t y = 0; y < FHeight; ++y) {
        const uint8_t* src = FBits.data() + int64_t(y) * FRowBytes;
        uint8_t* dst = bitsNew.data() + int64_t(y) * rowBytes;
        for (int32_t x = 0; x < FWidth; ++x) {
            if (keepIndices) {
                const unsigned index = GetIndex(src, x, fromBits);
                if (index < cap) {
                    SetIndex(dst, x, toBits, index);
                    continue;
                }
            }
            const TColor c = ReadColor(src, x, from, FPalette);
            WriteColor(dst, x, pf, c, IsIndexed(pf) ? nearest(c) : 0);
        }
    }
    FBits = std::move(bitsNew);
    FRowBytes = int32_t(rowBytes);
    FPixelFormat = pf;
    FPalette = std::move(palette);
}

void TBitmap::ReleaseHandle() {
    FBits.clear();
    FBits.shrink_to_fit();
    FWidth = FHeight = FRowBytes = 0;
    FPixelFormat = pfDevice;
    FPalette.Entries.clear();
}

uint8_t* TBitmap::ScanLine(int32_t row) {
    if (row < 0 || row >= FHeight)
        throw EInvalidGraphicOperation(Format("Scan line index out of range (%d of %d rows)", row, FHeight));
    return FBits.data() + int64_t(row) * FRowBytes;
}

const uint8_t* TBitmap::ScanLine(int32_t row) const { return const_cast<TBitmap*>(this)->ScanLine(row); }

void TBitmap::SetPalette(const TLogPalette& palette) {
    FPalette.Version = palette.Version;
    const size_t keep = std::min(palette.Entries.size(), IsIndexed(FPixelFormat) ? PaletteCapacity(FPixelFormat) : 256);
    FPalette.Entries.assign(palette.Entries.begin(), palette.Entries.begin() + ptrdiff_t(keep));
    Changed();
}

std::vector<TPaletteEntry> TBitmap::GetPaletteEntries(int first, int count) const {
    // At most a whole palette: a caller's count never sizes a larger allocation.
    count = std::clamp(count, 0, 256);
    std::vector<TPaletteEntry> result(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int64_t k = int64_t(first) + i;
        if (k >= 0 && k < int64_t(FPalette.Entries.size())) result[size_t(i)] = FPalette.Entries[size_t(k)];
    }
    return result;
}

void TBitmap::SetModified(bool value) {
    if (value)
        Changed();
    else
        FModified = false;
}

void TBitmap::Changed() {
    FModified = true;
    ++FChangeCount;
    if (OnChange) OnChange();
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    FBits = source.FBits;
    FWidth = source.FWidth;
    FHeight = source.FHeight;
    FRowBytes = source.FRowBytes;
    FPixelFormat = source.FPixelFormat;
    FPalette = source.FPalette;
    Changed();
}

TColor TBitmap::PixelColor(int32_t x, int32_t y) const {
    const uint8_t* row = FBits.data() + int64_t(y) * FRowBytes;
    return ReadColor(row, x, FPixelFormat, FPalette);
}

void TBitmap::SetPixelColor(int32_t x, int32_t y, TColor color) {
    uint8_t* row = FBits.data() + int64_t(y) * FRowBytes;
    WriteColor(row, x, FPixelFormat, color, IsIndexed(FPixelFormat) ? NearestIndex(color) : 0);
}

uint8_t TBitmap::NearestIndex(TColor color) const { return NearestEntry(FPalette.Entries, color); }

// ---------------------------------------------------------------- TCanvas

namespace {

// Fills the half-open box, clipped to the raster.
void FillBox(TBitmap& bmp, int64_t x1, int64_t y1, int64_t x2, int64_t y2, TColor color) {
    x1 = Clamp64(x1, 0, bmp.Width());
    x2 = Clamp64(x2, 0, bmp.Width());
    y1 = Clamp64(y1, 0, bmp.Height());
    y2 = Clamp64(y2, 0, bmp.Height());
    if (x1 >= x2 || y1 >= y2) return;
    const int bits = bmp.StorageBits();
    if (bits < 8) {
        const unsigned index = bmp.NearestIndex(color);
        for (int64_t y = y1; y < y2; ++y) {
            uint8_t* row = bmp.ScanLine(int32_t(y));
            for (int64_t x = x1; x < x2; ++x) SetIndex(row, int32_t(x), bits, index);
        }
        return;
    }
    // Store the colour once, then repeat its bytes.
    const int bytes = bits / 8;
    uint8_t pixel[4];
    bmp.SetPixelColor(int32_t(x1), int32_t(y1), color);
    std::memcpy(pixel, bmp.ScanLine(int32_t(y1)) + x1 * bytes, size_t(bytes));
    for (int64_t y = y1; y < y2; ++y) {
        uint8_t* p = bmp.ScanLine(int32_t(y)) + x1 * bytes;
        for (int64_t x = x1; x < x2; ++x, p += bytes) std::memcpy(p, pixel, size_t(bytes));
    }
}

bool SamePalette(const TBitmap& a, const TBitmap& b) { return a.Palette().Entries == b.Palette().Entries; }

// Nearest-colour scaling of src's rectangle s onto dst's rectangle d (rows and columns
// dropped or repeated, never blended); the one routine behind Draw, StretchDraw and CopyRect.
void StretchCopy(TBitmap& dst, const TRect& d, const TBitmap& srcIn, const TRect& s) {
    const int64_t dw = int64_t(d.Right) - d.Left, dh = int64_t(d.Bottom) - d.Top;
    const int64_t sw = int64_t(s.Right) - s.Left, sh = int64_t(s.Bottom) - s.Top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || dst.Empty() || srcIn.Empty()) return;

    // Copying a raster onto itself reads from a snapshot so overlapping areas stay right.
    TBitmap snapshot;
    const TBitmap* srcPtr = &srcIn;
    if (&srcIn == &dst) {
        snapshot.Assign(srcIn);
        srcPtr = &snapshot;
    }
    const TBitmap& src = *srcPtr;

    const int64_t x0 = std::max<int64_t>(d.Left, 0), x1 = std::min<int64_t>(d.Right, dst.Width());
    const int64_t y0 = std::max<int64_t>(d.Top, 0), y1 = std::min<int64_t>(d.Bottom, dst.Height());
    if (x0 >= x1 || y0 >= y1) return;

    // Source column of each destination column, -1 outside the source raster. 128-bit:
    // offsets and extents of up to 2^32 each overflow a 64-bit product.
    std::vector<int32_t> srcCol(size_t(x1 - x0));
    for (int64_t dx = x0; dx < x1; ++dx) {
        const int64_t sx = s.Left + int64_t(__int128(dx - d.Left) * sw / dw);
        srcCol[size_t(dx - x0)] = (sx >= 0 && sx < src.Width()) ? int32_t(sx) : -1;
    }

    const int bits = dst.StorageBits();
    const bool raw = SameStorage(dst.PixelFormat(), src.PixelFormat()) &&
                     (!IsIndexed(dst.PixelFormat()) || SamePalette(dst, src));
    const int bytes = bits / 8;
    // Unscaled copies of whole-byte pixels move each row's span at once.
    const bool spans = raw && bits >= 8 && sw == dw && srcCol.front() >= 0 && srcCol.back() >= 0;
    std::unordered_map<TColor, uint8_t> nearest;

    for (int64_t dy = y0; dy < y1; ++dy) {
        const int64_t sy = s.Top + int64_t(__int128(dy - d.Top) * sh / dh);
        if (sy < 0 || sy >= src.Height()) continue;
        const uint8_t* srow = src.ScanLine(int32_t(sy));
        uint8_t* drow = dst.ScanLine(int32_t(dy));
        if (spans) {
            std::memmove(drow + x0 * bytes, srow + int64_t(srcCol.front()) * bytes, size_t((x1 - x0) * bytes));
            continue;
        }
        for (int64_t dx = x0; dx < x1; ++dx) {
            const int32_t sx = srcCol[size_t(dx - x0)];
            if (sx < 0) continue;
            if (raw && bits >= 8) {
                std::memcpy(drow + dx * bytes, srow + int64_t(sx) * bytes, size_t(bytes));
            } else if (raw) {
                SetIndex(drow, int32_t(dx), bits, GetIndex(srow, sx, bits));
            } else {
                const TColor c = src.PixelColor(sx, int32_t(sy));
                if (IsIndexed(dst.PixelFormat())) {
                    auto it = nearest.find(c);
                    if (it == nearest.end()) it = nearest.emplace(c, dst.NearestIndex(c)).first;
                    WriteColor(drow, int32_t(dx), dst.PixelFormat(), c, it->second);
                } else {
                    WriteColor(drow, int32_t(dx), dst.PixelFormat(), c, 0);
                }
            }
        }
    }
}

}  // namespace

void TCanvas::MoveTo(int32_t x, int32_t y) { FPenPos = Point(x, y); }

void TCanvas::PlotPen(int32_t x, int32_t y) {
    if (x >= 0 && y >= 0 && x < FOwner.Width() && y < FOwner.Height()) FOwner.SetPixelColor(x, y, Pen.Color);
}

void TCanvas::LineTo(int32_t x, int32_t y) {
    const TPoint from = FPenPos;
    FPenPos = Point(x, y);
    if (Pen.Style != psClear && !FOwner.Empty()) {
        // Every pen is drawn solid and one pixel wide.
        const int64_t dx = int64_t(x) - from.X, dy = int64_t(y) - from.Y;
        const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
        const bool xMajor = adx >= ady;
        const int64_t steps = xMajor ? adx : ady;  // the end pixel is left out
        const int64_t minor = xMajor ? ady : adx;
        const int64_t mainStart = xMajor ? from.X : from.Y, minorStart = xMajor ? from.Y : from.X;
        const int64_t mainDir = (xMajor ? dx : dy) < 0 ? -1 : 1;
        const int64_t minorDir = (xMajor ? dy : dx) < 0 ? -1 : 1;
        const int64_t mainLimit = xMajor ? FOwner.Width() : FOwner.Height();
        // Only the steps whose main coordinate lies on the raster.
        int64_t first = 0, last = steps - 1;
        if (mainDir > 0) {
            first = std::max(first, -mainStart);
            last = std::min(last, mainLimit - 1 - mainStart);
        } else {
            first = std::max(first, mainStart - (mainLimit - 1));
            last = std::min(last, mainStart);
        }
        if (steps > 0 && first <= last) {
            // Minor offset at step i is round(i * minor / steps), halves away from the start:
            // floor((2 i minor + steps) / (2 steps)), kept incrementally from the first step.
            const int64_t den = 2 * steps;
            const __int128 num = __int128(2) * first * minor + steps;
            int64_t offset = int64_t(num / den);
            int64_t rem = int64_t(num % den);
            for (int64_t i = first; i <= last; ++i) {
                const int64_t m = mainStart + mainDir * i;
                const int64_t n = minorStart + minorDir * offset;
                if (xMajor)
                    PlotPen(int32_t(m), int32_t(Clamp64(n, -1, FOwner.Height())));
                else
                    PlotPen(int32_t(Clamp64(n, -1, FOwner.Width())), int32_t(m));
                rem += 2 * minor;
                if (rem >= den) {
                    rem -= den;
                    ++offset;
                }
            }
        }
    }
    FOwner.Changed();
}

void TCanvas::Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    int64_t l = std::min(x1, x2), r = std::max(x1, x2), t = std::min(y1, y2), b = std::max(y1, y2);
    if (l < r && t < b) {
        if (Pen.Style == psClear) {
            // As in GDI, a rectangle without outline is one pixel smaller on the right and bottom.
            if (Brush.Style != bsClear) FillBox(FOwner, l, t, r - 1, b - 1, Brush.Color);
        } else {
            if (Brush.Style != bsClear) FillBox(FOwner, l + 1, t + 1, r - 1, b - 1, Brush.Color);
            FillBox(FOwner, l, t, r, t + 1, Pen.Color);
            FillBox(FOwner, l, b - 1, r, b, Pen.Color);
            FillBox(FOwner, l, t, l + 1, b, Pen.Color);
            FillBox(FOwner, r - 1, t, r, b, Pen.Color);
        }
    }
    FOwner.Changed();
}

void TCanvas::FillRect(const TRect& r) {
    FillBox(FOwner, r.Left, r.Top, r.Right, r.Bottom, Brush.Color);
    FOwner.Changed();
}

void TCanvas::Draw(int32_t x, int32_t y, const TBitmap& picture) {
    const TRect d{x, y, int32_t(std::min<int64_t>(int64_t(x) + picture.Width(), INT32_MAX)),
                  int32_t(std::min<int64_t>(int64_t(y) + picture.Height(), INT32_MAX))};
    // A picture reaching past the coordinate range keeps its scale by shrinking the source too.
    const TRect s{0, 0, d.Right - x, d.Bottom - y};
    StretchCopy(FOwner, d, picture, s);
    FOwner.Changed();
}

void TCanvas::StretchDraw(const TRect& dest, const TBitmap& picture) {
    StretchCopy(FOwner, dest, picture, Rect(0, 0, picture.Width(), picture.Height()));
    FOwner.Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    StretchCopy(FOwner, dest, source.FOwner, sourceRect);
    FOwner.Changed();
}

TColor TCanvas::Pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= FOwner.Width() || y >= FOwner.Height()) return clBlack;
    return FOwner.PixelColor(x, y);
}

void TCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
    if (x < 0 || y < 0 || x >= FOwner.Width() || y >= FOwner.Height()) return;
    FOwner.SetPixelColor(x, y, color);
    FOwner.Changed();
}

}  // namespace qv
