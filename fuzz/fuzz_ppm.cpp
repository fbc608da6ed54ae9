// Feeds arbitrary bytes to the portable-map reader.
#include "fuzz/FuzzReader.h"
#include "imageio/PPMGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TPPMGraphic>(data, size);
}
