#pragma once
// Helpers for the bitmap codec tests: byte-level file builders, fixture loading and a small
// reader for the binary PPM/PGM files ImageMagick wrote as expected pixels.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "framework/Stream.h"

namespace qv::bmptest {

inline std::string DataPath(const std::string& name) {
    return std::string(QV_TEST_DATA_DIR) + "/bmp/" + name;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline uint32_t U32At(const std::vector<uint8_t>& d, size_t off) {
    return uint32_t(d.at(off)) | (uint32_t(d.at(off + 1)) << 8) | (uint32_t(d.at(off + 2)) << 16) |
           (uint32_t(d.at(off + 3)) << 24);
}
inline uint16_t U16At(const std::vector<uint8_t>& d, size_t off) {
    return uint16_t(d.at(off) | (d.at(off + 1) << 8));
}
inline void SetU32(std::vector<uint8_t>& d, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) d.at(off + i) = uint8_t(v >> (8 * i));
}

// Binary PPM (P6) or PGM (P5), 8 bits per sample, as ImageMagick writes them.
struct TNetpbm {
    int Width = 0, Height = 0, Channels = 0;
    std::vector<uint8_t> Samples;
    const uint8_t* At(int x, int y) const {
        return Samples.data() + (size_t(y) * Width + x) * Channels;
    }
};

inline TNetpbm ReadNetpbm(const std::string& path) {
    const std::vector<uint8_t> d = ReadFileBytes(path);
    size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < d.size()) {
            if (d[pos] == '#') {
                while (pos < d.size() && d[pos] != '\n') ++pos;
            } else if (isspace(d[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        while (pos < d.size() && !isspace(d[pos])) t += char(d[pos++]);
        return t;
    };
    TNetpbm img;
    const std::string magic = token();
    img.Channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
    if (img.Channels == 0) throw std::runtime_error("not a binary PPM/PGM: " + path);
    img.Width = std::stoi(token());
    img.Height = std::stoi(token());
    if (std::stoi(token()) != 255) throw std::runtime_error("not 8 bits: " + path);
    ++pos;  // the single whitespace after maxval
    const size_t need = size_t(img.Width) * img.Height * img.Channels;
    if (d.size() < pos + need) throw std::runtime_error("short netpbm: " + path);
    img.Samples.assign(d.begin() + pos, d.begin() + pos + need);
    return img;
}

// Builds a bitmap file field by field; defaults describe a valid file.
struct TBmpBuilder {
    uint32_t HeaderSize = 40;
    int32_t Width = 4;
    int32_t Height = 2;
    uint16_t Planes = 1;
    uint16_t Bits = 8;
    uint32_t Compression = 0;
    int64_t SizeImage = -1;  // -1: the pixel data's length
    uint32_t ClrUsed = 0;
    std::vector<uint32_t> Masks;         // written after a 40-byte header, or inside a larger one
    std::vector<TPaletteEntry> Palette;  // 4-byte entries (3-byte for a core header)
    std::vector<uint8_t> Pixels;
    int64_t OffBits = -1;  // -1: right after the palette

    std::vector<uint8_t> Build() const {
        std::vector<uint8_t> h;
        auto u16 = [&](uint32_t v) { h.push_back(uint8_t(v)); h.push_back(uint8_t(v >> 8)); };
        auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) h.push_back(uint8_t(v >> (8 * i))); };
        h.push_back('B');
        h.push_back('M');
        u32(0);  // size, patched below
        u32(0);
        u32(0);  // offset, patched below
        u32(HeaderSize);
        if (HeaderSize == 12) {
            u16(uint32_t(Width));
            u16(uint32_t(Height));
            u16(Planes);
            u16(Bits);
        } else {
            u32(uint32_t(Width));
            u32(uint32_t(Height));
            u16(Planes);
            u16(Bits);
            u32(Compression);
            u32(SizeImage < 0 ? uint32_t(Pixels.size()) : uint32_t(SizeImage));
            u32(2835);
            u32(2835);
            u32(ClrUsed);
            u32(0);
            size_t m = 0;
            while (h.size() < 14 + HeaderSize) u32(m < Masks.size() && HeaderSize > 40 ? Masks[m++] : 0);
            if (HeaderSize == 40)
                for (uint32_t mask : Masks) u32(mask);
        }
        for (const TPaletteEntry& e : Palette) {
            h.push_back(e.Blue);
            h.push_back(e.Green);
            h.push_back(e.Red);
            if (HeaderSize != 12) h.push_back(0);
        }
        const uint32_t off = OffBits < 0 ? uint32_t(h.size()) : uint32_t(OffBits);
        // A gap before the pixels is filled, unless the offset is meant to point past the end.
        if (off <= h.size() + Pixels.size())
            while (h.size() < off) h.push_back(0);
        h.insert(h.end(), Pixels.begin(), Pixels.end());
        for (int i = 0; i < 4; ++i) h[2 + i] = uint8_t(uint32_t(h.size()) >> (8 * i));
        for (int i = 0; i < 4; ++i) h[10 + i] = uint8_t(off >> (8 * i));
        return h;
    }
};

inline std::vector<TPaletteEntry> GreyEntries(int n) {
    std::vector<TPaletteEntry> p;
    for (int i = 0; i < n; ++i) p.push_back({uint8_t(i * 16), uint8_t(i * 16), uint8_t(i * 16), 0});
    return p;
}

inline void LoadBytes(TBitmap& bmp, const std::vector<uint8_t>& bytes) {
    TMemoryStream s(bytes);
    bmp.LoadImageStream(s);
}

inline std::vector<uint8_t> SaveBytes(TBitmap& bmp) {
    TMemoryStream s;
    bmp.SaveImageStream(s);
    return s.Data();
}

// Palette index of pixel x in an indexed row (leftmost pixel in the high bits).
inline unsigned IndexAt(const uint8_t* row, int x, int bits) {
    switch (bits) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : unsigned(row[x >> 1] >> 4);
        default: return row[x];
    }
}

}  // namespace qv::bmptest
