#include "imageio/FormatTable.h"

#include "imageio/AutodeskGraphic.h"
#include "imageio/CUTGraphic.h"
#include "imageio/GIFGraphic.h"
#include "imageio/GenericGraphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/PCDGraphic.h"
#include "imageio/PCXGraphic.h"
#include "imageio/PNGGraphic.h"
#include "imageio/PPMGraphic.h"
#include "imageio/PSDGraphic.h"
#include "imageio/RLAGraphic.h"
#include "imageio/SGIGraphic.h"
#include "imageio/TIFFGraphic.h"
#include "imageio/TargaGraphic.h"

namespace qv {

namespace {

using enum TFormatUnit;
constexpr bool kGeneric = true;
constexpr bool kListOnly = false;
constexpr bool kWrites = true;
constexpr bool kReadOnly = false;

// "rle" has two rows: the picture-format list gives it to the framework bitmap,
// TGenericGraphic to TRLEGraphic (which reads and writes the same way). "bmp" is the
// framework's own row in the list, so here it is TGenericGraphic's only.
const TFormatRow kRows[] = {
    {"jpg", "JPEG Image File", &TJPEGImage::Class, JPEG, kGeneric, kWrites},
    {"jfif", "JPEG Image File", &TJPEGImage::Class, JPEG, kGeneric, kWrites},
    {"jpe", "JPEG Image File", &TJPEGImage::Class, JPEG, kGeneric, kWrites},
    {"jpeg", "JPEG Image File", &TJPEGImage::Class, JPEG, kGeneric, kWrites},
    {"png", "PNG images", &TPNGGraphic::Class, PNG, kGeneric, kWrites},
    {"win", "Truevision images", &TTargaGraphic::Class, Readers, kGeneric, kWrites},
    {"vst", "Truevision images", &TTargaGraphic::Class, Readers, kGeneric, kWrites},
    {"vda", "Truevision images", &TTargaGraphic::Class, Readers, kGeneric, kWrites},
    {"tiff", "TIFF images", &TTIFFGraphic::Class, Readers, kGeneric, kReadOnly},
    {"tif", "TIFF images", &TTIFFGraphic::Class, Readers, kGeneric, kReadOnly},
    {"tga", "Truevision images", &TTargaGraphic::Class, Readers, kGeneric, kWrites},
    {"sgi", "SGI true color images", &TSGIGraphic::Class, Readers, kGeneric, kReadOnly},
    {"scr", "Word 5.x screen capture images", &TPCXGraphic::Class, Readers, kGeneric, kReadOnly},
    {"rpf", "SGI Wavefront images", &TRLAGraphic::Class, Readers, kGeneric, kReadOnly},
    {"rle", "Windows bitmap", &TBitmap::Class, Readers, kListOnly, kWrites},
    {"rle", "Windows bitmap", &TRLEGraphic::Class, GenericOnly, kGeneric, kWrites},
    {"rla", "SGI Wavefront images", &TRLAGraphic::Class, Readers, kGeneric, kReadOnly},
    {"rgba", "SGI true color images", &TSGIGraphic::Class, Readers, kGeneric, kReadOnly},
    {"rgb", "SGI true color images", &TSGIGraphic::Class, Readers, kGeneric, kReadOnly},
    {"psd", "Photoshop images", &TPSDGraphic::Class, Readers, kGeneric, kReadOnly},
    {"ppm", "Portable pixel map images", &TPPMGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pgm", "Portable grayscale images", &TPPMGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pbm", "Portable b&w images", &TPPMGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pic", "Autodesk images", &TAutodeskGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pcx", "ZSoft PCX images", &TPCXGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pdd", "Photoshop images", &TPSDGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pcd", "Kodak Photo-CD images", &TPCDGraphic::Class, Readers, kGeneric, kReadOnly},
    {"pcc", "ZSoft PCC images", &TPCXGraphic::Class, Readers, kGeneric, kReadOnly},
    {"icb", "Truevision images", &TTargaGraphic::Class, Readers, kGeneric, kWrites},
    {"gif", "CompuServe images", &TGIFGraphic::Class, Readers, kGeneric, kReadOnly},
    {"dib", "Windows bitmap", &TBitmap::Class, Readers, kGeneric, kWrites},
    {"cut", "Dr. Halo images", &TCUTGraphic::Class, Readers, kGeneric, kReadOnly},
    {"cel", "Autodesk images", &TAutodeskGraphic::Class, Readers, kGeneric, kReadOnly},
    {"bw", "SGI black/white images", &TSGIGraphic::Class, Readers, kGeneric, kReadOnly},
    {"bmp", "Bitmaps", &TBitmap::Class, GenericOnly, kGeneric, kWrites},
};

}  // namespace

std::span<const TFormatRow> FormatTable() { return kRows; }

const TBitmapClass* FindFormatClass(std::string_view className) {
    for (const TFormatRow& row : kRows)
        if (row.Class->Name == className) return row.Class;
    return nullptr;
}

}  // namespace qv
