// LZW decoders: hand-made code streams, streams written by libtiff and ImageMagick, and a
// string-table model that random streams are checked against (table growth, width
// changes, a full table, codes defined by themselves).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "framework/Exceptions.h"
#include "imageio/Decoders.h"
#include "imageio/PixelConversion.h"
#include "tests/imageio/DecoderTestUtil.h"

namespace qv {
namespace {

using test::Bytes;
using test::CodeWriter;

Bytes Decode(TDecoder& d, const Bytes& src, int32_t room) {
    auto in = std::make_unique<uint8_t[]>(src.size() + 1);
    if (!src.empty()) std::memcpy(in.get(), src.data(), src.size());
    auto out = std::make_unique<uint8_t[]>(size_t(room) + 1);
    std::memset(out.get(), 0xEE, size_t(room) + 1);
    const uint8_t* p = in.get();
    d.Decode(p, out.get(), int32_t(src.size()), room);
    EXPECT_EQ(p, in.get()) << "LZW decoders leave the source pointer alone";
    EXPECT_EQ(out[room], 0xEE) << "wrote past UnpackedSize";
    return Bytes(out.get(), out.get() + room);
}

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

// The string table written plainly: each code's whole string. Tracks the code width the
// way the decoders must, so a generator can write streams for either variant.
class LzwModel {
public:
    LzwModel(uint32_t clear, bool early) : FClear(clear), FEarly(early) {
        FInitial = 0;
        while ((1u << FInitial) < clear + 0) ++FInitial;
        FInitial += 1;
        Clear();
    }
    uint32_t Width() const { return FWidth; }
    uint32_t Next() const { return FNext; }
    bool HasPrev() const { return FPrev >= 0; }
    void Clear() {
        FTable.assign(FClear + 2, Bytes{});
        for (uint32_t i = 0; i < FClear; ++i) FTable[i] = Bytes{uint8_t(i)};
        FWidth = FInitial;
        FNext = FClear + 2;
        FPrev = -1;
    }
    Bytes Emit(uint32_t c) {
        if (FPrev < 0) {
            FPrev = int(c);
            return FTable[c];
        }
        Bytes s;
        if (c == FNext) {
            s = FTable[size_t(FPrev)];
            s.push_back(s[0]);
        } else {
            s = FTable[c];
        }
        if (FNext < 4096) {
            Bytes entry = FTable[size_t(FPrev)];
            entry.push_back(s[0]);
            FTable.push_back(entry);
            const uint32_t mask = (1u << FWidth) - 1;
            if (FEarly) {
                ++FNext;
                if (FNext == (1u << FWidth) - 1 && FWidth < 12) ++FWidth;
            } else {
                if (FNext == mask && FWidth < 12) ++FWidth;
                ++FNext;
            }
        }
        FPrev = int(c);
        return s;
    }

private:
    uint32_t FClear;
    bool FEarly;
    uint32_t FInitial = 9;
    std::vector<Bytes> FTable;
    uint32_t FWidth = 9;
    uint32_t FNext = 0;
    int FPrev = -1;
};

struct Stream {
    Bytes Packed;
    Bytes Expected;
    bool TableFilled = false;  // the stream went on with all 4096 codes defined
};

// A random valid stream of `codes` data codes, clears only where asked, ended by the
// end code. High codes are favoured so strings grow and the table fills.
Stream RandomStream(uint32_t clear, bool tiff, int codes, std::mt19937& rng, int clearEvery = 0) {
    LzwModel m(clear, tiff);
    CodeWriter w(tiff);
    Stream s;
    w.Put(clear, int(m.Width()));
    for (int i = 0; i < codes; ++i) {
        if (clearEvery && i % clearEvery == clearEvery - 1) {
            w.Put(clear, int(m.Width()));
            m.Clear();
            continue;
        }
        uint32_t c;
        if (!m.HasPrev()) {
            c = rng() % clear;
        } else {
            const uint32_t top = m.Next() < 4096 ? m.Next() : 4095;
            switch (rng() % 4) {
                case 0: c = rng() % clear; break;
                case 1: c = top; break;  // often the code being defined
                default: c = top - rng() % std::min<uint32_t>(top + 1, 64); break;
            }
            if (c == clear || c == clear + 1) c = rng() % clear;
        }
        const uint32_t width = m.Width();
        const Bytes str = m.Emit(c);
        w.Put(c, int(width));
        s.Expected.insert(s.Expected.end(), str.begin(), str.end());
    }
    w.Put(clear + 1, int(m.Width()));
    s.Packed = w.Data();
    s.TableFilled = m.Next() == 4096;
    return s;
}

// ---------------------------------------------------------------------------------------
// TIFF

TEST(TIFFLZW, SmallStream) {
    CodeWriter w(true);
    for (uint32_t c : {256u, 65u, 66u, 258u, 257u}) w.Put(c, 9);
    TTIFFLZW d;
    EXPECT_EQ(Decode(d, w.Data(), 4), (Bytes{'A', 'B', 'A', 'B'}));
}

TEST(TIFFLZW, WidthIsTenBitsOnceNextFreeCodeIs511) {
    // 254 root codes define entries 258..510, so next free reaches 511 and the code after
    // them is read with 10 bits.
    CodeWriter w(true);
    w.Put(256, 9);
    Bytes expected;
    for (int i = 0; i < 254; ++i) {
        w.Put(uint32_t(i), 9);
        expected.push_back(uint8_t(i));
    }
    w.Put(258, 10);  // entry 258 = bytes 0, 1
    expected.push_back(0);
    expected.push_back(1);
    w.Put(257, 10);
    TTIFFLZW d;
    EXPECT_EQ(Decode(d, w.Data(), int32_t(expected.size())), expected);
}

TEST(TIFFLZW, InvalidCodes) {
    TTIFFLZW d;
    CodeWriter above(true);
    for (uint32_t c : {256u, 65u, 66u, 300u}) above.Put(c, 9);
    EXPECT_EQ(Message([&] { Decode(d, above.Data(), 16); }), "TIF LZW: invalid opcode.");
    // A table code straight after a clear has no string yet.
    CodeWriter first(true);
    for (uint32_t c : {256u, 258u, 257u}) first.Put(c, 9);
    EXPECT_EQ(Message([&] { Decode(d, first.Data(), 16); }), "TIF LZW: invalid opcode.");
    // The decoder is usable again afterwards.
    CodeWriter ok(true);
    for (uint32_t c : {256u, 67u, 257u}) ok.Put(c, 9);
    EXPECT_EQ(Decode(d, ok.Data(), 1), Bytes{'C'});
}

TEST(TIFFLZW, StopsAtOutputLimitAndSourceEnd) {
    CodeWriter w(true);
    for (uint32_t c : {256u, 65u, 66u, 258u, 259u, 257u}) w.Put(c, 9);
    TTIFFLZW d;
    // Cut in the middle of a string.
    EXPECT_EQ(Decode(d, w.Data(), 3), (Bytes{'A', 'B', 'A'}));
    // Without an end code decoding ends with the bytes.
    Bytes cut = w.Data();
    cut.resize(4);  // 32 bits: codes 256, 65, 66 complete
    Bytes got = Decode(d, cut, 6);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 2), (Bytes{'A', 'B'}));
    EXPECT_EQ(got[2], 0xEE);
    // Nothing to do with no room or no data.
    EXPECT_EQ(Decode(d, w.Data(), 0), Bytes{});
    EXPECT_EQ(Decode(d, Bytes{}, 2), (Bytes{0xEE, 0xEE}));
}

TEST(TIFFLZW, RandomStreamsMatchTheStringTable) {
    std::mt19937 rng(77);
    TTIFFLZW d;  // one object for all streams: every Decode starts afresh
    for (int t = 0; t < 20; ++t) {
        // Long streams without a clear fill the table and go on with it.
        const int codes = t == 0 ? 6000 : 300 + int(rng() % 5000);
        const Stream s = RandomStream(256, true, codes, rng, t % 3 == 1 ? 1500 : 0);
        if (t == 0) {
            ASSERT_TRUE(s.TableFilled);
        }
        ASSERT_EQ(Decode(d, s.Packed, int32_t(s.Expected.size())), s.Expected) << "stream " << t;
    }
}

TEST(TIFFLZW, LibtiffStrips) {
    TTIFFLZW d;
    const Bytes rose = test::ReadFixture("rose_rgb.raw");
    EXPECT_EQ(Decode(d, test::ReadFixture("rose_rgb.tif-lzw"), int32_t(rose.size())), rose);

    // The same picture with horizontal differencing (40 x 30 RGB).
    Bytes diff = Decode(d, test::ReadFixture("rose_rgb_pred.tif-lzw"), int32_t(rose.size()));
    for (int y = 0; y < 30; ++y) UndoHorizontalDiff3(diff.data() + y * 120, 39);
    EXPECT_EQ(diff, rose);

    // Grey noise: 12-bit codes and clear codes inside the strip.
    const Bytes noise = test::ReadFixture("noise_grey.raw");
    EXPECT_EQ(Decode(d, test::ReadFixture("noise_grey.tif-lzw"), int32_t(noise.size())), noise);

    // Cut short: exactly the first bytes.
    const Bytes head = Decode(d, test::ReadFixture("noise_grey.tif-lzw"), 1000);
    EXPECT_EQ(head, Bytes(noise.begin(), noise.begin() + 1000));
}

TEST(PackbitsRLE, LibtiffStrip) {
    TPackbitsRLE d;
    const Bytes rose = test::ReadFixture("rose_rgb.raw");
    const Bytes packed = test::ReadFixture("rose_rgb.packbits");
    EXPECT_EQ(Decode(d, packed, int32_t(rose.size())), rose);
}

// ---------------------------------------------------------------------------------------
// GIF

TEST(GIFLZW, CodeSizeTwo) {
    // Clear 4, end 5, 3-bit codes LSB first: 4, 1, 6 (= 1 1), 6 (= 1 1), 2, 5.
    // Entries: 6 = "1 1" (after 6), 7 = "1 1 1" (after second 6): next free 8 > mask 7,
    // so the width became 4 when entry 7 was filled.
    CodeWriter w(false);
    w.Put(4, 3);
    w.Put(1, 3);
    w.Put(6, 3);
    w.Put(6, 3);
    w.Put(2, 4);
    w.Put(5, 4);
    TGIFLZW d;
    d.InitialCodeSize = 2;
    EXPECT_EQ(Decode(d, w.Data(), 6), (Bytes{1, 1, 1, 1, 1, 2}));
}

TEST(GIFLZW, InvalidCodesAndCodeSize) {
    TGIFLZW d;
    d.InitialCodeSize = 2;
    CodeWriter w(false);
    for (uint32_t c : {4u, 1u, 7u}) w.Put(c, 3);
    EXPECT_EQ(Message([&] { Decode(d, w.Data(), 8); }), "GIF LZW: invalid opcode.");
    d.InitialCodeSize = 12;
    EXPECT_EQ(Message([&] { Decode(d, Bytes{0, 0}, 8); }), "GIF LZW: invalid code size.");
    d.InitialCodeSize = 11;
    CodeWriter big(false);
    big.Put(2048, 12);
    big.Put(2047, 12);
    big.Put(2049, 12);
    EXPECT_EQ(Decode(d, big.Data(), 1), Bytes{0xFF});
}

TEST(GIFLZW, RandomStreamsMatchTheStringTable) {
    std::mt19937 rng(99);
    TGIFLZW d;
    for (uint8_t size : {uint8_t(2), uint8_t(3), uint8_t(8), uint8_t(11)}) {
        d.InitialCodeSize = size;
        for (int t = 0; t < 6; ++t) {
            // The first stream fills the table: entry 4095 is stored once and kept.
            const int codes = t == 0 ? 6000 : 200 + int(rng() % 5000);
            const Stream s = RandomStream(1u << size, false, codes, rng, t == 2 ? 1000 : 0);
            if (t == 0) {
            ASSERT_TRUE(s.TableFilled);
        }
            ASSERT_EQ(Decode(d, s.Packed, int32_t(s.Expected.size())), s.Expected)
                << "code size " << int(size) << " stream " << t;
        }
    }
}

TEST(GIFLZW, ImageMagickPictures) {
    TGIFLZW d;
    d.InitialCodeSize = 4;
    const Bytes rose = test::ReadFixture("rose16.idx");
    EXPECT_EQ(Decode(d, test::ReadFixture("rose16.gif-lzw"), int32_t(rose.size())), rose);
    d.InitialCodeSize = 2;
    const Bytes small = test::ReadFixture("rose4.idx");
    EXPECT_EQ(Decode(d, test::ReadFixture("rose4.gif-lzw"), int32_t(small.size())), small);
    // Output cut short.
    EXPECT_EQ(Decode(d, test::ReadFixture("rose4.gif-lzw"), 50), Bytes(small.begin(), small.begin() + 50));
}

TEST(Decoders, EncodeIsANoOp) {
    TTIFFLZW t;
    TGIFLZW g;
    TPackbitsRLE p;
    uint8_t out[2] = {7, 7};
    const uint8_t in[2] = {1, 2};
    int32_t count = 2;
    for (TDecoder* d : std::initializer_list<TDecoder*>{&t, &g, &p}) d->Encode(in, out, count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(out[0], 7);
}

}  // namespace
}  // namespace qv
