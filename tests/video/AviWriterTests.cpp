// TAviWriter: properties, checks and messages, frames as stored, the WAV sound track, the
// work file and the target's safety; the DIB helpers.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <memory>

#include "AviTestUtil.h"
#include "framework/Exceptions.h"
#include "framework/System.h"
#include "video/AviWriter.h"

using namespace qv;
using namespace qvtest;

namespace {

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "<no exception>";
}

// Owned frames handed to a writer.
struct TFrames {
    std::vector<std::unique_ptr<TBitmap>> Items;
    TBitmap& Add(int32_t w, int32_t h, int seed) {
        Items.push_back(std::make_unique<TBitmap>());
        FillPattern(*Items.back(), w, h, seed);
        return *Items.back();
    }
    void HandTo(TAviWriter& writer) {
        for (auto& b : Items) writer.Bitmaps().push_back(b.get());
    }
};

// Frame k of a saved movie as rows top-down of B,G,R (from the bottom-up DIB).
std::vector<uint8_t> StoredFrame(const std::vector<uint8_t>& file, int k, int32_t w, int32_t h) {
    const auto top = ParseRiff(file, 0, file.size());
    std::vector<uint8_t> out;
    if (top.empty()) return out;
    const TRiffNode* movi = top[0].Find(Id("LIST"), Id("movi"));
    if (movi == nullptr) return out;
    const TRiffNode* chunk = movi->Find(Id("00dc"), 0, k);
    if (chunk == nullptr) return out;
    const size_t stride = size_t(RowStride(w, 24));
    EXPECT_EQ(chunk->Size, stride * size_t(h));
    for (int32_t y = h - 1; y >= 0; --y)
        out.insert(out.end(), file.begin() + std::ptrdiff_t(chunk->Data() + size_t(y) * stride),
                   file.begin() + std::ptrdiff_t(chunk->Data() + size_t(y) * stride + size_t(w) * 3));
    return out;
}

std::vector<uint8_t> Bgr(const TBitmap& bmp) {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < bmp.Height(); ++y)
        for (int32_t x = 0; x < bmp.Width(); ++x) {
            const TColor c = bmp.PixelColor(x, y);
            out.insert(out.end(), {GetBValue(c), GetGValue(c), GetRValue(c)});
        }
    return out;
}

class AviWriterTest : public ::testing::Test {
protected:
    TScratch Scratch;
    // Nothing left in the temp folder: the work file is gone.
    void ExpectNoWorkFile() { EXPECT_TRUE(TScratch::Entries(Scratch.TmpDir()).empty()); }
};

}  // namespace

// ===================================================================== properties

TEST(AviWriterProperties, DefaultsFollowTheScreen) {
    {
        TAviWriter w;
        EXPECT_EQ(w.Width(), ScreenWidth() / 10);
        EXPECT_EQ(w.Height(), ScreenHeight() / 10);
        EXPECT_EQ(w.FrameTime(), 1000);
        EXPECT_TRUE(w.Stretch());
        EXPECT_EQ(w.FileName(), "");
        EXPECT_EQ(w.WavFileName(), "");
        EXPECT_TRUE(w.Bitmaps().empty());
    }
    const int oldW = ScreenWidth(), oldH = ScreenHeight();
    SetScreenSize(1366, 768);
    TAviWriter w;
    SetScreenSize(oldW, oldH);
    EXPECT_EQ(w.Width(), 136);
    EXPECT_EQ(w.Height(), 76);
}

TEST(AviWriterProperties, WavFileNameSetter) {
    TAviWriter w;
    w.SetWavFileName("Music.WAV");  // any letter case of the extension
    EXPECT_EQ(w.WavFileName(), "Music.WAV");
    w.SetWavFileName("music.wav");  // the same name in other letters: ignored
    EXPECT_EQ(w.WavFileName(), "Music.WAV");
    const std::string refusal = "WavFileName must name a file with the .wav extension";
    EXPECT_EQ(MessageOf([&] { w.SetWavFileName("song.mp3"); }), refusal);
    EXPECT_EQ(MessageOf([&] { w.SetWavFileName("wav"); }), refusal);
    EXPECT_EQ(MessageOf([&] { w.SetWavFileName("dir.wav/sound"); }), refusal);
    EXPECT_EQ(MessageOf([&] { w.SetWavFileName(""); }), refusal);  // empty after a name
    EXPECT_EQ(w.WavFileName(), "Music.WAV");
    w.SetWavFileName("dir/other.wav");
    EXPECT_EQ(w.WavFileName(), "dir/other.wav");

    TAviWriter fresh;
    fresh.SetWavFileName("");  // equal to the empty default: accepted silently
    EXPECT_EQ(fresh.WavFileName(), "");
}

// ===================================================================== checks before writing

TEST_F(AviWriterTest, ListChecksComeBeforeAnyFile) {
    TAviWriter w;
    w.SetFileName(Scratch.File("out.avi"));
    EXPECT_EQ(MessageOf([&] { w.WriteMovie(); }), "No bitmaps on the Bitmaps list");

    TFrames frames;
    frames.Add(4, 4, 1);
    frames.Add(4, 4, 2);
    frames.Add(4, 4, 3);
    frames.HandTo(w);
    w.Bitmaps()[2] = nullptr;
    w.SetWavFileName("missing.wav");
    EXPECT_EQ(MessageOf([&] { w.WriteMovie(); }), "Bitmaps[2] is not a TBitmap");
    EXPECT_EQ(TScratch::Entries(Scratch.Root()), std::vector<std::string>{"tmp"});
    ExpectNoWorkFile();
}

TEST_F(AviWriterTest, BadSettingsFailCleanly) {
    TFrames frames;
    frames.Add(4, 4, 1);
    const std::string target = Scratch.File("out.avi");

    for (const int32_t frameTime : {0, -40}) {  // no playing speed
        TAviWriter badTime;
        badTime.SetFileName(target);
        badTime.SetFrameTime(frameTime);
        frames.HandTo(badTime);
        EXPECT_EQ(MessageOf([&] { badTime.WriteMovie(); }), "Failed to create AVI video stream") << frameTime;
    }

    TAviWriter empty;
    empty.SetFileName(target);
    empty.SetWidth(0);
    frames.HandTo(empty);
    EXPECT_EQ(MessageOf([&] { empty.WriteMovie(); }), "Invalid bitmap");

    TAviWriter noFolder;
    noFolder.SetFileName(Scratch.File("missing/out.avi"));
    frames.HandTo(noFolder);
    EXPECT_EQ(MessageOf([&] { noFolder.WriteMovie(); }), "Unable to write output file");

    EXPECT_FALSE(FileExists(target));
    ExpectNoWorkFile();

    // A temp folder that cannot take the work file.
    std::filesystem::remove(Scratch.TmpDir());
    TAviWriter noTemp;
    noTemp.SetFileName(target);
    frames.HandTo(noTemp);
    EXPECT_EQ(MessageOf([&] { noTemp.WriteMovie(); }), "Failed to create AVI video work file");
    EXPECT_FALSE(FileExists(target));
}

TEST_F(AviWriterTest, WorkFileNeverUsesAFixedName) {
    // A link planted at the old fixed work-file name must not redirect our writes, and a
    // file already there must survive.
    const std::string victim = Scratch.File("victim");
    WriteFileBytes(victim, {'k', 'e', 'e', 'p'});
    std::filesystem::create_symlink(victim, Scratch.TmpDir() + "/~AWTemp.avi");
    WriteFileBytes(Scratch.TmpDir() + "/~AWTemp1.avi", {'x'});
    TFrames frames;
    frames.Add(8, 8, 1);
    TAviWriter first, second;
    frames.HandTo(first);
    frames.HandTo(second);
    first.SetFileName(Scratch.File("a.avi"));
    second.SetFileName(Scratch.File("b.avi"));
    first.WriteMovie();
    second.WriteMovie();
    EXPECT_EQ(ReadFileBytes(victim), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
    EXPECT_EQ(TScratch::Entries(Scratch.TmpDir()), (std::vector<std::string>{"~AWTemp.avi", "~AWTemp1.avi"}));
    EXPECT_TRUE(std::filesystem::is_symlink(Scratch.TmpDir() + "/~AWTemp.avi"));
    EXPECT_EQ(ReadFileBytes(Scratch.File("a.avi")), ReadFileBytes(Scratch.File("b.avi")));
}

// ===================================================================== frames

TEST_F(AviWriterTest, FrameTimeGivesRateAndScale) {
    TFrames frames;
    frames.Add(6, 4, 1);
    frames.Add(6, 4, 2);
    for (const int32_t frameTime : {40, 1000}) {
        TAviWriter w;
        w.SetWidth(6);
        w.SetHeight(4);
        w.SetFrameTime(frameTime);
        frames.HandTo(w);
        const std::string target = Scratch.File("t" + std::to_string(frameTime) + ".avi");
        w.SetFileName(target);
        w.WriteMovie();
        const auto b = ReadFileBytes(target);
        const auto top = ParseRiff(b, 0, b.size());
        ASSERT_EQ(top.size(), 1u);
        const TRiffNode* hdrl = top[0].Find(Id("LIST"), Id("hdrl"));
        const size_t avih = hdrl->Find(Id("avih"))->Data();
        EXPECT_EQ(U32(b, avih), uint32_t(frameTime) * 1000);  // microseconds per frame
        EXPECT_EQ(U32(b, avih + 16), 2u);
        EXPECT_EQ(U32(b, avih + 32), 6u);
        EXPECT_EQ(U32(b, avih + 36), 4u);
        const size_t strh = hdrl->Find(Id("LIST"), Id("strl"))->Find(Id("strh"))->Data();
        EXPECT_EQ(U32(b, strh + 20), uint32_t(frameTime));  // scale
        EXPECT_EQ(U32(b, strh + 24), 1000u);                // rate
        const TRiffNode* strf = hdrl->Find(Id("LIST"), Id("strl"))->Find(Id("strf"));
        ASSERT_EQ(strf->Size, 40u);
        EXPECT_EQ(U32(b, strf->Data() + 4), 6u);     // width
        EXPECT_EQ(U32(b, strf->Data() + 8), 4u);     // height > 0: bottom row first
        EXPECT_EQ(U16(b, strf->Data() + 14), 24u);   // bits
        EXPECT_EQ(U32(b, strf->Data() + 16), 0u);    // BI_RGB
        EXPECT_EQ(U32(b, strf->Data() + 20), 80u);   // 4 rows of 18 bytes, each padded to 20
        EXPECT_EQ(StoredFrame(b, 1, 6, 4), Bgr(*frames.Items[1]));
    }
    ExpectNoWorkFile();
}

TEST_F(AviWriterTest, UnstretchedSourceSitsTopLeftOnItsCornerColour) {
    TBitmap source;
    FillPattern(source, 10, 10, 4);
    TAviWriter w;
    w.SetWidth(20);
    w.SetHeight(20);
    w.SetStretch(false);
    w.Bitmaps().push_back(&source);
    w.SetFileName(Scratch.File("u.avi"));
    w.WriteMovie();
    const auto frame = StoredFrame(ReadFileBytes(Scratch.File("u.avi")), 0, 20, 20);
    ASSERT_EQ(frame.size(), 20u * 20u * 3u);
    const TColor corner = source.PixelColor(0, 0);
    int mismatches = 0;
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            const TColor want = (x < 10 && y < 10) ? source.PixelColor(x, y) : corner;
            const size_t p = (size_t(y) * 20 + size_t(x)) * 3;
            mismatches += (frame[p] != GetBValue(want) || frame[p + 1] != GetGValue(want) ||
                           frame[p + 2] != GetRValue(want));
        }
    EXPECT_EQ(mismatches, 0);

    // Stretched, the same source fills the frame, each pixel doubled (nearest colour).
    w.SetStretch(true);
    w.WriteMovie();
    const auto big = StoredFrame(ReadFileBytes(Scratch.File("u.avi")), 0, 20, 20);
    ASSERT_EQ(big.size(), frame.size());
    const size_t p = (size_t(19) * 20 + 19) * 3;
    const TColor last = source.PixelColor(9, 9);
    EXPECT_EQ(big[p], GetBValue(last));
    EXPECT_EQ(big[p + 1], GetGValue(last));
    EXPECT_EQ(big[p + 2], GetRValue(last));
}

TEST_F(AviWriterTest, SeventySixFramesPlayInFfmpeg) {
    if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    TFrames frames;
    std::vector<uint8_t> expected;
    for (int k = 0; k < 76; ++k) AppendRgb(expected, frames.Add(32, 24, k));
    TAviWriter w;
    w.SetWidth(32);
    w.SetHeight(24);
    w.SetFrameTime(40);
    frames.HandTo(w);
    const std::string target = Scratch.File("movie.avi");
    w.SetFileName(target);
    w.WriteMovie();
    ExpectNoWorkFile();

    const auto streams = Probe(target);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_type"), "video");
    EXPECT_EQ(streams[0].at("codec_name"), "rawvideo");
    EXPECT_EQ(streams[0].at("width"), "32");
    EXPECT_EQ(streams[0].at("height"), "24");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "25/1");
    EXPECT_EQ(streams[0].at("nb_read_frames"), "76");
    EXPECT_EQ(DecodeRgb(target), expected);
}

// ===================================================================== sound

TEST_F(AviWriterTest, WaveSoundBecomesTheSecondStream) {
    if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    TFrames frames;
    for (int k = 0; k < 10; ++k) frames.Add(16, 8, k);
    struct TCase {
        std::string Wav;
        std::string Codec;
        std::string Channels;
        std::string Raw;  // ffmpeg's name of the sample layout
        size_t BytesPerSecond;
        double Seconds;
    };
    const std::vector<TCase> cases = {
        {std::string(QV_TEST_DATA_DIR) + "/video/tone8k_mono16.wav", "pcm_s16le", "1", "s16le", 16000, 0.5},
        {std::string(QV_TEST_DATA_DIR) + "/video/tone_3ch_s24.wav", "pcm_s24le", "3", "s24le", 72000, 0.1},
    };
    for (const TCase& c : cases) {
        TAviWriter w;
        w.SetWidth(16);
        w.SetHeight(8);
        w.SetFrameTime(40);
        frames.HandTo(w);
        w.SetWavFileName(c.Wav);
        const std::string target = Scratch.File("sound.avi");
        w.SetFileName(target);
        w.WriteMovie();
        const auto streams = Probe(target);
        ASSERT_EQ(streams.size(), 2u) << c.Wav;
        EXPECT_EQ(streams[0].at("codec_type"), "video");
        EXPECT_EQ(streams[0].at("nb_read_frames"), "10");
        EXPECT_EQ(streams[1].at("codec_type"), "audio");
        EXPECT_EQ(streams[1].at("codec_name"), c.Codec);
        EXPECT_EQ(streams[1].at("sample_rate"), "8000");
        EXPECT_EQ(streams[1].at("channels"), c.Channels);

        // The decoded sound is the WAV file's data, sample for sample: same duration.
        const auto wav = ReadFileBytes(c.Wav);
        const auto wavTop = ParseRiff(wav, 0, wav.size());
        ASSERT_EQ(wavTop.size(), 1u);
        const TRiffNode* data = wavTop[0].Find(Id("data"));
        ASSERT_NE(data, nullptr);
        const std::vector<uint8_t> samples(wav.begin() + std::ptrdiff_t(data->Data()),
                                           wav.begin() + std::ptrdiff_t(data->Data() + data->Size));
        const std::vector<uint8_t> decoded =
            RunCapture("ffmpeg -v error -i '" + target + "' -map 0:a:0 -f " + c.Raw + " -");
        EXPECT_NEAR(double(decoded.size()) / double(c.BytesPerSecond), c.Seconds, 1e-9) << c.Wav;
        EXPECT_TRUE(decoded == samples) << c.Wav;
    }
    ExpectNoWorkFile();
}

TEST_F(AviWriterTest, SoundFailuresKeepTheOldTargetAndLeaveNoWorkFile) {
    TFrames frames;
    frames.Add(8, 8, 1);
    const std::string target = Scratch.File("keep.avi");
    WriteFileBytes(target, {'o', 'l', 'd', '!'});
    WriteFileBytes(Scratch.File("text.wav"), std::vector<uint8_t>(100, 'x'));
    std::filesystem::create_directory(Scratch.File("folder.wav"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.wav", "A disk error occurred while opening the audio file."},
        {"text.wav", "The file could not be read, indicating a corrupt file or an unrecognized format."},
        {"folder.wav", "A disk error occurred while opening the audio file."},
    };
    for (const auto& [name, message] : cases) {
        TAviWriter w;
        frames.HandTo(w);
        w.SetWavFileName(Scratch.File(name));
        w.SetFileName(target);
        EXPECT_EQ(MessageOf([&] { w.WriteMovie(); }), message) << name;
        EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>({'o', 'l', 'd', '!'}));
        ExpectNoWorkFile();
    }
    EXPECT_EQ(TScratch::Entries(Scratch.Root()),
              (std::vector<std::string>{"folder.wav", "keep.avi", "text.wav", "tmp"}));

    // The same writer succeeds once the sound is fixed, replacing the old file.
    WriteFileBytes(Scratch.File("ok.wav"), Riff({{"fmt ", PcmFmt(1, 8000, 8)}, {"data", Ramp(100)}}));
    TAviWriter w;
    frames.HandTo(w);
    w.SetWavFileName(Scratch.File("ok.wav"));
    w.SetFileName(target);
    w.WriteMovie();
    EXPECT_EQ(ReadFileBytes(target).size() > 100, true);
    ExpectNoWorkFile();
}

TEST_F(AviWriterTest, FullDiskFailuresNameTheirStepAndKeepTheOldTarget) {
    TFrames frames;
    for (int k = 0; k < 3; ++k) frames.Add(20, 20, k);  // 1200 bytes per stored frame
    const std::string target = Scratch.File("keep.avi");
    const std::vector<uint8_t> old = {'o', 'l', 'd', '!'};
    WriteFileBytes(target, old);
    TAviWriter w;
    w.SetWidth(20);
    w.SetHeight(20);
    frames.HandTo(w);
    w.SetFileName(target);

    // The work file runs out of room in the second frame: the write's result code, as
    // 8 upper-case hexadecimal digits, names the failure.
    std::string message;
    {
        TFileSizeCap cap(2000);
        message = MessageOf([&] { w.WriteMovie(); });
    }
    EXPECT_EQ(message, "Failed to add frame to AVI. Err=8004406E");
    EXPECT_EQ(ReadFileBytes(target), old);
    ExpectNoWorkFile();

    // The work file (3600 bytes) fits, the movie (headers and index on top) does not.
    {
        TFileSizeCap cap(3800);
        message = MessageOf([&] { w.WriteMovie(); });
    }
    EXPECT_EQ(message, "Unable to write output file");
    EXPECT_EQ(ReadFileBytes(target), old);
    ExpectNoWorkFile();
    EXPECT_EQ(TScratch::Entries(Scratch.Root()), (std::vector<std::string>{"keep.avi", "tmp"}));

    // With room again the same writer replaces the old file with the whole movie.
    w.WriteMovie();
    const auto b = ReadFileBytes(target);
    ASSERT_GT(b.size(), 3600u);
    EXPECT_EQ(StoredFrame(b, 2, 20, 20), Bgr(*frames.Items[2]));
    ExpectNoWorkFile();
}

// ===================================================================== DIB helpers

TEST(DibHelpers, RowStrideRoundsToWholeWords) {
    EXPECT_EQ(RowStride(1, 24), 4);
    EXPECT_EQ(RowStride(4, 24), 12);
    EXPECT_EQ(RowStride(5, 24), 16);
    EXPECT_EQ(RowStride(32, 1), 4);
    EXPECT_EQ(RowStride(33, 1), 8);
    EXPECT_EQ(RowStride(3, 4), 4);
    EXPECT_EQ(RowStride(0, 24), 0);
    // Wider than 32 bits can hold as a bit count.
    EXPECT_EQ(RowStride(int64_t(1) << 28, 24), int64_t(3) << 28);
}

TEST(DibHelpers, HeadersAndSizes) {
    TBitmap bmp;
    FillPattern(bmp, 5, 3, 0);
    BITMAPINFOHEADER h;
    PrepareDibHeader(bmp, h, pf24bit);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biSizeImage, 48u);
    EXPECT_EQ(MessageOf([&] { PrepareDibHeader(bmp, h, pf32bit); }), "Invalid pixel foramt");
    EXPECT_EQ(MessageOf([&] { PrepareDibHeader(bmp, h, pf16bit); }), "Invalid pixel foramt");
    TBitmap empty;
    EXPECT_EQ(MessageOf([&] { PrepareDibHeader(empty, h, pf24bit); }), "Invalid bitmap");

    int32_t headerSize = 0;
    int64_t imageSize = 0;
    FrameDibSizes(bmp, pf24bit, headerSize, imageSize);
    EXPECT_EQ(headerSize, 40);
    EXPECT_EQ(imageSize, 48);
    FrameDibSizes(bmp, pf8bit, headerSize, imageSize);
    EXPECT_EQ(headerSize, 40 + 1024);
    EXPECT_EQ(imageSize, 24);
    FrameDibSizes(bmp, pf1bit, headerSize, imageSize);
    EXPECT_EQ(headerSize, 48);
    EXPECT_EQ(imageSize, 12);
}

TEST(DibHelpers, BitsAreBottomUpBgrWithZeroPadding) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetWidth(3);
    bmp.SetHeight(2);
    bmp.SetPixelColor(0, 0, RGBColor(1, 2, 3));
    bmp.SetPixelColor(1, 0, RGBColor(4, 5, 6));
    bmp.SetPixelColor(2, 0, RGBColor(7, 8, 9));
    bmp.SetPixelColor(0, 1, RGBColor(10, 11, 12));
    bmp.SetPixelColor(1, 1, RGBColor(13, 14, 15));
    bmp.SetPixelColor(2, 1, RGBColor(16, 17, 18));
    std::vector<uint8_t> header(40), bits(24, 0xEE);
    ASSERT_TRUE(FrameDibBits(bmp, nullptr, header, bits, pf24bit));
    const std::vector<uint8_t> expected = {12, 11, 10, 15, 14, 13, 18, 17, 16, 0, 0, 0,
                                           3,  2,  1,  6,  5,  4,  9,  8,  7,  0, 0, 0};
    EXPECT_EQ(bits, expected);
    EXPECT_EQ(U32(header, 8), 2u);

    // Other storage formats give the same bytes.
    bmp.SetPixelFormat(pf24bit);
    std::fill(bits.begin(), bits.end(), 0xEE);
    ASSERT_TRUE(FrameDibBits(bmp, nullptr, header, bits, pf24bit));
    EXPECT_EQ(bits, expected);
    bmp.SetPixelFormat(pf15bit);  // 5 bits per channel: compare with what it now holds
    ASSERT_TRUE(FrameDibBits(bmp, nullptr, header, bits, pf24bit));
    const TColor c = bmp.PixelColor(2, 0);
    EXPECT_EQ(bits[12 + 6], GetBValue(c));
    EXPECT_EQ(bits[12 + 8], GetRValue(c));

    // Buffers too small: nothing written.
    std::vector<uint8_t> shortBits(23, 0xEE), shortHeader(39, 0xEE);
    EXPECT_FALSE(FrameDibBits(bmp, nullptr, header, shortBits, pf24bit));
    EXPECT_EQ(shortBits, std::vector<uint8_t>(23, 0xEE));
    EXPECT_FALSE(FrameDibBits(bmp, nullptr, shortHeader, bits, pf24bit));
    EXPECT_EQ(shortHeader, std::vector<uint8_t>(39, 0xEE));
}

TEST(DibHelpers, IndexedBitsUseTheColourTable) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetWidth(10);
    bmp.SetHeight(1);
    for (int32_t x = 0; x < 10; ++x) bmp.SetPixelColor(x, 0, (x % 3 == 0) ? clWhite : clBlack);
    std::vector<uint8_t> header(48), bits(4);
    ASSERT_TRUE(FrameDibBits(bmp, nullptr, header, bits, pf1bit));
    // Grey steps 0 and 255; pixels 0, 3, 6, 9 white, most significant bit first.
    EXPECT_EQ(U32(header, 40), 0x000000u);
    EXPECT_EQ(U32(header, 44), 0x00FFFFFFu);
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x92, 0x40, 0, 0}));

    TLogPalette palette;
    palette.Entries = {TPaletteEntry{255, 0, 0, 0}, TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}};
    std::vector<uint8_t> header8(40 + 1024), bits8(12);
    ASSERT_TRUE(FrameDibBits(bmp, &palette, header8, bits8, pf8bit));
    EXPECT_EQ(U32(header8, 40), 0x00FF0000u);  // B, G, R, 0: red
    EXPECT_EQ(bits8[0], 2);
    EXPECT_EQ(bits8[1], 1);
}
