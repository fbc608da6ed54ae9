#pragma once
// The raster that opens and saves picture files by their extension.
#include <string>
#include <string_view>

#include "framework/Graphics.h"

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

    // One row of the extension table: extension (lower case, no dot) and class name.
    struct TExtensionRow {
        const char* Extension;
        const char* ClassName;
    };
    static constexpr int RowCount = 30;
    static const TExtensionRow Rows[RowCount];

    // The lookup key of a file name: the text after the last dot of its bare name,
    // lower-cased; empty when the name has no dot.
    static std::string ExtensionKey(const std::string& fileName);
    // The class of the first table row whose extension equals the key, or null when no row
    // matches or the row's class is not part of this program (yet).
    static const TBitmapClass* FindClass(const std::string& fileName);
    // Whether a class writes a picture of its own or the framework raster's format; the
    // TIFF, PCX and Photo-CD classes write nothing.
    static bool ClassWrites(const TBitmapClass& cls);

    // Loads the file through the class its extension names. An unknown extension or a file
    // without a picture raises EInvalidGraphic; on any failure this raster is unchanged.
    void LoadImageFile(const std::string& fileName) override;
    // Saves through the class its extension names. An unknown extension, a class that
    // writes nothing, or a failure while writing raises; an existing file is then kept.
    void SaveImageFile(const std::string& fileName) override;
};

}  // namespace qv
