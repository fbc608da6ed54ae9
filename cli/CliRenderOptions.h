#pragma once
// The sampling and timing options that render, avi and video share.
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"
#include "morph/MorphTiming.h"

namespace qv {

// The options to add to a command's ParseArgs lists.
extern const std::vector<std::string_view> kRenderValueOptions;  // --shape-curve, --colour-curve
extern const std::vector<std::string_view> kRenderFlagOptions;   // --smooth

// Their lines for a command's help (a literal, so that the command table's help texts
// stay literals).
#define QV_RENDER_OPTIONS_HELP                                                                 \
    "  --smooth             sample the pictures smoothly (bilinear) instead of taking one\n"  \
    "                       pixel per sample\n"                                                \
    "  --shape-curve CURVE  timing of the shape change (the grid's motion)\n"                 \
    "  --colour-curve CURVE timing of the colour change (the dissolve)\n"                     \
    "CURVE is linear or ease-in-out, optionally followed by ,delay=N and ,lead=N: the\n"      \
    "percent of the transition that passes before the change starts and that is left\n"      \
    "after it ends (together at most 90). Curves not given come from the project's timing\n"  \
    "file (PROJECT.grid.json) when there is one, else they are linear.\n"

// Checks the curves given on the command line (EUsageError when one cannot be read or is
// out of range); call before any work is done.
TRenderOptions RenderOptionsFromArgs(const TParsedArgs& a);

// Fills the curves not given on the command line from the project's timing file; what
// was wrong with that file goes to notes.
void AddProjectTiming(const TParsedArgs& a, const std::string& project, TRenderOptions& options,
                      std::ostream& notes);

}  // namespace qv
