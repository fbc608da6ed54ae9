#pragma once
// Helpers shared by the decoder tests: fixture files, exact-size buffers (so the address
// sanitizer sees any overrun), and an LZW code writer for hand-made streams.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFixture(const std::string& name) {
    std::ifstream f(std::string(QV_TEST_DATA_DIR) + "/decoders/" + name, std::ios::binary);
    if (!f) throw std::runtime_error("missing fixture " + name);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Packs codes of varying widths, most or least significant bit first.
class CodeWriter {
public:
    explicit CodeWriter(bool msbFirst) : FMsb(msbFirst) {}
    void Put(uint32_t code, int width) {
        for (int i = 0; i < width; ++i) {
            const int bit = FMsb ? (code >> (width - 1 - i)) & 1 : (code >> i) & 1;
            if (FBits % 8 == 0) FOut.push_back(0);
            if (bit) FOut.back() |= FMsb ? uint8_t(0x80 >> (FBits % 8)) : uint8_t(1 << (FBits % 8));
            ++FBits;
        }
    }
    const Bytes& Data() const { return FOut; }

private:
    bool FMsb;
    Bytes FOut;
    size_t FBits = 0;
};

}  // namespace qv::test
