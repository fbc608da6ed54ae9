// Run-length decoders: the format examples, and the bounds on hostile data. Buffers are
// allocated at their exact size so the address sanitizer catches any overrun.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "framework/Exceptions.h"
#include "imageio/Decoders.h"
#include "tests/imageio/DecoderTestUtil.h"

namespace qv {
namespace {

using test::Bytes;

// Decodes src (exactly sized) into a fresh exact-size block pre-filled with 0xEE.
constexpr int32_t WholeSource = INT32_MIN;

Bytes Unpack(TDecoder& d, const Bytes& src, int32_t room, int32_t packed = WholeSource) {
    auto in = std::make_unique<uint8_t[]>(src.size() ? src.size() : 1);
    if (!src.empty()) std::memcpy(in.get(), src.data(), src.size());
    auto out = std::make_unique<uint8_t[]>(room ? size_t(room) : 1);
    std::memset(out.get(), 0xEE, room ? size_t(room) : 1);
    const uint8_t* p = in.get();
    d.Decode(p, out.get(), packed == WholeSource ? int32_t(src.size()) : packed, room);
    return Bytes(out.get(), out.get() + room);
}

constexpr uint8_t A = 'A', B = 'B', C = 'C', D = 'D', X = 'X';

TEST(PackbitsRLE, LiteralRunAndNoOp) {
    TPackbitsRLE d;
    EXPECT_EQ(Unpack(d, {2, A, B, C, 0xFE, D, 0x80}, 6), (Bytes{A, B, C, D, D, D}));
}

TEST(PackbitsRLE, CutAtRoomAndAtSourceEnd) {
    TPackbitsRLE d;
    // A run of 128 into 3 bytes of room, and a literal of 100 with only 2 bytes present.
    EXPECT_EQ(Unpack(d, {0x81, X}, 3), (Bytes{X, X, X}));
    EXPECT_EQ(Unpack(d, {99, A, B}, 4), (Bytes{A, B, 0xEE, 0xEE}));
    // A run header as the last byte has no value: nothing written.
    EXPECT_EQ(Unpack(d, {0, A, 0xFD}, 3), (Bytes{A, 0xEE, 0xEE}));
    // Sizes below zero read and write nothing.
    EXPECT_EQ(Unpack(d, {0xFD, X}, 2, -5), (Bytes{0xEE, 0xEE}));
}

TEST(PackbitsRLE, LeavesSourceWhereItWas) {
    TPackbitsRLE d;
    const uint8_t src[] = {0, A};
    uint8_t out[1];
    const uint8_t* p = src;
    d.Decode(p, out, 2, 1);
    EXPECT_EQ(p, src);
}

TEST(PCXRLE, RunsAndSinglePixels) {
    TPCXRLE d;
    EXPECT_EQ(Unpack(d, {0xC3, 7}, 3), (Bytes{7, 7, 7}));
    EXPECT_EQ(Unpack(d, {0xBF, 0x05}, 2), (Bytes{0xBF, 0x05}));
    EXPECT_EQ(Unpack(d, {0xC3, 7}, 2), (Bytes{7, 7}));
    // A count of 0 consumes two bytes and writes nothing.
    EXPECT_EQ(Unpack(d, {0xC0, 9, 0xC2, 4}, 2), (Bytes{4, 4}));
}

TEST(PCXRLE, StopsAtSourceEnd) {
    TPCXRLE d;
    EXPECT_EQ(Unpack(d, {1, 0xC5}, 4), (Bytes{1, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(Unpack(d, {}, 2), (Bytes{0xEE, 0xEE}));
}

TEST(SGIRLE, EightBitRows) {
    TSGIRLE d;
    EXPECT_EQ(Unpack(d, {0x83, A, B, C, 0x02, D, 0x00}, 5), (Bytes{A, B, C, D, D}));
    // Without the zero count the row ends when it is full: the next byte is not read
    // as a count (the packed size says it is there, a bad count would still be harmless).
    EXPECT_EQ(Unpack(d, {0x82, A, B, 0x03, C}, 5), (Bytes{A, B, C, C, C}));
    EXPECT_EQ(Unpack(d, {0x02, A, 0x05, B}, 4), (Bytes{A, A, B, B}));
}

TEST(SGIRLE, EightBitBounds) {
    TSGIRLE d;
    // Runs longer than the row are cut; a missing zero ends at the packed bytes' end.
    EXPECT_EQ(Unpack(d, {0x7F, X}, 3), (Bytes{X, X, X}));
    EXPECT_EQ(Unpack(d, {0x85, A, B}, 4), (Bytes{A, B, 0xEE, 0xEE}));
    EXPECT_EQ(Unpack(d, {0x02, A, 0x05}, 4), (Bytes{A, A, 0xEE, 0xEE}));
}

TEST(SGIRLE, SixteenBitSamplesKeepTheirHighByte) {
    TSGIRLE d;
    d.SampleSize = 2;
    // Literal of two samples, run of three, zero count.
    const Bytes src = {0x00, 0x82, 0x12, 0x34, 0x56, 0x78, 0x00, 0x03, 0x9A, 0xBC, 0x00, 0x00};
    EXPECT_EQ(Unpack(d, src, 5), (Bytes{0x12, 0x56, 0x9A, 0x9A, 0x9A}));
    // Full row ends decoding; an odd trailing byte is not read as half a count.
    EXPECT_EQ(Unpack(d, {0x00, 0x05, 0x44, 0x00}, 3), (Bytes{0x44, 0x44, 0x44}));
    EXPECT_EQ(Unpack(d, {0x00, 0x81, 0x11, 0x22, 0x00}, 3), (Bytes{0x11, 0xEE, 0xEE}));
    // A literal announcing more samples than the packed bytes hold.
    EXPECT_EQ(Unpack(d, {0x00, 0x84, 0x11, 0x22, 0x33}, 4), (Bytes{0x11, 0xEE, 0xEE, 0xEE}));
}

TEST(SGIRLE, OtherSampleSizesWriteNothing) {
    TSGIRLE d;
    d.SampleSize = 3;
    EXPECT_EQ(Unpack(d, {0x02, A, 0x00}, 2), (Bytes{0xEE, 0xEE}));
}

TEST(CUTRLE, DecodesOneLineAndAdvancesPastItsZero) {
    TCUTRLE d;
    const uint8_t src[] = {6, 0, 0x81, X, 0x02, A, B, 0x00, /* next line */ 3, 0, 0x83, C, 0x00};
    uint8_t row[3];
    const uint8_t* p = src;
    d.Decode(p, row, int32_t(sizeof src), 3);
    EXPECT_EQ(Bytes(row, row + 3), (Bytes{X, A, B}));
    EXPECT_EQ(p, src + 8);
    d.Decode(p, row, int32_t(src + sizeof src - p), 3);
    EXPECT_EQ(Bytes(row, row + 3), (Bytes{C, C, C}));
    EXPECT_EQ(p, src + sizeof src);
}

TEST(CUTRLE, OverlongLineIsCutButStillWalkedToItsZero) {
    TCUTRLE d;
    const uint8_t src[] = {0, 0, 0x85, X, 0x03, A, B, C, 0x00, 0x99};
    uint8_t row[2];
    const uint8_t* p = src;
    d.Decode(p, row, int32_t(sizeof src), 2);
    EXPECT_EQ(Bytes(row, row + 2), (Bytes{X, X}));
    EXPECT_EQ(p, src + 9);
}

TEST(CUTRLE, MissingTerminatorEndsAtSourceEnd) {
    TCUTRLE d;
    for (const Bytes& src : {Bytes{}, Bytes{4}, Bytes{4, 0}, Bytes{4, 0, 0x83}, Bytes{4, 0, 0x05, A}}) {
        auto in = std::make_unique<uint8_t[]>(src.size() + 1);
        if (!src.empty()) std::memcpy(in.get(), src.data(), src.size());
        uint8_t row[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        const uint8_t* p = in.get();
        d.Decode(p, row, int32_t(src.size()), 4);
        EXPECT_EQ(p, in.get() + src.size()) << src.size();
        if (src.size() == 4) {
            EXPECT_EQ(row[0], A);
        }
    }
}

TEST(RLADecoder, RunsAndLiterals) {
    TRLADecoder d;
    EXPECT_EQ(Unpack(d, {0x02, X, 0xFE, A, B}, 5), (Bytes{X, X, X, A, B}));
    EXPECT_EQ(Unpack(d, {0x7F, X}, 4), (Bytes{X, X, X, X}));
    EXPECT_EQ(Unpack(d, {0x80, A, B}, 4), (Bytes{A, B, 0xEE, 0xEE}));
    EXPECT_EQ(Unpack(d, {0x01}, 2), (Bytes{0xEE, 0xEE}));
}

// ---------------------------------------------------------------------------------------
// Targa packets

TEST(TargaRle, EncodeExamples) {
    const uint8_t four[] = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
    uint8_t out[24];
    ASSERT_EQ(EncodeTargaRle(four, out, 4, 3, sizeof out), 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x83, 1, 2, 3}));

    const uint8_t three[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(EncodeTargaRle(three, out, 3, 3, sizeof out), 11);
    EXPECT_EQ(Bytes(out, out + 11), (Bytes{0x01, 1, 2, 3, 4, 5, 6, 0x00, 7, 8, 9}));

    // Literal then run: A B C C C -> literal of two, run of three.
    const uint8_t mixed[] = {A, B, C, C, C};
    ASSERT_EQ(EncodeTargaRle(mixed, out, 5, 1, sizeof out), 5);
    EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x01, A, B, 0x82, C}));
}

TEST(TargaRle, EncodeCapsPacketsAt128Pixels) {
    Bytes same(300, 7);
    Bytes out(600);
    ASSERT_EQ(EncodeTargaRle(same.data(), out.data(), 300, 1, 600), 6);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{0xFF, 7, 0xFF, 7, 0xAB, 7}));

    Bytes ramp(200);
    for (int i = 0; i < 200; ++i) ramp[i] = uint8_t(i);
    ASSERT_EQ(EncodeTargaRle(ramp.data(), out.data(), 200, 1, 600), 1 + 128 + 1 + 71 + 1 + 1);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[129], 70);
    EXPECT_EQ(out[201], 0);
    EXPECT_EQ(out[202], 199);
}

TEST(TargaRle, EncodeRefusesTooSmallBuffer) {
    const uint8_t px[] = {1, 2, 3, 4};
    uint8_t out[4];
    EXPECT_THROW(EncodeTargaRle(px, out, 4, 1, 4), Exception);
    EXPECT_EQ(EncodeTargaRle(px, out, 4, 5, 4), 0);
    EXPECT_EQ(EncodeTargaRle(px, out, 0, 1, 4), 0);
}

TEST(TargaRle, DecodeExamples) {
    // Run of 4 pixels, then a literal of 2 (24-bit).
    const Bytes src = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
    Bytes out(18);
    EXPECT_EQ(DecodeTargaRle(src.data(), out.data(), 18, 24, int32_t(src.size())), 11);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // 15/16-bit pixels are two bytes; 8-bit one.
    const Bytes s16 = {0x81, 0x34, 0x12};
    Bytes o16(4);
    EXPECT_EQ(DecodeTargaRle(s16.data(), o16.data(), 4, 15, 3), 3);
    EXPECT_EQ(o16, (Bytes{0x34, 0x12, 0x34, 0x12}));
    EXPECT_EQ(DecodeTargaRle(s16.data(), o16.data(), 4, 12, 3), 0);
}

TEST(TargaRle, DecodeCutsPacketCrossingTheCountButConsumesItWhole) {
    const Bytes src = {0x01, 1, 2, 0x84, 9, 0x00, 5};
    auto out = std::make_unique<uint8_t[]>(4);
    EXPECT_EQ(DecodeTargaRle(src.data(), out.get(), 4, 8, int32_t(src.size())), 5);
    EXPECT_EQ(Bytes(out.get(), out.get() + 4), (Bytes{1, 2, 9, 9}));
    // Same with a literal that crosses.
    const Bytes lit = {0x05, 1, 2, 3, 4, 5, 6, 0x00, 7};
    EXPECT_EQ(DecodeTargaRle(lit.data(), out.get(), 4, 8, int32_t(lit.size())), 7);
    EXPECT_EQ(Bytes(out.get(), out.get() + 4), (Bytes{1, 2, 3, 4}));
}

TEST(TargaRle, DecodeStopsAtSourceEnd) {
    auto src = std::make_unique<uint8_t[]>(5);
    const uint8_t bytes[] = {0x03, 1, 2, 0x85, 7};
    std::memcpy(src.get(), bytes, 5);
    Bytes out(12, 0xEE);
    // A literal of 4 with 2 bytes present, then a run header with half a 16-bit pixel.
    EXPECT_EQ(DecodeTargaRle(src.get(), out.data(), 12, 8, 3), 3);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{1, 2, 0xEE}));
    const uint8_t b16[] = {0x85, 7};
    Bytes out16(12, 0xEE);
    EXPECT_EQ(DecodeTargaRle(b16, out16.data(), 12, 16, 2), 2);
    EXPECT_EQ(out16, Bytes(12, 0xEE));
}

TEST(TargaRle, RandomRowsSurviveTheRoundTrip) {
    std::mt19937 rng(1234);
    for (int bpp = 1; bpp <= 4; ++bpp) {
        for (int trial = 0; trial < 60; ++trial) {
            const int pixels = 1 + int(rng() % 700);
            Bytes row(size_t(pixels) * bpp);
            // Image-like rows: stretches of repeated pixels between noisy ones.
            for (int i = 0; i < pixels; ++i) {
                const bool repeat = i > 0 && rng() % 3 != 0;
                for (int c = 0; c < bpp; ++c)
                    row[size_t(i) * bpp + c] = repeat ? row[size_t(i - 1) * bpp + c] : uint8_t(rng() % 4);
            }
            const int64_t max = TargaRleMaxPacked(pixels, bpp);
            Bytes packed(static_cast<size_t>(max));
            const int32_t n = EncodeTargaRle(row.data(), packed.data(), pixels, bpp, int32_t(max));
            ASSERT_GT(n, 0);
            ASSERT_LE(n, max);
            Bytes back(row.size());
            const int bits = bpp == 2 ? 16 : bpp * 8;
            EXPECT_EQ(DecodeTargaRle(packed.data(), back.data(), int32_t(back.size()), bits, n), n);
            ASSERT_EQ(back, row) << "bpp " << bpp << " trial " << trial;
        }
    }
}

TEST(TargaRle, WorstCaseStaysWithinTwiceTheRow) {
    // One-byte pixels that never repeat: every packet header is paid for by few pixels.
    for (int pixels : {1, 2, 3, 129, 130}) {
        Bytes row(static_cast<size_t>(pixels));
        for (int i = 0; i < pixels; ++i) row[i] = uint8_t(i * 7);
        Bytes out(static_cast<size_t>(2 * pixels));
        const int32_t n = EncodeTargaRle(row.data(), out.data(), pixels, 1, 2 * pixels);
        EXPECT_LE(n, 2 * pixels);
        Bytes back(row.size());
        DecodeTargaRle(out.data(), back.data(), pixels, 8, n);
        EXPECT_EQ(back, row);
    }
}

TEST(TargaRle, DecodesImageMagickRunLengthFile) {
    // 32 x 20, 24-bit, image type 10, rows stored from the bottom.
    const Bytes file = test::ReadFixture("rose_rle.tga");
    const Bytes expected = test::ReadFixture("rose_bottomup.bgr");
    ASSERT_EQ(file[2], 10);
    const int width = file[12] | file[13] << 8, height = file[14] | file[15] << 8;
    ASSERT_EQ(file[16], 24);
    size_t pos = 18 + file[0];
    const size_t rowBytes = size_t(width) * 3;
    ASSERT_EQ(expected.size(), rowBytes * height);
    for (int y = 0; y < height; ++y) {
        Bytes row(rowBytes);
        pos += DecodeTargaRle(file.data() + pos, row.data(), int32_t(rowBytes), 24,
                              int32_t(file.size() - pos));
        ASSERT_EQ(row, Bytes(expected.begin() + y * rowBytes, expected.begin() + (y + 1) * rowBytes))
            << "row " << y;
    }
}

// ---------------------------------------------------------------------------------------
// SGI files from ffmpeg (rows without the zero count)

struct SgiFile {
    int Width, Height, Channels, Bpc;
    std::vector<uint32_t> Starts, Lengths;
};

SgiFile ParseSgi(const Bytes& f) {
    auto be16 = [&](size_t o) { return uint32_t(f[o] << 8 | f[o + 1]); };
    auto be32 = [&](size_t o) { return uint32_t(f[o]) << 24 | uint32_t(f[o + 1]) << 16 | f[o + 2] << 8 | f[o + 3]; };
    SgiFile s{int(be16(6)), int(be16(8)), int(be16(10)), f[3], {}, {}};
    const size_t rows = size_t(s.Height) * s.Channels;
    for (size_t i = 0; i < rows; ++i) s.Starts.push_back(be32(512 + 4 * i));
    for (size_t i = 0; i < rows; ++i) s.Lengths.push_back(be32(512 + 4 * rows + 4 * i));
    return s;
}

void CheckSgi(const char* name, const char* rgbName, uint8_t sampleSize) {
    const Bytes file = test::ReadFixture(name);
    const Bytes rgb = test::ReadFixture(rgbName);
    ASSERT_EQ(file[2], 1) << "run-length file expected";
    const SgiFile s = ParseSgi(file);
    ASSERT_EQ(s.Bpc, sampleSize);
    ASSERT_EQ(rgb.size(), size_t(s.Width) * s.Height * 3);
    TSGIRLE d;
    d.SampleSize = sampleSize;
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < s.Height; ++r) {
            const size_t i = size_t(c) * s.Height + r;
            ASSERT_LE(size_t(s.Starts[i]) + s.Lengths[i], file.size());
            Bytes packed(file.begin() + s.Starts[i], file.begin() + s.Starts[i] + s.Lengths[i]);
            const Bytes row = Unpack(d, packed, s.Width);
            const int y = s.Height - 1 - r;  // SGI rows are stored from the bottom
            for (int x = 0; x < s.Width; ++x)
                ASSERT_EQ(row[x], rgb[(size_t(y) * s.Width + x) * 3 + c]) << "c " << c << " r " << r << " x " << x;
        }
    }
}

TEST(SGIRLE, DecodesFfmpegFiles) {
    CheckSgi("pattern8.sgi", "pattern.rgb", 1);
    CheckSgi("pattern16.sgi", "pattern16_high.rgb", 2);
}

}  // namespace
}  // namespace qv
