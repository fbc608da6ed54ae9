#include "video/AviFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"

static_assert(std::endian::native == std::endian::little,
              "the header structs are copied byte for byte into little-endian files");

namespace qv {

// ===================================================================== objects and handles

namespace {

// One stretch of sample bytes in a backing file. StreamPos is the stream's byte count
// before it, so fixed-size streams can be read as one run of bytes.
struct TChunk {
    int64_t Offset = 0;
    int64_t Size = 0;
    int64_t StreamPos = 0;
    uint32_t Flags = 0;
};

// The samples of a stream and the file that holds them.
struct TStreamData {
    std::shared_ptr<TFileStream> File;
    std::vector<TChunk> Chunks;
    int64_t Bytes = 0;
};

struct TAviObject {
    virtual ~TAviObject() = default;
    int32_t Refs = 1;  // references held through the handle
};

}  // namespace

struct TAviStreamObject : TAviObject {
    AVISTREAMINFOA Info{};
    std::vector<uint8_t> Format;
    std::shared_ptr<TStreamData> Data;
    bool Writable = false;
};

struct TAviFileObject : TAviObject {
    std::shared_ptr<TFileStream> File;
    bool Writable = false;
    std::vector<std::shared_ptr<TAviStreamObject>> Streams;
};

namespace {

constexpr int64_t kMaxSegment = int64_t(1) << 30;
// Formats larger than this are not headers but garbage.
constexpr int32_t kMaxFormatSize = 1 << 16;
constexpr int kMaxWaveChunks = 4096;

// Handles are the objects' addresses; the table keeps the objects alive while their
// handle reference count is above 0 and tells live handles from stale ones.
struct TRegistry {
    std::mutex Lock;
    std::unordered_map<const void*, std::shared_ptr<TAviObject>> Objects;
    int InitCount = 0;
    int64_t SegmentLimit = kMaxSegment;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

template <class T>
std::shared_ptr<T> Lookup(const void* handle) {
    if (handle == nullptr) return nullptr;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Objects.find(handle);
    if (it == r.Objects.end()) return nullptr;
    return std::dynamic_pointer_cast<T>(it->second);
}

// Hands out a handle: a new reference for an object already published, else a first one.
template <class T>
T* Publish(const std::shared_ptr<T>& object) {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto [it, inserted] = r.Objects.emplace(object.get(), object);
    if (inserted)
        object->Refs = 1;
    else
        ++it->second->Refs;
    return object.get();
}

int32_t AddRef(const void* handle) {
    if (handle == nullptr) return 0;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Objects.find(handle);
    if (it == r.Objects.end()) return 0;
    return ++it->second->Refs;
}

int32_t Release(const void* handle) {
    if (handle == nullptr) return 0;
    std::shared_ptr<TAviObject> doomed;  // destroyed after the lock is left
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Objects.find(handle);
    if (it == r.Objects.end()) return 0;
    const int32_t left = --it->second->Refs;
    if (left <= 0) {
        doomed = std::move(it->second);
        r.Objects.erase(it);
        return 0;
    }
    return left;
}

// Runs an operation and turns whatever it throws into a result code: the calls of this
// interface report, they never throw.
template <class F>
HRESULT Guarded(F&& operation) noexcept {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (const EReadError&) {
        return AVIERR_FILEREAD;
    } catch (const EWriteError&) {
        return AVIERR_FILEWRITE;
    } catch (const EFCreateError&) {
        return AVIERR_FILEWRITE;
    } catch (const EFOpenError&) {
        return AVIERR_FILEOPEN;
    } catch (...) {
        return AVIERR_ERROR;
    }
}

bool IsWavName(const std::string& fileName) {
    return LowerCase(ExtractFileExt(fileName)) == ".wav";
}

// Reads bytes [pos, pos + count) of a stream's sample data into out.
void ReadStreamBytes(const TStreamData& data, int64_t pos, int64_t count, uint8_t* out) {
    if (count <= 0) return;
    auto it = std::upper_bound(data.Chunks.begin(), data.Chunks.end(), pos,
                               [](int64_t p, const TChunk& c) { return p < c.StreamPos; });
    if (it == data.Chunks.begin()) throw EReadError();
    --it;
    while (count > 0) {
        if (it == data.Chunks.end()) throw EReadError();
        const int64_t inChunk = pos - it->StreamPos;
        const int64_t n = std::min(count, it->Size - inChunk);
        if (n <= 0) {
            ++it;
            continue;
        }
        data.File->Seek(it->Offset + inChunk, TSeekOrigin::soBeginning);
        data.File->ReadBuffer(out, n);
        out += n;
        pos += n;
        count -= n;
        ++it;
    }
}

}  // namespace

// ===================================================================== WAV files

HRESULT ReadWaveInfo(TStream& stream, TWaveInfo& info) {
    return Guarded([&]() -> HRESULT {
        const int64_t fileSize = stream.Size();
        if (fileSize < 12) return AVIERR_BADFORMAT;
        uint8_t head[12];
        stream.SetPosition(0);
        stream.ReadBuffer(head, 12);
        if (GetLE32(head) != MakeFourCC('R', 'I', 'F', 'F') || GetLE32(head + 8) != MakeFourCC('W', 'A', 'V', 'E'))
            return AVIERR_BADFORMAT;
        // Streamed files carry 0 or 0xFFFFFFFF here; the file's end is the better limit then.
        const int64_t riffSize = GetLE32(head + 4);
        const int64_t end = (riffSize < 4 || 8 + riffSize > fileSize) ? fileSize : 8 + riffSize;

        uint8_t fmt[40] = {};
        int64_t fmtSize = -1;
        int64_t dataOffset = -1;
        int64_t dataSize = 0;
        int64_t pos = 12;
        // Real files have a handful of chunks; a file of nothing but tiny chunks is not
        // worth reading to its end.
        int chunks = 0;
        while (pos + 8 <= end && (fmtSize < 0 || dataOffset < 0)) {
            if (++chunks > kMaxWaveChunks) return AVIERR_BADFORMAT;
            uint8_t ck[8];
            stream.SetPosition(pos);
            stream.ReadBuffer(ck, 8);
            const uint32_t id = GetLE32(ck);
            const int64_t size = GetLE32(ck + 4);
            const int64_t body = pos + 8;
            if (id == MakeFourCC('f', 'm', 't', ' ')) {
                if (fmtSize >= 0 || size < 16 || body + size > end) return AVIERR_BADFORMAT;
                fmtSize = size;
                stream.ReadBuffer(fmt, std::min<int64_t>(size, sizeof fmt));
            } else if (id == MakeFourCC('d', 'a', 't', 'a') && dataOffset < 0) {
                dataOffset = body;
                // A size beyond the file is a file cut short (or streamed): keep what is there.
                dataSize = std::min(size, end - body);
                if (body + size > end) break;
            }
            pos = body + size + (size & 1);
        }
        if (fmtSize < 0 || dataOffset < 0) return AVIERR_BADFORMAT;

        TWaveInfo w;
        w.FormatTag = GetLE16(fmt);
        w.Channels = GetLE16(fmt + 2);
        w.SamplesPerSec = GetLE32(fmt + 4);
        w.AvgBytesPerSec = GetLE32(fmt + 8);
        w.BlockAlign = GetLE16(fmt + 12);
        w.BitsPerSample = GetLE16(fmt + 14);
        if (w.Channels == 0 || w.SamplesPerSec == 0 || w.BitsPerSample == 0 || w.BlockAlign == 0)
            return AVIERR_BADFORMAT;
        // PCM frames hold every channel's sample in whole bytes; a header that disagrees
        // with itself would make players misread the samples.
        if (w.BlockAlign != uint32_t(w.Channels) * ((w.BitsPerSample + 7u) / 8u)) return AVIERR_BADFORMAT;
        if (uint64_t(w.AvgBytesPerSec) != uint64_t(w.SamplesPerSec) * w.BlockAlign) return AVIERR_BADFORMAT;
        if (w.FormatTag == 1) {
            if (w.BitsPerSample > 32) return AVIERR_BADFORMAT;
            w.Format.assign(fmt, fmt + 16);
            w.Format.push_back(0);  // cbSize: no extra bytes for PCM
            w.Format.push_back(0);
        } else if (w.FormatTag == 0xFFFE) {
            static const uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            if (fmtSize < 40 || GetLE16(fmt + 16) < 22) return AVIERR_BADFORMAT;
            if (std::memcmp(fmt + 24, kPcmGuid, 16) != 0) return AVIERR_BADFORMAT;
            if (w.BitsPerSample % 8 != 0 || w.BitsPerSample > 32 || GetLE16(fmt + 18) > w.BitsPerSample)
                return AVIERR_BADFORMAT;
            w.Format.assign(fmt, fmt + 40);
            w.Format[16] = 22;  // only the 22 extension bytes we know travel along
            w.Format[17] = 0;
        } else {
            return AVIERR_BADFORMAT;
        }
        w.DataOffset = dataOffset;
        w.DataSize = dataSize - dataSize % w.BlockAlign;
        info = std::move(w);
        return AVIERR_OK;
    });
}

// ===================================================================== start and end

void AVIFileInit() {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    ++r.InitCount;
}

void AVIFileExit() {
    std::unordered_map<const void*, std::shared_ptr<TAviObject>> doomed;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    if (r.InitCount > 0) --r.InitCount;
    if (r.InitCount == 0) doomed.swap(r.Objects);
}

int64_t AviSegmentLimit() {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    return r.SegmentLimit;
}

void SetAviSegmentLimit(int64_t bytes) {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    r.SegmentLimit = std::clamp<int64_t>(bytes, 1, kMaxSegment);
}

// ===================================================================== files

HRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, uint32_t uMode, const void* /*lpHandler*/) {
    if (ppfile == nullptr) return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (szFile == nullptr) return AVIERR_BADPARAM;
    const std::string fileName(szFile);
    return Guarded([&]() -> HRESULT {
        auto file = std::make_shared<TAviFileObject>();
        if ((uMode & OF_CREATE) != 0) {
            try {
                file->File = std::make_shared<TFileStream>(fileName, fmCreate);
            } catch (const Exception&) {
                return AVIERR_FILEOPEN;
            }
            file->Writable = true;
        } else {
            if ((uMode & 3) != OF_READ) return AVIERR_UNSUPPORTED;
            if (!IsWavName(fileName)) return REGDB_E_CLASSNOTREG;
            try {
                file->File = std::make_shared<TFileStream>(fileName, fmOpenRead);
            } catch (const Exception&) {
                return AVIERR_FILEOPEN;
            }
            TWaveInfo wave;
            const HRESULT hr = ReadWaveInfo(*file->File, wave);
            if (hr != AVIERR_OK) return hr;

            auto stream = std::make_shared<TAviStreamObject>();
            stream->Info.fccType = streamtypeAUDIO;
            stream->Info.dwScale = wave.BlockAlign;
            stream->Info.dwRate = wave.AvgBytesPerSec;
            stream->Info.dwSampleSize = wave.BlockAlign;
            stream->Info.dwLength = uint32_t(wave.DataSize / wave.BlockAlign);
            stream->Info.dwQuality = 0xFFFFFFFF;  // "default quality"
            stream->Format = wave.Format;
            stream->Data = std::make_shared<TStreamData>();
            stream->Data->File = file->File;
            if (wave.DataSize > 0)
                stream->Data->Chunks.push_back(TChunk{wave.DataOffset, wave.DataSize, 0, AVIIF_KEYFRAME});
            stream->Data->Bytes = wave.DataSize;
            file->Streams.push_back(std::move(stream));
        }
        *ppfile = Publish(file);
        return AVIERR_OK;
    });
}

int32_t AVIFileRelease(PAVIFILE pfile) { return Release(pfile); }
int32_t AVIFileAddRef(PAVIFILE pfile) { return AddRef(pfile); }

HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi) {
    if (ppavi == nullptr) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    auto file = Lookup<TAviFileObject>(pfile);
    if (!file) return AVIERR_BADHANDLE;
    if (psi == nullptr) return AVIERR_BADPARAM;
    if (!file->Writable) return AVIERR_READONLY;
    // A zero scale or rate gives a stream without a playing speed: no player can use it.
    if (psi->dwScale == 0 || psi->dwRate == 0) return AVIERR_BADPARAM;
    if (file->Streams.size() >= 99) return AVIERR_UNSUPPORTED;  // two-digit chunk ids
    return Guarded([&]() -> HRESULT {
        auto stream = std::make_shared<TAviStreamObject>();
        stream->Info = *psi;
        stream->Info.dwLength = 0;
        stream->Info.dwSuggestedBufferSize = 0;
        stream->Info.szName[sizeof stream->Info.szName - 1] = '\0';
        stream->Data = std::make_shared<TStreamData>();
        stream->Data->File = file->File;
        stream->Writable = true;
        file->Streams.push_back(stream);
        *ppavi = Publish(stream);
        return AVIERR_OK;
    });
}

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, uint32_t fccType, int32_t lParam) {
    if (ppavi == nullptr) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    auto file = Lookup<TAviFileObject>(pfile);
    if (!file) return AVIERR_BADHANDLE;
    if (lParam < 0) return AVIERR_NODATA;
    int32_t seen = 0;
    for (const auto& stream : file->Streams) {
        if (fccType != 0 && stream->Info.fccType != fccType) continue;
        if (seen++ == lParam)
            return Guarded([&]() -> HRESULT {
                *ppavi = Publish(stream);
                return AVIERR_OK;
            });
    }
    return AVIERR_NODATA;
}

// ===================================================================== streams

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, int32_t lPos, const void* lpFormat, int32_t cbFormat) {
    auto stream = Lookup<TAviStreamObject>(pavi);
    if (!stream) return AVIERR_BADHANDLE;
    if (!stream->Writable) return AVIERR_READONLY;
    if (lpFormat == nullptr || cbFormat <= 0 || cbFormat > kMaxFormatSize) return AVIERR_BADPARAM;
    const auto* bytes = static_cast<const uint8_t*>(lpFormat);
    // One format per stream: a second one is accepted only when it says the same.
    if (!stream->Format.empty() || lPos != 0) {
        const bool same = lPos == 0 && stream->Format.size() == size_t(cbFormat) &&
                          std::memcmp(stream->Format.data(), bytes, size_t(cbFormat)) == 0;
        return same ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    if (stream->Info.fccType == streamtypeVIDEO) {
        if (cbFormat < int32_t(sizeof(BITMAPINFOHEADER)) || GetLE32(bytes) < sizeof(BITMAPINFOHEADER) ||
            GetLE32(bytes) > uint32_t(cbFormat))
            return AVIERR_BADFORMAT;
    } else if (stream->Info.fccType == streamtypeAUDIO) {
        if (cbFormat < 16) return AVIERR_BADFORMAT;
    }
    return Guarded([&]() -> HRESULT {
        stream->Format.assign(bytes, bytes + cbFormat);
        return AVIERR_OK;
    });
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, const void* lpBuffer,
                       int32_t cbBuffer, uint32_t dwFlags, int32_t* plSampWritten,
                       int32_t* plBytesWritten) {
    if (plSampWritten) *plSampWritten = 0;
    if (plBytesWritten) *plBytesWritten = 0;
    auto stream = Lookup<TAviStreamObject>(pavi);
    if (!stream) return AVIERR_BADHANDLE;
    if (!stream->Writable) return AVIERR_READONLY;
    if (stream->Format.empty()) return AVIERR_BADFORMAT;
    if (lSamples <= 0 || cbBuffer < 0 || (cbBuffer > 0 && lpBuffer == nullptr)) return AVIERR_BADPARAM;
    const uint32_t sampleSize = stream->Info.dwSampleSize;
    if (sampleSize == 0 ? lSamples != 1 : int64_t(lSamples) * sampleSize != cbBuffer) return AVIERR_BADSIZE;
    // Samples are only appended: a movie stream has no holes.
    if (lStart != -1 && uint32_t(lStart) != stream->Info.dwLength) return AVIERR_UNSUPPORTED;
    if (uint64_t(stream->Info.dwLength) + uint32_t(lSamples) > uint64_t(std::numeric_limits<int32_t>::max()))
        return AVIERR_UNSUPPORTED;
    return Guarded([&]() -> HRESULT {
        TStreamData& data = *stream->Data;
        // Room for the entry before the bytes are written (no failure after that), grown
        // by doubling: room for just one more would copy the whole list on every sample.
        if (data.Chunks.size() == data.Chunks.capacity())
            data.Chunks.reserve(std::max<size_t>(16, 2 * data.Chunks.capacity()));
        const int64_t offset = data.File->Seek(0, TSeekOrigin::soEnd);
        try {
            data.File->WriteBuffer(lpBuffer, cbBuffer);
        } catch (const Exception&) {
            data.File->SetSize(offset);  // leave no half sample behind
            return AVIERR_FILEWRITE;
        }
        data.Chunks.push_back(TChunk{offset, cbBuffer, data.Bytes, dwFlags & AVIIF_KEYFRAME});
        data.Bytes += cbBuffer;
        stream->Info.dwLength += uint32_t(lSamples);
        stream->Info.dwSuggestedBufferSize = std::max(stream->Info.dwSuggestedBufferSize, uint32_t(cbBuffer));
        if (plSampWritten) *plSampWritten = lSamples;
        if (plBytesWritten) *plBytesWritten = cbBuffer;
        return AVIERR_OK;
    });
}

HRESULT AVIStreamRead(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, void* lpBuffer,
                      int32_t cbBuffer, int32_t* plBytes, int32_t* plSamples) {
    if (plBytes) *plBytes = 0;
    if (plSamples) *plSamples = 0;
    auto stream = Lookup<TAviStreamObject>(pavi);
    if (!stream) return AVIERR_BADHANDLE;
    if (lStart < 0 || lSamples < 0 || cbBuffer < 0) return AVIERR_BADPARAM;
    const TStreamData& data = *stream->Data;
    const uint32_t sampleSize = stream->Info.dwSampleSize;
    int64_t pos = 0;
    int64_t bytes = 0;
    int32_t samples = 0;
    if (sampleSize == 0) {
        if (size_t(lStart) >= data.Chunks.size()) return AVIERR_NODATA;
        pos = data.Chunks[size_t(lStart)].StreamPos;
        bytes = data.Chunks[size_t(lStart)].Size;
        samples = 1;
    } else {
        const int64_t total = data.Bytes / sampleSize;
        if (lStart >= total) return AVIERR_NODATA;
        samples = int32_t(std::min<int64_t>(lSamples, total - lStart));
        if (lpBuffer != nullptr) samples = int32_t(std::min<int64_t>(samples, cbBuffer / sampleSize));
        pos = int64_t(lStart) * sampleSize;
        bytes = int64_t(samples) * sampleSize;
    }
    if (lpBuffer != nullptr) {
        if (bytes > cbBuffer || (sampleSize != 0 && samples == 0 && lSamples > 0)) return AVIERR_BUFFERTOOSMALL;
        const HRESULT hr = Guarded([&]() -> HRESULT {
            ReadStreamBytes(data, pos, bytes, static_cast<uint8_t*>(lpBuffer));
            return AVIERR_OK;
        });
        if (hr != AVIERR_OK) return hr;
    }
    if (plBytes) *plBytes = int32_t(bytes);
    if (plSamples) *plSamples = samples;
    return AVIERR_OK;
}

HRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, int32_t lSize) {
    auto stream = Lookup<TAviStreamObject>(pavi);
    if (!stream) return AVIERR_BADHANDLE;
    if (psi == nullptr || lSize < 0) return AVIERR_BADPARAM;
    std::memcpy(psi, &stream->Info, std::min<size_t>(size_t(lSize), sizeof(AVISTREAMINFOA)));
    return AVIERR_OK;
}

HRESULT AVIStreamReadFormat(PAVISTREAM pavi, int32_t /*lPos*/, void* lpFormat, int32_t* lpcbFormat) {
    auto stream = Lookup<TAviStreamObject>(pavi);
    if (!stream) return AVIERR_BADHANDLE;
    if (lpcbFormat == nullptr) return AVIERR_BADPARAM;
    const int32_t size = int32_t(stream->Format.size());
    if (lpFormat != nullptr) {
        if (*lpcbFormat < 0) return AVIERR_BADPARAM;
        std::memcpy(lpFormat, stream->Format.data(), size_t(std::min(*lpcbFormat, size)));
    }
    *lpcbFormat = size;
    return AVIERR_OK;
}

int32_t AVIStreamLength(PAVISTREAM pavi) {
    auto stream = Lookup<TAviStreamObject>(pavi);
    return stream ? int32_t(stream->Info.dwLength) : -1;
}

int32_t AVIStreamRelease(PAVISTREAM pavi) { return Release(pavi); }
int32_t AVIStreamAddRef(PAVISTREAM pavi) { return AddRef(pavi); }

HRESULT CreateEditableStream(PAVISTREAM* ppsEditable, PAVISTREAM psSource) {
    if (ppsEditable == nullptr) return AVIERR_BADPARAM;
    *ppsEditable = nullptr;
    auto source = Lookup<TAviStreamObject>(psSource);
    if (!source) return AVIERR_BADHANDLE;
    return Guarded([&]() -> HRESULT {
        auto copy = std::make_shared<TAviStreamObject>();
        copy->Info = source->Info;
        copy->Format = source->Format;
        // The copy shares the backing file but keeps its own list of the samples there,
        // so later writes to the source do not show through.
        copy->Data = std::make_shared<TStreamData>(*source->Data);
        *ppsEditable = Publish(copy);
        return AVIERR_OK;
    });
}

// ===================================================================== saving a movie

namespace {

constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr int64_t kAvihSize = 56;
constexpr int64_t kStrhSize = 56;
constexpr int64_t kDmlhSize = 248;
constexpr int64_t kIndexHeader = 24;  // the fields of 'indx' and 'ixNN' before their entries
constexpr int64_t kMaxAudioPiece = 1 << 20;

int64_t Even(int64_t n) { return n + (n & 1); }
uint32_t Clamp32(uint64_t v) { return uint32_t(std::min<uint64_t>(v, 0xFFFFFFFFu)); }

struct TUserAbort {};

// One stream as it is saved.
struct TSaveStream {
    AVISTREAMINFOA Info{};
    std::vector<uint8_t> Format;
    std::shared_ptr<TStreamData> Data;
    bool Chunked = false;  // one sample per chunk (video); else runs of fixed-size samples
    uint32_t ChunkId = 0;
    uint32_t IndexId = 0;
    uint32_t MaxPiece = 0;
    int64_t Length = 0;  // samples
    std::vector<int64_t> IndexEntries;  // super index entries reserved in the header
};

// One chunk of the target's 'movi' data.
struct TPiece {
    int32_t Stream = 0;
    int32_t Segment = 0;
    int64_t Source = 0;  // chunk index (chunked streams) or stream byte position
    uint32_t Size = 0;
    uint32_t Flags = 0;
    int64_t FilePos = 0;  // of the chunk header in the target
};

// What one stream has in one RIFF segment, for its standard index.
struct TSegmentIndex {
    int64_t Count = 0;
    int64_t Duration = 0;  // samples
    int64_t Pos = 0;       // of the 'ixNN' chunk
    int64_t Size() const { return Count > 0 ? 8 + kIndexHeader + 8 * Count : 0; }
};

struct TSegment {
    int64_t RiffPos = 0;
    int64_t MoviPos = 0;  // of the 'LIST' header
    int64_t End = 0;
    size_t FirstPiece = 0;
    size_t PieceCount = 0;
    std::vector<TSegmentIndex> Index;  // per stream
};

// The whole target, laid out before a byte is written: every size and offset is known,
// so the file is written front to back in one pass.
struct TLayout {
    std::vector<TSaveStream> Streams;
    std::vector<TPiece> Pieces;
    std::vector<TSegment> Segments;
    bool OpenDml = false;
    int64_t HeaderSize = 0;  // 'RIFF' header and the 'hdrl' list
    int Master = -1;          // the stream that times the interleave and the main header
};

uint32_t ChunkFourCC(int index, const char* tail) {
    return MakeFourCC(char('0' + index / 10), char('0' + index % 10), tail[0], tail[1]);
}

// Interleaves the streams: for every sample period of the master (the first chunked stream)
// first the fixed-size samples that play until the period's end, then the chunks that
// start within it. Whatever the fixed-size streams hold beyond the last chunk follows.
void PlanPieces(TLayout& layout) {
    auto& streams = layout.Streams;
    const int n = int(streams.size());
    std::vector<int64_t> next(size_t(n), 0);  // next chunk index or byte position
    uint64_t periodScale = 1, periodRate = 1;
    for (int j = 0; j < n; ++j)
        if (streams[size_t(j)].Chunked) {
            layout.Master = j;
            periodScale = streams[size_t(j)].Info.dwScale;
            periodRate = streams[size_t(j)].Info.dwRate;
            break;
        }

    auto addFixed = [&](int j, int64_t until) {
        TSaveStream& s = streams[size_t(j)];
        const int64_t block = s.Info.dwSampleSize;
        const int64_t cap = std::max(block, kMaxAudioPiece / block * block);
        while (next[size_t(j)] < until) {
            const int64_t size = std::min(cap, until - next[size_t(j)]);
            layout.Pieces.push_back(TPiece{j, 0, next[size_t(j)], uint32_t(size), AVIIF_KEYFRAME, 0});
            next[size_t(j)] += size;
        }
    };
    auto chunksLeft = [&]() {
        for (int j = 0; j < n; ++j)
            if (streams[size_t(j)].Chunked && size_t(next[size_t(j)]) < streams[size_t(j)].Data->Chunks.size())
                return true;
        return false;
    };

    for (uint64_t tick = 1; chunksLeft(); ++tick) {
        // The period ends at tick x periodScale / periodRate seconds; 128-bit products
        // because scale, rate and tick are each up to 32 bits wide.
        for (int j = 0; j < n; ++j) {
            TSaveStream& s = streams[size_t(j)];
            if (s.Chunked) continue;
            const unsigned __int128 samples = (unsigned __int128)tick * periodScale * s.Info.dwRate /
                                              ((unsigned __int128)periodRate * s.Info.dwScale);
            const unsigned __int128 bytes = samples * s.Info.dwSampleSize;
            addFixed(j, int64_t(std::min<unsigned __int128>(bytes, (unsigned __int128)s.Data->Bytes)));
        }
        for (int j = 0; j < n; ++j) {
            TSaveStream& s = streams[size_t(j)];
            if (!s.Chunked) continue;
            const auto& chunks = s.Data->Chunks;
            // Chunk i starts at i x scale / rate seconds: before the period's end?
            while (size_t(next[size_t(j)]) < chunks.size() &&
                   (unsigned __int128)next[size_t(j)] * s.Info.dwScale * periodRate <
                       (unsigned __int128)tick * periodScale * s.Info.dwRate) {
                const TChunk& c = chunks[size_t(next[size_t(j)])];
                layout.Pieces.push_back(TPiece{j, 0, next[size_t(j)], uint32_t(c.Size), c.Flags, 0});
                ++next[size_t(j)];
            }
        }
    }
    for (int j = 0; j < n; ++j)
        if (!streams[size_t(j)].Chunked) addFixed(j, streams[size_t(j)].Data->Bytes);
}

int64_t HeaderSize(const TLayout& layout) {
    int64_t size = 12 + 12 + 8 + kAvihSize;  // RIFF 'AVI ', LIST 'hdrl', 'avih'
    for (const TSaveStream& s : layout.Streams) {
        size += 12 + 8 + kStrhSize + 8 + Even(int64_t(s.Format.size()));
        if (layout.OpenDml) size += 8 + kIndexHeader + 16 * int64_t(s.IndexEntries.size());
    }
    if (layout.OpenDml) size += 12 + 8 + kDmlhSize;
    return size;
}

// Splits the pieces into RIFF segments of at most `limit` bytes (a piece larger than that
// gets a segment of its own) and works out every position.
void PlanSegments(TLayout& layout, int64_t limit) {
    const size_t n = layout.Streams.size();
    layout.HeaderSize = HeaderSize(layout);
    layout.Segments.clear();
    TSegment seg;
    seg.Index.assign(n, TSegmentIndex{});
    int64_t used = layout.HeaderSize + 12 + 8;  // + LIST 'movi', + 'idx1' header
    for (size_t p = 0; p < layout.Pieces.size(); ++p) {
        TPiece& piece = layout.Pieces[p];
        auto growth = [&](const TSegment& s, bool first) {
            int64_t g = 8 + Even(piece.Size);
            if (layout.OpenDml) g += s.Index[size_t(piece.Stream)].Count == 0 ? 8 + kIndexHeader + 8 : 8;
            if (first) g += 16;
            return g;
        };
        const bool first = layout.Segments.empty();
        if (seg.PieceCount > 0 && used + growth(seg, first) > limit) {
            seg.FirstPiece = p - seg.PieceCount;
            layout.Segments.push_back(std::move(seg));
            seg = TSegment{};
            seg.Index.assign(n, TSegmentIndex{});
            used = 12 + 12;  // RIFF 'AVIX', LIST 'movi'
        }
        used += growth(seg, layout.Segments.empty());
        piece.Segment = int32_t(layout.Segments.size());
        ++seg.PieceCount;
        TSegmentIndex& index = seg.Index[size_t(piece.Stream)];
        ++index.Count;
        const TSaveStream& s = layout.Streams[size_t(piece.Stream)];
        index.Duration += s.Chunked ? 1 : piece.Size / s.Info.dwSampleSize;
    }
    seg.FirstPiece = layout.Pieces.size() - seg.PieceCount;
    layout.Segments.push_back(std::move(seg));

    // Positions, front to back.
    int64_t pos = 0;
    for (size_t k = 0; k < layout.Segments.size(); ++k) {
        TSegment& s = layout.Segments[k];
        s.RiffPos = pos;
        pos += k == 0 ? layout.HeaderSize : 12;
        s.MoviPos = pos;
        pos += 12;
        for (size_t p = s.FirstPiece; p < s.FirstPiece + s.PieceCount; ++p) {
            layout.Pieces[p].FilePos = pos;
            pos += 8 + Even(layout.Pieces[p].Size);
        }
        if (layout.OpenDml)
            for (TSegmentIndex& index : s.Index) {
                index.Pos = pos;
                pos += index.Size();
            }
        if (k == 0) pos += 8 + 16 * int64_t(s.PieceCount);
        s.End = pos;
    }
}

void PlanLayout(TLayout& layout, int64_t limit) {
    PlanPieces(layout);
    layout.OpenDml = false;
    PlanSegments(layout, std::numeric_limits<int64_t>::max());
    if (layout.Segments[0].End <= limit) return;

    // OpenDML: the super index in the header needs one entry per segment a stream appears
    // in, and the header's size moves the segment borders; grow the reservations until
    // they hold (each round only grows them, so this ends).
    layout.OpenDml = true;
    for (TSaveStream& s : layout.Streams) s.IndexEntries.assign(1, 0);
    for (;;) {
        PlanSegments(layout, limit);
        bool enough = true;
        for (size_t j = 0; j < layout.Streams.size(); ++j) {
            size_t needed = 0;
            for (const TSegment& seg : layout.Segments) needed += seg.Index[j].Count > 0 ? 1 : 0;
            if (needed > layout.Streams[j].IndexEntries.size()) {
                layout.Streams[j].IndexEntries.assign(needed, 0);
                enough = false;
            }
        }
        if (enough) return;
    }
}

// Buffered little-endian output that counts its position.
class TOutput {
public:
    explicit TOutput(TStream& stream) : FStream(stream) { FBuffer.reserve(kBuffer); }
    int64_t Position() const { return FPosition; }
    void Bytes(const void* data, size_t size) {
        if (FBuffer.size() + size > kBuffer) Flush();
        if (size >= kBuffer) {
            FStream.WriteBuffer(data, int64_t(size));
        } else {
            const auto* p = static_cast<const uint8_t*>(data);
            FBuffer.insert(FBuffer.end(), p, p + size);
        }
        FPosition += int64_t(size);
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) { Bytes(&v, 2); }
    void U32(uint32_t v) { Bytes(&v, 4); }
    void U64(uint64_t v) { Bytes(&v, 8); }
    void Zeros(int64_t count) {
        static const uint8_t zeros[256] = {};
        while (count > 0) {
            const int64_t n = std::min<int64_t>(count, sizeof zeros);
            Bytes(zeros, size_t(n));
            count -= n;
        }
    }
    void Chunk(uint32_t id, int64_t size) {
        U32(id);
        U32(uint32_t(size));
    }
    void List(uint32_t listId, int64_t size, uint32_t type) {
        U32(listId);
        U32(uint32_t(size));
        U32(type);
    }
    void Flush() {
        FStream.WriteBuffer(FBuffer.data(), int64_t(FBuffer.size()));
        FBuffer.clear();
    }

private:
    static constexpr size_t kBuffer = 1 << 16;
    TStream& FStream;
    std::vector<uint8_t> FBuffer;
    int64_t FPosition = 0;
};

// A mismatch between the layout and the bytes written is a bug of ours, not bad input.
void Expect(bool condition) {
    if (!condition) throw std::logic_error("AVI layout mismatch");
}

void WriteHeader(TOutput& out, const TLayout& layout) {
    const TSegment& first = layout.Segments[0];
    out.List(MakeFourCC('R', 'I', 'F', 'F'), first.End - 8, MakeFourCC('A', 'V', 'I', ' '));
    out.List(MakeFourCC('L', 'I', 'S', 'T'), layout.HeaderSize - 12 - 8, MakeFourCC('h', 'd', 'r', 'l'));

    // Main header.
    uint64_t maxBytesPerSec = 0;
    uint32_t maxPiece = 0;
    for (const TSaveStream& s : layout.Streams) {
        const uint64_t perChunk = s.Chunked ? s.MaxPiece : s.Info.dwSampleSize;
        maxBytesPerSec += perChunk * s.Info.dwRate / s.Info.dwScale;
        maxPiece = std::max(maxPiece, s.MaxPiece);
    }
    uint32_t usPerFrame = 0, firstFrames = 0, width = 0, height = 0;
    if (layout.Master >= 0) {
        const TSaveStream& m = layout.Streams[size_t(layout.Master)];
        usPerFrame = Clamp32(uint64_t(1000000) * m.Info.dwScale / m.Info.dwRate);
        firstFrames = uint32_t(first.Index[size_t(layout.Master)].Count);
        if (m.Info.fccType == streamtypeVIDEO && m.Format.size() >= sizeof(BITMAPINFOHEADER)) {
            BITMAPINFOHEADER bih;
            std::memcpy(&bih, m.Format.data(), sizeof bih);
            width = uint32_t(std::max(bih.biWidth, 0));
            height = uint32_t(bih.biHeight < 0 ? -int64_t(bih.biHeight) : bih.biHeight);
        }
    }
    out.Chunk(MakeFourCC('a', 'v', 'i', 'h'), kAvihSize);
    out.U32(usPerFrame);
    out.U32(Clamp32(maxBytesPerSec));
    out.U32(0);  // padding granularity
    out.U32(AVIF_HASINDEX | (layout.Streams.size() > 1 ? AVIF_ISINTERLEAVED : 0));
    out.U32(firstFrames);  // frames in this first segment; the whole count is in 'dmlh'
    out.U32(0);            // initial frames
    out.U32(uint32_t(layout.Streams.size()));
    out.U32(maxPiece);
    out.U32(width);
    out.U32(height);
    out.Zeros(16);

    for (size_t j = 0; j < layout.Streams.size(); ++j) {
        const TSaveStream& s = layout.Streams[j];
        int64_t listSize = 4 + 8 + kStrhSize + 8 + Even(int64_t(s.Format.size()));
        if (layout.OpenDml) listSize += 8 + kIndexHeader + 16 * int64_t(s.IndexEntries.size());
        out.List(MakeFourCC('L', 'I', 'S', 'T'), listSize, MakeFourCC('s', 't', 'r', 'l'));

        out.Chunk(MakeFourCC('s', 't', 'r', 'h'), kStrhSize);
        out.U32(s.Info.fccType);
        out.U32(s.Info.fccHandler);
        out.U32(s.Info.dwFlags);
        out.U16(s.Info.wPriority);
        out.U16(s.Info.wLanguage);
        out.U32(0);  // initial frames
        out.U32(s.Info.dwScale);
        out.U32(s.Info.dwRate);
        out.U32(s.Info.dwStart);
        out.U32(Clamp32(uint64_t(s.Length)));
        out.U32(s.MaxPiece);
        out.U32(s.Info.dwQuality);
        out.U32(s.Info.dwSampleSize);
        auto short16 = [](int32_t v) { return uint16_t(int16_t(std::clamp<int32_t>(v, -32768, 32767))); };
        out.U16(short16(s.Info.rcFrame.Left));
        out.U16(short16(s.Info.rcFrame.Top));
        out.U16(short16(s.Info.rcFrame.Right));
        out.U16(short16(s.Info.rcFrame.Bottom));

        out.Chunk(MakeFourCC('s', 't', 'r', 'f'), int64_t(s.Format.size()));
        out.Bytes(s.Format.data(), s.Format.size());
        out.Zeros(int64_t(s.Format.size() & 1));

        if (layout.OpenDml) {
            // Super index: one entry per segment the stream has chunks in.
            out.Chunk(MakeFourCC('i', 'n', 'd', 'x'), kIndexHeader + 16 * int64_t(s.IndexEntries.size()));
            out.U16(4);  // longs per entry
            out.U8(0);   // sub type
            out.U8(0);   // AVI_INDEX_OF_INDEXES
            uint32_t inUse = 0;
            for (const TSegment& seg : layout.Segments) inUse += seg.Index[j].Count > 0 ? 1 : 0;
            out.U32(inUse);
            out.U32(s.ChunkId);
            out.Zeros(12);
            for (const TSegment& seg : layout.Segments) {
                const TSegmentIndex& index = seg.Index[j];
                if (index.Count == 0) continue;
                out.U64(uint64_t(index.Pos));
                out.U32(uint32_t(index.Size()));
                out.U32(Clamp32(uint64_t(index.Duration)));
            }
            out.Zeros(16 * (int64_t(s.IndexEntries.size()) - inUse));
        }
    }
    if (layout.OpenDml) {
        out.List(MakeFourCC('L', 'I', 'S', 'T'), 4 + 8 + kDmlhSize, MakeFourCC('o', 'd', 'm', 'l'));
        out.Chunk(MakeFourCC('d', 'm', 'l', 'h'), kDmlhSize);
        const int64_t total = layout.Master >= 0 ? layout.Streams[size_t(layout.Master)].Length : 0;
        out.U32(Clamp32(uint64_t(total)));
        out.Zeros(kDmlhSize - 4);
    }
    Expect(out.Position() == layout.HeaderSize);
}

void WriteMovie(TStream& target, const TLayout& layout, AVISAVECALLBACK progress) {
    TOutput out(target);
    uint32_t largest = 0;
    for (const TPiece& p : layout.Pieces) largest = std::max(largest, p.Size);
    std::vector<uint8_t> buffer(largest);
    int lastPercent = -1;
    size_t done = 0;

    for (size_t k = 0; k < layout.Segments.size(); ++k) {
        const TSegment& seg = layout.Segments[k];
        if (k == 0)
            WriteHeader(out, layout);
        else
            out.List(MakeFourCC('R', 'I', 'F', 'F'), seg.End - seg.RiffPos - 8, MakeFourCC('A', 'V', 'I', 'X'));
        Expect(out.Position() == seg.MoviPos);
        const int64_t moviEnd = k == 0 ? seg.End - 8 - 16 * int64_t(seg.PieceCount) : seg.End;
        out.List(MakeFourCC('L', 'I', 'S', 'T'), moviEnd - seg.MoviPos - 8, MakeFourCC('m', 'o', 'v', 'i'));

        for (size_t p = seg.FirstPiece; p < seg.FirstPiece + seg.PieceCount; ++p) {
            const TPiece& piece = layout.Pieces[p];
            const TSaveStream& s = layout.Streams[size_t(piece.Stream)];
            const int64_t from = s.Chunked ? s.Data->Chunks[size_t(piece.Source)].StreamPos : piece.Source;
            ReadStreamBytes(*s.Data, from, piece.Size, buffer.data());
            Expect(out.Position() == piece.FilePos);
            out.Chunk(s.ChunkId, piece.Size);
            out.Bytes(buffer.data(), piece.Size);
            out.Zeros(piece.Size & 1);
            ++done;
            if (progress != nullptr) {
                const int percent = int(done * 100 / layout.Pieces.size());
                if (percent != lastPercent) {
                    lastPercent = percent;
                    if (progress(percent) != 0) throw TUserAbort{};
                }
            }
        }
        if (layout.OpenDml) {
            // Standard indexes: chunk data offsets relative to this segment's start.
            for (size_t j = 0; j < layout.Streams.size(); ++j) {
                const TSegmentIndex& index = seg.Index[j];
                if (index.Count == 0) continue;
                Expect(out.Position() == index.Pos);
                out.Chunk(layout.Streams[j].IndexId, index.Size() - 8);
                out.U16(2);  // longs per entry
                out.U8(0);
                out.U8(1);  // AVI_INDEX_OF_CHUNKS
                out.U32(uint32_t(index.Count));
                out.U32(layout.Streams[j].ChunkId);
                out.U64(uint64_t(seg.RiffPos));
                out.U32(0);
                for (size_t p = seg.FirstPiece; p < seg.FirstPiece + seg.PieceCount; ++p) {
                    const TPiece& piece = layout.Pieces[p];
                    if (size_t(piece.Stream) != j) continue;
                    out.U32(uint32_t(piece.FilePos + 8 - seg.RiffPos));
                    out.U32(piece.Size | ((piece.Flags & AVIIF_KEYFRAME) ? 0u : 0x80000000u));
                }
            }
        }
        if (k == 0) {
            // Legacy index of the first segment: offsets from the 'movi' type field.
            out.Chunk(MakeFourCC('i', 'd', 'x', '1'), 16 * int64_t(seg.PieceCount));
            for (size_t p = seg.FirstPiece; p < seg.FirstPiece + seg.PieceCount; ++p) {
                const TPiece& piece = layout.Pieces[p];
                out.U32(layout.Streams[size_t(piece.Stream)].ChunkId);
                out.U32(piece.Flags & AVIIF_KEYFRAME);
                out.U32(uint32_t(piece.FilePos - (seg.MoviPos + 8)));
                out.U32(piece.Size);
            }
        }
        Expect(out.Position() == seg.End);
    }
    out.Flush();
}

}  // namespace

HRESULT AVISaveV(const char* szFile, const void* /*pclsidHandler*/, AVISAVECALLBACK lpfnCallback,
                 int nStreams, PAVISTREAM* ppavi, AVICOMPRESSOPTIONS** plpOptions) {
    if (szFile == nullptr || ppavi == nullptr || nStreams < 1 || nStreams > 99) return AVIERR_BADPARAM;
    if (*szFile == '\0') return AVIERR_FILEOPEN;
    if (plpOptions != nullptr)
        for (int j = 0; j < nStreams; ++j)
            if (plpOptions[j] != nullptr) return AVIERR_UNSUPPORTED;  // no compressors here

    const int64_t limit = AviSegmentLimit();
    return Guarded([&]() -> HRESULT {
        TLayout layout;
        // Holding the objects keeps them (and their files) alive during the save.
        std::vector<std::shared_ptr<TAviStreamObject>> held;
        for (int j = 0; j < nStreams; ++j) {
            auto stream = Lookup<TAviStreamObject>(ppavi[j]);
            if (!stream) return AVIERR_BADHANDLE;
            held.push_back(stream);
            if (stream->Format.empty()) return AVIERR_BADFORMAT;
            TSaveStream s;
            s.Info = stream->Info;
            s.Format = stream->Format;
            s.Data = stream->Data;
            if (s.Info.dwScale == 0 || s.Info.dwRate == 0) return AVIERR_BADFORMAT;
            if (s.Info.fccType == streamtypeVIDEO && s.Info.dwSampleSize == 0) {
                s.Chunked = true;
                s.ChunkId = ChunkFourCC(j, "dc");
                s.Length = int64_t(s.Data->Chunks.size());
            } else if (s.Info.fccType == streamtypeAUDIO && s.Info.dwSampleSize > 0) {
                s.ChunkId = ChunkFourCC(j, "wb");
                s.Length = s.Data->Bytes / s.Info.dwSampleSize;
            } else {
                return AVIERR_UNSUPPORTED;
            }
            s.IndexId = MakeFourCC('i', 'x', char('0' + j / 10), char('0' + j % 10));
            for (const TChunk& c : s.Data->Chunks)
                if (c.Size > std::numeric_limits<int32_t>::max()) return AVIERR_UNSUPPORTED;
            layout.Streams.push_back(std::move(s));
        }
        PlanLayout(layout, limit);
        for (const TPiece& p : layout.Pieces) {
            uint32_t& m = layout.Streams[size_t(p.Stream)].MaxPiece;
            m = std::max(m, p.Size);
        }
        try {
            WriteFileReplacing(szFile, [&](TStream& target) { WriteMovie(target, layout, lpfnCallback); });
        } catch (const TUserAbort&) {
            return AVIERR_USERABORT;
        } catch (const std::logic_error&) {
            return AVIERR_INTERNAL;
        }
        return AVIERR_OK;
    });
}

}  // namespace qv
