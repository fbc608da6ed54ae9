// quorvalin-cli video: the options reach the export, failures exit 1 leaving nothing, and
// mistakes in the command line exit 2.
#include <gtest/gtest.h>

#include "cli/CliTestSupport.h"

namespace qv {
namespace {

using namespace qvtest;
using namespace clitest;

// proj/p.grid with two 45 x 31 pictures beside it.
void MakeProject(const TScratch& scratch) {
    TMorphGrid g;
    MakeProjectPictures(scratch, 45, 31, 2, 11, g);
    g.SaveGridFile(scratch.File("proj/p.grid"));
}

TEST(CliVideo, OptionsFailuresAndUsage) {
    ASSERT_TRUE(HaveTool("ffprobe"));
    TScratch scratch;
    TFolderGuard keep;
    MakeProject(scratch);
    ASSERT_TRUE(SetCurrentDir(scratch.Root()));
    WriteFileBytes(scratch.File("s.wav"), Riff({{"fmt ", PcmFmt(2, 22050, 16)}, {"data", Ramp(22050 * 4)}}));
    WriteFileBytes(scratch.File("u.wav"), Riff({{"fmt ", PcmFmt(1, 8000, 16, 3)}, {"data", Ramp(800)}}));

    // Options as given: frames = duration x fps (there and back with --pingpong), sound.
    struct Good {
        std::vector<std::string> args;
        const char* file;
        const char* frames;
        const char* rate;
        size_t streams;
    };
    const Good good[] = {
        {{"proj/p.grid", "--duration", "1000", "--fps", "12", "a.mp4"}, "a.mp4", "12", "12/1", 1},
        {{"--pingpong", "proj/p.grid", "--duration=400", "--quality", "40", "--wav", "s.wav", "b.webm"},
         "b.webm", "18", "25/1", 2},
        {{"proj/p.grid", "--duration", "200", "--pingpong", "c.gif"}, "c.gif", "8", "25/1", 1},
        {{"proj/p.grid", "--duration", "200", "--wav", "s.wav", "d.avi"}, "d.avi", "5", "25/1", 2},
    };
    for (const Good& g : good) {
        std::vector<std::string> args = {"video"};
        args.insert(args.end(), g.args.begin(), g.args.end());
        const TRun r = RunTool(args);
        ASSERT_EQ(r.Code, 0) << g.file << ": " << r.Err;
        EXPECT_EQ(r.Err, "");  // no progress when standard error is not a terminal
        const auto streams = Probe(scratch.File(g.file));
        ASSERT_EQ(streams.size(), g.streams) << g.file;
        EXPECT_EQ(streams[0].at("nb_read_frames"), g.frames) << g.file;
        EXPECT_EQ(streams[0].at("r_frame_rate"), g.rate) << g.file;
        EXPECT_EQ(streams[0].at("width"), g.file[2] == 'g' || g.file[2] == 'a' ? "45" : "46") << g.file;
    }

    // Failures: exit 1, the message, nothing new and the old file as it was.
    struct Bad {
        std::vector<std::string> args;
        const char* message;
    };
    const Bad bad[] = {
        {{"proj/p.grid", "--duration", "0", "old.mp4"}, "The duration must be from 1"},
        {{"proj/p.grid", "--duration", "500", "--fps", "500", "old.mp4"}, "The frame rate must be from 1 to 120"},
        {{"proj/p.grid", "--duration", "500", "old.mkv"}, "must end in .mp4, .webm, .gif or .avi"},
        {{"proj/p.grid", "--duration", "500", "--wav", "none.wav", "old.mp4"}, "does not exist"},
        {{"proj/p.grid", "--duration", "500", "--wav", "u.wav", "old.webm"}, "is not a PCM WAV file"},
        {{"proj/none.grid", "--duration", "500", "old.mp4"}, "none.grid"},
        {{"proj/p.grid", "--duration", "500", "nofolder/old.mp4"}, "Cannot create file"},
    };
    for (const Bad& b : bad) {
        std::vector<std::string> args = {"video"};
        args.insert(args.end(), b.args.begin(), b.args.end());
        const std::string target = scratch.File(args.back());
        WriteFileBytes(scratch.File("old.mp4"), {'o', 'l', 'd'});
        const auto before = TScratch::Entries(scratch.Root());
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Code, 1) << args.back();
        EXPECT_NE(r.Err.find(b.message), std::string::npos) << r.Err;
        EXPECT_EQ(TScratch::Entries(scratch.Root()), before);
        EXPECT_EQ(ReadFileBytes(scratch.File("old.mp4")), std::vector<uint8_t>({'o', 'l', 'd'}));
    }

    // Mistakes in the command line: exit 2 with the command's usage.
    const std::vector<std::vector<std::string>> usage = {
        {"video", "proj/p.grid", "out.mp4"},
        {"video", "proj/p.grid", "--duration", "-5", "out.mp4"},
        {"video", "proj/p.grid", "--duration", "500", "--fps", "x", "out.mp4"},
        {"video", "proj/p.grid", "--duration", "500", "--loop", "out.mp4"},
        {"video", "proj/p.grid", "--duration", "500"},
    };
    for (const auto& args : usage) {
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Code, 2) << args.size();
        EXPECT_NE(r.Err.find("Usage: quorvalin-cli video"), std::string::npos) << r.Err;
    }
    EXPECT_TRUE(TScratch::Entries(scratch.TmpDir()).empty());
}

}  // namespace
}  // namespace qv
