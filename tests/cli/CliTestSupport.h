#pragma once
// Shared by the batch-tool tests: running quorvalin-cli in-process, keeping the test
// program's current folder, and the pictures of a small project in a scratch folder.
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "framework/System.h"
#include "morph/UMorph.h"
#include "video/AviTestUtil.h"

namespace qv::clitest {

struct TRun {
    int Code;
    std::string Out, Err;
};

// The tool's exit code and what it wrote to its output and error streams.
inline TRun RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

// As RunTool, with standard error caught into Err too: notes about a project go there, as
// the progress does.
inline TRun RunToolWithStderr(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
    const int code = RunCli(args, out, err);
    std::cerr.rdbuf(saved);
    return {code, out.str(), err.str()};
}

// Keeps the current folder of the test program.
class TFolderGuard {
public:
    TFolderGuard() : FSaved(GetCurrentDir()) {}
    ~TFolderGuard() { SetCurrentDir(FSaved); }
    TFolderGuard(const TFolderGuard&) = delete;
    TFolderGuard& operator=(const TFolderGuard&) = delete;

private:
    std::string FSaved;
};

// proj/s.bmp and proj/e.bmp under the scratch folder: width x height patterns from the two
// seeds, stored in `format`; both are loaded into `grid`, which the caller may change and
// saves as proj/p.grid.
inline void MakeProjectPictures(const qvtest::TScratch& scratch, int32_t width, int32_t height, int startSeed,
                                int endSeed, TMorphGrid& grid, TPixelFormat format = pf32bit) {
    std::filesystem::create_directory(scratch.File("proj"));
    TBitmap start, end;
    qvtest::FillPattern(start, width, height, startSeed);
    qvtest::FillPattern(end, width, height, endSeed);
    start.SetPixelFormat(format);
    end.SetPixelFormat(format);
    start.SaveImageFile(scratch.File("proj/s.bmp"));
    end.SaveImageFile(scratch.File("proj/e.bmp"));
    grid.LoadStartPicture(scratch.File("proj/s.bmp"));
    grid.LoadEndPicture(scratch.File("proj/e.bmp"));
}

}  // namespace qv::clitest
