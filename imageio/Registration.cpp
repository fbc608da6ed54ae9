#include "imageio/Registration.h"

#include "framework/Picture.h"
#include "imageio/ReaderClasses.h"
#include "util/Log_.h"

namespace qv {

const std::array<TReaderRegistration, 28> ReaderRegistrations = {{
    {"win", "Truevision images", "TTargaGraphic"},
    {"vst", "Truevision images", "TTargaGraphic"},
    {"vda", "Truevision images", "TTargaGraphic"},
    {"tiff", "TIFF images", "TTIFFGraphic"},
    {"tif", "TIFF images", "TTIFFGraphic"},
    {"tga", "Truevision images", "TTargaGraphic"},
    {"sgi", "SGI true color images", "TSGIGraphic"},
    {"scr", "Word 5.x screen capture images", "TPCXGraphic"},
    {"rpf", "SGI Wavefront images", "TRLAGraphic"},
    {"rle", "Windows bitmap", "TBitmap"},
    {"rla", "SGI Wavefront images", "TRLAGraphic"},
    {"rgba", "SGI true color images", "TSGIGraphic"},
    {"rgb", "SGI true color images", "TSGIGraphic"},
    {"psd", "Photoshop images", "TPSDGraphic"},
    {"ppm", "Portable pixel map images", "TPPMGraphic"},
    {"pgm", "Portable grayscale images", "TPPMGraphic"},
    {"pbm", "Portable b&w images", "TPPMGraphic"},
    {"pic", "Autodesk images", "TAutodeskGraphic"},
    {"pcx", "ZSoft PCX images", "TPCXGraphic"},
    {"pdd", "Photoshop images", "TPSDGraphic"},
    {"pcd", "Kodak Photo-CD images", "TPCDGraphic"},
    {"pcc", "ZSoft PCC images", "TPCXGraphic"},
    {"icb", "Truevision images", "TTargaGraphic"},
    {"gif", "CompuServe images", "TGIFGraphic"},
    {"dib", "Windows bitmap", "TBitmap"},
    {"cut", "Dr. Halo images", "TCUTGraphic"},
    {"cel", "Autodesk images", "TAutodeskGraphic"},
    {"bw", "SGI black/white images", "TSGIGraphic"},
}};

const std::array<const char*, 11> ReaderUnregistrationOrder = {
    "TTargaGraphic", "TTIFFGraphic", "TSGIGraphic", "TPCXGraphic",
    "TAutodeskGraphic", "TPCDGraphic", "TPPMGraphic", "TCUTGraphic",
    "TGIFGraphic", "TRLAGraphic", "TPSDGraphic",
};

const std::array<TReaderRegistration, 2> JPEGRegistrations = {{
    {"jpeg", "JPEG Image File", "TJPEGImage"},
    {"jpg", "JPEG Image File", "TJPEGImage"},
}};

namespace {

void RegisterRows(const TReaderRegistration* rows, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (const TBitmapClass* cls = FindReaderClass(rows[i].ClassName))
            TPicture::RegisterFileFormat(rows[i].Extension, rows[i].Description, *cls);
}

void Unregister(const char* className) {
    if (const TBitmapClass* cls = FindReaderClass(className)) TPicture::UnregisterGraphicClass(*cls);
}

}  // namespace

void RegisterReaders() { RegisterRows(ReaderRegistrations.data(), ReaderRegistrations.size()); }

void UnregisterReaders() {
    for (const char* name : ReaderUnregistrationOrder) Unregister(name);
}

void RegisterJPEGImage() { RegisterRows(JPEGRegistrations.data(), JPEGRegistrations.size()); }

void UnregisterJPEGImage() { Unregister("TJPEGImage"); }

void InitializeUnits() {
    RegisterReaders();
    RegisterJPEGImage();
    InitializeLog();
}

void FinalizeUnits() {
    FinalizeLog();
    UnregisterReaders();
    UnregisterJPEGImage();
}

}  // namespace qv
