#pragma once
// Helpers shared by the picture-file tests: binary PPM reading and raster comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace qv::testing {

inline std::string DataPath(const std::string& relative) { return std::string(QV_TEST_DATA_DIR) + "/" + relative; }

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A binary PPM (P6, maxval 255) as R, G, B triples.
struct Ppm {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Rgb;
};

inline Ppm ReadPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    Ppm p;
    in >> magic >> p.Width >> p.Height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255 || p.Width <= 0 || p.Height <= 0) {
        ADD_FAILURE() << "not a binary 8-bit PPM: " << path;
        return {};
    }
    p.Rgb.resize(size_t(p.Width) * p.Height * 3);
    in.read(reinterpret_cast<char*>(p.Rgb.data()), std::streamsize(p.Rgb.size()));
    if (!in) ADD_FAILURE() << "short PPM: " << path;
    return p;
}

// Largest difference of any channel of any pixel between a raster and a PPM.
inline int MaxChannelDifference(const TBitmap& bmp, const Ppm& ppm) {
    if (bmp.Width() != ppm.Width || bmp.Height() != ppm.Height) return 256;
    int worst = 0;
    for (int y = 0; y < ppm.Height; ++y)
        for (int x = 0; x < ppm.Width; ++x) {
            TColor c = bmp.PixelColor(x, y);
            const uint8_t* p = &ppm.Rgb[(size_t(y) * ppm.Width + x) * 3];
            worst = std::max({worst, std::abs(int(GetRValue(c)) - p[0]), std::abs(int(GetGValue(c)) - p[1]),
                              std::abs(int(GetBValue(c)) - p[2])});
        }
    return worst;
}

// Largest channel difference between two rasters of the same size (256 if sizes differ).
inline int MaxChannelDifference(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 256;
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            TColor c = a.PixelColor(x, y), d = b.PixelColor(x, y);
            worst = std::max({worst, std::abs(int(GetRValue(c)) - GetRValue(d)),
                              std::abs(int(GetGValue(c)) - GetGValue(d)),
                              std::abs(int(GetBValue(c)) - GetBValue(d))});
        }
    return worst;
}

// A smooth colour picture that JPEG keeps well.
inline void FillSmooth(TBitmap& bmp, int width, int height) {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bmp.SetPixelColor(x, y, RGBColor(uint8_t(40 + x * 150 / width), uint8_t(200 - y * 120 / height),
                                             uint8_t(90 + (x + y) * 60 / (width + height))));
}

}  // namespace qv::testing
