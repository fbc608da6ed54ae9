#pragma once
// The layout of a saved movie: every chunk's size and offset, worked out once, before a
// byte is written, from one description of the header chunks and the samples. The RIFF
// writer (RiffWriter.h) then writes the file front to back as laid out here.
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Stream.h"
#include "video/AviFile.h"

namespace qv::avi {

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

// Reads bytes [pos, pos + count) of a stream's sample data into out.
void ReadStreamBytes(const TStreamData& data, int64_t pos, int64_t count, uint8_t* out);

constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr int64_t kAvihSize = 56;
constexpr int64_t kStrhSize = 56;
constexpr int64_t kDmlhSize = 248;
constexpr int64_t kIndexHeader = 24;  // the fields of 'indx' and 'ixNN' before their entries
constexpr int64_t kMaxAudioPiece = 1 << 20;

inline int64_t Even(int64_t n) { return n + (n & 1); }
inline uint32_t Clamp32(uint64_t v) { return uint32_t(std::min<uint64_t>(v, 0xFFFFFFFFu)); }

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

uint32_t ChunkFourCC(int index, const char* tail);

// The header's chunks, each size in one place: the layout adds them up, the writer writes
// them. Sizes are those of whole chunks or lists, their own 8-byte headers included.
int64_t IndxChunkSize(const TSaveStream& s);  // the super index (OpenDML)
int64_t StrlListSize(const TSaveStream& s, bool openDml);
int64_t OdmlListSize();
int64_t HeaderSize(const TLayout& layout);  // 'RIFF' header and the whole 'hdrl' list

// Plans pieces, segments and positions for the streams of layout (filled by the caller).
// Movies larger than limit bytes continue in OpenDML segments.
void PlanLayout(TLayout& layout, int64_t limit);

}  // namespace qv::avi
