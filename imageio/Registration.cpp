#include "imageio/Registration.h"

#include <algorithm>

#include "framework/Picture.h"
#include "util/Log_.h"

namespace qv {

namespace {

void RegisterUnit(TFormatUnit unit) {
    for (const TFormatRow* row : RegistrationRows(unit))
        TPicture::RegisterFileFormat(row->Extension, row->Description, *row->Class, row->CanWrite);
}

// Each class of the unit's rows once, in the order of their first row; the framework
// bitmap is the framework's and stays.
void UnregisterUnit(TFormatUnit unit) {
    std::vector<const TBitmapClass*> done;
    for (const TFormatRow* row : RegistrationRows(unit)) {
        if (row->Class == &TBitmap::Class || std::find(done.begin(), done.end(), row->Class) != done.end())
            continue;
        done.push_back(row->Class);
        TPicture::UnregisterGraphicClass(*row->Class);
    }
}

}  // namespace

std::vector<const TFormatRow*> RegistrationRows(TFormatUnit unit) {
    std::vector<const TFormatRow*> rows;
    if (unit == TFormatUnit::GenericOnly) return rows;
    for (const TFormatRow& row : FormatTable())
        if (row.Unit == unit) rows.push_back(&row);
    return rows;
}

void RegisterReaders() { RegisterUnit(TFormatUnit::Readers); }
void UnregisterReaders() { UnregisterUnit(TFormatUnit::Readers); }
void RegisterJPEGImage() { RegisterUnit(TFormatUnit::JPEG); }
void UnregisterJPEGImage() { UnregisterUnit(TFormatUnit::JPEG); }
void RegisterPNGImage() { RegisterUnit(TFormatUnit::PNG); }
void UnregisterPNGImage() { UnregisterUnit(TFormatUnit::PNG); }

void InitializeUnits() {
    RegisterReaders();
    RegisterJPEGImage();
    RegisterPNGImage();
    InitializeLog();
}

void FinalizeUnits() {
    FinalizeLog();
    UnregisterReaders();
    UnregisterJPEGImage();
    UnregisterPNGImage();
}

}  // namespace qv
