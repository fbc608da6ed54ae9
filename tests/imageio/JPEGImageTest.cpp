// TJPEGImage against files and decodes made by ImageMagick, and on bad input.
#include <gtest/gtest.h>

#include <cstring>

#include "JPEGTestUtil.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/JPEGImage.h"

namespace qv {
namespace {

using testing::DataPath;
using testing::MaxChannelDifference;
using testing::ReadAll;

void LoadJpeg(TJPEGImage& img, const std::vector<uint8_t>& bytes) {
    TMemoryStream s(bytes.data(), int64_t(bytes.size()));
    img.LoadImageStream(s);
}

// Offset of the first marker FF code, or npos.
size_t FindMarker(const std::vector<uint8_t>& d, uint8_t code) {
    for (size_t i = 0; i + 1 < d.size(); ++i)
        if (d[i] == 0xFF && d[i + 1] == code) return i;
    return std::string::npos;
}

class JPEGFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(JPEGFixture, DecodesWithinTwoLevelsOfImageMagick) {
    const std::string name = GetParam();
    TJPEGImage img;
    TFileStream s(DataPath("jpeg/" + name + ".jpg"), fmOpenRead);
    img.LoadImageStream(s);
    auto ppm = testing::ReadPpm(DataPath("jpeg/" + name + ".ppm"));
    EXPECT_EQ(img.PixelFormat(), pf24bit);
    ASSERT_EQ(img.Width(), ppm.Width);
    ASSERT_EQ(img.Height(), ppm.Height);
    EXPECT_LE(MaxChannelDifference(img, ppm), 2) << name;
}

INSTANTIATE_TEST_SUITE_P(ImageMagickFiles, JPEGFixture,
                         ::testing::Values("colour420", "colour444", "progressive", "grey", "cmyk"));

TEST(JPEGImage, GreyFileGivesGreyColourPixels) {
    TJPEGImage img;
    LoadJpeg(img, ReadAll(DataPath("jpeg/grey.jpg")));
    ASSERT_EQ(img.PixelFormat(), pf24bit);
    int distinct = 0;
    TColor last = img.PixelColor(0, 0);
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
            TColor c = img.PixelColor(x, y);
            ASSERT_EQ(GetRValue(c), GetGValue(c));
            ASSERT_EQ(GetGValue(c), GetBValue(c));
            if (c != last) ++distinct;
            last = c;
        }
    EXPECT_GT(distinct, 5);  // really a gradient, not one flat value
}

TEST(JPEGImage, BadInputRaisesAndLeavesRasterUnchanged) {
    const auto good = ReadAll(DataPath("jpeg/colour420.jpg"));
    ASSERT_GT(good.size(), 200u);

    std::vector<std::vector<uint8_t>> bad;
    bad.emplace_back(good.begin(), good.begin() + good.size() / 2);  // truncated in the scan
    bad.emplace_back(good.begin(), good.begin() + 2);                // only the SOI marker
    bad.push_back({});                                               // nothing
    bad.push_back(std::vector<uint8_t>(500, 0x41));                  // not a JPEG
    auto zeroWidth = good;
    size_t sof = FindMarker(zeroWidth, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    zeroWidth[sof + 7] = 0;
    zeroWidth[sof + 8] = 0;
    bad.push_back(zeroWidth);
    auto badTable = good;  // a Huffman table with impossible code counts
    size_t dht = FindMarker(badTable, 0xC4);
    ASSERT_NE(dht, std::string::npos);
    for (int i = 5; i < 21; ++i) badTable[dht + i] = 0xFF;
    bad.push_back(badTable);

    for (size_t i = 0; i < bad.size(); ++i) {
        TJPEGImage img;
        img.SetPixelFormat(pf32bit);
        img.SetSize(5, 4);
        img.SetPixelColor(2, 2, clRed);
        try {
            LoadJpeg(img, bad[i]);
            ADD_FAILURE() << "case " << i << " loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()).rfind("JPEG error: ", 0), 0u) << e.what();
            EXPECT_GT(std::strlen(e.what()), std::strlen("JPEG error: ")) << "case " << i;
        }
        EXPECT_EQ(img.Width(), 5);
        EXPECT_EQ(img.Height(), 4);
        EXPECT_EQ(img.PixelFormat(), pf32bit);
        EXPECT_EQ(img.PixelColor(2, 2), clRed);
    }
}

TEST(JPEGImage, HugeAnnouncedSizeIsRefusedBeforeAllocating) {
    const auto good = ReadAll(DataPath("jpeg/colour420.jpg"));
    size_t sof = FindMarker(good, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    auto withSize = [&](int w, int h) {
        auto d = good;
        d[sof + 5] = uint8_t(h >> 8);
        d[sof + 6] = uint8_t(h);
        d[sof + 7] = uint8_t(w >> 8);
        d[sof + 8] = uint8_t(w);
        return d;
    };
    TJPEGImage img;
    // Beyond the raster limit of 1 GiB.
    EXPECT_THROW(LoadJpeg(img, withSize(60000, 60000)), EInvalidGraphic);
    // Within the raster limit but far more than a file of a few hundred bytes can hold.
    try {
        LoadJpeg(img, withSize(8000, 8000));
        ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("8000 x 8000"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(img.Empty());
}

TEST(JPEGImage, EncodesBaselineQuality90AndDecodesBack) {
    TJPEGImage img;
    testing::FillSmooth(img, 40, 30);
    TMemoryStream out;
    img.SaveImageStream(out);
    const auto& d = out.Data();
    ASSERT_GT(d.size(), 100u);
    EXPECT_EQ(d[0], 0xFF);
    EXPECT_EQ(d[1], 0xD8);
    EXPECT_EQ(d[d.size() - 2], 0xFF);
    EXPECT_EQ(d[d.size() - 1], 0xD9);
    EXPECT_NE(FindMarker(d, 0xC0), std::string::npos);  // baseline frame
    EXPECT_EQ(FindMarker(d, 0xC2), std::string::npos);  // not progressive
    // First luminance quantiser at quality 90: 16 scaled to 20 % = 3.
    size_t dqt = FindMarker(d, 0xDB);
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(d[dqt + 4], 0);  // 8-bit table 0
    EXPECT_EQ(d[dqt + 5], 3);
    // Three components: colour.
    size_t sof = FindMarker(d, 0xC0);
    EXPECT_EQ(d[sof + 9], 3);

    TJPEGImage back;
    out.SetPosition(0);
    back.LoadImageStream(out);
    EXPECT_EQ(back.Width(), 40);
    EXPECT_EQ(back.Height(), 30);
    EXPECT_LE(MaxChannelDifference(img, back), 12);
}

TEST(JPEGImage, OtherPixelFormatsAreWrittenAsColour) {
    for (TPixelFormat pf : {pf8bit, pf16bit, pf32bit}) {
        TJPEGImage img;
        if (pf == pf8bit) {
            TLogPalette pal;
            pal.Entries = {{200, 30, 30, 0}, {30, 200, 30, 0}};
            img.SetPixelFormat(pf8bit);
            img.SetPalette(pal);
            img.SetSize(32, 16);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x) img.SetPixelColor(x, y, x < 16 ? RGBColor(200, 30, 30) : RGBColor(30, 200, 30));
        } else {
            img.SetPixelFormat(pf);
            img.SetSize(32, 16);
            img.Canvas().Brush.Color = RGBColor(40, 80, 200);
            img.Canvas().FillRect(Rect(0, 0, 32, 16));
        }
        TJPEGImage before;
        before.Assign(img);
        TMemoryStream out;
        img.SaveImageStream(out);
        EXPECT_EQ(img.PixelFormat(), pf) << "the raster itself is not converted";
        out.SetPosition(0);
        TJPEGImage back;
        back.LoadImageStream(out);
        ASSERT_EQ(back.Width(), 32);
        ASSERT_EQ(back.Height(), 16);
        // Away from the red/green edge, where chroma smoothing blends by design.
        for (int x : {0, 5, 10, 21, 26, 31})
            for (int y : {0, 7, 15}) {
                TColor a = before.PixelColor(x, y), b = back.PixelColor(x, y);
                EXPECT_NEAR(GetRValue(a), GetRValue(b), 10) << PixelFormatName(pf) << " " << x << "," << y;
                EXPECT_NEAR(GetGValue(a), GetGValue(b), 10) << PixelFormatName(pf) << " " << x << "," << y;
                EXPECT_NEAR(GetBValue(a), GetBValue(b), 10) << PixelFormatName(pf) << " " << x << "," << y;
            }
    }
}

// Accepts a fixed number of bytes, then refuses.
class FullStream : public TMemoryStream {
public:
    explicit FullStream(int64_t room) : FRoom(room) {}
    int64_t Write(const void* buffer, int64_t count) override {
        int64_t n = std::min(count, FRoom);
        FRoom -= n;
        return TMemoryStream::Write(buffer, n);
    }

private:
    int64_t FRoom;
};

TEST(JPEGImage, WriteFailuresAndEmptyPicturesRaise) {
    TJPEGImage img;
    {
        TMemoryStream out;
        EXPECT_THROW(img.SaveImageStream(out), Exception);  // empty picture
        EXPECT_EQ(out.Size(), 0);
    }
    testing::FillSmooth(img, 300, 300);
    FullStream full(100);
    try {
        img.SaveImageStream(full);
        ADD_FAILURE() << "saved into a full stream";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("JPEG error: ", 0), 0u) << e.what();
    }
    EXPECT_THROW(img.SetCompressionQuality(0), EConvertError);
    EXPECT_EQ(img.CompressionQuality(), 90);
}

}  // namespace
}  // namespace qv
