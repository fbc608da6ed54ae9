// quorvalin-cli's sampling and timing options: refused when wrong, taken from the project's
// timing file when not given, and the same pictures as the engine's timed render in a
// picture and in a movie.
#include <gtest/gtest.h>

#include "cli/CliTestSupport.h"
#include "imageio/GenericGraphic.h"
#include "morph/MorphTiming.h"
#include "video/FramePlan.h"
#include "video/VideoExport.h"

namespace qv {
namespace {

using namespace qvtest;
using namespace clitest;

// proj/p.grid over two 37 x 29 pictures, with moved points so that shape and colour timing
// both show.
void MakeProject(const TScratch& scratch) {
    TMorphGrid g;
    MakeProjectPictures(scratch, 37, 29, 3, 17, g);
    g.SetGridSize(Point(4, 4));
    g.StartMesh[1][1] = Point(g.StartMesh[1][1].X + 5, g.StartMesh[1][1].Y + 2);
    g.EndMesh[2][2] = Point(g.EndMesh[2][2].X - 4, g.EndMesh[2][2].Y + 3);
    g.SaveGridFile(scratch.File("proj/p.grid"));
}

std::vector<uint8_t> Rgb(const std::string& file) {
    TGenericGraphic g;
    g.LoadImageFile(file);
    std::vector<uint8_t> out;
    AppendRgb(out, g);
    return out;
}

// The engine's own timed render of the project at t.
std::vector<uint8_t> Expected(const TScratch& scratch, int32_t t, const TRenderOptions& options) {
    TFolderGuard keep;
    SetCurrentDir(scratch.File("proj"));
    TMorphGrid grid;
    grid.LoadGridFile("p.grid");
    TBitmap pic;
    pic.SetPixelFormat(pf32bit);
    pic.SetWidth(grid.PictureWidth);
    pic.SetHeight(grid.PictureHeight);
    RenderMorphTimed(grid, pic, t, options);
    std::vector<uint8_t> out;
    AppendRgb(out, pic);
    return out;
}

TEST(CliTiming, BadOptionsAreRefusedBeforeAnyWork) {
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--shape-curve", "cubic"}, "--shape-curve"},
        {{"--colour-curve", "linear,delay=91"}, "--colour-curve"},
        {{"--shape-curve", "ease-in-out,delay=50,lead=50"}, "together"},
        {{"--colour-curve=linear,lead=-3"}, "lead"},
        {{"--shape-curve", "linear,speed=2"}, "speed"},
        {{"--smooth=yes"}, "--smooth"},
    };
    for (const auto& [extra, named] : bad)
        for (const char* command : {"render", "avi", "video"}) {
            std::vector<std::string> args = {command, "proj/p.grid", "out.x"};
            if (std::string(command) == "render") args.insert(args.end(), {"--position", "9"});
            else args.insert(args.end(), {"--duration", "100"});
            args.insert(args.end(), extra.begin(), extra.end());
            const TRun r = RunToolWithStderr(args);
            EXPECT_EQ(r.Code, 2) << command << " " << extra[0];
            EXPECT_NE(r.Err.find(named), std::string::npos) << r.Err;
            EXPECT_FALSE(FileExists(scratch.File("out.x")));
        }
}

TEST(CliTiming, CurvesFromOptionsAndFromTheTimingFileGiveTheEnginesPicture) {
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    TRenderOptions options;
    options.Smooth = true;
    options.Timing = {ParseCurve("ease-in-out,lead=20"), ParseCurve("linear,delay=30")};
    const std::vector<uint8_t> want = Expected(scratch, 100, options);

    TRun r = RunToolWithStderr({"render", "proj/p.grid", "--position", "100", "--smooth", "--shape-curve",
                      "ease-in-out,lead=20", "--colour-curve=linear,delay=30", "a.bmp"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Rgb(scratch.File("a.bmp")) == want);
    EXPECT_FALSE(Rgb(scratch.File("a.bmp")) == Expected(scratch, 100, {}));

    // The timing file gives the colour curve; the option overrides its shape curve.
    SaveTiming(scratch.File("proj/p.grid"), {ParseCurve("linear,delay=50"), options.Timing.Colour});
    r = RunToolWithStderr({"render", "proj/p.grid", "--position", "100", "--smooth", "--shape-curve", "ease-in-out,lead=20",
                 "b.bmp"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_TRUE(Rgb(scratch.File("b.bmp")) == want);

    // A damaged timing file: a note, and linear timing.
    WriteFileBytes(scratch.File("proj/p.grid.json"), {'{', '"', 'v'});
    r = RunToolWithStderr({"render", "proj/p.grid", "--position", "100", "c.bmp"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Err.find("p.grid.json"), std::string::npos) << r.Err;
    EXPECT_TRUE(Rgb(scratch.File("c.bmp")) == Expected(scratch, 100, {}));
}

// Every frame of a timed, smooth movie is the picture the render command gives at the
// frame's position.
TEST(CliTiming, MovieFramesAreTheRenderedPicturesAtTheirPositions) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    const std::vector<std::string> timing = {"--smooth", "--shape-curve", "linear,lead=40", "--colour-curve",
                                             "ease-in-out,delay=10"};
    std::vector<std::string> args = {"avi", "proj/p.grid", "--duration", "240", "m.avi"};
    args.insert(args.end(), timing.begin(), timing.end());
    TRun r = RunToolWithStderr(args);
    ASSERT_EQ(r.Code, 0) << r.Err;

    const TFramePlan plan = MakeFramePlan(240);
    std::vector<uint8_t> frames;
    for (int32_t f = 0; f <= plan.LastFrame; ++f) {
        std::vector<std::string> render = {"render", "proj/p.grid", "--position", std::to_string(plan.Position(f)),
                                           "f.bmp"};
        render.insert(render.end(), timing.begin(), timing.end());
        r = RunToolWithStderr(render);
        ASSERT_EQ(r.Code, 0) << r.Err;
        const std::vector<uint8_t> one = Rgb(scratch.File("f.bmp"));
        frames.insert(frames.end(), one.begin(), one.end());
    }
    EXPECT_TRUE(DecodeRgb(scratch.File("m.avi")) == frames);

    // The video command's movies too (here its AVI, whose frames are stored as they are).
    args = {"video", "proj/p.grid", "--duration", "200", "--fps", "20", "v.avi"};
    args.insert(args.end(), timing.begin(), timing.end());
    r = RunToolWithStderr(args);
    ASSERT_EQ(r.Code, 0) << r.Err;
    TVideoSettings settings;
    settings.DurationMs = 200;
    settings.Fps = 20;
    const TVideoPlan videoPlan = MakeVideoPlan(settings);
    TRenderOptions options;
    options.Smooth = true;
    options.Timing = {ParseCurve("linear,lead=40"), ParseCurve("ease-in-out,delay=10")};
    frames.clear();
    for (int32_t f = 0; f < videoPlan.FrameCount(); ++f) {
        const std::vector<uint8_t> one = Expected(scratch, videoPlan.Position(f), options);
        frames.insert(frames.end(), one.begin(), one.end());
    }
    EXPECT_TRUE(DecodeRgb(scratch.File("v.avi")) == frames);
}

}  // namespace
}  // namespace qv
