// Feeds arbitrary bytes to the CUT reader. A load either fails with a qv::Exception or
// gives a picture whose every row can be read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/CUTGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::TMemoryStream stream(data, static_cast<int64_t>(size));
    qv::TCUTGraphic picture;
    try {
        picture.LoadImageStream(stream);
    } catch (const qv::Exception&) {
        return 0;
    }
    if (picture.Width() < 0 || picture.Height() < 0) std::abort();
    unsigned sum = 0;
    // Rows without bytes (width 0) have nothing to check, however many there are.
    for (int32_t y = 0; picture.RowBytes() > 0 && y < picture.Height(); ++y) {
        const uint8_t* row = picture.ScanLine(y);
        for (int32_t i = 0; i < picture.RowBytes(); ++i) sum += row[i];
    }
    return static_cast<int>(sum & 0);
}
