#pragma once
// Compressed movies through FFmpeg's libraries: H.264 in MP4, VP9 in WebM, animated GIF;
// sound from a PCM WAV file as AAC (MP4) or Opus (WebM). The one unit that sees FFmpeg.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/Graphics.h"

namespace qv {

enum class TVideoFormat { Avi, Mp4, WebM, Gif };

struct TEncoderSettings {
    TVideoFormat Format = TVideoFormat::Mp4;
    int32_t Width = 0;  // the pictures' size; MP4 and WebM pad an odd side by one
    int32_t Height = 0;  // repeated edge pixel (their 4:2:0 colour needs even sides)
    int32_t Fps = 25;
    int32_t Quality = -1;  // constant rate factor; -1: the format's default (MP4 18, WebM 32)
    int32_t FrameCount = 0;  // the sound is cut where the last frame ends
    std::string WavFileName;  // empty: no sound (GIF never has any)
};

// Writes one movie into path (which it creates or empties): the constructor opens the
// encoders and writes the container's header, AddFrame encodes one 32-bit picture of the
// settings' size, Finish drains the encoders and completes the file. Failures raise
// Exception with a message naming the step; a missing encoder is named ("This FFmpeg has
// no libx264 encoder ..."). The file is left as it is on failure: the caller removes it.
class TFfmpegEncoder {
public:
    TFfmpegEncoder(const std::string& path, const TEncoderSettings& settings);
    ~TFfmpegEncoder();
    TFfmpegEncoder(const TFfmpegEncoder&) = delete;
    TFfmpegEncoder& operator=(const TFfmpegEncoder&) = delete;

    void AddFrame(const TBitmap& picture);
    void Finish();

    struct TImpl;

private:
    std::unique_ptr<TImpl> F;
};

// The CRF range of a format: MP4 0..51, WebM 0..63; GIF and AVI have none (max < 0).
void QualityRange(TVideoFormat format, int32_t& min, int32_t& max, int32_t& byDefault);

}  // namespace qv
