#include "app/ProjectHistory.h"

#include <QUndoCommand>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace qv {

namespace {

bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    const size_t rowBytes = size_t(a.Width()) * size_t(a.StorageBits()) / 8;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

std::shared_ptr<const TBmp> SharedPicture(const TBmp& picture, const std::shared_ptr<const TBmp>& like)
{
    if (like && SamePixels(picture, *like))
        return like;
    auto copy = std::make_shared<TBmp>();
    copy->Assign(picture);
    return copy;
}

std::shared_ptr<const TMesh> SharedMesh(const TMesh& mesh, const std::shared_ptr<const TMesh>& like)
{
    if (like && *like == mesh)
        return like;
    return std::make_shared<const TMesh>(mesh);
}

int64_t PictureSize(const TBmp& picture)
{
    return int64_t(picture.Height()) * ((int64_t(picture.Width()) * picture.StorageBits() / 8 + 3) & ~int64_t(3));
}

// One step: the project before and after. Its first redo (the push) finds the change
// already made.
class TProjectStep : public QUndoCommand {
public:
    TProjectStep(TProjectHistory& history, const QString& name, TProjectState before, TProjectState after,
                 int mergeId)
        : QUndoCommand(name), FHistory(history), FBefore(std::move(before)), FAfter(std::move(after)),
          FMergeId(mergeId)
    {
    }

    void undo() override
    {
        if (!FHistory.Quiet())
            FHistory.ApplyFromStep(FBefore, ChangesFileName());
    }
    void redo() override
    {
        if (!FHistory.Quiet())
            FHistory.ApplyFromStep(FAfter, ChangesFileName());
    }
    int id() const override { return FMergeId; }
    bool mergeWith(const QUndoCommand* other) override
    {
        if (FHistory.Rebuilding() || other->id() != FMergeId)
            return false;
        FAfter = static_cast<const TProjectStep*>(other)->FAfter;
        // Moves that cancel each other out leave no step behind.
        setObsolete(!ProjectDiffers(FBefore, FAfter));
        return true;
    }

    const TProjectState& Before() const { return FBefore; }
    const TProjectState& After() const { return FAfter; }

private:
    bool ChangesFileName() const { return FBefore.ProjectFileName != FAfter.ProjectFileName; }

    TProjectHistory& FHistory;
    TProjectState FBefore;
    TProjectState FAfter;
    int FMergeId;
};

// Sets a flag for a scope, back to its old value however the scope ends.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : FFlag(flag), FOld(flag) { flag = true; }
    ~TFlagScope() { FFlag = FOld; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
    bool FOld;
};

}  // namespace

TProjectState CaptureState(TMorphGrid& grid, const TProjectState& like, bool picturesMayDiffer)
{
    TProjectState s;
    if (picturesMayDiffer || !like.StartBmp || !like.EndBmp) {
        s.StartBmp = SharedPicture(grid.StartBmp, like.StartBmp);
        s.EndBmp = SharedPicture(grid.EndBmp, like.EndBmp);
    } else {
        s.StartBmp = like.StartBmp;
        s.EndBmp = like.EndBmp;
    }
    s.StartFileName = grid.StartFileName;
    s.EndFileName = grid.EndFileName;
    s.PictureWidth = grid.PictureWidth;
    s.PictureHeight = grid.PictureHeight;
    s.Cols = grid.Cols;
    s.Rows = grid.Rows;
    s.SelCol = grid.SelCol;
    s.SelRow = grid.SelRow;
    s.StartMesh = SharedMesh(grid.StartMesh, like.StartMesh);
    s.EndMesh = SharedMesh(grid.EndMesh, like.EndMesh);
    s.ProjectFileName = like.ProjectFileName;
    return s;
}

bool ProjectDiffers(const TProjectState& a, const TProjectState& b)
{
    return a.StartBmp != b.StartBmp || a.EndBmp != b.EndBmp || a.StartFileName != b.StartFileName ||
           a.EndFileName != b.EndFileName || a.PictureWidth != b.PictureWidth || a.PictureHeight != b.PictureHeight ||
           a.Cols != b.Cols || a.Rows != b.Rows || a.StartMesh != b.StartMesh || a.EndMesh != b.EndMesh ||
           a.ProjectFileName != b.ProjectFileName;
}

TProjectHistory::TProjectHistory(TMorphGrid& grid) : FGrid(grid)
{
    FStack.setUndoLimit(kStepLimit);
    FCurrent = CaptureState(FGrid, TProjectState(), true);
}

TProjectHistory::~TProjectHistory()
{
    // The steps refer to this history; they go first, without touching the grid.
    TFlagScope quiet(FQuiet);
    FStack.clear();
}

bool TProjectHistory::Change(const QString& name, const std::function<void()>& change, bool picturesMayChange,
                             int mergeId)
{
    TProjectState before = FCurrent;
    before.SelCol = FGrid.SelCol;  // the selection the change started from
    before.SelRow = FGrid.SelRow;
    const bool switchesFile = FHasPendingFileName;
    const std::string newFileName = FPendingFileName;
    FHasPendingFileName = false;
    FPendingFileName.clear();
    try {
        change();
    } catch (...) {
        Apply(before, false);
        throw;
    }
    TProjectState after = CaptureState(FGrid, before, picturesMayChange);
    if (switchesFile)
        after.ProjectFileName = newFileName;
    if (!ProjectDiffers(before, after)) {
        FCurrent.SelCol = after.SelCol;
        FCurrent.SelRow = after.SelRow;
        return false;
    }
    FCurrent = after;
    {
        TFlagScope quiet(FQuiet);
        FStack.push(new TProjectStep(*this, name, std::move(before), std::move(after), mergeId));
    }
    EnforcePictureLimit();
    return true;
}

void TProjectHistory::Apply(const TProjectState& state, bool withFileName)
{
    // Pictures are copied only where they differ from what the grid holds now.
    if (state.StartBmp && state.StartBmp != FCurrent.StartBmp)
        FGrid.StartBmp.Assign(*state.StartBmp);
    if (state.EndBmp && state.EndBmp != FCurrent.EndBmp)
        FGrid.EndBmp.Assign(*state.EndBmp);
    FGrid.StartFileName = state.StartFileName;
    FGrid.EndFileName = state.EndFileName;
    FGrid.PictureWidth = state.PictureWidth;
    FGrid.PictureHeight = state.PictureHeight;
    FGrid.Cols = state.Cols;
    FGrid.Rows = state.Rows;
    FGrid.SelCol = state.SelCol;
    FGrid.SelRow = state.SelRow;
    if (state.StartMesh)
        FGrid.StartMesh = *state.StartMesh;
    if (state.EndMesh)
        FGrid.EndMesh = *state.EndMesh;
    const std::string fileName = withFileName ? state.ProjectFileName : FCurrent.ProjectFileName;
    FCurrent = state;
    FCurrent.ProjectFileName = fileName;
}

void TProjectHistory::ApplyFromStep(const TProjectState& state, bool withFileName)
{
    Apply(state, withFileName);
    if (OnApplied)
        OnApplied();
}

int64_t TProjectHistory::PictureMemory() const
{
    std::unordered_set<const TBmp*> seen;
    int64_t total = 0;
    auto count = [&](const std::shared_ptr<const TBmp>& p) {
        if (p && seen.insert(p.get()).second)
            total += PictureSize(*p);
    };
    for (int i = 0; i < FStack.count(); ++i) {
        const auto* step = static_cast<const TProjectStep*>(FStack.command(i));
        for (const TProjectState* s : {&step->Before(), &step->After()}) {
            count(s->StartBmp);
            count(s->EndBmp);
        }
    }
    return total;
}

void TProjectHistory::SetPictureMemoryLimit(int64_t bytes)
{
    FPictureLimit = bytes;
    EnforcePictureLimit();
}

void TProjectHistory::EnforcePictureLimit()
{
    // Dropping a step frees only the pictures no later step holds, so count again after
    // each one; the steps are few when this happens, as each holds large pictures.
    while (FStack.index() > 0 && PictureMemory() > FPictureLimit)
        DropOldest(1);
}

void TProjectHistory::DropOldest(int count)
{
    // QUndoStack cannot forget its oldest steps on its own: it is filled again with the
    // steps that stay, without touching the grid, and goes back to the same place.
    struct TKept {
        QString Name;
        TProjectState Before;
        TProjectState After;
        int MergeId;
    };
    std::vector<TKept> kept;
    for (int i = count; i < FStack.count(); ++i) {
        const auto* step = static_cast<const TProjectStep*>(FStack.command(i));
        kept.push_back({step->text(), step->Before(), step->After(), step->id()});
    }
    const int index = FStack.index() - count;
    const int clean = FStack.cleanIndex() >= count ? FStack.cleanIndex() - count : -1;
    TFlagScope quiet(FQuiet);
    TFlagScope rebuilding(FRebuilding);
    FStack.clear();
    for (TKept& k : kept)
        FStack.push(new TProjectStep(*this, k.Name, std::move(k.Before), std::move(k.After), k.MergeId));
    if (clean >= 0) {
        FStack.setIndex(clean);
        FStack.setClean();
    } else {
        FStack.resetClean();
    }
    FStack.setIndex(index);
}

}  // namespace qv
