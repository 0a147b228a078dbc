// SRF data: big-endian 16-bit words XOR-scrambled with a key stream whose
// key is itself stored scrambled in the file header.
#include <cstdint>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {
namespace {

constexpr int64_t kKeyPointer = 200896;
constexpr int64_t kKeyBlock = 164600;

// 127-word lagged key stream. Words are kept as values; the data is read
// big-endian, which is the byte order the stream is defined in.
class KeyStream {
public:
    void start(uint32_t key) {
        for (int p = 0; p < 4; ++p) pad_[p] = key = key * 48828125u + 1u;
        pad_[3] = (pad_[3] << 1) | ((pad_[0] ^ pad_[2]) >> 31);
        for (int p = 4; p < 127; ++p)
            pad_[p] = ((pad_[p - 4] ^ pad_[p - 2]) << 1) | ((pad_[p - 3] ^ pad_[p - 1]) >> 31);
        pad_[127] = 0;
        p_ = 127;
    }
    uint32_t next() {
        const uint32_t v = pad_[(p_ + 1) & 127] ^ pad_[(p_ + 65) & 127];
        pad_[p_ & 127] = v;
        ++p_;
        return v;
    }
    // Descrambles count 32-bit words held as bytes.
    void apply(uint8_t* bytes, size_t words) {
        for (size_t i = 0; i < words; ++i, bytes += 4) {
            const uint32_t v = next();
            bytes[0] ^= static_cast<uint8_t>(v >> 24);
            bytes[1] ^= static_cast<uint8_t>(v >> 16);
            bytes[2] ^= static_cast<uint8_t>(v >> 8);
            bytes[3] ^= static_cast<uint8_t>(v);
        }
    }

private:
    uint32_t pad_[128] = {};
    unsigned p_ = 0;
};

}  // namespace

void sony_load_raw(DecoderSession& s) {
    const int raw_width = s.stored_width;
    if (raw_width <= 0 || s.height <= 0) {
        count_undecodable(s);
        return;
    }
    // Without the key header there is nothing to descramble with.
    if (s.file_size() <= kKeyPointer || s.file_size() < kKeyBlock + 40) {
        count_undecodable(s);
        return;
    }
    s.seek(kKeyPointer);
    const int skip = s.getc();
    s.seek(int64_t(skip) * 4 - 1, SEEK_CUR);
    s.byte_order = 0x4D4D;
    uint32_t key = s.read_u32();

    uint8_t head[40];
    s.seek(kKeyBlock);
    loader_detail::read_row_bytes(s, head, sizeof head);
    KeyStream stream;
    stream.start(key);
    stream.apply(head, 10);
    key = uint32_t(head[22]) | (uint32_t(head[23]) << 8) | (uint32_t(head[24]) << 16) | (uint32_t(head[25]) << 24);

    s.seek(s.raw_offset);
    // Whole words only; an odd last byte pair is left scrambled as stored.
    std::vector<uint8_t> line(static_cast<size_t>(raw_width) * 2 + 4);
    const int left = s.crop_left;
    int64_t black_sum = 0;
    for (int row = 0; row < s.height; ++row) {
        loader_detail::read_row_bytes(s, line.data(), static_cast<size_t>(raw_width) * 2);
        if (row == 0) stream.start(key);
        stream.apply(line.data(), static_cast<size_t>(raw_width) / 2);
        auto word = [&](int col) { return static_cast<uint16_t>((line[2 * col] << 8) | line[2 * col + 1]); };
        for (int col = 9; col < left && col < raw_width; ++col) black_sum += word(col);
        loader_detail::RowStore store(s, row);
        for (int col = 0; col < s.width && col + left < raw_width; ++col) {
            const uint16_t v = word(col + left);
            if (v >> 14) ++s.short_read_count;
            store.put(col, v);
        }
    }
    if (left > 9) s.black_level = static_cast<int>(black_sum / (int64_t(left - 9) * s.height));
    s.white_level = 0x3FF0;
}

}  // namespace ostel::core
