// Panasonic data: 14-sample blocks coded against two predictors with a
// per-triple scale, read from a 16 KiB buffer whose bytes are stored rotated
// by packing_flags and consumed from the end downwards.
#include <cstdint>
#include <vector>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {
namespace {

constexpr int kBufferSize = 0x4000;

class BlockBits {
public:
    BlockBits(DecoderSession& s, int split) : s_(s), split_(split), buffer_(kBufferSize + 2, 0) {}

    unsigned take(int n) {
        if (counter_ == 0) refill();
        counter_ = (counter_ - unsigned(n)) & 0x1FFFF;
        const unsigned byte = (counter_ >> 3) ^ 0x3FF0;
        // byte + 1 may be the first padding byte past the buffer.
        return ((buffer_[byte] | (buffer_[byte + 1] << 8)) >> (counter_ & 7)) & ((1u << n) - 1);
    }

private:
    void refill() {
        loader_detail::read_row_bytes(s_, buffer_.data() + split_, static_cast<size_t>(kBufferSize - split_));
        if (split_) loader_detail::read_row_bytes(s_, buffer_.data(), static_cast<size_t>(split_));
    }

    DecoderSession& s_;
    int split_;
    unsigned counter_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace

void panasonic_block_load_raw(DecoderSession& s) {
    const int raw_width = s.stored_width;
    if (raw_width <= 0 || s.height <= 0) {
        count_undecodable(s);
        return;
    }
    // The rotation point must lie inside the buffer.
    if (s.packing_flags < 0 || s.packing_flags >= kBufferSize) {
        count_undecodable(s);
        return;
    }
    BlockBits bits(s, s.packing_flags);
    int pred[2] = {0, 0};
    unsigned nonzero[2] = {0, 0};
    int sh = 0;
    for (int row = 0; row < s.height; ++row) {
        loader_detail::RowStore store(s, row);
        for (int col = 0; col < raw_width; ++col) {
            const int i = col % 14;
            if (i == 0) pred[0] = pred[1] = nonzero[0] = nonzero[1] = 0;
            if (i % 3 == 2) sh = 4 >> (3 - static_cast<int>(bits.take(2)));
            const int p = i & 1;
            if (nonzero[p]) {
                const int j = static_cast<int>(bits.take(8));
                if (j) {
                    pred[p] -= 0x80 << sh;
                    if (pred[p] < 0 || sh == 4) pred[p] &= (1 << sh) - 1;
                    pred[p] += j << sh;
                }
            } else {
                nonzero[p] = bits.take(8);
                if (nonzero[p] || i > 11) pred[p] = static_cast<int>((nonzero[p] << 4) | bits.take(4));
            }
            if (col < s.width) {
                const uint16_t value = static_cast<uint16_t>(pred[col & 1]);
                if (value > 4098) ++s.short_read_count;
                store.put(col, value);
            }
        }
    }
}

}  // namespace ostel::core
