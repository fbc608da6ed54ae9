#include "imageio/PixelConversion.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace qv {

namespace {

inline uint8_t Clamp(int32_t v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);  // samples need not be aligned
    return v;
}

// One ink against black, inverted: 255 - C - K + C*K/255 for 8-bit samples.
inline uint8_t Ink8(int32_t c, int32_t k) { return Clamp(MulDiv(c, k, 255) - c - k + 255); }
inline uint8_t Ink16(int32_t c, int32_t k) {
    return Clamp(255 - ((c + k - MulDiv(c, k, 65535)) >> 8));
}

// Plane/stride access: interleaved rows are planes with a stride of the channel count.
struct TChannels {
    const uint8_t* Base[4];
    int Stride;  // samples between two pixels of one channel
};

template <int Channels, class Pixel>
void ConvertSamples(const TChannels& ch, int bitsPerSample, int count, Pixel&& pixel) {
    const int pixels = count / Channels;
    if (bitsPerSample == 8) {
        for (int i = 0; i < pixels; ++i) {
            int32_t s[Channels];
            for (int c = 0; c < Channels; ++c) s[c] = ch.Base[c][i * ch.Stride];
            pixel(i, s, false);
        }
    } else if (bitsPerSample == 16) {
        for (int i = 0; i < pixels; ++i) {
            int32_t s[Channels];
            for (int c = 0; c < Channels; ++c) s[c] = Load16(ch.Base[c] + 2 * i * ch.Stride);
            pixel(i, s, true);
        }
    }
}

TChannels Interleaved(const void* source, int channels, int bitsPerSample) {
    const auto* p = static_cast<const uint8_t*>(source);
    const int bytes = bitsPerSample == 16 ? 2 : 1;
    TChannels ch{{p, p + bytes, p + 2 * bytes, p + 3 * bytes}, channels};
    return ch;
}

void Cmyk(const TChannels& ch, void* dest, int bitsPerSample, int count) {
    auto* d = static_cast<uint8_t*>(dest);
    ConvertSamples<4>(ch, bitsPerSample, count, [d](int i, const int32_t* s, bool wide) {
        uint8_t* o = d + 3 * i;
        if (wide) {
            o[0] = Ink16(s[2], s[3]);
            o[1] = Ink16(s[1], s[3]);
            o[2] = Ink16(s[0], s[3]);
        } else {
            o[0] = Ink8(s[2], s[3]);
            o[1] = Ink8(s[1], s[3]);
            o[2] = Ink8(s[0], s[3]);
        }
    });
}

void Rgb(const TChannels& ch, void* dest, int bitsPerSample, int count) {
    auto* d = static_cast<uint8_t*>(dest);
    ConvertSamples<3>(ch, bitsPerSample, count, [d](int i, const int32_t* s, bool wide) {
        const int shift = wide ? 8 : 0;
        uint8_t* o = d + 3 * i;
        o[0] = uint8_t(s[2] >> shift);
        o[1] = uint8_t(s[1] >> shift);
        o[2] = uint8_t(s[0] >> shift);
    });
}

inline uint8_t RoundClamp(long double v) {
    // Halves to even in the default rounding mode; clamp before narrowing.
    const long double r = std::nearbyint(v);
    if (r < 0) return 0;
    if (r > 255) return 255;
    return uint8_t(r);
}

void LabPixel(uint8_t L, int8_t a, int8_t b, uint8_t* o) {
    const long double l = (long double)L / 2.55L;
    const long double fy = (l + 16) / 116;
    long double X, Y, Z;
    if (l < 7.9996L) {
        Y = l / 903.3L;
        X = Y + (long double)a / 3893.5L;
        Z = Y - (long double)b / 1557.4L;
    } else {
        const long double fx = (long double)a / 500 + fy;
        const long double fz = fy - (long double)b / 200;
        X = fx * fx * fx;
        Y = fy * fy * fy;
        Z = fz * fz * fz;
    }
    o[0] = RoundClamp((0.099L * X - 0.198L * Y + 1.099L * Z) * 255);
    o[1] = RoundClamp((-0.952L * X + 1.893L * Y + 0.059L * Z) * 255);
    o[2] = RoundClamp((2.998L * X - 1.458L * Y - 0.541L * Z) * 255);
}

void Lab(const uint8_t* l, const uint8_t* a, const uint8_t* b, int stride, void* dest, int count) {
    auto* d = static_cast<uint8_t*>(dest);
    const int pixels = count / 3;
    for (int i = 0; i < pixels; ++i)
        LabPixel(l[i * stride], int8_t(a[i * stride]), int8_t(b[i * stride]), d + 3 * i);
}

template <int Step>
void UndoDiff(void* row, int32_t n) {
    auto* p = static_cast<uint8_t*>(row);
    const int64_t bytes = int64_t(Step) * n;
    for (int64_t k = 0; k < bytes; ++k) p[k + Step] = uint8_t(p[k + Step] + p[k]);
}

}  // namespace

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    const int64_t p = int64_t(a) * b;
    // |p| < 2^62 and |c| <= 2^31, so the rounding addition cannot overflow.
    const uint64_t up = p < 0 ? uint64_t(-p) : uint64_t(p);
    const uint64_t uc = c < 0 ? uint64_t(-int64_t(c)) : uint64_t(c);
    const uint64_t q = (up + uc / 2) / uc;
    const bool negative = (p < 0) != (c < 0);
    const int64_t r = negative ? -int64_t(q) : int64_t(q);
    if (r > std::numeric_limits<int32_t>::max() || r < std::numeric_limits<int32_t>::min())
        return -1;
    return int32_t(r);
}

void Samples16To8(const void* Source, void* Dest, int, int Count) {
    const auto* s = static_cast<const uint8_t*>(Source);
    auto* d = static_cast<uint8_t*>(Dest);
    for (int i = 0; i < Count; ++i) d[i] = uint8_t(Load16(s + 2 * i) >> 8);
}

void CmykToBgr(const void* Source, void* Dest, int BitsPerSample, int Count) {
    Cmyk(Interleaved(Source, 4, BitsPerSample), Dest, BitsPerSample, Count);
}

void CmykPlanesToBgr(const void* C, const void* M, const void* Y, const void* K, void* Dest,
                     int BitsPerSample, int Count) {
    const TChannels ch{{static_cast<const uint8_t*>(C), static_cast<const uint8_t*>(M),
                        static_cast<const uint8_t*>(Y), static_cast<const uint8_t*>(K)},
                       1};
    Cmyk(ch, Dest, BitsPerSample, Count);
}

void LabToBgr(const void* Source, void* Dest, int, int Count) {
    const auto* s = static_cast<const uint8_t*>(Source);
    Lab(s, s + 1, s + 2, 3, Dest, Count);
}

void LabPlanesToBgr(const void* L, const void* A, const void* B, void* Dest, int, int Count) {
    Lab(static_cast<const uint8_t*>(L), static_cast<const uint8_t*>(A),
        static_cast<const uint8_t*>(B), 1, Dest, Count);
}

void RgbToBgr(const void* Source, void* Dest, int BitsPerSample, int Count) {
    Rgb(Interleaved(Source, 3, BitsPerSample), Dest, BitsPerSample, Count);
}

void RgbPlanesToBgr(const void* R, const void* G, const void* B, void* Dest, int BitsPerSample,
                    int Count) {
    const TChannels ch{{static_cast<const uint8_t*>(R), static_cast<const uint8_t*>(G),
                        static_cast<const uint8_t*>(B), nullptr},
                       1};
    Rgb(ch, Dest, BitsPerSample, Count);
}

void RgbaToBgra(const void* Source, void* Dest, int BitsPerSample, int Count) {
    auto* d = static_cast<uint8_t*>(Dest);
    ConvertSamples<4>(Interleaved(Source, 4, BitsPerSample), BitsPerSample, Count,
                      [d](int i, const int32_t* s, bool wide) {
                          const int shift = wide ? 8 : 0;
                          uint8_t* o = d + 4 * i;
                          o[0] = uint8_t(s[2] >> shift);
                          o[1] = uint8_t(s[1] >> shift);
                          o[2] = uint8_t(s[0] >> shift);
                          o[3] = uint8_t(s[3] >> shift);
                      });
}

void SwapBytes16Array(void* P, int32_t n) {
    auto* p = static_cast<uint8_t*>(P);
    for (int32_t i = 0; i < n; ++i, p += 2) std::swap(p[0], p[1]);
}

void SwapBytes32Array(void* P, int32_t n) {
    auto* p = static_cast<uint8_t*>(P);
    for (int32_t i = 0; i < n; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

uint32_t SwapBytes32(uint32_t Value) {
    return (Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24);
}

void UndoHorizontalDiff1(void* Row, int32_t n) { UndoDiff<1>(Row, n); }
void UndoHorizontalDiff3(void* Row, int32_t n) { UndoDiff<3>(Row, n); }
void UndoHorizontalDiff4(void* Row, int32_t n) { UndoDiff<4>(Row, n); }

}  // namespace qv
