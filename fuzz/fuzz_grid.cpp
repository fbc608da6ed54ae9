// libFuzzer target: the grid-file reader on arbitrary bytes, followed by a render of
// whatever meshes it accepted (hostile meshes reach the warp only through grid files).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"
#include "framework/System.h"
#include "morph/UMorph.h"

namespace {

std::string gFolder;
std::string gGridFile;

void RemoveFolder() {
    std::remove(gGridFile.c_str());
    rmdir(gFolder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // An empty private folder as the current folder: bare picture names find nothing.
    std::string pattern = qv::GetTempPath() + "qv-fuzz-grid-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    gFolder = pattern;
    gGridFile = gFolder + "/input.grid";
    if (!qv::SetCurrentDir(gFolder)) std::abort();
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        FILE* f = std::fopen(gGridFile.c_str(), "wb");
        if (f == nullptr) std::abort();
        if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
        std::fclose(f);
    }
    // The editor's state at start-up.
    qv::TMorphGrid grid;
    grid.SetPictureSize(qv::Point(337, 313));
    grid.SetGridSize(qv::Point(3, 3));
    try {
        grid.LoadGridFile(gGridFile);
    } catch (const qv::Exception&) {
        return 0;
    }
    qv::TBitmap frame;
    frame.SetPixelFormat(qv::pf32bit);
    frame.SetSize(48, 40);
    grid.RenderMorph(frame, size > 0 ? data[size - 1] : 128);
    return 0;
}
