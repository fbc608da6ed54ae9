// Length-prefixed strings on streams: byte layout, limits, hostile counts, short streams.
#include <gtest/gtest.h>

#include <algorithm>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "util/USaveObject.h"

namespace qv {
namespace {

std::vector<uint8_t> CountBytes(int32_t n) {
    const uint32_t u = uint32_t(n);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

TEST(StreamString, ByteLayout) {
    TMemoryStream s;
    WriteStreamString(s, "abc");
    EXPECT_EQ(s.Data(), (std::vector<uint8_t>{3, 0, 0, 0, 97, 98, 99}));
    TMemoryStream e;
    WriteStreamString(e, "");
    EXPECT_EQ(e.Data(), (std::vector<uint8_t>{0, 0, 0, 0}));
    // Appends at the current position.
    WriteStreamString(e, "\xE9");
    EXPECT_EQ(e.Data(), (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0xE9}));
}

TEST(StreamString, RoundTripsUpToTheLimit) {
    for (size_t len : {size_t(1), size_t(255), size_t(256), size_t(8191)}) {
        std::string text(len, 'x');
        for (size_t i = 0; i < len; ++i) text[i] = char(1 + i % 254);
        TMemoryStream s;
        WriteStreamString(s, text);
        WriteStreamString(s, "next");
        EXPECT_EQ(s.Size(), int64_t(4 + len + 8));
        s.SetPosition(0);
        std::string back, next;
        ReadStreamString(s, back);
        ReadStreamString(s, next);
        EXPECT_EQ(back, text) << len;
        EXPECT_EQ(next, "next");
    }
}

TEST(StreamString, TooLongStringsAreRefusedBeforeWriting) {
    for (size_t len : {size_t(8192), size_t(100000)}) {
        TMemoryStream s;
        EXPECT_THROW(WriteStreamString(s, std::string(len, 'a')), Exception);
        EXPECT_EQ(s.Size(), 0);
    }
}

TEST(StreamString, ReadAcceptsCountsUpTo8192) {
    TMemoryStream s(CountBytes(8192));
    s.SetPosition(4);
    s.WriteBuffer(std::string(8192, 'q').data(), 8192);
    s.SetPosition(0);
    std::string out;
    ReadStreamString(s, out);
    EXPECT_EQ(out, std::string(8192, 'q'));
    EXPECT_EQ(s.Position(), 4 + 8192);
}

TEST(StreamString, HostileCountsFailAfterTheCountOnly) {
    for (int32_t n : {8193, -1, INT32_MIN, INT32_MAX}) {
        std::vector<uint8_t> bytes = CountBytes(n);
        bytes.insert(bytes.end(), 9000, 'z');
        TMemoryStream s(bytes);
        std::string out = "unchanged";
        EXPECT_THROW(ReadStreamString(s, out), Exception) << n;
        EXPECT_EQ(s.Position(), 4) << n;
        EXPECT_EQ(out, "unchanged");
    }
}

TEST(StreamString, ZeroBytesAreDroppedAndShortStreamsGiveWhatIsThere) {
    TMemoryStream z(std::vector<uint8_t>{5, 0, 0, 0, 'a', 0, 'b', 0, 'c'});
    std::string out;
    ReadStreamString(z, out);
    EXPECT_EQ(out, "abc");
    TMemoryStream cut(std::vector<uint8_t>{10, 0, 0, 0, 'h', 'i'});
    ReadStreamString(cut, out);
    EXPECT_EQ(out, "hi");
    TMemoryStream none;
    out = "x";
    ReadStreamString(none, out);  // nothing at all: a count of 0
    EXPECT_EQ(out, "");
    TMemoryStream zero(std::vector<uint8_t>{0, 0, 0, 0, 'a'});
    out = "x";
    ReadStreamString(zero, out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(zero.Position(), 4);
}

// A stream that takes only a few bytes, like a full disk.
class TFullStream : public TMemoryStream {
public:
    explicit TFullStream(int64_t room) : FRoom(room) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t n = std::min(count, FRoom);
        FRoom -= n;
        return TMemoryStream::Write(buffer, n);
    }

private:
    int64_t FRoom;
};

TEST(StreamString, AShortWriteIsReported) {
    TFullStream s(6);
    EXPECT_THROW(WriteStreamString(s, "abcdef"), EWriteError);
    TFullStream t(2);
    EXPECT_THROW(WriteStreamString(t, ""), EWriteError);
}

}  // namespace
}  // namespace qv
