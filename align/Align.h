#pragma once
// Automatic matching of points between the start and the end picture of a morph: end points
// matched to the start points (faces by their landmarks, or similar pictures by dense
// optical flow), and a new grid laid on a face's landmarks. The proposals are computed from
// the grid without changing it and applied in one step, so the editor can undo them whole.
#include <string>
#include <string_view>
#include <vector>

#include "framework/Exceptions.h"
#include "morph/UMorph.h"

namespace qv {

// Nothing could be matched (no face, no reliable match, a missing or damaged model,
// pictures of different sizes ...): the message says why and nothing has changed.
class EAlignError : public Exception {
    using Exception::Exception;
};

enum class TMatchMode { Auto, Faces, Similar };

// "auto", "faces", "similar"; false for anything else.
bool ParseMatchMode(std::string_view Text, TMatchMode& Mode);
const char* MatchModeName(TMatchMode Mode);

// The installed 68-landmark model, or the file $QV_FACE_MODEL names when it is set.
std::string DefaultFaceModelFile();

struct TAlignOptions {
    TMatchMode Mode = TMatchMode::Auto;
    std::string ModelFile;  // empty: DefaultFaceModelFile()
};

struct TGridProposal {
    int32_t Cols = 0;
    int32_t Rows = 0;
    TMesh StartMesh{};
    TMesh EndMesh{};
    TMatchMode Used = TMatchMode::Similar;
    // Remarks for the user (several faces found, the mode Auto chose ...).
    std::vector<std::string> Notes;
};

// Every end point moved to the match of its start point; the start points stay. Border
// points slide along their edge and the corners stay.
TGridProposal ProposeMatchedEndGrid(const TMorphGrid& Grid, const TAlignOptions& Options);
// A new grid whose start points sit on the start face's landmarks (rows and columns through
// the brows, eyes, nose, mouth and jaw) and whose end points sit on the end face's.
TGridProposal ProposeFaceGrid(const TMorphGrid& Grid, const TAlignOptions& Options);
// Puts the proposal's counts and meshes into the grid; a selection the new counts no longer
// hold is cleared.
void ApplyProposal(TMorphGrid& Grid, const TGridProposal& Proposal);

}  // namespace qv
