#pragma once
// The raster that opens and saves picture files by their extension.
#include <string>
#include <string_view>

#include "framework/Graphics.h"
#include "imageio/FormatTable.h"

namespace qv {

// Reads and writes exactly like the framework raster; serves the "rle" extension.
class TRLEGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }
};

class TGenericGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // The lookup key of a file name: the text after the last dot of its bare name,
    // lower-cased; empty when the name has no dot.
    static std::string ExtensionKey(const std::string& fileName);
    // The first row of the format table's generic rows whose extension equals the key, or
    // null when none does.
    static const TFormatRow* FindRow(const std::string& fileName);
    // That row's class, or null.
    static const TBitmapClass* FindClass(const std::string& fileName);

    // Loads the file through the class its extension names. An unknown extension or a file
    // without a picture raises EInvalidGraphic; on any failure this raster is unchanged.
    void LoadImageFile(const std::string& fileName) override;
    // LoadImageFile followed by SetPixelFormat(pf32bit), without a raster in between where
    // the reader can avoid one.
    void LoadImageFileAs32(const std::string& fileName);
    // Saves through the class its extension names. An unknown extension, a format that is
    // only read ("Cannot save pictures as .gif files"), or a failure while writing raises;
    // nothing is written and an existing file is kept.
    void SaveImageFile(const std::string& fileName) override;

private:
    void Load(const std::string& fileName, bool as32);
};

}  // namespace qv
