#include "imageio/GenericGraphic.h"

#include <memory>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/ReaderClasses.h"
#include "util/Str_.h"

namespace qv {

const TBitmapClass TRLEGraphic::Class{"TRLEGraphic", &TBitmap::Class, &CreateInstance<TRLEGraphic>};
const TBitmapClass TGenericGraphic::Class{"TGenericGraphic", &TBitmap::Class, &CreateInstance<TGenericGraphic>};

// Searched from the first row to the last; classes are named, not referenced, so that a
// row whose reader is not built in behaves like an unknown extension.
const TGenericGraphic::TExtensionRow TGenericGraphic::Rows[RowCount] = {
    {"jpg", "TJPEGImage"},       {"win", "TTargaGraphic"},    {"vst", "TTargaGraphic"},
    {"vda", "TTargaGraphic"},    {"tiff", "TTIFFGraphic"},    {"tif", "TTIFFGraphic"},
    {"tga", "TTargaGraphic"},    {"sgi", "TSGIGraphic"},      {"scr", "TPCXGraphic"},
    {"rpf", "TRLAGraphic"},      {"rle", "TRLEGraphic"},      {"rla", "TRLAGraphic"},
    {"rgba", "TSGIGraphic"},     {"rgb", "TSGIGraphic"},      {"psd", "TPSDGraphic"},
    {"ppm", "TPPMGraphic"},      {"pgm", "TPPMGraphic"},      {"pbm", "TPPMGraphic"},
    {"pic", "TAutodeskGraphic"}, {"pcx", "TPCXGraphic"},      {"pdd", "TPSDGraphic"},
    {"pcd", "TPCDGraphic"},      {"pcc", "TPCXGraphic"},      {"icb", "TTargaGraphic"},
    {"gif", "TGIFGraphic"},      {"dib", "TBitmap"},          {"cut", "TCUTGraphic"},
    {"cel", "TAutodeskGraphic"}, {"bw", "TSGIGraphic"},       {"bmp", "TBitmap"},
};

namespace {

// Classes whose writing produces no file content at all.
constexpr std::string_view kSilentWriters[] = {"TTIFFGraphic", "TPCXGraphic", "TPCDGraphic"};

std::string UnknownTypeMessage(const std::string& fileName) {
    std::string key = TGenericGraphic::ExtensionKey(fileName);
    if (key.empty()) return "Unknown picture file type: " + ExtractFileName(fileName) + " has no extension";
    return "Unknown picture file type: ." + key;
}

}  // namespace

std::string TGenericGraphic::ExtensionKey(const std::string& fileName) {
    // ExtractFileExt looks only at the bare name, so a dot in a folder name does not count;
    // the field after its dot is the extension without the dot.
    return LowerCase(GetField(ExtractFileExt(fileName), ".", 2));
}

const TBitmapClass* TGenericGraphic::FindClass(const std::string& fileName) {
    const std::string key = ExtensionKey(fileName);
    if (key.empty()) return nullptr;
    for (const TExtensionRow& row : Rows) {
        if (key == row.Extension) return FindReaderClass(row.ClassName);
    }
    return nullptr;
}

bool TGenericGraphic::ClassWrites(const TBitmapClass& cls) {
    for (const TBitmapClass* c = &cls; c != nullptr; c = c->Parent) {
        for (std::string_view name : kSilentWriters) {
            if (name == c->Name) return false;
        }
    }
    return true;
}

void TGenericGraphic::LoadImageFile(const std::string& fileName) {
    // Opened first so that a missing or locked file fails the same way for every extension.
    TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    const TBitmapClass* cls = FindClass(fileName);
    if (cls == nullptr) throw EInvalidGraphic(UnknownTypeMessage(fileName));
    std::unique_ptr<TBitmap> picture = cls->Create();
    picture->LoadImageStream(stream);
    // An empty result would silently shrink whatever the picture is used for.
    if (picture->Empty()) throw EInvalidGraphic("No picture in file: " + fileName);
    Assign(*picture);
}

void TGenericGraphic::SaveImageFile(const std::string& fileName) {
    const TBitmapClass* cls = FindClass(fileName);
    if (cls == nullptr) throw EInvalidGraphic(UnknownTypeMessage(fileName));
    if (!ClassWrites(*cls))
        throw EInvalidGraphic("Cannot save pictures as ." + ExtensionKey(fileName) + " files");
    std::unique_ptr<TBitmap> picture = cls->Create();
    picture->Assign(*this);
    // Written beside the target and moved over it only when complete.
    WriteFileReplacing(fileName, [&](TStream& stream) {
        const int64_t start = stream.Position();
        picture->SaveImageStream(stream);
        // The format can be written, but this time nothing was (a declined Targa
        // conversion, for one): say so rather than blame the format.
        if (stream.Position() == start)
            throw EInvalidGraphic("Nothing was written: the picture was not saved as " + fileName);
    });
}

}  // namespace qv
