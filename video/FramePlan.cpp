#include "video/FramePlan.h"

#include <future>
#include <memory>
#include <vector>

#include "morph/UMorph.h"
#include "video/AviWriter.h"

namespace qv {

TFramePlan MakeFramePlan(int32_t durationMs) {
    TFramePlan plan;
    plan.FrameTime = durationMs / 255;
    if (plan.FrameTime < 40) {
        plan.FrameTime = 40;
        plan.LastFrame = durationMs / 40;
    } else {
        plan.LastFrame = 255;
    }
    // Below 40 ms the rule leaves a single frame whose position would divide by zero:
    // show the whole transition as its two ends instead.
    if (plan.LastFrame < 1) plan.LastFrame = 1;
    return plan;
}

void RenderFrame(TMorphGrid& grid, const TFramePlan& plan, int32_t frame, TBitmap& dest,
                 const TRenderOptions& options) {
    RenderPosition(grid, plan.Position(frame), dest, options);
}

void RenderPosition(TMorphGrid& grid, int32_t position, TBitmap& dest, const TRenderOptions& options) {
    RenderOnWhite(grid, dest, position, options);
}

bool RenderAhead(TMorphGrid& grid, int32_t count, const std::function<int32_t(int32_t)>& positionOf,
                 const TFrameConsumer& consume, const TFrameProgress& progress,
                 const TRenderOptions& options) {
    if (count <= 0) return true;
    // Two pictures take turns: the worker fills one while the caller consumes the other.
    // They are declared before the pending render so that they outlive it, also when
    // consume throws (the future's destructor waits for the worker).
    TBitmap pictures[2];
    auto renderInto = [&](int32_t frame) {
        return std::async(std::launch::async, [&grid, &positionOf, &pictures, &options, frame] {
            RenderPosition(grid, positionOf(frame), pictures[frame % 2], options);
        });
    };
    std::future<void> pending = renderInto(0);
    for (int32_t frame = 0; frame < count; ++frame) {
        pending.get();  // frame is ready; its exception, if any, arrives here
        if (progress && !progress(frame + 1, count)) return false;
        if (frame + 1 < count) pending = renderInto(frame + 1);
        consume(frame, pictures[frame % 2]);
    }
    return true;
}

void ExportMovie(TMorphGrid& grid, int32_t durationMs, const std::string& fileName,
                 const std::string& wavFileName, const TExportProgress& progress,
                 const TRenderOptions& options) {
    const TFramePlan plan = MakeFramePlan(durationMs);
    TAviWriter writer;
    writer.SetWidth(grid.PictureWidth);
    writer.SetHeight(grid.PictureHeight);
    writer.SetFrameTime(plan.FrameTime);
    writer.SetStretch(true);
    if (!wavFileName.empty()) writer.SetWavFileName(wavFileName);
    writer.SetFileName(fileName);

    // Each frame goes to the work file as soon as it is rendered: memory holds two
    // frames whatever the duration.
    writer.BeginMovie();
    RenderAhead(
        grid, plan.FrameCount(), [&plan](int32_t frame) { return plan.Position(frame); },
        [&writer](int32_t, TBitmap& picture) { writer.AddFrame(picture); },
        [&progress](int32_t frame, int32_t count) {
            if (progress) progress(frame, count);
            return true;
        },
        options);
    writer.EndMovie();
}

}  // namespace qv
