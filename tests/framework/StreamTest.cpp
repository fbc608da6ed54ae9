// Streams: short counts, whole-buffer errors, seeking, growth, files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"

namespace qv {
namespace {

std::string TempName(const std::string& tag) {
    return GetTempPath() + "qv_stream_" + tag + "_" + std::to_string(::getpid());
}

TEST(MemoryStream, ShortReadsReturnTheCountMoved) {
    TMemoryStream s(std::vector<uint8_t>{1, 2, 3, 4, 5});
    uint8_t buf[8] = {};
    EXPECT_EQ(s.Read(buf, 3), 3);
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(buf[1], 5);
    EXPECT_EQ(s.Read(buf, 8), 0);
    EXPECT_EQ(s.Read(buf, -1), 0);
    EXPECT_EQ(s.Position(), 5);
}

TEST(MemoryStream, ReadBufferFailsWithTheStreamReadText) {
    TMemoryStream s(std::vector<uint8_t>{1, 2, 3});
    uint8_t buf[4];
    try {
        s.ReadBuffer(buf, 4);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Erreur de lecture du flux");
    }
    s.SetPosition(0);
    EXPECT_NO_THROW(s.ReadBuffer(buf, 3));
    EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
    EXPECT_EQ(EReadError().Message(), "Erreur de lecture du flux");
}

TEST(MemoryStream, SeekOriginsAndLimits) {
    TMemoryStream s(std::vector<uint8_t>(10, 7));
    EXPECT_EQ(s.Seek(-3, TSeekOrigin::soEnd), 7);
    EXPECT_EQ(s.Seek(2, TSeekOrigin::soCurrent), 9);
    EXPECT_EQ(s.Seek(4, TSeekOrigin::soBeginning), 4);
    EXPECT_THROW(s.Seek(-5, TSeekOrigin::soCurrent), EStreamError);
    EXPECT_EQ(s.Position(), 4);
    EXPECT_THROW(s.Seek(-11, TSeekOrigin::soEnd), EStreamError);
    // Beyond the end is allowed; a write there fills the gap with zeros.
    EXPECT_EQ(s.Seek(14, TSeekOrigin::soBeginning), 14);
    EXPECT_EQ(s.Size(), 10);
    uint8_t buf[1];
    EXPECT_EQ(s.Read(buf, 1), 0);
    const uint8_t x = 0xEE;
    EXPECT_EQ(s.Write(&x, 1), 1);
    EXPECT_EQ(s.Size(), 15);
    EXPECT_EQ(s.Data()[9], 7);
    EXPECT_EQ(s.Data()[10], 0);
    EXPECT_EQ(s.Data()[13], 0);
    EXPECT_EQ(s.Data()[14], 0xEE);
}

TEST(MemoryStream, GrowsOverManySmallWritesAndKeepsContent) {
    TMemoryStream s;
    for (int i = 0; i < 100000; ++i) {
        const uint8_t b = uint8_t(i * 7);
        ASSERT_EQ(s.Write(&b, 1), 1);
    }
    EXPECT_EQ(s.Size(), 100000);
    for (int i = 0; i < 100000; i += 997) EXPECT_EQ(s.Data()[size_t(i)], uint8_t(i * 7));
    // Overwrite in the middle does not change the size.
    s.SetPosition(10);
    s.WriteBuffer("abc", 3);
    EXPECT_EQ(s.Size(), 100000);
    EXPECT_EQ(std::memcmp(s.Memory() + 10, "abc", 3), 0);
}

TEST(MemoryStream, SetSizeClampsThePositionAndClearEmpties) {
    TMemoryStream s(std::vector<uint8_t>(8, 1));
    s.SetPosition(6);
    s.SetSize(4);
    EXPECT_EQ(s.Position(), 4);
    s.SetSize(6);
    EXPECT_EQ(s.Data()[5], 0);
    EXPECT_THROW(s.SetSize(-1), EStreamError);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, CopyFromWholeSourceAndPart) {
    TMemoryStream src(std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
    src.SetPosition(4);
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(src, 0), 6);  // 0: everything from the start
    EXPECT_EQ(dst.Data(), src.Data());
    src.SetPosition(2);
    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(src, 3), 3);
    EXPECT_EQ(part.Data(), (std::vector<uint8_t>{3, 4, 5}));
    src.SetPosition(5);
    EXPECT_THROW(part.CopyFrom(src, 2), EReadError);
}

// A stream that takes only a few bytes, like a full disk.
class TFullStream : public TMemoryStream {
public:
    int64_t Write(const void* buffer, int64_t count) override {
        return TMemoryStream::Write(buffer, std::min<int64_t>(count, 2));
    }
};

TEST(MemoryStream, WriteBufferFailsOnAShortWrite) {
    TFullStream s;
    EXPECT_EQ(s.Write("abcd", 4), 2);
    EXPECT_THROW(s.WriteBuffer("abcd", 4), EWriteError);
    EXPECT_FALSE(EWriteError().Message().empty());
}

TEST(FileStream, WriteReadSeekAndSize) {
    const std::string name = TempName("rw");
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("hello world", 11);
        EXPECT_EQ(f.Size(), 11);
        EXPECT_EQ(f.Position(), 11);
        f.Flush();
    }
    {
        TFileStream f(name, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(f.FileName(), name);
        EXPECT_EQ(f.Size(), 11);
        char buf[16] = {};
        EXPECT_EQ(f.Seek(6, TSeekOrigin::soBeginning), 6);
        EXPECT_EQ(f.Read(buf, 16), 5);
        EXPECT_STREQ(buf, "world");
        EXPECT_EQ(f.Read(buf, 16), 0);
        f.SetPosition(0);
        EXPECT_THROW(f.ReadBuffer(buf, 12), EReadError);
        EXPECT_THROW(f.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
        // A stream opened for reading takes no bytes.
        EXPECT_EQ(f.Write("x", 1), 0);
        EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);
    }
    {
        TFileStream f(name, fmOpenReadWrite);
        f.SetSize(5);
        EXPECT_EQ(f.Size(), 5);
    }
    {
        TFileStream f(name, fmCreate);  // empties the file
        EXPECT_EQ(f.Size(), 0);
    }
    EXPECT_TRUE(DeleteFile(name));
}

TEST(FileStream, OpenErrorsNameTheFileAndTheReason) {
    const std::string missing = TempName("missing") + "/nothing.bin";
    try {
        TFileStream f(missing, fmOpenRead);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
    try {
        TFileStream f(missing, fmCreate);
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_THROW(TFileStream(GetTempPath(), fmOpenRead), EFOpenError);
}

TEST(MemoryStream, LoadAndSaveFiles) {
    const std::string name = TempName("mem");
    TMemoryStream out(std::vector<uint8_t>{9, 8, 7, 0, 6});
    out.SaveToFile(name);
    TMemoryStream in;
    in.LoadFromFile(name);
    EXPECT_EQ(in.Data(), out.Data());
    EXPECT_EQ(in.Position(), 0);
    TMemoryStream copy;
    out.SetPosition(3);
    copy.LoadFromStream(out);
    EXPECT_EQ(copy.Data(), out.Data());
    EXPECT_TRUE(DeleteFile(name));
    EXPECT_THROW(in.LoadFromFile(name), EFOpenError);
    EXPECT_EQ(in.Data(), out.Data());  // a failed load keeps the contents
}

TEST(Exceptions, FormatAndHierarchy) {
    EXPECT_EQ(Format("%s (.%s) %d", "a", "tga", 42), "a (.tga) 42");
    EXPECT_EQ(Format("%s", ""), "");
    const std::string long_(5000, 'x');
    EXPECT_EQ(Format("<%s>", long_.c_str()).size(), 5002u);
    try {
        throw EFOpenError("m");
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "m");
    }
}

}  // namespace
}  // namespace qv
