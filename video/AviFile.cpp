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
#include "video/AviLayout.h"
#include "video/RiffWriter.h"

static_assert(std::endian::native == std::endian::little,
              "the header structs are copied byte for byte into little-endian files");

namespace qv {

using avi::TChunk;
using avi::TStreamData;

// ===================================================================== objects and handles

namespace {

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

}  // namespace

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
            avi::ReadStreamBytes(data, pos, bytes, static_cast<uint8_t*>(lpBuffer));
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
        avi::TLayout layout;
        // Holding the objects keeps them (and their files) alive during the save.
        std::vector<std::shared_ptr<TAviStreamObject>> held;
        for (int j = 0; j < nStreams; ++j) {
            auto stream = Lookup<TAviStreamObject>(ppavi[j]);
            if (!stream) return AVIERR_BADHANDLE;
            held.push_back(stream);
            if (stream->Format.empty()) return AVIERR_BADFORMAT;
            avi::TSaveStream s;
            s.Info = stream->Info;
            s.Format = stream->Format;
            s.Data = stream->Data;
            if (s.Info.dwScale == 0 || s.Info.dwRate == 0) return AVIERR_BADFORMAT;
            if (s.Info.fccType == streamtypeVIDEO && s.Info.dwSampleSize == 0) {
                s.Chunked = true;
                s.ChunkId = avi::ChunkFourCC(j, "dc");
                s.Length = int64_t(s.Data->Chunks.size());
            } else if (s.Info.fccType == streamtypeAUDIO && s.Info.dwSampleSize > 0) {
                s.ChunkId = avi::ChunkFourCC(j, "wb");
                s.Length = s.Data->Bytes / s.Info.dwSampleSize;
            } else {
                return AVIERR_UNSUPPORTED;
            }
            s.IndexId = MakeFourCC('i', 'x', char('0' + j / 10), char('0' + j % 10));
            for (const TChunk& c : s.Data->Chunks)
                if (c.Size > std::numeric_limits<int32_t>::max()) return AVIERR_UNSUPPORTED;
            layout.Streams.push_back(std::move(s));
        }
        avi::PlanLayout(layout, limit);
        for (const avi::TPiece& p : layout.Pieces) {
            uint32_t& m = layout.Streams[size_t(p.Stream)].MaxPiece;
            m = std::max(m, p.Size);
        }
        try {
            WriteFileReplacing(
                szFile, [&](TStream& target) { avi::WriteRiffMovie(target, layout, lpfnCallback); },
                TSync::WhenReplacing);
        } catch (const avi::TUserAbort&) {
            return AVIERR_USERABORT;
        } catch (const std::logic_error&) {
            return AVIERR_INTERNAL;
        }
        return AVIERR_OK;
    });
}

}  // namespace qv
