#include "morph/Bmp_.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

namespace qv {

const TBitmapClass TBmpFast::Class{"TBmpFast", &TBitmap::Class, &CreateInstance<TBmpFast>};
const TBitmapClass TBmp::Class{"TBmp", &TBmpFast::Class, &CreateInstance<TBmp>};

void TBmpFast::SetWidth(int32_t value) {
    TBitmap::SetWidth(value);
    RebuildRowTable();
}

void TBmpFast::SetHeight(int32_t value) {
    TBitmap::SetHeight(value);
    RebuildRowTable();
}

void TBmpFast::Assign(const TBitmap& source) {
    TBitmap::Assign(source);
    RebuildRowTable();
}

void TBmpFast::LoadImageStream(TStream& stream) {
    TBitmap::LoadImageStream(stream);
    RebuildRowTable();
}

void TBmpFast::LoadImageFile(const std::string& fileName) {
    TBitmap::LoadImageFile(fileName);
    RebuildRowTable();
}

void TBmpFast::RebuildRowTable() {
    const int32_t rows = Empty() ? 0 : Height();
    FRowTable.resize(size_t(rows));
    for (int32_t i = 0; i < rows; ++i) FRowTable[size_t(i)] = ScanLine(i);
    FTableBase = rows > 0 ? FRowTable[0] : nullptr;
    FTablePitch = RowBytes();
}

bool TBmpFast::RowTableValid() const {
    const int32_t rows = Empty() ? 0 : Height();
    if (FRowTable.size() != size_t(rows)) return false;
    if (rows == 0) return true;
    // Rows are stored top-down at a fixed pitch, so base, pitch and height fix every address.
    return FTableBase == ScanLine(0) && FTablePitch == RowBytes();
}

TBmp::TBmp() {
    SetTransparent(false);
    // Chosen while empty, so every later size is allocated at 32 bits.
    SetPixelFormat(pf32bit);
}

void TBmp::Assign(const TBitmap& source) {
    TBitmap::Assign(source);
    SetPixelFormat(pf32bit);
    RebuildRowTable();
}

void TBmp::LoadImageStream(TStream& stream) {
    TBitmap::LoadImageStream(stream);
    SetPixelFormat(pf32bit);
    RebuildRowTable();
}

void TBmp::LoadImageFile(const std::string& fileName) {
    TBitmap::LoadImageFile(fileName);
    SetPixelFormat(pf32bit);
    RebuildRowTable();
}

void TBmp::DrawTo(int32_t X, int32_t Y, TBitmap& Dest) {
    Dest.SetPixelFormat(pf32bit);
    // The copy moves whole 32-bit words; a picture someone converted behind our back is
    // brought back to 32 bits first (lossless from every other format).
    if (PixelFormat() != pf32bit) SetPixelFormat(pf32bit);

    // 64-bit: X or Y near the ends of the 32-bit range must not overflow the clipping.
    const int64_t x0 = std::max<int64_t>(0, -int64_t(X));
    const int64_t x1 = std::min<int64_t>(int64_t(Width()) - 1, int64_t(Dest.Width()) - X - 1);
    const int64_t y0 = std::max<int64_t>(0, -int64_t(Y));
    const int64_t y1 = std::min<int64_t>(int64_t(Height()) - 1, int64_t(Dest.Height()) - Y - 1);
    if (x0 <= x1 && !Empty() && !Dest.Empty()) {
        const size_t bytes = size_t(x1 - x0 + 1) * 4;
        for (int64_t sy = y0; sy <= y1; ++sy) {
            const uint8_t* src = FastRowAddress(*this, int32_t(sy));
            uint8_t* dst = FastRowAddress(Dest, int32_t(Y + sy));
            // memmove: a picture may be drawn onto itself.
            std::memmove(dst + (X + x0) * 4, src + x0 * 4, bytes);
        }
    }
    Dest.SetModified(true);
}

uint8_t* FastRowAddress(TBitmap& Bitmap, int32_t Row) {
    const std::type_info& type = typeid(Bitmap);
    if (type == typeid(TBmpFast) || type == typeid(TBmp)) {
        auto& fast = static_cast<TBmpFast&>(Bitmap);
        // A format change through the base class can move the storage; never hand out
        // an address into freed memory.
        if (!fast.RowTableValid()) fast.RebuildRowTable();
        const auto& table = fast.RowTable();
        if (Row < 0 || size_t(Row) >= table.size()) return nullptr;
        return table[size_t(Row)];
    }
    return Bitmap.ScanLine(Row);
}

}  // namespace qv
