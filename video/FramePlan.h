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
// triangle of the grid writes. The frame's position is a slider position: the options'
// timing turns it into shape and colour positions, as in the preview.
void RenderFrame(TMorphGrid& grid, const TFramePlan& plan, int32_t frame, TBitmap& dest,
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
