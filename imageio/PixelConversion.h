#pragma once
// Row conversions shared by the readers: decoded sample rows into the B, G, R (or
// B, G, R, A) byte order of the raster's scan lines, byte-order swaps, and undoing
// horizontal differencing.
//
// The converters take the bits per sample (8 or 16; 16-bit samples are in the machine's
// byte order and contribute their high byte) and a count of samples, all channels
// counted; leftover samples of an incomplete pixel are ignored. The caller sizes the
// destination: 3 bytes per pixel, 4 for RgbaToBgra, 1 per sample for Samples16To8.
#include <cstdint>

namespace qv {

// Interleaved converters share this shape: (source row, destination row, bits per sample,
// sample count). Readers pick one per image and call it once per row.
using TPixelConverter = void (*)(const void* Source, void* Dest, int BitsPerSample, int Count);

// Each 16-bit sample becomes its high byte; BitsPerSample is ignored.
void Samples16To8(const void* Source, void* Dest, int BitsPerSample, int Count);
// C, M, Y, K samples (8 or 16 bits; other values write nothing).
void CmykToBgr(const void* Source, void* Dest, int BitsPerSample, int Count);
// L, a, b bytes (L 0..255, a and b signed); reads bytes whatever BitsPerSample says.
void LabToBgr(const void* Source, void* Dest, int BitsPerSample, int Count);
// R, G, B samples (8 or 16 bits; other values write nothing).
void RgbToBgr(const void* Source, void* Dest, int BitsPerSample, int Count);
// R, G, B, A samples (8 or 16 bits; other values write nothing).
void RgbaToBgra(const void* Source, void* Dest, int BitsPerSample, int Count);

// Planar variants: one pointer per channel plane in channel order, then as above.
void CmykPlanesToBgr(const void* C, const void* M, const void* Y, const void* K, void* Dest,
                     int BitsPerSample, int Count);
void LabPlanesToBgr(const void* L, const void* A, const void* B, void* Dest, int BitsPerSample,
                    int Count);
void RgbPlanesToBgr(const void* R, const void* G, const void* B, void* Dest, int BitsPerSample,
                    int Count);

// a * b / c with a 64-bit intermediate, rounded to nearest with halves away from zero.
// As the platform routine: -1 when c is 0 or the result does not fit 32 bits.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// Reverse the bytes of each of n 16-bit (32-bit) values in place; n <= 0 does nothing.
void SwapBytes16Array(void* P, int32_t n);
void SwapBytes32Array(void* P, int32_t n);
uint32_t SwapBytes32(uint32_t Value);

// Undo horizontal differencing in place with wrap-around addition, for samples of 1, 3 or
// 4 bytes per pixel: byte k + step += byte k for k = 0 .. step * n - 1, where n is the
// number of pixels after the first (row width - 1); n <= 0 does nothing.
void UndoHorizontalDiff1(void* Row, int32_t n);
void UndoHorizontalDiff3(void* Row, int32_t n);
void UndoHorizontalDiff4(void* Row, int32_t n);

}  // namespace qv
