// The exact warp's wide span loops: eight pixels per step with AVX2, four with SSE4.1 for
// processors without AVX2. Each gives the plain loop's pixels (the differential tests hold
// both to the plain transcription).
#include "morph/WarpSpans.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "morph/Prefetch.h"

namespace qv::spans {

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

bool HasSse41() {
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
}

namespace {

#define QV_AVX2 __attribute__((target("avx2")))
#define QV_SSE41 __attribute__((target("sse4.1")))
// For the loops' own helper lambdas, which take no target of their enclosing function.
#define QV_AVX2_INLINE __attribute__((target("avx2"), always_inline))
#define QV_SSE41_INLINE __attribute__((target("sse4.1"), always_inline))

// At either end of the dissolve (position 0 or 256) the other picture has no weight: the
// result is the shown picture's pixel with its fourth byte cleared, and the other picture
// is not read at all.
constexpr uint32_t kColour = 0x00FFFFFFu;

// A source picture as the wide loops read it: words at indices from the first row (each
// picture of a wide loop is evenly spaced).
struct TPicture {
    const uint8_t* Base;
    uint32_t Width, Height;
    int32_t PitchWords;
    explicit TPicture(const TSource& s)
        : Base(s.Height ? s.Rows[0] : nullptr), Width(s.Width), Height(s.Height), PitchWords(s.PitchWords) {}
};

// The lowest (or highest) word index from the first row, y x pitch + x, that a span's
// samples read; for lines that stay inside the picture (its rows times the pitch fit 31
// bits, see Attach).
inline int64_t IndexBounds(const TSource& s, const TFixedLine& x, const TFixedLine& y, int64_t count, bool high) {
    const int64_t x0 = x.At(0), x1 = x.At(count - 1), y0 = y.At(0), y1 = y.At(count - 1);
    // Along a span x and y each only rise or only fall, so every index lies between these.
    return high ? std::max(y0, y1) * s.PitchWords + std::max(x0, x1)
                : std::min(y0, y1) * s.PitchWords + std::min(x0, x1);
}

// The blend weights of a position in 1 .. 255, in 16-bit lanes. Red and blue sit in the low
// bytes of their lanes and take the low half of the product; green sits in the high byte of
// its lane and takes the high half of the product with the weight shifted up by 8, which is
// green x weight exactly. Each weighted sum stays below 2^16.
struct TWeights {
    uint16_t P, IP, PHigh, IPHigh;
};
inline TWeights WeightsOf(int32_t p) {
    return {uint16_t(p), uint16_t(256 - p), uint16_t(p << 8), uint16_t((256 - p) << 8)};
}

// ---- Eight pixels per step (AVX2) ---------------------------------------------------------

// One fixed-point line over eight pixels. Lanes hold pixels 0, 1, 4, 5 and 2, 3, 6, 7, so
// that taking the high halves of both registers gives the eight values in order.
struct TLanes8 {
    __m256i Lo, Hi, Inc;
};

QV_AVX2 inline TLanes8 Lanes8(const TFixedLine& l) {
    // Wrapping arithmetic: lanes past the span's end may leave the accumulator's range;
    // their samples are never stored.
    const uint64_t a = uint64_t(l.Acc), i = uint64_t(l.Inc);
    const __m256i base = _mm256_set1_epi64x(int64_t(a)), inc = _mm256_set1_epi64x(int64_t(i));
    const __m256i one = _mm256_setr_epi64x(0, 1, 4, 5), two = _mm256_setr_epi64x(2, 3, 6, 7);
    // k x Inc for the small k of each lane: the low halves multiply exactly, the high half of
    // Inc adds k x high shifted up.
    auto times = [&](__m256i k) QV_AVX2_INLINE {
        const __m256i low = _mm256_mul_epu32(inc, k);
        const __m256i high = _mm256_slli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(inc, 32), k), 32);
        return _mm256_add_epi64(base, _mm256_add_epi64(low, high));
    };
    return TLanes8{times(one), times(two), _mm256_set1_epi64x(int64_t(8 * i))};
}

// Acc >> 40 as 32-bit: the high half of each 64-bit lane (Acc >> 32, exact as a signed
// 32-bit value because the results fit), then an arithmetic shift by 8.
QV_AVX2 inline __m256i Values8(const TLanes8& l) {
    const __m256i high = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(l.Lo), _mm256_castsi256_ps(l.Hi), _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm256_srai_epi32(high, kFrac - 32);
}

QV_AVX2 inline void Step8(TLanes8& l) {
    l.Lo = _mm256_add_epi64(l.Lo, l.Inc);
    l.Hi = _mm256_add_epi64(l.Hi, l.Inc);
}

// Moves the lanes back by k pixels (wrapping, as the stepping does).
QV_AVX2 inline void Back8(TLanes8& l, const TFixedLine& line, int64_t k) {
    const __m256i by = _mm256_set1_epi64x(int64_t(uint64_t(line.Inc) * uint64_t(k)));
    l.Lo = _mm256_sub_epi64(l.Lo, by);
    l.Hi = _mm256_sub_epi64(l.Hi, by);
}

// The pixel words at eight word indices from the first row. The indices go through memory
// and each word is broadcast into its lane: lane extracts and inserts would all wait for
// the one shuffle port, and hardware gathers are slow on many processors.
QV_AVX2 inline __m256i Gather8(const TPicture& src, __m256i index) {
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    asm("" : "+m"(at));  // keeps the compiler from turning the reads back into extracts
    const uint8_t* base = src.Base;
    // The next blocks sample further along the same rows, and the triangle's next rows
    // sample one picture row lower after another: ask for those lines early (two rows
    // ahead measured a little faster than one).
    const size_t pitch = size_t(src.PitchWords) * 4;
    Prefetch(base, size_t(at[0]) * 4 + 256);
    Prefetch(base, size_t(at[7]) * 4 + 256);
    Prefetch(base, size_t(at[0]) * 4 + 2 * pitch);
    Prefetch(base, size_t(at[7]) * 4 + 2 * pitch);
    auto word = [&](int k) {
        int32_t w;
        std::memcpy(&w, base + size_t(at[k]) * 4, 4);
        return w;
    };
    __m256i v = _mm256_castsi128_si256(_mm_cvtsi32_si128(word(0)));
    v = _mm256_blend_epi32(v, _mm256_set1_epi32(word(1)), 0x02);
    v = _mm256_blend_epi32(v, _mm256_set1_epi32(word(2)), 0x04);
    v = _mm256_blend_epi32(v, _mm256_set1_epi32(word(3)), 0x08);
    v = _mm256_blend_epi32(v, _mm256_set1_epi32(word(4)), 0x10);
    v = _mm256_blend_epi32(v, _mm256_set1_epi32(word(5)), 0x20);
    v = _mm256_blend_epi32(v, _mm256_set1_epi32(word(6)), 0x40);
    return _mm256_blend_epi32(v, _mm256_set1_epi32(word(7)), 0x80);
}

// Samples outside a picture are masked off and read as 0.
QV_AVX2 inline __m256i Fetch8(const TPicture& src, __m256i x, __m256i y) {
    if (src.Height == 0) return _mm256_setzero_si256();
    // 0 <= x <= Width and 0 <= y <= Height read the picture (unsigned compares through the
    // sign flip; a raster's sides stay below 2^31, so + 1 does not wrap); the edge line one
    // beyond the last pixel is then clamped onto it.
    const __m256i flip = _mm256_set1_epi32(INT32_MIN);
    const __m256i w = _mm256_set1_epi32(int32_t((src.Width + 1) ^ 0x80000000u));
    const __m256i h = _mm256_set1_epi32(int32_t((src.Height + 1) ^ 0x80000000u));
    const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi32(w, _mm256_xor_si256(x, flip)),
                                            _mm256_cmpgt_epi32(h, _mm256_xor_si256(y, flip)));
    x = _mm256_min_epu32(x, _mm256_set1_epi32(int32_t(src.Width - 1)));
    y = _mm256_min_epu32(y, _mm256_set1_epi32(int32_t(src.Height - 1)));
    // Lanes outside read pixel 0 (always there) and are then cleared.
    const __m256i index = _mm256_and_si256(
        _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(src.PitchWords)), x), inside);
    return _mm256_and_si256(Gather8(src, index), inside);
}

// Eight samples known to lie inside the picture: no masks, no clamps.
QV_AVX2 inline __m256i Fetch8Inside(const TPicture& src, __m256i x, __m256i y) {
    return Gather8(src, _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(src.PitchWords)), x));
}

QV_AVX2 inline __m256i Blend8(__m256i s, __m256i e, const TWeights& w) {
    const __m256i maskRB = _mm256_set1_epi32(0x00FF00FF), maskG = _mm256_set1_epi32(0x0000FF00);
    const __m256i rb = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(s, maskRB), _mm256_set1_epi16(int16_t(w.IP))),
                         _mm256_mullo_epi16(_mm256_and_si256(e, maskRB), _mm256_set1_epi16(int16_t(w.P)))),
        8);
    const __m256i g = _mm256_and_si256(
        _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_and_si256(s, maskG), _mm256_set1_epi16(int16_t(w.IPHigh))),
                         _mm256_mulhi_epu16(_mm256_and_si256(e, maskG), _mm256_set1_epi16(int16_t(w.PHigh)))),
        maskG);
    return _mm256_or_si256(rb, g);
}

// Writes the whole span, eight pixels per step. Two: both pictures (a = start, b = end) at a
// position in 1 .. 255; else picture a alone. Inside: every sample of the span lies inside
// the pictures read, and the steps read without checks. Lanes past the span's end may lie
// outside: a span of eight or more inside ends with one more step over its last eight
// pixels; any other last step takes the checked reads and stores only the span's pixels.
template <bool Inside, bool Two>
QV_AVX2 void Span8(const TSource& pa, const TSource& pb, const TWeights& pw, uint8_t* out, int64_t count,
                   const TFixedLine& ax, const TFixedLine& ay, const TFixedLine& bx, const TFixedLine& by) {
    // Local copies: the stores to the span cannot change them, so nothing is read again per step.
    const TPicture a(pa), b(pb);
    const TWeights w = pw;
    TLanes8 lax = Lanes8(ax), lay = Lanes8(ay), lbx{}, lby{};
    if constexpr (Two) {
        lbx = Lanes8(bx);
        lby = Lanes8(by);
    }
    auto pixels = [&](bool checked) QV_AVX2_INLINE {
        const __m256i s =
            checked ? Fetch8(a, Values8(lax), Values8(lay)) : Fetch8Inside(a, Values8(lax), Values8(lay));
        if constexpr (!Two) return _mm256_and_si256(s, _mm256_set1_epi32(int32_t(kColour)));
        const __m256i e =
            checked ? Fetch8(b, Values8(lbx), Values8(lby)) : Fetch8Inside(b, Values8(lbx), Values8(lby));
        return Blend8(s, e, w);
    };
    auto step = [&]() QV_AVX2_INLINE {
        Step8(lax);
        Step8(lay);
        if constexpr (Two) {
            Step8(lbx);
            Step8(lby);
        }
    };
    int64_t left = count;
    for (; left >= 8; left -= 8, out += 32) {
        const __m256i v = pixels(!Inside);
        Prefetch(out, 512, true);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
        step();
    }
    if (left > 0 && Inside && count >= 8) {
        // The span's last eight pixels, again over the ones just written (the destination is
        // no source): all inside, so no masks.
        const int64_t back = 8 - left;
        Back8(lax, ax, back);
        Back8(lay, ay, back);
        if constexpr (Two) {
            Back8(lbx, bx, back);
            Back8(lby, by, back);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out - back * 4), pixels(false));
    } else if (left > 0) {
        const __m256i keep =
            _mm256_cmpgt_epi32(_mm256_set1_epi32(int32_t(left)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        _mm256_maskstore_epi32(reinterpret_cast<int*>(out), keep, pixels(true));
    }
}

// ---- Four pixels per step (SSE4.1) --------------------------------------------------------

// One fixed-point line over four pixels: pixels 0, 1 and 2, 3.
struct TLanes4 {
    __m128i Lo, Hi, Inc;
};

QV_SSE41 inline TLanes4 Lanes4(const TFixedLine& l) {
    // Wrapping, as in Lanes8.
    const uint64_t a = uint64_t(l.Acc), i = uint64_t(l.Inc);
    return TLanes4{_mm_set_epi64x(int64_t(a + i), int64_t(a)), _mm_set_epi64x(int64_t(a + 3 * i), int64_t(a + 2 * i)),
                   _mm_set1_epi64x(int64_t(4 * i))};
}

QV_SSE41 inline __m128i Values4(const TLanes4& l) {
    const __m128i high =
        _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(l.Lo), _mm_castsi128_ps(l.Hi), _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_srai_epi32(high, kFrac - 32);
}

QV_SSE41 inline void Step4(TLanes4& l) {
    l.Lo = _mm_add_epi64(l.Lo, l.Inc);
    l.Hi = _mm_add_epi64(l.Hi, l.Inc);
}

QV_SSE41 inline void Back4(TLanes4& l, const TFixedLine& line, int64_t k) {
    const __m128i by = _mm_set1_epi64x(int64_t(uint64_t(line.Inc) * uint64_t(k)));
    l.Lo = _mm_sub_epi64(l.Lo, by);
    l.Hi = _mm_sub_epi64(l.Hi, by);
}

QV_SSE41 inline const uint32_t* StoreIndices(uint32_t (&at)[4], __m128i index) {
    _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
    asm("" : "+m"(at));  // as in Gather8
    return at;
}

// The pixel words at four word indices that lie at least three words inside the raster's
// ends: lane k comes from an unaligned four-word read that starts k words before its own
// word, so the lanes are merged by plain blends (no shuffles, which would all wait for one
// port on many processors).
QV_SSE41 inline __m128i Gather4Windows(const TPicture& src, __m128i index) {
    alignas(16) uint32_t at[4];
    StoreIndices(at, index);
    const uint8_t* base = src.Base;
    const size_t pitch = size_t(src.PitchWords) * 4;
    Prefetch(base, size_t(at[0]) * 4 + 256);  // as in Gather8
    Prefetch(base, size_t(at[0]) * 4 + 2 * pitch);
    auto window = [&](int k) QV_SSE41_INLINE {
        const uint8_t* from = base + (size_t(at[k]) - size_t(k)) * 4;
        return _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    };
    __m128 v = window(0);
    v = _mm_blend_ps(v, window(1), 0x2);
    v = _mm_blend_ps(v, window(2), 0x4);
    v = _mm_blend_ps(v, window(3), 0x8);
    return _mm_castps_si128(v);
}

// Four words at any indices inside the raster.
QV_SSE41 inline __m128i Gather4(const TPicture& src, __m128i index) {
    alignas(16) uint32_t at[4];
    StoreIndices(at, index);
    const uint8_t* base = src.Base;
    auto word = [&](int k) {
        int32_t w;
        std::memcpy(&w, base + size_t(at[k]) * 4, 4);
        return w;
    };
    __m128i v = _mm_cvtsi32_si128(word(0));
    v = _mm_insert_epi32(v, word(1), 1);
    v = _mm_insert_epi32(v, word(2), 2);
    return _mm_insert_epi32(v, word(3), 3);
}

// As Fetch8.
QV_SSE41 inline __m128i Fetch4(const TPicture& src, __m128i x, __m128i y) {
    if (src.Height == 0) return _mm_setzero_si128();
    const __m128i flip = _mm_set1_epi32(INT32_MIN);
    const __m128i w = _mm_set1_epi32(int32_t((src.Width + 1) ^ 0x80000000u));
    const __m128i h = _mm_set1_epi32(int32_t((src.Height + 1) ^ 0x80000000u));
    const __m128i inside =
        _mm_and_si128(_mm_cmpgt_epi32(w, _mm_xor_si128(x, flip)), _mm_cmpgt_epi32(h, _mm_xor_si128(y, flip)));
    x = _mm_min_epu32(x, _mm_set1_epi32(int32_t(src.Width - 1)));
    y = _mm_min_epu32(y, _mm_set1_epi32(int32_t(src.Height - 1)));
    const __m128i index =
        _mm_and_si128(_mm_add_epi32(_mm_mullo_epi32(y, _mm_set1_epi32(src.PitchWords)), x), inside);
    return _mm_and_si128(Gather4(src, index), inside);
}

QV_SSE41 inline __m128i Fetch4Windows(const TPicture& src, __m128i x, __m128i y) {
    return Gather4Windows(src, _mm_add_epi32(_mm_mullo_epi32(y, _mm_set1_epi32(src.PitchWords)), x));
}

QV_SSE41 inline __m128i Blend4(__m128i s, __m128i e, const TWeights& w) {
    const __m128i maskRB = _mm_set1_epi32(0x00FF00FF), maskG = _mm_set1_epi32(0x0000FF00);
    const __m128i rb = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(s, maskRB), _mm_set1_epi16(int16_t(w.IP))),
                      _mm_mullo_epi16(_mm_and_si128(e, maskRB), _mm_set1_epi16(int16_t(w.P)))),
        8);
    const __m128i g = _mm_and_si128(
        _mm_add_epi16(_mm_mulhi_epu16(_mm_and_si128(s, maskG), _mm_set1_epi16(int16_t(w.IPHigh))),
                      _mm_mulhi_epu16(_mm_and_si128(e, maskG), _mm_set1_epi16(int16_t(w.PHigh)))),
        maskG);
    return _mm_or_si128(rb, g);
}

// As Span8, four pixels per step. Windows: every sample lies inside the pictures read and
// at least three words inside their rasters' ends (see Gather4Windows).
template <bool Windows, bool Two>
QV_SSE41 void Span4(const TSource& pa, const TSource& pb, const TWeights& pw, uint8_t* out, int64_t count,
                    const TFixedLine& ax, const TFixedLine& ay, const TFixedLine& bx, const TFixedLine& by) {
    const TPicture a(pa), b(pb);  // as in Span8
    const TWeights w = pw;
    TLanes4 lax = Lanes4(ax), lay = Lanes4(ay), lbx{}, lby{};
    if constexpr (Two) {
        lbx = Lanes4(bx);
        lby = Lanes4(by);
    }
    auto pixels = [&](bool checked) QV_SSE41_INLINE {
        const __m128i s =
            checked ? Fetch4(a, Values4(lax), Values4(lay)) : Fetch4Windows(a, Values4(lax), Values4(lay));
        if constexpr (!Two) return _mm_and_si128(s, _mm_set1_epi32(int32_t(kColour)));
        const __m128i e =
            checked ? Fetch4(b, Values4(lbx), Values4(lby)) : Fetch4Windows(b, Values4(lbx), Values4(lby));
        return Blend4(s, e, w);
    };
    int64_t left = count;
    for (; left >= 4; left -= 4, out += 16) {
        const __m128i v = pixels(!Windows);
        if ((left & 4) == 0) Prefetch(out, 512, true);  // one hint per cache line of output
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        Step4(lax);
        Step4(lay);
        if constexpr (Two) {
            Step4(lbx);
            Step4(lby);
        }
    }
    if (left > 0 && Windows && count >= 4) {
        // As in Span8: the last four pixels again.
        const int64_t back = 4 - left;
        Back4(lax, ax, back);
        Back4(lay, ay, back);
        if constexpr (Two) {
            Back4(lbx, bx, back);
            Back4(lby, by, back);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out - back * 4), pixels(false));
    } else if (left > 0) {
        alignas(16) uint8_t last[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(last), pixels(true));
        std::memcpy(out, last, size_t(left) * 4);
    }
}

}  // namespace

void SpanFixedAvx2(const TSpanContext& c, uint8_t* out, int64_t count, bool inside, const TSpanLines& l) {
    const TWeights w = WeightsOf(c.Position);
    if (c.Position == 0 || c.Position == 256) {
        const bool start = c.Position == 0;
        const TSource& s = start ? c.Start : c.End;
        const TFixedLine &x = start ? l.Sx : l.Ex, &y = start ? l.Sy : l.Ey;
        if (inside)
            Span8<true, false>(s, s, w, out, count, x, y, x, y);
        else
            Span8<false, false>(s, s, w, out, count, x, y, x, y);
    } else if (inside) {
        Span8<true, true>(c.Start, c.End, w, out, count, l.Sx, l.Sy, l.Ex, l.Ey);
    } else {
        Span8<false, true>(c.Start, c.End, w, out, count, l.Sx, l.Sy, l.Ex, l.Ey);
    }
}

void SpanFixedSse41(const TSpanContext& c, uint8_t* out, int64_t count, bool inside, const TSpanLines& l) {
    const TWeights w = WeightsOf(c.Position);
    // Window reads reach three words beyond a sample on either side.
    auto windowsFit = [&](const TSource& s, const TFixedLine& x, const TFixedLine& y) {
        const int64_t last = int64_t(s.Height - 1) * s.PitchWords + s.Width - 1;
        return IndexBounds(s, x, y, count, false) >= 3 && IndexBounds(s, x, y, count, true) <= last - 3;
    };
    if (c.Position == 0 || c.Position == 256) {
        const bool start = c.Position == 0;
        const TSource& s = start ? c.Start : c.End;
        const TFixedLine &x = start ? l.Sx : l.Ex, &y = start ? l.Sy : l.Ey;
        if (inside && windowsFit(s, x, y))
            Span4<true, false>(s, s, w, out, count, x, y, x, y);
        else
            Span4<false, false>(s, s, w, out, count, x, y, x, y);
    } else if (inside && windowsFit(c.Start, l.Sx, l.Sy) && windowsFit(c.End, l.Ex, l.Ey)) {
        Span4<true, true>(c.Start, c.End, w, out, count, l.Sx, l.Sy, l.Ex, l.Ey);
    } else {
        Span4<false, true>(c.Start, c.End, w, out, count, l.Sx, l.Sy, l.Ex, l.Ey);
    }
}

}  // namespace qv::spans

#else

namespace qv::spans {

bool HasAvx2() { return false; }
bool HasSse41() { return false; }

}  // namespace qv::spans

#endif
