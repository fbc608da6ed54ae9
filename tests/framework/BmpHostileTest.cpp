// Reading hand-built and damaged files: every header rule, run-length edge cases, and that a
// failed load leaves the raster as it was.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "BmpTestSupport.h"
#include "framework/Exceptions.h"

namespace qv {
namespace {

using namespace bmptest;

// The message of the failure a load raises, or "" when it loads.
std::string LoadError(const std::vector<uint8_t>& bytes) {
    TBitmap bmp;
    try {
        LoadBytes(bmp, bytes);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

TBmpBuilder Grey8(int w, int h) {
    TBmpBuilder b;
    b.Width = w;
    b.Height = h;
    b.Bits = 8;
    b.Palette = GreyEntries(16);
    b.ClrUsed = 16;
    b.Pixels.assign(size_t(((w + 3) / 4) * 4 * h), 1);
    return b;
}

TEST(BmpHeader, BadFieldsFailWithAMessageNamingThem) {
    struct TCase {
        const char* What;
        TBmpBuilder File;
        const char* Message;
    };
    std::vector<TCase> cases;
    auto add = [&](const char* what, auto change, const char* message) {
        TBmpBuilder b = Grey8(4, 2);
        change(b);
        cases.push_back({what, b, message});
    };
    add("width 0", [](TBmpBuilder& b) { b.Width = 0; }, "Invalid bitmap file: width 0");
    add("negative width", [](TBmpBuilder& b) { b.Width = -4; }, "Invalid bitmap file: width -4");
    add("height 0", [](TBmpBuilder& b) { b.Height = 0; }, "Invalid bitmap file: height 0");
    add("lowest height", [](TBmpBuilder& b) { b.Height = INT32_MIN; },
        "Invalid bitmap file: height 2147483648");
    add("height above half the range", [](TBmpBuilder& b) { b.Height = INT32_MAX / 2 + 1; },
        "Invalid bitmap file: height 1073741824");
    add("header size 64", [](TBmpBuilder& b) { b.HeaderSize = 64; },
        "Invalid bitmap file: unknown header size 64");
    add("7 bits", [](TBmpBuilder& b) { b.Bits = 7; }, "Invalid bitmap file: 7 bits per pixel");
    add("0 bits (embedded JPEG)", [](TBmpBuilder& b) { b.Bits = 0; },
        "Invalid bitmap file: 0 bits per pixel");
    add("JPEG compression", [](TBmpBuilder& b) { b.Compression = 4; },
        "Invalid bitmap file: compression 4 is not supported");
    add("RLE8 at 4 bits", [](TBmpBuilder& b) { b.Compression = 1; b.Bits = 4; },
        "Invalid bitmap file: RLE8 compression with 4 bits per pixel");
    add("RLE4 at 8 bits", [](TBmpBuilder& b) { b.Compression = 2; },
        "Invalid bitmap file: RLE4 compression with 8 bits per pixel");
    add("bit fields at 24 bits", [](TBmpBuilder& b) { b.Compression = 3; b.Bits = 24; b.Masks = {0xFF, 0xFF00, 0xFF0000}; },
        "Invalid bitmap file: bit fields with 24 bits per pixel");
    add("top-down RLE", [](TBmpBuilder& b) { b.Compression = 1; b.Height = -2; b.Pixels = {0, 1}; },
        "Invalid bitmap file: a run-length compressed bitmap cannot be top-down");
    add("offset beyond the file", [](TBmpBuilder& b) { b.OffBits = 100000; b.Pixels.clear(); },
        "Invalid bitmap file: pixel data offset 100000 lies beyond the end of the file");
    add("offset inside the header", [](TBmpBuilder& b) { b.OffBits = 30; },
        "Invalid bitmap file: pixel data offset 30 lies inside the header");
    add("no room for a palette", [](TBmpBuilder& b) { b.Palette.clear(); },
        "Invalid bitmap file: no room for the colour table");
    add("one row missing", [](TBmpBuilder& b) { b.Pixels.resize(4); },
        "Invalid bitmap file: 8 bytes of pixel data needed, 4 present");
    add("huge picture in a small file", [](TBmpBuilder& b) { b.Width = 1 << 30; b.Height = 1 << 29; },
        "Invalid bitmap file: 576460752303423488 bytes of pixel data needed, 8 present");
    add("huge RLE picture from 2 bytes", [](TBmpBuilder& b) { b.Compression = 1; b.Width = 1000; b.Height = 1000; b.Pixels = {0, 1}; },
        "Invalid bitmap file: 1000 x 1000 pixels cannot come from 2 bytes of compressed data");
    add("RLE size beyond the file", [](TBmpBuilder& b) { b.Compression = 1; b.Pixels = {0, 1}; b.SizeImage = 4; },
        "Invalid bitmap file: 4 bytes of compressed data announced, 2 present");
    add("non-contiguous mask", [](TBmpBuilder& b) { b.Bits = 16; b.Compression = 3; b.Palette.clear(); b.ClrUsed = 0; b.Masks = {0xF00F, 0x07E0, 0x001F}; },
        "Invalid bitmap file: red mask 0x0000F00F for 16 bits per pixel");
    add("mask above 16 bits", [](TBmpBuilder& b) { b.Bits = 16; b.Compression = 3; b.Palette.clear(); b.ClrUsed = 0; b.Masks = {0x1F0000, 0x07E0, 0x001F}; },
        "Invalid bitmap file: red mask 0x001F0000 for 16 bits per pixel");
    add("all masks zero", [](TBmpBuilder& b) { b.Bits = 32; b.Compression = 3; b.Palette.clear(); b.ClrUsed = 0; b.Masks = {0, 0, 0}; b.Pixels.assign(32, 0); },
        "Invalid bitmap file: all colour masks are zero");

    for (const TCase& c : cases) EXPECT_EQ(LoadError(c.File.Build()), c.Message) << c.What;

    // Signature and too-short files.
    std::vector<uint8_t> bytes = Grey8(4, 2).Build();
    bytes[1] = 'A';
    EXPECT_EQ(LoadError(bytes), "Invalid bitmap file: no \"BM\" signature");
    EXPECT_EQ(LoadError({'B', 'M'}), "Invalid bitmap file: the file is too short for a bitmap header");
    EXPECT_EQ(LoadError({}), "Invalid bitmap file: the file is too short for a bitmap header");
}

TEST(BmpHeader, BitFieldMasksAfterAShortHeaderMustBeInTheFile) {
    TBmpBuilder b;
    b.Bits = 16;
    b.Compression = 3;
    std::vector<uint8_t> bytes = b.Build();  // no masks, no pixels
    bytes.resize(54 + 6);
    SetU32(bytes, 2, uint32_t(bytes.size()));
    SetU32(bytes, 10, 54);
    EXPECT_EQ(LoadError(bytes), "Invalid bitmap file: the file ends inside the bit-field masks");
}

TEST(BmpPalette, CountFollowsClrUsedAndTheRoomBeforeThePixels) {
    // clrUsed below 2^bits: that many entries.
    TBmpBuilder b = Grey8(4, 1);
    b.ClrUsed = 5;
    b.Palette = GreyEntries(5);
    TBitmap bmp;
    LoadBytes(bmp, b.Build());
    EXPECT_EQ(bmp.Palette().Entries.size(), 5u);
    EXPECT_EQ(bmp.Palette().Entries[4], (TPaletteEntry{64, 64, 64, 0}));

    // clrUsed 0 at 4 bits, but the pixels start after 3 entries: 3 entries.
    TBmpBuilder c;
    c.Width = 8;
    c.Height = 1;
    c.Bits = 4;
    c.Palette = GreyEntries(3);
    c.Pixels = {0x01, 0x22, 0x10, 0x00};
    LoadBytes(bmp, c.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf4bit);
    EXPECT_EQ(bmp.Palette().Entries.size(), 3u);
    EXPECT_EQ(bmp.ScanLine(0)[1], 0x22);

    // clrUsed beyond 2^bits addresses no more than 2^bits entries.
    TBmpBuilder d;
    d.Width = 8;
    d.Height = 1;
    d.Bits = 1;
    d.ClrUsed = 300;
    d.Palette = GreyEntries(16);
    d.Pixels = {0xA5, 0, 0, 0};
    LoadBytes(bmp, d.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf1bit);
    EXPECT_EQ(bmp.Palette().Entries.size(), 2u);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0xA5);

    // Core header with 3-byte entries, fewer than 2^bits as the offset says.
    TBmpBuilder e;
    e.HeaderSize = 12;
    e.Width = 3;
    e.Height = 2;
    e.Bits = 8;
    e.Palette = {{10, 20, 30, 0}, {40, 50, 60, 0}};
    e.Pixels = {1, 0, 1, 0, 0, 1, 0, 0};
    LoadBytes(bmp, e.Build());
    ASSERT_EQ(bmp.Palette().Entries.size(), 2u);
    EXPECT_EQ(bmp.Palette().Entries[1], (TPaletteEntry{40, 50, 60, 0}));
    // The first stored row {1, 0, 1} is the bottom row, {0, 1, 0} the top row.
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(1), e.Pixels.data(), 3));
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(0), e.Pixels.data() + 4, 3));
}

TEST(BmpBitFields, MasksInsideLargerHeadersAndFieldScaling) {
    // 56-byte header: masks (with alpha) inside it; 4-4-4-4 converted to 32 bits.
    TBmpBuilder b;
    b.HeaderSize = 56;
    b.Width = 2;
    b.Height = 1;
    b.Bits = 16;
    b.Compression = 3;
    b.Masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    b.Pixels = {0x8F, 0xF0, 0x00, 0x01};  // 0xF08F, 0x0100
    TBitmap bmp;
    LoadBytes(bmp, b.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf32bit);
    const uint8_t* p = bmp.ScanLine(0);
    EXPECT_EQ(p[0], 255);  // blue 0xF
    EXPECT_EQ(p[1], 136);  // green 0x8
    EXPECT_EQ(p[2], 0);    // red 0x0
    EXPECT_EQ(p[3], 255);  // alpha 0xF
    EXPECT_EQ(p[4 + 2], 17);
    EXPECT_EQ(p[4 + 3], 0);

    // 52-byte header: colour masks only; a 3-3-2 layout without alpha gives 24 bits.
    TBmpBuilder c;
    c.HeaderSize = 52;
    c.Width = 1;
    c.Height = 1;
    c.Bits = 16;
    c.Compression = 3;
    c.Masks = {0xE0, 0x1C, 0x03};
    c.Pixels = {0xAB, 0x00, 0, 0};  // red 101, green 010, blue 11
    LoadBytes(bmp, c.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(bmp.ScanLine(0)[0], 255);
    EXPECT_EQ(bmp.ScanLine(0)[1], 73);  // 2 * 255 / 7 = 72.9, rounded
    EXPECT_EQ(bmp.ScanLine(0)[2], 182);

    // 32 bits with the ordinary masks are copied as stored, fourth byte included.
    TBmpBuilder d;
    d.Width = 1;
    d.Height = 1;
    d.Bits = 32;
    d.Compression = 3;
    d.Masks = {0xFF0000, 0xFF00, 0xFF};
    d.Pixels = {1, 2, 3, 4};
    LoadBytes(bmp, d.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf32bit);
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(0), d.Pixels.data(), 4));

    // 5-5-5 masks in bit fields are the plain 15-bit format.
    TBmpBuilder e;
    e.Width = 1;
    e.Height = 1;
    e.Bits = 16;
    e.Compression = 3;
    e.Masks = {0x7C00, 0x03E0, 0x001F};
    e.Pixels = {0x34, 0x12, 0, 0};
    LoadBytes(bmp, e.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf15bit);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x34);
    EXPECT_EQ(bmp.ScanLine(0)[1], 0x12);
}

TEST(BmpRunLength, RunsAndDeltasLeavingThePictureAreCut) {
    TBmpBuilder b;
    b.Width = 4;
    b.Height = 3;
    b.Compression = 1;
    b.Palette = GreyEntries(16);
    b.Pixels = {
        10, 7,                 // bottom row: a run of 10 into a 4-pixel row
        0, 0,                  // end of line
        0, 3, 1, 2, 3, 0,      // absolute run of 3 (padded)
        3, 9,                  // run starting at x = 3 goes past the end
        0, 2, 200, 200,        // delta far beyond the picture: ends it
        5, 5,                  // never reached
    };
    TBitmap bmp;
    LoadBytes(bmp, b.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf8bit);
    const uint8_t bottom[4] = {7, 7, 7, 7}, middle[4] = {1, 2, 3, 9}, top[4] = {0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(2), bottom, 4));
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(1), middle, 4));
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(0), top, 4));
}

TEST(BmpRunLength, Rle4NibblesOddWidthsAndAbsoluteRuns) {
    TBmpBuilder b;
    b.Width = 5;
    b.Height = 2;
    b.Bits = 4;
    b.Compression = 2;
    b.Palette = GreyEntries(16);
    b.Pixels = {
        7, 0x12,                    // bottom row: 1 2 1 2 1, cut after 5 of 7
        0, 0,
        0, 5, 0xAB, 0xCD, 0xE0, 0,  // absolute 5 nibbles: 3 bytes padded to 4
        0, 1,
    };
    TBitmap bmp;
    LoadBytes(bmp, b.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf4bit);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(IndexAt(bmp.ScanLine(1), x, 4), (x % 2) ? 2u : 1u) << x;
        EXPECT_EQ(IndexAt(bmp.ScanLine(0), x, 4), unsigned(0xA + x)) << x;
    }
}

TEST(BmpRunLength, DataEndingInsideACodeFails) {
    auto make = [](std::vector<uint8_t> data) {
        TBmpBuilder b;
        b.Width = 8;
        b.Height = 2;
        b.Compression = 1;
        b.Palette = GreyEntries(16);
        b.Pixels = std::move(data);
        return b.Build();
    };
    EXPECT_EQ(LoadError(make({0, 6, 1, 2, 3})), "Invalid bitmap file: the compressed data ends inside an absolute run");
    EXPECT_EQ(LoadError(make({4, 1, 0, 2, 1})), "Invalid bitmap file: the compressed data ends inside a delta");
    EXPECT_EQ(LoadError(make({4, 1, 0})), "Invalid bitmap file: the compressed data ends inside a code");
    // Data that simply stops between codes ends the picture; the rest stays index 0.
    TBitmap bmp;
    LoadBytes(bmp, make({3, 9}));
    EXPECT_EQ(bmp.ScanLine(1)[2], 9);
    EXPECT_EQ(bmp.ScanLine(1)[3], 0);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0);
}

TEST(BmpLoad, AFailedLoadChangesNothingAndASuccessSignals) {
    TBitmap bmp;
    LoadBytes(bmp, Grey8(4, 2).Build());
    int changes = 0;
    bmp.OnChange = [&] { ++changes; };
    const std::vector<uint8_t> before(bmp.ScanLine(0), bmp.ScanLine(0) + bmp.RowBytes() * 2);

    TBmpBuilder bad = Grey8(6, 3);
    bad.Pixels.resize(bad.Pixels.size() - 1);  // one byte short
    EXPECT_THROW(LoadBytes(bmp, bad.Build()), EInvalidGraphic);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(bmp.Width(), 4);
    EXPECT_EQ(bmp.Height(), 2);
    EXPECT_EQ(bmp.PixelFormat(), pf8bit);
    EXPECT_EQ(bmp.Palette().Entries.size(), 16u);
    EXPECT_EQ(std::vector<uint8_t>(bmp.ScanLine(0), bmp.ScanLine(0) + bmp.RowBytes() * 2), before);

    TBmpBuilder good;
    good.Width = 2;
    good.Height = -1;  // top-down
    good.Bits = 24;
    good.Pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    LoadBytes(bmp, good.Build());
    EXPECT_GE(changes, 1);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_TRUE(bmp.Palette().Entries.empty());
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(0), good.Pixels.data(), 6));
}

// Every prefix of a valid file is refused cleanly (none of these fixtures has trailing bytes).
TEST(BmpDamage, EveryTruncationFailsCleanly) {
    for (const char* name : {"pal4.bmp", "rle4.bmp", "rle8_delta.bmp", "rgb565_info.bmp", "core8.bmp", "argb32.bmp"}) {
        const std::vector<uint8_t> file = ReadFileBytes(DataPath(name));
        ASSERT_EQ(LoadError(file), "") << name;
        for (size_t len = 0; len < file.size(); ++len) {
            const std::vector<uint8_t> cut(file.begin(), file.begin() + ptrdiff_t(len));
            TBitmap bmp;
            EXPECT_THROW(LoadBytes(bmp, cut), EInvalidGraphic) << name << " cut to " << len;
            EXPECT_TRUE(bmp.Empty());
        }
    }
}

// Any single damaged header byte gives either a clean failure or a consistent picture; the
// sanitizer build turns any stray memory access into a failure here.
TEST(BmpDamage, SingleByteHeaderCorruptionsNeverMisbehave) {
    int loaded = 0, refused = 0;
    for (const char* name : {"pal4.bmp", "rle8.bmp", "rle4.bmp", "rgb565.bmp", "core4.bmp", "bf32_1010210.bmp"}) {
        const std::vector<uint8_t> file = ReadFileBytes(DataPath(name));
        const size_t headerEnd = std::min<size_t>(file.size(), U32At(file, 10));
        for (size_t at = 0; at < headerEnd; ++at) {
            for (int v : {0x00, 0xFF, 0x80, 0x7F, file[at] ^ 0x01, file[at] ^ 0x10}) {
                std::vector<uint8_t> bad = file;
                bad[at] = uint8_t(v);
                TBitmap bmp;
                try {
                    LoadBytes(bmp, bad);
                } catch (const Exception&) {
                    ++refused;
                    EXPECT_TRUE(bmp.Empty());
                    continue;
                }
                ++loaded;
                ASSERT_GT(bmp.Width(), 0) << name << " byte " << at << " = " << v;
                ASSERT_GT(bmp.Height(), 0);
                // The pixels and palette are all reachable.
                volatile uint8_t sink = 0;
                for (int y = 0; y < bmp.Height(); ++y)
                    for (int i = 0; i < bmp.RowBytes(); ++i) sink = sink + bmp.ScanLine(y)[i];
                ASSERT_LE(bmp.Palette().Entries.size(), 256u);
            }
        }
    }
    // Both outcomes occur: damaged sizes are refused, damaged colours still load.
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace qv
