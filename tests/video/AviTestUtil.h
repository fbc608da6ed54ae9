#pragma once
// Helpers of the video tests: scratch folders with TMPDIR pointed into them, a RIFF
// walker for checking byte layouts, WAV builders and the ffprobe/ffmpeg runners.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "video/AviFile.h"

namespace qvtest {

namespace fs = std::filesystem;

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b.at(at) | (b.at(at + 1) << 8));
}
inline uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | (uint32_t(b.at(at + 1)) << 8) | (uint32_t(b.at(at + 2)) << 16) |
           (uint32_t(b.at(at + 3)) << 24);
}
inline uint64_t U64(const std::vector<uint8_t>& b, size_t at) {
    return uint64_t(U32(b, at)) | (uint64_t(U32(b, at + 4)) << 32);
}
inline std::string FourCC(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline uint32_t Id(const char (&s)[5]) { return qv::MakeFourCC(s[0], s[1], s[2], s[3]); }

// A scratch folder, removed afterwards; TMPDIR points at its "tmp" subfolder meanwhile so
// that work files land where the test can see them.
class TScratch {
public:
    TScratch() {
        const char* old = std::getenv("TMPDIR");
        FHadTmp = old != nullptr;
        if (FHadTmp) FOldTmp = old;
        std::string pattern = (fs::temp_directory_path() / "qv-video-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FRoot = pattern;
        fs::create_directory(TmpDir());
        ::setenv("TMPDIR", TmpDir().c_str(), 1);
    }
    ~TScratch() {
        if (FHadTmp)
            ::setenv("TMPDIR", FOldTmp.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        std::error_code ec;
        fs::remove_all(FRoot, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    std::string Root() const { return FRoot; }
    std::string TmpDir() const { return FRoot + "/tmp"; }
    std::string File(const std::string& name) const { return FRoot + "/" + name; }
    // Names in a folder, sorted.
    static std::vector<std::string> Entries(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string FRoot;
    bool FHadTmp = false;
    std::string FOldTmp;
};

// Restores the segment limit of saved movies.
class TSegmentLimit {
public:
    explicit TSegmentLimit(int64_t bytes) : FOld(qv::AviSegmentLimit()) { qv::SetAviSegmentLimit(bytes); }
    ~TSegmentLimit() { qv::SetAviSegmentLimit(FOld); }

private:
    int64_t FOld;
};

// ------------------------------------------------------------------ RIFF walking

struct TRiffNode {
    uint32_t Id = 0;
    uint32_t Type = 0;  // list type for RIFF and LIST
    size_t Pos = 0;     // of the chunk header
    uint32_t Size = 0;  // as stored
    std::vector<TRiffNode> Children;
    size_t Data() const { return Pos + 8; }
    bool IsList() const { return Type != 0; }
    const TRiffNode* Find(uint32_t id, uint32_t type = 0, int nth = 0) const {
        for (const TRiffNode& c : Children)
            if (c.Id == id && (type == 0 || c.Type == type) && nth-- == 0) return &c;
        return nullptr;
    }
    int Count(uint32_t id, uint32_t type = 0) const {
        int n = 0;
        for (const TRiffNode& c : Children) n += (c.Id == id && (type == 0 || c.Type == type)) ? 1 : 0;
        return n;
    }
};

// Walks chunks in [from, to); RIFF and LIST open their contents. Fails the test on a
// chunk that does not fit its parent.
inline std::vector<TRiffNode> ParseRiff(const std::vector<uint8_t>& b, size_t from, size_t to) {
    std::vector<TRiffNode> nodes;
    size_t pos = from;
    while (pos + 8 <= to) {
        TRiffNode n;
        n.Pos = pos;
        n.Id = U32(b, pos);
        n.Size = U32(b, pos + 4);
        if (pos + 8 + n.Size > to) {
            ADD_FAILURE() << "chunk " << FourCC(n.Id) << " at " << pos << " runs past its parent";
            break;
        }
        if (n.Id == Id("RIFF") || n.Id == Id("LIST")) {
            n.Type = U32(b, pos + 8);
            n.Children = ParseRiff(b, pos + 12, pos + 8 + n.Size);
        }
        nodes.push_back(std::move(n));
        pos += 8 + n.Size + (n.Size & 1);
    }
    EXPECT_EQ(pos, to) << "chunks do not fill their parent exactly";
    return nodes;
}

// ------------------------------------------------------------------ WAV building

inline void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void PutId(std::vector<uint8_t>& b, const char (&s)[5]) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(s[i]));
}

inline std::vector<uint8_t> PcmFmt(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
    std::vector<uint8_t> f;
    const uint16_t align = uint16_t(channels * ((bits + 7) / 8));
    Put16(f, tag);
    Put16(f, channels);
    Put32(f, rate);
    Put32(f, rate * align);
    Put16(f, align);
    Put16(f, bits);
    return f;
}

inline std::vector<uint8_t> ExtensibleFmt(uint16_t channels, uint32_t rate, uint16_t bits, bool pcm = true) {
    std::vector<uint8_t> f = PcmFmt(channels, rate, bits, 0xFFFE);
    Put16(f, 22);
    Put16(f, bits);                           // valid bits
    Put32(f, channels == 2 ? 3u : 0x7u);      // channel mask
    const uint8_t guid[16] = {uint8_t(pcm ? 1 : 3), 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    f.insert(f.end(), guid, guid + 16);
    return f;
}

// RIFF WAVE from chunks given as (id, body); odd bodies get their pad byte.
inline std::vector<uint8_t> Riff(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks,
                                 const char (&form)[5] = "WAVE") {
    std::vector<uint8_t> b;
    PutId(b, "RIFF");
    Put32(b, 0);
    PutId(b, form);
    for (const auto& [id, body] : chunks) {
        b.insert(b.end(), id.begin(), id.begin() + 4);
        Put32(b, uint32_t(body.size()));
        b.insert(b.end(), body.begin(), body.end());
        if (body.size() & 1) b.push_back(0);
    }
    const uint32_t size = uint32_t(b.size() - 8);
    std::memcpy(b.data() + 4, &size, 4);
    return b;
}

inline std::vector<uint8_t> Ramp(size_t n, uint8_t seed = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
}

// ------------------------------------------------------------------ external tools

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::vector<uint8_t> RunCapture(const std::string& command) {
    std::vector<uint8_t> out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.insert(out.end(), buf, buf + n);
    ::pclose(pipe);
    return out;
}

// ffprobe's view of a file's streams: key -> value per stream index ("codec_type", ...).
inline std::vector<std::map<std::string, std::string>> Probe(const std::string& file) {
    const std::vector<uint8_t> raw = RunCapture(
        "ffprobe -v error -count_frames -show_entries "
        "stream=index,codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,duration,sample_rate,"
        "channels,bits_per_sample -of flat '" + file + "'");
    std::vector<std::map<std::string, std::string>> streams;
    std::string text(raw.begin(), raw.end());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        // streams.stream.0.codec_type="video"
        const std::string prefix = "streams.stream.";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t dot = line.find('.', prefix.size());
        const size_t eq = line.find('=', dot);
        if (dot == std::string::npos || eq == std::string::npos) continue;
        const size_t index = std::stoul(line.substr(prefix.size(), dot - prefix.size()));
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        if (streams.size() <= index) streams.resize(index + 1);
        streams[index][line.substr(dot + 1, eq - dot - 1)] = value;
    }
    return streams;
}

// Every video frame of the file decoded to rgb24, concatenated.
inline std::vector<uint8_t> DecodeRgb(const std::string& file) {
    return RunCapture("ffmpeg -v error -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 -");
}

// The expected rgb24 bytes of a raster.
inline void AppendRgb(std::vector<uint8_t>& out, const qv::TBitmap& bmp) {
    for (int32_t y = 0; y < bmp.Height(); ++y)
        for (int32_t x = 0; x < bmp.Width(); ++x) {
            const qv::TColor c = bmp.PixelColor(x, y);
            out.push_back(qv::GetRValue(c));
            out.push_back(qv::GetGValue(c));
            out.push_back(qv::GetBValue(c));
        }
}

// A 32-bit raster with a pattern that differs per pixel and per seed.
inline void FillPattern(qv::TBitmap& bmp, int32_t w, int32_t h, int seed) {
    bmp.SetPixelFormat(qv::pf32bit);
    bmp.SetWidth(w);
    bmp.SetHeight(h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            bmp.SetPixelColor(x, y, qv::RGBColor(uint8_t(x * 8 + seed * 3), uint8_t(y * 10 + seed), uint8_t(x ^ y ^ (seed * 29))));
}

// Caps the size of the files this process writes, so that a write runs out of room as on a
// full disk; the signal such a write raises is ignored meanwhile.
class TFileSizeCap {
public:
    explicit TFileSizeCap(rlim_t bytes) {
        FHaveOld = ::getrlimit(RLIMIT_FSIZE, &FOld) == 0;
        FOldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit cap = FOld;
        cap.rlim_cur = bytes;
        EXPECT_TRUE(FHaveOld && ::setrlimit(RLIMIT_FSIZE, &cap) == 0) << "cannot cap file sizes";
    }
    ~TFileSizeCap() {
        if (FHaveOld) ::setrlimit(RLIMIT_FSIZE, &FOld);
        ::signal(SIGXFSZ, FOldHandler);
    }
    TFileSizeCap(const TFileSizeCap&) = delete;
    TFileSizeCap& operator=(const TFileSizeCap&) = delete;

private:
    rlimit FOld{};
    bool FHaveOld = false;
    sighandler_t FOldHandler = SIG_DFL;
};

}  // namespace qvtest
