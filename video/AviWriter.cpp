#include "video/AviWriter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

#include "framework/Exceptions.h"
#include "framework/System.h"

namespace qv {

// ===================================================================== DIB helpers

int64_t RowStride(int64_t pixels, int32_t bitsPerPixel) {
    return ((pixels * bitsPerPixel + 31) & ~int64_t(31)) / 8;
}

void PrepareDibHeader(const TBitmap& bitmap, BITMAPINFOHEADER& header, TPixelFormat depth) {
    if (bitmap.Empty()) throw Exception("Invalid bitmap");
    // Our rasters stand in for DIB sections: their header is that of a bottom-up DIB.
    header = BITMAPINFOHEADER{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = bitmap.Width();
    header.biHeight = bitmap.Height();
    switch (depth) {
        case pf1bit: header.biBitCount = 1; break;
        case pf4bit: header.biBitCount = 4; break;
        case pf8bit: header.biBitCount = 8; break;
        case pf24bit: header.biBitCount = 24; break;
        default: throw Exception("Invalid pixel foramt");
    }
    header.biPlanes = 1;
    header.biCompression = BI_RGB;
    const int64_t size = RowStride(header.biWidth, header.biBitCount) * std::abs(int64_t(header.biHeight));
    header.biSizeImage = uint32_t(std::min<int64_t>(size, 0xFFFFFFFF));
}

void FrameDibSizes(const TBitmap& bitmap, TPixelFormat depth, int32_t& headerSize, int64_t& imageSize) {
    BITMAPINFOHEADER header;
    PrepareDibHeader(bitmap, header, depth);
    if (header.biBitCount <= 8)
        headerSize = int32_t(sizeof(BITMAPINFOHEADER)) + 4 * (1 << header.biBitCount);
    else
        headerSize = int32_t(sizeof(BITMAPINFOHEADER)) + ((header.biCompression & 3) != 0 ? 12 : 0);
    imageSize = RowStride(header.biWidth, header.biBitCount) * std::abs(int64_t(header.biHeight));
}

namespace {

uint8_t NearestEntry(const std::vector<TPaletteEntry>& table, TColor c) {
    int best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < table.size(); ++i) {
        const int dr = int(table[i].Red) - GetRValue(c);
        const int dg = int(table[i].Green) - GetGValue(c);
        const int db = int(table[i].Blue) - GetBValue(c);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return uint8_t(best);
}

}  // namespace

bool FrameDibBits(const TBitmap& bitmap, const TLogPalette* palette, std::span<uint8_t> header,
                  std::span<uint8_t> bits, TPixelFormat depth) {
    BITMAPINFOHEADER h;
    PrepareDibHeader(bitmap, h, depth);
    const int32_t bitCount = h.biBitCount;
    const int64_t stride = RowStride(h.biWidth, bitCount);
    const int32_t rows = bitmap.Height();
    const int32_t width = bitmap.Width();
    const size_t tableSize = bitCount <= 8 ? size_t(1) << bitCount : 0;
    if (header.size() < sizeof h + 4 * tableSize || int64_t(bits.size()) < stride * rows) return false;
    std::memcpy(header.data(), &h, sizeof h);

    std::vector<TPaletteEntry> table;
    if (tableSize > 0) {
        const std::vector<TPaletteEntry>& given = palette != nullptr ? palette->Entries : bitmap.Palette().Entries;
        if (!given.empty()) {
            table = given;
            table.resize(tableSize);
        } else {
            for (size_t i = 0; i < tableSize; ++i) {
                const auto v = uint8_t(i * 255 / (tableSize - 1));
                table.push_back(TPaletteEntry{v, v, v, 0});
            }
        }
        uint8_t* out = header.data() + sizeof h;
        for (const TPaletteEntry& e : table) {
            *out++ = e.Blue;
            *out++ = e.Green;
            *out++ = e.Red;
            *out++ = 0;
        }
    }

    for (int32_t r = 0; r < rows; ++r) {
        const int32_t y = rows - 1 - r;  // bottom row first
        uint8_t* out = bits.data() + int64_t(r) * stride;
        std::memset(out, 0, size_t(stride));
        if (bitCount == 24) {
            const uint8_t* in = bitmap.ScanLine(y);
            if (bitmap.PixelFormat() == pf32bit) {
                for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                }
            } else if (bitmap.PixelFormat() == pf24bit) {
                std::memcpy(out, in, size_t(width) * 3);
            } else {
                for (int32_t x = 0; x < width; ++x, out += 3) {
                    const TColor c = bitmap.PixelColor(x, y);
                    out[0] = GetBValue(c);
                    out[1] = GetGValue(c);
                    out[2] = GetRValue(c);
                }
            }
        } else {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t index = NearestEntry(table, bitmap.PixelColor(x, y));
                const int64_t bit = int64_t(x) * bitCount;
                out[bit / 8] |= uint8_t(index << (8 - bitCount - bit % 8));
            }
        }
    }
    return true;
}

// ===================================================================== TAviWriter

namespace {

// Releases a stream handle when the step that took it ends.
class TStreamHandle {
public:
    TStreamHandle() = default;
    ~TStreamHandle() {
        if (FHandle != nullptr) AVIStreamRelease(FHandle);
    }
    TStreamHandle(const TStreamHandle&) = delete;
    TStreamHandle& operator=(const TStreamHandle&) = delete;
    PAVISTREAM* Out() { return &FHandle; }
    PAVISTREAM Get() const { return FHandle; }

private:
    PAVISTREAM FHandle = nullptr;
};

class TFileHandle {
public:
    TFileHandle() = default;
    ~TFileHandle() {
        if (FHandle != nullptr) AVIFileRelease(FHandle);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    PAVIFILE* Out() { return &FHandle; }
    PAVIFILE Get() const { return FHandle; }

private:
    PAVIFILE FHandle = nullptr;
};

// Clean-up of WriteMovie, run however the write ends.
class TWriteScope {
public:
    explicit TWriteScope(std::function<void()> cleanUp) : FCleanUp(std::move(cleanUp)) {}
    ~TWriteScope() { FCleanUp(); }
    TWriteScope(const TWriteScope&) = delete;
    TWriteScope& operator=(const TWriteScope&) = delete;

private:
    std::function<void()> FCleanUp;
};

}  // namespace

TAviWriter::TAviWriter() : FHeight(ScreenHeight() / 10), FWidth(ScreenWidth() / 10) {
    AVIFileInit();
}

TAviWriter::~TAviWriter() {
    CleanUp();  // nothing is open outside WriteMovie; this only guards against surprises
    AVIFileExit();
}

void TAviWriter::SetWavFileName(const std::string& value) {
    if (LowerCase(value) == LowerCase(FWavFileName)) return;
    if (LowerCase(ExtractFileExt(value)) != ".wav")
        throw Exception("WavFileName must name a file with the .wav extension");
    FWavFileName = value;
}

void TAviWriter::WriteMovie() {
    FVideoStream = nullptr;
    FAudioStream = nullptr;
    if (FBitmaps.size() < 1) throw Exception("No bitmaps on the Bitmaps list");
    for (size_t i = 0; i < FBitmaps.size(); ++i)
        if (FBitmaps[i] == nullptr) throw Exception(Format("Bitmaps[%zu] is not a TBitmap", i));

    TWriteScope scope([this] { CleanUp(); });
    BeginMovie();
    for (TBitmap* bitmap : FBitmaps) AddFrame(*bitmap);
    EndMovie();
}

void TAviWriter::BeginMovie() {
    CleanUp();  // whatever an earlier movie left
    try {
        StartWorkStream();
    } catch (...) {
        CleanUp();
        throw;
    }
}

void TAviWriter::StartWorkStream() {
    // A fresh, exclusively created name: a fixed one would let two exports clash, and a
    // link planted at a fixed path would redirect our writes.
    try {
        FWorkFilePath = CreateUniqueFile(GetTempPath(), "~AWTemp", ".avi");
    } catch (const Exception&) {
        throw Exception("Failed to create AVI video work file");
    }
    if (AVIFileOpenA(&FWorkFile, FWorkFilePath.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_WRITE, nullptr) !=
        AVIERR_OK)
        throw Exception("Failed to create AVI video work file");

    FWork = std::make_unique<TBitmap>();
    FWork->SetPixelFormat(pf32bit);
    FWork->SetHeight(FHeight);
    FWork->SetWidth(FWidth);

    AVISTREAMINFOA info{};  // all zero, the name too
    info.fccType = streamtypeVIDEO;
    info.fccHandler = 0;
    info.dwFlags = 0;
    info.dwScale = uint32_t(FFrameTime);
    info.dwRate = 1000;
    info.dwSuggestedBufferSize = 0;
    info.rcFrame = Rect(0, 0, FWidth, FHeight);

    // A frame time of 0 or less gives no playable speed (a negative one would be read as
    // a frame every few weeks): the stream is refused like any other bad stream.
    if (FFrameTime <= 0 || AVIFileCreateStreamA(FWorkFile, &FRawStream, &info) != AVIERR_OK)
        throw Exception("Failed to create AVI video stream");
}

void TAviWriter::AddFrame(TBitmap& source) {
    if (FRawStream == nullptr) throw Exception("No movie is being written");
    try {
        WriteFrame(source);
    } catch (...) {
        CleanUp();
        throw;
    }
}

void TAviWriter::WriteFrame(TBitmap& source) {
    // One header and one pixel buffer serve every frame: the work bitmap keeps its size.
    TBitmap& work = *FWork;
    DrawFrame(work, source);
    int32_t headerSize = 0;
    int64_t imageSize = 0;
    FrameDibSizes(work, pf24bit, headerSize, imageSize);
    if (headerSize == 0) throw Exception("Failed to retrieve bitmap info");
    if (imageSize > std::numeric_limits<int32_t>::max())
        throw Exception(Format("Failed to add frame to AVI. Err=%08X", unsigned(AVIERR_BADSIZE)));
    FHeader.resize(size_t(headerSize));
    FBits.resize(size_t(imageSize));
    FrameDibBits(work, nullptr, FHeader, FBits, pf24bit);
    const int32_t i = FFramesAdded;
    if (i == 0 && AVIStreamSetFormat(FRawStream, 0, FHeader.data(), headerSize) != AVIERR_OK)
        throw Exception("Failed to set AVI stream format");
    const HRESULT r =
        AVIStreamWrite(FRawStream, i, 1, FBits.data(), int32_t(imageSize), AVIIF_KEYFRAME, nullptr, nullptr);
    if (r != AVIERR_OK) throw Exception(Format("Failed to add frame to AVI. Err=%08X", unsigned(r)));
    ++FFramesAdded;
}

void TAviWriter::EndMovie() {
    if (FRawStream == nullptr) throw Exception("No movie is being written");
    TWriteScope scope([this] { CleanUp(); });
    if (FFramesAdded < 1) throw Exception("No bitmaps on the Bitmaps list");
    if (CreateEditableStream(&FVideoStream, FRawStream) != AVIERR_OK) throw Exception("Could not create Video Stream");
    AVIStreamRelease(FRawStream);
    FRawStream = nullptr;
    if (!FWavFileName.empty()) AttachWaveAudio();

    const int count = FWavFileName.empty() ? 1 : 2;
    PAVISTREAM streams[2] = {FVideoStream, FAudioStream};
    AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
    if (AVISaveV(FFileName.c_str(), nullptr, nullptr, count, streams, options) != AVIERR_OK)
        throw Exception("Unable to write output file");
}

void TAviWriter::CleanUp() noexcept {
    if (FRawStream != nullptr) AVIStreamRelease(FRawStream);
    FRawStream = nullptr;
    FWork.reset();
    FHeader = {};
    FBits = {};
    FFramesAdded = 0;
    if (FVideoStream != nullptr) AVIStreamRelease(FVideoStream);
    if (FAudioStream != nullptr) AVIStreamRelease(FAudioStream);
    FVideoStream = nullptr;
    FAudioStream = nullptr;
    if (FWorkFile != nullptr) {
        try {
            while (AVIFileRelease(FWorkFile) > 0) {
            }
        } catch (...) {
        }
        FWorkFile = nullptr;
    }
    if (!FWorkFilePath.empty()) {
        try {
            DeleteFile(FWorkFilePath);
        } catch (...) {
        }
        FWorkFilePath.clear();
    }
}

void TAviWriter::DrawFrame(TBitmap& work, TBitmap& source) const {
    if (!FStretch) {
        try {
            TCanvas& canvas = work.Canvas();
            canvas.Brush.Style = bsSolid;
            canvas.Brush.Color = source.Canvas().Pixel(0, 0);
            canvas.FillRect(Rect(0, 0, work.Width(), work.Height()));
            canvas.Draw(0, 0, source);
            return;
        } catch (const std::exception&) {
            // fall back to the stretched drawing
        }
    }
    work.Canvas().StretchDraw(Rect(0, 0, FWidth, FHeight), source);
}

void TAviWriter::AttachWaveAudio() {
    TFileHandle wav;
    const HRESULT r = AVIFileOpenA(wav.Out(), FWavFileName.c_str(), OF_READ, nullptr);
    if (r != AVIERR_OK) {
        switch (r) {
            case REGDB_E_CLASSNOTREG:
                throw Exception(
                    "According to the registry, the type of audio file specified in AVIFileOpen does not have a "
                    "handler to process it.");
            case AVIERR_BADFORMAT:
                throw Exception("The file could not be read, indicating a corrupt file or an unrecognized format.");
            case AVIERR_MEMORY:
                throw Exception("The file could not be opened because of insufficient memory.");
            case AVIERR_FILEREAD: throw Exception("A disk error occurred while reading the audio file.");
            case AVIERR_FILEOPEN: throw Exception("A disk error occurred while opening the audio file.");
            default: throw Exception("Unknown error opening audio file");
        }
    }
    TStreamHandle stream;
    if (AVIFileGetStream(wav.Get(), stream.Out(), 0, 0) != AVIERR_OK) throw Exception("Unable to get audio stream");
    if (CreateEditableStream(&FAudioStream, stream.Get()) != AVIERR_OK)
        throw Exception("Failed to create editable AVI audio stream");
}

}  // namespace qv
