// Every reader, on every cut of a real file: a load that fails leaves the picture exactly
// as it was (size, format, palette, pixels).
#include <gtest/gtest.h>

#include <functional>

#include "TargaTestUtil.h"
#include "imageio/GIFGraphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/PCXGraphic.h"
#include "imageio/PNGGraphic.h"
#include "imageio/PPMGraphic.h"
#include "imageio/PSDGraphic.h"
#include "imageio/SGIGraphic.h"
#include "imageio/TIFFGraphic.h"
#include "imageio/TargaGraphic.h"

namespace qv {
namespace {

using namespace readertest;

struct TCase {
    const char* File;
    std::function<std::unique_ptr<TBitmap>()> Make;
};

template <class T>
std::function<std::unique_ptr<TBitmap>()> Maker() {
    return [] { return std::make_unique<T>(); };
}

// A 4-bit picture with a palette of its own, unlike anything the fixtures give.
void Mark(TBitmap& bmp) {
    bmp.SetPixelFormat(pf4bit);
    bmp.SetPalette(TLogPalette{0x300, std::vector<TPaletteEntry>(16, TPaletteEntry{1, 2, 3, 0})});
    bmp.SetSize(3, 2);
    bmp.ScanLine(1)[0] = 0x5A;
}

bool StillMarked(const TBitmap& bmp) {
    return bmp.Width() == 3 && bmp.Height() == 2 && bmp.PixelFormat() == pf4bit &&
           bmp.Palette().Entries.size() == 16 && bmp.Palette().Entries[5] == (TPaletteEntry{1, 2, 3, 0}) &&
           bmp.ScanLine(1)[0] == 0x5A;
}

TEST(ReaderFailure, FailedLoadsOfCutFilesChangeNothing) {
    const TCase cases[] = {
        {"targa/rgb24.tga", Maker<TTargaGraphic>()},     {"targa/rgb24_rle.tga", Maker<TTargaGraphic>()},
        {"ppm/p6_im.ppm", Maker<TPPMGraphic>()},         {"ppm/p3_im.ppm", Maker<TPPMGraphic>()},
        {"tiff/rgb8_planar.tif", Maker<TTIFFGraphic>()}, {"tiff/pal4.tif", Maker<TTIFFGraphic>()},
        {"pcx/rgba32.pcx", Maker<TPCXGraphic>()},        {"png/rgba16_adam7.png", Maker<TPNGGraphic>()},
        {"png/pal4.png", Maker<TPNGGraphic>()},          {"sgi/rgb8_rle_im.sgi", Maker<TSGIGraphic>()},
        {"psd/rgb8_rle.psd", Maker<TPSDGraphic>()},      {"gif/interlaced.gif", Maker<TGIFGraphic>()},
        {"jpeg/progressive.jpg", Maker<TJPEGImage>()},   {"bmp/rle8.bmp", Maker<TBitmap>()},
    };
    for (const TCase& c : cases) {
        const std::vector<uint8_t> file = ReadAll(DataPath(c.File));
        int failed = 0;
        // About 60 cuts spread over the file, the header's bytes among them.
        const size_t step = std::max<size_t>(1, file.size() / 60);
        for (size_t n = 0; n < file.size(); n += (n < 40 ? 1 : step)) {
            auto picture = c.Make();
            Mark(*picture);
            TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.begin() + ptrdiff_t(n)));
            try {
                picture->LoadImageStream(stream);
                continue;  // readers may show what a cut file holds
            } catch (const Exception&) {
            }
            ++failed;
            if (!StillMarked(*picture)) {
                ADD_FAILURE() << c.File << " cut to " << n << " bytes changed the picture";
                break;
            }
        }
        EXPECT_GT(failed, 0) << c.File << ": no cut failed, so nothing was checked";
    }
}

}  // namespace
}  // namespace qv
