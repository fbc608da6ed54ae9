// Targa writing: byte layout of what is written, save -> load round trips, the question
// for 1- and 4-bit pictures, and a stream that takes too little.
#include <gtest/gtest.h>

#include <cstring>

#include "TargaTestUtil.h"
#include "framework/System.h"
#include "imageio/TargaGraphic.h"

namespace qv {
namespace {

using namespace readertest;

std::vector<uint8_t> Save(TTargaGraphic& tga, bool compressed = true) {
    TMemoryStream out;
    if (compressed)
        tga.SaveImageStream(out);
    else
        tga.SaveTarga(out, false);
    return out.Data();
}

// A picture in the given format with a pattern of repeated and distinct pixels.
void Fill(TTargaGraphic& tga, TPixelFormat pf, int width, int height) {
    tga.SetPixelFormat(pf);
    tga.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            tga.SetPixelColor(x, y, x < width / 2 ? RGBColor(200, 16, 8) : RGBColor(uint8_t(x * 24), uint8_t(y * 40), 99));
}

void ExpectSamePixels(const TBitmap& a, const TBitmap& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    ASSERT_EQ(a.PixelFormat(), b.PixelFormat());
    const size_t bytes = size_t(a.Width()) * size_t(BitsPerPixel(a.PixelFormat())) / 8;
    for (int y = 0; y < a.Height(); ++y) EXPECT_EQ(0, std::memcmp(a.ScanLine(y), b.ScanLine(y), bytes)) << "row " << y;
}

// Restores the default answers after a test that sets its own.
struct HookGuard {
    ~HookGuard() { SetQuestionHook(nullptr); }
};

TEST(TargaWrite, HeaderOfA24BitPicture) {
    TTargaGraphic tga;
    Fill(tga, pf24bit, 6, 3);
    const std::vector<uint8_t> file = Save(tga);
    ASSERT_GE(file.size(), 18u);
    const std::vector<uint8_t> header(file.begin(), file.begin() + 18);
    EXPECT_EQ(header, (std::vector<uint8_t>{0, 0, 10, 0, 0, 0, 1, 24, 0, 0, 0, 0, 6, 0, 3, 0, 24, 32}));
    // No colour map follows: the first packet comes right after the header.
    EXPECT_EQ(file[18], 0x82);  // a run of the three equal pixels
}

TEST(TargaWrite, RoundTripsInEveryDepthCompressedAndRaw) {
    for (TPixelFormat pf : {pf8bit, pf15bit, pf24bit, pf32bit})
        for (bool compressed : {true, false}) {
            TTargaGraphic tga;
            Fill(tga, pf, 9, 4);
            if (pf == pf32bit) tga.ScanLine(2)[4 * 3 + 3] = 77;  // the fourth byte travels too
            TMemoryStream stream(Save(tga, compressed));
            TTargaGraphic back;
            back.LoadImageStream(stream);
            SCOPED_TRACE(std::string(PixelFormatName(pf)) + (compressed ? " rle" : " raw"));
            ExpectSamePixels(tga, back);
            if (pf == pf8bit) {
                EXPECT_EQ(back.Palette().Entries.size(), 256u);
                EXPECT_EQ(back.Palette().Entries[0], tga.Palette().Entries[0]);
            }
        }
}

TEST(TargaWrite, A565PictureIsWrittenAs555) {
    TTargaGraphic tga;
    Fill(tga, pf16bit, 5, 2);
    TMemoryStream stream(Save(tga));
    TTargaGraphic back;
    back.LoadImageStream(stream);
    ASSERT_EQ(back.PixelFormat(), pf15bit);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            const TColor a = tga.PixelColor(x, y), b = back.PixelColor(x, y);
            EXPECT_EQ(GetRValue(a) >> 3, GetRValue(b) >> 3);
            EXPECT_EQ(GetGValue(a) >> 3, GetGValue(b) >> 3);
            EXPECT_EQ(GetBValue(a) >> 3, GetBValue(b) >> 3);
        }
}

TEST(TargaWrite, ImageIdGoesBackToTheFile) {
    TTargaGraphic tga;
    TMemoryStream in(ReadAll(DataPath("targa/rgb24_rle.tga")));
    tga.LoadImageStream(in);
    const std::vector<uint8_t> file = Save(tga);
    EXPECT_EQ(file[0], 3);
    EXPECT_EQ(std::string(file.begin() + 18, file.begin() + 21), "src");
    TMemoryStream again(file);
    TTargaGraphic back;
    back.LoadImageStream(again);
    EXPECT_EQ(back.ImageID(), "src");
    ExpectSamePixels(tga, back);

    // Longer identifications keep their first 255 bytes.
    tga.SetImageID(std::string(300, 'x'));
    EXPECT_EQ(Save(tga)[0], 255);
}

TEST(TargaWrite, ThreeDistinctPixelsPerRowAreTwoLiteralPackets) {
    TTargaGraphic tga;
    tga.SetPixelFormat(pf24bit);
    tga.SetSize(3, 1);
    tga.SetPixelColor(0, 0, RGBColor(1, 2, 3));
    tga.SetPixelColor(1, 0, RGBColor(4, 5, 6));
    tga.SetPixelColor(2, 0, RGBColor(7, 8, 9));
    const std::vector<uint8_t> file = Save(tga);
    const std::vector<uint8_t> packets(file.begin() + 18, file.end());
    EXPECT_EQ(packets, (std::vector<uint8_t>{0x01, 3, 2, 1, 6, 5, 4, 0x00, 9, 8, 7}));
}

TEST(TargaWrite, FourBitQuestionWithOkAndCancel) {
    HookGuard guard;
    for (TPixelFormat pf : {pf1bit, pf4bit}) {
        std::string asked;
        SetQuestionHook([&](const std::string& text) {
            asked = text;
            return false;
        });
        TTargaGraphic tga;
        tga.SetPixelFormat(pf);
        tga.SetSize(4, 2);
        tga.SetPixelColor(1, 1, clBlack);
        EXPECT_TRUE(Save(tga).empty());
        EXPECT_EQ(asked, "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?");
        EXPECT_EQ(tga.PixelFormat(), pf);  // Cancel changes nothing

        SetQuestionHook([](const std::string&) { return true; });
        const std::vector<uint8_t> file = Save(tga);
        EXPECT_EQ(tga.PixelFormat(), pf8bit);
        ASSERT_GT(file.size(), 18u + 768u);
        EXPECT_EQ(file[1], 1);   // colour map follows
        EXPECT_EQ(file[2], 9);   // run-length, colour-mapped
        EXPECT_EQ(file[16], 8);
        TMemoryStream stream(file);
        TTargaGraphic back;
        back.LoadImageStream(stream);
        EXPECT_EQ(back.PixelColor(1, 1), clBlack);
        EXPECT_EQ(back.PixelColor(0, 0), tga.PixelColor(0, 0));
    }
}

TEST(TargaWrite, EmptyPictureWritesNothing) {
    TTargaGraphic tga;
    EXPECT_TRUE(Save(tga).empty());
    tga.SetPixelFormat(pf24bit);
    tga.SetSize(5, 0);
    EXPECT_TRUE(Save(tga).empty());
}

// A stream that takes at most Limit bytes in all.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(int64_t limit) : Limit(limit) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t room = std::max<int64_t>(0, Limit - Size());
        return TMemoryStream::Write(buffer, std::min(count, room));
    }
    int64_t Limit;
};

TEST(TargaWrite, AStreamThatTakesTooLittleFails) {
    TTargaGraphic tga;
    Fill(tga, pf24bit, 6, 3);
    for (bool compressed : {true, false}) {
        TShortStream out(18 + 5);
        try {
            tga.SaveTarga(out, compressed);
            ADD_FAILURE() << "no failure";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), "Targa: could not write image data");
        }
    }
}

}  // namespace
}  // namespace qv
