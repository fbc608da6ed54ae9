// Feeds arbitrary bytes to the TIFF reader; failures must be clean exceptions that leave
// the picture as it was, and every row of a picture that loads must be readable.
#include <cstddef>
#include <cstdint>

#include "FuzzReader.h"
#include "imageio/TIFFGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TTIFFGraphic>(data, size);
}
