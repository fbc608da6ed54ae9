// quorvalin-cli match and facegrid: a project's end points matched to its start points, or
// a new grid laid on the faces, saved as a new project.
#include "cli/CmdAlign.h"

#include <iostream>

#include "align/Align.h"
#include "cli/Cli.h"
#include "framework/System.h"
#include "morph/UMorph.h"

namespace qv {

namespace {

void Run(const std::vector<std::string>& args, bool faceGrid) {
    const TParsedArgs a = faceGrid ? ParseArgs(args, {"--model"}) : ParseArgs(args, {"--mode", "--model"});
    if (a.Positional.size() != 2)
        throw EUsageError("expected PROJECT.grid and OUT.grid, got " + std::to_string(a.Positional.size()) +
                          " argument" + (a.Positional.size() == 1 ? "" : "s"));
    TAlignOptions options;
    for (const auto& [name, value] : a.Options) {
        if (name == "--model") {
            if (value.empty()) throw EUsageError("--model needs a file name");
            options.ModelFile = ExpandFileName(value);
        } else if (!ParseMatchMode(value, options.Mode)) {
            throw EUsageError("the mode must be auto, faces or similar, not '" + value + "'");
        }
    }
    // Paths are fixed against the starting folder before the project's folder becomes the
    // current one.
    const std::string project = ExpandFileName(a.Positional[0]);
    const std::string output = ExpandFileName(a.Positional[1]);
    TMorphGrid grid;
    OpenProject(project, grid);
    const TGridProposal proposal = faceGrid ? ProposeFaceGrid(grid, options) : ProposeMatchedEndGrid(grid, options);
    for (const std::string& note : proposal.Notes) std::cerr << note << "\n";
    ApplyProposal(grid, proposal);
    grid.SaveGridFile(output);
}

}  // namespace

void RunMatch(const std::vector<std::string>& args, std::ostream&) { Run(args, false); }

void RunFaceGrid(const std::vector<std::string>& args, std::ostream&) { Run(args, true); }

}  // namespace qv
