#pragma once
// The editor's undo history. Every change to the project is one step of a QUndoStack that
// holds the project as it was before and after the change. Steps share what they did not
// change: a point drag costs one mesh, not two pictures; pictures are held by shared
// pointers and counted once however many steps refer to them.
#include <QString>
#include <QUndoStack>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "morph/UMorph.h"

namespace qv {

// Everything a step can bring back: the grid's project data, the selection, and the name
// of the project file the editor saves to.
struct TProjectState {
    std::shared_ptr<const TBmp> StartBmp;
    std::shared_ptr<const TBmp> EndBmp;
    std::string StartFileName;
    std::string EndFileName;
    int32_t PictureWidth = 0;
    int32_t PictureHeight = 0;
    int32_t Cols = 0;
    int32_t Rows = 0;
    int32_t SelCol = -1;
    int32_t SelRow = 0;
    std::shared_ptr<const TMesh> StartMesh;
    std::shared_ptr<const TMesh> EndMesh;
    std::string ProjectFileName;
};

// The grid's state, sharing with Like every picture and mesh that is unchanged. Pictures
// are compared only when PicturesMayDiffer; otherwise Like's are taken as they are.
TProjectState CaptureState(TMorphGrid& grid, const TProjectState& like, bool picturesMayDiffer);
// True when the two states differ in anything but the selection.
bool ProjectDiffers(const TProjectState& a, const TProjectState& b);

class TProjectHistory {
public:
    // At least this many steps are kept; more only when memory allows.
    static constexpr int kStepLimit = 500;
    static constexpr int64_t kDefaultPictureMemory = int64_t(768) << 20;

    // The grid as it is now becomes the history's starting point. The grid must outlive
    // the history.
    explicit TProjectHistory(TMorphGrid& grid);
    ~TProjectHistory();
    TProjectHistory(const TProjectHistory&) = delete;
    TProjectHistory& operator=(const TProjectHistory&) = delete;

    QUndoStack& Stack() { return FStack; }
    const TProjectState& Current() const { return FCurrent; }

    // Runs Change on the grid and records what it did as one step named Name, when it
    // changed the project. If Change throws, the grid gets its earlier state back, nothing
    // is recorded and the exception goes on. Steps with the same MergeId (>= 0) that follow
    // each other become one. Returns true when a step was recorded.
    bool Change(const QString& name, const std::function<void()>& change, bool picturesMayChange = false,
                int mergeId = -1);

    // The project file the editor saves to ("" before the first save). Save As changes it
    // without a step; a step that opens a project changes it with the step.
    const std::string& ProjectFileName() const { return FCurrent.ProjectFileName; }
    void SetProjectFileName(const std::string& name) { FCurrent.ProjectFileName = name; }
    // Marks the next Change as one that also switches the project file name.
    void SetPendingProjectFileName(const std::string& name) { FPendingFileName = name; FHasPendingFileName = true; }

    // Pictures held by the steps, each counted once. When they exceed the limit, the
    // oldest steps are dropped until they fit (steps that can be redone are kept).
    int64_t PictureMemory() const;
    void SetPictureMemoryLimit(int64_t bytes);

    // Called after undo or redo changed the grid.
    std::function<void()> OnApplied;

    // Used by the steps themselves.
    void ApplyFromStep(const TProjectState& state, bool withFileName);
    bool Quiet() const { return FQuiet; }
    bool Rebuilding() const { return FRebuilding; }

private:
    void Apply(const TProjectState& state, bool withFileName);
    void EnforcePictureLimit();
    void DropOldest(int count);

    TMorphGrid& FGrid;
    QUndoStack FStack;
    TProjectState FCurrent;
    std::string FPendingFileName;
    bool FHasPendingFileName = false;
    bool FQuiet = false;       // pushing a change already made, or rebuilding
    bool FRebuilding = false;  // no merging while the stack is rebuilt
    int64_t FPictureLimit = kDefaultPictureMemory;
};

}  // namespace qv
