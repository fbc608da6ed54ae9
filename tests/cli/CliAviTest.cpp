// quorvalin-cli avi: a project's transition as a movie, frame for frame the engine's render.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/CliTestSupport.h"
#include "video/FramePlan.h"

namespace qv {
namespace {

using namespace qvtest;
using namespace clitest;

// proj/ under the scratch folder: two 24 x 16 pictures and p.grid whose picture paths
// point nowhere, so the pictures are found by name in the project's folder.
void MakeProject(const TScratch& scratch) {
    TMorphGrid g;
    MakeProjectPictures(scratch, 24, 16, 2, 11, g, pf24bit);
    g.EndMesh[1][1] = Point(g.EndMesh[1][1].X + 4, g.EndMesh[1][1].Y - 3);
    g.StartFileName = "/gone/away/s.bmp";
    g.EndFileName = "/gone/away/e.bmp";
    g.SaveGridFile(scratch.File("proj/p.grid"));
}

TEST(CliAvi, WritesTheTransitionFrameForFrame) {
    if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    TRun r = RunTool({"avi", "proj/p.grid", "--duration", "200", "out.avi"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");  // no progress when standard error is not a terminal
    EXPECT_EQ(GetCurrentDir(), scratch.Root());
    ASSERT_TRUE(FileExists(scratch.File("out.avi")));
    EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());

    const auto streams = Probe(scratch.File("out.avi"));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_frames"), "6");  // 200 div 40 + 1
    EXPECT_EQ(streams[0].at("r_frame_rate"), "25/1");
    EXPECT_EQ(streams[0].at("width"), "24");
    EXPECT_EQ(streams[0].at("height"), "16");

    // The same project opened here renders the same frames.
    ASSERT_TRUE(SetCurrentDir(scratch.File("proj")));
    TMorphGrid grid;
    grid.LoadGridFile("p.grid");
    ASSERT_EQ(grid.PictureWidth, 24);
    const TFramePlan plan = MakeFramePlan(200);
    std::vector<uint8_t> expected;
    TBitmap frame;
    for (int32_t b = 0; b <= plan.LastFrame; ++b) {
        RenderFrame(grid, plan, b, frame);
        AppendRgb(expected, frame);
    }
    EXPECT_TRUE(DecodeRgb(scratch.File("out.avi")) == expected);
}

TEST(CliAvi, SoundTrackAndFailures) {
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    WriteFileBytes(scratch.File("s.wav"), Riff({{"fmt ", PcmFmt(1, 8000, 8)}, {"data", Ramp(800)}}));

    TRun r = RunTool({"avi", "--wav", "s.wav", "proj/p.grid", "--duration=120", "sound.avi"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto b = ReadFileBytes(scratch.File("sound.avi"));
    const auto top = ParseRiff(b, 0, b.size());
    ASSERT_EQ(top.size(), 1u);
    const TRiffNode* hdrl = top[0].Find(Id("LIST"), Id("hdrl"));
    ASSERT_EQ(hdrl->Count(Id("LIST"), Id("strl")), 2);
    EXPECT_EQ(U32(b, hdrl->Find(Id("LIST"), Id("strl"), 1)->Find(Id("strh"))->Data()), Id("auds"));
    EXPECT_EQ(top[0].Find(Id("LIST"), Id("movi"))->Count(Id("00dc")), 4);

    // A missing sound track fails with the writer's text and leaves the old movie alone.
    WriteFileBytes(scratch.File("old.avi"), {'o', 'l', 'd'});
    r = RunTool({"avi", "proj/p.grid", "--duration", "120", "--wav", "none.wav", "old.avi"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "A disk error occurred while opening the audio file.\n");
    EXPECT_EQ(ReadFileBytes(scratch.File("old.avi")), std::vector<uint8_t>({'o', 'l', 'd'}));
    r = RunTool({"avi", "proj/p.grid", "--duration", "120", "--wav", "s.mp3", "old.avi"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "WavFileName must name a file with the .wav extension\n");

    r = RunTool({"avi", "proj/none.grid", "--duration", "120", "x.avi"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("none.grid"), std::string::npos) << r.Err;
    EXPECT_FALSE(FileExists(scratch.File("x.avi")));
    EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());
}

TEST(CliAvi, ProgressOnATerminal) {
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios mode{};
    ASSERT_EQ(::tcgetattr(slave, &mode), 0);
    ::cfmakeraw(&mode);  // bytes as written: no carriage return added before a line feed
    ASSERT_EQ(::tcsetattr(slave, TCSANOW, &mode), 0);

    // Standard error is the terminal while the tool runs.
    std::cerr.flush();
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    ::dup2(slave, STDERR_FILENO);
    const TRun r = RunTool({"avi", "proj/p.grid", "--duration", "200", "out.avi"});
    std::cerr.flush();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(slave);

    const std::string expected =
        "\rframe 1 of 6\rframe 2 of 6\rframe 3 of 6\rframe 4 of 6\rframe 5 of 6\rframe 6 of 6\n";
    std::string shown;
    pollfd pfd{master, POLLIN, 0};
    while (shown.size() < expected.size() && ::poll(&pfd, 1, 2000) > 0) {
        char buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        shown.append(buf, size_t(n));
    }
    ::close(master);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(FileExists(scratch.File("out.avi")));
}

TEST(CliAvi, UsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"avi", "p.grid", "out.avi"},
        {"avi", "p.grid", "--duration", "0", "out.avi"},
        {"avi", "p.grid", "--duration", "-40", "out.avi"},
        {"avi", "p.grid", "--duration", "3s", "out.avi"},
        {"avi", "p.grid", "--duration", "3000"},
        {"avi", "--duration", "3000", "p.grid", "out.avi", "more.avi"},
        {"avi", "p.grid", "--duration", "3000", "--fps", "25", "out.avi"},
        {"avi", "p.grid", "out.avi", "--wav"},
    };
    for (const auto& args : bad) {
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Code, 2) << args.size();
        EXPECT_NE(r.Err.find("Usage: quorvalin-cli avi"), std::string::npos);
    }
}

}  // namespace
}  // namespace qv
