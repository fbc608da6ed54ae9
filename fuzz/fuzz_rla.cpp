// Feeds arbitrary bytes to the RLA reader.
#include "fuzz/FuzzReader.h"
#include "imageio/RLAGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TRLAGraphic>(data, size);
}
