// libFuzzer target: the JPEG class decoding arbitrary bytes, then re-encoding what it
// decoded.
#include <cstddef>
#include <cstdint>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/JPEGImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::TJPEGImage picture;
    qv::TMemoryStream input(data, static_cast<int64_t>(size));
    try {
        picture.LoadImageStream(input);
    } catch (const qv::Exception&) {
        return 0;  // refused cleanly: what we want for bad input
    }
    // Whatever decodes must encode again; kept small so the run stays fast.
    if (int64_t(picture.Width()) * picture.Height() <= (int64_t(1) << 18)) {
        qv::TMemoryStream output;
        picture.SaveImageStream(output);
    }
    return 0;
}
