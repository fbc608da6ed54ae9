// PNG: every colour type and depth against ImageMagick's decode of the same file, the
// rounding of 16-bit samples, writing (read back by us, ImageMagick and Pillow), and
// hostile files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "GenericTestUtil.h"
#include "JPEGTestUtil.h"
#include "TargaTestUtil.h"
#include "framework/Stream.h"
#include "imageio/GenericGraphic.h"
#include "imageio/PNGGraphic.h"
#include "imageio/ReaderSupport.h"

namespace qv {
namespace {

using namespace readertest;

struct TFixture {
    const char* Name;
    TPixelFormat Format;
    int PaletteEntries;  // at most; 0 for true colour
    bool Alpha;
};

// The chunk CRC of PNG (ISO 3309), to build damaged files that libpng still parses.
uint32_t Crc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

uint32_t GetBe32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
void PutBe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// Offset of the first chunk of that type (its length field).
size_t FindChunk(const std::vector<uint8_t>& png, const char* type) {
    for (size_t at = 8; at + 8 <= png.size(); at += 12 + GetBe32(png, at))
        if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
    ADD_FAILURE() << "no " << type << " chunk";
    return 0;
}

void FixCrc(std::vector<uint8_t>& png, size_t chunk) {
    const uint32_t len = GetBe32(png, chunk);
    PutBe32(png, chunk + 8 + len, Crc(&png[chunk + 4], len + 4));
}

void MakeMarked(TBitmap& bmp) {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(5, 4);
    bmp.SetPixelColor(2, 3, RGBColor(9, 8, 7));
}

void ExpectMarked(const TBitmap& bmp) {
    EXPECT_EQ(bmp.Width(), 5);
    EXPECT_EQ(bmp.Height(), 4);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(bmp.PixelColor(2, 3), RGBColor(9, 8, 7));
}

TEST(PNGRead, EveryColourTypeAndDepthAsImageMagickDecodesIt) {
    const TFixture fixtures[] = {
        {"grey1", pf8bit, 256, false},      {"grey2", pf8bit, 256, false},     {"grey4", pf8bit, 256, false},
        {"grey8", pf8bit, 256, false},      {"grey16", pf8bit, 256, false},    {"grey4_adam7", pf8bit, 256, false},
        {"pal1", pf8bit, 2, false},         {"pal2_trns", pf8bit, 4, false},   {"pal4", pf8bit, 16, false},
        {"pal8_trns", pf8bit, 256, false},  {"rgb8", pf24bit, 0, false},       {"rgb16", pf24bit, 0, false},
        {"rgb8_adam7", pf24bit, 0, false},  {"greya8", pf32bit, 0, true},      {"greya16", pf32bit, 0, true},
        {"rgba8", pf32bit, 0, true},        {"rgba16", pf32bit, 0, true},      {"rgba16_adam7", pf32bit, 0, true},
    };
    for (const TFixture& f : fixtures) {
        SCOPED_TRACE(f.Name);
        const std::string base = DataPath(std::string("png/") + f.Name);
        auto picture = LoadBytes<TPNGGraphic>(ReadAll(base + ".png"));
        const Pnm ref = ReadPnm(base + ".pam");
        EXPECT_EQ(picture->PixelFormat(), f.Format);
        EXPECT_EQ(MaxDifference(*picture, ref), 0);
        if (f.PaletteEntries > 0) {
            EXPECT_GT(picture->Palette().Entries.size(), 0u);
            EXPECT_LE(picture->Palette().Entries.size(), size_t(f.PaletteEntries));
        }
        if (f.Alpha) {
            ASSERT_TRUE(ref.Channels == 2 || ref.Channels == 4);
            int worst = 0;
            for (int y = 0; y < ref.Height; ++y)
                for (int x = 0; x < ref.Width; ++x) {
                    const int a = (ref.At(x, y, ref.Channels - 1) * 255 + ref.MaxVal / 2) / ref.MaxVal;
                    worst = std::max(worst, std::abs(picture->ScanLine(y)[4 * x + 3] - a));
                }
            EXPECT_EQ(worst, 0) << "alpha";
        }
    }
}

// Each of the 65536 sample values once: v becomes (v * 255 + 32767) / 65535.
TEST(PNGRead, SixteenBitSamplesRoundToEightBits) {
    auto picture = LoadBytes<TPNGGraphic>(ReadAll(DataPath("png/grey16_all.png")));
    ASSERT_EQ(picture->Width(), 256);
    ASSERT_EQ(picture->Height(), 256);
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint32_t v = uint32_t(y) * 256 + uint32_t(x);
            const uint8_t want = uint8_t((v * 255 + 32767) / 65535);
            if (picture->PixelColor(x, y) != RGBColor(want, want, want)) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
}

// Our files, read back by us and by the independent decoders.
TEST(PNGWrite, RoundTripAndOtherDecodersAgree) {
    testing::TempFolder dir;
    const bool haveConvert = std::system("command -v convert >/dev/null 2>&1") == 0;
    const bool havePillow = std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    for (TPixelFormat pf : {pf24bit, pf32bit, pf8bit, pf1bit, pf16bit}) {
        SCOPED_TRACE(PixelFormatName(pf));
        TGenericGraphic src;
        src.LoadImageFile(DataPath("png/rgb8.png"));
        src.SetPixelFormat(pf);
        const std::string out = dir / "out.png";
        src.SaveImageFile(out);
        TGenericGraphic back;
        back.LoadImageFile(out);
        EXPECT_EQ(back.PixelFormat(), pf24bit);
        EXPECT_EQ(testing::MaxChannelDifference(src, back), 0);

        if (haveConvert) {
            const std::string cmd = "convert '" + out + "' -depth 8 '" + (dir / "im.ppm") + "'";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
            EXPECT_EQ(MaxDifference(src, ReadPnm(dir / "im.ppm")), 0) << "ImageMagick";
        }
        if (havePillow) {
            const std::string cmd = "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + out + "').save('" +
                                    (dir / "pil.ppm") + "')\"";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
            EXPECT_EQ(MaxDifference(src, ReadPnm(dir / "pil.ppm")), 0) << "Pillow";
        }
    }
    if (!haveConvert || !havePillow) GTEST_SKIP() << "ImageMagick or Pillow missing: only our own decode checked";
}

TEST(PNGWrite, FailuresKeepTheOldFile) {
    testing::TempFolder dir;
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    testing::WriteBytes(dir / "keep.png", old);
    TGenericGraphic empty;
    EXPECT_THROW(empty.SaveImageFile(dir / "keep.png"), Exception);
    EXPECT_EQ(ReadAll(dir / "keep.png"), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.png"});
}

TEST(PNGRead, HostileFilesFailCleanlyAndChangeNothing) {
    const std::vector<uint8_t> good = ReadAll(DataPath("png/pal4.png"));
    const size_t ihdr = FindChunk(good, "IHDR");
    struct TCase {
        const char* What;
        std::function<void(std::vector<uint8_t>&)> Damage;
        const char* Message;  // start of the expected text
    };
    const TCase cases[] = {
        {"cut inside the pixel data", [&](auto& b) { b.resize(FindChunk(b, "IDAT") + 40); }, "PNG: "},
        {"bad CRC in the pixel data", [&](auto& b) { b[FindChunk(b, "IDAT") + 20] ^= 0x55; }, "PNG: "},
        {"not a PNG", [&](auto& b) { b[1] = 'Q'; }, "PNG: "},
        {"2^31-1 x 2^31-1 pixels",
         [&](auto& b) {
             PutBe32(b, ihdr + 8, 0x7FFFFFFF);
             PutBe32(b, ihdr + 12, 0x7FFFFFFF);
             FixCrc(b, ihdr);
         },
         "PNG: "},
        {"30000 x 30000 pixels announced by a small file",
         [&](auto& b) {
             PutBe32(b, ihdr + 8, 30000);
             PutBe32(b, ihdr + 12, 30000);
             FixCrc(b, ihdr);
         },
         "PNG: 30000 x 30000 pixels need at least"},
        {"palette of 3 entries for 16 colours",
         [&](auto& b) {
             const size_t plte = FindChunk(b, "PLTE");
             const uint32_t len = GetBe32(b, plte);
             b.erase(b.begin() + ptrdiff_t(plte + 8 + 9), b.begin() + ptrdiff_t(plte + 8 + len));
             PutBe32(b, plte, 9);
             FixCrc(b, plte);
         },
         "PNG: palette index"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        std::vector<uint8_t> bad = good;
        c.Damage(bad);
        TPNGGraphic picture;
        MakeMarked(picture);
        TMemoryStream stream(bad);
        try {
            picture.LoadImageStream(stream);
            ADD_FAILURE() << "loaded";
        } catch (const EReaderError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.Message, 0), 0u) << e.what();
        }
        ExpectMarked(picture);
    }
    SweepHostileVariants<TPNGGraphic>(good, 60, "pal4.png");
    SweepHostileVariants<TPNGGraphic>(ReadAll(DataPath("png/grey4_adam7.png")), 40, "grey4_adam7.png");
}

}  // namespace
}  // namespace qv
