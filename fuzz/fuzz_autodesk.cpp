// Feeds arbitrary bytes to the Autodesk reader.
#include "fuzz/FuzzReader.h"
#include "imageio/AutodeskGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qv::FuzzReader<qv::TAutodeskGraphic>(data, size);
}
