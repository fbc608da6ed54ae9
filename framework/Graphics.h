#pragma once
// The raster (TBitmap) with its palette and drawing canvas, modelled on the platform's
// device-independent bitmaps and GDI drawing rules.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/PixelStorage.h"

namespace qv {

class TStream;
class TBitmap;
class TCanvas;

// Colour value: red in the lowest byte, then green, then blue.
using TColor = uint32_t;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
    return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr uint8_t GetRValue(TColor c) { return uint8_t(c); }
constexpr uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clGreen = 0x008000;
constexpr TColor clGray = 0x808080;
constexpr TColor clBlue = 0xFF0000;

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};
inline TPoint Point(int32_t x, int32_t y) { return TPoint{x, y}; }

// Left/top included, right/bottom excluded.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};
inline TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
using enum TPixelFormat;

// Bits per stored pixel of a format; pfDevice rasters are stored at the screen depth (32),
// pfCustom is not a storable format (0).
int BitsPerPixel(TPixelFormat pf);
// "pf24bit" etc., for messages and the batch tool.
const char* PixelFormatName(TPixelFormat pf);

// One palette entry as in a platform logical palette.
struct TPaletteEntry {
    uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
// A logical palette: version 0x300 and at most 256 entries.
struct TLogPalette {
    uint16_t Version = 0x300;
    std::vector<TPaletteEntry> Entries;
};
// 256 grey steps (entry k = k, k, k); readers use it for grey pictures.
TLogPalette GreyPalette(int count = 256);

// The "class reference" of a raster class: its name, its parent, and a virtual constructor.
// The picture-format list keeps these; class identity is the address of the object.
struct TBitmapClass {
    const char* Name;
    const TBitmapClass* Parent;
    std::unique_ptr<TBitmap> (*Create)();
    bool InheritsFrom(const TBitmapClass& other) const;
};

template <class T>
std::unique_ptr<TBitmap> CreateInstance() { return std::make_unique<T>(); }

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
using enum TPenStyle;
enum class TBrushStyle { bsSolid, bsClear };
using enum TBrushStyle;

struct TPen {
    TColor Color = clBlack;
    TPenStyle Style = psSolid;
    int Width = 1;
};
struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

// Stretch modes of the platform; only COLORONCOLOR (nearest colour, never blended) is
// implemented, the others behave like it.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

// GDI-style drawing on a TBitmap. All coordinates are clipped to the raster; drawing marks
// the raster changed.
class TCanvas {
public:
    explicit TCanvas(TBitmap& owner) : FOwner(owner) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;

    // The device-context stand-in, for SetStretchBltMode.
    TCanvas* Handle() { return this; }
    int StretchMode() const { return FStretchMode; }
    void SetStretchMode(int mode) { FStretchMode = mode; }

    TPoint PenPos() const { return FPenPos; }
    void MoveTo(int32_t x, int32_t y);
    // Draws from the pen position to (x, y) with the pen; the end pixel is left out.
    void LineTo(int32_t x, int32_t y);
    // Outlines the half-open box with the pen and fills its inside with the brush unless
    // the brush is clear.
    void Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    // Fills the half-open rectangle with the brush (also when the brush style is clear).
    void FillRect(const TRect& r);
    // Copies the picture unscaled with its top-left at (x, y), converting its pixel format.
    void Draw(int32_t x, int32_t y, const TBitmap& picture);
    // Scales the picture onto the rectangle, nearest colour.
    void StretchDraw(const TRect& dest, const TBitmap& picture);
    // Copies source's rectangle onto this canvas's rectangle, scaling nearest colour.
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);

    // Single pixels; reads outside give clBlack, writes outside are dropped.
    TColor Pixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, TColor color);

    TBitmap& Owner() { return FOwner; }

private:
    void PlotPen(int32_t x, int32_t y);
    TBitmap& FOwner;
    TPoint FPenPos;
    int FStretchMode = BLACKONWHITE;
};

using HDC = TCanvas*;
// Returns the previous mode.
int SetStretchBltMode(HDC dc, int mode);

class TBitmap {
public:
    TBitmap();
    virtual ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    static const TBitmapClass Class;
    virtual const TBitmapClass& ClassType() const { return Class; }

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // Resize keeping the overlapping pixels; new area is white. Same value: nothing happens.
    // Negative values count as 0. Throws EInvalidGraphicOperation when the pixels would
    // need more than 1 GiB.
    virtual void SetWidth(int32_t value);
    virtual void SetHeight(int32_t value);
    void SetSize(int32_t width, int32_t height);
    // For a decoder about to write every byte of every row: the size of SetSize with the
    // pixels left zero instead of white (no pass over them). Any earlier pixels are dropped.
    void SetSizeForDecoding(int32_t width, int32_t height);

    // pfDevice while no format was chosen (new or released raster).
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    // Converts the pixels (see the .cpp for the rules); same format: nothing happens.
    // pfCustom and pfDevice requests keep the storage and only relabel when empty.
    void SetPixelFormat(TPixelFormat value);

    bool Empty() const { return FWidth == 0 || FHeight == 0; }
    // Drops size, pixels and palette; the format reverts to pfDevice (the platform's Handle := 0).
    void ReleaseHandle();
    void Dormant() {}

    // Top-down rows, each padded to 4 bytes. Throws EInvalidGraphicOperation out of range.
    uint8_t* ScanLine(int32_t row);
    const uint8_t* ScanLine(int32_t row) const;
    // Bytes per stored row (multiple of 4).
    int32_t RowBytes() const { return FRowBytes; }
    int StorageBits() const;

    // Palette of indexed rasters (empty for true colour). Setting a palette on a true-colour
    // raster keeps it for a later conversion to an indexed format.
    const TLogPalette& Palette() const { return FPalette; }
    void SetPalette(const TLogPalette& palette);  // at most 256 entries are kept
    // Entries 0..n-1 as a platform GetPaletteEntries would give them (missing ones zero).
    std::vector<TPaletteEntry> GetPaletteEntries(int first, int count) const;

    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v) { FTransparent = v; }

    bool Modified() const { return FModified; }
    // Setting true signals a change (OnChange), as the platform does.
    void SetModified(bool value);
    // Called after the picture changed (drawing, loading, resizing, SetModified(true)).
    std::function<void()> OnChange;
    void Changed();
    // Rises with every change signal: a view that keeps copies of the pixels compares it to
    // tell whether its copies are still current.
    uint64_t ChangeCount() const { return FChangeCount; }

    TCanvas& Canvas() { return *FCanvas; }

    // Copies size, format, palette and pixels (the source's storage, not its class).
    virtual void Assign(const TBitmap& source);
    // Takes over size, format, palette and pixels without copying them; source is left
    // empty (as after ReleaseHandle). Row addresses of this raster change.
    void TakePixels(TBitmap& source);

    // The base class reads and writes the Windows bitmap format.
    virtual void LoadImageStream(TStream& stream);
    // The base class's reading followed by SetPixelFormat(pf32bit), with 24-bit rows widened
    // as they are read: no 24-bit raster in between.
    void LoadImageStreamAs32(TStream& stream);
    virtual void SaveImageStream(TStream& stream);
    virtual void LoadImageFile(const std::string& fileName);
    virtual void SaveImageFile(const std::string& fileName);

    // Colour of a pixel whatever the format (indexed through the palette); no range check.
    TColor PixelColor(int32_t x, int32_t y) const;
    // Stores the colour in the raster's format (nearest palette entry for indexed formats);
    // the fourth byte of 32-bit pixels becomes 0. No range check.
    void SetPixelColor(int32_t x, int32_t y, TColor color);
    // Nearest palette index to a colour (0 for an empty palette).
    uint8_t NearestIndex(TColor color) const;

private:
    // fill: keep the overlap and make new pixels white; else every byte is zero.
    void Reallocate(int32_t width, int32_t height, TPixelFormat pf, bool fill = true);
    void FillWhite(int32_t fromRow, int32_t toRow, int32_t fromCol);
    void ConvertTo(TPixelFormat pf);

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FRowBytes = 0;
    TPixelFormat FPixelFormat = pfDevice;
    TPixelBytes FBits;
    TLogPalette FPalette;
    bool FTransparent = false;
    bool FModified = false;
    uint64_t FChangeCount = 0;
    std::unique_ptr<TCanvas> FCanvas;
};

// Screen depth used for device-dependent rasters and the "device" bits per pixel.
int ScreenBitsPerPixel();

// Whole rows of the common formats (24 <-> 32-bit, 8-bit indexed -> 24/32-bit) are converted
// by dedicated loops with the same result as the pixel-by-pixel path. Turning this off
// forces the pixel-by-pixel path (the tests compare both).
void SetFastRowConversions(bool enabled);
bool FastRowConversions();

}  // namespace qv
