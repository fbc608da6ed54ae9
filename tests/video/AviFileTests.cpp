// The movie-file services: handles, work files, WAV reading (good and hostile files) and
// the byte layout of saved movies, legacy and OpenDML.
#include <gtest/gtest.h>

#include "AviTestUtil.h"
#include "framework/Stream.h"
#include "video/AviFile.h"

namespace qvtest {
long AllocationCount();  // AllocationCounter.cpp
}

using namespace qv;
using namespace qvtest;

namespace {

std::vector<uint8_t> DibHeader(int32_t w, int32_t h) {
    BITMAPINFOHEADER bih{};
    bih.biSize = 40;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biSizeImage = uint32_t(((w * 24 + 31) / 32) * 4 * h);
    std::vector<uint8_t> b(40);
    std::memcpy(b.data(), &bih, 40);
    return b;
}

// A work file with one video stream of frames whose bytes differ per frame.
class TWorkMovie {
public:
    TWorkMovie(const std::string& path, int frames, int32_t w, int32_t h, uint32_t scale = 40) {
        EXPECT_EQ(AVIFileOpenA(&File, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = scale;
        info.dwRate = 1000;
        info.rcFrame = Rect(0, 0, w, h);
        EXPECT_EQ(AVIFileCreateStreamA(File, &Video, &info), AVIERR_OK);
        const std::vector<uint8_t> header = DibHeader(w, h);
        EXPECT_EQ(AVIStreamSetFormat(Video, 0, header.data(), 40), AVIERR_OK);
        const size_t size = size_t(((w * 24 + 31) / 32) * 4 * h);
        for (int k = 0; k < frames; ++k) {
            Frames.push_back(Ramp(size, uint8_t(k * 13)));
            EXPECT_EQ(AVIStreamWrite(Video, k, 1, Frames.back().data(), int32_t(size), AVIIF_KEYFRAME, nullptr,
                                     nullptr),
                      AVIERR_OK);
        }
    }
    ~TWorkMovie() {
        AVIStreamRelease(Video);
        AVIFileRelease(File);
    }
    PAVIFILE File = nullptr;
    PAVISTREAM Video = nullptr;
    std::vector<std::vector<uint8_t>> Frames;
};

// Opens a WAV file and hands out its first stream.
class TWave {
public:
    explicit TWave(const std::string& path) {
        Result = AVIFileOpenA(&File, path.c_str(), OF_READ, nullptr);
        if (Result == AVIERR_OK) Result = AVIFileGetStream(File, &Stream, 0, 0);
    }
    ~TWave() {
        AVIStreamRelease(Stream);
        AVIFileRelease(File);
    }
    HRESULT Result = AVIERR_OK;
    PAVIFILE File = nullptr;
    PAVISTREAM Stream = nullptr;
};

HRESULT ParseWave(const std::vector<uint8_t>& bytes, TWaveInfo& info) {
    TMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    return ReadWaveInfo(stream, info);
}

struct TMoviChunk {
    uint32_t Id;
    size_t Data;
    uint32_t Size;
    int Segment;
};

// The sample chunks of every 'movi' list, in file order (index chunks left out).
std::vector<TMoviChunk> MoviChunks(const std::vector<TRiffNode>& top) {
    std::vector<TMoviChunk> out;
    for (size_t s = 0; s < top.size(); ++s) {
        const TRiffNode* movi = top[s].Find(Id("LIST"), Id("movi"));
        if (movi == nullptr) continue;
        for (const TRiffNode& c : movi->Children)
            if (FourCC(c.Id).substr(0, 2) != "ix") out.push_back(TMoviChunk{c.Id, c.Data(), c.Size, int(s)});
    }
    return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::vector<uint8_t>(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
}

class AviFileTest : public ::testing::Test {
protected:
    void SetUp() override { AVIFileInit(); }
    void TearDown() override { AVIFileExit(); }
    TScratch Scratch;
};

}  // namespace

// ===================================================================== WAV reading

TEST(WaveInfo, PcmWithOtherChunksAndOddPadding) {
    // An odd-sized chunk before 'fmt ' must be skipped with its pad byte.
    const std::vector<uint8_t> samples = Ramp(10);
    const auto wav = Riff({{"junk", {1, 2, 3}}, {"fmt ", PcmFmt(1, 11025, 16)}, {"data", samples}});
    TWaveInfo info;
    ASSERT_EQ(ParseWave(wav, info), AVIERR_OK);
    EXPECT_EQ(info.FormatTag, 1);
    EXPECT_EQ(info.Channels, 1);
    EXPECT_EQ(info.SamplesPerSec, 11025u);
    EXPECT_EQ(info.AvgBytesPerSec, 22050u);
    EXPECT_EQ(info.BlockAlign, 2);
    ASSERT_EQ(info.Format.size(), 18u);  // WAVEFORMATEX with cbSize 0
    EXPECT_EQ(U16(info.Format, 16), 0);
    EXPECT_EQ(Slice(info.Format, 0, 16), PcmFmt(1, 11025, 16));
    EXPECT_EQ(info.DataOffset, 12 + 12 + 24 + 8);
    EXPECT_EQ(info.DataSize, 10);
}

TEST(WaveInfo, ExtensiblePcmKeepsItsFormat) {
    const auto fmt = ExtensibleFmt(3, 8000, 24);
    const auto wav = Riff({{"fmt ", fmt}, {"data", Ramp(9 * 4)}});
    TWaveInfo info;
    ASSERT_EQ(ParseWave(wav, info), AVIERR_OK);
    EXPECT_EQ(info.FormatTag, 0xFFFE);
    EXPECT_EQ(info.BlockAlign, 9);
    EXPECT_EQ(info.Format, fmt);
    EXPECT_EQ(info.DataSize, 36);
}

TEST(WaveInfo, StreamedAndShortFilesKeepWhatIsThere) {
    // Data announced beyond the end (a cut or streamed file), and a tail that is not a
    // whole block: only whole blocks inside the file count.
    auto wav = Riff({{"fmt ", PcmFmt(2, 8000, 16)}, {"data", Ramp(23)}});
    wav.pop_back();  // the pad byte
    const size_t sizeField = wav.size() - 23 - 4;
    wav[sizeField] = 0xFF;
    wav[sizeField + 1] = 0xFF;
    wav[4] = wav[5] = wav[6] = wav[7] = 0xFF;  // RIFF size of a streamed file
    TWaveInfo info;
    ASSERT_EQ(ParseWave(wav, info), AVIERR_OK);
    EXPECT_EQ(info.DataSize, 20);
}

TEST(WaveInfo, HostileFilesAreRefused) {
    const auto goodFmt = PcmFmt(1, 8000, 16);
    auto badAlign = goodFmt;
    badAlign[12] = 3;
    auto badRate = goodFmt;
    badRate[8] = 1;
    auto noChannels = goodFmt;
    noChannels[2] = 0;
    auto float32 = PcmFmt(1, 8000, 32, 3);
    auto wideBits = PcmFmt(1, 8000, 64);
    auto shortExt = ExtensibleFmt(2, 8000, 16);
    shortExt.resize(30);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"too short", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A'}},
        {"not RIFF", Riff({{"fmt ", goodFmt}, {"data", Ramp(4)}}, "WAVE")},
        {"AVI form", Riff({{"fmt ", goodFmt}, {"data", Ramp(4)}}, "AVI ")},
        {"no fmt", Riff({{"data", Ramp(4)}})},
        {"no data", Riff({{"fmt ", goodFmt}})},
        {"fmt too short", Riff({{"fmt ", Slice(goodFmt, 0, 14)}, {"data", Ramp(4)}})},
        {"two fmt", Riff({{"fmt ", goodFmt}, {"fmt ", goodFmt}, {"data", Ramp(4)}})},
        {"block align", Riff({{"fmt ", badAlign}, {"data", Ramp(4)}})},
        {"byte rate", Riff({{"fmt ", badRate}, {"data", Ramp(4)}})},
        {"no channels", Riff({{"fmt ", noChannels}, {"data", Ramp(4)}})},
        {"float", Riff({{"fmt ", float32}, {"data", Ramp(4)}})},
        {"64-bit", Riff({{"fmt ", wideBits}, {"data", Ramp(16)}})},
        {"extensible float", Riff({{"fmt ", ExtensibleFmt(2, 8000, 32, false)}, {"data", Ramp(8)}})},
        {"extensible short", Riff({{"fmt ", shortExt}, {"data", Ramp(4)}})},
    };
    for (const auto& [name, bytes] : cases) {
        auto wav = bytes;
        if (std::string(name) == "not RIFF") wav[0] = 'X';
        TWaveInfo info;
        EXPECT_EQ(ParseWave(wav, info), AVIERR_BADFORMAT) << name;
    }
    // A fmt chunk that claims more bytes than the file has.
    auto cut = Riff({{"fmt ", goodFmt}});
    cut[16] = 200;
    TWaveInfo info;
    EXPECT_EQ(ParseWave(cut, info), AVIERR_BADFORMAT);
    // A leading chunk whose size jumps beyond the end hides everything after it.
    auto jump = Riff({{"junk", Ramp(2)}, {"fmt ", goodFmt}, {"data", Ramp(4)}});
    jump[16] = jump[17] = jump[18] = jump[19] = 0xFF;
    EXPECT_EQ(ParseWave(jump, info), AVIERR_BADFORMAT);
}

TEST(WaveInfo, ManyTinyChunksBeforeTheSound) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> few(100, {"pad ", {}});
    few.push_back({"fmt ", PcmFmt(1, 8000, 8)});
    few.push_back({"data", Ramp(8)});
    TWaveInfo info;
    EXPECT_EQ(ParseWave(Riff(few), info), AVIERR_OK);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> many(5000, {"pad ", {}});
    many.insert(many.end(), few.end() - 2, few.end());
    EXPECT_EQ(ParseWave(Riff(many), info), AVIERR_BADFORMAT);
}

TEST_F(AviFileTest, OpeningWaveFiles) {
    PAVIFILE f = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpenA(&f, Scratch.File("missing.wav").c_str(), OF_READ, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(f, nullptr);
    WriteFileBytes(Scratch.File("text.wav"), {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(AVIFileOpenA(&f, Scratch.File("text.wav").c_str(), OF_READ, nullptr), AVIERR_BADFORMAT);
    WriteFileBytes(Scratch.File("sound.mp3"), {'I', 'D', '3'});
    EXPECT_EQ(AVIFileOpenA(&f, Scratch.File("sound.mp3").c_str(), OF_READ, nullptr), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(AVIFileOpenA(&f, Scratch.Root().c_str(), OF_READ, nullptr), REGDB_E_CLASSNOTREG);
    std::filesystem::create_directory(Scratch.File("folder.wav"));
    EXPECT_EQ(AVIFileOpenA(&f, Scratch.File("folder.wav").c_str(), OF_READ, nullptr), AVIERR_FILEOPEN);
}

TEST_F(AviFileTest, WaveFileMadeByFfmpegGivesItsSamples) {
    const std::string path = std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav";
    TWave wave(path);
    ASSERT_EQ(wave.Result, AVIERR_OK);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(wave.Stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeAUDIO);
    EXPECT_EQ(info.dwScale, 2u);
    EXPECT_EQ(info.dwRate, 16000u);
    EXPECT_EQ(info.dwSampleSize, 2u);
    EXPECT_EQ(info.dwLength, 4000u);
    EXPECT_EQ(AVIStreamLength(wave.Stream), 4000);
    int32_t fmtSize = 0;
    ASSERT_EQ(AVIStreamReadFormat(wave.Stream, 0, nullptr, &fmtSize), AVIERR_OK);
    EXPECT_EQ(fmtSize, 18);

    // The samples are the file's data chunk (after the LIST chunk ffmpeg adds).
    const std::vector<uint8_t> file = ReadFileBytes(path);
    std::vector<uint8_t> all(8000);
    int32_t bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(wave.Stream, 0, 4000, all.data(), 8000, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 8000);
    EXPECT_EQ(samples, 4000);
    EXPECT_EQ(all, Slice(file, file.size() - 8000, 8000));
    // A buffer too small for one sample, and a start beyond the end.
    EXPECT_EQ(AVIStreamRead(wave.Stream, 0, 1, all.data(), 1, &bytes, &samples), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(AVIStreamRead(wave.Stream, 4000, 1, all.data(), 2, &bytes, &samples), AVIERR_NODATA);
}

// ===================================================================== handles and work files

TEST_F(AviFileTest, ReferenceCountsAndStaleHandles) {
    TWave wave(std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav");
    ASSERT_EQ(wave.Result, AVIERR_OK);
    EXPECT_EQ(AVIFileAddRef(wave.File), 2);
    EXPECT_EQ(AVIFileRelease(wave.File), 1);

    PAVISTREAM again = nullptr;
    ASSERT_EQ(AVIFileGetStream(wave.File, &again, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(again, wave.Stream);  // the same stream, one more reference
    EXPECT_EQ(AVIStreamRelease(again), 1);
    EXPECT_EQ(AVIFileGetStream(wave.File, &again, streamtypeVIDEO, 0), AVIERR_NODATA);
    EXPECT_EQ(AVIFileGetStream(wave.File, &again, 0, 1), AVIERR_NODATA);

    // The stream keeps its file's data alive after the file handle is gone.
    PAVISTREAM copy = nullptr;
    ASSERT_EQ(CreateEditableStream(&copy, wave.Stream), AVIERR_OK);
    EXPECT_EQ(AVIFileRelease(wave.File), 0);
    EXPECT_EQ(AVIFileRelease(wave.File), 0);  // stale: nothing left to release
    wave.File = nullptr;
    EXPECT_EQ(AVIStreamRelease(wave.Stream), 0);
    wave.Stream = nullptr;
    std::vector<uint8_t> two(4);
    EXPECT_EQ(AVIStreamRead(copy, 0, 2, two.data(), 4, nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamRelease(copy), 0);
    EXPECT_EQ(AVIStreamRead(copy, 0, 2, two.data(), 4, nullptr, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamWrite(copy, 0, 1, two.data(), 4, 0, nullptr, nullptr), AVIERR_BADHANDLE);
}

TEST_F(AviFileTest, WorkFileCollectsRawSamples) {
    const std::string path = Scratch.File("work.avi");
    TWorkMovie movie(path, 3, 5, 2);
    // Samples go to disk as they are written: the file holds them and nothing else.
    std::vector<uint8_t> expected;
    for (const auto& f : movie.Frames) expected.insert(expected.end(), f.begin(), f.end());
    EXPECT_EQ(ReadFileBytes(path), expected);
    EXPECT_EQ(AVIStreamLength(movie.Video), 3);

    // An editable copy is a snapshot: later frames of the source do not show through.
    PAVISTREAM copy = nullptr;
    ASSERT_EQ(CreateEditableStream(&copy, movie.Video), AVIERR_OK);
    std::vector<uint8_t> extra = Ramp(movie.Frames[0].size(), 99);
    EXPECT_EQ(AVIStreamWrite(movie.Video, -1, 1, extra.data(), int32_t(extra.size()), 0, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(movie.Video), 4);
    EXPECT_EQ(AVIStreamLength(copy), 3);
    std::vector<uint8_t> frame(movie.Frames[1].size());
    int32_t bytes = 0;
    ASSERT_EQ(AVIStreamRead(copy, 1, 1, frame.data(), int32_t(frame.size()), &bytes, nullptr), AVIERR_OK);
    EXPECT_EQ(frame, movie.Frames[1]);
    EXPECT_EQ(AVIStreamWrite(copy, 3, 1, extra.data(), int32_t(extra.size()), 0, nullptr, nullptr),
              AVIERR_READONLY);
    AVIStreamRelease(copy);
}

TEST_F(AviFileTest, WorkFileRefusesMisuse) {
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, Scratch.File("w.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwRate = 1000;
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_BADPARAM);  // scale 0: no speed
    EXPECT_EQ(stream, nullptr);
    info.dwScale = 40;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);

    std::vector<uint8_t> frame = Ramp(8);
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, frame.data(), 8, 0, nullptr, nullptr), AVIERR_BADFORMAT);
    std::vector<uint8_t> header = DibHeader(2, 1);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, header.data(), 39), AVIERR_BADFORMAT);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, header.data(), 40), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, header.data(), 40), AVIERR_OK);  // the same again
    header[4] = 7;
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, header.data(), 40), AVIERR_UNSUPPORTED);

    int32_t written = -1;
    EXPECT_EQ(AVIStreamWrite(stream, 1, 1, frame.data(), 8, 0, &written, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(AVIStreamWrite(stream, 0, 2, frame.data(), 8, 0, nullptr, nullptr), AVIERR_BADSIZE);
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, nullptr, 8, 0, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, frame.data(), 8, AVIIF_KEYFRAME, &written, nullptr), AVIERR_OK);
    EXPECT_EQ(written, 1);

    TWave wave(std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav");
    PAVISTREAM other = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(wave.File, &other, &info), AVIERR_READONLY);
    EXPECT_EQ(AVIStreamSetFormat(wave.Stream, 0, header.data(), 40), AVIERR_READONLY);
    EXPECT_EQ(AVIFileCreateStreamA(reinterpret_cast<PAVIFILE>(stream), &other, &info), AVIERR_BADHANDLE);

    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

TEST_F(AviFileTest, AppendingSamplesDoesNotAllocateEveryTime) {
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, Scratch.File("w.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 40;
    info.dwRate = 1000;
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    const std::vector<uint8_t> header = DibHeader(1, 1);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, header.data(), 40), AVIERR_OK);
    const std::vector<uint8_t> sample = Ramp(4);
    const long before = AllocationCount();
    for (int k = 0; k < 4096; ++k)
        ASSERT_EQ(AVIStreamWrite(stream, -1, 1, sample.data(), 4, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
    // The sample list grows in steps, not by one entry (and one copy of it) per sample.
    EXPECT_LT(AllocationCount() - before, 64);
    EXPECT_EQ(AVIStreamLength(stream), 4096);
    std::vector<uint8_t> last(4);
    ASSERT_EQ(AVIStreamRead(stream, 4095, 1, last.data(), 4, nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(last, sample);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

// ===================================================================== saved movies

namespace {

struct TSaved {
    std::vector<uint8_t> Bytes;
    std::vector<TRiffNode> Top;
};

TSaved Save(const std::string& path, std::vector<PAVISTREAM> streams, HRESULT expect = AVIERR_OK) {
    EXPECT_EQ(AVISaveV(path.c_str(), nullptr, nullptr, int(streams.size()), streams.data(), nullptr), expect);
    TSaved s;
    s.Bytes = ReadFileBytes(path);
    s.Top = ParseRiff(s.Bytes, 0, s.Bytes.size());
    return s;
}

}  // namespace

TEST_F(AviFileTest, LegacyLayoutWithInterleavedAudio) {
    // 8-bit mono at 1001 Hz gives odd audio chunks (pad bytes); 3 frames of 40 ms.
    const std::vector<uint8_t> samples = Ramp(301, 5);
    WriteFileBytes(Scratch.File("a.wav"), Riff({{"fmt ", PcmFmt(1, 1001, 8)}, {"data", samples}}));
    TWorkMovie movie(Scratch.File("work"), 3, 5, 2);
    TWave wave(Scratch.File("a.wav"));
    ASSERT_EQ(wave.Result, AVIERR_OK);
    const TSaved s = Save(Scratch.File("out.avi"), {movie.Video, wave.Stream});
    const auto& b = s.Bytes;

    ASSERT_EQ(s.Top.size(), 1u);
    const TRiffNode& riff = s.Top[0];
    EXPECT_EQ(riff.Type, Id("AVI "));
    const TRiffNode* hdrl = riff.Find(Id("LIST"), Id("hdrl"));
    ASSERT_NE(hdrl, nullptr);
    EXPECT_EQ(hdrl->Find(Id("LIST"), Id("odml")), nullptr);  // small movie: no OpenDML

    const TRiffNode* avih = hdrl->Find(Id("avih"));
    ASSERT_NE(avih, nullptr);
    ASSERT_EQ(avih->Size, 56u);
    const size_t a = avih->Data();
    EXPECT_EQ(U32(b, a), 40000u);         // microseconds per frame
    EXPECT_EQ(U32(b, a + 12), 0x110u);    // has index, interleaved
    EXPECT_EQ(U32(b, a + 16), 3u);        // total frames
    EXPECT_EQ(U32(b, a + 24), 2u);        // streams
    EXPECT_EQ(U32(b, a + 28), 181u);      // suggested buffer: the largest chunk
    EXPECT_EQ(U32(b, a + 32), 5u);
    EXPECT_EQ(U32(b, a + 36), 2u);

    ASSERT_EQ(hdrl->Count(Id("LIST"), Id("strl")), 2);
    const TRiffNode* vstrl = hdrl->Find(Id("LIST"), Id("strl"), 0);
    const TRiffNode* astrl = hdrl->Find(Id("LIST"), Id("strl"), 1);
    const size_t vh = vstrl->Find(Id("strh"))->Data();
    EXPECT_EQ(U32(b, vh), Id("vids"));
    EXPECT_EQ(U32(b, vh + 20), 40u);    // scale
    EXPECT_EQ(U32(b, vh + 24), 1000u);  // rate
    EXPECT_EQ(U32(b, vh + 32), 3u);     // length
    EXPECT_EQ(U32(b, vh + 36), 32u);    // suggested buffer
    EXPECT_EQ(U32(b, vh + 44), 0u);     // sample size
    EXPECT_EQ(U16(b, vh + 52), 5u);     // rcFrame right, bottom
    EXPECT_EQ(U16(b, vh + 54), 2u);
    const TRiffNode* vstrf = vstrl->Find(Id("strf"));
    EXPECT_EQ(Slice(b, vstrf->Data(), vstrf->Size), DibHeader(5, 2));

    const size_t ah = astrl->Find(Id("strh"))->Data();
    EXPECT_EQ(U32(b, ah), Id("auds"));
    EXPECT_EQ(U32(b, ah + 20), 1u);     // scale = block align
    EXPECT_EQ(U32(b, ah + 24), 1001u);  // rate = bytes per second
    EXPECT_EQ(U32(b, ah + 32), 301u);   // length in blocks
    EXPECT_EQ(U32(b, ah + 36), 181u);   // suggested buffer: its largest chunk
    EXPECT_EQ(U32(b, ah + 44), 1u);     // sample size = block align
    const TRiffNode* astrf = astrl->Find(Id("strf"));
    ASSERT_EQ(astrf->Size, 18u);
    std::vector<uint8_t> wfx = PcmFmt(1, 1001, 8);
    wfx.push_back(0);
    wfx.push_back(0);
    EXPECT_EQ(Slice(b, astrf->Data(), 18), wfx);

    // Interleave: for each frame the sound up to its end, then the frame; then the rest.
    const auto chunks = MoviChunks(s.Top);
    std::vector<std::string> order;
    for (const auto& c : chunks) order.push_back(FourCC(c.Id) + ":" + std::to_string(c.Size));
    const std::vector<std::string> expectOrder = {"01wb:40", "00dc:32", "01wb:40", "00dc:32",
                                                  "01wb:40", "00dc:32", "01wb:181"};
    EXPECT_EQ(order, expectOrder);
    std::vector<uint8_t> sound;
    int frame = 0;
    for (const auto& c : chunks) {
        const auto payload = Slice(b, c.Data, c.Size);
        if (c.Id == Id("00dc"))
            EXPECT_EQ(payload, movie.Frames[size_t(frame++)]);
        else
            sound.insert(sound.end(), payload.begin(), payload.end());
    }
    EXPECT_EQ(sound, samples);

    // idx1: one entry per chunk, offsets from the 'movi' type field, key frames flagged.
    const TRiffNode* movi = riff.Find(Id("LIST"), Id("movi"));
    const TRiffNode* idx1 = riff.Find(Id("idx1"));
    ASSERT_NE(idx1, nullptr);
    ASSERT_EQ(idx1->Size, 16u * chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        const size_t e = idx1->Data() + 16 * i;
        EXPECT_EQ(U32(b, e), chunks[i].Id);
        EXPECT_EQ(U32(b, e + 4), AVIIF_KEYFRAME);
        EXPECT_EQ(movi->Data() + U32(b, e + 8), chunks[i].Data - 8);
        EXPECT_EQ(U32(b, e + 12), chunks[i].Size);
    }
}

namespace {

// Follows super index -> standard indexes -> chunks for one stream and returns the data
// positions it reaches, checking each step.
std::vector<size_t> FollowOpenDml(const TSaved& s, const TRiffNode& strl, uint32_t chunkId, uint32_t ixId,
                                  int64_t& duration) {
    const auto& b = s.Bytes;
    std::vector<size_t> reached;
    const TRiffNode* indx = strl.Find(Id("indx"));
    if (indx == nullptr) {
        ADD_FAILURE() << "no indx";
        return reached;
    }
    const size_t d = indx->Data();
    EXPECT_EQ(U16(b, d), 4u);
    EXPECT_EQ(b[d + 3], 0u);  // index of indexes
    const uint32_t inUse = U32(b, d + 4);
    EXPECT_EQ(U32(b, d + 8), chunkId);
    EXPECT_LE(24 + 16 * size_t(inUse), indx->Size);
    duration = 0;
    for (uint32_t e = 0; e < inUse; ++e) {
        const size_t entry = d + 24 + 16 * e;
        const size_t ix = size_t(U64(b, entry));
        EXPECT_EQ(U32(b, ix), ixId);
        EXPECT_EQ(U32(b, ix + 4) + 8, U32(b, entry + 8));
        duration += U32(b, entry + 12);
        EXPECT_EQ(U16(b, ix + 8), 2u);
        EXPECT_EQ(b[ix + 11], 1u);  // index of chunks
        const uint32_t count = U32(b, ix + 12);
        EXPECT_EQ(U32(b, ix + 16), chunkId);
        const uint64_t base = U64(b, ix + 20);
        for (uint32_t k = 0; k < count; ++k) {
            const size_t data = size_t(base + U32(b, ix + 32 + 8 * k));
            const uint32_t size = U32(b, ix + 36 + 8 * k);
            EXPECT_EQ(size & 0x80000000u, 0u) << "every sample is a key frame";
            EXPECT_EQ(U32(b, data - 8), chunkId);
            EXPECT_EQ(U32(b, data - 4), size);
            reached.push_back(data);
        }
    }
    return reached;
}

}  // namespace

TEST_F(AviFileTest, OpenDmlSegmentsIndexEveryChunk) {
    const std::vector<uint8_t> samples = Ramp(3000, 9);
    WriteFileBytes(Scratch.File("a.wav"), Riff({{"fmt ", PcmFmt(1, 8000, 8)}, {"data", samples}}));
    TWorkMovie movie(Scratch.File("work"), 40, 16, 8);  // 384-byte frames
    TWave wave(Scratch.File("a.wav"));
    ASSERT_EQ(wave.Result, AVIERR_OK);
    const int64_t limit = 4096;
    TSegmentLimit segmentLimit(limit);
    const TSaved s = Save(Scratch.File("big.avi"), {movie.Video, wave.Stream});
    const auto& b = s.Bytes;

    ASSERT_GT(s.Top.size(), 3u);
    for (size_t k = 0; k < s.Top.size(); ++k) {
        EXPECT_EQ(s.Top[k].Id, Id("RIFF"));
        EXPECT_EQ(s.Top[k].Type, k == 0 ? Id("AVI ") : Id("AVIX"));
        EXPECT_LE(int64_t(s.Top[k].Size) + 8, limit);
        EXPECT_NE(s.Top[k].Find(Id("LIST"), Id("movi")), nullptr);
        EXPECT_EQ(s.Top[k].Find(Id("idx1")) != nullptr, k == 0);
    }
    const TRiffNode* hdrl = s.Top[0].Find(Id("LIST"), Id("hdrl"));
    const TRiffNode* odml = hdrl->Find(Id("LIST"), Id("odml"));
    ASSERT_NE(odml, nullptr);
    EXPECT_EQ(U32(b, odml->Find(Id("dmlh"))->Data()), 40u);  // all frames

    const auto chunks = MoviChunks(s.Top);
    std::vector<size_t> video, audio;
    int firstSegmentFrames = 0;
    std::vector<uint8_t> sound;
    for (const auto& c : chunks) {
        if (c.Id == Id("00dc")) {
            EXPECT_EQ(Slice(b, c.Data, c.Size), movie.Frames[video.size()]);
            video.push_back(c.Data);
            firstSegmentFrames += c.Segment == 0 ? 1 : 0;
        } else {
            audio.push_back(c.Data);
            const auto p = Slice(b, c.Data, c.Size);
            sound.insert(sound.end(), p.begin(), p.end());
        }
    }
    EXPECT_EQ(video.size(), 40u);
    EXPECT_EQ(sound, samples);
    EXPECT_EQ(U32(b, hdrl->Find(Id("avih"))->Data() + 16), uint32_t(firstSegmentFrames));

    int64_t duration = 0;
    EXPECT_EQ(FollowOpenDml(s, *hdrl->Find(Id("LIST"), Id("strl"), 0), Id("00dc"), Id("ix00"), duration), video);
    EXPECT_EQ(duration, 40);
    EXPECT_EQ(FollowOpenDml(s, *hdrl->Find(Id("LIST"), Id("strl"), 1), Id("01wb"), Id("ix01"), duration), audio);
    EXPECT_EQ(duration, 3000);

    // The legacy index covers exactly the first segment.
    const TRiffNode* idx1 = s.Top[0].Find(Id("idx1"));
    size_t inFirst = 0;
    for (const auto& c : chunks) inFirst += c.Segment == 0 ? 1 : 0;
    EXPECT_EQ(idx1->Size, 16 * inFirst);
}

TEST_F(AviFileTest, OpenDmlMovieDecodesEveryFrame) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TWorkMovie movie(Scratch.File("work"), 30, 8, 4);
    TSegmentLimit segmentLimit(1000);
    const TSaved s = Save(Scratch.File("seg.avi"), {movie.Video});
    ASSERT_GE(s.Top.size(), 5u);
    // Frames are bottom-up BGR rows of 24 bytes; turn them into top-down RGB.
    std::vector<uint8_t> expected;
    for (const auto& f : movie.Frames)
        for (int y = 3; y >= 0; --y)
            for (int x = 0; x < 8; ++x) {
                const size_t p = size_t(y) * 24 + size_t(x) * 3;
                expected.insert(expected.end(), {f[p + 2], f[p + 1], f[p]});
            }
    EXPECT_EQ(DecodeRgb(Scratch.File("seg.avi")), expected);
}

TEST_F(AviFileTest, FailedOrCancelledSaveKeepsTheOldFile) {
    TWorkMovie movie(Scratch.File("work"), 4, 4, 4);
    const std::string target = Scratch.File("old.avi");
    WriteFileBytes(target, {'o', 'l', 'd'});
    PAVISTREAM streams[2] = {movie.Video, reinterpret_cast<PAVISTREAM>(&movie)};
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 2, streams, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>({'o', 'l', 'd'}));

    static int calls;
    calls = 0;
    auto cancelHalfway = [](int percent) { return ++calls, percent >= 50 ? 1 : 0; };
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, cancelHalfway, 1, streams, nullptr), AVIERR_USERABORT);
    EXPECT_GE(calls, 2);
    EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>({'o', 'l', 'd'}));

    EXPECT_EQ(AVISaveV(Scratch.File("no/such/dir.avi").c_str(), nullptr, nullptr, 1, streams, nullptr),
              AVIERR_FILEWRITE);
    EXPECT_EQ(AVISaveV("", nullptr, nullptr, 1, streams, nullptr), AVIERR_FILEOPEN);
    // Nothing but the work file and the old target in the folder: no half-written temp files.
    EXPECT_EQ(TScratch::Entries(Scratch.Root()), (std::vector<std::string>{"old.avi", "tmp", "work"}));

    int last = -1;
    static int* lastPtr;
    lastPtr = &last;
    auto record = [](int percent) { *lastPtr = percent; return 0; };
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, record, 1, streams, nullptr), AVIERR_OK);
    EXPECT_EQ(last, 100);
    const std::vector<uint8_t> saved = ReadFileBytes(target);
    ASSERT_GT(saved.size(), 12u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 4), "RIFF");
    EXPECT_EQ(U32(saved, 4) + 8, saved.size());
}
