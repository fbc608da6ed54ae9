// SGI reader: ImageMagick and ffmpeg files (verbatim and run-length, 1 and 2 bytes per
// sample, grey, RGB and RGBA), hand-built layouts, refused headers and hostile variants.
#include <gtest/gtest.h>

#include "TargaTestUtil.h"
#include "imageio/GenericGraphic.h"
#include "imageio/SGIGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Fixture(const std::string& name) { return ReadAll(DataPath("sgi/" + name)); }

void SetBe16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
void SetBe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    SetBe16(b, at, uint16_t(v >> 16));
    SetBe16(b, at + 2, uint16_t(v));
}

std::vector<uint8_t> Header(uint8_t storage, uint8_t bpc, uint16_t x, uint16_t y, uint16_t z) {
    std::vector<uint8_t> b(512, 0);
    SetBe16(b, 0, 474);
    b[2] = storage;
    b[3] = bpc;
    SetBe16(b, 4, 3);
    SetBe16(b, 6, x);
    SetBe16(b, 8, y);
    SetBe16(b, 10, z);
    return b;
}

// Run-length file from one packed row per (channel, row), in table order.
std::vector<uint8_t> RunLengthFile(uint16_t x, uint16_t y, uint16_t z, const std::vector<std::vector<uint8_t>>& rows,
                                   uint8_t bpc = 1) {
    std::vector<uint8_t> b = Header(1, bpc, x, y, z);
    const size_t n = rows.size();
    b.resize(512 + 8 * n);
    uint32_t offset = uint32_t(b.size());
    for (size_t i = 0; i < n; ++i) {
        SetBe32(b, 512 + 4 * i, offset);
        SetBe32(b, 512 + 4 * (n + i), uint32_t(rows[i].size() / bpc));
        offset += uint32_t(rows[i].size());
    }
    for (const auto& r : rows) b.insert(b.end(), r.begin(), r.end());
    return b;
}

uint8_t High(int v) { return uint8_t(v >> 8); }

TEST(SGIRead, ToolFilesGiveTheSourcePixels) {
    const Pnm src = ReadPnm(DataPath("sgi/src.ppm"));
    for (const char* name : {"rgb8_verbatim.sgi", "rgb8_rle_im.sgi", "rgb8_rle_ffmpeg.sgi"}) {
        SCOPED_TRACE(name);
        auto sgi = LoadBytes<TSGIGraphic>(Fixture(name));
        EXPECT_EQ(sgi->PixelFormat(), pf24bit);
        EXPECT_EQ(MaxDifference(*sgi, src), 0);
    }
    const Pnm grey = ReadPnm(DataPath("sgi/gray.pgm"));
    for (const char* name : {"gray8_verbatim.bw", "gray8_rle_ffmpeg.sgi"}) {
        SCOPED_TRACE(name);
        auto sgi = LoadBytes<TSGIGraphic>(Fixture(name));
        EXPECT_EQ(sgi->PixelFormat(), pf8bit);
        EXPECT_EQ(sgi->Palette().Entries, GreyPalette(256).Entries);
        EXPECT_EQ(MaxDifference(*sgi, grey), 0);
    }
}

TEST(SGIRead, TwoByteSamplesKeepTheirHighByteVerbatimAndRunLength) {
    const Pnm src = ReadPnm(DataPath("sgi/src16.ppm"));
    for (const char* name : {"rgb16_verbatim.sgi", "rgb16_rle_ffmpeg.sgi"}) {
        SCOPED_TRACE(name);
        auto sgi = LoadBytes<TSGIGraphic>(Fixture(name));
        ASSERT_EQ(sgi->Width(), src.Width);
        ASSERT_EQ(sgi->Height(), src.Height);
        for (int y = 0; y < src.Height; ++y)
            for (int x = 0; x < src.Width; ++x)
                ASSERT_EQ(sgi->PixelColor(x, y), RGBColor(High(src.At(x, y, 0)), High(src.At(x, y, 1)), High(src.At(x, y, 2))))
                    << x << "," << y;
    }
}

TEST(SGIRead, ChannelCountsOtherThanThreeAndFourAreGrey) {
    // z size 0, 1 and 2, verbatim: channel 0 of each row, first stored row at the bottom;
    // the second channel of a two-channel file is not shown.
    for (uint16_t z : {0, 1, 2}) {
        SCOPED_TRACE(z);
        std::vector<uint8_t> file = Header(0, 1, 2, 2, z);
        file.insert(file.end(), {10, 20, 30, 40, 99, 99, 99, 99});
        auto sgi = LoadBytes<TSGIGraphic>(file);
        ASSERT_EQ(sgi->PixelFormat(), pf8bit);
        ASSERT_EQ(sgi->Palette().Entries, GreyPalette(256).Entries);
        EXPECT_EQ(sgi->ScanLine(1)[0], 10);
        EXPECT_EQ(sgi->ScanLine(1)[1], 20);
        EXPECT_EQ(sgi->ScanLine(0)[0], 30);
        EXPECT_EQ(sgi->ScanLine(0)[1], 40);
    }
}

TEST(SGIRead, RgbaFilesCarryAlphaInTheFourthByte) {
    const Pnm rgba = ReadPnm(DataPath("sgi/rgba.pam"));
    ASSERT_EQ(rgba.Channels, 4);
    for (const char* name : {"rgba8_rle_im.sgi", "rgba8_rle_ffmpeg.sgi"}) {
        SCOPED_TRACE(name);
        auto sgi = LoadBytes<TSGIGraphic>(Fixture(name));
        ASSERT_EQ(sgi->PixelFormat(), pf32bit);
        EXPECT_EQ(MaxDifference(*sgi, rgba), 0);
        for (int y = 0; y < rgba.Height; ++y)
            for (int x = 0; x < rgba.Width; ++x) ASSERT_EQ(sgi->ScanLine(y)[4 * x + 3], rgba.At(x, y, 3));
    }
}

TEST(SGIRead, FirstStoredRowIsTheBottomOneVerbatimOrPacked) {
    // 2 x 2 RGB; stored row 0 (bottom): (1,2,3) (4,5,6); row 1 (top): (7,8,9) (10,11,12).
    std::vector<uint8_t> verbatim = Header(0, 1, 2, 2, 3);
    verbatim.insert(verbatim.end(), {1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12});
    const std::vector<uint8_t> packed =
        RunLengthFile(2, 2, 3, {{0x82, 1, 4, 0}, {0x82, 7, 10, 0}, {0x82, 2, 5, 0}, {0x82, 8, 11, 0},
                                {0x82, 3, 6, 0}, {0x82, 9, 12, 0}});
    for (const auto& file : {verbatim, packed}) {
        auto sgi = LoadBytes<TSGIGraphic>(file);
        ASSERT_EQ(sgi->PixelFormat(), pf24bit);
        EXPECT_EQ(sgi->PixelColor(0, 1), RGBColor(1, 2, 3));
        EXPECT_EQ(sgi->PixelColor(1, 1), RGBColor(4, 5, 6));
        EXPECT_EQ(sgi->PixelColor(0, 0), RGBColor(7, 8, 9));
        const uint8_t* top = sgi->ScanLine(0);
        EXPECT_EQ(top[3], 12);  // blue first
        EXPECT_EQ(top[5], 10);
    }
}

TEST(SGIRead, RowsEndAtTheZeroCountOrWhenFull) {
    // Row 0 ends with a zero count and junk after it; row 1 has no zero count at all and
    // a run longer than the row.
    const auto sgi = LoadBytes<TSGIGraphic>(RunLengthFile(3, 2, 1, {{0x03, 9, 0, 0x85, 1, 1}, {0x7F, 5}}));
    EXPECT_EQ(sgi->ScanLine(1)[0], 9);
    EXPECT_EQ(sgi->ScanLine(1)[2], 9);
    EXPECT_EQ(sgi->ScanLine(0)[0], 5);
    EXPECT_EQ(sgi->ScanLine(0)[2], 5);
    // Two-byte runs without zero count.
    const auto wide = LoadBytes<TSGIGraphic>(RunLengthFile(2, 1, 1, {{0x00, 0x02, 0xAB, 0xCD}}, 2));
    EXPECT_EQ(wide->ScanLine(0)[0], 0xAB);
    EXPECT_EQ(wide->ScanLine(0)[1], 0xAB);
}

TEST(SGIRead, OffsetsCountFromWhereTheStreamStood) {
    std::vector<uint8_t> data(100, 0x33);
    const std::vector<uint8_t> file = Fixture("rgb8_rle_ffmpeg.sgi");
    data.insert(data.end(), file.begin(), file.end());
    TMemoryStream stream(data);
    stream.SetPosition(100);
    TSGIGraphic sgi;
    sgi.LoadImageStream(stream);
    EXPECT_EQ(MaxDifference(sgi, ReadPnm(DataPath("sgi/src.ppm"))), 0);
}

TEST(SGIRead, ShortFilesLeaveWhatIsMissingWhite) {
    std::vector<uint8_t> verbatim = Header(0, 1, 2, 2, 1);
    verbatim.insert(verbatim.end(), {1, 2, 3});  // the top row lacks its last pixel
    auto grey = LoadBytes<TSGIGraphic>(verbatim);
    EXPECT_EQ(grey->ScanLine(1)[1], 2);
    EXPECT_EQ(grey->ScanLine(0)[0], 3);
    EXPECT_EQ(grey->PixelColor(1, 0), clWhite);
    // A row whose offset lies past the end of the file.
    std::vector<uint8_t> packed = RunLengthFile(2, 1, 1, {{0x82, 7, 8, 0}});
    SetBe32(packed, 512, 100000);
    auto far = LoadBytes<TSGIGraphic>(packed);
    EXPECT_EQ(far->PixelColor(0, 0), clWhite);
    // Two channels: the second is ignored.
    std::vector<uint8_t> two = Header(0, 1, 1, 1, 2);
    two.insert(two.end(), {40, 90});
    auto twoChannels = LoadBytes<TSGIGraphic>(two);
    EXPECT_EQ(twoChannels->PixelFormat(), pf8bit);
    EXPECT_EQ(twoChannels->ScanLine(0)[0], 40);
}

TEST(SGIRead, RefusedHeadersLeaveThePictureAlone) {
    TSGIGraphic sgi;
    {
        std::vector<uint8_t> one = Header(0, 1, 1, 1, 1);
        one.push_back(77);
        TMemoryStream s(one);
        sgi.LoadImageStream(s);
    }
    auto expectRefused = [&](std::vector<uint8_t> bytes, const std::string& part) {
        TMemoryStream s(std::move(bytes));
        try {
            sgi.LoadImageStream(s);
            ADD_FAILURE() << "loaded: " << part;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        EXPECT_EQ(sgi.Width(), 1);
        EXPECT_EQ(sgi.ScanLine(0)[0], 77);
    };
    std::vector<uint8_t> magic = Header(0, 1, 1, 1, 1);
    magic[1] = 0xDB;
    expectRefused(magic, "Not a valid sgi, bw or rgb(a) image.");
    expectRefused({0x01}, "Not a valid sgi, bw or rgb(a) image.");
    expectRefused(Header(0, 3, 1, 1, 1), "3 bytes per sample");
    expectRefused(Header(1, 1, 1, 1, 0), "no channels");
    // Row tables the file cannot hold are the stream's read failure.
    expectRefused(Header(1, 1, 4, 4, 3), "Erreur de lecture du flux");
    expectRefused(Header(0, 1, 60000, 60000, 3), "need at least");
    std::vector<uint8_t> tables = Header(1, 1, 60000, 1000, 1);
    tables.resize(512 + 8 * 1000);
    expectRefused(tables, "need at least");
}

TEST(SGIRead, ThroughTheGenericPictureByExtension) {
    const std::string path = testing::TempDir() + "/qv_sgi_generic.rgba";
    TMemoryStream(Fixture("rgba8_rle_ffmpeg.sgi")).SaveToFile(path);
    TGenericGraphic g;
    g.LoadImageFile(path);
    EXPECT_EQ(g.PixelFormat(), pf32bit);
    EXPECT_EQ(MaxDifference(g, ReadPnm(DataPath("sgi/rgba.pam"))), 0);
    std::remove(path.c_str());
}

TEST(SGIRead, HostileVariantsFailCleanly) {
    for (const char* name : {"rgb8_rle_ffmpeg.sgi", "rgb16_rle_ffmpeg.sgi", "rgba8_rle_im.sgi", "rgb16_verbatim.sgi"}) {
        const std::vector<uint8_t> file = Fixture(name);
        SweepHostileVariants<TSGIGraphic>(file, file.size(), name);
    }
}

}  // namespace
}  // namespace qv
