#include "video/FramePlan.h"

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
    dest.SetPixelFormat(pf32bit);
    dest.SetWidth(grid.PictureWidth);
    dest.SetHeight(grid.PictureHeight);
    TCanvas& canvas = dest.Canvas();
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = clWhite;
    canvas.FillRect(Rect(0, 0, dest.Width(), dest.Height()));
    RenderMorphTimed(grid, dest, plan.Position(frame), options);
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

    std::vector<std::unique_ptr<TBitmap>> frames;
    frames.reserve(size_t(plan.FrameCount()));
    for (int32_t b = 0; b <= plan.LastFrame; ++b) {
        auto frame = std::make_unique<TBitmap>();
        RenderFrame(grid, plan, b, *frame, options);
        writer.Bitmaps().push_back(frame.get());
        frames.push_back(std::move(frame));
        if (progress) progress(b + 1, plan.FrameCount());
    }
    writer.SetFileName(fileName);
    writer.WriteMovie();
}

}  // namespace qv
