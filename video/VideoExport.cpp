#include "video/VideoExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "morph/UMorph.h"
#include "video/AviFile.h"
#include "video/AviWriter.h"
#include "video/FramePlan.h"

namespace qv {

namespace {

// The encoder's file beside the target, removed unless it became the target.
class TTemporaryFile {
public:
    explicit TTemporaryFile(const std::string& target) : FTarget(target) {
        std::string folder = ExtractFilePath(target);
        if (folder.empty()) folder = "./";
        try {
            FPath = CreateUniqueFile(folder, "." + ExtractFileName(target) + ".", ".tmp");
        } catch (const Exception& e) {
            // The user hears about the file they asked for, not about our temporary one;
            // the reason is the one the folder gave.
            const std::string message = e.what();
            const size_t at = message.rfind("\". ");
            const std::string reason = at == std::string::npos ? message : message.substr(at + 3);
            throw EFCreateError(Format("Cannot create file \"%s\". %s", target.c_str(), reason.c_str()));
        }
    }
    ~TTemporaryFile() {
        if (!FPath.empty()) DeleteFile(FPath);
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    const std::string& Path() const { return FPath; }
    void Commit() {
        // As every save of a picture or movie: an existing file is replaced only by one whose
        // data is on the disk.
        if (SyncBeforeReplacing(FTarget, TSync::WhenReplacing)) {
            const int fd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
            const bool synced = fd >= 0 && ::fsync(fd) == 0;
            const int error = errno;
            if (fd >= 0) ::close(fd);
            if (!synced)
                throw EWriteError(Format("Cannot write file \"%s\" to disk. %s", FTarget.c_str(), std::strerror(error)));
        }
        if (std::rename(FPath.c_str(), FTarget.c_str()) != 0)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", FTarget.c_str(), std::strerror(errno)));
        FPath.clear();
    }

private:
    std::string FTarget;
    std::string FPath;
};

bool ExportAvi(TMorphGrid& grid, const TVideoSettings& settings, const TVideoPlan& plan,
               const std::string& fileName, const TVideoProgress& progress) {
    TAviWriter writer;
    writer.SetWidth(grid.PictureWidth);
    writer.SetHeight(grid.PictureHeight);
    // The AVI writer times frames in whole milliseconds: 30 fps plays at 1000/33.
    writer.SetFrameTime((1000 + settings.Fps / 2) / settings.Fps);
    writer.SetStretch(true);
    if (!settings.WavFileName.empty()) writer.SetWavFileName(settings.WavFileName);
    writer.SetFileName(fileName);
    writer.BeginMovie();
    const bool done = RenderAhead(
        grid, plan.FrameCount(), [&plan](int32_t frame) { return plan.Position(frame); },
        [&writer](int32_t, TBitmap& picture) { writer.AddFrame(picture); }, progress, settings.Render);
    if (!done) {
        writer.AbortMovie();
        return false;
    }
    writer.EndMovie();
    return true;
}

}  // namespace

TVideoPlan MakeVideoPlan(const TVideoSettings& settings) {
    TVideoPlan plan;
    const int64_t frames = (int64_t(settings.DurationMs) * settings.Fps + 500) / 1000;
    plan.Steps = int32_t(std::max<int64_t>(frames, 2) - 1);
    plan.PingPong = settings.PingPong;
    return plan;
}

TVideoFormat VideoFormatOf(const std::string& fileName) {
    const std::string ext = LowerCase(ExtractFileExt(fileName));
    if (ext == ".mp4") return TVideoFormat::Mp4;
    if (ext == ".webm") return TVideoFormat::WebM;
    if (ext == ".gif") return TVideoFormat::Gif;
    if (ext == ".avi") return TVideoFormat::Avi;
    throw Exception(Format("Cannot tell the movie format of \"%s\": the name must end in .mp4, .webm, .gif or .avi",
                           fileName.c_str()));
}

void CheckVideoSettings(TVideoFormat format, const TVideoSettings& settings) {
    if (settings.DurationMs < 1 || settings.DurationMs > kMaxVideoDurationMs)
        throw Exception(Format("The duration must be from 1 to %d ms, not %d", kMaxVideoDurationMs, settings.DurationMs));
    if (settings.Fps < 1 || settings.Fps > kMaxVideoFps)
        throw Exception(Format("The frame rate must be from 1 to %d frames per second, not %d", kMaxVideoFps,
                               settings.Fps));
    int32_t qmin = 0, qmax = 0, qdefault = 0;
    QualityRange(format, qmin, qmax, qdefault);
    if (settings.Quality >= 0 && qmax >= 0 && settings.Quality > qmax)
        throw Exception(Format("The quality must be from %d (best) to %d, not %d", qmin, qmax, settings.Quality));
    if (settings.Quality < -1) throw Exception(Format("The quality must not be negative, not %d", settings.Quality));
    if (!settings.WavFileName.empty()) {
        if (format == TVideoFormat::Gif) throw Exception("GIF movies have no sound; leave out the sound file");
        if (!FileExists(settings.WavFileName))
            throw EFOpenError(Format("Cannot open the sound file \"%s\": it does not exist", settings.WavFileName.c_str()));
        TFileStream wav(settings.WavFileName, fmOpenRead | fmShareDenyNone);
        TWaveInfo info;
        if (ReadWaveInfo(wav, info) != AVIERR_OK)
            throw Exception(Format("The sound file \"%s\" is not a PCM WAV file", settings.WavFileName.c_str()));
        if (format == TVideoFormat::Avi && LowerCase(ExtractFileExt(settings.WavFileName)) != ".wav")
            throw Exception("WavFileName must name a file with the .wav extension");
    }
}

bool ExportVideo(TMorphGrid& grid, const TVideoSettings& settings, const std::string& fileName,
                 const TVideoProgress& progress) {
    const TVideoFormat format = VideoFormatOf(fileName);
    CheckVideoSettings(format, settings);
    const TVideoPlan plan = MakeVideoPlan(settings);
    if (format == TVideoFormat::Avi) return ExportAvi(grid, settings, plan, fileName, progress);
    if (grid.PictureWidth <= 0 || grid.PictureHeight <= 0) throw Exception("Invalid bitmap");

    TTemporaryFile file(fileName);
    TEncoderSettings encoding;
    encoding.Format = format;
    encoding.Width = grid.PictureWidth;
    encoding.Height = grid.PictureHeight;
    encoding.Fps = settings.Fps;
    encoding.Quality = settings.Quality;
    encoding.FrameCount = plan.FrameCount();
    encoding.WavFileName = settings.WavFileName;
    TFfmpegEncoder encoder(file.Path(), encoding);
    const bool done = RenderAhead(
        grid, plan.FrameCount(), [&plan](int32_t frame) { return plan.Position(frame); },
        [&encoder](int32_t, TBitmap& picture) { encoder.AddFrame(picture); }, progress, settings.Render);
    if (!done) return false;
    encoder.Finish();
    file.Commit();
    return true;
}

}  // namespace qv
