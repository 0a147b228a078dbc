#pragma once
// Small pieces shared by the raw loaders: an inlined view of the session's
// bit reader for the hot decode loops, a row writer that resolves the colour
// plane and the shrunken position once per row, and bounded row reads.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/ljpeg/bit_reader.h"
#include "core/session/decoder_session.h"

namespace ostel::core::loader_detail {

// The session's MSB-first bit reader, working straight on the in-memory file.
// It follows the shared reader rule for rule (zero-after-FF stuffing, the
// marker stop, a negative valid-bit count once the data ran out, one data
// error per starved request), so the two can hand the stream to each other:
// the state is taken from the session on construction and written back by
// commit() or the destructor. Without stuffing it fills a 64-bit buffer
// ahead of need and gives the unused whole bytes back on commit or reset,
// which changes nothing in the bits returned.
class BitCursor {
public:
    explicit BitCursor(DecoderSession& s)
        : s_(s),
          data_(s.input.data()),
          size_(s.input.size()),
          pos_(s.input.tell()),
          buffer_(s.bits.buffer),
          count_(s.bits.valid_bits),
          marker_(s.bits.marker_reached != 0),
          stuffing_(s.ff_stuffing != 0) {}
    ~BitCursor() { commit(); }
    BitCursor(const BitCursor&) = delete;
    BitCursor& operator=(const BitCursor&) = delete;

    void commit() {
        give_back_read_ahead();
        s_.seek(pos_);
        // Fewer than 8 bits remain without stuffing, at most 32 with it.
        s_.bits.buffer = static_cast<uint32_t>(buffer_);
        s_.bits.valid_bits = count_;
        s_.bits.marker_reached = marker_ ? 1 : 0;
    }
    void reset() {
        give_back_read_ahead();
        buffer_ = 0;
        count_ = 0;
        marker_ = false;
    }
    void set_stuffing(bool on) { stuffing_ = on; }
    int64_t position() const { return pos_; }

    // n = 0..25 bits.
    unsigned bits(int n) { return take(n, nullptr); }
    // One code of a table built by make_decoder (or laid out the same way).
    unsigned huff(const HuffTable& table) { return take(table[0], table.data() + 1); }
    unsigned huff(const uint16_t* table_with_header) { return take(table_with_header[0], table_with_header + 1); }

    unsigned take(int n, const uint16_t* table) {
        if (n <= 0 || count_ < 0) return 0;
        if (count_ < n) fill(n);
        // Missing bits (the file ended) read as zeros.
        const uint64_t mask = (uint64_t(1) << n) - 1;
        unsigned value = static_cast<unsigned>(
            (count_ >= n ? buffer_ >> (count_ - n) : buffer_ << (n - count_)) & mask);
        if (table) {
            const uint16_t entry = table[value];
            count_ -= entry >> 8;
            value = entry & 0xFF;
        } else {
            count_ -= n;
        }
        if (count_ < 0) ++s_.short_read_count;
        return value;
    }

private:
    // Whole bytes filled ahead of need go back to the file, leaving the state
    // (and the position a reset starts from) exactly as a fill-on-demand
    // reader would have it: fewer than 8 buffered bits.
    void give_back_read_ahead() {
        if (stuffing_ || count_ < 8) return;
        const int bytes = count_ >> 3;
        pos_ -= bytes;
        buffer_ >>= 8 * bytes;
        count_ -= 8 * bytes;
    }

    void fill(int n) {
        if (!stuffing_) {
            if (pos_ + 8 <= size_) {
                // Top up to at least 56 bits with one 8-byte load.
                uint64_t word = 0;
                for (int i = 0; i < 8; ++i) word = (word << 8) | data_[pos_ + i];
                const int bytes = (63 - count_) >> 3;
                buffer_ = (buffer_ << (8 * bytes)) | (word >> (64 - 8 * bytes));
                pos_ += bytes;
                count_ += 8 * bytes;
                return;
            }
            while (count_ <= 56 && pos_ < size_) {
                buffer_ = (buffer_ << 8) | data_[pos_++];
                count_ += 8;
            }
            return;
        }
        while (!marker_ && count_ < n) {
            if (pos_ >= size_) return;
            const unsigned c = data_[pos_++];
            if (c == 0xFF) {
                const int next = pos_ < size_ ? data_[pos_++] : -1;
                if (next != 0) {
                    marker_ = true;
                    return;
                }
            }
            buffer_ = (buffer_ << 8) | c;
            count_ += 8;
        }
    }

    DecoderSession& s_;
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_;
    uint64_t buffer_;
    int count_;
    bool marker_;
    bool stuffing_;
};

// Sign rule of the Huffman-coded differences: len bits whose top bit is clear
// stand for a negative value.
inline int extend_difference(unsigned bits, int len) {
    if (len <= 0) return 0;
    int diff = static_cast<int>(bits);
    if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
    return diff;
}

// Writes visible samples of one visible row. Resolves the row's two colour
// planes and the shrunken row once; put() drops columns outside the row.
class RowStore {
public:
    RowStore(DecoderSession& s, int row) {
        const int shift = s.half_grid ? 1 : 0;
        const int64_t image_row = row >> shift;
        const int64_t limit = std::min<int64_t>(s.width, int64_t(s.image_width) << shift);
        if (row < 0 || row >= s.height || limit <= 0 ||
            (image_row + 1) * int64_t(s.image_width) > int64_t(s.image.size()))
            return;
        pixels_ = s.image.data() + image_row * s.image_width;
        colors_[0] = s.filter_color(row, 0);
        colors_[1] = s.filter_color(row, 1);
        shift_ = shift;
        limit_ = static_cast<int>(limit);
    }
    bool valid() const { return pixels_ != nullptr; }
    int limit() const { return limit_; }
    void put(int col, uint16_t value) {
        if (static_cast<unsigned>(col) < static_cast<unsigned>(limit_))
            pixels_[col >> shift_][colors_[col & 1]] = value;
    }
    uint16_t get(int col) const {
        if (static_cast<unsigned>(col) < static_cast<unsigned>(limit_)) return pixels_[col >> shift_][colors_[col & 1]];
        return 0;
    }

private:
    Pixel4* pixels_ = nullptr;
    int colors_[2] = {0, 0};
    int shift_ = 0;
    int limit_ = 0;
};

// Reads n bytes at the current position; a short read zero-fills the rest and
// counts one data error.
inline void read_row_bytes(DecoderSession& s, uint8_t* dest, size_t n) {
    const size_t got = s.read(dest, 1, n);
    if (got < n) {
        std::memset(dest + got, 0, n - got);
        ++s.short_read_count;
    }
}

}  // namespace ostel::core::loader_detail
