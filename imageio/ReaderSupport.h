#pragma once
// What every picture reader checks the same way: the length of a stored row, the raster's
// size limit, whether the size a header announces can come from the bytes the file has,
// and the failure that names the format.
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"

namespace qv {

// A picture file that cannot be decoded; the message starts with the format's name
// ("PNG: ...", "TIFF: ..."), so the user knows which reader refused the file.
class EReaderError : public EInvalidGraphic {
public:
    EReaderError(std::string_view format, const std::string& what);
    const std::string& FormatName() const { return FFormat; }

private:
    std::string FFormat;
};

[[noreturn]] void ReaderFail(std::string_view format, const std::string& what);

// The raster's own limit on its pixel bytes.
constexpr int64_t kMaxRasterBytes = int64_t(1) << 30;

// Bytes of one raster row of width pixels at bits per pixel: whole 32-bit words. 64-bit
// because the width comes from a file.
constexpr int64_t RasterRowBytes(int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }

inline int64_t RasterRowBytes(int64_t width, TPixelFormat pf) { return RasterRowBytes(width, BitsPerPixel(pf)); }

// Refuses a size the raster cannot hold (non-positive, beyond 32 bits, or more than
// kMaxRasterBytes at that pixel format) before anything is allocated.
void CheckRasterSize(std::string_view format, int64_t width, int64_t height, TPixelFormat pf);

// Refuses a picture whose announced size cannot come from the bytes the file still has:
// needed is the least number of file bytes that such a picture takes (after the reader's
// own reckoning of the best compression its format allows).
void CheckFitsFile(std::string_view format, int64_t width, int64_t height, int64_t needed, int64_t available);

// Bytes from the stream's position to its end; when the stream cannot say, a value so large
// that only the raster limit applies.
int64_t BytesLeft(class TStream& stream);

// The picture itself when it is 24-bit, else a 24-bit copy of it made in scratch: for
// writers that store only 24-bit rows and must leave the picture as it was.
const TBitmap& As24Bit(const TBitmap& picture, TBitmap& scratch);

}  // namespace qv
