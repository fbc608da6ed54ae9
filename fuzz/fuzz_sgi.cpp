// Feeds arbitrary bytes to the SGI reader.
#include "fuzz/FuzzReader.h"
#include "imageio/SGIGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TSGIGraphic>(data, size);
}
