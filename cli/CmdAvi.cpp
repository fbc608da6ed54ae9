// quorvalin-cli avi: a project's whole transition as an AVI movie, through the same frame
// plan and writer as the editor's "Save as avi".
#include "cli/CmdAvi.h"

#include <unistd.h>

#include <iostream>
#include <limits>

#include "cli/Cli.h"
#include "cli/CliRenderOptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "morph/UMorph.h"
#include "video/FramePlan.h"

namespace qv {

void RunAvi(const std::vector<std::string>& args, std::ostream&) {
    std::vector<std::string_view> valueOptions = kRenderValueOptions;
    valueOptions.insert(valueOptions.end(), {"--duration", "--wav"});
    const TParsedArgs a = ParseArgs(args, valueOptions, kRenderFlagOptions);
    if (a.Positional.size() != 2)
        throw EUsageError("expected PROJECT.grid and OUT.avi, got " + std::to_string(a.Positional.size()) +
                          " argument" + (a.Positional.size() == 1 ? "" : "s"));
    std::string durationText, wav;
    bool haveDuration = false;
    for (const auto& [name, value] : a.Options) {
        if (name == "--duration") {
            durationText = value;
            haveDuration = true;
        } else if (name == "--wav") {
            wav = value;
        }
    }
    if (!haveDuration) throw EUsageError("--duration MS is required");
    const int32_t duration = ParseIntArg(durationText, 1, std::numeric_limits<int32_t>::max(), "the duration");
    TRenderOptions options = RenderOptionsFromArgs(a);

    // Paths are fixed against the starting folder before the project's folder becomes
    // the current one (the project's pictures are found there by their names).
    const std::string project = ExpandFileName(a.Positional[0]);
    const std::string output = ExpandFileName(a.Positional[1]);
    if (!wav.empty()) wav = ExpandFileName(wav);
    TMorphGrid grid;
    OpenProject(project, grid);
    AddProjectTiming(a, project, options, std::cerr);

    // Progress on one terminal line, ended also when the export fails.
    struct TProgressLine {
        bool Shown = false;
        ~TProgressLine() {
            if (Shown) std::cerr << "\n";
        }
    } line;
    const bool showProgress = ::isatty(STDERR_FILENO) != 0;
    ExportMovie(grid, duration, output, wav, [&](int32_t frame, int32_t count) {
        if (!showProgress) return;
        std::cerr << "\rframe " << frame << " of " << count << std::flush;
        line.Shown = true;
    }, options);
}

}  // namespace qv
