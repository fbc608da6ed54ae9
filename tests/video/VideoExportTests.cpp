// The shareable movie export: the frame plan, MP4/WebM/GIF checked in ffprobe and frame by
// frame against the renders, the streaming AVI path against the in-memory one, and every
// way an export can fail or be cancelled without leaving a file.
#include <gtest/gtest.h>

#include <cmath>

#include "AviTestUtil.h"
#include "framework/Exceptions.h"
#include "morph/UMorph.h"
#include "video/AviWriter.h"
#include "video/FramePlan.h"
#include "video/VideoExport.h"

using namespace qv;
using namespace qvtest;

namespace {

// Smooth, photo-like pictures (soft gradients and blobs) of an odd size, and a grid that
// moves its middle point: what a real morph looks like to an encoder.
void FillSmooth(TBitmap& bmp, int32_t w, int32_t h, double phase) {
    bmp.SetPixelFormat(pf32bit);
    bmp.SetWidth(w);
    bmp.SetHeight(h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            const auto c = [](double t) { return uint8_t(std::lround(127.5 + 110 * std::sin(t))); };
            bmp.SetPixelColor(x, y, RGBColor(c(3 * u + phase), c(2 * v - phase + 4 * u * v), c(5 * u * v + 2 * phase)));
        }
}

void MakeProject(TMorphGrid& grid, int32_t w, int32_t h) {
    FillSmooth(grid.StartBmp, w, h, 0.0);
    FillSmooth(grid.EndBmp, w, h, 2.0);
    grid.SetPictureSize(Point(w, h));
    grid.SetGridSize(Point(3, 3));
    grid.EndMesh[1][1] = Point(w / 2 + 9, h / 2 - 7);
}

// PSNR over the w x h picture at the top left of a decoded frame of `stride` pixels per row.
double Psnr(const std::vector<uint8_t>& decoded, size_t frameStart, int32_t stride, const TBitmap& expected) {
    double sum = 0;
    for (int32_t y = 0; y < expected.Height(); ++y)
        for (int32_t x = 0; x < expected.Width(); ++x) {
            const TColor c = expected.PixelColor(x, y);
            const uint8_t* d = decoded.data() + frameStart + (size_t(y) * stride + x) * 3;
            const int e[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
            for (int k = 0; k < 3; ++k) sum += double(d[k] - e[k]) * (d[k] - e[k]);
        }
    const double mse = sum / (3.0 * expected.Width() * expected.Height());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

// A float WAV: real, playable, and not PCM.
void MakeFloatWav(const std::string& path) {
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -c:a pcm_f32le '" + path +
                           "'")
                              .c_str()),
              0);
}

}  // namespace

TEST(VideoPlan, FramesAndPositions) {
    struct Case {
        int32_t duration, fps;
        bool pingPong;
        int32_t frames;
        std::vector<std::pair<int32_t, int32_t>> positions;  // frame, position
    };
    const Case cases[] = {
        {3000, 25, false, 75, {{0, 0}, {1, 3}, {37, 128}, {74, 256}}},
        {1000, 30, false, 30, {{0, 0}, {29, 256}}},
        {1, 25, false, 2, {{0, 0}, {1, 256}}},  // never fewer than the two ends
        {20, 25, false, 2, {{0, 0}, {1, 256}}},
        // There and back: the end once, then back to one frame before the start.
        {200, 25, true, 8, {{0, 0}, {4, 256}, {3, 192}, {5, 192}, {7, 64}}},
        {1, 25, true, 2, {{0, 0}, {1, 256}}},
        {3600000, 120, false, 432000, {{0, 0}, {431999, 256}}},
    };
    for (const Case& c : cases) {
        TVideoSettings s;
        s.DurationMs = c.duration;
        s.Fps = c.fps;
        s.PingPong = c.pingPong;
        const TVideoPlan plan = MakeVideoPlan(s);
        SCOPED_TRACE(testing::Message() << c.duration << " ms at " << c.fps << (c.pingPong ? " ping-pong" : ""));
        EXPECT_EQ(plan.FrameCount(), c.frames);
        for (auto [frame, position] : c.positions) EXPECT_EQ(plan.Position(frame), position) << "frame " << frame;
        // Positions rise with every frame while there are no more frames than positions.
        for (int32_t f = 1; f <= plan.Steps; ++f)
            if (plan.Steps <= 256)
                ASSERT_GT(plan.Position(f), plan.Position(f - 1));
            else
                ASSERT_GE(plan.Position(f), plan.Position(f - 1));
    }
}

// Each format through ffprobe and ffmpeg: codec, padded size, frame count and rate, sound,
// and the picture at the first, middle and last frame against the render there.
TEST(VideoExport, FormatsDecodeToTheRenders) {
    ASSERT_TRUE(HaveTool("ffprobe") && HaveTool("ffmpeg"));
    TScratch scratch;
    TMorphGrid grid;
    MakeProject(grid, 321, 241);  // odd both ways
    const std::string wav = std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav";
    struct Case {
        const char* name;
        const char* codec;
        const char* audio;  // nullptr: no sound stream
        int32_t codedWidth, codedHeight;
        double minPsnr;
    };
    const Case cases[] = {
        {"m.mp4", "h264", "aac", 322, 242, 40.0},
        {"m.webm", "vp9", "opus", 322, 242, 40.0},
        // 256 colours per frame, dithered: within what a palette can do.
        {"m.gif", "gif", nullptr, 321, 241, 30.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVideoSettings s;
        s.DurationMs = 400;  // 10 frames
        s.Fps = 25;
        if (c.audio != nullptr) s.WavFileName = wav;
        const std::string file = scratch.File(c.name);
        ASSERT_TRUE(ExportVideo(grid, s, file));
        const auto streams = Probe(file);
        ASSERT_EQ(streams.size(), c.audio != nullptr ? 2u : 1u);
        EXPECT_EQ(streams[0].at("codec_name"), c.codec);
        EXPECT_EQ(streams[0].at("width"), std::to_string(c.codedWidth));
        EXPECT_EQ(streams[0].at("height"), std::to_string(c.codedHeight));
        EXPECT_EQ(streams[0].at("nb_read_frames"), "10");
        EXPECT_EQ(streams[0].at("r_frame_rate"), "25/1");
        if (c.audio != nullptr) {
            EXPECT_EQ(streams[1].at("codec_name"), c.audio);
        }

        const std::vector<uint8_t> decoded = DecodeRgb(file);
        const size_t frameBytes = size_t(c.codedWidth) * c.codedHeight * 3;
        ASSERT_EQ(decoded.size(), 10 * frameBytes);
        const TVideoPlan plan = MakeVideoPlan(s);
        for (int32_t frame : {0, 5, 9}) {
            TBitmap expected;
            RenderPosition(grid, plan.Position(frame), expected);
            EXPECT_GE(Psnr(decoded, frame * frameBytes, c.codedWidth, expected), c.minPsnr) << "frame " << frame;
        }
        // The padding repeats the edge: the extra column matches the last one closely.
        if (c.codedWidth > 321) {
            const uint8_t* row = decoded.data() + size_t(120) * c.codedWidth * 3;
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(row[321 * 3 + k], row[320 * 3 + k], 12);
        }
    }
    // The MP4's index comes before the pictures, so players start at once.
    const std::vector<uint8_t> mp4 = ReadFileBytes(scratch.File("m.mp4"));
    const std::string head(mp4.begin(), mp4.begin() + std::min<size_t>(mp4.size(), 4096));
    EXPECT_NE(head.find("moov"), std::string::npos);
    EXPECT_EQ(TScratch::Entries(scratch.Root()), (std::vector<std::string>{"m.gif", "m.mp4", "m.webm", "tmp"}));
}

// The streaming export gives the bytes of the in-memory writer fed the same renders, also
// with sound.
TEST(VideoExport, StreamingAviEqualsTheBitmapList) {
    TScratch scratch;
    TMorphGrid grid;
    MakeProject(grid, 33, 17);
    const std::string wav = std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav";
    for (const std::string& sound : {std::string(), wav}) {
        SCOPED_TRACE(sound);
        ExportMovie(grid, 600, scratch.File("streamed.avi"), sound);
        const TFramePlan plan = MakeFramePlan(600);
        std::vector<TBitmap> frames(size_t(plan.FrameCount()));
        TAviWriter writer;
        writer.SetWidth(33);
        writer.SetHeight(17);
        writer.SetFrameTime(plan.FrameTime);
        if (!sound.empty()) writer.SetWavFileName(sound);
        for (int32_t b = 0; b <= plan.LastFrame; ++b) {
            RenderFrame(grid, plan, b, frames[size_t(b)]);
            writer.Bitmaps().push_back(&frames[size_t(b)]);
        }
        writer.SetFileName(scratch.File("listed.avi"));
        writer.WriteMovie();
        const auto streamed = ReadFileBytes(scratch.File("streamed.avi"));
        ASSERT_GT(streamed.size(), 16u * 33 * 17 * 3);
        EXPECT_TRUE(streamed == ReadFileBytes(scratch.File("listed.avi")));
    }
}

// Bad settings, sound files and targets: a clear message, the old file as it was and
// nothing else left in its folder or the temp folder.
TEST(VideoExport, BadInputChangesNothing) {
    TScratch scratch;
    TMorphGrid grid;
    MakeProject(grid, 40, 30);
    const std::string floatWav = scratch.File("float.wav");
    MakeFloatWav(floatWav);
    struct Case {
        const char* target;
        int32_t duration, fps, quality;
        std::string wav;
        const char* message;  // a part of it
    };
    const Case cases[] = {
        {"old.mov", 1000, 25, -1, "", "must end in .mp4, .webm, .gif or .avi"},
        {"old.mp4", 0, 25, -1, "", "The duration must be from 1"},
        {"old.mp4", 1000, 0, -1, "", "The frame rate must be from 1 to 120"},
        {"old.mp4", 1000, 25, 52, "", "The quality must be from 0 (best) to 51"},
        {"old.webm", 1000, 25, 64, "", "The quality must be from 0 (best) to 63"},
        {"old.mp4", 1000, 25, -1, scratch.File("none.wav"), "does not exist"},
        {"old.webm", 1000, 25, -1, floatWav, "is not a PCM WAV file"},
        {"old.avi", 1000, 25, -1, floatWav, "is not a PCM WAV file"},
        {"old.gif", 1000, 25, -1, std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav", "GIF movies have no sound"},
        // A file where a folder should be: nothing can be made there.
        {"float.wav/old.mp4", 1000, 25, -1, "", "Cannot create file"},
    };
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string target = scratch.File(c.target);
        if (std::string(c.target).find('/') == std::string::npos) WriteFileBytes(target, old);
        const auto before = TScratch::Entries(scratch.Root());
        TVideoSettings s;
        s.DurationMs = c.duration;
        s.Fps = c.fps;
        s.Quality = c.quality;
        s.WavFileName = c.wav;
        EXPECT_NE(MessageOf([&] { ExportVideo(grid, s, target); }).find(c.message), std::string::npos)
            << MessageOf([&] { ExportVideo(grid, s, target); });
        EXPECT_EQ(TScratch::Entries(scratch.Root()), before);
        if (std::string(c.target).find('/') == std::string::npos) {
            EXPECT_EQ(ReadFileBytes(target), old);
        }
        EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());
    }
}

// A cancel stops within a frame; a full disk fails: either way the old file stays and no
// temporary file is left, in every format.
TEST(VideoExport, CancelAndFullDiskKeepTheOldFile) {
    TScratch scratch;
    TMorphGrid grid;
    MakeProject(grid, 64, 48);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const char* name : {"c.mp4", "c.webm", "c.gif", "c.avi"}) {
        SCOPED_TRACE(name);
        const std::string target = scratch.File(name);
        WriteFileBytes(target, old);
        TVideoSettings s;
        s.DurationMs = 600;
        int32_t calls = 0;
        EXPECT_FALSE(ExportVideo(grid, s, target, [&](int32_t frame, int32_t) {
            ++calls;
            return frame < 3;
        }));
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(ReadFileBytes(target), old);
        {
            TFileSizeCap cap(500);
            EXPECT_NE(MessageOf([&] { ExportVideo(grid, s, target); }), "(no exception)");
        }
        EXPECT_EQ(ReadFileBytes(target), old);
        EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());
    }
    EXPECT_EQ(TScratch::Entries(scratch.Root()), (std::vector<std::string>{"c.avi", "c.gif", "c.mp4", "c.webm", "tmp"}));
}
