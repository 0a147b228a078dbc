// The enciphered private directory that some makers keep beside the main
// tree: deciphered in memory and walked as if it were the file.
#include <utility>
#include <vector>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_walk.h"

namespace ostel::core::tiff {

void decipher_words(uint8_t* data, size_t words, uint32_t key) {
    uint32_t pad[128];
    for (int p = 0; p < 4; ++p) pad[p] = key = key * 48828125u + 1u;
    pad[3] = (pad[3] << 1) | ((pad[0] ^ pad[2]) >> 31);
    for (int p = 4; p < 127; ++p) pad[p] = ((pad[p - 4] ^ pad[p - 2]) << 1) | ((pad[p - 3] ^ pad[p - 1]) >> 31);
    // The pad is applied as words stored most significant byte first; XOR
    // does not care about byte order, so only the application below does.
    unsigned p = 127;
    for (size_t i = 0; i < words; ++i, ++p) {
        const uint32_t v = pad[(p + 1) & 127] ^ pad[(p + 65) & 127];
        pad[p & 127] = v;
        uint8_t* b = data + 4 * i;
        b[0] ^= static_cast<uint8_t>(v >> 24);
        b[1] ^= static_cast<uint8_t>(v >> 16);
        b[2] ^= static_cast<uint8_t>(v >> 8);
        b[3] ^= static_cast<uint8_t>(v);
    }
}

namespace {

// Puts a deciphered block in place of the file for the length of a walk;
// the real file (and its position) comes back even when the walk throws.
class SwappedInput {
public:
    SwappedInput(DecoderSession& s, std::vector<uint8_t> bytes) : s_(s), other_(std::move(bytes)) {
        std::swap(s_.input, other_);
    }
    ~SwappedInput() { std::swap(s_.input, other_); }
    SwappedInput(const SwappedInput&) = delete;
    SwappedInput& operator=(const SwappedInput&) = delete;

private:
    DecoderSession& s_;
    ByteSource other_;
};

}  // namespace

void walk_private_block(DecoderSession& s, const IfdWalkState& w) {
    // A block that does not lie inside the file is skipped, as one that
    // cannot be held in memory would be.
    if (!limits::within_file(s, w.sony_offset, w.sony_length) || !spend_work(s, w.sony_length)) return;
    const int64_t saved = s.tell();
    std::vector<uint8_t> block(w.sony_length);
    s.seek(w.sony_offset);
    s.read(block.data(), 1, block.size());
    s.seek(saved);
    decipher_words(block.data(), block.size() / 4, w.sony_key);
    SwappedInput swapped(s, std::move(block));
    s.seek(0);
    read_ifd(s, -w.sony_offset);
}

}  // namespace ostel::core::tiff
