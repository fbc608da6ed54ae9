#include "video/AviLayout.h"

#include <algorithm>
#include <limits>

#include "framework/Exceptions.h"

namespace qv::avi {

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

uint32_t ChunkFourCC(int index, const char* tail) {
    return MakeFourCC(char('0' + index / 10), char('0' + index % 10), tail[0], tail[1]);
}

// Interleaves the streams: for every sample period of the master (the first chunked stream)
// first the fixed-size samples that play until the period's end, then the chunks that
// start within it. Whatever the fixed-size streams hold beyond the last chunk follows.
static void PlanPieces(TLayout& layout) {
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

int64_t IndxChunkSize(const TSaveStream& s) { return 8 + kIndexHeader + 16 * int64_t(s.IndexEntries.size()); }

int64_t StrlListSize(const TSaveStream& s, bool openDml) {
    int64_t size = 12 + 8 + kStrhSize + 8 + Even(int64_t(s.Format.size()));  // LIST 'strl', 'strh', 'strf'
    if (openDml) size += IndxChunkSize(s);
    return size;
}

int64_t OdmlListSize() { return 12 + 8 + kDmlhSize; }  // LIST 'odml', 'dmlh'

int64_t HeaderSize(const TLayout& layout) {
    int64_t size = 12 + 12 + 8 + kAvihSize;  // RIFF 'AVI ', LIST 'hdrl', 'avih'
    for (const TSaveStream& s : layout.Streams) size += StrlListSize(s, layout.OpenDml);
    if (layout.OpenDml) size += OdmlListSize();
    return size;
}

// Splits the pieces into RIFF segments of at most `limit` bytes (a piece larger than that
// gets a segment of its own) and works out every position.
static void PlanSegments(TLayout& layout, int64_t limit) {
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


}  // namespace qv::avi
