#include "imageio/ReaderClasses.h"

#include <iterator>

#include "imageio/GenericGraphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/TargaGraphic.h"
#include "imageio/TIFFGraphic.h"
#include "imageio/PCXGraphic.h"
#include "imageio/GIFGraphic.h"
#include "imageio/PSDGraphic.h"
#include "imageio/SGIGraphic.h"
#include "imageio/PPMGraphic.h"
#include "imageio/PCDGraphic.h"
#include "imageio/CUTGraphic.h"
#include "imageio/RLAGraphic.h"
#include "imageio/AutodeskGraphic.h"

namespace qv {

namespace {

struct TClassRow {
    std::string_view Name;
    const TBitmapClass* Class;
};

// Each reader class adds its own line here (and the include of its header), once.
const TClassRow ClassRows[] = {
    {"TBitmap", &TBitmap::Class},
    {"TJPEGImage", &TJPEGImage::Class},
    {"TRLEGraphic", &TRLEGraphic::Class},
    {"TTargaGraphic", &TTargaGraphic::Class},
    {"TTIFFGraphic", &TTIFFGraphic::Class},
    {"TPCXGraphic", &TPCXGraphic::Class},
    {"TGIFGraphic", &TGIFGraphic::Class},
    {"TPSDGraphic", &TPSDGraphic::Class},
    {"TSGIGraphic", &TSGIGraphic::Class},
    {"TPPMGraphic", &TPPMGraphic::Class},
    {"TPCDGraphic", &TPCDGraphic::Class},
    {"TCUTGraphic", &TCUTGraphic::Class},
    {"TRLAGraphic", &TRLAGraphic::Class},
    {"TAutodeskGraphic", &TAutodeskGraphic::Class},
};

}  // namespace

const TBitmapClass* FindReaderClass(std::string_view className) {
    for (const TClassRow& row : ClassRows)
        if (row.Name == className) return row.Class;
    return nullptr;
}

}  // namespace qv
