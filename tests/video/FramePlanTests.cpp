// The frame plan: frame time, frame count and positions from a duration; frames rendered
// from a grid; the whole export checked frame by frame in ffmpeg.
#include <gtest/gtest.h>

#include "AviTestUtil.h"
#include "framework/Exceptions.h"
#include "morph/UMorph.h"
#include "video/FramePlan.h"

using namespace qv;
using namespace qvtest;

namespace {

// A 32 x 24 project: two different pictures and a 3 x 3 grid whose middle point moves.
void MakeProject(TMorphGrid& grid, int32_t w = 32, int32_t h = 24) {
    FillPattern(grid.StartBmp, w, h, 1);
    FillPattern(grid.EndBmp, w, h, 7);
    grid.SetPictureSize(Point(w, h));
    grid.SetGridSize(Point(3, 3));
    grid.EndMesh[1][1] = Point(w / 2 + 5, h / 2 - 4);
}

}  // namespace

TEST(FramePlan, FrameTimeLastFrameAndPositions) {
    struct TCase {
        int32_t Duration, FrameTime, LastFrame;
    };
    const std::vector<TCase> cases = {
        {3000, 40, 75},  {40, 40, 1},     {79, 40, 1},     {80, 40, 2},    {10000, 40, 250},
        {10199, 40, 254}, {10200, 40, 255}, {20400, 80, 255}, {39, 40, 1},   {10, 40, 1},
        {0, 40, 1},      {-500, 40, 1},
    };
    for (const TCase& c : cases) {
        const TFramePlan plan = MakeFramePlan(c.Duration);
        EXPECT_EQ(plan.FrameTime, c.FrameTime) << c.Duration;
        EXPECT_EQ(plan.LastFrame, c.LastFrame) << c.Duration;
        EXPECT_EQ(plan.FrameCount(), c.LastFrame + 1) << c.Duration;
        EXPECT_EQ(plan.Position(0), 0) << c.Duration;
        EXPECT_EQ(plan.Position(plan.LastFrame), 255) << c.Duration;
    }
    const TFramePlan plan = MakeFramePlan(3000);
    const std::vector<int32_t> first = {0, 3, 6, 10, 13, 17};
    for (int32_t b = 0; b < 6; ++b) EXPECT_EQ(plan.Position(b), first[size_t(b)]);
    // Positions rise strictly for every frame count the rule can give.
    for (int32_t d = 40; d <= 10200; d += 40) {
        const TFramePlan p = MakeFramePlan(d);
        for (int32_t b = 1; b <= p.LastFrame; ++b) ASSERT_LT(p.Position(b - 1), p.Position(b)) << d;
    }
}

TEST(FramePlan, RenderedFramesArePictureSizedAndWhiteWhereNothingIsDrawn) {
    TMorphGrid grid;
    MakeProject(grid);
    // Pull the right column of both meshes to the middle: the right half gets no triangle.
    for (int j = 0; j < 3; ++j) {
        grid.StartMesh[2][size_t(j)].X = 16;
        grid.EndMesh[2][size_t(j)].X = 16;
    }
    grid.EndMesh[1][1] = grid.StartMesh[1][1];
    const TFramePlan plan = MakeFramePlan(3000);

    TBitmap frame;
    frame.SetPixelFormat(pf8bit);  // any previous state: format, size, contents
    frame.SetWidth(50);
    frame.SetHeight(3);
    frame.Canvas().Brush.Color = clBlack;
    frame.Canvas().FillRect(Rect(0, 0, 50, 3));
    RenderFrame(grid, plan, 0, frame);
    EXPECT_EQ(frame.PixelFormat(), pf32bit);
    EXPECT_EQ(frame.Width(), 32);
    EXPECT_EQ(frame.Height(), 24);
    int wrong = 0;
    for (int32_t y = 0; y < 24; ++y) {
        for (int32_t x = 17; x < 32; ++x) wrong += frame.PixelColor(x, y) != clWhite;
        // Frame 0 is the start picture where it is drawn (identical meshes there).
        for (int32_t x = 0; x < 16; ++x) wrong += frame.PixelColor(x, y) != grid.StartBmp.PixelColor(x, y);
    }
    EXPECT_EQ(wrong, 0);
}

TEST(FramePlan, ExportedMovieShowsEveryRenderedFrame) {
    if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    TScratch scratch;
    TMorphGrid grid;
    MakeProject(grid);
    const TFramePlan plan = MakeFramePlan(3000);
    std::vector<std::pair<int32_t, int32_t>> progress;
    const std::string target = scratch.File("morph.avi");
    ExportMovie(grid, 3000, target, "", [&](int32_t k, int32_t n) { progress.emplace_back(k, n); });

    ASSERT_EQ(progress.size(), 76u);
    for (size_t i = 0; i < progress.size(); ++i) EXPECT_EQ(progress[i], std::make_pair(int32_t(i + 1), 76));
    EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());

    const auto streams = Probe(target);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_frames"), "76");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "25/1");
    EXPECT_EQ(streams[0].at("width"), "32");
    EXPECT_EQ(streams[0].at("height"), "24");

    std::vector<uint8_t> expected;
    TBitmap frame;
    for (int32_t b = 0; b <= plan.LastFrame; ++b) {
        RenderFrame(grid, plan, b, frame);
        AppendRgb(expected, frame);
    }
    const std::vector<uint8_t> decoded = DecodeRgb(target);
    ASSERT_EQ(decoded.size(), expected.size());
    // Frame by frame, so a failure names the frame.
    const size_t frameBytes = 32 * 24 * 3;
    for (size_t b = 0; b < 76; ++b)
        EXPECT_TRUE(std::equal(decoded.begin() + std::ptrdiff_t(b * frameBytes),
                               decoded.begin() + std::ptrdiff_t((b + 1) * frameBytes),
                               expected.begin() + std::ptrdiff_t(b * frameBytes)))
            << "frame " << b;
    // The ends really differ, so the comparison says something about the positions.
    EXPECT_FALSE(std::equal(expected.begin(), expected.begin() + std::ptrdiff_t(frameBytes),
                            expected.end() - std::ptrdiff_t(frameBytes)));
}

TEST(FramePlan, ShortDurationsExportBothEnds) {
    TScratch scratch;
    TMorphGrid grid;
    MakeProject(grid, 8, 6);
    const std::string target = scratch.File("short.avi");
    int32_t frames = 0;
    ExportMovie(grid, 15, target, "", [&](int32_t, int32_t n) { frames = n; });
    EXPECT_EQ(frames, 2);
    const auto b = ReadFileBytes(target);
    const auto top = ParseRiff(b, 0, b.size());
    ASSERT_EQ(top.size(), 1u);
    const size_t avih = top[0].Find(Id("LIST"), Id("hdrl"))->Find(Id("avih"))->Data();
    EXPECT_EQ(U32(b, avih), 40000u);
    EXPECT_EQ(U32(b, avih + 16), 2u);
    EXPECT_EQ(top[0].Find(Id("LIST"), Id("movi"))->Count(Id("00dc")), 2);
}

TEST(FramePlan, ExportWithoutPicturesFailsWithoutFiles) {
    TScratch scratch;
    TMorphGrid grid;  // picture size 0 x 0
    const std::string target = scratch.File("none.avi");
    try {
        ExportMovie(grid, 3000, target);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid bitmap");
    }
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());
}
