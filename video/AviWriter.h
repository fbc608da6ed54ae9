#pragma once
// TAviWriter: turns a list of bitmaps (and optionally a WAV file's sound) into an
// uncompressed AVI movie through the movie-file services of AviFile.h.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "video/AviFile.h"

namespace qv {

// Bytes of one DIB row: whole 32-bit words. Computed in 64 bits: width x bits can pass
// 32 bits for rasters the framework allows.
int64_t RowStride(int64_t pixels, int32_t bitsPerPixel);

// The 40-byte header of the bitmap as a DIB of the given depth (pf1bit, pf4bit, pf8bit or
// pf24bit; others raise "Invalid pixel foramt"); bottom row first, BI_RGB. An empty bitmap
// raises "Invalid bitmap".
void PrepareDibHeader(const TBitmap& bitmap, BITMAPINFOHEADER& header, TPixelFormat depth);

// Header size (with the colour table of indexed depths) and pixel data size of the bitmap
// as a DIB of that depth.
void FrameDibSizes(const TBitmap& bitmap, TPixelFormat depth, int32_t& headerSize, int64_t& imageSize);

// Fills header (header and colour table) and bits (rows, bottom row first) with the bitmap
// as a DIB of that depth. The colour table of indexed depths comes from palette when given,
// else from the bitmap's own palette, else grey steps. False, with nothing written, when a
// buffer is too small.
bool FrameDibBits(const TBitmap& bitmap, const TLogPalette* palette, std::span<uint8_t> header,
                  std::span<uint8_t> bits, TPixelFormat depth);

class TAviWriter {
public:
    // Frame size: a tenth of the screen's; one frame per second; stretching on.
    TAviWriter();
    ~TAviWriter();
    TAviWriter(const TAviWriter&) = delete;
    TAviWriter& operator=(const TAviWriter&) = delete;

    int32_t Height() const { return FHeight; }
    void SetHeight(int32_t value) { FHeight = value; }
    int32_t Width() const { return FWidth; }
    void SetWidth(int32_t value) { FWidth = value; }
    // Milliseconds per frame.
    int32_t FrameTime() const { return FFrameTime; }
    void SetFrameTime(int32_t value) { FFrameTime = value; }
    // True: each bitmap is scaled to the frame; false: drawn unscaled at the top left on
    // the colour of its top-left pixel.
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value) { FStretch = value; }
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& value) { FFileName = value; }
    // Only names with the extension ".wav" (any letter case) are taken; setting the current
    // name again in other letters changes nothing.
    const std::string& WavFileName() const { return FWavFileName; }
    void SetWavFileName(const std::string& value);

    // The frames, in order. The caller owns the bitmaps and keeps them alive until
    // WriteMovie returns.
    std::vector<TBitmap*>& Bitmaps() { return FBitmaps; }

    // Writes FileName. An existing file of that name is replaced only by a complete movie;
    // no work file stays behind, whatever happens.
    void WriteMovie();

    // The same movie, one frame at a time, for callers that render frames as they go and
    // cannot hold them all: BeginMovie, AddFrame for each frame, EndMovie. The bytes are
    // those WriteMovie writes for the same frames. A movie that is not ended (a failure,
    // a cancel, AbortMovie or the writer's end) leaves no work file and no target.
    void BeginMovie();
    void AddFrame(TBitmap& source);
    void EndMovie();
    void AbortMovie() noexcept { CleanUp(); }
    // Frames added since BeginMovie.
    int32_t FramesAdded() const { return FFramesAdded; }

private:
    void StartWorkStream();
    void WriteFrame(TBitmap& source);
    void AttachWaveAudio();
    void DrawFrame(TBitmap& work, TBitmap& source) const;
    void CleanUp() noexcept;

    std::string FWorkFilePath;  // the current write's work file, empty outside writes
    PAVIFILE FWorkFile = nullptr;
    int32_t FHeight;
    int32_t FWidth;
    bool FStretch = true;
    int32_t FFrameTime = 1000;
    std::string FFileName;
    std::string FWavFileName;
    PAVISTREAM FVideoStream = nullptr;
    PAVISTREAM FAudioStream = nullptr;
    std::vector<TBitmap*> FBitmaps;
    // State of a movie being written: the raw work-file stream, the frame every source is
    // drawn into and the DIB buffers, kept from frame to frame.
    PAVISTREAM FRawStream = nullptr;
    std::unique_ptr<TBitmap> FWork;
    std::vector<uint8_t> FHeader;
    std::vector<uint8_t> FBits;
    int32_t FFramesAdded = 0;
};

}  // namespace qv
