#include "util/USaveObject.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "util/Str_.h"

namespace qv {

namespace {
constexpr int32_t kBufferSize = 8192;
}

void WriteStreamString(TStream& stream, const std::string& S) {
    // The characters and their terminating zero pass through a fixed buffer.
    if (S.size() >= static_cast<size_t>(kBufferSize))
        throw Exception(Format("String too long to store: %zu characters (at most %d)", S.size(), kBufferSize - 1));
    const int32_t n = static_cast<int32_t>(S.size());
    const uint8_t count[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    // Whole-buffer writes: a full disk must not leave a silently truncated file behind.
    stream.WriteBuffer(count, 4);
    if (n > 0) {
        std::array<char, kBufferSize> buffer{};
        std::memcpy(buffer.data(), S.c_str(), S.size() + 1);
        stream.WriteBuffer(buffer.data(), n);
    }
}

void ReadStreamString(TStream& stream, std::string& S) {
    uint8_t count[4] = {0, 0, 0, 0};
    stream.Read(count, 4);
    const int32_t n = static_cast<int32_t>(uint32_t(count[0]) | (uint32_t(count[1]) << 8) |
                                           (uint32_t(count[2]) << 16) | (uint32_t(count[3]) << 24));
    if (n == 0) {
        S.clear();
        return;
    }
    if (n < 0 || n > kBufferSize)
        throw Exception(Format("Invalid string length in stream: %d (0 to %d allowed)", n, kBufferSize));
    std::array<char, kBufferSize> buffer{};
    stream.Read(buffer.data(), n);
    S = CharsToStr(buffer.data(), kBufferSize - 1);
}

}  // namespace qv
