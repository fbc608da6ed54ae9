#include "imageio/Decoders.h"

#include <algorithm>
#include <cstring>

#include "framework/Exceptions.h"

namespace qv {

namespace {

// A block of compressed bytes being read and an output block being filled, both bounded.
struct TBlock {
    const uint8_t* Src;
    int32_t SrcLeft;
    uint8_t* Dst;
    int32_t Room;

    TBlock(const uint8_t* source, int32_t packed, uint8_t* dest, int32_t unpacked)
        : Src(source), SrcLeft(std::max(packed, 0)), Dst(dest), Room(std::max(unpacked, 0)) {}

    uint8_t Next() {
        --SrcLeft;
        return *Src++;
    }
    // Writes value count times, cut at the room left.
    void Fill(uint8_t value, int32_t count) {
        const int32_t n = std::min(count, Room);
        if (n > 0) {
            std::memset(Dst, value, size_t(n));
            Dst += n;
            Room -= n;
        }
    }
    // Copies count source bytes (as many as there are), writing those that fit.
    void Copy(int32_t count) {
        const int32_t available = std::min(count, SrcLeft);
        const int32_t n = std::min(available, Room);
        if (n > 0) {
            std::memcpy(Dst, Src, size_t(n));
            Dst += n;
            Room -= n;
        }
        Src += available;
        SrcLeft -= available;
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Run-length decoders

void TPackbitsRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                          int32_t UnpackedSize) {
    TBlock b(Source, PackedSize, Dest, UnpackedSize);
    while (b.SrcLeft > 0 && b.Room > 0) {
        const int8_t n = int8_t(b.Next());
        if (n >= 0) {
            b.Copy(int32_t(n) + 1);
        } else if (n != -128) {
            if (b.SrcLeft <= 0) break;
            b.Fill(b.Next(), 1 - int32_t(n));
        }
    }
}

void TPackbitsRLE::Encode(const uint8_t*, uint8_t*, int32_t&) {}

void TPCXRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
    TBlock b(Source, PackedSize, Dest, UnpackedSize);
    while (b.Room > 0 && b.SrcLeft > 0) {
        const uint8_t v = b.Next();
        if (v >= 192) {
            if (b.SrcLeft <= 0) break;
            b.Fill(b.Next(), v & 63);
        } else {
            b.Fill(v, 1);
        }
    }
}

void TPCXRLE::Encode(const uint8_t*, uint8_t*, int32_t&) {}

void TSGIRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
    TBlock b(Source, PackedSize, Dest, UnpackedSize);
    if (SampleSize == 1) {
        while (b.Room > 0 && b.SrcLeft > 0) {
            const uint8_t v = b.Next();
            const int32_t count = v & 127;
            if (count == 0) break;
            if (v & 128) {
                b.Copy(count);
            } else {
                if (b.SrcLeft <= 0) break;
                b.Fill(b.Next(), count);
            }
        }
    } else if (SampleSize == 2) {
        // Big-endian 16-bit packets; each sample keeps only its high-order byte.
        while (b.Room > 0 && b.SrcLeft >= 2) {
            const uint32_t w = (uint32_t(b.Src[0]) << 8) | b.Src[1];
            b.Src += 2;
            b.SrcLeft -= 2;
            const int32_t count = int32_t(w & 127);
            if (count == 0) break;
            if (w & 0x80) {
                const int32_t n = std::min({count, b.SrcLeft / 2, b.Room});
                for (int32_t i = 0; i < n; ++i) b.Dst[i] = b.Src[2 * i];
                b.Dst += n;
                b.Room -= n;
                const int32_t skipped = std::min(count, b.SrcLeft / 2) * 2;
                b.Src += skipped;
                b.SrcLeft -= skipped;
            } else {
                if (b.SrcLeft < 2) break;
                const uint8_t value = b.Src[0];
                b.Src += 2;
                b.SrcLeft -= 2;
                b.Fill(value, count);
            }
        }
    }
}

void TSGIRLE::Encode(const uint8_t*, uint8_t*, int32_t&) {}

void TCUTRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
    TBlock b(Source, PackedSize, Dest, UnpackedSize);
    // The line's own byte count is not needed: the zero byte ends the line.
    const int32_t skip = std::min(2, b.SrcLeft);
    b.Src += skip;
    b.SrcLeft -= skip;
    // Packets beyond the room are still walked so that Source lands on the next line.
    while (b.SrcLeft > 0) {
        const uint8_t v = b.Next();
        if (v == 0) break;
        const int32_t count = v & 127;
        if (v & 128) {
            if (b.SrcLeft <= 0) break;
            b.Fill(b.Next(), count);
        } else {
            b.Copy(count);
        }
    }
    Source = b.Src;
}

void TCUTRLE::Encode(const uint8_t*, uint8_t*, int32_t&) {}

void TRLADecoder::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                         int32_t UnpackedSize) {
    TBlock b(Source, PackedSize, Dest, UnpackedSize);
    while (b.SrcLeft > 0 && b.Room > 0) {
        const int8_t n = int8_t(b.Next());
        if (n >= 0) {
            if (b.SrcLeft <= 0) break;
            b.Fill(b.Next(), int32_t(n) + 1);
        } else {
            b.Copy(-int32_t(n));
        }
    }
}

void TRLADecoder::Encode(const uint8_t*, uint8_t*, int32_t&) {}

// ---------------------------------------------------------------------------------------
// LZW

void TLZWDecoder::Encode(const uint8_t*, uint8_t*, int32_t&) {}

void TLZWDecoder::Reset(uint32_t clearCode, uint32_t initialWidth) {
    for (uint32_t i = 0; i < clearCode; ++i) {
        FPrefix[i] = NoCode;
        FSuffix[i] = uint8_t(i);
    }
    FClearCode = uint16_t(clearCode);
    FEOICode = uint16_t(clearCode + 1);
    FInitialWidth = initialWidth;
    FStackPointer = 0;
    FFirstChar = 0;
    Clear();
}

void TLZWDecoder::Clear() {
    FCodeSize = FInitialWidth;
    FCodeMask = (1u << FCodeSize) - 1;
    FNextCode = uint32_t(FClearCode) + 2;
    FPrevCode = NoCode;
}

// EarlyChange is the TIFF rule: the width grows one code before the GIF rule.
template <bool EarlyChange>
bool TLZWDecoder::ProcessCode(uint32_t code, const char* invalidMessage) {
    if (code > FNextCode) throw Exception(invalidMessage);
    if (FPrevCode == NoCode) {
        // Only a single-byte string can follow a clear; a table code here has no string
        // yet, and emitting a stale table entry would be arbitrary output.
        if (code >= FClearCode) throw Exception(invalidMessage);
        FFirstChar = FSuffix[code];
        *FOutput++ = FFirstChar;
        FPrevCode = code;
        return FOutput < FOutputEnd;
    }
    uint32_t sp = 0;
    uint32_t cur = code;
    if (code == FNextCode) {
        // The string being defined right now: previous string plus its own first byte.
        FStack[sp++] = FFirstChar;
        cur = FPrevCode;
    }
    // Every entry's prefix is a smaller code, so the walk ends at a root within the table
    // size and the stack cannot overflow.
    while (cur > FClearCode) {
        FStack[sp++] = FSuffix[cur];
        cur = FPrefix[cur];
    }
    FFirstChar = FSuffix[cur];
    FStack[sp++] = FFirstChar;

    // A full table stores nothing more; decoding goes on with the table as it is.
    if (FNextCode < TableSize) {
        FPrefix[FNextCode] = FPrevCode;
        FSuffix[FNextCode] = FFirstChar;
        if constexpr (EarlyChange) {
            ++FNextCode;
            if (FNextCode == FCodeMask && FCodeSize < 12) {
                ++FCodeSize;
                FCodeMask = (1u << FCodeSize) - 1;
            }
        } else {
            if (FNextCode == FCodeMask && FCodeSize < 12) {
                ++FCodeSize;
                FCodeMask = (1u << FCodeSize) - 1;
            }
            ++FNextCode;
        }
    }
    FPrevCode = code;

    // The stack holds the string reversed; the output is cut at its end.
    const uint32_t n = std::min<uint32_t>(sp, uint32_t(FOutputEnd - FOutput));
    for (uint32_t i = 0; i < n; ++i) FOutput[i] = FStack[sp - 1 - i];
    FOutput += n;
    FStackPointer = 0;
    return FOutput < FOutputEnd;
}

template <bool MsbFirst>
void TLZWDecoder::Run(const uint8_t* Source, uint8_t* Dest, int32_t PackedSize,
                      int32_t UnpackedSize, const char* invalidMessage) {
    FOutput = Dest;
    FOutputEnd = Dest + std::max(UnpackedSize, 0);
    if (FOutput >= FOutputEnd) return;
    uint32_t acc = 0;
    uint32_t held = 0;  // bits in acc; always below the width (<= 12) when a byte enters
    for (int32_t i = 0; i < PackedSize; ++i) {
        if constexpr (MsbFirst)
            acc |= uint32_t(Source[i]) << (24 - held);
        else
            acc |= uint32_t(Source[i]) << held;
        held += 8;
        while (held >= FCodeSize) {
            uint32_t code;
            if constexpr (MsbFirst) {
                code = acc >> (32 - FCodeSize);
                acc <<= FCodeSize;
            } else {
                code = acc & FCodeMask;
                acc >>= FCodeSize;
            }
            held -= FCodeSize;
            if (code == FEOICode) return;
            if (code == FClearCode) {
                Clear();
                continue;
            }
            if (!ProcessCode<MsbFirst>(code, invalidMessage)) return;
        }
    }
}

void TTIFFLZW::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                      int32_t UnpackedSize) {
    Reset(256, 9);
    Run<true>(Source, Dest, PackedSize, UnpackedSize, "TIF LZW: invalid opcode.");
}

void TGIFLZW::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
    // A clear code of 4096 or more would leave no room for a single table entry.
    if (InitialCodeSize > 11) throw Exception("GIF LZW: invalid code size.");
    Reset(1u << InitialCodeSize, uint32_t(InitialCodeSize) + 1);
    Run<false>(Source, Dest, PackedSize, UnpackedSize, "GIF LZW: invalid opcode.");
}

// ---------------------------------------------------------------------------------------
// Targa packets

namespace {

int TargaPixelSize(int bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8: return 1;
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

}  // namespace

int32_t DecodeTargaRle(const uint8_t* Source, uint8_t* Dest, int32_t Count, int BitsPerPixel,
                       int32_t SourceSize) {
    const int ps = TargaPixelSize(BitsPerPixel);
    if (ps == 0) return 0;
    const int32_t size = std::max(SourceSize, 0);
    const int32_t count = std::max(Count, 0);
    int32_t used = 0;
    int32_t written = 0;
    while (written < count && used < size) {
        const uint8_t h = Source[used++];
        const int32_t n = (h & 127) + 1;
        if (h & 128) {
            if (size - used < ps) {
                used = size;
                break;
            }
            const uint8_t* pixel = Source + used;
            used += ps;
            // A packet running past the count is consumed whole; only what fits is written.
            const int32_t bytes = std::min(n * ps, count - written);
            for (int32_t i = 0; i < bytes; ++i) Dest[written + i] = pixel[i % ps];
            written += bytes;
        } else {
            const int32_t available = std::min(n * ps, size - used);
            const int32_t bytes = std::min(available, count - written);
            std::memcpy(Dest + written, Source + used, size_t(bytes));
            written += bytes;
            used += available;
        }
    }
    return used;
}

int64_t TargaRleMaxPacked(int32_t PixelCount, int BytesPerPixel) {
    // Every packet costs at most twice the pixel bytes it covers (one header byte per
    // literal pixel at worst, or a header and one pixel for a run of two or more).
    return 2 * int64_t(std::max(PixelCount, 0)) * std::max(BytesPerPixel, 0);
}

int32_t EncodeTargaRle(const uint8_t* Source, uint8_t* Dest, int32_t PixelCount,
                       int BytesPerPixel, int32_t DestSize) {
    const int bpp = BytesPerPixel;
    if (bpp < 1 || bpp > 4 || PixelCount <= 0) return 0;
    const int32_t room = std::max(DestSize, 0);
    auto same = [bpp](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, size_t(bpp)) == 0; };
    const uint8_t* p = Source;
    int32_t remaining = PixelCount;
    int32_t out = 0;
    while (remaining > 0) {
        int32_t literal;
        if (remaining == 1) {
            literal = 1;
        } else {
            // Pixels before the first equal adjacent pair; without such a pair, all but the
            // last pixel (which then makes a packet of its own).
            literal = 0;
            while (literal < remaining - 1 && literal < 128 &&
                   !same(p + literal * bpp, p + (literal + 1) * bpp))
                ++literal;
        }
        if (literal > 0) {
            const int32_t bytes = literal * bpp;
            if (room - out < 1 + bytes) throw Exception("Targa: run-length buffer too small");
            Dest[out++] = uint8_t(literal - 1);
            std::memcpy(Dest + out, p, size_t(bytes));
            out += bytes;
            p += bytes;
            remaining -= literal;
        } else {
            int32_t run = 1;
            while (run < remaining && run < 128 && same(p, p + run * bpp)) ++run;
            if (room - out < 1 + bpp) throw Exception("Targa: run-length buffer too small");
            Dest[out++] = uint8_t((run - 1) | 128);
            std::memcpy(Dest + out, p, size_t(bpp));
            out += bpp;
            p += run * bpp;
            remaining -= run;
        }
    }
    return out;
}

}  // namespace qv
