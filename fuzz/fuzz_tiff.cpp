// Feeds arbitrary bytes to the TIFF reader; failures must be clean exceptions.
#include <cstddef>
#include <cstdint>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/TIFFGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::TMemoryStream stream(data, int64_t(size));
    qv::TTIFFGraphic picture;
    try {
        picture.LoadImageStream(stream);
    } catch (const qv::Exception&) {
    }
    return 0;
}
