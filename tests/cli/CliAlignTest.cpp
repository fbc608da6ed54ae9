// quorvalin-cli match and facegrid on projects of photographs: the saved project, and
// failures that say why and write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "align/Align.h"
#include "align/SyntheticWarp.h"
#include "cli/Cli.h"
#include "imageio/GenericGraphic.h"
#include "imageio/GenericTestUtil.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using qv::testing::TempFolder;
using qv::testing::TSyntheticWarp;

struct TResult {
    int Code;
    std::string Out, Err;
};

TResult RunAlignTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    // Remarks go to the process's standard error; catch them too.
    std::stringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    const int code = RunCli(args, out, err);
    std::cerr.rdbuf(old);
    return {code, out.str(), captured.str() + err.str()};
}

void SaveFixtureAsBmp(const std::string& name, const std::string& to, TBitmap* keep = nullptr) {
    TGenericGraphic g;
    g.LoadImageFile(std::string(QV_TEST_DATA_DIR) + "/align/" + name);
    g.SaveImageFile(to);
    if (keep != nullptr) keep->Assign(g);
}

// A project of the two pictures with an even Cols x Rows grid.
void SaveProject(const std::string& start, const std::string& end, const std::string& grid, int32_t n = 5) {
    TMorphGrid g;
    g.LoadStartPicture(start);
    g.LoadEndPicture(end);
    g.SetGridSize({n, n});
    g.SaveGridFile(grid);
}

TEST(CliAlign, MatchAndFaceGridSaveTheNewProject) {
    TempFolder dir;
    TBitmap cat, warped;
    SaveFixtureAsBmp("chelsea.jpg", dir / "cat.bmp", &cat);
    const TSyntheticWarp warp = TSyntheticWarp::Make(256, 256, 12, 4);
    warp.Render(cat, warped);
    warped.SetPixelFormat(pf24bit);
    warped.SaveImageFile(dir / "cat2.bmp");
    SaveProject(dir / "cat.bmp", dir / "cat2.bmp", dir / "cat.grid");

    TResult r = RunAlignTool({"match", dir / "cat.grid", dir / "matched.grid", "--mode", "similar"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    TMorphGrid m;
    m.LoadGridFile(dir / "matched.grid");
    EXPECT_EQ(m.Cols, 5);
    EXPECT_EQ(m.StartFileName, dir / "cat.bmp");
    for (size_t i = 1; i < 4; ++i)
        for (size_t j = 1; j < 4; ++j) {
            const TPointD truth = warp.Forward({double(m.StartMesh[i][j].X), double(m.StartMesh[i][j].Y)});
            EXPECT_LE(std::hypot(m.EndMesh[i][j].X - truth.X, m.EndMesh[i][j].Y - truth.Y), 3.0) << i << "," << j;
        }

    SaveFixtureAsBmp("astronaut-face.jpg", dir / "a.bmp");
    SaveFixtureAsBmp("hopper-face.jpg", dir / "h.bmp");
    SaveProject(dir / "a.bmp", dir / "h.bmp", dir / "faces.grid");
    r = RunAlignTool({"facegrid", dir / "faces.grid", dir / "fg.grid"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    TMorphGrid f;
    f.LoadGridFile(dir / "fg.grid");
    EXPECT_GE(f.Cols, 9);
    EXPECT_GE(f.Rows, 7);
    r = RunAlignTool({"match", dir / "faces.grid", dir / "fm.grid"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "One face in each picture: matched as faces.\n");
    r = RunAlignTool({"match", dir / "cat.grid", dir / "auto.grid"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "No face found: matched as similar pictures.\n");

    // No face: here, while the model is loaded.
    const std::vector<std::string> noFace[] = {
        {"match", dir / "cat.grid", dir / "out.grid", "--mode=faces"},
        {"facegrid", dir / "cat.grid", dir / "out.grid", "--model", DefaultFaceModelFile()}};
    for (const auto& args : noFace) {
        r = RunAlignTool(args);
        EXPECT_EQ(r.Code, 1) << args[0];
        EXPECT_EQ(r.Err, "No face found in the start picture.\n") << args[0];
        EXPECT_FALSE(std::filesystem::exists(dir / "out.grid")) << args[0];
    }
}

TEST(CliAlign, FailuresSayWhyAndWriteNothing) {
    TempFolder dir;
    TBitmap grey;
    grey.SetPixelFormat(pf24bit);
    grey.SetSize(64, 48);
    grey.SaveImageFile(dir / "white.bmp");
    SaveProject(dir / "white.bmp", dir / "white.bmp", dir / "flat.grid");
    SaveFixtureAsBmp("chelsea.jpg", dir / "cat.bmp");
    SaveProject(dir / "cat.bmp", dir / "cat.bmp", dir / "cat.grid");
    struct TCase {
        std::vector<std::string> Args;
        int Code;
        const char* Message;
    };
    const TCase cases[] = {
        {{"match", dir / "flat.grid", dir / "out.grid", "--mode", "similar"}, 1, "No reliable match"},
        {{"match", dir / "cat.grid", dir / "out.grid", "--mode=faces", "--model", dir / "none.dat"}, 1, "cannot be read"},
        {{"match", dir / "missing.grid", dir / "out.grid"}, 1, "missing.grid"},
        {{"match", dir / "cat.grid", dir / "out.grid", "--mode", "eyes"}, 2, "auto, faces or similar, not 'eyes'"},
        {{"facegrid", dir / "cat.grid", dir / "out.grid", "--mode", "faces"}, 2, "unknown option --mode"},
        {{"match", dir / "cat.grid"}, 2, "expected PROJECT.grid and OUT.grid, got 1 argument"},
    };
    for (const TCase& c : cases) {
        const TResult r = RunAlignTool(c.Args);
        EXPECT_EQ(r.Code, c.Code) << c.Args[0] << " " << c.Args.back();
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.grid")) << c.Message;
    }
}

}  // namespace
}  // namespace qv
