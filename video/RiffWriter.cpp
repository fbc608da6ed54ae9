#include "video/RiffWriter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qv::avi {

namespace {

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

// A mismatch between the layout and the bytes written is a bug of ours, not bad input:
// checked where the header and each segment end, so that such a file is never completed.
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
        out.List(MakeFourCC('L', 'I', 'S', 'T'), StrlListSize(s, layout.OpenDml) - 8, MakeFourCC('s', 't', 'r', 'l'));

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
            out.Chunk(MakeFourCC('i', 'n', 'd', 'x'), IndxChunkSize(s) - 8);
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
        out.List(MakeFourCC('L', 'I', 'S', 'T'), OdmlListSize() - 8, MakeFourCC('o', 'd', 'm', 'l'));
        out.Chunk(MakeFourCC('d', 'm', 'l', 'h'), kDmlhSize);
        const int64_t total = layout.Master >= 0 ? layout.Streams[size_t(layout.Master)].Length : 0;
        out.U32(Clamp32(uint64_t(total)));
        out.Zeros(kDmlhSize - 4);
    }
    Expect(out.Position() == layout.HeaderSize);
}

}  // namespace

void WriteRiffMovie(TStream& target, const TLayout& layout, AVISAVECALLBACK progress) {
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
        const int64_t moviEnd = k == 0 ? seg.End - 8 - 16 * int64_t(seg.PieceCount) : seg.End;
        out.List(MakeFourCC('L', 'I', 'S', 'T'), moviEnd - seg.MoviPos - 8, MakeFourCC('m', 'o', 'v', 'i'));

        for (size_t p = seg.FirstPiece; p < seg.FirstPiece + seg.PieceCount; ++p) {
            const TPiece& piece = layout.Pieces[p];
            const TSaveStream& s = layout.Streams[size_t(piece.Stream)];
            const int64_t from = s.Chunked ? s.Data->Chunks[size_t(piece.Source)].StreamPos : piece.Source;
            ReadStreamBytes(*s.Data, from, piece.Size, buffer.data());
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

}  // namespace qv::avi
