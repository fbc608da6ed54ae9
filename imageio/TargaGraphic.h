#pragma once
// Truevision Targa pictures: reading types 1, 2, 3 (raw) and 9, 10, 11 (run-length),
// writing run-length (or raw) files.
#include <string>

#include "framework/Graphics.h"

namespace qv {

class TStream;

class TTargaGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // The file's image identification field (any bytes, at most 255 are written).
    const std::string& ImageID() const { return FImageID; }
    void SetImageID(const std::string& value) { FImageID = value; }

    // Reads one Targa file from the stream's position. A header this reader cannot use, or
    // one announcing more pixels than the file can hold, raises before anything changes.
    void LoadImageStream(TStream& stream) override;
    // Always the run-length variant.
    void SaveImageStream(TStream& stream) override;
    // Writes the picture at the stream's position. 1- and 4-bit pictures are converted to
    // 8 bits if the user agrees (nothing is written otherwise); an empty picture writes
    // nothing.
    void SaveTarga(TStream& stream, bool compressed);

    // A picture of at most this many bytes of pixels is always read, however short the
    // file (what is missing stays white); larger ones must fit the file's data.
    static constexpr int64_t SmallPictureBytes = int64_t(1) << 20;

private:
    std::string FImageID;
};

}  // namespace qv
