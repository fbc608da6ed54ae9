#pragma once
// Decompressors for the picture readers: each expands one block (a scan line, a strip, a
// channel row) of compressed bytes into a caller-sized buffer. They know nothing about
// images; widths, rows and planes are the readers' business.
//
// Bounds, for every decoder, whatever the data says:
//  - at most PackedSize bytes are read from Source (negative counts as 0);
//  - at most UnpackedSize bytes are written to Dest (negative counts as 0). Runs longer
//    than the room left are cut; bytes of Dest that the data does not reach are left as
//    they were.
// The decoders whose block ends at a terminator rather than at a size (TSGIRLE, TCUTRLE)
// take the number of compressed bytes available in PackedSize too: a missing terminator
// ends the block at the end of those bytes. For them UnpackedSize is the room the caller
// gives (the row width).
//
// Only TCUTRLE advances Source (to just past the line's terminating zero, or to
// Source + PackedSize when the terminator is missing); the others leave it unchanged.
#include <cstdint>

namespace qv {

class TDecoder {
public:
    TDecoder() = default;
    virtual ~TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    virtual void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                        int32_t UnpackedSize) = 0;
    // No format here has an encoder; every decoder overrides this with an empty body.
    virtual void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) = 0;
};

// PackBits (TIFF compression 32773, Photoshop): n >= 0 copies n + 1 bytes, -127..-1
// repeats the next byte 1 - n times, -128 is a no-op. Consumes PackedSize bytes.
class TPackbitsRLE final : public TDecoder {
public:
    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) override;
};

// ZSoft PCX: a byte >= 192 repeats the next byte (b and 63) times, any other byte is
// itself. Fills UnpackedSize bytes unless the packed bytes run out first.
class TPCXRLE final : public TDecoder {
public:
    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) override;
};

// SGI run-length rows. A row ends at a zero count, when UnpackedSize bytes have been
// written (some writers leave the zero count out), or when the PackedSize bytes are used
// up. With SampleSize 2 the packets are 16-bit big-endian and every 16-bit sample becomes
// one output byte, its high-order byte. Any other SampleSize decodes nothing.
class TSGIRLE final : public TDecoder {
public:
    uint8_t SampleSize = 1;  // bytes per sample, 1 or 2; set by the reader before decoding

    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) override;
};

// One line of a Dr. Halo CUT file: a 2-byte line length (not used), then packets up to a
// zero byte. b with its high bit set repeats the next byte (b and 127) times, otherwise
// copies the next b bytes. Packets that describe more than UnpackedSize bytes are read
// but their excess is dropped, so Source still ends just past the line's zero byte and
// consecutive calls walk consecutive lines. PackedSize: bytes available from Source.
class TCUTRLE final : public TDecoder {
public:
    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) override;
};

// Wavefront RLA: n >= 0 repeats the next byte n + 1 times, n < 0 copies -n bytes.
// Consumes PackedSize bytes.
class TRLADecoder final : public TDecoder {
public:
    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) override;
};

// Shared string table of the two LZW variants. It lives inside the object so that
// decoding allocates nothing; every Decode starts from a fresh table. The output is cut
// at UnpackedSize, also in the middle of a string.
class TLZWDecoder : public TDecoder {
public:
    void Encode(const uint8_t* Source, uint8_t* Dest, int32_t& Count) override;

protected:
    static constexpr uint32_t NoCode = 4096;
    static constexpr uint32_t TableSize = 4096;

    // Decodes with the bit order and width rule of the variant.
    template <bool MsbFirst>
    void Run(const uint8_t* Source, uint8_t* Dest, int32_t PackedSize, int32_t UnpackedSize,
             const char* invalidMessage);
    void Reset(uint32_t clearCode, uint32_t initialWidth);
    void Clear();
    template <bool EarlyChange>
    bool ProcessCode(uint32_t code, const char* invalidMessage);

    uint32_t FCodeSize = 9;       // current code width in bits
    uint32_t FCodeMask = 511;     // 2^width - 1
    uint32_t FNextCode = 258;     // next free code
    uint32_t FPrevCode = NoCode;  // NoCode after a clear or at the start
    uint32_t FPrefix[TableSize] = {};
    uint8_t FSuffix[TableSize] = {};
    uint8_t FStack[TableSize] = {};
    uint32_t FStackPointer = 0;
    uint8_t* FOutput = nullptr;  // next output byte
    uint8_t* FOutputEnd = nullptr;
    uint8_t FFirstChar = 0;  // first byte of the last string
    uint16_t FClearCode = 256;
    uint16_t FEOICode = 257;
    uint32_t FInitialWidth = 9;
};

// TIFF LZW (compression 5): 9..12-bit codes, most significant bit first, with the early
// width change (10 bits from next free code 511, 11 from 1023, 12 from 2047). A full
// table (4096 entries) stores nothing more and decoding goes on with it. A code above the
// next free code raises "TIF LZW: invalid opcode.".
class TTIFFLZW final : public TLZWDecoder {
public:
    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};

// GIF LZW: codes start InitialCodeSize + 1 bits wide, least significant bit first; the
// width grows when the entry 2^width - 1 has been filled, up to 12 bits. A full table
// stores nothing more. A code above the next free code raises "GIF LZW: invalid opcode.";
// an InitialCodeSize above 11 (no room for the table) raises "GIF LZW: invalid code size.".
class TGIFLZW final : public TLZWDecoder {
public:
    uint8_t InitialCodeSize = 8;  // LZW minimum code size; set by the reader before decoding

    void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};

// Targa run-length packets. Expands whole packets from Source into Dest until Count bytes
// have been written, and returns the number of source bytes consumed. Pixel sizes by
// BitsPerPixel: 8 -> 1 byte, 15/16 -> 2, 24 -> 3, 32 -> 4; any other value writes nothing
// and returns 0. At most SourceSize bytes are read; a packet that crosses Count is
// consumed whole but only its first bytes up to Count are written. Data that ends early
// stops the decoding (the bytes not reached keep their value).
int32_t DecodeTargaRle(const uint8_t* Source, uint8_t* Dest, int32_t Count, int BitsPerPixel,
                       int32_t SourceSize);

// Writes the packets of PixelCount pixels of BytesPerPixel (1..4) bytes each and returns
// the number of bytes written (0 for any other pixel size). The result never exceeds
// TargaRleMaxPacked(PixelCount, BytesPerPixel) = 2 x PixelCount x BytesPerPixel; with a
// DestSize below what the packets need, throws qv::Exception and writes nothing past
// DestSize.
int32_t EncodeTargaRle(const uint8_t* Source, uint8_t* Dest, int32_t PixelCount,
                       int BytesPerPixel, int32_t DestSize);
int64_t TargaRleMaxPacked(int32_t PixelCount, int BytesPerPixel);

}  // namespace qv
