// RLA reader on files built from the byte layout: the active window and its row order,
// the matte channel, rows reached through the offset table, refused headers and damaged
// files.
#include <gtest/gtest.h>

#include "TargaTestUtil.h"
#include "imageio/RLAGraphic.h"

namespace qv {
namespace {

using namespace readertest;

void SetBe16(std::vector<uint8_t>& b, size_t at, int v) {
    b[at] = uint8_t(uint16_t(v) >> 8);
    b[at + 1] = uint8_t(v);
}

struct RlaSpec {
    int Left = 0, Right = 1, Bottom = 0, Top = 1;
    int ColorChannels = 3, MatteChannels = 0, ColorBits = 8, MatteBits = 8;
};

// Literal packet of the given bytes (up to 128).
std::vector<uint8_t> Literal(const std::vector<uint8_t>& v) {
    std::vector<uint8_t> p = {uint8_t(256 - v.size())};
    p.insert(p.end(), v.begin(), v.end());
    return p;
}

// rows[stored row][channel] = packed bytes; the row data is laid out in reverse order so
// that only the offset table finds it.
std::vector<uint8_t> RlaFile(const RlaSpec& s, const std::vector<std::vector<std::vector<uint8_t>>>& rows) {
    std::vector<uint8_t> b(740, 0);
    SetBe16(b, 8, s.Left);
    SetBe16(b, 10, s.Right);
    SetBe16(b, 12, s.Bottom);
    SetBe16(b, 14, s.Top);
    SetBe16(b, 20, s.ColorChannels);
    SetBe16(b, 22, s.MatteChannels);
    SetBe16(b, 658, s.ColorBits);
    SetBe16(b, 662, s.MatteBits);
    const size_t tableAt = b.size();
    b.resize(tableAt + 4 * rows.size());
    for (size_t k = rows.size(); k-- > 0;) {
        const uint32_t offset = uint32_t(b.size());
        for (int i = 0; i < 4; ++i) b[tableAt + 4 * k + size_t(i)] = uint8_t(offset >> (24 - 8 * i));
        for (const auto& channel : rows[k]) {
            const size_t at = b.size();
            b.resize(at + 2);
            SetBe16(b, at, int(channel.size()));
            b.insert(b.end(), channel.begin(), channel.end());
        }
    }
    return b;
}

// Two 2-pixel rows: stored row 0 red (10, 11) green (20, 21) blue (30, 31), row 1 the
// same plus 100.
std::vector<std::vector<std::vector<uint8_t>>> TwoRows(bool matte) {
    std::vector<std::vector<std::vector<uint8_t>>> rows;
    for (int r = 0; r < 2; ++r) {
        std::vector<std::vector<uint8_t>> ch;
        for (int c = 0; c < 3; ++c) ch.push_back(Literal({uint8_t(100 * r + 10 * (c + 1)), uint8_t(100 * r + 10 * (c + 1) + 1)}));
        if (matte) ch.push_back({0x01, uint8_t(50 + r)});  // a run of two
        rows.push_back(ch);
    }
    return rows;
}

TEST(RLARead, ActiveWindowGivesSizeAndRowOrder) {
    // Bottom below top: the first stored row is the bottom row.
    auto up = LoadBytes<TRLAGraphic>(RlaFile({0, 1, 0, 1}, TwoRows(false)));
    ASSERT_EQ(up->PixelFormat(), pf24bit);
    ASSERT_EQ(up->Width(), 2);
    ASSERT_EQ(up->Height(), 2);
    EXPECT_EQ(up->PixelColor(0, 1), RGBColor(10, 20, 30));
    EXPECT_EQ(up->PixelColor(1, 1), RGBColor(11, 21, 31));
    EXPECT_EQ(up->PixelColor(0, 0), RGBColor(110, 120, 130));
    EXPECT_EQ(up->ScanLine(1)[0], 30);  // blue first
    // Bottom above top: the first stored row is the top row.
    auto down = LoadBytes<TRLAGraphic>(RlaFile({5, 6, 8, 7}, TwoRows(false)));
    EXPECT_EQ(down->Width(), 2);
    EXPECT_EQ(down->PixelColor(0, 0), RGBColor(10, 20, 30));
    EXPECT_EQ(down->PixelColor(1, 1), RGBColor(111, 121, 131));
}

TEST(RLARead, FullSizeWindowsOfTheUsualPicture) {
    // 640 x 480 of one colour per row: runs of 128 bytes.
    std::vector<std::vector<std::vector<uint8_t>>> rows(480);
    for (int r = 0; r < 480; ++r) {
        std::vector<uint8_t> packed;
        for (int i = 0; i < 5; ++i) packed.insert(packed.end(), {127, uint8_t(r)});
        rows[size_t(r)] = {packed, packed, packed};
    }
    auto up = LoadBytes<TRLAGraphic>(RlaFile({0, 639, 0, 479}, rows));
    ASSERT_EQ(up->Width(), 640);
    ASSERT_EQ(up->Height(), 480);
    EXPECT_EQ(up->PixelColor(639, 479), RGBColor(0, 0, 0));
    EXPECT_EQ(up->PixelColor(0, 0), RGBColor(223, 223, 223));  // stored row 479
    auto down = LoadBytes<TRLAGraphic>(RlaFile({0, 639, 479, 0}, rows));
    EXPECT_EQ(down->PixelColor(5, 0), RGBColor(0, 0, 0));
    EXPECT_EQ(down->PixelColor(5, 300), RGBColor(44, 44, 44));
}

TEST(RLARead, MatteChannelBecomesTheFourthByte) {
    auto rla = LoadBytes<TRLAGraphic>(RlaFile({0, 1, 0, 1, 3, 1}, TwoRows(true)));
    ASSERT_EQ(rla->PixelFormat(), pf32bit);
    EXPECT_EQ(rla->ScanLine(1)[3], 50);
    EXPECT_EQ(rla->ScanLine(0)[7], 51);
    EXPECT_EQ(rla->PixelColor(1, 1), RGBColor(11, 21, 31));
    // Four colour channels and a matte: the fourth colour channel is skipped, not shown
    // as alpha.
    auto rows = TwoRows(true);
    for (auto& r : rows) r.insert(r.begin() + 3, Literal({222, 223}));
    auto four = LoadBytes<TRLAGraphic>(RlaFile({0, 1, 0, 1, 4, 1}, rows));
    EXPECT_EQ(four->ScanLine(1)[3], 50);
    EXPECT_EQ(four->ScanLine(1)[7], 50);
    // Four colour channels and no matte: 24 bits from the first three.
    auto plain = LoadBytes<TRLAGraphic>(RlaFile({0, 1, 0, 1, 4, 0}, rows));
    EXPECT_EQ(plain->PixelFormat(), pf24bit);
    EXPECT_EQ(plain->PixelColor(0, 0), RGBColor(110, 120, 130));
    // Old files without bit counts hold bytes.
    auto old = LoadBytes<TRLAGraphic>(RlaFile({0, 1, 0, 1, 3, 0, 0, 0}, TwoRows(false)));
    EXPECT_EQ(old->PixelColor(0, 1), RGBColor(10, 20, 30));
}

TEST(RLARead, PictureInsideALargerStream) {
    std::vector<uint8_t> data(333, 0x5A);
    const std::vector<uint8_t> file = RlaFile({0, 1, 0, 1}, TwoRows(false));
    data.insert(data.end(), file.begin(), file.end());
    TMemoryStream stream(data);
    stream.SetPosition(333);
    TRLAGraphic rla;
    rla.LoadImageStream(stream);
    EXPECT_EQ(rla.PixelColor(0, 1), RGBColor(10, 20, 30));
}

TEST(RLARead, RefusedFilesLeaveThePictureAlone) {
    TRLAGraphic rla;
    {
        TMemoryStream s(RlaFile({0, 1, 0, 1}, TwoRows(false)));
        rla.LoadImageStream(s);
    }
    auto expectRefused = [&](std::vector<uint8_t> bytes, const std::string& part) {
        TMemoryStream s(std::move(bytes));
        try {
            rla.LoadImageStream(s);
            ADD_FAILURE() << "loaded: " << part;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        EXPECT_EQ(rla.Width(), 2);
        EXPECT_EQ(rla.PixelColor(0, 1), RGBColor(10, 20, 30));
    };
    expectRefused(RlaFile({0, 1, 0, 1, 1}, TwoRows(false)), "RLA: image must be RGB(A).");
    expectRefused(RlaFile({0, 1, 0, 1, 5}, TwoRows(false)), "RLA: image must be RGB(A).");
    expectRefused(RlaFile({0, 1, 0, 1, 3, 0, 16}, TwoRows(false)), "16 bits per colour sample");
    expectRefused(RlaFile({0, 1, 0, 1, 3, 1, 8, 10}, TwoRows(true)), "10 bits per matte sample");
    expectRefused(RlaFile({5, 3, 0, 1}, TwoRows(false)), "has no columns");
    // A row offset table the file cannot hold is the stream's read failure.
    expectRefused(RlaFile({-32768, 32767, -32768, 32767}, {}), "Erreur de lecture du flux");
    // 65536 x 100 pixels from rows of two bytes each.
    expectRefused(RlaFile({-32768, 32767, 0, 99},
                          std::vector<std::vector<std::vector<uint8_t>>>(100, {{0, 1}, {0, 1}, {0, 1}})),
                  "need at least");
    std::vector<uint8_t> header = RlaFile({0, 1, 0, 1}, TwoRows(false));
    header.resize(745);
    expectRefused(header, "Erreur de lecture du flux");
    // Row data that ends early, after the picture's size is known.
    std::vector<uint8_t> wide = RlaFile({0, 2, 0, 1}, {{Literal({1, 2, 3}), Literal({1, 2, 3}), Literal({1, 2, 3})},
                                                       {Literal({4, 5, 6}), Literal({4, 5, 6}), Literal({4, 5, 6})}});
    wide.resize(wide.size() - 2);
    expectRefused(wide, "Erreur de lecture du flux");
}

TEST(RLARead, BadRowData) {
    // A packed row longer than twice the width.
    auto rows = TwoRows(false);
    rows[1][2] = Literal({1, 2, 3, 4, 5});
    EXPECT_NE(LoadError<TRLAGraphic>(RlaFile({0, 1, 0, 1}, rows)).find("longer than twice the width"),
              std::string::npos);
    // Row data missing: the stream's read failure.
    std::vector<uint8_t> file = RlaFile({0, 1, 0, 1}, TwoRows(false));
    file.resize(file.size() - 3);
    EXPECT_THROW(LoadBytes<TRLAGraphic>(file), EReadError);
    // Short packed data leaves the rest of the channel zero.
    rows = TwoRows(false);
    rows[0][0] = {0x00, 77};
    auto rla = LoadBytes<TRLAGraphic>(RlaFile({0, 1, 0, 1}, rows));
    EXPECT_EQ(rla->PixelColor(0, 1), RGBColor(77, 20, 30));
    EXPECT_EQ(rla->PixelColor(1, 1), RGBColor(0, 21, 31));
}

TEST(RLARead, HostileVariantsFailCleanly) {
    const std::vector<uint8_t> file = RlaFile({0, 2, 0, 2, 3, 1}, {{Literal({1, 2, 3}), {2, 9}, Literal({4, 5, 6}), {2, 1}},
                                                                  {{2, 7}, {2, 8}, {2, 9}, {2, 1}},
                                                                  {Literal({1, 2, 3}), {0, 9, 0xFF, 1}, {2, 6}, {2, 1}}});
    SweepHostileVariants<TRLAGraphic>(file, file.size(), "rla");
}

}  // namespace
}  // namespace qv
