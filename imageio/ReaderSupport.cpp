#include "imageio/ReaderSupport.h"

#include <cinttypes>
#include <limits>

#include "framework/Stream.h"

namespace qv {

EReaderError::EReaderError(std::string_view format, const std::string& what)
    : EInvalidGraphic(std::string(format) + ": " + what), FFormat(format) {}

void ReaderFail(std::string_view format, const std::string& what) { throw EReaderError(format, what); }

void CheckRasterSize(std::string_view format, int64_t width, int64_t height, TPixelFormat pf) {
    if (width <= 0 || height <= 0)
        ReaderFail(format, Format("picture of %" PRId64 " x %" PRId64 " pixels", width, height));
    if (width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max() ||
        height > kMaxRasterBytes / RasterRowBytes(width, pf))
        ReaderFail(format, Format("picture of %" PRId64 " x %" PRId64 " pixels is too large", width, height));
}

void CheckFitsFile(std::string_view format, int64_t width, int64_t height, int64_t needed, int64_t available) {
    if (needed > available)
        ReaderFail(format, Format("%" PRId64 " x %" PRId64 " pixels need at least %" PRId64
                                  " bytes of data, the file has %" PRId64,
                                  width, height, needed, std::max<int64_t>(available, 0)));
}

int64_t BytesLeft(TStream& stream) {
    try {
        const int64_t left = stream.Size() - stream.Position();
        if (left >= 0) return left;
    } catch (const Exception&) {
    }
    return std::numeric_limits<int64_t>::max() / 4;
}

const TBitmap& As24Bit(const TBitmap& picture, TBitmap& scratch) {
    if (picture.PixelFormat() == pf24bit) return picture;
    scratch.Assign(picture);
    scratch.SetPixelFormat(pf24bit);
    return scratch;
}

}  // namespace qv
