// quorvalin-cli video: a project's transition as MP4, WebM, animated GIF or AVI, through
// the same export as the editor's Export video dialog.
#include "cli/CmdVideo.h"

#include <unistd.h>

#include <iostream>
#include <limits>

#include "cli/Cli.h"
#include "cli/CliRenderOptions.h"
#include "framework/System.h"
#include "morph/UMorph.h"
#include "video/VideoExport.h"

namespace qv {

namespace {

// A bar on one terminal line, ended also when the export fails.
class TProgressBar {
public:
    explicit TProgressBar(bool shown) : FShown(shown) {}
    ~TProgressBar() {
        if (FDrawn) std::cerr << "\n";
    }
    TProgressBar(const TProgressBar&) = delete;
    TProgressBar& operator=(const TProgressBar&) = delete;
    void Show(int32_t frame, int32_t count) {
        if (!FShown) return;
        constexpr int kWidth = 30;
        const int filled = int(int64_t(frame) * kWidth / count);
        const int percent = int(int64_t(frame) * 100 / count);
        std::cerr << "\r[" << std::string(size_t(filled), '#') << std::string(size_t(kWidth - filled), '.') << "] "
                  << percent << "% frame " << frame << " of " << count << std::flush;
        FDrawn = true;
    }

private:
    bool FShown;
    bool FDrawn = false;
};

}  // namespace

void RunVideo(const std::vector<std::string>& args, std::ostream&) {
    // --pingpong is the one switch without a value; the shared parser knows only options
    // with values, so it is taken out first.
    std::vector<std::string> rest;
    bool pingPong = false;
    bool optionsEnded = false;
    for (const std::string& a : args) {
        if (!optionsEnded && a == "--pingpong") {
            pingPong = true;
            continue;
        }
        if (a == "--") optionsEnded = true;
        rest.push_back(a);
    }
    std::vector<std::string_view> valueOptions = kRenderValueOptions;
    valueOptions.insert(valueOptions.end(), {"--duration", "--fps", "--quality", "--wav"});
    const TParsedArgs a = ParseArgs(rest, valueOptions, kRenderFlagOptions);
    if (a.Positional.size() != 2)
        throw EUsageError("expected PROJECT.grid and OUT, got " + std::to_string(a.Positional.size()) + " argument" +
                          (a.Positional.size() == 1 ? "" : "s"));
    TVideoSettings settings;
    settings.PingPong = pingPong;
    bool haveDuration = false;
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    for (const auto& [name, value] : a.Options) {
        // Zero and too large values are the export's to refuse, with its own message.
        if (name == "--duration") {
            settings.DurationMs = ParseIntArg(value, 0, kMax, "the duration");
            haveDuration = true;
        } else if (name == "--fps") {
            settings.Fps = ParseIntArg(value, 0, kMax, "the frame rate");
        } else if (name == "--quality") {
            settings.Quality = ParseIntArg(value, 0, kMax, "the quality");
        } else if (name == "--wav") {
            settings.WavFileName = value;
        }
    }
    if (!haveDuration) throw EUsageError("--duration MS is required");
    settings.Render = RenderOptionsFromArgs(a);

    // Paths are fixed against the starting folder before the project's folder becomes
    // the current one.
    const std::string project = ExpandFileName(a.Positional[0]);
    const std::string output = ExpandFileName(a.Positional[1]);
    if (!settings.WavFileName.empty()) settings.WavFileName = ExpandFileName(settings.WavFileName);
    // Settings and sound are checked before the project loads: a typo fails at once.
    CheckVideoSettings(VideoFormatOf(output), settings);
    TMorphGrid grid;
    OpenProject(project, grid);
    AddProjectTiming(a, project, settings.Render, std::cerr);

    TProgressBar bar(::isatty(STDERR_FILENO) != 0);
    ExportVideo(grid, settings, output, [&bar](int32_t frame, int32_t count) {
        bar.Show(frame, count);
        return true;
    });
}

}  // namespace qv
