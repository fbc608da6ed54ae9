// quorvalin-cli: argument handling in-process, and the built executable end to end.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "framework/System.h"
#include "imageio/GenericGraphic.h"
#include "imageio/GenericTestUtil.h"
#include "imageio/JPEGTestUtil.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using testing::DataPath;
using testing::ReadAll;
using testing::TempFolder;

struct Result {
    int Code;
    std::string Out, Err;
};

Result RunTool(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

std::string ReadText(const std::string& path) {
    auto bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(CliArguments, HelpForTheToolAndEveryCommand) {
    Result r = RunTool({"--help"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Err.empty());
    for (const TCliCommand& c : CliCommands()) {
        EXPECT_TRUE(Contains(r.Out, "  " + std::string(c.Name))) << c.Name;
        Result h = RunTool({std::string(c.Name), "--help"});
        EXPECT_EQ(h.Code, 0) << c.Name;
        EXPECT_EQ(h.Out, c.Help);
        Result h2 = RunTool({std::string(c.Name), "a", "-h"});
        EXPECT_EQ(h2.Code, 0) << c.Name;
    }
    EXPECT_EQ(RunTool({"-h"}).Code, 0);
}

TEST(CliArguments, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"convert", "only-one.bmp"},
        {"convert", "a.bmp", "b.bmp", "c.bmp"},
        {"info"},
        {"info", "--verbose", "x.bmp"},
        {"render", "p.grid", "out.bmp"},
        {"render", "p.grid", "--position", "abc", "out.bmp"},
        {"render", "p.grid", "--position", "257", "out.bmp"},
        {"render", "p.grid", "--position", "-1", "out.bmp"},
        {"render", "p.grid", "--position", "12x", "out.bmp"},
        {"render", "p.grid", "--position=", "out.bmp"},
        {"render", "p.grid", "out.bmp", "--position"},
        {"render", "p.grid", "--position", "5"},
    };
    for (const auto& args : bad) {
        Result r = RunTool(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.Code, 2) << joined;
        EXPECT_FALSE(r.Err.empty()) << joined;
        EXPECT_TRUE(r.Out.empty()) << joined;
    }
    EXPECT_TRUE(Contains(RunTool({"render", "p.grid", "--position", "257", "o.bmp"}).Err, "from 0 to 256"));
}

TEST(CliConvertAndInfo, ConvertsByExtensionAndReportsFailures) {
    TempFolder dir;
    Result r = RunTool({"convert", DataPath("generic/rgb24.bmp"), dir / "copy.jpg"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    auto jpg = ReadAll(dir / "copy.jpg");
    ASSERT_GT(jpg.size(), 2u);
    EXPECT_EQ(jpg[0], 0xFF);
    EXPECT_EQ(jpg[1], 0xD8);

    r = RunTool({"convert", DataPath("generic/rgb24.bmp"), dir / "copy.xyz"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "Unknown picture file type: .xyz\n");
    EXPECT_FALSE(FileExists(dir / "copy.xyz"));

    // PNG both ways, and a format that is only read is refused without a file.
    r = RunTool({"convert", DataPath("generic/rgb24.bmp"), dir / "copy.png"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    r = RunTool({"info", dir / "copy.png"});
    EXPECT_EQ(r.Out, "file: " + (dir / "copy.png") +
                         "\nclass: TPNGGraphic\nwidth: 7\nheight: 5\npixel format: pf24bit\npalette entries: 0\n");
    r = RunTool({"convert", dir / "copy.png", dir / "copy.gif"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "Cannot save pictures as .gif files\n");
    EXPECT_FALSE(FileExists(dir / "copy.gif"));

    r = RunTool({"convert", dir / "absent.bmp", dir / "x.bmp"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "absent.bmp")) << r.Err;

    r = RunTool({"info", dir / "copy.jpg"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "file: " + (dir / "copy.jpg") +
                         "\nclass: TJPEGImage\nwidth: 7\nheight: 5\npixel format: pf24bit\npalette entries: 0\n");
    r = RunTool({"info", DataPath("generic/pal.bmp")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "class: TBitmap\nwidth: 9\nheight: 6\npixel format: pf4bit\npalette entries: 16\n"))
        << r.Out;
}

// A project in dir/proj: two 40 x 30 pictures (start red, end blue) and p.grid, saved
// with the paths of a folder that no longer exists, so the pictures are found by name.
void MakeProject(const TempFolder& dir) {
    std::filesystem::create_directory(dir / "proj");
    for (auto [name, colour] : {std::pair{"s.bmp", RGBColor(200, 0, 0)}, std::pair{"e.bmp", RGBColor(0, 0, 200)}}) {
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(40, 30);
        b.Canvas().Brush.Color = colour;
        b.Canvas().FillRect(Rect(0, 0, 40, 30));
        b.SaveImageFile(dir / ("proj/" + std::string(name)));
    }
    TMorphGrid g;
    g.LoadStartPicture(dir / "proj/s.bmp");
    g.LoadEndPicture(dir / "proj/e.bmp");
    g.StartFileName = "/gone/away/s.bmp";
    g.EndFileName = "/gone/away/e.bmp";
    g.SaveGridFile(dir / "proj/p.grid");
}

TEST(CliRender, AProjectWithAMissingPictureFailsAndWritesNothing) {
    TempFolder dir;
    testing::CurrentFolderGuard keep;
    MakeProject(dir);
    ASSERT_TRUE(DeleteFile(dir / "proj/e.bmp"));
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    const std::vector<std::vector<std::string>> commands = {
        {"render", "proj/p.grid", "--position", "128", "out.bmp"},
        {"avi", "proj/p.grid", "--duration", "200", "out.avi"},
    };
    for (const auto& command : commands) {
        Result r = RunTool(command);
        EXPECT_EQ(r.Code, 1) << command[0];
        EXPECT_NE(r.Err.find("\"/gone/away/e.bmp\" was not found"), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find((dir / "proj/e.bmp")), std::string::npos) << r.Err;
        EXPECT_FALSE(FileExists(dir / command.back())) << command[0];
    }
}

TEST(CliRender, RendersFromTheProjectFolderAndWritesRelativeToTheStart) {
    TempFolder dir;
    testing::CurrentFolderGuard keep;
    MakeProject(dir);
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    for (auto [position, expected] : {std::pair{"0", RGBColor(200, 0, 0)}, std::pair{"256", RGBColor(0, 0, 200)}}) {
        const std::string out = std::string("out") + position + ".bmp";
        Result r = RunTool({"render", "proj/p.grid", "--position", position, out});
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(GetCurrentDir(), dir.Path()) << "the current folder is restored";
        ASSERT_TRUE(FileExists(dir / out));
        EXPECT_FALSE(FileExists(dir / ("proj/" + out)));
        TGenericGraphic g;
        g.LoadImageFile(dir / out);
        EXPECT_EQ(g.Width(), 40);
        EXPECT_EQ(g.Height(), 30);
        EXPECT_EQ(g.PixelColor(20, 15) & 0xFFFFFF, expected) << position;
        EXPECT_EQ(g.PixelColor(1, 1) & 0xFFFFFF, expected) << position;
    }
    Result r = RunTool({"render", "--position=128", "proj/p.grid", "mid.bmp"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    TGenericGraphic mid;
    mid.LoadImageFile(dir / "mid.bmp");
    TColor c = mid.PixelColor(20, 15);
    EXPECT_NEAR(GetRValue(c), 100, 2);
    EXPECT_NEAR(GetBValue(c), 100, 2);

    r = RunTool({"render", "proj/none.grid", "--position", "0", "x.bmp"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "none.grid")) << r.Err;
    EXPECT_FALSE(FileExists(dir / "x.bmp"));
}

// The executable itself: exit codes, stderr and the files it writes.
class CliExecutable : public ::testing::Test {
protected:
    void SetUp() override {
        exe = std::string(QV_BINARY_DIR) + "/cli/quorvalin-cli";
        // The build makes the executable before this test program.
        ASSERT_TRUE(FileExists(exe)) << "no executable at " << exe;
    }
    int Shell(const std::string& cmd) {
        int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Quote(const std::string& s) { return "'" + s + "'"; }
    std::string exe;
};

TEST_F(CliExecutable, EndToEndOnASmallProject) {
    TempFolder dir;
    MakeProject(dir);
    const std::string cd = "cd " + Quote(dir.Path()) + " && ";
    EXPECT_EQ(Shell(cd + Quote(exe) + " --help > help.txt"), 0);
    EXPECT_TRUE(Contains(ReadText(dir / "help.txt"), "render"));
    EXPECT_EQ(Shell(cd + Quote(exe) + " 2> usage.txt"), 2);
    EXPECT_FALSE(ReadAll(dir / "usage.txt").empty());

    EXPECT_EQ(Shell(cd + Quote(exe) + " render proj/p.grid --position 0 frame.jpg 2> err.txt"), 0);
    EXPECT_TRUE(ReadAll(dir / "err.txt").empty());
    TGenericGraphic frame;
    frame.LoadImageFile(dir / "frame.jpg");
    EXPECT_EQ(frame.Width(), 40);
    TColor c = frame.PixelColor(20, 15);
    EXPECT_NEAR(GetRValue(c), 200, 4);
    EXPECT_NEAR(GetBValue(c), 0, 4);

    EXPECT_EQ(Shell(cd + Quote(exe) + " convert frame.jpg frame.xyz 2> err.txt"), 1);
    EXPECT_EQ(ReadText(dir / "err.txt"), "Unknown picture file type: .xyz\n");
    EXPECT_FALSE(FileExists(dir / "frame.xyz"));
    EXPECT_EQ(Shell(cd + Quote(exe) + " info frame.jpg > info.txt"), 0);
    EXPECT_TRUE(Contains(ReadText(dir / "info.txt"), "class: TJPEGImage\nwidth: 40\nheight: 30\n"));
}

// video, match and facegrid run in quorvalin-cli-media, which the quick tool becomes: the
// user still sees one program with its arguments, output and exit status; the quick tool
// itself loads none of the heavy libraries; a missing media tool is a clear failure.
TEST_F(CliExecutable, MediaCommandsRunInTheMediaTool) {
    TempFolder dir;
    MakeProject(dir);
    const std::string cd = "cd " + Quote(dir.Path()) + " && ";
    EXPECT_EQ(Shell(cd + Quote(exe) + " video proj/p.grid --duration 200 --fps 10 m.gif 2> err.txt"), 0)
        << ReadText(dir / "err.txt");
    TGenericGraphic first;
    first.LoadImageFile(dir / "m.gif");
    EXPECT_EQ(first.Width(), 40);
    EXPECT_EQ(Shell(cd + Quote(exe) + " match proj/none.grid o.grid 2> err.txt"), 1);
    EXPECT_TRUE(Contains(ReadText(dir / "err.txt"), "none.grid")) << ReadText(dir / "err.txt");
    EXPECT_EQ(Shell(cd + Quote(exe) + " facegrid --frobnicate 2> err.txt"), 2);
    EXPECT_TRUE(Contains(ReadText(dir / "err.txt"), "Usage: quorvalin-cli facegrid"));

    EXPECT_EQ(Shell(cd + "readelf -d " + Quote(exe) + " > needed.txt"), 0);
    const std::string needed = ReadText(dir / "needed.txt");
    EXPECT_TRUE(Contains(needed, "libpng")) << needed;
    for (const char* heavy : {"libav", "libsw", "opencv", "dlib"}) EXPECT_FALSE(Contains(needed, heavy)) << needed;

    std::filesystem::copy_file(exe, dir / "alone");
    std::filesystem::permissions(dir / "alone", std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    EXPECT_EQ(Shell(cd + "./alone match proj/p.grid o.grid 2> err.txt"), 1);
    EXPECT_TRUE(Contains(ReadText(dir / "err.txt"), "The match command needs quorvalin-cli-media"))
        << ReadText(dir / "err.txt");
    EXPECT_FALSE(FileExists(dir / "o.grid"));
}

}  // namespace
}  // namespace qv
