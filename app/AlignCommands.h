#pragma once
// Morph › Match end grid (Auto, Faces, Similar pictures) and Morph › Face grid: the
// automatic matching of points, each one step of the editor's history.
#include "align/Align.h"

class QAction;
class QMenu;

namespace qv {

class IDialogs;
class TFMorpherGridEdit;

struct TAlignActions {
    QMenu* MatchEndGrid1 = nullptr;
    QAction* MatchAuto1 = nullptr;
    QAction* MatchFaces1 = nullptr;
    QAction* MatchSimilar1 = nullptr;
    QAction* FaceGrid1 = nullptr;
};

// Adds the items to the end of the window's Morph menu; their handlers run in the error
// guard, so a failure (no face, no reliable match) shows its message and changes nothing.
TAlignActions AddAlignActions(TFMorpherGridEdit& Form, IDialogs& Dialogs);

// The commands: compute under a busy cursor, apply as one step, say what happened in the
// status bar. Throw EAlignError with the grid untouched when nothing can be matched.
void MatchEndGridCommand(TFMorpherGridEdit& Form, TMatchMode Mode);
void FaceGridCommand(TFMorpherGridEdit& Form);

}  // namespace qv
