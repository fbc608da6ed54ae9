#pragma once
// Helpers shared by the Targa, TIFF, PCX and GIF reader tests: fixtures, a reader for the
// netpbm reference files the tools wrote beside them, and the hostile-input sweeps.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"
#include "framework/Stream.h"

namespace qv::readertest {

inline std::string DataPath(const std::string& relative) { return std::string(QV_TEST_DATA_DIR) + "/" + relative; }

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing fixture " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A netpbm picture (P1-P6, P7 with up to 4 channels), samples row by row.
struct Pnm {
    int Width = 0, Height = 0, Channels = 0, MaxVal = 0;
    std::vector<int> Samples;
    int At(int x, int y, int c) const { return Samples[size_t((y * Width + x) * Channels + c)]; }
    // Red, green, blue of a pixel scaled to 0..255 (grey repeated).
    TColor Color(int x, int y) const {
        auto s = [&](int c) { return uint8_t((At(x, y, c) * 255 + MaxVal / 2) / MaxVal); };
        if (Channels < 3) return RGBColor(s(0), s(0), s(0));
        return RGBColor(s(0), s(1), s(2));
    }
};

inline Pnm ReadPnm(const std::string& path) {
    const std::vector<uint8_t> d = ReadAll(path);
    size_t p = 0;
    auto skipSpace = [&] {
        for (;;) {
            while (p < d.size() && std::isspace(d[p])) ++p;
            if (p < d.size() && d[p] == '#')
                while (p < d.size() && d[p] != '\n') ++p;
            else
                return;
        }
    };
    auto word = [&] {
        skipSpace();
        std::string w;
        while (p < d.size() && !std::isspace(d[p])) w += char(d[p++]);
        return w;
    };
    auto number = [&] { return std::stoi(word()); };
    Pnm pnm;
    const std::string magic = word();
    const char kind = magic.size() == 2 ? magic[1] : '?';
    if (kind == '7') {
        for (std::string w = word(); w != "ENDHDR"; w = word()) {
            if (w == "WIDTH") pnm.Width = number();
            else if (w == "HEIGHT") pnm.Height = number();
            else if (w == "DEPTH") pnm.Channels = number();
            else if (w == "MAXVAL") pnm.MaxVal = number();
            else if (w == "TUPLTYPE") word();
        }
    } else {
        pnm.Width = number();
        pnm.Height = number();
        pnm.MaxVal = (kind == '1' || kind == '4') ? 1 : number();
        pnm.Channels = (kind == '3' || kind == '6') ? 3 : 1;
    }
    const size_t count = size_t(pnm.Width) * pnm.Height * pnm.Channels;
    if (kind == '1' || kind == '2' || kind == '3') {
        for (size_t i = 0; i < count; ++i) {
            if (kind == '1') {
                skipSpace();
                pnm.Samples.push_back(d[p++] == '1' ? 0 : 1);  // 1 is black
            } else {
                pnm.Samples.push_back(number());
            }
        }
        return pnm;
    }
    ++p;  // the single white-space character after the header
    if (kind == '4') {
        const int rowBytes = (pnm.Width + 7) / 8;
        for (int y = 0; y < pnm.Height; ++y)
            for (int x = 0; x < pnm.Width; ++x)
                pnm.Samples.push_back((d[p + size_t(y * rowBytes + x / 8)] >> (7 - x % 8)) & 1 ? 0 : 1);
        return pnm;
    }
    const int bytes = pnm.MaxVal > 255 ? 2 : 1;
    for (size_t i = 0; i < count; ++i) {
        pnm.Samples.push_back(bytes == 2 ? (d[p] << 8) | d[p + 1] : d[p]);
        p += size_t(bytes);
    }
    return pnm;
}

template <class T>
std::unique_ptr<T> LoadBytes(const std::vector<uint8_t>& bytes) {
    auto picture = std::make_unique<T>();
    TMemoryStream stream(bytes);
    picture->LoadImageStream(stream);
    return picture;
}

// Largest channel difference between the picture's colours and the reference's.
inline int MaxDifference(const TBitmap& bmp, const Pnm& ref) {
    EXPECT_EQ(bmp.Width(), ref.Width);
    EXPECT_EQ(bmp.Height(), ref.Height);
    if (bmp.Width() != ref.Width || bmp.Height() != ref.Height) return 9999;
    int worst = 0;
    for (int y = 0; y < ref.Height; ++y)
        for (int x = 0; x < ref.Width; ++x) {
            const TColor a = bmp.PixelColor(x, y), b = ref.Color(x, y);
            worst = std::max({worst, std::abs(GetRValue(a) - GetRValue(b)), std::abs(GetGValue(a) - GetGValue(b)),
                              std::abs(GetBValue(a) - GetBValue(b))});
        }
    return worst;
}

// Loads the bytes and accepts a clean failure (a qv::Exception) or a picture whose scan
// lines are all reachable; anything else (another exception type, a sanitizer report)
// fails the test.
template <class T>
void LoadsOrFailsCleanly(const std::vector<uint8_t>& bytes, const std::string& what) {
    try {
        auto picture = LoadBytes<T>(bytes);
        uint64_t sum = 0;
        if (picture->RowBytes() > 0)
            for (int y = 0; y < picture->Height(); ++y) sum += picture->ScanLine(y)[picture->RowBytes() - 1];
        (void)sum;
    } catch (const Exception&) {
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": unexpected exception " << e.what();
    }
}

// Every truncation of the file, and every single-byte change (to 0x00, 0xFF and the
// byte plus 0x80) of its first headerBytes bytes.
template <class T>
void SweepHostileVariants(const std::vector<uint8_t>& file, size_t headerBytes, const std::string& name) {
    for (size_t n = 0; n < file.size(); ++n)
        LoadsOrFailsCleanly<T>(std::vector<uint8_t>(file.begin(), file.begin() + ptrdiff_t(n)),
                               name + " cut to " + std::to_string(n));
    for (size_t i = 0; i < std::min(headerBytes, file.size()); ++i)
        for (uint8_t v : {uint8_t(0), uint8_t(0xFF), uint8_t(file[i] ^ 0x80)}) {
            std::vector<uint8_t> bad = file;
            bad[i] = v;
            LoadsOrFailsCleanly<T>(bad, name + " byte " + std::to_string(i) + " = " + std::to_string(v));
        }
}

// The message of the qv::Exception the load raises ("" when it does not fail).
template <class T>
std::string LoadError(const std::vector<uint8_t>& bytes) {
    try {
        LoadBytes<T>(bytes);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

inline void PutLe16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

}  // namespace qv::readertest
