// Loading straight into a 32-bit raster must give what loading and then converting gives,
// for every kind of bitmap file (the widened 24-bit rows and the converted rest), and fail
// the same way on a cut file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "BmpTestSupport.h"
#include "framework/Exceptions.h"

namespace qv {
namespace {

using namespace bmptest;

// The loaded raster, or the failure's message.
struct TOutcome {
    std::optional<std::string> Error;
    TBitmap Picture;
};

void LoadTwoStep(const std::vector<uint8_t>& bytes, TOutcome& o) {
    try {
        LoadBytes(o.Picture, bytes);
        o.Picture.SetPixelFormat(pf32bit);
    } catch (const std::exception& e) {
        o.Error = e.what();
    }
}

void LoadWidened(const std::vector<uint8_t>& bytes, TOutcome& o) {
    try {
        TMemoryStream s(bytes);
        o.Picture.LoadImageStreamAs32(s);
    } catch (const std::exception& e) {
        o.Error = e.what();
    }
}

void ExpectSameAs(const std::vector<uint8_t>& bytes, bool fast) {
    TOutcome a, b;
    SetFastRowConversions(false);
    LoadTwoStep(bytes, a);
    SetFastRowConversions(fast);
    LoadWidened(bytes, b);
    SetFastRowConversions(true);
    ASSERT_EQ(a.Error, b.Error);
    if (a.Error) return;
    ASSERT_EQ(b.Picture.PixelFormat(), pf32bit);
    ASSERT_EQ(a.Picture.Width(), b.Picture.Width());
    ASSERT_EQ(a.Picture.Height(), b.Picture.Height());
    EXPECT_EQ(a.Picture.Palette().Entries.size(), b.Picture.Palette().Entries.size());
    int badRows = 0;
    for (int32_t y = 0; y < a.Picture.Height(); ++y)
        if (std::memcmp(a.Picture.ScanLine(y), b.Picture.ScanLine(y), size_t(a.Picture.Width()) * 4) != 0) ++badRows;
    EXPECT_EQ(badRows, 0);
}

// Against the pixel-by-pixel conversion; the widened load with its fast rows and without.
void ExpectSame(const std::vector<uint8_t>& bytes) {
    for (bool fast : {true, false}) {
        SCOPED_TRACE(fast ? "fast rows" : "plain rows");
        ExpectSameAs(bytes, fast);
    }
}

TEST(BmpLoadAs32, EveryFixtureAsLoadThenConvert) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(DataPath(""))) {
        if (entry.path().extension() != ".bmp") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ExpectSame(ReadFileBytes(entry.path().string()));
        ++files;
    }
    EXPECT_GT(files, 20);
}

// Random 24-bit pictures at widths with every row padding, bottom-up and top-down, some
// taller than one block of rows; and the same files cut short.
TEST(BmpLoadAs32, RandomTrueColourFilesWholeAndCut) {
    std::mt19937 rng(17);
    for (auto [width, height] : {std::pair{1, 1}, {2, 3}, {3, 7}, {5, 2}, {6, 3}, {7, 2}, {9, 4}, {1921, 140}, {4000, 90}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        TBitmap src;
        src.SetPixelFormat(pf24bit);
        src.SetSize(width, height);
        for (int y = 0; y < height; ++y)
            for (int i = 0; i < width * 3; ++i) src.ScanLine(y)[i] = uint8_t(rng());
        std::vector<uint8_t> file = SaveBytes(src);
        ExpectSame(file);
        std::vector<uint8_t> topDown = file;
        SetU32(topDown, 22, uint32_t(-height));
        ExpectSame(topDown);
        std::vector<uint8_t> cut(file.begin(), file.end() - 1);
        ExpectSame(cut);
        TOutcome c;
        LoadWidened(cut, c);
        EXPECT_TRUE(c.Error.has_value());
    }
}

}  // namespace
}  // namespace qv
