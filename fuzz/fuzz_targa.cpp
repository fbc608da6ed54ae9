// Feeds arbitrary bytes to the Targa reader; failures must be clean exceptions.
#include <cstddef>
#include <cstdint>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/TargaGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::TMemoryStream stream(data, int64_t(size));
    qv::TTargaGraphic picture;
    try {
        picture.LoadImageStream(stream);
        // Writing back what was read exercises the encoder on every decoded picture.
        qv::TMemoryStream out;
        picture.SaveImageStream(out);
    } catch (const qv::Exception&) {
    }
    return 0;
}
