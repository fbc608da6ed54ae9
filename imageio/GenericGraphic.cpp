#include "imageio/GenericGraphic.h"

#include <memory>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "util/Str_.h"

namespace qv {

const TBitmapClass TRLEGraphic::Class{"TRLEGraphic", &TBitmap::Class, &CreateInstance<TRLEGraphic>};
const TBitmapClass TGenericGraphic::Class{"TGenericGraphic", &TBitmap::Class, &CreateInstance<TGenericGraphic>};

namespace {

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

const TFormatRow* TGenericGraphic::FindRow(const std::string& fileName) {
    const std::string key = ExtensionKey(fileName);
    if (key.empty()) return nullptr;
    for (const TFormatRow& row : FormatTable())
        if (row.Generic && key == row.Extension) return &row;
    return nullptr;
}

const TBitmapClass* TGenericGraphic::FindClass(const std::string& fileName) {
    const TFormatRow* row = FindRow(fileName);
    return row ? row->Class : nullptr;
}

void TGenericGraphic::LoadImageFile(const std::string& fileName) { Load(fileName, false); }

void TGenericGraphic::LoadImageFileAs32(const std::string& fileName) {
    Load(fileName, true);
    SetPixelFormat(pf32bit);
}

void TGenericGraphic::Load(const std::string& fileName, bool as32) {
    // Opened first so that a missing or locked file fails the same way for every extension.
    TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    const TBitmapClass* cls = FindClass(fileName);
    if (cls == nullptr) throw EInvalidGraphic(UnknownTypeMessage(fileName));
    std::unique_ptr<TBitmap> picture = cls->Create();
    // Bitmaps (the base class's own format) are widened while they are read.
    if (as32 && cls == &TBitmap::Class)
        picture->LoadImageStreamAs32(stream);
    else
        picture->LoadImageStream(stream);
    // An empty result would silently shrink whatever the picture is used for.
    if (picture->Empty()) throw EInvalidGraphic("No picture in file: " + fileName);
    TakePixels(*picture);  // the decoded picture is thrown away: no copy needed
}

namespace {

void WritePicture(TBitmap& picture, const std::string& fileName) {
    // Written beside the target and moved over it only when complete.
    WriteFileReplacing(fileName, [&](TStream& stream) {
        const int64_t start = stream.Position();
        picture.SaveImageStream(stream);
        // The format can be written, but this time nothing was (a declined Targa
        // conversion, for one): say so rather than blame the format.
        if (stream.Position() == start)
            throw EInvalidGraphic("Nothing was written: the picture was not saved as " + fileName);
    }, TSync::WhenReplacing);
}

}  // namespace

void TGenericGraphic::SaveImageFile(const std::string& fileName) {
    const TFormatRow* row = FindRow(fileName);
    if (row == nullptr) throw EInvalidGraphic(UnknownTypeMessage(fileName));
    // A format that is only read must not get some other format's bytes under its name:
    // the program would then refuse its own file.
    if (!row->CanWrite) throw EInvalidGraphic("Cannot save pictures as ." + ExtensionKey(fileName) + " files");
    std::unique_ptr<TBitmap> picture = row->Class->Create();
    // The writer borrows the pixels instead of a copy of them; they come back however the
    // save ends.
    picture->TakePixels(*this);
    try {
        WritePicture(*picture, fileName);
    } catch (...) {
        TakePixels(*picture);
        throw;
    }
    TakePixels(*picture);
}

}  // namespace qv
