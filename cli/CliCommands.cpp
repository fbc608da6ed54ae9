// The picture and project commands of quorvalin-cli.
#include <filesystem>
#include <iostream>
#include <ostream>

#include "cli/Cli.h"
#include "cli/CliRenderOptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/GenericGraphic.h"
#include "morph/UMorph.h"

namespace qv {

namespace {

void ExpectPositionals(const TParsedArgs& a, size_t count, std::string_view names) {
    if (a.Positional.size() != count)
        throw EUsageError("expected " + std::string(names) + ", got " + std::to_string(a.Positional.size()) +
                          " argument" + (a.Positional.size() == 1 ? "" : "s"));
}

// Puts the current folder back when a command ends, however it ends.
class TCurrentDirRestorer {
public:
    TCurrentDirRestorer() : FSaved(GetCurrentDir()) {}
    ~TCurrentDirRestorer() { SetCurrentDir(FSaved); }
    TCurrentDirRestorer(const TCurrentDirRestorer&) = delete;
    TCurrentDirRestorer& operator=(const TCurrentDirRestorer&) = delete;

private:
    std::string FSaved;
};

// The editor's state right after start-up (its grid before any project is opened).
constexpr int32_t kStartWidth = 337;
constexpr int32_t kStartHeight = 313;
constexpr int32_t kStartGridSize = 3;

}  // namespace

void OpenProject(const std::string& project, TMorphGrid& grid) {
    {
        TFileStream probe(project, fmOpenRead | fmShareDenyNone);
    }
    TCurrentDirRestorer restore;
    if (!SetCurrentDir(ExtractFilePath(project)))
        throw EFOpenError("Cannot change to the folder of " + project);
    grid.SetPictureSize(Point(kStartWidth, kStartHeight));
    grid.SetGridSize(Point(kStartGridSize, kStartGridSize));
    grid.LoadGridFile(project);
    // A render of a project without its pictures would only look right by accident.
    if (!grid.MissingPictures.empty()) throw EFOpenError(grid.MissingPictures);
}

void RunConvert(const std::vector<std::string>& args, std::ostream&) {
    const TParsedArgs a = ParseArgs(args, {});
    ExpectPositionals(a, 2, "IN OUT");
    TGenericGraphic picture;
    picture.LoadImageFile(a.Positional[0]);
    picture.SaveImageFile(a.Positional[1]);
}

void RunInfo(const std::vector<std::string>& args, std::ostream& out) {
    const TParsedArgs a = ParseArgs(args, {});
    ExpectPositionals(a, 1, "FILE");
    const std::string& file = a.Positional[0];
    TGenericGraphic picture;
    picture.LoadImageFile(file);
    // Loading succeeded, so the extension named a class.
    const TBitmapClass* cls = TGenericGraphic::FindClass(file);
    out << "file: " << file << "\n"
        << "class: " << (cls ? cls->Name : "?") << "\n"
        << "width: " << picture.Width() << "\n"
        << "height: " << picture.Height() << "\n"
        << "pixel format: " << PixelFormatName(picture.PixelFormat()) << "\n"
        << "palette entries: " << picture.Palette().Entries.size() << "\n";
}

void RunRender(const std::vector<std::string>& args, std::ostream&) {
    std::vector<std::string_view> valueOptions = kRenderValueOptions;
    valueOptions.push_back("--position");
    const TParsedArgs a = ParseArgs(args, valueOptions, kRenderFlagOptions);
    ExpectPositionals(a, 2, "PROJECT.grid and OUT");
    const std::string* positionText = nullptr;
    for (const auto& [name, value] : a.Options)
        if (name == "--position") positionText = &value;
    if (positionText == nullptr) throw EUsageError("--position P is required");
    const int32_t position = ParseIntArg(*positionText, 0, 256, "the position");
    TRenderOptions options = RenderOptionsFromArgs(a);

    // Both paths are fixed against the starting folder before the project's folder
    // becomes the current one.
    const std::string project = ExpandFileName(a.Positional[0]);
    const std::string output = ExpandFileName(a.Positional[1]);
    TMorphGrid grid;
    OpenProject(project, grid);
    AddProjectTiming(a, project, options, std::cerr);

    TGenericGraphic picture;
    RenderOnWhite(grid, picture, position, options);
    picture.SaveImageFile(output);
}

}  // namespace qv
