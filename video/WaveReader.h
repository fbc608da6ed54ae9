#pragma once
// The WAV reader: what a RIFF WAVE file holds and where its samples are, read from the
// header chunks alone.
#include <cstdint>
#include <vector>

#include "video/AviFile.h"

namespace qv {

class TStream;

// What a WAV file offers, as the reader found it.
struct TWaveInfo {
    uint16_t FormatTag = 0;   // 1 (PCM) or 0xFFFE (extensible, PCM sub-format)
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    std::vector<uint8_t> Format;  // the stream format: 18-byte WAVEFORMATEX or the 40-byte extensible one
    int64_t DataOffset = 0;       // first sample byte in the file
    int64_t DataSize = 0;         // whole blocks only, within the file
};
// Parses a RIFF WAVE file. Returns AVIERR_OK, AVIERR_BADFORMAT or AVIERR_FILEREAD; reads
// only the header chunks, never outside the stream, and allocates nothing in proportion to
// sizes the file announces.
HRESULT ReadWaveInfo(TStream& stream, TWaveInfo& info);

}  // namespace qv
