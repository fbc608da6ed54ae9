// Feeds arbitrary bytes to the PNG reader; failures must be clean exceptions and every row
// of a picture that loads must be readable.
#include <cstddef>
#include <cstdint>

#include "FuzzReader.h"
#include "imageio/PNGGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TPNGGraphic>(data, size);
}
