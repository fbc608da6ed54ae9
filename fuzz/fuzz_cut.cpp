// Feeds arbitrary bytes to the CUT reader.
#include "fuzz/FuzzReader.h"
#include "imageio/CUTGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TCUTGraphic>(data, size);
}
