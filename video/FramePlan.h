#pragma once
// The frame plan of a movie export: how many frames a duration gives, how long each is
// shown, which morph position each shows; and the export itself, shared by the editor
// and the batch tool.
#include <cstdint>
#include <functional>
#include <string>

#include "framework/Graphics.h"
#include "morph/MorphTiming.h"

namespace qv {

class TMorphGrid;

struct TFramePlan {
    int32_t FrameTime = 40;  // milliseconds per frame
    int32_t LastFrame = 1;   // frames are 0 .. LastFrame
    int32_t FrameCount() const { return LastFrame + 1; }
    // Morph position of a frame: 0 for the first, 255 for the last, strictly rising.
    int32_t Position(int32_t frame) const { return frame * 255 / LastFrame; }
};

// Frames every 40 ms of the duration, at most 256 frames. Durations below 40 ms give two
// frames (positions 0 and 255) of 40 ms.
TFramePlan MakeFramePlan(int32_t durationMs);

// Renders a frame into dest: 32 bits per pixel, the picture's size, white where no
// triangle of the grid writes. A frame's position is a slider position: the options'
// timing turns it into shape and colour positions, as in the preview.
void RenderFrame(TMorphGrid& grid, const TFramePlan& plan, int32_t frame, TBitmap& dest,
                 const TRenderOptions& options = {});

// The one place every exported frame is rendered: the in-between picture at a morph
// position (0 .. 256) into dest, as RenderFrame does.
void RenderPosition(TMorphGrid& grid, int32_t position, TBitmap& dest, const TRenderOptions& options = {});

// Renders frames 0 .. count - 1 at positionOf(frame) and hands each to consume, in order,
// on the caller's thread; meanwhile one worker thread renders the next frame. Before a
// frame is consumed, progress(frame + 1, count) runs while no render is under way (so it
// may use the grid itself, as the editor's preview does); false from it stops the run
// before anything else happens and RenderAhead returns false. The frames are exactly those
// a plain loop of RenderPosition would give.
using TFrameConsumer = std::function<void(int32_t frame, TBitmap& picture)>;
using TFrameProgress = std::function<bool(int32_t frame, int32_t count)>;
bool RenderAhead(TMorphGrid& grid, int32_t count, const std::function<int32_t(int32_t)>& positionOf,
                 const TFrameConsumer& consume, const TFrameProgress& progress,
                 const TRenderOptions& options = {});

// Called after each frame is rendered: frame counts from 1 to count.
using TExportProgress = std::function<void(int32_t frame, int32_t count)>;

// Renders every frame of the plan for durationMs and writes them (with the WAV file's sound
// when wavFileName is not empty) as an AVI file, frames stretched to the picture size.
// Raises the writer's messages; an existing file is replaced only by a complete movie.
void ExportMovie(TMorphGrid& grid, int32_t durationMs, const std::string& fileName,
                 const std::string& wavFileName = std::string(), const TExportProgress& progress = {},
                 const TRenderOptions& options = {});

}  // namespace qv
