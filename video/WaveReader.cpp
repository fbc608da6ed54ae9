#include "video/WaveReader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"

namespace qv {

namespace {

// Real files have a handful of chunks; a file of nothing but tiny chunks is not worth
// reading to its end.
constexpr int kMaxWaveChunks = 4096;

}  // namespace

HRESULT ReadWaveInfo(TStream& stream, TWaveInfo& info) {
    try {
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
    } catch (const EReadError&) {
        return AVIERR_FILEREAD;
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (const Exception&) {
        return AVIERR_FILEREAD;
    }
}

}  // namespace qv
