#pragma once
// The picture-format list: which raster class reads which file extension, and the filter
// of the picture dialogs.
#include <string>
#include <vector>

#include "Graphics.h"

namespace qv {

struct TFileFormat {
    std::string Extension;    // lower-case, without the dot
    std::string Description;  // shown in dialogs
    const TBitmapClass* Class;  // null for formats this platform lists but cannot read
    bool CanWrite = false;      // the class also writes files of this format
};

// Which dialog a filter is for: opening lists the rows that read, saving those that write.
enum class TFilterUse { Open, Save };

struct TFilterEntry {
    std::string Title;    // "Truevision images (*.tga)"
    std::string Pattern;  // "*.tga"
};

class TPicture {
public:
    // Adds a row; the extension is stored lower-cased (a leading dot is dropped).
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const TBitmapClass& graphicClass, bool canWrite = false);
    // Removes every row whose class is graphicClass or derives from it.
    static void UnregisterGraphicClass(const TBitmapClass& graphicClass);
    // Newest row first; extension compared lower-cased, with or without a leading dot.
    static const TFileFormat* FindFormat(const std::string& extension);
    // Rows in registration order.
    static const std::vector<TFileFormat>& Formats();

    // Creates the registered class for the file's extension and loads the file into it.
    // Unregistered extension: EInvalidGraphic "Extension de fichier image inconnue (.%s)".
    static std::unique_ptr<TBitmap> LoadFromFile(const std::string& fileName);

    // Dialog filter entries for the rows that serve the use (a class that reads; for saving,
    // one that also writes): "Tous (...)" with their patterns joined by ";", then each row
    // newest first as description + " (*.ext)".
    static std::vector<TFilterEntry> GraphicFilterEntries(TFilterUse use);
    // The same as one platform filter string "title|pattern|title|pattern".
    static std::string GraphicFilter(TFilterUse use);

    // Restores the framework's own rows (bmp, ico, wmf, emf); used at start-up and by tests.
    static void ResetToFrameworkDefaults();
};

}  // namespace qv
