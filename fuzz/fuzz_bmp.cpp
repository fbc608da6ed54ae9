// Feeds arbitrary bytes to the bitmap reader. A file that loads must also save and read back
// to the same picture.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"
#include "framework/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::TMemoryStream stream(data, static_cast<int64_t>(size));
    qv::TBitmap bmp;
    try {
        bmp.LoadImageStream(stream);
    } catch (const qv::Exception&) {
        if (!bmp.Empty()) std::abort();  // a failed load must leave the raster alone
        return 0;
    }
    qv::TMemoryStream saved;
    bmp.SaveImageStream(saved);
    saved.SetPosition(0);
    qv::TBitmap back;
    back.LoadImageStream(saved);
    if (back.Width() != bmp.Width() || back.Height() != bmp.Height() ||
        back.PixelFormat() != bmp.PixelFormat() || back.RowBytes() != bmp.RowBytes() ||
        back.Palette().Entries != bmp.Palette().Entries)
        std::abort();
    const int usedBytes = (bmp.Width() * back.StorageBits() + 7) / 8;
    for (int32_t y = 0; y < bmp.Height(); ++y)
        if (std::memcmp(back.ScanLine(y), bmp.ScanLine(y), static_cast<size_t>(usedBytes)) != 0)
            std::abort();
    return 0;
}
