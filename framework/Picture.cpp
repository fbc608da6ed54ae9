#include "framework/Picture.h"

#include "framework/Exceptions.h"
#include "framework/System.h"

namespace qv {

namespace {

std::string NormaliseExtension(const std::string& extension) {
    std::string ext = LowerCase(extension);
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    return ext;
}

std::vector<TFileFormat> FrameworkRows() {
    // The platform lists icons and metafiles too; they have no reader here.
    return {{"bmp", "Bitmaps", &TBitmap::Class, true},
            {"ico", "Icônes", nullptr},
            {"wmf", "Métafichiers", nullptr},
            {"emf", "Métafichiers améliorés", nullptr}};
}

// Function-local so that readers registering themselves during static initialisation find
// the list already built.
std::vector<TFileFormat>& FormatList() {
    static std::vector<TFileFormat> list = FrameworkRows();
    return list;
}

}  // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TBitmapClass& graphicClass, bool canWrite) {
    FormatList().push_back({NormaliseExtension(extension), description, &graphicClass, canWrite});
}

void TPicture::UnregisterGraphicClass(const TBitmapClass& graphicClass) {
    auto& list = FormatList();
    std::erase_if(list, [&](const TFileFormat& f) { return f.Class != nullptr && f.Class->InheritsFrom(graphicClass); });
}

const TFileFormat* TPicture::FindFormat(const std::string& extension) {
    const std::string ext = NormaliseExtension(extension);
    const auto& list = FormatList();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->Extension == ext) return &*it;
    return nullptr;
}

const std::vector<TFileFormat>& TPicture::Formats() { return FormatList(); }

std::unique_ptr<TBitmap> TPicture::LoadFromFile(const std::string& fileName) {
    std::string ext = ExtractFileExt(fileName);
    if (!ext.empty()) ext.erase(0, 1);  // the message shows the extension as the name has it
    const TFileFormat* format = FindFormat(ext);
    if (format == nullptr) throw EInvalidGraphic(Format("Extension de fichier image inconnue (.%s)", ext.c_str()));
    if (format->Class == nullptr || format->Class->Create == nullptr)
        throw EInvalidGraphic(Format("%s (.%s): this picture format is not supported on this platform",
                                     format->Description.c_str(), ext.c_str()));
    std::unique_ptr<TBitmap> picture = format->Class->Create();
    picture->LoadImageFile(fileName);
    return picture;
}

std::vector<TFilterEntry> TPicture::GraphicFilterEntries(TFilterUse use) {
    const auto& list = FormatList();
    std::vector<TFilterEntry> entries;
    std::string all;
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        // A dialog offers only what then works.
        if (it->Class == nullptr || it->Class->Create == nullptr) continue;
        if (use == TFilterUse::Save && !it->CanWrite) continue;
        const std::string pattern = "*." + it->Extension;
        if (!all.empty()) all += ';';
        all += pattern;
        entries.push_back({it->Description + " (" + pattern + ")", pattern});
    }
    entries.insert(entries.begin(), TFilterEntry{"Tous (" + all + ")", all});
    return entries;
}

std::string TPicture::GraphicFilter(TFilterUse use) {
    std::string filter;
    for (const TFilterEntry& e : GraphicFilterEntries(use)) {
        if (!filter.empty()) filter += '|';
        filter += e.Title + '|' + e.Pattern;
    }
    return filter;
}

void TPicture::ResetToFrameworkDefaults() { FormatList() = FrameworkRows(); }

}  // namespace qv
