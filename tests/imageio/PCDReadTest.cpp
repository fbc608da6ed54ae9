// Photo-CD reader on image packs built from the byte layout: the YCC conversion, chroma
// up-sampling, the four orientations, packs inside larger streams, the smaller
// resolutions and damaged packs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "TargaTestUtil.h"
#include "imageio/PCDGraphic.h"

namespace qv {
namespace {

using namespace readertest;

constexpr size_t kBase = 196608;  // image data of the 768 x 512 resolution
constexpr int W = 768, H = 512;
constexpr size_t kPair = 3 * W;

struct Pack {
    std::vector<uint8_t> Bytes = std::vector<uint8_t>(kBase + kPair * H / 2, 0);
    Pack(uint8_t orientation = 0) {
        std::memcpy(&Bytes[2048], "PCD_IPI", 7);
        Bytes[194635] = orientation;
    }
    uint8_t& Luma(int x, int y) { return Bytes[kBase + size_t(y / 2) * kPair + size_t(y % 2) * W + size_t(x)]; }
    uint8_t& C1(int pair, int i) { return Bytes[kBase + size_t(pair) * kPair + 2 * W + size_t(i)]; }
    uint8_t& C2(int pair, int i) { return Bytes[kBase + size_t(pair) * kPair + 2 * W + W / 2 + size_t(i)]; }
    void Fill(uint8_t y, uint8_t c1, uint8_t c2) {
        for (int pair = 0; pair < H / 2; ++pair) {
            for (int x = 0; x < W; ++x) Luma(x, 2 * pair) = Luma(x, 2 * pair + 1) = y;
            for (int i = 0; i < W / 2; ++i) {
                C1(pair, i) = c1;
                C2(pair, i) = c2;
            }
        }
    }
};

TEST(PCDRead, NeutralChromaGivesGreyLevels) {
    Pack black;
    black.Fill(0, 156, 137);
    auto pcd = LoadBytes<TPCDGraphic>(black.Bytes);
    ASSERT_EQ(pcd->PixelFormat(), pf24bit);
    ASSERT_EQ(pcd->Width(), 768);
    ASSERT_EQ(pcd->Height(), 512);
    EXPECT_EQ(pcd->PixelColor(0, 0), clBlack);
    EXPECT_EQ(pcd->PixelColor(767, 511), clBlack);

    Pack light;
    light.Fill(188, 156, 137);  // 1.3584 x 188 = 255.4
    pcd = LoadBytes<TPCDGraphic>(light.Bytes);
    EXPECT_EQ(pcd->PixelColor(400, 300), clWhite);

    Pack red;
    red.Fill(255, 156, 255);  // far from the offset: limited to 255
    pcd = LoadBytes<TPCDGraphic>(red.Bytes);
    EXPECT_EQ(GetRValue(pcd->PixelColor(10, 10)), 255);
}

TEST(PCDRead, ChromaIsUpSampledWithinAndBetweenPairs) {
    Pack p;
    p.Fill(100, 156, 137);
    p.C1(0, 0) = 166;  // a = 10
    p.C1(0, 1) = 176;
    p.C1(1, 0) = 186;
    p.C1(1, 1) = 196;
    p.C1(0, 383) = 176;  // the last sample of a row is repeated past its end
    const int last = H / 2 - 1;
    p.C1(last, 0) = 166;
    auto pcd = LoadBytes<TPCDGraphic>(p.Bytes);
    // Y = 100: red 135.84 -> 136 throughout (b = 0); blue = 135.84 + 2.2179 a,
    // green = 135.84 - 0.4302726 a, a being the up-sampled channel 1 minus 156.
    EXPECT_EQ(pcd->PixelColor(0, 0), RGBColor(136, 132, 158));    // a = 10
    EXPECT_EQ(pcd->PixelColor(1, 0), RGBColor(136, 129, 169));    // (166 + 176) / 2: a = 15
    EXPECT_EQ(pcd->PixelColor(0, 1), RGBColor(136, 127, 180));    // (166 + 186) / 2: a = 20
    EXPECT_EQ(pcd->PixelColor(1, 1), RGBColor(136, 125, 191));    // (166+176+186+196) / 4: a = 25
    EXPECT_EQ(pcd->PixelColor(767, 0), RGBColor(136, 127, 180));  // (176 + 176) / 2
    // The last pair interpolates with its own chroma: row 511 as row 510.
    EXPECT_EQ(pcd->PixelColor(0, 511), RGBColor(136, 132, 158));
    EXPECT_EQ(pcd->PixelColor(0, 510), RGBColor(136, 132, 158));
}

TEST(PCDRead, OrientationsTurnAndFlipThePicture) {
    auto value = [](int x, int y) { return uint8_t((x * 3 + y * 5) % 120); };
    auto shown = [](uint8_t y) { return uint8_t(std::lround(1.3584 * y)); };
    for (uint8_t o : {0, 1, 2, 3, 4, 0xFE}) {
        SCOPED_TRACE(int(o));
        Pack p(o);
        p.Fill(0, 156, 137);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) p.Luma(x, y) = value(x, y);
        auto pcd = LoadBytes<TPCDGraphic>(p.Bytes);
        const int turn = o & 3;
        const bool turned = turn == 1 || turn == 3;
        ASSERT_EQ(pcd->Width(), turned ? H : W);
        ASSERT_EQ(pcd->Height(), turned ? W : H);
        for (auto [x, y] : {std::pair{5, 7}, std::pair{767, 0}, std::pair{0, 511}, std::pair{100, 200}, std::pair{766, 510}}) {
            int col = x, row = y;
            if (turn == 1) col = y, row = W - 1 - x;
            if (turn == 2) row = H - 1 - y;
            if (turn == 3) col = y, row = x;
            EXPECT_EQ(GetRValue(pcd->PixelColor(col, row)), shown(value(x, y))) << x << "," << y;
        }
    }
}

TEST(PCDRead, PackInsideALargerStreamAndSmallerResolutions) {
    Pack p;
    p.Fill(188, 156, 137);
    p.Luma(3, 4) = 0;
    std::vector<uint8_t> data;
    data.reserve(1000 + p.Bytes.size());
    data.assign(1000, 0xAA);
    data.insert(data.end(), p.Bytes.begin(), p.Bytes.end());
    TMemoryStream stream(data);
    stream.SetPosition(1000);
    TPCDGraphic pcd;
    pcd.LoadImageStream(stream);
    EXPECT_EQ(pcd.PixelColor(3, 4), RGBColor(0, 0, 0));  // chroma neutral: 1.3584 x 0
    EXPECT_EQ(pcd.PixelColor(4, 4), clWhite);

    // Resolution 0 reads the 192 x 128 picture at offset 8192.
    std::vector<uint8_t> small(8192 + 3 * 192 * 64, 0);
    std::memcpy(&small[2048], "PCD_IPI", 7);
    for (size_t pair = 0; pair < 64; ++pair) {
        std::fill_n(&small[8192 + pair * 576], 384, uint8_t(188));
        std::fill_n(&small[8192 + pair * 576 + 384], 96, uint8_t(156));
        std::fill_n(&small[8192 + pair * 576 + 480], 96, uint8_t(137));
    }
    small.resize(194636, 0);  // room for the orientation byte
    TPCDGraphic low;
    low.SetResolution(0);
    TMemoryStream s(small);
    low.LoadImageStream(s);
    EXPECT_EQ(low.Width(), 192);
    EXPECT_EQ(low.Height(), 128);
    EXPECT_EQ(low.PixelColor(191, 127), clWhite);
}

TEST(PCDRead, FailuresAndNoWriting) {
    Pack p;
    p.Fill(188, 156, 137);
    TPCDGraphic pcd;
    EXPECT_EQ(pcd.Resolution(), 2);
    {
        std::vector<uint8_t> bad = p.Bytes;
        bad[2048 + 6] = 'i';
        EXPECT_EQ(LoadError<TPCDGraphic>(bad), "PCD: wrong image format.");
    }
    EXPECT_EQ(LoadError<TPCDGraphic>(std::vector<uint8_t>(p.Bytes.begin(), p.Bytes.end() - 1)),
              "Erreur de lecture du flux");
    EXPECT_THROW(LoadBytes<TPCDGraphic>(std::vector<uint8_t>(2050, 0)), EReadError);
    pcd.SetResolution(3);
    TMemoryStream s(p.Bytes);
    try {
        pcd.LoadImageStream(s);
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "PCD: image size currently not supported");
    }
    pcd.SetResolution(2);
    s.SetPosition(0);
    pcd.LoadImageStream(s);
    TMemoryStream out;
    pcd.SaveImageStream(out);
    EXPECT_EQ(out.Size(), 0);
}

TEST(PCDRead, DamagedPacksFailCleanly) {
    Pack p;
    p.Fill(90, 150, 140);
    for (size_t n : {size_t(0), size_t(2047), size_t(2054), size_t(2055), size_t(194635), size_t(194636), kBase,
                     kBase + 5000, p.Bytes.size() - 1})
        LoadsOrFailsCleanly<TPCDGraphic>(std::vector<uint8_t>(p.Bytes.begin(), p.Bytes.begin() + ptrdiff_t(n)),
                                         "cut to " + std::to_string(n));
    for (size_t at : {size_t(2048), size_t(2054), size_t(194635)})
        for (uint8_t v : {uint8_t(0), uint8_t(0xFF)}) {
            std::vector<uint8_t> bad = p.Bytes;
            bad[at] = v;
            LoadsOrFailsCleanly<TPCDGraphic>(bad, "byte " + std::to_string(at));
        }
}

}  // namespace
}  // namespace qv
