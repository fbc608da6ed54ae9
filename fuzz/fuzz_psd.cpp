// Feeds arbitrary bytes to the Photoshop reader.
#include "fuzz/FuzzReader.h"
#include "imageio/PSDGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TPSDGraphic>(data, size);
}
