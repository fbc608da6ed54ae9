#pragma once
// Movies people share: the whole transition as MP4 (H.264), WebM (VP9), animated GIF or
// uncompressed AVI, chosen by the file's extension, at a chosen frame rate and quality,
// optionally there and back again, with sound from a WAV file. Shared by the editor's
// Export video dialog and the batch tool's video command.
#include <cstdint>
#include <functional>
#include <string>

#include "morph/MorphTiming.h"
#include "video/FfmpegEncoder.h"

namespace qv {

class TMorphGrid;

struct TVideoSettings {
    int32_t DurationMs = 3000;  // start to end; ping-pong movies last twice as long
    int32_t Fps = 25;
    int32_t Quality = -1;      // constant rate factor of MP4 and WebM; -1: the format's default
    bool PingPong = false;     // start -> end -> back, ending one frame before the start so it loops
    std::string WavFileName;   // empty: no sound
    TRenderOptions Render;     // sampling and timing of every frame
};

constexpr int32_t kMaxVideoDurationMs = 3600 * 1000;
constexpr int32_t kMaxVideoFps = 120;

// Which frames a movie has and the morph position each shows.
struct TVideoPlan {
    int32_t Steps = 1;  // frames 0 .. Steps run from the start picture (0) to the end (256)
    bool PingPong = false;
    int32_t FrameCount() const { return PingPong ? 2 * Steps : Steps + 1; }
    // The way back repeats the way there: frame Steps + k shows what frame Steps - k does.
    int32_t Position(int32_t frame) const {
        const int64_t k = frame <= Steps ? frame : 2 * int64_t(Steps) - frame;
        return int32_t(k * 256 / Steps);
    }
};

// One way lasts the duration: round(duration x fps / 1000) frames, at least two.
TVideoPlan MakeVideoPlan(const TVideoSettings& settings);

// The format by the extension (.mp4, .webm, .gif, .avi; any letter case); other names
// raise an Exception naming the extensions.
TVideoFormat VideoFormatOf(const std::string& fileName);

// Raises an Exception with a clear message when a setting is out of range, the sound
// file is missing or not PCM, or the format cannot carry what was asked.
void CheckVideoSettings(TVideoFormat format, const TVideoSettings& settings);

// Called after each frame is rendered (frame counts from 1); false cancels the export.
using TVideoProgress = std::function<bool(int32_t frame, int32_t count)>;

// Renders and writes the movie into fileName, frame by frame (memory holds a few frames
// whatever the duration). Returns false when progress cancelled it. A cancel or a failure
// leaves no file behind and an existing file of that name as it was; only a complete
// movie replaces it.
bool ExportVideo(TMorphGrid& grid, const TVideoSettings& settings, const std::string& fileName,
                 const TVideoProgress& progress = {});

}  // namespace qv
